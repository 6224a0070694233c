#include "FileAPI.h"
#include "QXHandles.h"

#include <winioctl.h>

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

bool WriteWholeFile(const char* path, const void* data, DWORD length)
{
    if (!path || !data || !path[0] || length == 0 || !PathFits(path)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ReportFileFailure(911, kWriteMessage, path, kBadName);
    }
    if (static_cast<uint64_t>(length) >= GetDiskFree(path)) {
        SetLastError(ERROR_DISK_FULL);
        return ReportFileFailure(911, kWriteMessage, path, kFullReason);
    }
    // A file that is not there yet is made at its name (and never replaces
    // one that appears meanwhile). Otherwise the data go to a new file beside
    // the target first; only a complete file replaces what was there, so a
    // failed write loses nothing. A folder too long for a temporary name
    // beside it is written directly. What a failed write made goes again.
    char folder[256];
    char temp[MAX_PATH];
    SplitPath(path, folder, nullptr, nullptr);
    bool direct = strlen(folder) > MAX_PATH - 14;
    qx::File file;
    const char* target = path;
    if (!direct) {
        file.reset(OpenShared(path, GENERIC_WRITE, CREATE_NEW));
        if (!file) {
            if (!GetTempFileNameA(folder[0] ? folder : ".", "tvw", 0, temp))
                return ReportFileFailure(911, kWriteMessage, path, kOpenReason);
            target = temp;
        }
    }
    bool made = static_cast<bool>(file);  // the target itself, made by this call
    if (!file) {
        file.reset(OpenShared(target, GENERIC_WRITE, CREATE_ALWAYS));
        if (!file) {
            DWORD code = GetLastError();
            if (target == temp)
                DeleteFileA(temp);
            SetLastError(code);
            return ReportFileFailure(911, kWriteMessage, path, kOpenReason);
        }
    }
    bool ok = WriteChunks(file.get(), static_cast<const unsigned char*>(data), length) &&
              FlushFileBuffers(file.get());
    // A failed step keeps its own error: the handle then goes with its owner.
    ok = ok && file.close();
    file.reset();
    if (ok && target == temp)
        ok = MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    if (!ok) {
        DWORD code = GetLastError();
        if (target == temp)
            DeleteFileA(temp);
        else if (made)
            DeleteFileA(path);
        SetLastError(code);
        return ReportFileFailure(911, kWriteMessage, path, WriteFailureReason(code));
    }
    char message[1024];
    FormatText(message, sizeof message, kWriteMessage, path, "");
    return QXReport(true, kUnit, 911, message);
}

namespace {

// Overwrites the first size bytes of an open file in place with 0xFF, 0x00
// and 0xAA, each pass flushed (reporting its failure).
bool WipeOpenFile(HANDLE file, uint64_t size, const char* path)
{
    if (size == 0)
        return true;
    uint64_t chunk = size < QX_FILE_CHUNK ? size : QX_FILE_CHUNK;
    unsigned char* buffer = static_cast<unsigned char*>(malloc(static_cast<size_t>(chunk)));
    if (!buffer)
        return ReportFileFailure(911, kWriteMessage, path,
                                 "Memory (RAM) could not be allocated!");
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
    DWORD code = GetLastError();
    free(buffer);
    if (!ok)
        return ReportFileFailure(911, kWriteMessage, path, WriteFailureReason(code));
    return true;
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
bool WipeAndRemove(const char* path)
{
    qx::File file(CreateFileA(path, DELETE | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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
