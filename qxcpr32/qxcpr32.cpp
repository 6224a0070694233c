// The exported entry points of qxcpr32: thin C wrappers over the zip core.
// No exception leaves the library; a failed allocation becomes an error code.
// Each entry point is a boundary (qx::AtBoundary): what the zip core throws
// becomes the entry point's error code. The library keeps no error record of
// its own; its callers report the code.
#ifndef QXCPR32_BUILD
#define QXCPR32_BUILD
#endif
#include "qxcpr32.h"

#include "QXBoundary.h"
#include "ZipCore.h"

#include <cstring>
#include <new>

using qxzip::Reader;
using qxzip::Writer;

namespace {

Writer* W(zipFile f) { return static_cast<Writer*>(f); }
Reader* R(unzFile f) { return static_cast<Reader*>(f); }

void FillDate(tm_unz* t, uint32_t dos)
{
    uint32_t date = dos >> 16, time = dos & 0xFFFF;
    t->tm_sec = (time & 0x1F) * 2;
    t->tm_min = (time >> 5) & 0x3F;
    t->tm_hour = time >> 11;
    t->tm_mday = date & 0x1F;
    t->tm_mon = ((date >> 5) & 0x0F) ? ((date >> 5) & 0x0F) - 1 : 0;
    t->tm_year = (date >> 9) + 1980;
}

// Copies bytes into a caller's buffer; false when they do not fit (with the
// terminator for texts).
bool Fits(const std::string& s, void* buf, unsigned long size, bool text)
{
    if (!buf)
        return true;
    unsigned long need = (unsigned long)s.size() + (text ? 1 : 0);
    if (need > size)
        return false;
    memcpy(buf, s.data(), s.size());
    if (text)
        static_cast<char*>(buf)[s.size()] = '\0';
    return true;
}

}  // namespace

extern "C" {

zipFile zipOpen(const char* pathname, int append, const char* remove_name)
{
    return qx::AtBoundary<zipFile>(
        nullptr, [&]() -> zipFile { return Writer::Open(pathname, append, remove_name); });
}

int zipOpenNewFileInZip(zipFile file, const char* filename, const zip_fileinfo* zipfi,
                        const void* extrafield_local, unsigned int size_extrafield_local,
                        const void* extrafield_global, unsigned int size_extrafield_global,
                        const char* comment, int method, int level)
{
    if (!file)
        return ZIP_PARAMERROR;
    return qx::AtBoundary(ZIP_INTERNALERROR, [&] {
        uint32_t dos = 0, external = 0;
        uint16_t internal = 0;
        if (zipfi) {
            dos = (uint32_t)zipfi->dosDate;
            if (dos == 0) {
                const tm_zip& t = zipfi->tmz_date;
                dos = qxzip::DosDateFromFields(t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour,
                                               t.tm_min, t.tm_sec);
            }
            external = (uint32_t)zipfi->external_fa;
            internal = (uint16_t)zipfi->internal_fa;
        }
        return W(file)->OpenEntry(filename, dos, external, internal, extrafield_local,
                                  size_extrafield_local, extrafield_global, size_extrafield_global,
                                  comment, method, level);
    });
}

int zipWriteInFileInZip(zipFile file, const void* buf, unsigned int len)
{
    if (!file)
        return ZIP_PARAMERROR;
    return qx::AtBoundary(ZIP_INTERNALERROR, [&] { return W(file)->Write(buf, len); });
}

int zipCloseFileInZip(zipFile file)
{
    if (!file)
        return ZIP_PARAMERROR;
    return qx::AtBoundary(ZIP_INTERNALERROR, [&] { return W(file)->CloseEntry(); });
}

int zipClose(zipFile file, const char* global_comment)
{
    if (!file)
        return ZIP_PARAMERROR;
    int r = qx::AtBoundary(ZIP_INTERNALERROR, [&] { return W(file)->Close(global_comment); });
    delete W(file);
    return r;
}

int IsInZipFileInZip(zipFile file, const char* filename, int case_sensitivity, int* found)
{
    if (!file)
        return ZIP_PARAMERROR;
    return qx::AtBoundary(ZIP_INTERNALERROR, [&] {
        return W(file)->Contains(filename, case_sensitivity == 1, found);
    });
}

unzFile unzOpen(const char* path)
{
    return qx::AtBoundary<unzFile>(nullptr, [&]() -> unzFile { return Reader::Open(path); });
}

int unzClose(unzFile file)
{
    if (!file)
        return UNZ_PARAMERROR;
    delete R(file);
    return UNZ_OK;
}

int unzGetGlobalInfo(unzFile file, unz_global_info* info)
{
    if (!file || !info)
        return UNZ_PARAMERROR;
    info->number_entry = (unsigned long)R(file)->directory().entries.size();
    info->size_comment = (unsigned long)R(file)->directory().comment.size();
    return UNZ_OK;
}

int unzGoToNextFile(unzFile file)
{
    if (!file)
        return UNZ_PARAMERROR;
    return qx::AtBoundary(UNZ_INTERNALERROR, [&] { return R(file)->GoToNext(); });
}

int unzGetCurrentFileInfo(unzFile file, unz_file_info* info, char* filename,
                          unsigned long filename_size, void* extra, unsigned long extra_size,
                          char* comment, unsigned long comment_size)
{
    if (!file)
        return UNZ_PARAMERROR;
    const qxzip::Entry* e = R(file)->Current();
    if (!e)
        return UNZ_END_OF_LIST_OF_FILE;
    if (!Fits(e->name, filename, filename_size, true) ||
        !Fits(e->extra, extra, extra_size, false) ||
        !Fits(e->comment, comment, comment_size, true))
        return UNZ_PARAMERROR;
    if (info) {
        memset(info, 0, sizeof *info);
        info->version = e->versionMade;
        info->version_needed = e->versionNeeded;
        info->flag = e->flag;
        info->compression_method = e->method;
        info->dosDate = e->dosDate;
        info->crc = e->crc;
        info->compressed_size = e->csize;
        info->uncompressed_size = e->usize;
        info->size_filename = (unsigned long)e->name.size();
        info->size_file_extra = (unsigned long)e->extra.size();
        info->size_file_comment = (unsigned long)e->comment.size();
        info->disk_num_start = 0;
        info->internal_fa = e->internalAttr;
        info->external_fa = e->externalAttr;
        FillDate(&info->tmu_date, e->dosDate);
    }
    return UNZ_OK;
}

int unzOpenCurrentFile(unzFile file)
{
    if (!file)
        return UNZ_PARAMERROR;
    return qx::AtBoundary(UNZ_INTERNALERROR, [&] { return R(file)->OpenCurrent(); });
}

int unzReadCurrentFile(unzFile file, void* buf, unsigned int len)
{
    if (!file)
        return UNZ_PARAMERROR;
    return qx::AtBoundary(UNZ_INTERNALERROR, [&] { return R(file)->Read(buf, len); });
}

int unzCloseCurrentFile(unzFile file)
{
    if (!file)
        return UNZ_PARAMERROR;
    return qx::AtBoundary(UNZ_INTERNALERROR, [&] { return R(file)->CloseCurrent(); });
}

}  // extern "C"
