#include "FileAPI.h"
#include "QXHandles.h"

#include <winioctl.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

const char kUnit[] = "FileAPI";
const char kBadName[] = "Invalid parameter (file name)!";
const char kRemoveMessage[] = "File / Directory '%s' could not be remove!";
const char kReadMessage[] = "This file '%s' could not be read! - (%s)";
const char kWriteMessage[] = "This file '%s' could not be written! - (%s)";
const char kIoReason[] = "File could not be write or read!";
const char kOpenReason[] = "Create or open file failed!";
const char kFullReason[] = "Storage capacity destination drive exeeded!";
const char kExistsReason[] = "File already exists!";
const char kNoTempReason[] = "No temporary name is free in this folder!";

DiskFreeQuery g_diskFreeQuery = nullptr;

// A usable path: non-null, not empty, at most 255 characters.
bool PathFits(const char* path)
{
    if (!path || !path[0])
        return false;
    return strnlen(path, 256) < 256;
}

HANDLE OpenShared(const char* path, DWORD access, DWORD disposition)
{
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Writes length bytes at the current position in chunks; a short write fails.
bool WriteChunks(HANDLE file, const unsigned char* data, uint64_t length)
{
    uint64_t position = 0;
    while (position < length) {
        uint64_t remaining = length - position;
        DWORD ask = remaining > QX_FILE_CHUNK ? QX_FILE_CHUNK : static_cast<DWORD>(remaining);
        DWORD written = 0;
        if (!WriteFile(file, data + position, ask, &written, nullptr))
            return false;
        if (written != ask) {
            // A short write has no code of its own (what the thread holds
            // is left from an earlier call): the disk is full.
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        position += written;
    }
    return true;
}

// Why a write failed: a full disk is named as such.
const char* WriteFailureReason(DWORD code)
{
    return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL ? kFullReason : kIoReason;
}

// Overwrites the first size bytes of an open file three times, with 0xFF,
// 0x00 and 0xAA, each pass flushed to the disk; not reporting.
bool OverwriteOpenFile(HANDLE file, uint64_t size)
{
    uint64_t chunk = size < QX_FILE_CHUNK ? size : QX_FILE_CHUNK;
    if (chunk == 0)
        return true;
    unsigned char* buffer = static_cast<unsigned char*>(malloc(static_cast<size_t>(chunk)));
    if (!buffer) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    static const unsigned char kPasses[3] = {0xFF, 0x00, 0xAA};
    bool ok = true;
    for (unsigned char value : kPasses) {
        memset(buffer, value, static_cast<size_t>(chunk));
        LARGE_INTEGER start{};
        ok = SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != FALSE;
        for (uint64_t done = 0; ok && done < size;) {
            uint64_t part = size - done < chunk ? size - done : chunk;
            ok = WriteChunks(file, buffer, part);
            done += part;
        }
        if (ok)
            ok = FlushFileBuffers(file) != FALSE;
        if (!ok)
            break;
    }
    free(buffer);
    return ok;
}

// The temporary name number n for a folder that leaves room characters for
// a name: "~tvwXXXX.tmp" where it fits, else "~" and base-36 digits (only
// digits for a room of one character).
void TemporaryName(unsigned n, size_t room, char* out)
{
    if (room >= 12) {
        FormatText(out, 16, "~tvw%04X.tmp", n & 0xFFFF);
        return;
    }
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    size_t length = 0;
    if (room >= 2)
        out[length++] = '~';
    while (length < room) {
        out[length++] = kDigits[n % 36];
        n /= 36;
    }
    out[length] = 0;
}

bool ReportFileFailure(int location, const char* format, const char* path, const char* reason)
{
    char message[1024];
    FormatText(message, sizeof message, format, path ? path : "", reason);
    return QXReport(false, kUnit, location, message);
}

}  // namespace

bool FileExists(const char* path)
{
    return PathFits(path) && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool FileCanRead(const char* path)
{
    if (!PathFits(path))
        return false;
    qx::File file(OpenShared(path, GENERIC_READ, OPEN_EXISTING));
    return static_cast<bool>(file);
}

bool NameTaken(const char* path)
{
    if (!path || !path[0])
        return false;
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        return true;
    // Only a name that is plainly not there is free.
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return false;
    default:
        return true;
    }
}

namespace {

// The volume and index of what lies at the path; false when it cannot be
// opened or its index says nothing (0 on some network drives).
bool FileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info)
{
    qx::File file(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && GetFileInformationByHandle(file.get(), info) &&
           (info->nFileIndexHigh != 0 || info->nFileIndexLow != 0);
}

}  // namespace

bool FullLongPath(const char* path, char* out, DWORD size)
{
    DWORD n = GetFullPathNameA(path, size, out, nullptr);
    if (n == 0 || n >= size)
        return false;
    char longer[MAX_PATH + 1];
    n = GetLongPathNameA(out, longer, sizeof longer);
    if (n > 0 && n < sizeof longer && n < size)
        memcpy(out, longer, n + 1);
    return true;
}

bool SameFile(const char* first, const char* second)
{
    if (!PathFits(first) || !PathFits(second))
        return false;
    qx::KeptError kept;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    if (FileIdentity(first, &a) && FileIdentity(second, &b))
        return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
               a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    char x[MAX_PATH + 1], y[MAX_PATH + 1];
    return FullLongPath(first, x, sizeof x) && FullLongPath(second, y, sizeof y) &&
           _stricmp(x, y) == 0;
}

bool IsDirectory(const char* path)
{
    if (!PathFits(path))
        return false;
    DWORD attr = GetFileAttributesA(path);
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDriveRoot(const char* path)
{
    if (!path)
        return false;
    size_t len = strnlen(path, 4);
    if (len == 2)
        return path[1] == ':';
    if (len == 3)
        return path[1] == ':' && path[2] == '\\';
    return false;
}

bool ClearReadOnly(const char* path)
{
    if (!PathFits(path))
        return false;
    DWORD attr = GetFileAttributesA(path);
    if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_READONLY))
        return false;
    return SetFileAttributesA(path, 0) != FALSE;
}

uint64_t QueryFileSize(const char* path)
{
    if (!PathFits(path))
        return 0;
    WIN32_FIND_DATAA fd;
    qx::Find listing(FindFirstFileA(path, &fd));
    if (!listing)
        return 0;
    return (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
}

void SetDiskFreeQuery(DiskFreeQuery query) { g_diskFreeQuery = query; }

uint64_t GetDiskFree(const char* path)
{
    if (!PathFits(path))
        return 0;
    // A drive letter names its drive; any other path (a network path) is
    // asked of its own folder.
    char where[256];
    const char* query = nullptr;
    if (path[0] && path[1] == ':') {
        where[0] = path[0];
        where[1] = ':';
        where[2] = 0;
        query = where;
    } else if (SplitPath(path, where, nullptr, nullptr) && where[0]) {
        query = where;
    }
    DiskFreeQuery ask = g_diskFreeQuery ? g_diskFreeQuery : &GetDiskFreeSpaceExA;
    ULARGE_INTEGER available{}, total{}, free{};
    if (!ask(query, &available, &total, &free))
        return 0;
    return available.QuadPart > QX_DISK_FREE_CAP ? QX_DISK_FREE_CAP : available.QuadPart;
}

namespace {

bool WriteNewFile(const char* path, const void* data, DWORD length, bool wipe)
{
    if (length > 0 && static_cast<uint64_t>(length) >= GetDiskFree(path)) {
        SetLastError(ERROR_DISK_FULL);
        return ReportFileFailure(911, kWriteMessage, path, kFullReason);
    }
    TQXNewFile file;
    if (!file.Create(path, wipe) || !file.Write(data, length) || !file.Commit())
        return file.ReportFailure();
    char message[1024];
    FormatText(message, sizeof message, kWriteMessage, path, "");
    return QXReport(true, kUnit, 911, message);
}

}  // namespace

bool WriteWholeFile(const char* path, const void* data, DWORD length, bool wipe)
{
    if (!path || !data || !path[0] || length == 0 || !PathFits(path)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ReportFileFailure(911, kWriteMessage, path, kBadName);
    }
    return WriteNewFile(path, data, length, wipe);
}

bool WriteWholeContent(const char* path, const void* data, DWORD length, bool wipe)
{
    if (!path || (!data && length > 0) || !PathFits(path)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ReportFileFailure(911, kWriteMessage, path, kBadName);
    }
    return WriteNewFile(path, data, length, wipe);
}

bool CopyToNewFile(const char* source, const char* target, bool wipe)
{
    qx::File input(PathFits(source) ? OpenShared(source, GENERIC_READ, OPEN_EXISTING)
                                    : INVALID_HANDLE_VALUE);
    if (!input)
        return ReportFileFailure(1046, kReadMessage, source, "This file does not exist!");
    LARGE_INTEGER size{};
    FILETIME created{}, accessed{}, written{};
    if (!GetFileSizeEx(input.get(), &size) ||
        !GetFileTime(input.get(), &created, &accessed, &written))
        return ReportFileFailure(1046, kReadMessage, source, kIoReason);
    TQXNewFile copy;
    if (!copy.Create(target, wipe))
        return copy.ReportFailure();
    uint64_t total = static_cast<uint64_t>(size.QuadPart);
    DWORD chunk = total < QX_FILE_CHUNK ? static_cast<DWORD>(total) : QX_FILE_CHUNK;
    unsigned char* buffer = static_cast<unsigned char*>(malloc(chunk ? chunk : 1));
    if (!buffer)
        return ReportFileFailure(1046, kReadMessage, source, "Memory (RAM) could not be allocated!");
    bool read = true;
    bool ok = true;
    for (uint64_t done = 0; ok && done < total;) {
        DWORD got = 0;
        read = ReadFile(input.get(), buffer, chunk, &got, nullptr) != FALSE && got > 0;
        if (!read) {
            if (GetLastError() == 0)
                SetLastError(ERROR_HANDLE_EOF);
            break;
        }
        ok = copy.Write(buffer, got);
        done += got;
    }
    free(buffer);
    if (!read)
        return ReportFileFailure(1046, kReadMessage, source, kIoReason);
    // As a copy of the platform's: the time of the content comes along.
    if (ok)
        SetFileTime(copy.Handle(), nullptr, nullptr, &written);
    if (!ok || !copy.Commit())
        return copy.ReportFailure();
    char message[1024];
    FormatText(message, sizeof message, kWriteMessage, target, "");
    return QXReport(true, kUnit, 911, message);
}

// ---------------------------------------------------------------------------
// New files

bool TQXNewFile::Fail(const char* reason, DWORD code)
{
    reason_ = reason;
    code_ = code;
    Discard();
    SetLastError(code);
    return false;
}

bool TQXNewFile::Create(const char* path, bool wipe)
{
    Discard();
    wipe_ = wipe;
    reason_ = nullptr;
    code_ = 0;
    target_[0] = 0;
    char folder[256];
    char name[256];
    if (!PathFits(path) || !CopyText(target_, sizeof target_, path) ||
        !SplitPath(path, folder, name, nullptr) || !name[0])
        return Fail(kBadName, ERROR_INVALID_PARAMETER);
    // The name is made of the folder as given and a temporary name that fits
    // into what the folder leaves of 255 characters (at least the length of
    // the name itself).
    size_t room = 255 - strlen(folder);
    static std::atomic<unsigned> sequence{0};
    unsigned seed = GetTickCount() ^ (GetCurrentThreadId() << 12) ^ (sequence++ * 0x9E37u);
    DWORD code = ERROR_FILE_EXISTS;
    for (unsigned attempt = 0; attempt < 256; ++attempt) {
        char candidate[16];
        TemporaryName(seed + attempt, room, candidate);
        if (_stricmp(candidate, name) == 0)
            continue;
        FormatText(temp_, sizeof temp_, "%s%s", folder, candidate);
        HANDLE made = CreateFileA(temp_, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (made != INVALID_HANDLE_VALUE) {
            file_.reset(made);
            return true;
        }
        code = GetLastError();
        // Another file of that name (or one that is being deleted): the next name.
        bool taken = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ||
                     (code == ERROR_ACCESS_DENIED && FileExists(temp_));
        temp_[0] = 0;
        if (!taken)
            return Fail(kOpenReason, code);
    }
    return Fail(kNoTempReason, code);
}

bool TQXNewFile::Write(const void* data, uint64_t length)
{
    if (!file_)
        return Fail(reason_ ? reason_ : kOpenReason, code_ ? code_ : ERROR_INVALID_HANDLE);
    if (!WriteChunks(file_.get(), static_cast<const unsigned char*>(data), length)) {
        DWORD code = GetLastError();
        return Fail(WriteFailureReason(code), code);
    }
    return true;
}

bool TQXNewFile::Commit(bool replace)
{
    if (!temp_[0])
        return Fail(reason_ ? reason_ : kOpenReason, code_ ? code_ : ERROR_INVALID_HANDLE);
    if (!file_)
        file_.reset(OpenShared(temp_, GENERIC_WRITE, OPEN_EXISTING));  // handed over
    if (!file_) {
        DWORD code = GetLastError();
        return Fail(kOpenReason, code);
    }
    if (!FlushFileBuffers(file_.get()) || !file_.close()) {
        DWORD code = GetLastError();
        return Fail(WriteFailureReason(code), code);
    }
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExA(temp_, target_, flags)) {
        DWORD code = GetLastError();
        bool taken = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
        return Fail(taken ? kExistsReason : kOpenReason, taken ? ERROR_ALREADY_EXISTS : code);
    }
    temp_[0] = 0;
    return true;
}

void TQXNewFile::Discard()
{
    if (!temp_[0]) {
        file_.reset();
        return;
    }
    qx::KeptError kept;
    if (wipe_) {
        if (!file_)
            file_.reset(OpenShared(temp_, GENERIC_WRITE, OPEN_EXISTING));
        LARGE_INTEGER size{};
        if (file_ && GetFileSizeEx(file_.get(), &size))
            OverwriteOpenFile(file_.get(), static_cast<uint64_t>(size.QuadPart));
    }
    file_.reset();
    DeleteFileA(temp_);
    temp_[0] = 0;
}

bool TQXNewFile::ReportFailure()
{
    SetLastError(code_);
    return ReportFileFailure(911, kWriteMessage, target_, reason_ ? reason_ : kOpenReason);
}

namespace {

// Overwrites an open file in place (OverwriteOpenFile), reporting a failure.
bool WipeOpenFile(HANDLE file, uint64_t size, const char* path)
{
    if (OverwriteOpenFile(file, size))
        return true;
    DWORD code = GetLastError();
    if (code == ERROR_NOT_ENOUGH_MEMORY)
        return ReportFileFailure(911, kWriteMessage, path, "Memory (RAM) could not be allocated!");
    return ReportFileFailure(911, kWriteMessage, path, WriteFailureReason(code));
}

bool MarkForDeletion(HANDLE file, bool remove)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

// Overwrites a file and removes it, both through one handle that holds the
// right to delete it. A file that cannot be removed (another program holds
// it without delete sharing, its rights forbid deleting) is refused before
// anything is written to it, and while the handle is open no one can take
// that right away. The file is marked for deletion before the wipe and goes
// when the handle closes; a failed wipe takes the mark back and the file stays.
// The handle is the name's own where the name is a link (a symbolic link, a
// junction): the link is removed itself, without a wipe, so that a file
// outside what was chosen is never written. Any other reparse point (a file
// whose data a filter keeps, as cloud and deduplicated files) is a file of
// its own and is opened through to its data and wiped.
bool WipeAndRemove(const char* path)
{
    const DWORD access = DELETE | GENERIC_WRITE;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    qx::File file(CreateFileA(path, access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!file ||
        !GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag))
        return false;
    bool reparse = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (reparse && IsReparseTagNameSurrogate(tag.ReparseTag))
        return MarkForDeletion(file.get(), true) && file.close();
    if (reparse)
        file.reset(CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
    if (!file || !MarkForDeletion(file.get(), true))
        return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) ||
        !WipeOpenFile(file.get(), static_cast<uint64_t>(size.QuadPart), path)) {
        qx::KeptError kept;
        MarkForDeletion(file.get(), false);
        return false;
    }
    return file.close();
}

}  // namespace

bool WipeFile(const char* path)
{
    if (!PathFits(path))
        return false;
    uint64_t size = QueryFileSize(path);
    if (size == 0)
        return true;
    // Overwrite the file's own clusters: open it as it is, never recreate it.
    qx::File file(OpenShared(path, GENERIC_WRITE, OPEN_EXISTING));
    if (!file)
        return ReportFileFailure(911, kWriteMessage, path, kOpenReason);
    if (!WipeOpenFile(file.get(), size, path))
        return false;
    if (!file.close())
        return ReportFileFailure(911, kWriteMessage, path, WriteFailureReason(GetLastError()));
    return true;
}

bool DeleteFileEx(const char* path, bool wipe)
{
    if (!path)
        return QXReport(false, kUnit, 342, "");
    char message[1024];
    FormatText(message, sizeof message, kRemoveMessage, path);
    if (!PathFits(path))
        return QXReport(false, kUnit, 342, message);
    DWORD attr = GetFileAttributesA(path);
    if (attr == INVALID_FILE_ATTRIBUTES) {
        DWORD code = GetLastError();
        // Only an absent file is nothing to do; anything else is a failure.
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            SetLastError(0);
            return QXReport(true, kUnit, 342, message);
        }
        return QXReport(false, kUnit, 342, message);
    }
    if (attr & FILE_ATTRIBUTE_DIRECTORY) {
        // A folder is not a file: left as it is (RemoveDirectoryEx removes folders).
        SetLastError(ERROR_ACCESS_DENIED);
        return QXReport(false, kUnit, 342, message);
    }
    SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);
    bool ok = wipe ? WipeAndRemove(path) : DeleteFileA(path) != FALSE;
    if (!ok) {
        // The file stays as it was found, attributes included.
        qx::KeptError kept;
        SetFileAttributesA(path, attr);
    }
    return QXReport(ok, kUnit, 342, message);
}

bool RemoveDirectoryEx(const char* path)
{
    if (!path)
        return QXReport(false, kUnit, 374, "");
    char copy[256];
    char message[1024];
    if (!CopyText(copy, sizeof copy, path)) {
        FormatText(message, sizeof message, kRemoveMessage, path);
        return QXReport(false, kUnit, 374, message);
    }
    // A drive root keeps its backslash.
    if (!IsDriveRoot(copy))
        StripTrailingBackslash(copy);
    FormatText(message, sizeof message, kRemoveMessage, copy);
    if (!FileExists(copy)) {
        SetLastError(0);
        return QXReport(true, kUnit, 374, message);
    }
    SetFileAttributesA(copy, FILE_ATTRIBUTE_ARCHIVE);
    return QXReport(RemoveDirectoryA(copy) != FALSE, kUnit, 374, message);
}

bool CreateDirectoryTree(const char* path)
{
    if (!path)
        return QXReport(false, kUnit, 460, "");
    char message[1024];
    FormatText(message, sizeof message, "This directory '%s' could not be created!", path);
    char full[256];
    if (!CopyText(full, sizeof full, path))
        return QXReport(false, kUnit, 460, message);
    if (IsDirectory(full))
        return QXReport(true, kUnit, 460, message);
    size_t len = strlen(full);
    if (len > 0 && full[len - 1] == '\\')
        full[--len] = 0;

    size_t start;
    if (full[0] == '\\' && full[1] == '\\')
        start = 2;
    else if (len >= 3 && full[1] == ':' && full[2] == '\\')
        start = 3;
    else
        return QXReport(false, kUnit, 460, message);

    char built[256];
    memcpy(built, full, start);
    built[start] = 0;
    size_t pos = start;
    bool walked = true;
    while (pos < len) {
        size_t end = pos;
        while (end < len && full[end] != '\\')
            ++end;
        size_t blen = strlen(built);
        memcpy(built + blen, full + pos, end - pos);
        built[blen + end - pos] = 0;
        if (end > pos && !CreateDirectoryA(built, nullptr)) {
            // Levels that exist already, or that cannot be made as such (a
            // server or share name, a missing parent that a later level will
            // show), do not end the walk; the final test decides.
            DWORD code = GetLastError();
            if ((code & 0xB7) != 0xB7 && !(code & 2)) {
                walked = false;
                break;
            }
        }
        if (end < len) {
            blen = strlen(built);
            built[blen] = '\\';
            built[blen + 1] = 0;
        }
        pos = end + 1;
    }
    // Success means the folder is there, not that every call was excused.
    bool ok = walked && IsDirectory(full);
    if (!ok && GetLastError() == 0)
        SetLastError(ERROR_PATH_NOT_FOUND);
    if (ok)
        SetLastError(0);
    return QXReport(ok, kUnit, 460, message);
}

bool RelativeToBase(const char* base, char* path)
{
    if (!base || !path)
        return false;
    size_t blen = strlen(base);
    if (blen > 0 && base[blen - 1] == '\\')
        --blen;
    size_t plen = strlen(path);
    if (blen > plen || _strnicmp(base, path, blen) != 0)
        return false;
    const char* rest = path + blen;
    if (*rest == '\\')
        ++rest;
    else if (*rest != 0 && blen > 0)
        return false;  // "D:\ab" does not lie under "D:\a"
    memmove(path, rest, strlen(rest) + 1);
    return true;
}

bool GetTempDir(char* destination)
{
    const char* message = "Get temporary file or directory failed!";
    if (!destination)
        return QXReport(false, kUnit, 1127, message);
    char temp[256];
    DWORD n = GetTempPathA(sizeof temp, temp);
    bool ok = n != 0 && n < sizeof temp;
    if (ok) {
        StripTrailingBackslash(temp);
        ok = CopyText(destination, 256, temp);
    }
    return QXReport(ok, kUnit, 1127, message);
}

TQXFile::TQXFile() : info_{}
{
    ClearLastError();
}

TQXFile::~TQXFile() = default;

bool TQXFile::GetCompression(HANDLE file)
{
    DWORD format = 0;  // COMPRESSION_FORMAT_NONE
    DWORD returned = 0;
    if (!DeviceIoControl(file, FSCTL_GET_COMPRESSION, nullptr, 0, &format, sizeof format,
                         &returned, nullptr))
        return false;
    return format != 0;
}

bool TQXFile::SetCompression(HANDLE file)
{
    DWORD format = 1;  // COMPRESSION_FORMAT_DEFAULT
    DWORD returned = 0;
    return DeviceIoControl(file, FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0,
                           &returned, nullptr) != FALSE;
}

FileInfo* TQXFile::GetFileInfo(const char* path)
{
    memset(&info_, 0, sizeof info_);
    info_.attributes = INVALID_FILE_ATTRIBUTES;
    if (!PathFits(path))
        return nullptr;
    bool timesRead = false;
    {
        qx::File file(OpenShared(path, GENERIC_READ, OPEN_EXISTING));
        if (file) {
            timesRead = GetFileTime(file.get(), &info_.creationTime, &info_.lastAccessTime,
                                    &info_.lastWriteTime) != FALSE;
            info_.compressed = GetCompression(file.get());
        }
    }
    info_.attributes = GetFileAttributesA(path);
    return timesRead ? &info_ : nullptr;
}

bool TQXFile::SetFileInfo(const char* path, const FileInfo* record)
{
    if (!PathFits(path) || !record)
        return false;
    {
        qx::File file(OpenShared(path, GENERIC_WRITE, OPEN_EXISTING));
        if (file) {
            SetFileTime(file.get(), &record->creationTime, &record->lastAccessTime,
                        &record->lastWriteTime);
            if (info_.compressed)
                SetCompression(file.get());
        }
    }
    return SetFileAttributesA(path, record->attributes) != FALSE;
}

bool TQXFile::ReadWholeFile(const char* path, unsigned char** buffer, DWORD* length)
{
    if (!buffer || !length)
        return ReportFileFailure(1046, kReadMessage, path, kBadName);
    *buffer = nullptr;
    *length = 0;
    if (!path || !path[0] || !PathFits(path))
        return ReportFileFailure(1046, kReadMessage, path, kBadName);
    // The file is opened once; what cannot be opened for reading is not there.
    qx::File file(OpenShared(path, GENERIC_READ, OPEN_EXISTING));
    if (!file)
        return ReportFileFailure(1046, kReadMessage, path, "This file does not exist!");

    // A file of 4 GiB or more cannot be handed out whole: refused, never cut.
    LARGE_INTEGER fileSize{};
    uint64_t size = GetFileSizeEx(file.get(), &fileSize) ? static_cast<uint64_t>(fileSize.QuadPart)
                                                         : 0;
    uint64_t limit = GetAvailVirtual() / 3;
    if (size == 0 || size > limit || size > 0xFFFFFFFFull)
        return ReportFileFailure(1046, kReadMessage, path, "Insufficient physical memory (RAM)!");

    unsigned char* data = static_cast<unsigned char*>(malloc(static_cast<size_t>(size) + 1));
    if (!data)
        return ReportFileFailure(1046, kReadMessage, path,
                                 "Memory (RAM) could not be allocated!");
    uint64_t position = 0;
    bool ok = true;
    while (ok && position < size) {
        uint64_t remaining = size - position;
        DWORD ask = remaining > QX_FILE_CHUNK ? QX_FILE_CHUNK : static_cast<DWORD>(remaining);
        DWORD got = 0;
        ok = ReadFile(file.get(), data + position, ask, &got, nullptr) != FALSE;
        if (ok && got == 0) {
            // The file ended before its size: a failed read.
            SetLastError(ERROR_HANDLE_EOF);
            ok = false;
        }
        position += got;
    }
    file.reset();
    if (!ok) {
        free(data);
        return ReportFileFailure(1046, kReadMessage, path, kIoReason);
    }
    data[size] = 0;
    *buffer = data;
    *length = static_cast<DWORD>(size);
    char message[1024];
    FormatText(message, sizeof message, kReadMessage, path, "");
    return QXReport(true, kUnit, 1046, message);
}

bool TQXFile::FreeBuffer(void* buffer)
{
    free(buffer);
    return true;
}
