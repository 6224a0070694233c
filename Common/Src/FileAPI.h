// FileAPI: file and folder operations: existence tests, whole-file input and
// output, wiping, removal, folder creation, the temporary folder, free disk
// space and the saved state (attributes, times, compression) of a file.
// Paths are at most 255 characters; longer paths are refused.
#pragma once

#include <windows.h>
#include <cstdint>

#include "QXHandles.h"
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
// Whether two paths name one and the same file or folder, however each is
// spelled (case, short names, "." and ".."): the same volume and file index,
// or, where either cannot be opened, the same full long path regardless of case.
bool SameFile(const char* first, const char* second);
// The full path, with long names where they can be found (what exists of it).
bool FullLongPath(const char* path, char* out, DWORD size);
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

// Writes length bytes as a new file of that name (reporting). The data go
// to a temporary file beside it first (see TQXNewFile): the name gets the
// file only once it is whole, and a file found at the name then is never
// replaced (the write fails with "File already exists!"). With wipe, what
// a failed write leaves is overwritten before it is removed.
bool WriteWholeFile(const char* path, const void* data, DWORD length, bool wipe = false);
// The same for a content that may be empty (length 0, data then may be
// null): an empty content gives an empty file.
bool WriteWholeContent(const char* path, const void* data, DWORD length, bool wipe = false);
// Copies a file to a new file of the name target, as WriteWholeFile writes
// one; the last-write time comes along (reporting).
bool CopyToNewFile(const char* source, const char* target, bool wipe = false);
// Overwrites the file in place with 0xFF, 0x00 and 0xAA; true at once for an
// empty or missing file.
bool WipeFile(const char* path);
// Deletes a file (wiped first with wipe); true without acting when it is absent.
// A file is wiped only once it is certain to go: one that cannot be deleted
// (held without delete sharing, not deletable by its rights) fails untouched,
// and any failure leaves its attributes as they were. A symbolic link is
// removed itself; what it leads to is never wiped.
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

// A new file that gets its name only once it is whole: Create makes an empty
// file under a free temporary name in the folder of the name ("~tvwXXXX.tmp",
// or a shorter one where the folder leaves less room; never the name
// itself), Write fills it, and Commit flushes it to the disk and renames it
// to the name, without replacing a file that appeared there meanwhile. A
// writer that is killed leaves at most the temporary file, never an
// incomplete file under the name. Whatever was not committed is removed by
// Discard and by the destructor (overwritten first with wipe). The calls do
// not report; ReportFailure reports the last failure as the file helper's
// write failure of the name.
class TQXNewFile {
public:
    TQXNewFile() = default;
    ~TQXNewFile() { Discard(); }
    TQXNewFile(const TQXNewFile&) = delete;
    TQXNewFile& operator=(const TQXNewFile&) = delete;

    bool Create(const char* path, bool wipe = false);
    bool Write(const void* data, uint64_t length);
    // Closes the temporary file for a writer that opens it by its path
    // (TemporaryPath); Commit opens it again to flush it.
    bool HandOver() { return file_.close(); }
    // replace: a file at the name may be replaced (only where the user has
    // agreed to replace it); otherwise the commit fails with
    // ERROR_ALREADY_EXISTS and that file stays as it is.
    bool Commit(bool replace = false);
    void Discard();
    // Whether Discard overwrites the file first (as Create was told).
    void WipeOnDiscard(bool wipe) { wipe_ = wipe; }
    HANDLE Handle() const { return file_.get(); }
    const char* TemporaryPath() const { return temp_; }
    bool ReportFailure();

private:
    bool Fail(const char* reason, DWORD code);

    qx::File file_;
    char target_[256] = "";
    char temp_[256] = "";  // empty once committed or discarded
    bool wipe_ = false;
    const char* reason_ = nullptr;
    DWORD code_ = 0;
};

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
