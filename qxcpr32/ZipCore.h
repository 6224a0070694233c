// The zip format itself: reading the central directory, writing entries and
// directories, dropping entries. Plain C++ over stdio and zlib, so that it
// builds natively as well as for Windows; the few file-system calls that
// stdio lacks live in ZipPlatform.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

#include <zlib.h>

namespace qxzip {

// Result codes shared with the exported interface.
enum : int {
    kOk = 0,
    kEndOfList = -100,
    kErrno = -1,
    kParamError = -102,
    kBadZipFile = -103,
    kInternalError = -104,
    kCrcError = -105,
};

// One central-directory record. Offsets are absolute positions in the file.
struct Entry {
    uint16_t versionMade = 20;
    uint16_t versionNeeded = 20;
    uint16_t flag = 0;
    uint16_t method = 0;
    uint32_t dosDate = 0;  // date in the high, time in the low half
    uint32_t crc = 0;
    uint32_t csize = 0;
    uint32_t usize = 0;
    uint16_t internalAttr = 0;
    uint32_t externalAttr = 0;
    uint64_t localOffset = 0;
    std::string name;
    std::string extra;
    std::string comment;
};

struct Directory {
    std::vector<Entry> entries;
    std::string comment;
    uint64_t cdStart = 0;   // where the central directory begins
    uint64_t fileSize = 0;
};

// Platform layer (ZipPlatform.cpp).
FILE* OpenFile(const char* path, const char* mode);
bool SeekTo(FILE* f, uint64_t pos);
bool FileLength(FILE* f, uint64_t* size);
bool TruncateFile(FILE* f, uint64_t size);
bool ReplaceFileWith(const char* source, const char* target);
void RemoveFile(const char* path);
// Before a write: no error is held. After a failed one: whether it ran out
// of room. A full disk as the thread's last error (where the platform has one).
void ClearWriteError();
bool WriteFailedForRoom();
void SetDiskFullError();
// Compares two entry names; ignores case unless caseSensitive.
bool SameName(const std::string& a, const char* b, bool caseSensitive);
// The name upper-cased as SameName compares it without case.
std::string UpperName(const std::string& name);

// Reads the end record and the central directory of an open archive.
int ReadDirectory(FILE* f, Directory* dir);

// Writes entries into a new archive or after those of an existing one.
class Writer {
public:
    ~Writer();
    // append 0 creates, 1 opens an existing archive; a removeName is dropped
    // first (rewrite beside, then replace). Null on failure.
    static Writer* Open(const char* path, int append, const char* removeName);

    int OpenEntry(const char* name, uint32_t dosDate, uint32_t externalAttr,
                  uint16_t internalAttr, const void* extraLocal, unsigned extraLocalSize,
                  const void* extraGlobal, unsigned extraGlobalSize, const char* comment,
                  int method, int level);
    int Write(const void* data, unsigned len);
    int CloseEntry();
    // Writes the directory and closes the file; the object is finished then.
    int Close(const char* comment);
    int Contains(const char* name, bool caseSensitive, int* found) const;

private:
    Writer() = default;
    void DiscardEntry();
    bool Put(const void* data, size_t len);
    bool FlushDeflate(int flush);

    FILE* f_ = nullptr;
    std::vector<Entry> entries_;
    std::unordered_set<std::string> upperNames_;  // of entries_, for Contains
    std::string comment_;
    uint64_t pos_ = 0;       // where the next entry or the directory starts
    uint64_t high_ = 0;      // the highest position written so far
    uint64_t filePos_ = UINT64_MAX;  // where the stream stands; unknown at first
    bool changed_ = false;   // something to write when closing
    bool failed_ = false;    // a write of the archive failed
    bool full_ = false;      // a write ran out of disk space
    // After a failed write: once the disk was found full, every later failure
    // of this archive says so.
    void NoteFailure();

    bool inEntry_ = false;
    bool entryFailed_ = false;
    bool deflating_ = false;  // the current entry is deflated through zs_
    // One deflate stream for the archive's life: reset for each entry, made
    // anew only for another level.
    bool zsReady_ = false;
    int zsLevel_ = 0;
    Entry cur_;
    z_stream zs_{};
    uint32_t crc_ = 0;
    uint64_t usize_ = 0;
    uint64_t csize_ = 0;
    std::vector<unsigned char> out_;
};

// Reads the entries of an archive one after the other.
class Reader {
public:
    ~Reader();
    static Reader* Open(const char* path);

    const Directory& directory() const { return dir_; }
    int GoToNext();
    const Entry* Current() const;
    int OpenCurrent();
    int Read(void* buf, unsigned len);
    int CloseCurrent();

private:
    Reader() = default;
    int Finish();

    FILE* f_ = nullptr;
    Directory dir_;
    size_t index_ = 0;

    bool open_ = false;
    bool inflating_ = false;
    bool streamEnd_ = false;
    bool broken_ = false;
    z_stream zs_{};
    uint64_t remainingIn_ = 0;
    uint64_t out_ = 0;
    uint32_t crc_ = 0;
    std::vector<unsigned char> in_;
};

// DOS date and time (date high, time low) from calendar fields; the year may
// be given in full or counted from 1900.
uint32_t DosDateFromFields(unsigned year, unsigned month0, unsigned day, unsigned hour,
                           unsigned minute, unsigned second);

}  // namespace qxzip
