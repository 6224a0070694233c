/* qxcpr32: reading and writing zip archives (deflate and stored entries,
 * no zip64). The entry points keep the well-known argument lists of the
 * classic zip/unzip C interface, plus IsInZipFileInZip and a third argument
 * of zipOpen that names an entry to drop. */
#ifndef QXCPR32_H
#define QXCPR32_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#  if defined(QXCPR32_BUILD)
#    define QXCPR32_API __declspec(dllexport)
#  elif defined(QXCPR32_STATIC)
#    define QXCPR32_API
#  else
#    define QXCPR32_API __declspec(dllimport)
#  endif
#else
#  define QXCPR32_API
#endif

typedef void* zipFile;
typedef void* unzFile;

/* Results of the writing calls. */
#define ZIP_OK            0
#define ZIP_EOF           0
#define ZIP_ERRNO         (-1)
#define ZIP_PARAMERROR    (-102)
#define ZIP_BADZIPFILE    (-103)
#define ZIP_INTERNALERROR (-104)

/* Results of the reading calls. */
#define UNZ_OK                  0
#define UNZ_EOF                 0
#define UNZ_END_OF_LIST_OF_FILE (-100)
#define UNZ_ERRNO               (-1)
#define UNZ_PARAMERROR          (-102)
#define UNZ_BADZIPFILE          (-103)
#define UNZ_INTERNALERROR       (-104)
#define UNZ_CRCERROR            (-105)

/* Compression methods of an entry. */
#define QX_STORED   0
#define QX_DEFLATED 8

/* Date fields of an entry: seconds 0-59, minutes 0-59, hours 0-23, day of
 * month 1-31, month 0-11, full year (e.g. 2024). */
typedef struct tm_zip_s {
    unsigned int tm_sec;
    unsigned int tm_min;
    unsigned int tm_hour;
    unsigned int tm_mday;
    unsigned int tm_mon;
    unsigned int tm_year;
} tm_zip;

typedef struct {
    tm_zip tmz_date;         /* used when dosDate is 0 */
    unsigned long dosDate;   /* DOS date in the high, DOS time in the low 16 bits */
    unsigned long internal_fa;
    unsigned long external_fa;
} zip_fileinfo;

typedef struct tm_unz_s {
    unsigned int tm_sec;
    unsigned int tm_min;
    unsigned int tm_hour;
    unsigned int tm_mday;
    unsigned int tm_mon;
    unsigned int tm_year;
} tm_unz;

typedef struct unz_global_info_s {
    unsigned long number_entry; /* entries in the central directory */
    unsigned long size_comment; /* length of the archive comment */
} unz_global_info;

typedef struct unz_file_info_s {
    unsigned long version;
    unsigned long version_needed;
    unsigned long flag;
    unsigned long compression_method;
    unsigned long dosDate;
    unsigned long crc;
    unsigned long compressed_size;
    unsigned long uncompressed_size;
    unsigned long size_filename;
    unsigned long size_file_extra;
    unsigned long size_file_comment;
    unsigned long disk_num_start;
    unsigned long internal_fa;
    unsigned long external_fa;
    tm_unz tmu_date;
} unz_file_info;

/* append 0: a new archive at the path. append 1: the existing archive, new
 * entries follow the present ones. With append 1 and remove_name non-null the
 * entries of that name are dropped (the archive is rewritten beside itself and
 * then replaced) before the handle is handed out. */
QXCPR32_API zipFile zipOpen(const char* pathname, int append, const char* remove_name);
/* An entry still open is discarded when the next one starts. method 0 stored,
 * 8 deflated; level -1 is the default level. */
QXCPR32_API int zipOpenNewFileInZip(zipFile file, const char* filename,
                                    const zip_fileinfo* zipfi,
                                    const void* extrafield_local, unsigned int size_extrafield_local,
                                    const void* extrafield_global, unsigned int size_extrafield_global,
                                    const char* comment, int method, int level);
QXCPR32_API int zipWriteInFileInZip(zipFile file, const void* buf, unsigned int len);
QXCPR32_API int zipCloseFileInZip(zipFile file);
/* Writes the central directory and closes the file. A null comment keeps the
 * archive's present comment. An entry still open is discarded. Non-zero when
 * any write failed. */
QXCPR32_API int zipClose(zipFile file, const char* global_comment);
/* *found := 1 when the archive (old and new entries) holds an entry of that
 * name. case_sensitivity 1 compares exactly; 0 and 2 ignore case. */
QXCPR32_API int IsInZipFileInZip(zipFile file, const char* filename, int case_sensitivity,
                                 int* found);

QXCPR32_API unzFile unzOpen(const char* path);
QXCPR32_API int unzClose(unzFile file);
QXCPR32_API int unzGetGlobalInfo(unzFile file, unz_global_info* info);
QXCPR32_API int unzGoToNextFile(unzFile file);
/* A name, extra field or comment that does not fit its buffer (with the
 * terminator for texts) is an error, never cut. Null buffers are skipped. */
QXCPR32_API int unzGetCurrentFileInfo(unzFile file, unz_file_info* info,
                                      char* filename, unsigned long filename_size,
                                      void* extra, unsigned long extra_size,
                                      char* comment, unsigned long comment_size);
QXCPR32_API int unzOpenCurrentFile(unzFile file);
/* Bytes read (> 0), 0 at the end of an entry whose CRC-32 and size match,
 * negative on an error (UNZ_CRCERROR when they do not match). */
QXCPR32_API int unzReadCurrentFile(unzFile file, void* buf, unsigned int len);
QXCPR32_API int unzCloseCurrentFile(unzFile file);

#ifdef __cplusplus
}
#endif

#endif
