// QXCryptOps: the six file operations of a job and the tree drivers that run
// them on every file below a folder.
#include <cstring>

#include "QXCryptDir.h"

namespace {

// Whether the input carries the extension the operation looks at (both
// lower-cased).
bool HasOperationExtension(const OperationTraits& traits, const char* input) {
    char extension[256] = {0};
    SplitPath(input, nullptr, nullptr, extension);
    CharLowerA(extension);
    char wanted[8];
    CopyText(wanted, sizeof wanted, traits.extension);
    CharLowerA(wanted);
    return strcmp(extension, wanted) == 0;
}

constexpr uint64_t kFourGiB = 0x100000000ull;

// input + suffix into 256 characters; a name that does not fit is refused,
// never cut.
bool AppendName(char* destination, const char* input, const char* suffix, int location) {
    char joined[600];
    FormatText(joined, sizeof joined, "%s%s", input, suffix);
    if (strlen(input) + strlen(suffix) > 255 || !CopyText(destination, 256, joined)) {
        char text[1024];
        FormatText(text, sizeof text, "The name '%s%s' is too long!", input, suffix);
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return QXReport(false, "tvCryptIF", location, text);
    }
    return true;
}

// input less its last four characters (the extension the operation takes off).
bool StripName(char* destination, const char* input) {
    size_t length = strlen(input);
    if (length < 4 || length > 255) return false;
    memcpy(destination, input, length - 4);
    destination[length - 4] = 0;
    return true;
}

// The intermediate file of an envelope operation, once a step has written
// it: removed (wiped with the job's setting) on every way out of the
// operation, so that a failed step leaves nothing of it behind. A file of the
// user's that had its name was moved aside before and comes back afterwards.
class Intermediate {
public:
    Intermediate(const char* path, bool wipe) : path_(path), wipe_(wipe) {}
    ~Intermediate() { Remove(); }
    Intermediate(const Intermediate&) = delete;
    Intermediate& operator=(const Intermediate&) = delete;
    // Removes it now (after success, before the result is handed on).
    void Remove() {
        if (path_) DeleteFileEx(path_, wipe_);
        path_ = nullptr;
    }

private:
    const char* path_;
    bool wipe_;
};

}  // namespace

// ---------------------------------------------------------------------------
// File operations

bool TQXCryptDir::SignFile(int32_t fileCount, const char* path) {
    return RunFileOperation(OpSign, fileCount, path, nullptr);
}

bool TQXCryptDir::VerifyFile(int32_t fileCount, const char* path) {
    return RunFileOperation(OpVerify, fileCount, path, nullptr);
}

bool TQXCryptDir::EncryptFile(int32_t fileCount, const char* path) {
    return RunFileOperation(OpEncrypt, fileCount, path, nullptr);
}

bool TQXCryptDir::DecryptFile(int32_t fileCount, const char* path) {
    return RunFileOperation(OpDecrypt, fileCount, path, nullptr);
}

bool TQXCryptDir::UnpackEnvelopeFile(int32_t fileCount, const char* path) {
    return RunFileOperation(OpUnpackEnvelope, fileCount, path, nullptr);
}

bool TQXCryptDir::PackEnvelopeFile(int32_t fileCount, const char* path, const char* recipientSubject) {
    return RunFileOperation(OpPackEnvelope, fileCount, path, recipientSubject);
}

bool TQXCryptDir::RunFileOperation(uint32_t opKind, int32_t fileCount, const char* path,
                                   const char* recipientSubject) {
    const OperationTraits* traits = FindFileOperation(opKind);
    if (!traits) return false;
    bool pack = opKind == OpPackEnvelope;

    bool ok = false;
    bool outputKept = false;
    size_t mark = OverwriteMark();
    if (path && !cancel && (!pack || recipientSubject)) {
        ok = path[0] && (!pack || recipientSubject[0]);
        if (ok) ok = FileOperationBody(opKind, fileCount, path, recipientSubject, &outputKept);
    }
    // Old outputs the user agreed to replace go only now that the new ones
    // are safe; after a failure they come back, but never over a complete
    // new output (a source that could not be removed fails the file and
    // leaves the output). A file that can be neither is left under its
    // temporary name and fails the operation.
    char leftBehind[1024] = {0};
    bool finished = FinishOverwrite(ok || outputKept, mark, leftBehind, sizeof leftBehind);
    if (!finished) ok = false;

    FormatText(messageText, sizeof messageText, "%s", traits->failure);
    QXReport(ok, "tvCryptIF", traits->location, messageText);
    // A cancelled or declined file shows no entry, unless a file of the user's
    // was left under another name: the user must learn where it is.
    if (!ok && (!cancel || !finished)) {
        ErrorRecord held;
        memset(&held, 0, sizeof held);
        GetLastErrorInfo(&held);
        const char* first = held.set ? held.text : "";
        status.showAnimation = 0;
        status.displayKind = StatusError;
        // The entry names the file that failed, not the last one shown on
        // the way (an entry of an archive being unpacked, an intermediate).
        if (path && path[0]) SetStatusFileName(path);
        status.operationText = OperationErrorText(opKind);
        status.doneText = OperationDoneText(opKind);
        if (!finished && !strstr(first, leftBehind))
            FormatText(status.detail, sizeof status.detail, "%s %s %s", first, leftBehind, messageText);
        else
            FormatText(status.detail, sizeof status.detail, "%s %s", first, messageText);
        bool quiet = skip && finished;
        skip = 0;
        if (!quiet && !UpdateStatus(&status)) cancel = 1;
    }
    return ok;
}

bool TQXCryptDir::RunMessageStep(int32_t op, const char* storeName, const char* subject,
                                 const char* input, const char* output, uint64_t inputSize) {
    // The questions before a step free the output's name (the old file is
    // moved aside). Something found there now is no one's to replace; and
    // since a step gives its output the name only once it is whole, a file
    // found there after a failed step is not the step's either.
    if (NameTaken(output)) {
        char text[1024];
        FormatText(text, sizeof text, "This file '%s' could not be written! - (%s)", output,
                   "File already exists!");
        SetLastError(ERROR_FILE_EXISTS);
        return QXReport(false, "FileAPI", 911, text);
    }
    if (op == OpVerify) {
        ReleaseSigner();
        memset(&signer, 0, sizeof signer);
    }
    CryptRequest request{};
    request.storeName = storeName;
    request.subject = subject;
    request.input = input;
    request.output = output;
    request.signer = op == OpVerify ? &signer : nullptr;
    request.wipe = delSecure;
    bool ok = false;
    bool written = false;  // the output is the step's own
    if ((inputSize ? inputSize : QueryFileSize(input)) <= QX_WORKER_THRESHOLD) {
        request.op = op;
        ok = CryptStep(*crypt, request);
        written = ok;
    } else {
        if (RunCryptOp(op, &request)) {
            ok = AwaitCryptOp(&request);
            written = ok;
            // The window was served while the worker ran: a Cancel pressed
            // meanwhile is reported by the next update, and the finished step
            // must not go on to a signature line or to deleting the source.
            if (ok) {
                status.displayKind = StatusFileProgress;
                status.detail[0] = 0;
                if (!UpdateStatus(&status)) ok = false;
            }
        }
    }
    if (!ok && written) DeleteFileEx(output, delSecure != 0);
    return ok;
}

bool TQXCryptDir::FileOperationBody(uint32_t opKind, int32_t fileCount, const char* path,
                                    const char* recipientSubject, bool* outputKept) {
    const OperationTraits* traits = FindOperation(opKind);
    *outputKept = false;
    char input[256];
    if (!CopyText(input, sizeof input, path)) return false;

    // Size, from the directory entry. An input that is not there is an error
    // that names it; so is an empty one where a message is expected. An empty
    // file to be protected is done without output.
    uint64_t size = QueryFileSize(input);
    if (size == 0) {
        bool present = FileExists(input);
        if (present && (!traits->worksOnExtension || !HasOperationExtension(*traits, input))) {
            DeleteSourceFile(input);
            ErrorRecord scratch;
            GetLastErrorInfo(&scratch);
            return true;
        }
        SetStatusFileName(input);
        char text[1024];
        FormatText(text, sizeof text, "This file '%s' could not be read! - (%s)", input,
                   present ? "This file is empty!" : "This file does not exist!");
        SetLastError(present ? 0 : ERROR_FILE_NOT_FOUND);
        return QXReport(false, "tvCryptIF", traits->location, text);
    }

    // Status.
    ++done;
    status.total = static_cast<uint32_t>(fileCount);
    status.displayKind = StatusFileProgress;
    status.operationText = OperationStatusText(opKind);
    status.doneText = OperationDoneText(opKind);
    status.detail[0] = 0;
    status.showAnimation = (fileCount == 1 && size > QX_ANIMATION_THRESHOLD) ? 1 : 0;
    if (!SetStatusFileName(input)) return false;
    if (!UpdateStatus(&status)) return false;

    // A file the whole-file helpers cannot hold is refused (and never deleted).
    if (size >= kFourGiB) {
        char text[1024];
        FormatText(text, sizeof text, "This file '%s' is too large! - (4 GB or more)", input);
        SetLastError(ERROR_FILE_TOO_LARGE);
        return QXReport(false, "tvCryptIF", traits->location, text);
    }

    // Extension.
    if (HasOperationExtension(*traits, input) != traits->worksOnExtension) return true;  // passed over

    char output[256] = {0};
    char intermediate[256] = {0};
    char subject[256] = {0};
    char storeName[256] = {0};

    switch (opKind) {
    case OpSign:
    case OpEncrypt: {
        if (!ReadOwnCertName(subject)) return false;
        if (!ReadStoreName(2, storeName)) return false;
        if (!AppendName(output, input, traits->extension, traits->location)) return false;
        if (!ConfirmOverwrite(output)) return false;
        inputInfo = fileHelper->GetFileInfo(input);
        if (!inputInfo) return false;
        if (!ConfirmReadOnly(input)) return false;
        if (!RunMessageStep(opKind, storeName, subject, input, output, size)) return false;
        if (!fileHelper->SetFileInfo(output, inputInfo)) return false;
        *outputKept = true;
        return DeleteSourceFile(input);
    }
    case OpDecrypt: {
        if (!StripName(output, input)) return false;
        // The store is read before the question: a missing setting must not
        // cost the user an old output.
        if (!ReadStoreName(2, storeName)) return false;
        if (!ConfirmOverwrite(output)) return false;
        inputInfo = fileHelper->GetFileInfo(input);
        if (!inputInfo) return false;
        if (!ConfirmReadOnly(input)) return false;
        if (!RunMessageStep(OpDecrypt, storeName, nullptr, input, output, size)) return false;
        if (!fileHelper->SetFileInfo(output, inputInfo)) return false;
        return HandleResult(input, output, static_cast<uint32_t>(fileCount), OpDecrypt);
    }
    case OpVerify: {
        if (!StripName(output, input)) return false;
        if (!ConfirmOverwrite(output)) return false;
        inputInfo = fileHelper->GetFileInfo(input);
        if (!inputInfo) return false;
        if (!ConfirmReadOnly(input)) return false;
        if (!RunMessageStep(OpVerify, nullptr, nullptr, input, output, size)) return false;
        // The signer is checked against the stores before the window calls
        // the signature valid.
        if (!RecordSignerCertificate(&signer)) {
            DeleteFileEx(output, delSecure != 0);
            return false;
        }
        status.displayKind = StatusSignatureValid;
        CopyText(status.detail, sizeof status.detail, signer.subject);
        if (!UpdateStatus(&status)) return false;
        if (!fileHelper->SetFileInfo(output, inputInfo)) return false;
        return HandleResult(input, output, static_cast<uint32_t>(fileCount), OpVerify);
    }
    case OpUnpackEnvelope: {
        if (!StripName(output, input)) return false;
        if (!AppendName(intermediate, output, OperationExtension(OpEncrypt), traits->location)) return false;
        if (!ConfirmOverwrite(output)) return false;
        inputInfo = fileHelper->GetFileInfo(input);
        if (!inputInfo) return false;
        if (!ConfirmReadOnly(input)) return false;
        // A file of the intermediate's name is the user's: it is not asked
        // about, so it must survive the intermediate.
        if (!KeepAside(intermediate)) return false;
        if (!RunMessageStep(OpVerify, nullptr, nullptr, input, intermediate, size)) return false;
        Intermediate written(intermediate, delSecure != 0);
        if (!RecordSignerCertificate(&signer)) return false;
        status.displayKind = StatusSignatureValid;
        CopyText(status.detail, sizeof status.detail, signer.subject);
        if (!UpdateStatus(&status)) return false;
        if (!ReadStoreName(2, storeName)) return false;
        if (!RunMessageStep(OpDecrypt, storeName, nullptr, intermediate, output)) return false;
        if (!fileHelper->SetFileInfo(output, inputInfo)) return false;
        written.Remove();
        return HandleResult(input, output, static_cast<uint32_t>(fileCount), OpUnpackEnvelope);
    }
    case OpPackEnvelope: {
        char recipientCopy[256] = {0};
        if (!CopyText(recipientCopy, sizeof recipientCopy, recipientSubject)) return false;
        if (!ReadStoreName(1, storeName)) return false;
        if (!AppendName(intermediate, input, OperationExtension(OpEncrypt), traits->location)) return false;
        if (!AppendName(output, input, traits->extension, traits->location)) return false;
        inputInfo = fileHelper->GetFileInfo(input);
        if (!inputInfo) return false;
        if (!ConfirmReadOnly(input)) return false;
        // Neither name is asked about. A file of the intermediate's name is
        // the user's and comes back whatever the outcome; an old envelope is
        // replaced only by a complete new one and comes back after a failure.
        if (!KeepAside(intermediate)) return false;
        if (!ReplaceAside(output)) return false;
        if (!RunMessageStep(OpEncrypt, storeName, recipientCopy, input, intermediate, size)) return false;
        Intermediate written(intermediate, delSecure != 0);
        if (!ReadOwnCertName(subject)) return false;
        if (!ReadStoreName(2, storeName)) return false;
        if (!RunMessageStep(OpSign, storeName, subject, intermediate, output)) return false;
        if (!fileHelper->SetFileInfo(output, inputInfo)) return false;
        written.Remove();
        *outputKept = true;
        return DeleteSourceFile(input);
    }
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// Tree walk

void TQXCryptDir::In(const char*) {}

void TQXCryptDir::Out(const char*) {}

void TQXCryptDir::At(const char* path) {
    if (!path || !path[0]) {
        cancel = 1;
        return;
    }
    bool ok = false;
    if (kind == OpCountFiles) {
        ok = CountFile();
    } else if (const OperationTraits* operation = FindFileOperation(kind)) {
        ok = RunFileOperation(kind, static_cast<int32_t>(total), path,
                              operation->takesRecipient ? recipient : nullptr);
    } else {
        cancel = 1;
        return;
    }
    if (!ok) cancel = 1;
}

bool TQXCryptDir::RunTree(uint32_t opKind, int32_t fileCount, const char* folder,
                          const char* recipientSubject) {
    const OperationTraits* traits = FindFileOperation(opKind);
    if (!traits) return false;
    bool pack = opKind == OpPackEnvelope;
    bool ok = false;
    if (folder && !cancel && (!pack || recipientSubject)) {
        ok = folder[0] && (!pack || recipientSubject[0]);
        if (ok) {
            WalkRecord record;
            memset(&record, 0, sizeof record);
            ok = CopyText(record.folder, sizeof record.folder, folder);
            CopyText(record.mask, sizeof record.mask, "*.*");
            if (ok && pack) ok = CopyText(recipient, sizeof recipient, recipientSubject);
            if (ok) {
                total = static_cast<uint32_t>(fileCount);
                kind = opKind;
                ok = CDirX1::WalkTree(record);
            }
        }
    }
    FormatText(messageText, sizeof messageText, "%s", QX_TREE_ERROR_TEXT);
    QXReport(ok, "tvCryptIF", traits->treeLocation, messageText);
    return ok;
}

bool TQXCryptDir::SignTree(int32_t fileCount, const char* folder) {
    return RunTree(OpSign, fileCount, folder, nullptr);
}

bool TQXCryptDir::VerifyTree(int32_t fileCount, const char* folder) {
    return RunTree(OpVerify, fileCount, folder, nullptr);
}

bool TQXCryptDir::DecryptTree(int32_t fileCount, const char* folder) {
    return RunTree(OpDecrypt, fileCount, folder, nullptr);
}

bool TQXCryptDir::EncryptTree(int32_t fileCount, const char* folder) {
    return RunTree(OpEncrypt, fileCount, folder, nullptr);
}

bool TQXCryptDir::UnpackEnvelopeTree(int32_t fileCount, const char* folder) {
    return RunTree(OpUnpackEnvelope, fileCount, folder, nullptr);
}

bool TQXCryptDir::PackEnvelopeTree(int32_t fileCount, const char* folder,
                                   const char* recipientSubject) {
    return RunTree(OpPackEnvelope, fileCount, folder, recipientSubject);
}

bool TQXCryptDir::CountTree(const char* folder, int32_t* counter) {
    bool ok = folder && !cancel && folder[0];
    if (ok) {
        WalkRecord record;
        memset(&record, 0, sizeof record);
        ok = CopyText(record.folder, sizeof record.folder, folder);
        CopyText(record.mask, sizeof record.mask, "*.*");
        if (ok) {
            kind = OpCountFiles;
            int32_t before = count;
            ok = CDirX1::WalkTree(record);
            if (counter) *counter += count - before;
        }
    }
    count = 0;
    return ok;
}
