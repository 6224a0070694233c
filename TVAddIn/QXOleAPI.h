// QXOleAPI: the job runner. One TQXOleAPI runs one job on the job thread: it
// asks before working on a drive root, counts the selection, zips it first
// when the settings ask for that, runs the operation through the front and
// offers a finished digital envelope to the mail program.
#pragma once

#include <windows.h>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CDirX.h"
#include "FileAPI.h"
#include "QXOleThr.h"
#include "QXReg.h"
#include "QXTools.h"
#include "ZipAPI.h"

class TQXCryptIF;
class TQXCryptDir;

// One byte per process: the runner sets it to 1 at the start of each run step
// (run item by item, zipping the selection, run over the archive); the thread
// waiting for the job clears it and raises the progress window. Defined in
// QXOleAPI.cpp.
extern std::atomic<uint8_t> BringToFrontRequest;

// The comment of every archive entry and of the archive, and the mail subject.
#define QX_PRODUCT_ADDRESS "https://www.quorvex.example/tarvisto"
#define QX_CREATED_WITH_TEXT "Created with Tarvisto - " QX_PRODUCT_ADDRESS "!"

class TQXOleAPI : public CDirX2, public TQXZip {
public:
    TQXOleAPI();
    ~TQXOleAPI();
    TQXOleAPI(const TQXOleAPI&) = delete;
    TQXOleAPI& operator=(const TQXOleAPI&) = delete;

    // Runs op on the count entries of items; recipient (may be empty) is the
    // subject of the recipient's certificate for an envelope. The result is
    // that of the operations; a refused or cancelled run gives false.
    bool Run(uint32_t op, uint32_t count, const TQXSelFil* items, const char* recipient);

    // Steps of Run.
    bool ConfirmDriveRoot(const char* path);
    bool CountSelection(uint32_t count, const TQXSelFil* items, int32_t* total);
    bool UseZipFirst(uint32_t op, bool* flag);
    bool RunPerItem(uint32_t op, uint32_t count, const TQXSelFil* items, int32_t total,
                    const char* recipient);
    bool RunZipped(uint32_t op, uint32_t count, const TQXSelFil* items, int32_t total,
                   const char* recipient);
    bool ZipSelection(uint32_t op, uint32_t count, const TQXSelFil* items, int32_t total,
                      char* archive);
    bool MakeMailTempName(uint32_t op, int32_t total, const char* path, char* out);
    static bool IsEnvelopeKind(uint32_t op);
    bool OfferMail(uint32_t count, const char* path, const char* recipient);

    // Settings readers: the flag is true when the value, trimmed, is "Yes" in
    // any letter case; the result is whether the value could be read.
    bool ReadSmeViaEmail(bool* flag);
    bool ReadAskSmeEmail(bool* flag);
    bool ReadZipFirst(bool* flag);
    bool ReadDeleteSources(bool* flag);
    bool ReadDelSecure(bool* flag);

    // The zip hooks. OnZipProgress shows each packed file in the job's
    // progress window (false: the user cancelled) and notes it as a source.
    // OnDeleteSource asks the job's read-only question on that source's own
    // attributes; true lets it be deleted. Sources are never deleted while
    // zipping: only once the protected output of the archive exists.
    bool OnZipProgress(const char* path, uint32_t number, uint32_t total) override;
    bool OnDeleteSource(const char* path) override;

private:
    TQXCryptDir* Job() const;
    // The owner of the runner's message boxes: the progress window when it
    // belongs to this process, else none.
    HWND MessageOwner() const;
    int ShowMessage(const char* text, const char* caption, UINT style) const;
    // Deletes the sources noted while zipping (after the protected output of
    // the archive exists), asking the read-only question for each.
    void DeletePackedSources(uint32_t count, const TQXSelFil* items);
    void RemoveEmptyFolders(const char* folder);

    TQXReg registry;
    std::unique_ptr<TQXFile> fileHelper;  // the runner's own; the zip part keeps its `files`
    std::unique_ptr<TQXCryptIF> front;
    bool delSecure;

    // The sources that zipping packed and would delete; filled by the hooks.
    std::vector<std::string> packedSources;
    bool deleteAfterZip = false;
};
