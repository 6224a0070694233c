// QXCryptDir: the job object's life, its settings and questions, the binding
// of the dialogs library and the crypt worker.
#include "QXCryptDir.h"

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "QXProgressWindow.h"

namespace {

std::atomic<int32_t> threadSequence{100};

// The crypt worker: the waiting loop's step and the reports of its boundary.
constexpr DWORD kCryptWaitStepMs = 50;
constexpr int kCryptThreadLocation = 2620;
constexpr int kCryptLostLocation = 2621;
const char kCryptLostText[] = "The crypt worker thread ended without a result!";

// The next answer of a yes/no/all question, by the kept answer.
enum class Decision { Go, Declined, Cancelled };

}  // namespace

int32_t NextThreadNumber() { return threadSequence.fetch_add(1, std::memory_order_acq_rel) + 1; }

int32_t CurrentThreadNumber() { return threadSequence.load(std::memory_order_acquire); }

// ---------------------------------------------------------------------------
// Life

TQXCryptDir::TQXCryptDir()
    : readOnlyAnswer(AnswerNo),
      overwriteAnswer(AnswerNo),
      progress(nullptr),
      inputInfo(nullptr),
      statusLibrary(nullptr),
      progressWindow(nullptr),
      delSecure(0),
      openQXStatus(nullptr),
      updateQXStatus(nullptr),
      showSigInfo(nullptr),
      closeQXStatus(nullptr),
      askYesNoAllReadOnly(nullptr),
      askYesNoAllFileExist(nullptr),
      askFileSaveAs(nullptr),
      askSelectDir(nullptr),
      kind(0),
      total(0),
      count(0),
      done(0),
      cancel(0),
      skip(0),
      windowMayExist(0) {
    memset(recipient, 0, sizeof recipient);
    memset(&signer, 0, sizeof signer);
    memset(&status, 0, sizeof status);
    memset(unzipFolder, 0, sizeof unzipFolder);
    memset(messageText, 0, sizeof messageText);
    crypt = std::make_unique<TQXCrypt>();
    // The stores, keys and certificates of the job's messages are opened once
    // for all its files.
    crypt->KeepStoresOpen(true);
    fileHelper = std::make_unique<TQXFile>();
    ClearLastError();
    bool secure = false;
    ReadDelSecureSetting(&secure);
    delSecure = secure ? 1 : 0;
    crypt->WipeFailedOutputs(secure);
    TQXZip::wipe = secure;  // what an unzipping leaves behind
    OpenStatusWindow();
}

TQXCryptDir::~TQXCryptDir() {
    // Anything still moved aside belongs to an operation that never finished.
    FinishOverwrite(false);
    CloseStatusWindow();
    ReleaseSigner();
    crypt.reset();
    fileHelper.reset();
}

void TQXCryptDir::ReleaseSigner() {
    if (signer.certificate && crypt) crypt->FreeCertificate(signer.certificate);
    signer.certificate = nullptr;
}

bool TQXCryptDir::ResetCounters() {
    kind = 0;
    total = 0;
    done = 0;
    count = 0;
    return true;
}

// ---------------------------------------------------------------------------
// Settings

bool TQXCryptDir::ReadUnzipSetting(bool* on) { return ReadRegSwitch("unzipfile", on); }
bool TQXCryptDir::ReadAddPubCertSetting(bool* on) { return ReadRegSwitch("addpubliczert", on); }
bool TQXCryptDir::ReadDeleteSourceSetting(bool* on) { return ReadRegSwitch("loeschequelldatei", on); }
bool TQXCryptDir::ReadDelSecureSetting(bool* on) { return ReadRegSwitch("delsecure", on); }
bool TQXCryptDir::ReadOpenFilesOnlySetting(bool* on) { return ReadRegSwitch("openfilesonly", on); }
bool TQXCryptDir::ReadOpenFilesSaveSetting(bool* on) { return ReadRegSwitch("openfilessave", on); }

bool TQXCryptDir::ReadStoreName(int which, char* name) {
    if (!name) return false;
    const char* valueName = which == 1 ? "pubstore" : which == 2 ? "ownstore" : nullptr;
    if (!valueName) return false;
    bool ok = ReadRegString(HKEY_CURRENT_USER, QX_REG_SETTINGS_KEY, valueName, name);
    name[255] = 0;
    return ok;
}

bool TQXCryptDir::ReadOwnCertName(char* subject) {
    if (!subject) return false;
    char user[64] = {0};
    if (!GetCurrentUserName(user) || !user[0]) CopyText(user, sizeof user, "DefUsr");
    bool ok = ReadRegString(HKEY_CURRENT_USER, QX_REG_OWN_CERTIFICATES_KEY, user, subject);
    subject[255] = 0;
    return ok;
}

bool TQXCryptDir::RecordSignerCertificate(CertificateInfo* signerInfo) {
    if (!signerInfo || !signerInfo->certificate) return false;
    bool add = false;
    if (!ReadAddPubCertSetting(&add)) return false;

    // A signature vouches for its signer's name only when no certificate of
    // the stores carries that name with another key: whoever later looks the
    // name up (an envelope for that person) must find this one. Such a
    // conflict fails the verification, and nothing is added.
    PCCERT_CONTEXT certificate = signerInfo->certificate;
    char pubStore[256] = {0};
    char ownStore[256] = {0};
    bool pubRead = ReadStoreName(1, pubStore);
    bool ownRead = ReadStoreName(2, ownStore);
    bool inPub = false;
    bool inOwn = false;
    if (!crypt->CheckSubjectHolder(pubStore, certificate, &inPub)) return false;
    if (!crypt->CheckSubjectHolder(ownStore, certificate, &inOwn)) return false;
    if (!add) return true;
    if (inPub) return true;
    if (!ownRead) return false;
    if (inOwn) return true;  // the user's own signature: nothing is added
    if (!pubRead) return false;

    bool added = crypt->AddCertificate(pubStore, certificate);
    if (signerInfo == &signer) {
        ReleaseSigner();
    } else {
        crypt->FreeCertificate(certificate);
        signerInfo->certificate = nullptr;
    }
    return added;
}

// ---------------------------------------------------------------------------
// Questions

namespace {

// Applies a kept answer: Go for Yes to all, Declined for No to all, Cancelled
// for Cancel (and anything unknown, which also cancels).
Decision ApplyKeptAnswer(uint8_t answer, uint8_t* cancelFlag, uint8_t* skipFlag) {
    switch (answer) {
    case AnswerYesAll:
        return Decision::Go;
    case AnswerNoAll:
        *skipFlag = 1;
        return Decision::Declined;
    case AnswerCancel:
        *cancelFlag = 1;
        *skipFlag = 1;
        return Decision::Cancelled;
    default:
        *cancelFlag = 1;
        return Decision::Cancelled;
    }
}

// A fresh answer of a question becomes the kept answer; Yes and No hold for
// this file only (the next file is asked again).
uint8_t KeepAnswer(uint8_t answer) {
    switch (answer) {
    case AnswerYes:
    case AnswerYesAll:
        return AnswerYesAll;
    case AnswerNo:
    case AnswerNoAll:
        return AnswerNoAll;
    default:
        return answer;
    }
}

}  // namespace

bool TQXCryptDir::ConfirmReadOnly(const char* input) {
    if (!input) return false;
    if (!inputInfo) return true;
    if (inputInfo->attributes == 0xFFFFFFFF || !(inputInfo->attributes & FILE_ATTRIBUTE_READONLY))
        return true;
    uint8_t decision = readOnlyAnswer;
    if (decision == AnswerYes || decision == AnswerNo) {
        uint8_t answer = AskReadOnly();
        readOnlyAnswer = answer;
        decision = KeepAnswer(answer);
    }
    switch (ApplyKeptAnswer(decision, &cancel, &skip)) {
    case Decision::Go:
        return ClearReadOnly(input);
    default:
        return false;
    }
}

bool TQXCryptDir::ConfirmOverwrite(const char* output) {
    if (!output) return true;
    // A file that exists is asked about also when it cannot be opened for
    // reading: taken as absent, it would be replaced without a word.
    if (!NameTaken(output)) return true;
    // A folder of the output's name is never moved away: the file fails.
    if (IsDirectory(output)) return MoveAside(output, false);
    uint8_t decision = overwriteAnswer;
    if (decision == AnswerYes || decision == AnswerNo) {
        // The question names the file that would be overwritten, not the
        // input shown in the window.
        char shown[256];
        memcpy(shown, status.fileName, sizeof shown);
        char name[256] = {0};
        if (SplitPath(output, nullptr, name, nullptr)) CopyText(status.fileName, sizeof status.fileName, name);
        uint8_t answer = AskFileExist();
        memcpy(status.fileName, shown, sizeof shown);
        overwriteAnswer = answer;
        decision = KeepAnswer(answer);
    }
    switch (ApplyKeptAnswer(decision, &cancel, &skip)) {
    case Decision::Go:
        return MoveAside(output, false);
    default:
        return false;
    }
}

bool TQXCryptDir::KeepAside(const char* path) {
    if (!path || !NameTaken(path)) return true;
    return MoveAside(path, true);
}

bool TQXCryptDir::ReplaceAside(const char* path) {
    if (!path || !NameTaken(path)) return true;
    return MoveAside(path, false);
}

bool TQXCryptDir::MoveAside(const char* output, bool restore) {
    char folder[256] = {0};
    char text[1024];
    FormatText(text, sizeof text, "File / Directory '%s' could not be remove!", output);
    if (!SplitPath(output, folder, nullptr, nullptr)) return QXReport(false, "FileAPI", 342, text);
    DWORD attributes = GetFileAttributesA(output);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return QXReport(false, "FileAPI", 342, text);
    }
    if (!folder[0]) CopyText(folder, sizeof folder, ".");
    char name[MAX_PATH + 1];
    if (!FullLongPath(output, name, sizeof name)) CopyText(name, sizeof name, output);
    CharUpperA(name);
    char aside[MAX_PATH + 1] = {0};
    bool ok = GetTempFileNameA(folder, "~tv", 0, aside) != 0 && strlen(aside) < 256;
    if (ok) {
        SetFileAttributesA(output, FILE_ATTRIBUTE_ARCHIVE);
        ok = MoveFileExA(output, aside, MOVEFILE_REPLACE_EXISTING) != 0;
        if (!ok) {
            DWORD code = GetLastError();
            if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(output, attributes);
            DeleteFileA(aside);
            SetLastError(code);
        }
    } else if (aside[0]) {
        DWORD code = GetLastError();
        DeleteFileA(aside);
        SetLastError(code);
    }
    if (ok) {
        SetFileAttributesA(aside, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
        movedAside_.push_back({output, aside, attributes, restore, name});
        return true;
    }
    return QXReport(false, "FileAPI", 342, text);
}

bool TQXCryptDir::FinishOverwrite(bool ok, size_t from, char* failure, size_t failureSize) {
    bool all = true;
    if (failure && failureSize) failure[0] = 0;
    if (from > movedAside_.size()) from = movedAside_.size();
    // Of a name moved aside more than once, only the oldest file is the one
    // found there; the later ones held what the job wrote there since.
    std::set<std::string> names;
    std::vector<bool> again(movedAside_.size());
    for (size_t i = from; i < movedAside_.size(); ++i)
        again[i] = !names.insert(movedAside_[i].name).second;
    // Latest first, so that each name is free for the oldest file when its turn comes.
    for (size_t i = movedAside_.size(); i-- > from;) {
        const MovedAside& entry = movedAside_[i];
        const char* original = entry.original.c_str();
        const char* aside = entry.aside.c_str();
        bool removing = (ok && !entry.restore) || again[i];
        bool finished;
        if (removing) {
            finished = DeleteFileEx(aside, delSecure != 0);
        } else {
            // Back only to a free name: a file that took the name meanwhile
            // (another program saved one, or the operation's own complete
            // output) stays as it is, and this one keeps its temporary name.
            finished = MoveFileExA(aside, original, MOVEFILE_WRITE_THROUGH) != 0;
            if (finished && entry.attributes != INVALID_FILE_ATTRIBUTES)
                SetFileAttributesA(original, entry.attributes);
        }
        if (finished) continue;

        // The file stays under its temporary name: no longer hidden, and named.
        DWORD code = GetLastError();
        DWORD visible = entry.attributes != INVALID_FILE_ATTRIBUTES
                            ? entry.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN)
                            : FILE_ATTRIBUTE_ARCHIVE;
        SetFileAttributesA(aside, visible ? visible : FILE_ATTRIBUTE_NORMAL);
        SetLastError(code);
        char text[1024];
        FormatText(text, sizeof text,
                   removing ? "The old file '%s' could not be removed! - (kept as '%s')"
                            : "The file '%s' could not be restored! - (kept as '%s')",
                   original, aside);
        QXReport(false, "FileAPI", 342, text);
        if (failure && failureSize) {
            size_t used = strlen(failure);
            if (used + 1 < failureSize)
                FormatText(failure + used, failureSize - used, "%s%s", used ? " " : "", text);
        }
        all = false;
    }
    movedAside_.resize(from);
    return all;
}

bool TQXCryptDir::DeleteSourceFile(const char* path) {
    if (!path || !path[0]) return false;
    if (!IsInTempDir(path)) {
        bool remove = false;
        if (!ReadDeleteSourceSetting(&remove)) return false;
        if (!remove) return true;
    }
    if (IsInSystemDir(path) || IsInWindowsDir(path)) return true;
    return DeleteFileEx(path, delSecure != 0);
}

// ---------------------------------------------------------------------------
// Dialogs library

bool TQXCryptDir::AllBound() const {
    return openQXStatus && updateQXStatus && showSigInfo && closeQXStatus &&
           askYesNoAllReadOnly && askYesNoAllFileExist && askFileSaveAs && askSelectDir;
}

bool TQXCryptDir::IsBound() const { return statusLibrary && AllBound() && progress; }

void TQXCryptDir::UnbindEntryPoints() {
    openQXStatus = nullptr;
    updateQXStatus = nullptr;
    showSigInfo = nullptr;
    closeQXStatus = nullptr;
    askYesNoAllReadOnly = nullptr;
    askYesNoAllFileExist = nullptr;
    askFileSaveAs = nullptr;
    askSelectDir = nullptr;
}

// The progress window was made on this thread: look among this thread's own
// windows first, so that another job's window is not taken; the desktop-wide
// search by class name remains for a library whose window lives elsewhere.
HWND TQXCryptDir::FindProgressWindow() { return ::FindProgressWindow(GetCurrentThreadId()); }

bool TQXCryptDir::OpenStatusWindow() {
    char path[256] = {0};
    bool readable = ReadRegString(HKEY_CURRENT_USER, QX_REG_SETTINGS_KEY, "statusdll", path);
    path[255] = 0;
    CharLowerA(path);
    Trim(path);
    progressWindow = nullptr;

    bool ok = readable;
    if (ok) {
        CloseStatusWindow();
        statusLibrary = LoadLibraryA(path);
        ok = statusLibrary != nullptr;
    }
    if (ok) {
        openQXStatus = reinterpret_cast<OpenQXStatusFn>(GetProcAddress(statusLibrary, "OpenQXStatus"));
        updateQXStatus = reinterpret_cast<UpdateQXStatusFn>(GetProcAddress(statusLibrary, "UpdateQXStatus"));
        showSigInfo = reinterpret_cast<ShowSigInfoFn>(GetProcAddress(statusLibrary, "ShowSigInfo"));
        closeQXStatus = reinterpret_cast<CloseQXStatusFn>(GetProcAddress(statusLibrary, "CloseQXStatus"));
        askYesNoAllReadOnly = reinterpret_cast<QXAskYesNoAllReadOnlyFn>(
            GetProcAddress(statusLibrary, "QXAskYesNoAllReadOnly"));
        askYesNoAllFileExist = reinterpret_cast<QXAskYesNoAllFileExistFn>(
            GetProcAddress(statusLibrary, "QXAskYesNoAllFileExist"));
        askFileSaveAs = reinterpret_cast<QXAskFileSaveAsFn>(GetProcAddress(statusLibrary, "QXAskFileSaveAs"));
        askSelectDir = reinterpret_cast<QXAskSelectDirFn>(GetProcAddress(statusLibrary, "QXAskSelectDir"));
        ok = AllBound();
    }
    if (ok) {
        QXStatusHandle handle = nullptr;
        bool opened = openQXStatus(&handle);
        if (opened) windowMayExist = 1;
        progress = opened ? handle : nullptr;
        ok = opened && handle != nullptr;
    }
    if (ok) {
        PumpMessages(nullptr, 0, 0);
        Sleep(100);
        for (int attempt = 0; attempt < 20 && !progressWindow; ++attempt) {
            progressWindow = FindProgressWindow();
            Sleep(100);
        }
        if (progressWindow) RaiseWindow(progressWindow);
        return true;
    }
    cancel = 1;
    UnbindEntryPoints();
    progress = nullptr;
    MessageBoxA(nullptr, QX_STATUS_NOT_FOUND_TEXT, QX_CAPTION_VERSION, MB_ICONERROR);
    return false;
}

bool TQXCryptDir::CloseStatusWindow() {
    if (!statusLibrary) return false;
    bool closed = false;
    if (AllBound()) {
        closed = closeQXStatus(progress);
        if (closed) {
            UnbindEntryPoints();
            progress = nullptr;
            progressWindow = nullptr;
            windowMayExist = 0;
        }
    }
    if (windowMayExist) {
        // A window of the library may still be alive: its window procedure
        // lives in the library, so unloading it now would crash the process at
        // the window's next message. The library stays loaded for good.
        UnbindEntryPoints();
        progress = nullptr;
        progressWindow = nullptr;
        windowMayExist = 0;
        statusLibrary = nullptr;
        return closed;
    }
    // Released by hand, not by an owner: whether the library may go is only
    // known here, once its window is closed (see above).
    FreeLibrary(statusLibrary);
    statusLibrary = nullptr;
    return closed;
}

bool TQXCryptDir::UpdateStatus(StatusRecord* record) {
    bool ok = false;
    if (statusLibrary && AllBound() && record) {
        record->current = done;
        ok = updateQXStatus(progress, record);
    }
    if (!ok) cancel = 1;
    return ok;
}

bool TQXCryptDir::SetStatusKind(uint32_t statusKind) {
    status.showAnimation = (statusKind == OpCountFiles || statusKind == 0 || statusKind > OpRestore) ? 1 : 0;
    status.operationText = OperationStatusText(statusKind);
    status.doneText = OperationDoneText(statusKind);
    status.displayKind = StatusLine;
    status.total = 0;
    status.current = 0;
    status.fileName[0] = 0;
    status.detail[0] = 0;
    bool ok = UpdateStatus(&status);
    PumpMessages(nullptr, 0, 0);
    Sleep(200);
    return ok;
}

bool TQXCryptDir::SetStatusFileName(const char* path) {
    if (!path || !path[0]) return false;
    status.subFolder[0] = 0;
    char folder[256] = {0};
    char name[256] = {0};
    if (!SplitPath(path, folder, name, nullptr)) return false;
    CopyText(status.fileName, sizeof status.fileName, name);
    StripTrailingBackslash(folder);
    if (!folder[0]) return false;
    char last[256] = {0};
    if (!SplitPath(folder, nullptr, last, nullptr)) return false;
    CopyText(status.subFolder, sizeof status.subFolder, last);
    return true;
}

bool TQXCryptDir::CountFile() {
    bool ok = true;
    if (count == 0) {
        ok = SetStatusKind(OpCountFiles);
        if (ok) ok = UpdateStatus(&status);
    }
    ++count;
    PumpMessages(nullptr, 0, 0);
    return ok;
}

uint8_t TQXCryptDir::AskReadOnly() {
    if (!statusLibrary || !AllBound()) return AnswerCancel;
    return askYesNoAllReadOnly(progress, &status);
}

uint8_t TQXCryptDir::AskFileExist() {
    if (!statusLibrary || !AllBound()) return AnswerCancel;
    return askYesNoAllFileExist(progress, &status);
}

char* TQXCryptDir::AskFileSaveAs() {
    if (!statusLibrary || !AllBound()) return nullptr;
    return askFileSaveAs(progress, &status) ? status.path : nullptr;
}

char* TQXCryptDir::AskSelectDir() {
    if (!statusLibrary || !AllBound()) return nullptr;
    return askSelectDir(progress, &status) ? status.path : nullptr;
}

// ---------------------------------------------------------------------------
// Crypt worker

bool TQXCryptDir::RunCryptOp(int32_t op, CryptRequest* request) {
    if (!request) return false;
    int32_t number = NextThreadNumber();
    request->result.store(0, std::memory_order_relaxed);
    request->op = op;
    request->busy.store(1, std::memory_order_release);
    if (!StartCryptThread(number, request)) {
        request->result.store(0, std::memory_order_relaxed);
        request->busy.store(0, std::memory_order_release);
        return false;
    }
    return true;
}

CThr* TQXCryptDir::StartCryptThread(int32_t number, CryptRequest* request) {
    if (number <= 0 || !request) return nullptr;
    char name[256];
    FormatText(name, sizeof name, "QXCryptProzessThr%4.4d", number);
    return StartWorkerThread(name, number, &TQXCryptDir::CryptThreadProc, request,
                             &request->thread);
}

bool TQXCryptDir::AwaitCryptOp(CryptRequest* request) {
    if (!request) return false;
    // Until the worker has stored its result, or its thread has ended
    // without one.
    AwaitWorker(request->thread, request->busy, kCryptWaitStepMs);
    request->thread = nullptr;
    // Read after the thread's end: a result stored just before it counts.
    if (request->busy.load(std::memory_order_acquire)) {
        request->result.store(0, std::memory_order_relaxed);
        request->busy.store(0, std::memory_order_release);
        return QXReportCode(false, "tvCryptIF", kCryptLostLocation, kCryptLostText, 0);
    }
    return request->result.load(std::memory_order_relaxed) != 0;
}

bool TQXCryptDir::CryptStep(TQXCrypt& crypt, const CryptRequest& request) {
    switch (request.op) {
    case OpSign:
        return crypt.SignFile(request.storeName, request.subject, request.input, request.output);
    case OpVerify:
        return crypt.VerifyFile(request.input, request.output, request.signer);
    case OpEncrypt:
        return crypt.EncryptFile(request.storeName, request.subject, request.input,
                                 request.output);
    case OpDecrypt:
        return crypt.DecryptFile(request.storeName, request.input, request.output);
    default:
        return false;
    }
}

namespace {

// One crypto step with a TQXCrypt of the worker's own.
bool RunCryptStep(const CryptRequest* request) {
    std::unique_ptr<TQXCrypt> worker(new TQXCrypt);
    worker->WipeFailedOutputs(request->wipe != 0);
    Sleep(50);
    return TQXCryptDir::CryptStep(*worker, *request);
}

}  // namespace

DWORD WINAPI TQXCryptDir::CryptThreadProc(void* start) {
    TThrPrm* prm = static_cast<TThrPrm*>(start);
    CryptRequest* request =
        (prm && prm->params) ? static_cast<CryptRequest*>(prm->params->argument) : nullptr;
    if (!request) return 0;
    // Its thread object belongs to the job's thread, which awaits this one.
    bool result = CatchAtBoundary("tvCryptIF", kCryptThreadLocation, "CryptThreadProc", false,
                                  [request] { return RunCryptStep(request); });
    request->result.store(result ? 1 : 0, std::memory_order_relaxed);
    request->busy.store(0, std::memory_order_release);
    return 0;
}
