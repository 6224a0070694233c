// QXCryptDir: the job object. One TQXCryptDir carries one crypt job (a
// selection of files and folders on which one operation runs) from start to
// end on the job's thread: it binds the dialogs library tvstatus and fills the
// status record it shows, keeps the answers of the yes/no/all questions for the
// rest of the job, reads the settings that steer the operations, runs the six
// file operations and their tree drivers, hands large files to a crypt worker
// thread, and views or unzips results.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CDirX.h"
#include "CryptAPI.h"
#include "FileAPI.h"
#include "QXReg.h"
#include "QXThr.h"
#include "QXTools.h"
#include "QXVersion.h"
#include "StatusRecord.h"
#include "ZipAPI.h"

// Messages and captions of the job.
#define QX_STATUS_NOT_FOUND_TEXT "Internal Error! - ('tvstatus.dll' not found)"
#define QX_TREE_ERROR_TEXT "Error in directory tree!"

// Inputs up to this size are processed on the job's thread; larger ones on a
// crypt worker.
constexpr uint64_t QX_WORKER_THRESHOLD = 2000000;
// A single-file job above this size shows the animation instead of the bar.
constexpr uint64_t QX_ANIMATION_THRESHOLD = 5000000;

// The process-wide sequence number that names worker threads (crypt workers
// and job threads alike). It starts at 100; each start takes the next number,
// so the first thread of a process is 101.
int32_t NextThreadNumber();
// The number given last (100 before any start).
int32_t CurrentThreadNumber();

class CThr;
class TQXCryptDir;

// One crypto step handed to a crypt worker. Owned by the calling file
// operation, zero-filled by it; the texts stay valid until busy is 0.
struct CryptRequest {
    int32_t op;                   // 2 sign, 3 verify, 4 encrypt, 5 decrypt
    CThr* thread;                 // the worker's CThr; AwaitCryptOp deletes and clears it
    std::atomic<uint8_t> result;  // the step's truth value
    std::atomic<uint8_t> busy;    // 1 until the worker has stored result
    const char* storeName;
    const char* subject;
    const char* input;
    const char* output;
    CertificateInfo* signer;      // verify only
    uint8_t wipe;                 // a failed write's remains are overwritten (delsecure)
};

class TQXCryptDir : public CDirX1, public TQXZip {
public:
    TQXCryptDir();
    ~TQXCryptDir();
    TQXCryptDir(const TQXCryptDir&) = delete;
    TQXCryptDir& operator=(const TQXCryptDir&) = delete;

    // --- walker slots (tree walk) ---------------------------------------
    void In(const char* name) override;
    void Out(const char* name) override;
    void At(const char* path) override;

    // --- zip slots (result handling) -------------------------------------
    bool OnUnzipProgress(const char* name, uint32_t number, uint32_t total) override;
    bool OnUnzipOverwrite(const char* target) override;

    // --- job settings and questions --------------------------------------
    bool ResetCounters();
    bool ReadUnzipSetting(bool* on);
    bool ReadAddPubCertSetting(bool* on);
    bool ReadDeleteSourceSetting(bool* on);
    bool ReadDelSecureSetting(bool* on);
    bool ReadOpenFilesOnlySetting(bool* on);
    bool ReadOpenFilesSaveSetting(bool* on);
    // which 1: "pubstore", 2: "ownstore"; name of 256 characters.
    bool ReadStoreName(int which, char* name);
    // The subject of the user's own certificate (256 characters).
    bool ReadOwnCertName(char* subject);
    bool RecordSignerCertificate(CertificateInfo* signerInfo);
    bool ConfirmReadOnly(const char* input);
    // True when the output is absent or the user allowed replacing it. An
    // existing output is then moved aside (read-only cleared), not deleted:
    // FinishOverwrite deletes it after the new output was written, or puts it
    // back when the operation failed.
    // An output that exists counts as existing also when it cannot be opened
    // for reading: it is asked about, never taken as absent.
    bool ConfirmOverwrite(const char* output);
    // ok: the old outputs moved aside are deleted (wiped with delSecure);
    // otherwise each is moved back to its name, but never over a file that
    // lies there now (one that took the name meanwhile stays). Files kept by
    // KeepAside come back whatever the outcome. A name moved aside more than
    // once ends with its oldest file: what was moved from it later is what
    // the job wrote there since, and is deleted like an old output.
    // Returns false when a file could not be deleted or put back: that file
    // is then left visible under its temporary name, the failure is reported,
    // and its text (naming both names) goes to failure when one is given.
    // With from (an OverwriteMark taken earlier) only the files moved aside
    // since then are finished, so that a nested step leaves its caller's
    // files alone.
    bool FinishOverwrite(bool ok, size_t from = 0, char* failure = nullptr,
                         size_t failureSize = 0);
    size_t OverwriteMark() const { return movedAside_.size(); }
    bool DeleteSourceFile(const char* path);
    // A file the operation will write over and remove again by itself (the
    // intermediates of unpacking and packing): an existing one is moved aside
    // and put back by FinishOverwrite whatever the outcome.
    bool KeepAside(const char* path);
    // An output replaced without a question (the envelope of packing): an
    // existing one is moved aside, deleted by FinishOverwrite once the new
    // one is complete and put back when the operation fails.
    bool ReplaceAside(const char* path);

    // --- dialogs library ---------------------------------------------------
    bool OpenStatusWindow();
    bool CloseStatusWindow();
    bool UpdateStatus(StatusRecord* record);
    bool SetStatusKind(uint32_t statusKind);
    bool SetStatusFileName(const char* path);
    bool CountFile();
    uint8_t AskReadOnly();
    uint8_t AskFileExist();
    char* AskFileSaveAs();
    char* AskSelectDir();
    bool IsBound() const;

    // --- crypt worker --------------------------------------------------------
    bool RunCryptOp(int32_t op, CryptRequest* request);
    static CThr* StartCryptThread(int32_t number, CryptRequest* request);
    // The wait of the job's thread for a started worker: pumps its messages
    // every 50 ms until the worker has stored its result or its thread has
    // ended without one, then awaits the thread and deletes its CThr. The
    // step's result; false (reported) when the worker left none.
    static bool AwaitCryptOp(CryptRequest* request);
    // One crypto step of the request (its op, 2 to 5) with the given TQXCrypt;
    // false for any other op.
    static bool CryptStep(TQXCrypt& crypt, const CryptRequest& request);
    static DWORD WINAPI CryptThreadProc(void* start);

    // --- result handling, unzipping, zip progress ---------------------------
    bool HandleResult(const char* input, const char* result, uint32_t total, uint32_t resultKind);
    bool UpdateFromView(uint32_t resultKind, uint32_t total, const char* input,
                        const char* result, const char* viewCopy);
    bool IsAutoUnzip(const char* path);
    bool UnzipTo(const char* archive, const char* folder);
    bool AskUnzipDir(char* folder);
    bool AskZipSaveAs(char* path);
    bool ShowZipProgress(const char* name, uint32_t number, uint32_t total);

    // --- file operations -------------------------------------------------------
    bool SignFile(int32_t fileCount, const char* path);
    bool VerifyFile(int32_t fileCount, const char* path);
    bool EncryptFile(int32_t fileCount, const char* path);
    bool DecryptFile(int32_t fileCount, const char* path);
    bool UnpackEnvelopeFile(int32_t fileCount, const char* path);
    bool PackEnvelopeFile(int32_t fileCount, const char* path, const char* recipientSubject);
    // Any of the six by its OperationKind (false for another kind); the
    // recipient is read for packing only.
    bool RunFileOperation(uint32_t opKind, int32_t fileCount, const char* path,
                          const char* recipientSubject);

    // --- tree drivers ------------------------------------------------------------
    bool SignTree(int32_t fileCount, const char* folder);
    bool VerifyTree(int32_t fileCount, const char* folder);
    bool DecryptTree(int32_t fileCount, const char* folder);
    bool EncryptTree(int32_t fileCount, const char* folder);
    bool UnpackEnvelopeTree(int32_t fileCount, const char* folder);
    bool PackEnvelopeTree(int32_t fileCount, const char* folder, const char* recipientSubject);
    bool CountTree(const char* folder, int32_t* counter);
    // Any of the six file operations on every file below the folder.
    bool RunTree(uint32_t opKind, int32_t fileCount, const char* folder,
                 const char* recipientSubject);

    // --- fields ----------------------------------------------------------------
    uint8_t readOnlyAnswer;   // kept answer of the read-only question (AnswerCode)
    uint8_t overwriteAnswer;  // kept answer of the file-exists question
    QXStatusHandle progress;  // the progress window as tvstatus returned it
    std::unique_ptr<TQXCrypt> crypt;
    std::unique_ptr<TQXFile> fileHelper;
    TQXReg registry;
    FileInfo* inputInfo;      // FileInfo of the current input (inside fileHelper)
    StatusRecord status;
    CertificateInfo signer;   // signer of the last verified signature
    HMODULE statusLibrary;
    char messageText[1024];
    HWND progressWindow;
    uint8_t delSecure;
    char unzipFolder[256];

    OpenQXStatusFn openQXStatus;
    UpdateQXStatusFn updateQXStatus;
    ShowSigInfoFn showSigInfo;
    CloseQXStatusFn closeQXStatus;
    QXAskYesNoAllReadOnlyFn askYesNoAllReadOnly;
    QXAskYesNoAllFileExistFn askYesNoAllFileExist;
    QXAskFileSaveAsFn askFileSaveAs;
    QXAskSelectDirFn askSelectDir;

    uint32_t kind;    // OperationKind that At runs
    uint32_t total;   // files of the whole job
    int32_t count;    // files counted in kind 6
    uint32_t done;    // files started so far
    char recipient[256];
    uint8_t cancel;   // once set, every later file is refused
    uint8_t skip;     // the user declined a question for the current file

    // OpenQXStatus said a window was made and CloseQXStatus has not confirmed
    // it gone: the library must then stay loaded (its window procedure lives in it).
    uint8_t windowMayExist;

private:
    struct MovedAside {
        std::string original;
        std::string aside;
        DWORD attributes;
        bool restore;      // comes back also after success
        std::string name;  // the original's full long path in capitals: one name, however spelled
    };
    std::vector<MovedAside> movedAside_;

    bool MoveAside(const char* output, bool restore);
    void UnbindEntryPoints();
    bool AllBound() const;
    HWND FindProgressWindow();
    // outputKept: set once the new output is complete; it then stays whatever
    // follows (removing the source).
    bool FileOperationBody(uint32_t opKind, int32_t fileCount, const char* input,
                           const char* recipientSubject, bool* outputKept);
    // inputSize: the input's size when the caller has just taken it from the
    // directory; 0 asks the directory.
    bool RunMessageStep(int32_t op, const char* storeName, const char* subject,
                        const char* input, const char* output, uint64_t inputSize = 0);
    void ReleaseSigner();
};
