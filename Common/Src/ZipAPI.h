// ZipAPI: packing files and folder trees into a zip archive and unpacking
// archives into a folder, through qxcpr32. TQXZip decides the entries, their
// names, times, comments and compression, what happens to existing entries
// and files, and which sources are deleted after packing.
#pragma once

#include <windows.h>
#include <cstdint>
#include <memory>

#include "CDirX.h"
#include "FileAPI.h"
#include "QXTools.h"
#include "qxcpr32.h"

// The read buffer of an extraction.
constexpr unsigned QX_UNZIP_CHUNK = 32000;

class TQXZip : public CDirX3 {
public:
    TQXZip();
    ~TQXZip();
    TQXZip(const TQXZip&) = delete;
    TQXZip& operator=(const TQXZip&) = delete;

    // --- walker slots (a folder tree being packed) ----------------------------
    void In(const char* name) override;   // a subfolder: its own entry
    void Out(const char* name) override;  // leaving it: removed when sources go
    void At(const char* path) override;   // a file: its entry

    // --- hooks, in this slot order ----------------------------------------------
    // After a file's data were written; false makes the entry fail.
    virtual bool OnZipProgress(const char* path, uint32_t number, uint32_t total);
    // Not called by this class.
    virtual bool CheckProgress(const void* first, uint32_t second, uint32_t third,
                               const void* fourth, uint32_t fifth, uint32_t sixth,
                               uint32_t seventh, const void* eighth);
    // Before an entry is extracted; false ends the extraction.
    virtual bool OnUnzipProgress(const char* name, uint32_t number, uint32_t total);
    // The target file exists; false keeps it and ends the extraction.
    virtual bool OnUnzipOverwrite(const char* target);
    // The archive holds an entry of that name; true replaces it, false skips the source.
    virtual bool OnEntryExists(const char* path);
    // Not called by this class.
    virtual bool OnReserved(const void* argument);
    // Before a packed source is deleted; false keeps it.
    virtual bool OnDeleteSource(const char* path);

    // --- packing: OpenArchive, Zip per selected path, CloseArchive -------------
    // Entry names are paths relative to base. create: a new archive, else
    // entries are added to the existing one. level -1 default, 0 stored.
    // A new archive is written under a temporary name beside its name and
    // gets that name only from CloseArchive, once it is whole (TQXNewFile).
    bool OpenArchive(const char* base, const char* archive, bool create, int level);
    bool Zip(const char* archive, const char* source, const char* comment, uint32_t total,
             bool deleteSource, bool wipe);
    // Writes the archive's directory with the global comment (may be null: the
    // present one stays) and gives a new archive its name; false when none was
    // open, the archive could not be written completely, or a file took its
    // name meanwhile (that file stays; the new archive is removed).
    bool CloseArchive(const char* comment);
    // Closes the open archive without naming a new one: its file is removed
    // (overwritten first with wipe). An archive that was added to keeps what
    // was written to it. False when none was open.
    bool AbandonArchive(bool wipe);
    bool AddTree(const char* folder, const char* comment, uint32_t total);
    bool AddFile(const char* path, const char* comment, uint32_t total);
    // name null: the path relative to the base folder.
    bool AddEntry(const char* path, const char* name, const char* comment, uint32_t done,
                  uint32_t total);
    bool RemoveEntry(const char* archive, const char* name);

    // --- unpacking ------------------------------------------------------------------
    // Extracts every entry below target; dropFolders puts every file directly
    // into target. An entry whose name would lead outside target fails.
    bool Unzip(const char* archive, const char* target, bool dropFolders);
    bool ExtractAll(unzFile handle, bool dropFolders);
    bool ExtractCurrentFile(unzFile handle, uint32_t index, uint32_t total, bool dropFolders);
    unzFile UnzOpen(const char* archive, const char* target);
    bool UnzClose(unzFile handle);

    // --- times and folders -------------------------------------------------------------
    // Last-write time as DOS date (high half) and time (low half), local time;
    // times outside 1980-2107 give the nearest DOS time.
    bool GetDosFileTime(const char* path, WIN32_FIND_DATAA* record, uint32_t* dosDateTime);
    // Sets creation and last-write time; the last-access time stays.
    bool SetFileTimeFromDos(const char* path, uint32_t dosDateTime);
    bool CreateDirectoryPath(const char* path);

protected:
    std::unique_ptr<TQXFile> files;
    zipFile zipHandle;          // the archive open for writing; null when none
    char unzipTarget[256];      // folder Unzip extracts into
    char zipPath[256];          // archive Zip fills; never added to itself
    int32_t level;              // -1 default level, 0 stored
    uint32_t progressTotal;     // files of the current Zip call
    std::unique_ptr<FileInfo> savedInfo;  // state of the last source prepared for deletion
    bool deleteSource;
    // What this object removes is overwritten first: the sources it deletes,
    // and a new archive or an extracted file that never gets its name. Set by
    // Zip; a class that unzips sets it itself.
    bool wipe;
    bool abort;                 // a tree walk failed; stays set
    char message[1024];
    const char* entryComment;   // comment of the entries of the current walk
    char archivePath[256];      // path of the open archive
    char baseDir[256];          // entry names are relative to it
    char currentDir[256];       // folder the walk is in
    uint32_t entryCount;        // successful AddEntry calls since OpenArchive

private:
    // Opens file as the archive named archive (file is the temporary file of
    // a new archive, or the archive itself); the fields as OpenArchive sets them.
    bool OpenWriter(const char* base, const char* archive, const char* file, bool append,
                    int newLevel);
    bool CloseWriter(const char* comment);
    bool Report(bool ok, int line, const char* text);
    // The message followed by the file or entry it concerns and, when given,
    // why: "<text> - ('<name>' <cause>)".
    bool ReportNamed(bool ok, int line, const char* text, const char* name, const char* cause);
    bool entryWritten;          // the last AddEntry wrote an entry (not skipped)
    TQXNewFile staged;          // the file of a new archive until it gets its name
};
