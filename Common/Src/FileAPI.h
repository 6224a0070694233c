// FileAPI: file and folder operations: existence tests, whole-file input and
// output, wiping, removal, folder creation, the temporary folder, free disk
// space and the saved state (attributes, times, compression) of a file.
// Paths are at most 255 characters; longer paths are refused.
#pragma once

#include <windows.h>
#include <cstdint>

#include "QXTools.h"

// The saved state of a file, taken before an operation and given to its output.
struct FileInfo {
    DWORD attributes;  // GetFileAttributesA; 0xFFFFFFFF when it could not be read
    bool compressed;   // a compression format other than none
    FILETIME creationTime;
    FILETIME lastAccessTime;
    FILETIME lastWriteTime;
};

// The largest chunk of one system read or write.
constexpr DWORD QX_FILE_CHUNK = 0x1FFFFF;
// GetDiskFree never reports more than this.
constexpr uint64_t QX_DISK_FREE_CAP = 0x7FFFFFF8;

bool FileExists(const char* path);
bool FileCanRead(const char* path);  // opens for reading, sharing read and write
// Something lies at the name, or whether it does cannot be told: a file that
// cannot be looked at (access denied, held by another process) is someone's
// all the same, never written over or removed unasked. False for no name.
bool NameTaken(const char* path);
bool IsDirectory(const char* path);
bool IsDriveRoot(const char* path);  // "X:" or "X:\"
// Clears the attributes of a read-only file; false when it was not read-only.
bool ClearReadOnly(const char* path);
// The size from the directory entry, in 64 bits; 0 for a missing file.
uint64_t QueryFileSize(const char* path);
// Free bytes available to the caller on the path's drive (a path without a
// drive letter: on its folder), at most QX_DISK_FREE_CAP; 0 when unknown.
uint64_t GetDiskFree(const char* path);
// Tests only: replaces the query behind GetDiskFree (null restores it).
typedef BOOL(WINAPI* DiskFreeQuery)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
void SetDiskFreeQuery(DiskFreeQuery query);

// Creates or truncates the file and writes length bytes (reporting).
bool WriteWholeFile(const char* path, const void* data, DWORD length);
// Overwrites the file in place with 0xFF, 0x00 and 0xAA; true at once for an
// empty or missing file.
bool WipeFile(const char* path);
// Deletes a file (wiped first with wipe); true without acting when it is absent.
// A file is wiped only once it is certain to go: one that cannot be deleted
// (held without delete sharing, not deletable by its rights) fails untouched,
// and any failure leaves its attributes as they were.
bool DeleteFileEx(const char* path, bool wipe);
// Removes an empty folder; true when it does not exist.
bool RemoveDirectoryEx(const char* path);
// Creates a folder and its missing parents; true when the folder exists at the end.
bool CreateDirectoryTree(const char* path);
// Cuts the base folder off the front of path (in place), with the '\' after it;
// false when the base is not a prefix of path ending at a '\'.
bool RelativeToBase(const char* base, char* path);
// The temporary folder without its trailing '\' into 256 characters (reporting).
bool GetTempDir(char* destination);

class TQXFile : public TQXTools {
public:
    TQXFile();
    ~TQXFile();

    // Fills this object's FileInfo and returns it; null when the file's times
    // could not be read. The next call overwrites the record.
    FileInfo* GetFileInfo(const char* path);
    // Restores times, compression (when the last GetFileInfo found it) and attributes.
    bool SetFileInfo(const char* path, const FileInfo* record);
    bool GetCompression(HANDLE file);
    bool SetCompression(HANDLE file);
    // Reads a whole file (1 byte up to a third of the free address space, below
    // 4 GiB) into a buffer of length + 1 bytes; free it with FreeBuffer (reporting).
    bool ReadWholeFile(const char* path, unsigned char** buffer, DWORD* length);
    bool FreeBuffer(void* buffer);

private:
    FileInfo info_;
};
