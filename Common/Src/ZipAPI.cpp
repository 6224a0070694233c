// ZipAPI: the zip class TQXZip over qxcpr32.
#include "ZipAPI.h"

#include "QXHandles.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

const char* const kUnit = "ZipAPI";

const char* const kTreeError = "Error in directory tree!";
const char* const kFileTimeError = "Unable to get filetime to zip! (zip)";
const char* const kOpenError = "This ZIP - file could not be opened! (zip)";
const char* const kCloseError = "This ZIP - file could not be closed! (zip)";
const char* const kUnzipError = "This file(s) could not be uncompressed! (unzip)";
const char* const kFolderError = "This directory zo unzip files could not be created! (zip)";
const char* const kReadError = "This ZIP - file could not be read! (zip)";
const char* const kRemoveError = "This file in zipfile could not be deleted! (zip)";
const char* const kAddError = "Add to ZIP - file failed! (zip)";

// An entry name may only name something below the target folder: no leading
// separator, no drive or stream (no ':'), and no component made only of dots
// and blanks ("." and ".." and what Windows would shorten to them). Separators
// are already '\' here.
bool IsSafeEntryName(const char* name)
{
    if (!name || !*name || name[0] == '\\' || strchr(name, ':'))
        return false;
    const char* p = name;
    while (*p) {
        const char* end = strchr(p, '\\');
        size_t len = end ? (size_t)(end - p) : strlen(p);
        if (len > 0) {
            bool dotsOnly = true;
            bool anyDot = false;
            for (size_t i = 0; i < len; ++i) {
                if (p[i] == '.')
                    anyDot = true;
                else if (p[i] != ' ')
                    dotsOnly = false;
            }
            if (dotsOnly && anyDot)
                return false;
        }
        if (!end)
            break;
        p = end + 1;
    }
    return true;
}

// The zip library tells its failures by its results, not by the thread's
// last error: that is cleared before each of its calls, so that a report
// never carries a code left by an earlier, unrelated call.
void ClearSystemError() { SetLastError(0); }

// DOS dates run from 1980 to 2107; a time outside gives the nearest one.
uint32_t DosFromSystemTime(const SYSTEMTIME& st)
{
    if (st.wYear < 1980)
        return (uint32_t)((0 << 9) | (1 << 5) | 1) << 16;  // 1980-01-01 00:00:00
    if (st.wYear > 2107)
        return ((uint32_t)((127 << 9) | (12 << 5) | 31) << 16) |
               ((23 << 11) | (59 << 5) | 29);  // 2107-12-31 23:59:58
    uint32_t date = (uint32_t)(((st.wYear - 1980) << 9) | (st.wMonth << 5) | st.wDay);
    uint32_t time = (uint32_t)((st.wHour << 11) | (st.wMinute << 5) | (st.wSecond / 2));
    return (date << 16) | time;
}

// One look at the directory entry of a path: whether it names a folder or an
// empty file and, for anything else, its last-write time as DOS time. The
// entry of a tree walk's listing (`listed`, for the path's last component)
// saves the look. False when one look cannot tell.
bool LookUpEntry(const char* path, const WIN32_FIND_DATAA* listed, bool* folder, bool* empty,
                 uint32_t* dosDateTime)
{
    if (strnlen(path, 256) >= 256 || strpbrk(path, "*?"))
        return false;
    WIN32_FIND_DATAA record;
    const char* last = strrchr(path, '\\');
    if (listed && last && strcmp(last + 1, listed->cFileName) == 0) {
        record = *listed;
    } else {
        qx::Find listing(FindFirstFileA(path, &record));
        if (!listing)
            return false;
    }
    *folder = (record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    *empty = !*folder && record.nFileSizeLow == 0 && record.nFileSizeHigh == 0;
    if (*empty)
        return true;
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&record.ftLastWriteTime, &local) ||
        !FileTimeToSystemTime(&local, &st))
        return false;
    *dosDateTime = DosFromSystemTime(st);
    return true;
}

}  // namespace

TQXZip::TQXZip()
    : files(std::make_unique<TQXFile>()),
      zipHandle(nullptr),
      level(-1),
      progressTotal(0),
      savedInfo(std::make_unique<FileInfo>()),
      deleteSource(false),
      wipe(false),
      abort(false),
      entryComment(nullptr),
      entryCount(0),
      entryWritten(false)
{
    unzipTarget[0] = zipPath[0] = message[0] = 0;
    archivePath[0] = baseDir[0] = currentDir[0] = 0;
    ClearLastError();
}

TQXZip::~TQXZip()
{
    // A new archive that was never closed does not get its name.
    if (zipHandle)
        zipClose(zipHandle, nullptr);
    staged.WipeOnDiscard(wipe);
    staged.Discard();
}

bool TQXZip::Report(bool ok, int line, const char* text)
{
    FormatText(message, sizeof message, "%s", text);
    return QXReport(ok, kUnit, line, message);
}

bool TQXZip::ReportNamed(bool ok, int line, const char* text, const char* name, const char* cause)
{
    char named[1024];
    if (cause && *cause)
        FormatText(named, sizeof named, "%s - ('%s' %s)", text, name ? name : "", cause);
    else
        FormatText(named, sizeof named, "%s - ('%s')", text, name ? name : "");
    return Report(ok, line, named);
}

// ------------------------------------------------------------------ hooks

bool TQXZip::OnZipProgress(const char* path, uint32_t, uint32_t) { return path != nullptr; }

bool TQXZip::CheckProgress(const void* first, uint32_t, uint32_t, const void* fourth, uint32_t,
                           uint32_t sixth, uint32_t seventh, const void* eighth)
{
    return first && fourth && eighth && seventh >= sixth;
}

bool TQXZip::OnUnzipProgress(const char* name, uint32_t, uint32_t) { return name != nullptr; }
bool TQXZip::OnUnzipOverwrite(const char* target) { return target != nullptr; }
bool TQXZip::OnEntryExists(const char* path) { return path != nullptr; }
bool TQXZip::OnReserved(const void* argument) { return argument != nullptr; }
bool TQXZip::OnDeleteSource(const char* path) { return path != nullptr; }

// ---------------------------------------------------------------- packing

bool TQXZip::OpenWriter(const char* base, const char* archive, const char* file, bool append,
                        int newLevel)
{
    bool ok = CopyText(baseDir, sizeof baseDir, base);
    StripTrailingBackslash(baseDir);
    currentDir[0] = archivePath[0] = 0;
    entryCount = 0;
    level = newLevel;
    if (ok && strlen(archive) < sizeof archivePath) {
        ClearSystemError();
        zipHandle = zipOpen(file, append ? 1 : 0, nullptr);
        if (zipHandle)
            CopyText(archivePath, sizeof archivePath, archive);
    } else {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
    return zipHandle != nullptr;
}

bool TQXZip::OpenArchive(const char* base, const char* archive, bool create, int newLevel)
{
    if (!base || !archive)
        return false;
    if (zipHandle)
        CloseArchive(nullptr);
    const char* file = archive;
    bool ok = true;
    if (create) {
        // The file the library fills is a temporary one beside the archive.
        ok = staged.Create(archive) && staged.HandOver();
        if (!ok)
            staged.ReportFailure();
        file = staged.TemporaryPath();
    }
    ok = ok && OpenWriter(base, archive, file, !create, newLevel);
    if (!ok && create)
        staged.Discard();
    return ReportNamed(ok, 1570, kOpenError, archive, nullptr);
}

bool TQXZip::CloseWriter(const char* comment)
{
    bool ok = false;
    if (zipHandle) {
        // A failed write of the directory leaves a broken archive: that is a failure.
        ClearSystemError();
        ok = zipClose(zipHandle, comment) == ZIP_OK;
        baseDir[0] = currentDir[0] = archivePath[0] = 0;
        entryCount = 0;
        zipHandle = nullptr;
    }
    return ok;
}

bool TQXZip::CloseArchive(const char* comment)
{
    bool open = zipHandle != nullptr;
    bool ok = CloseWriter(comment);
    // A new archive gets its name only now, whole; never in place of a file
    // that took the name meanwhile.
    if (open && staged.TemporaryPath()[0]) {
        staged.WipeOnDiscard(wipe);
        if (ok) {
            ok = staged.Commit();
            if (!ok)
                staged.ReportFailure();
        }
        staged.Discard();
    }
    return Report(ok, 1597, kCloseError);
}

bool TQXZip::AbandonArchive(bool wipeArchive)
{
    bool open = zipHandle != nullptr;
    CloseWriter(nullptr);
    staged.WipeOnDiscard(wipeArchive);
    staged.Discard();
    return open;
}

bool TQXZip::Zip(const char* archive, const char* source, const char* comment, uint32_t total,
                 bool removeSources, bool wipeSources)
{
    if (!source || !archive || total == 0)
        return false;
    deleteSource = removeSources;
    wipe = wipeSources;
    if (!CopyText(zipPath, sizeof zipPath, archive))
        return false;
    progressTotal = total;
    if (IsDirectory(source)) {
        char folder[256];
        if (!CopyText(folder, sizeof folder, source))
            return false;
        StripTrailingBackslash(folder);
        return AddTree(folder, comment, total);
    }
    return AddFile(source, comment, total);
}

bool TQXZip::AddTree(const char* folder, const char* comment, uint32_t total)
{
    if (!folder || abort)
        return false;
    entryComment = comment;
    WalkRecord record;
    memset(&record, 0, sizeof record);
    bool ok = CopyText(record.folder, sizeof record.folder, folder) &&
              CopyText(currentDir, sizeof currentDir, folder);
    if (ok) {
        strcpy(record.mask, "*.*");
        StripTrailingBackslash(currentDir);
        ok = WalkTree(record);
        if (ok && deleteSource) {
            if (!IsInSystemDir(currentDir) && !IsInWindowsDir(currentDir))
                RemoveDirectoryEx(currentDir);
        }
        char* cut = strrchr(currentDir, '\\');
        if (cut)
            *cut = 0;
    }
    return Report(ok, 376, kTreeError);
}

void TQXZip::In(const char* name)
{
    if (!name || !*name || abort)
        return;
    if (strlen(currentDir) + 1 + strlen(name) >= sizeof currentDir) {
        abort = true;
        return;
    }
    strcat(currentDir, "\\");
    strcat(currentDir, name);
    AddFile(currentDir, entryComment, progressTotal);
}

void TQXZip::Out(const char* name)
{
    if (!name || !*name || abort)
        return;
    StripTrailingBackslash(currentDir);
    if (deleteSource && !IsInSystemDir(currentDir) && !IsInWindowsDir(currentDir))
        RemoveDirectoryEx(currentDir);
    char* cut = strrchr(currentDir, '\\');
    if (cut)
        *cut = 0;
}

void TQXZip::At(const char* path)
{
    if (!path || abort)
        return;
    if (!*path || !AddFile(path, entryComment, progressTotal))
        abort = true;
}

bool TQXZip::AddFile(const char* path, const char* comment, uint32_t total)
{
    if (!path || !*path || abort)
        return false;
    // The archive being built is never added to itself, nor is the file that
    // it is written to until it gets its name.
    for (const char* archiveFile : {static_cast<const char*>(zipPath), staged.TemporaryPath()}) {
        char upperPath[256], upperZip[256];
        if (archiveFile[0] && CopyText(upperPath, sizeof upperPath, path) &&
            CopyText(upperZip, sizeof upperZip, archiveFile)) {
            CharUpperA(upperPath);
            CharUpperA(upperZip);
            if (strcmp(upperPath, upperZip) == 0) {
                ClearLastError();
                return true;
            }
        }
    }
    if (!AddEntry(path, nullptr, comment, entryCount, total))
        return false;
    ++entryCount;
    // Only a source whose entry was written may go; a skipped one (empty, or
    // kept by OnEntryExists) stays.
    if (deleteSource && entryWritten && !IsInSystemDir(path) && !IsInWindowsDir(path)) {
        FileInfo* info = files->GetFileInfo(path);
        if (!info)
            return false;
        *savedInfo = *info;
        if (OnDeleteSource(path))
            DeleteFileEx(path, wipe);
    }
    return true;
}

bool TQXZip::AddEntry(const char* path, const char* name, const char* comment, uint32_t done,
                      uint32_t total)
{
    entryWritten = false;
    if (!path || !zipHandle)
        return false;
    bool folder = false;
    bool empty = false;
    uint32_t dos = 0;
    if (!LookUpEntry(path, walkEntry, &folder, &empty, &dos)) {
        // What one look could not tell, asked step by step.
        folder = IsDirectory(path);
        if (!folder && QueryFileSize(path) == 0)
            return true;  // an empty or missing file gets no entry
        WIN32_FIND_DATAA record;
        if (!GetDosFileTime(path, &record, &dos))
            return ReportNamed(false, 1786, kAddError, path, nullptr);
    } else if (empty) {
        return true;
    }

    bool ok = false;
    char entry[256];
    if (name) {
        ok = CopyText(entry, sizeof entry, name);
    } else {
        ok = CopyText(entry, sizeof entry, path) && RelativeToBase(baseDir, entry);
        if (ok && folder) {
            size_t n = strlen(entry);
            ok = n + 1 < sizeof entry && n > 0;
            if (ok)
                strcat(entry, "\\");
        }
    }
    if (!ok || !*entry) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return ReportNamed(false, 1786, kAddError, path, "gives no entry name that fits!");
    }
    BackslashToSlash(entry);

    int found = 0;
    ClearSystemError();
    if (IsInZipFileInZip(zipHandle, entry, 0, &found) != ZIP_OK)
        return ReportNamed(false, 1786, kAddError, path, nullptr);
    if (found) {
        if (!OnEntryExists(path))
            return true;  // kept: the source is neither added nor deleted
        if (!RemoveEntry(archivePath, entry) || !zipHandle)
            return ReportNamed(false, 1786, kAddError, path, nullptr);
    }

    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    info.dosDate = dos;
    int method = level != 0 ? 8 : 0;
    ClearSystemError();
    if (zipOpenNewFileInZip(zipHandle, entry, &info, nullptr, 0, nullptr, 0, comment, method,
                            level) != ZIP_OK)
        return ReportNamed(false, 1786, kAddError, path, nullptr);
    ok = true;
    if (!folder) {
        unsigned char* buffer = nullptr;
        DWORD length = 0;
        ok = files->ReadWholeFile(path, &buffer, &length);
        ClearSystemError();
        ok = ok && zipWriteInFileInZip(zipHandle, buffer, length) >= 0 &&
             OnZipProgress(path, done + 1, total);
        files->FreeBuffer(buffer);
    }
    // An entry that failed is left open: the library discards it when the
    // next one starts or the archive is closed.
    if (ok) {
        ClearSystemError();
        ok = zipCloseFileInZip(zipHandle) == ZIP_OK;
    }
    entryWritten = ok;
    return ReportNamed(ok, 1786, kAddError, path, nullptr);
}

bool TQXZip::RemoveEntry(const char* archive, const char* name)
{
    if (!archive || !name || abort)
        return false;
    char entry[256], archiveCopy[256];
    if (!CopyText(entry, sizeof entry, name) || !CopyText(archiveCopy, sizeof archiveCopy, archive))
        return Report(false, 1430, kRemoveError);
    BackslashToSlash(entry);

    bool wasOpen = zipHandle != nullptr;
    char savedBase[256], savedCurrent[256];
    uint32_t savedCount = entryCount;
    strcpy(savedBase, baseDir);
    strcpy(savedCurrent, currentDir);
    // A new archive that is still being written is rewritten in its
    // temporary file, which it keeps until it is closed.
    bool inStaged = wasOpen && staged.TemporaryPath()[0] && _stricmp(archivePath, archiveCopy) == 0;
    const char* file = inStaged ? staged.TemporaryPath() : archiveCopy;
    if (wasOpen) {
        baseDir[0] = currentDir[0] = 0;
        entryCount = 0;
        if (inStaged)
            CloseWriter(nullptr);
        else
            CloseArchive(nullptr);
    }
    ClearSystemError();
    zipFile handle = zipOpen(file, 1, entry);
    bool ok = handle != nullptr;
    if (ok)
        zipClose(handle, nullptr);
    bool reopened = false;
    if (wasOpen && ok) {
        reopened = inStaged ? ReportNamed(OpenWriter(savedBase, archiveCopy, file, true, -1), 1570,
                                          kOpenError, archiveCopy, nullptr)
                            : OpenArchive(savedBase, archiveCopy, false, -1);
        if (reopened) {
            strcpy(currentDir, savedCurrent);
            entryCount = savedCount;
        }
    }
    // A new archive that cannot be written on never gets its name.
    if (inStaged && !reopened) {
        staged.WipeOnDiscard(wipe);
        staged.Discard();
    }
    return Report(ok, 1430, kRemoveError);
}

// -------------------------------------------------------------- unpacking

bool TQXZip::Unzip(const char* archive, const char* target, bool dropFolders)
{
    if (!archive || !target)
        return false;
    // An archive that cannot be read, or a target that is not there, is a
    // failure that names it.
    if (!FileCanRead(archive))
        return ReportNamed(false, 549, kOpenError, archive, nullptr);
    if (!IsDirectory(target)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return ReportNamed(false, 688, kFolderError, target, nullptr);
    }
    unzFile handle = UnzOpen(archive, target);
    if (!handle)
        return false;
    bool ok = ExtractAll(handle, dropFolders);
    UnzClose(handle);
    return ok;
}

unzFile TQXZip::UnzOpen(const char* archive, const char* target)
{
    if (!archive) {
        Report(false, 549, kOpenError);
        return nullptr;
    }
    if (!target || !CopyText(unzipTarget, sizeof unzipTarget, target))
        return nullptr;
    // An archive that cannot be read as one (truncated, not a zip) is a
    // failure the user gets to see.
    ClearSystemError();
    unzFile handle = unzOpen(archive);
    if (!handle)
        ReportNamed(false, 549, kOpenError, archive, nullptr);
    return handle;
}

bool TQXZip::UnzClose(unzFile handle)
{
    bool ok = handle != nullptr;
    if (ok)
        unzClose(handle);
    return Report(ok, 569, kCloseError);
}

bool TQXZip::ExtractAll(unzFile handle, bool dropFolders)
{
    unz_global_info global;
    ClearSystemError();
    bool ok = handle && unzGetGlobalInfo(handle, &global) == UNZ_OK;
    if (ok) {
        uint32_t count = (uint32_t)global.number_entry;
        for (uint32_t i = 0; i < count && ok && !abort; ++i) {
            ok = ExtractCurrentFile(handle, i, count, dropFolders);
            if (ok && i + 1 < count) {
                ClearSystemError();
                int r = unzGoToNextFile(handle);
                ok = r == UNZ_OK || r == UNZ_END_OF_LIST_OF_FILE;
            }
        }
    }
    return Report(ok, 1046, kReadError);
}

bool TQXZip::ExtractCurrentFile(unzFile handle, uint32_t index, uint32_t total, bool dropFolders)
{
    unz_file_info info;
    char name[256];
    if (!handle)
        return Report(false, 992, kReadError);
    ClearSystemError();
    if (unzGetCurrentFileInfo(handle, &info, name, sizeof name, nullptr, 0, nullptr, 0) !=
        UNZ_OK) {
        // A name that does not fit is told by its beginning.
        std::string shown;
        unz_file_info sized;
        if (unzGetCurrentFileInfo(handle, &sized, nullptr, 0, nullptr, 0, nullptr, 0) == UNZ_OK &&
            sized.size_filename >= sizeof name) {
            std::vector<char> whole(sized.size_filename + 1);
            if (unzGetCurrentFileInfo(handle, &sized, whole.data(), (unsigned long)whole.size(),
                                      nullptr, 0, nullptr, 0) == UNZ_OK)
                shown.assign(whole.data(), 60);
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return ReportNamed(false, 992, kReadError, (shown + "...").c_str(),
                               "has a name that is too long!");
        }
        SetLastError(0);
        return Report(false, 992, kReadError);
    }
    char entryName[256];
    strcpy(entryName, name);  // as the archive names it, for messages
    SlashToBackslash(name);
    // Nothing may land outside the target folder, with or without folders.
    if (!IsSafeEntryName(name)) {
        SetLastError(ERROR_INVALID_NAME);
        return ReportNamed(false, 992, kReadError, entryName, "lies outside the target folder!");
    }

    std::unique_ptr<char[]> bufferOwner(new (std::nothrow) char[QX_UNZIP_CHUNK + 1]);
    char* buffer = bufferOwner.get();
    if (!buffer) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return ReportNamed(false, 992, kReadError, entryName, nullptr);
    }

    StripTrailingBackslash(unzipTarget);
    char target[512];
    if (dropFolders) {
        char fileName[256];
        if (!SplitPath(name, nullptr, fileName, nullptr)) {
            SetLastError(ERROR_INVALID_NAME);
            return ReportNamed(false, 992, kReadError, entryName, "has no usable name!");
        }
        snprintf(target, sizeof target, "%s\\%s", unzipTarget, fileName);
    } else {
        snprintf(target, sizeof target, "%s\\%s", unzipTarget, name);
    }
    if (strlen(target) > 255) {
        // refused, never cut
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return ReportNamed(false, 992, kReadError, entryName,
                           "gives a path in the target folder that is too long!");
    }

    if (!OnUnzipProgress(target, index + 1, total))
        return false;

    const char* last = strrchr(target, '\\');
    if (!last || last[1] == 0) {
        StripTrailingBackslash(target);
        return CreateDirectoryTree(target);
    }

    ClearSystemError();
    if (unzOpenCurrentFile(handle) != UNZ_OK) {
        bool unsupported = (info.flag & 1) ||
                           (info.compression_method != 0 && info.compression_method != 8);
        return ReportNamed(false, 992, kReadError, entryName,
                           unsupported ? "is encrypted or packed by a method that is not supported!"
                                       : "is damaged!");
    }
    struct EntryGuard {
        unzFile h;
        ~EntryGuard() { unzCloseCurrentFile(h); }
    } entryGuard{handle};

    // Every file is written beside its name under a temporary one and gets
    // the name only once it is whole. An existing file is replaced only when
    // the hook agreed and left it there; a hook that moved it away, or a
    // file that was not there, leaves nothing to replace: a file that takes
    // the name meanwhile stays and the entry fails. One that cannot be read
    // exists all the same.
    bool exists = NameTaken(target);
    if (exists && !OnUnzipOverwrite(target))
        return false;
    bool replace = exists && NameTaken(target);
    char folder[256];
    size_t folderLen = (size_t)(last - target);
    memcpy(folder, target, folderLen);
    folder[folderLen] = 0;

    TQXNewFile out;
    bool created = out.Create(target, wipe);
    if (!created && folderLen > 0) {
        CreateDirectoryPath(folder);
        created = out.Create(target, wipe);
    }
    if (!created)
        return ReportNamed(false, 992, kReadError, entryName, "could not be created!");

    int got;
    bool written = true;
    do {
        ClearSystemError();
        got = unzReadCurrentFile(handle, buffer, QX_UNZIP_CHUNK);
        if (got > 0)
            written = out.Write(buffer, (DWORD)got);
    } while (got > 0 && written && !abort);
    bool ok = got == 0 && written && !abort;
    if (!ok) {
        // Nothing partial stays: a failed entry leaves no file of its own.
        const char* cause = !written ? "could not be written!" : got < 0 ? "is damaged!" : nullptr;
        DWORD code = GetLastError();
        out.Discard();
        SetLastError(code);
        return ReportNamed(false, 992, kReadError, entryName, cause);
    }
    if (!out.Commit(replace)) {
        DWORD code = GetLastError();
        if (code == ERROR_ALREADY_EXISTS)
            out.ReportFailure();  // a file took the name meanwhile: it stays
        SetLastError(code);
        return ReportNamed(false, 992, kReadError, entryName,
                           replace ? "could not replace the existing file!" : "could not be written!");
    }
    return SetFileTimeFromDos(target, (uint32_t)info.dosDate);
}

// ------------------------------------------------------- times and folders

bool TQXZip::GetDosFileTime(const char* path, WIN32_FIND_DATAA* record, uint32_t* dosDateTime)
{
    bool ok = false;
    if (path && record && dosDateTime) {
        qx::Find listing(FindFirstFileA(path, record));
        if (listing) {
            listing.reset();
            FILETIME local;
            SYSTEMTIME st;
            ok = FileTimeToLocalFileTime(&record->ftLastWriteTime, &local) &&
                 FileTimeToSystemTime(&local, &st);
            if (ok)
                *dosDateTime = DosFromSystemTime(st);
        }
    }
    return Report(ok, 518, kFileTimeError);
}

bool TQXZip::SetFileTimeFromDos(const char* path, uint32_t dosDateTime)
{
    bool ok = false;
    if (path) {
        qx::File file(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
        FILETIME creation, access, write, local, utc;
        ok = file && GetFileTime(file.get(), &creation, &access, &write) &&
             DosDateTimeToFileTime((WORD)(dosDateTime >> 16), (WORD)(dosDateTime & 0xFFFF),
                                   &local) &&
             LocalFileTimeToFileTime(&local, &utc) && SetFileTime(file.get(), &utc, &access, &utc);
    }
    return Report(ok, 611, kUnzipError);
}

bool TQXZip::CreateDirectoryPath(const char* path)
{
    if (!path || !*path)
        return Report(false, 688, kFolderError);
    char copy[256];
    if (!CopyText(copy, sizeof copy, path))
        return Report(false, 688, kFolderError);
    size_t n = strlen(copy);
    if (n && copy[n - 1] == '/')
        copy[n - 1] = 0;
    bool ok = CreateDirectoryTree(copy);
    if (!ok) {
        ok = true;
        char prefix[256];
        for (size_t i = 0; copy[i] && ok && !abort; ++i) {
            if (copy[i] != '\\' && copy[i] != '/')
                continue;
            memcpy(prefix, copy, i);
            prefix[i] = 0;
            if (i > 0 && prefix[i - 1] != ':')
                ok = CreateDirectoryTree(prefix);
        }
        if (ok)
            ok = CreateDirectoryTree(copy);
        if (!ok)
            return false;  // reported by CreateDirectoryTree
    }
    return Report(ok, 688, kFolderError);
}
