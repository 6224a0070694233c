// The file-system calls that stdio does not offer: 64-bit positions,
// truncation, replacing a file, and comparing names without case.
#include "ZipCore.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <sys/types.h>
#include <unistd.h>
#endif

namespace qxzip {

FILE* OpenFile(const char* path, const char* mode)
{
    FILE* f = fopen(path, mode);
    if (f)
        setvbuf(f, nullptr, _IOFBF, 1 << 18);
    return f;
}

bool SeekTo(FILE* f, uint64_t pos)
{
#ifdef _WIN32
    return _fseeki64(f, (__int64)pos, SEEK_SET) == 0;
#else
    return fseeko(f, (off_t)pos, SEEK_SET) == 0;
#endif
}

bool FileLength(FILE* f, uint64_t* size)
{
#ifdef _WIN32
    if (_fseeki64(f, 0, SEEK_END) != 0)
        return false;
    __int64 n = _ftelli64(f);
#else
    if (fseeko(f, 0, SEEK_END) != 0)
        return false;
    off_t n = ftello(f);
#endif
    if (n < 0)
        return false;
    *size = (uint64_t)n;
    return true;
}

bool TruncateFile(FILE* f, uint64_t size)
{
    if (fflush(f) != 0)
        return false;
#ifdef _WIN32
    return _chsize_s(_fileno(f), (__int64)size) == 0;
#else
    return ftruncate(fileno(f), (off_t)size) == 0;
#endif
}

bool ReplaceFileWith(const char* source, const char* target)
{
#ifdef _WIN32
    return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return rename(source, target) == 0;
#endif
}

void RemoveFile(const char* path) { remove(path); }

void ClearWriteError()
{
    errno = 0;
#ifdef _WIN32
    SetLastError(0);
#endif
}

bool WriteFailedForRoom()
{
    if (errno == ENOSPC)
        return true;
#ifdef _WIN32
    // A write that failed without a code of its own was short: the disk is full.
    DWORD code = GetLastError();
    return code == 0 || code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL;
#else
    return false;
#endif
}

void SetDiskFullError()
{
#ifdef _WIN32
    SetLastError(ERROR_DISK_FULL);
#endif
}

bool SameName(const std::string& a, const char* b, bool caseSensitive)
{
    size_t n = strlen(b);
    if (a.size() != n)
        return false;
    if (caseSensitive)
        return memcmp(a.data(), b, n) == 0;
#ifdef _WIN32
    // Upper-case both in the ANSI code page, so that letters beyond ASCII match too.
    std::string x = a, y(b, n);
    if (n) {
        CharUpperBuffA(&x[0], (DWORD)n);
        CharUpperBuffA(&y[0], (DWORD)n);
    }
    return x == y;
#else
    for (size_t i = 0; i < n; ++i)
        if (toupper((unsigned char)a[i]) != toupper((unsigned char)b[i]))
            return false;
    return true;
#endif
}

std::string UpperName(const std::string& name)
{
    std::string upper = name;
#ifdef _WIN32
    if (!upper.empty())
        CharUpperBuffA(&upper[0], (DWORD)upper.size());
#else
    for (char& c : upper)
        c = (char)toupper((unsigned char)c);
#endif
    return upper;
}

}  // namespace qxzip
