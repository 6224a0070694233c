// Zip archives: local headers patched after the data (no data descriptors
// are written), a central directory and an end record with the comment.
// No zip64: entries, sizes and offsets must fit the classic fields.
#include "ZipCore.h"

#include "QXHandles.h"

#include <cstring>
#include <memory>

namespace qxzip {

namespace {

const uint32_t kLocalSig = 0x04034b50;
const uint32_t kCentralSig = 0x02014b50;
const uint32_t kEndSig = 0x06054b50;
const uint32_t kDescriptorSig = 0x08074b50;
const uint32_t kZip64LocatorSig = 0x07064b50;
const uint64_t kMax32 = 0xFFFFFFFFull;
const size_t kMaxEntries = 0xFFFF;
const size_t kChunk = 1 << 16;

uint16_t Get16(const unsigned char* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
uint32_t Get32(const unsigned char* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) |
           ((uint32_t)p[3] << 24);
}

void Add16(std::string& s, uint32_t v)
{
    s.push_back((char)(v & 0xFF));
    s.push_back((char)((v >> 8) & 0xFF));
}
void Add32(std::string& s, uint32_t v)
{
    Add16(s, v & 0xFFFF);
    Add16(s, v >> 16);
}

bool ReadAt(FILE* f, uint64_t pos, void* buf, size_t len)
{
    return SeekTo(f, pos) && fread(buf, 1, len, f) == len;
}

std::string LocalHeader(const Entry& e, const std::string& localExtra)
{
    std::string h;
    Add32(h, kLocalSig);
    Add16(h, e.versionNeeded);
    Add16(h, e.flag);
    Add16(h, e.method);
    Add16(h, e.dosDate & 0xFFFF);
    Add16(h, e.dosDate >> 16);
    Add32(h, e.crc);
    Add32(h, e.csize);
    Add32(h, e.usize);
    Add16(h, (uint32_t)e.name.size());
    Add16(h, (uint32_t)localExtra.size());
    h += e.name;
    h += localExtra;
    return h;
}

// The central directory and the end record for entries, written at start.
std::string DirectoryBytes(const std::vector<Entry>& entries, const std::string& comment,
                           uint64_t start)
{
    std::string d;
    for (const Entry& e : entries) {
        Add32(d, kCentralSig);
        Add16(d, e.versionMade);
        Add16(d, e.versionNeeded);
        Add16(d, e.flag);
        Add16(d, e.method);
        Add16(d, e.dosDate & 0xFFFF);
        Add16(d, e.dosDate >> 16);
        Add32(d, e.crc);
        Add32(d, e.csize);
        Add32(d, e.usize);
        Add16(d, (uint32_t)e.name.size());
        Add16(d, (uint32_t)e.extra.size());
        Add16(d, (uint32_t)e.comment.size());
        Add16(d, 0);  // disk number start
        Add16(d, e.internalAttr);
        Add32(d, e.externalAttr);
        Add32(d, (uint32_t)e.localOffset);
        d += e.name;
        d += e.extra;
        d += e.comment;
    }
    uint64_t size = d.size();
    Add32(d, kEndSig);
    Add16(d, 0);
    Add16(d, 0);
    Add16(d, (uint32_t)entries.size());
    Add16(d, (uint32_t)entries.size());
    Add32(d, (uint32_t)size);
    Add32(d, (uint32_t)start);
    Add16(d, (uint32_t)comment.size());
    d += comment;
    return d;
}

bool FitsClassic(const std::vector<Entry>& entries, uint64_t start)
{
    if (entries.size() > kMaxEntries || start > kMax32)
        return false;
    uint64_t size = 0;
    for (const Entry& e : entries)
        size += 46 + e.name.size() + e.extra.size() + e.comment.size();
    return size <= kMax32;
}

// Where an entry's stored bytes begin and how long its local part is, with
// a trailing data descriptor when the entry has one.
bool LocalSpan(FILE* f, const Entry& e, uint64_t limit, uint64_t* dataStart, uint64_t* span)
{
    unsigned char h[30];
    if (!ReadAt(f, e.localOffset, h, sizeof h) || Get32(h) != kLocalSig)
        return false;
    uint64_t start = e.localOffset + 30 + Get16(h + 26) + Get16(h + 28);
    uint64_t end = start + e.csize;
    if (end > limit)
        return false;
    if (e.flag & 8) {
        unsigned char s[4];
        if (end + 12 <= limit && ReadAt(f, end, s, 4))
            end += (Get32(s) == kDescriptorSig && end + 16 <= limit) ? 16 : 12;
    }
    *dataStart = start;
    *span = end - e.localOffset;
    return true;
}

bool CopyBytes(FILE* from, uint64_t pos, uint64_t len, FILE* to)
{
    if (!SeekTo(from, pos))
        return false;
    std::vector<char> buf(kChunk);
    while (len > 0) {
        size_t n = len < kChunk ? (size_t)len : kChunk;
        if (fread(buf.data(), 1, n, from) != n || fwrite(buf.data(), 1, n, to) != n)
            return false;
        len -= n;
    }
    return true;
}

// Writes the archive without the entries of that name beside it, then puts
// it in the place of the original. No match leaves the file untouched.
bool DropEntries(const char* path, const char* name)
{
    qx::StdFile src(OpenFile(path, "rb"));
    if (!src)
        return false;
    Directory dir;
    if (ReadDirectory(src.get(), &dir) != kOk)
        return false;
    bool any = false;
    for (const Entry& e : dir.entries)
        any = any || SameName(e.name, name, false);
    if (!any)
        return true;
    std::string temp = std::string(path) + ".qx~";
    qx::StdFile dst(OpenFile(temp.c_str(), "wb"));
    if (!dst)
        return false;
    bool ok = true;
    std::vector<Entry> kept;
    uint64_t pos = 0;
    for (const Entry& e : dir.entries) {
        if (SameName(e.name, name, false))
            continue;
        uint64_t data, span;
        if (!LocalSpan(src.get(), e, dir.cdStart, &data, &span) ||
            !CopyBytes(src.get(), e.localOffset, span, dst.get())) {
            ok = false;
            break;
        }
        Entry k = e;
        k.localOffset = pos;
        pos += span;
        kept.push_back(k);
    }
    if (ok) {
        std::string d = DirectoryBytes(kept, dir.comment, pos);
        ok = fwrite(d.data(), 1, d.size(), dst.get()) == d.size();
    }
    ok = (fflush(dst.get()) == 0) && ok;
    ok = dst.close() && ok;
    src.reset();
    if (ok)
        ok = ReplaceFileWith(temp.c_str(), path);
    if (!ok)
        RemoveFile(temp.c_str());
    return ok;
}

}  // namespace

uint32_t DosDateFromFields(unsigned year, unsigned month0, unsigned day, unsigned hour,
                           unsigned minute, unsigned second)
{
    if (year >= 1980)
        year -= 1980;
    else if (year >= 80)
        year -= 80;
    uint32_t date = (uint32_t)(((day & 0x1F)) | (((month0 + 1) & 0x0F) << 5) | ((year & 0x7F) << 9));
    uint32_t time = (uint32_t)(((second / 2) & 0x1F) | ((minute & 0x3F) << 5) | ((hour & 0x1F) << 11));
    return (date << 16) | time;
}

int ReadDirectory(FILE* f, Directory* dir)
{
    *dir = Directory();
    uint64_t size;
    if (!FileLength(f, &size))
        return kErrno;
    if (size < 22)
        return kBadZipFile;
    size_t tailLen = (size_t)(size < 22 + 0xFFFF ? size : 22 + 0xFFFF);
    std::vector<unsigned char> tail(tailLen);
    uint64_t tailPos = size - tailLen;
    if (!ReadAt(f, tailPos, tail.data(), tailLen))
        return kErrno;
    // The end record is the last one whose comment fits in the file.
    long at = -1;
    for (long i = (long)tailLen - 22; i >= 0; --i) {
        if (Get32(&tail[i]) == kEndSig && (size_t)i + 22 + Get16(&tail[i + 20]) <= tailLen) {
            at = i;
            break;
        }
    }
    if (at < 0)
        return kBadZipFile;
    const unsigned char* e = &tail[at];
    uint64_t endPos = tailPos + at;
    uint32_t count = Get16(e + 10);
    uint32_t cdSize = Get32(e + 12);
    uint32_t cdOffset = Get32(e + 16);
    if (Get16(e + 4) != 0 || Get16(e + 6) != 0 || Get16(e + 8) != count)
        return kBadZipFile;  // spanned archives
    if (at >= 20 && Get32(&tail[at - 20]) == kZip64LocatorSig)
        return kBadZipFile;  // zip64
    if (cdSize > endPos || endPos - cdSize < cdOffset)
        return kBadZipFile;
    uint64_t cdStart = endPos - cdSize;
    uint64_t shift = cdStart - cdOffset;  // bytes in front of the archive
    dir->comment.assign((const char*)e + 22, Get16(e + 20));

    std::vector<unsigned char> cd(cdSize);
    if (cdSize && !ReadAt(f, cdStart, cd.data(), cdSize))
        return kErrno;
    size_t p = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (p + 46 > cd.size() || Get32(&cd[p]) != kCentralSig)
            return kBadZipFile;
        const unsigned char* c = &cd[p];
        Entry x;
        x.versionMade = Get16(c + 4);
        x.versionNeeded = Get16(c + 6);
        x.flag = Get16(c + 8);
        x.method = Get16(c + 10);
        x.dosDate = ((uint32_t)Get16(c + 14) << 16) | Get16(c + 12);
        x.crc = Get32(c + 16);
        x.csize = Get32(c + 20);
        x.usize = Get32(c + 24);
        size_t n = Get16(c + 28), m = Get16(c + 30), k = Get16(c + 32);
        x.internalAttr = Get16(c + 36);
        x.externalAttr = Get32(c + 38);
        uint32_t off = Get32(c + 42);
        if (p + 46 + n + m + k > cd.size())
            return kBadZipFile;
        if (x.csize == kMax32 || x.usize == kMax32 || off == kMax32 || Get16(c + 34) != 0)
            return kBadZipFile;  // zip64 or spanned
        x.name.assign((const char*)c + 46, n);
        x.extra.assign((const char*)c + 46 + n, m);
        x.comment.assign((const char*)c + 46 + n + m, k);
        if (x.name.empty() || x.name.find('\0') != std::string::npos)
            return kBadZipFile;
        x.localOffset = off + shift;
        if (x.localOffset + 30 > cdStart)
            return kBadZipFile;
        dir->entries.push_back(std::move(x));
        p += 46 + n + m + k;
    }
    dir->cdStart = cdStart;
    dir->fileSize = size;
    return kOk;
}

// ---------------------------------------------------------------- Writer

Writer::~Writer()
{
    if (zsReady_)
        deflateEnd(&zs_);
    if (f_)
        fclose(f_);
}

Writer* Writer::Open(const char* path, int append, const char* removeName)
{
    if (!path || !*path || (append != 0 && append != 1))
        return nullptr;
    if (append && removeName && *removeName && !DropEntries(path, removeName))
        return nullptr;
    std::unique_ptr<Writer> w(new Writer());
    if (!append) {
        w->f_ = OpenFile(path, "w+b");
        if (!w->f_)
            return nullptr;
        w->changed_ = true;  // a new archive always gets its directory
        return w.release();
    }
    w->f_ = OpenFile(path, "r+b");
    if (!w->f_)
        return nullptr;
    Directory dir;
    if (ReadDirectory(w->f_, &dir) != kOk)
        return nullptr;
    // New entries go behind everything present, so that the archive stays
    // readable as it was until the new directory has been written.
    w->entries_ = std::move(dir.entries);
    for (const Entry& e : w->entries_)
        w->upperNames_.insert(UpperName(e.name));
    w->comment_ = std::move(dir.comment);
    w->pos_ = w->high_ = dir.fileSize;
    return w.release();
}

void Writer::NoteFailure()
{
    if (WriteFailedForRoom())
        full_ = true;
    if (full_)
        SetDiskFullError();
}

bool Writer::Put(const void* data, size_t len)
{
    if (len == 0)
        return true;
    ClearWriteError();
    // A seek empties the stdio buffer: only when the position changes.
    if (filePos_ != pos_) {
        if (!SeekTo(f_, pos_)) {
            NoteFailure();  // the seek writes out what the buffer holds
            return false;
        }
        filePos_ = pos_;
    }
    if (fwrite(data, 1, len, f_) != len) {
        NoteFailure();
        filePos_ = UINT64_MAX;
        return false;
    }
    pos_ += len;
    filePos_ = pos_;
    if (pos_ > high_)
        high_ = pos_;
    return true;
}

void Writer::DiscardEntry()
{
    deflating_ = false;  // the stream is reset when the next entry starts
    if (inEntry_)
        pos_ = cur_.localOffset;  // the next entry or the directory overwrites it
    inEntry_ = false;
    entryFailed_ = false;
}

int Writer::OpenEntry(const char* name, uint32_t dosDate, uint32_t externalAttr,
                      uint16_t internalAttr, const void* extraLocal, unsigned extraLocalSize,
                      const void* extraGlobal, unsigned extraGlobalSize, const char* comment,
                      int method, int level)
{
    if (inEntry_)
        DiscardEntry();
    if (!name || !*name || (method != 0 && method != Z_DEFLATED))
        return kParamError;
    if (level < -1 || level > 9)
        return kParamError;
    size_t nameLen = strlen(name);
    size_t commentLen = comment ? strlen(comment) : 0;
    if (nameLen > 0xFFFF || commentLen > 0xFFFF || extraLocalSize > 0xFFFF ||
        extraGlobalSize > 0xFFFF || (extraLocalSize && !extraLocal) ||
        (extraGlobalSize && !extraGlobal))
        return kParamError;
    if (entries_.size() >= kMaxEntries || pos_ > kMax32)
        return kParamError;

    cur_ = Entry();
    cur_.name.assign(name, nameLen);
    if (comment)
        cur_.comment.assign(comment, commentLen);
    if (extraGlobalSize)
        cur_.extra.assign((const char*)extraGlobal, extraGlobalSize);
    std::string localExtra;
    if (extraLocalSize)
        localExtra.assign((const char*)extraLocal, extraLocalSize);
    cur_.method = (uint16_t)method;
    cur_.versionNeeded = method ? 20 : 10;
    cur_.versionMade = 20;  // made by the FAT host: attributes are DOS attributes
    cur_.dosDate = dosDate;
    cur_.internalAttr = internalAttr;
    cur_.externalAttr = externalAttr;
    if (cur_.name.back() == '/')
        cur_.externalAttr |= 0x10;  // a folder
    if (method == Z_DEFLATED) {
        if (level == 8 || level == 9)
            cur_.flag |= 2;
        else if (level == 2)
            cur_.flag |= 4;
        else if (level == 1)
            cur_.flag |= 6;
    }
    cur_.localOffset = pos_;

    inEntry_ = true;
    entryFailed_ = false;
    crc_ = (uint32_t)crc32(0L, Z_NULL, 0);
    usize_ = csize_ = 0;
    std::string header = LocalHeader(cur_, localExtra);
    if (!Put(header.data(), header.size())) {
        failed_ = true;
        DiscardEntry();
        return kErrno;
    }
    if (method == Z_DEFLATED) {
        bool ready = zsReady_ && zsLevel_ == level && deflateReset(&zs_) == Z_OK;
        if (!ready) {
            if (zsReady_)
                deflateEnd(&zs_);
            zsReady_ = false;
            zs_ = z_stream();
            if (deflateInit2(&zs_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
                Z_OK) {
                DiscardEntry();
                return kInternalError;
            }
            zsReady_ = true;
            zsLevel_ = level;
        }
        deflating_ = true;
        if (out_.size() < kChunk)
            out_.resize(kChunk);
    }
    return kOk;
}

bool Writer::FlushDeflate(int flush)
{
    for (;;) {
        zs_.next_out = out_.data();
        zs_.avail_out = (uInt)out_.size();
        int r = deflate(&zs_, flush);
        if (r == Z_STREAM_ERROR)
            return false;
        size_t n = out_.size() - zs_.avail_out;
        if (n) {
            csize_ += n;
            if (!Put(out_.data(), n)) {
                failed_ = true;
                return false;
            }
        }
        if (flush == Z_FINISH) {
            if (r == Z_STREAM_END)
                return true;
        } else if (zs_.avail_in == 0 && zs_.avail_out != 0) {
            return true;
        }
    }
}

int Writer::Write(const void* data, unsigned len)
{
    if (!inEntry_ || (!data && len))
        return kParamError;
    if (entryFailed_) {
        if (full_)
            SetDiskFullError();
        return kErrno;
    }
    if (len == 0)
        return kOk;
    if (usize_ + len > kMax32) {
        entryFailed_ = true;
        return kParamError;
    }
    usize_ += len;
    if (deflating_) {
        // Piece by piece, so that deflate reads each piece while the CRC has
        // just brought it into the cache.
        const Bytef* p = (const Bytef*)data;
        for (unsigned left = len; left > 0;) {
            unsigned n = left < kChunk ? left : (unsigned)kChunk;
            crc_ = (uint32_t)crc32(crc_, p, n);
            zs_.next_in = (Bytef*)p;
            zs_.avail_in = n;
            if (!FlushDeflate(Z_NO_FLUSH)) {
                entryFailed_ = true;
                return kErrno;
            }
            p += n;
            left -= n;
        }
    } else {
        crc_ = (uint32_t)crc32(crc_, (const Bytef*)data, len);
        csize_ += len;
        if (!Put(data, len)) {
            failed_ = true;
            entryFailed_ = true;
            return kErrno;
        }
    }
    return kOk;
}

int Writer::CloseEntry()
{
    if (!inEntry_)
        return kParamError;
    if (entryFailed_) {
        DiscardEntry();
        if (full_)
            SetDiskFullError();
        return kErrno;
    }
    if (deflating_) {
        zs_.next_in = nullptr;
        zs_.avail_in = 0;
        bool ok = FlushDeflate(Z_FINISH);
        deflating_ = false;
        if (!ok) {
            DiscardEntry();
            return kErrno;
        }
    }
    if (csize_ > kMax32 || pos_ > kMax32) {
        DiscardEntry();
        return kParamError;
    }
    cur_.crc = crc_;
    cur_.csize = (uint32_t)csize_;
    cur_.usize = (uint32_t)usize_;
    // Patch sizes and CRC into the local header.
    std::string fix;
    Add32(fix, cur_.crc);
    Add32(fix, cur_.csize);
    Add32(fix, cur_.usize);
    uint64_t end = pos_;
    pos_ = cur_.localOffset + 14;
    bool ok = Put(fix.data(), fix.size());
    pos_ = end;
    if (!ok) {
        failed_ = true;
        DiscardEntry();
        return kErrno;
    }
    inEntry_ = false;
    entries_.push_back(cur_);
    upperNames_.insert(UpperName(cur_.name));
    changed_ = true;
    return kOk;
}

int Writer::Contains(const char* name, bool caseSensitive, int* found) const
{
    if (!name || !found)
        return kParamError;
    *found = 0;
    if (!caseSensitive) {
        *found = upperNames_.count(UpperName(name)) ? 1 : 0;
        return kOk;
    }
    for (const Entry& e : entries_)
        if (SameName(e.name, name, true)) {
            *found = 1;
            break;
        }
    return kOk;
}

int Writer::Close(const char* comment)
{
    if (inEntry_)
        DiscardEntry();
    if (comment) {
        size_t n = strlen(comment);
        if (n > 0xFFFF) {
            failed_ = true;  // does not fit the end record
        } else {
            comment_.assign(comment, n);
            changed_ = true;
        }
    }
    bool ok = !failed_;
    if (ok && changed_) {
        if (!FitsClassic(entries_, pos_)) {
            ok = false;
        } else {
            std::string d = DirectoryBytes(entries_, comment_, pos_);
            ok = Put(d.data(), d.size());
            if (ok && high_ > pos_)
                ok = TruncateFile(f_, pos_);
        }
    }
    ClearWriteError();
    bool closed = fflush(f_) == 0;
    closed = fclose(f_) == 0 && closed;
    if (!closed)
        NoteFailure();
    else if (!ok && full_)
        SetDiskFullError();
    ok = closed && ok;
    f_ = nullptr;
    return ok ? kOk : kErrno;
}

// ---------------------------------------------------------------- Reader

Reader::~Reader()
{
    if (inflating_)
        inflateEnd(&zs_);
    if (f_)
        fclose(f_);
}

Reader* Reader::Open(const char* path)
{
    if (!path || !*path)
        return nullptr;
    std::unique_ptr<Reader> r(new Reader());
    r->f_ = OpenFile(path, "rb");
    if (!r->f_)
        return nullptr;
    if (ReadDirectory(r->f_, &r->dir_) != kOk)
        return nullptr;
    return r.release();
}

const Entry* Reader::Current() const
{
    return index_ < dir_.entries.size() ? &dir_.entries[index_] : nullptr;
}

int Reader::GoToNext()
{
    CloseCurrent();
    if (index_ + 1 >= dir_.entries.size()) {
        index_ = dir_.entries.size();
        return kEndOfList;
    }
    ++index_;
    return kOk;
}

int Reader::OpenCurrent()
{
    CloseCurrent();
    const Entry* e = Current();
    if (!e)
        return kParamError;
    if ((e->flag & 1) || (e->method != 0 && e->method != Z_DEFLATED))
        return kBadZipFile;  // encrypted, or a method we do not have
    if (e->method == 0 && e->csize != e->usize)
        return kBadZipFile;
    uint64_t data, span;
    if (!LocalSpan(f_, *e, dir_.cdStart, &data, &span) || !SeekTo(f_, data))
        return kBadZipFile;
    remainingIn_ = e->csize;
    out_ = 0;
    crc_ = (uint32_t)crc32(0L, Z_NULL, 0);
    streamEnd_ = false;
    broken_ = false;
    if (e->method == Z_DEFLATED) {
        zs_ = z_stream();
        if (inflateInit2(&zs_, -MAX_WBITS) != Z_OK)
            return kInternalError;
        inflating_ = true;
        in_.resize(kChunk);
    }
    open_ = true;
    return kOk;
}

// The end of an entry: its CRC-32 and size must be what the directory says.
int Reader::Finish()
{
    const Entry* e = Current();
    if (out_ != e->usize || crc_ != e->crc) {
        broken_ = true;
        return kCrcError;
    }
    return kOk;
}

int Reader::Read(void* buf, unsigned len)
{
    if (!open_ || (!buf && len))
        return kParamError;
    if (broken_)
        return kBadZipFile;
    if (len == 0)
        return 0;
    if (len > 0x7FFFFFFF)
        len = 0x7FFFFFFF;
    const Entry* e = Current();
    size_t produced = 0;
    if (!inflating_) {
        size_t n = remainingIn_ < len ? (size_t)remainingIn_ : len;
        if (n == 0)
            return Finish();
        if (fread(buf, 1, n, f_) != n) {
            broken_ = true;
            return kErrno;
        }
        remainingIn_ -= n;
        produced = n;
    } else {
        zs_.next_out = (Bytef*)buf;
        zs_.avail_out = len;
        while (zs_.avail_out == len && !streamEnd_) {
            if (zs_.avail_in == 0 && remainingIn_ > 0) {
                size_t n = remainingIn_ < in_.size() ? (size_t)remainingIn_ : in_.size();
                if (fread(in_.data(), 1, n, f_) != n) {
                    broken_ = true;
                    return kErrno;
                }
                remainingIn_ -= n;
                zs_.next_in = in_.data();
                zs_.avail_in = (uInt)n;
            }
            int r = inflate(&zs_, Z_NO_FLUSH);
            if (r == Z_STREAM_END) {
                streamEnd_ = true;
            } else if (r == Z_BUF_ERROR) {
                if (zs_.avail_in != 0 || remainingIn_ == 0) {
                    broken_ = true;  // the compressed data end too early
                    return kBadZipFile;
                }
            } else if (r != Z_OK) {
                broken_ = true;
                return kBadZipFile;
            }
        }
        produced = len - zs_.avail_out;
        if (produced == 0)
            return Finish();
    }
    crc_ = (uint32_t)crc32(crc_, (const Bytef*)buf, (uInt)produced);
    out_ += produced;
    if (out_ > e->usize) {
        broken_ = true;
        return kCrcError;
    }
    return (int)produced;
}

int Reader::CloseCurrent()
{
    if (inflating_) {
        inflateEnd(&zs_);
        inflating_ = false;
    }
    bool was = open_;
    open_ = false;
    return was ? kOk : kParamError;
}

}  // namespace qxzip
