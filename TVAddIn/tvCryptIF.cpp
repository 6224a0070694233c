// tvCryptIF: one entry per operation; folders to the tree drivers, files to
// the file operations.
#include "tvCryptIF.h"

#include <cstring>

namespace {

// Only a folder goes to the tree drivers; a path that names nothing goes to
// the file operation, which shows the user that it cannot be found.
bool TreatAsFolder(const char* path) { return IsDirectory(path); }

}  // namespace

TQXCryptIF::TQXCryptIF() {
    // The job first: it opens the progress window on this thread.
    job = std::make_unique<TQXCryptDir>();
    tools = std::make_unique<TQXTools>();
    fileHelper = std::make_unique<TQXFile>();
    ClearLastError();
}

TQXCryptIF::~TQXCryptIF() {
    // The job first: it closes the progress window.
    job.reset();
    tools.reset();
    fileHelper.reset();
}

bool TQXCryptIF::Dispatch(uint32_t kind, int32_t fileCount, const char* path,
                          const char* recipientSubject) {
    ClearLastError();
    const OperationTraits* operation = FindFileOperation(kind);
    if (!operation) return false;
    bool pack = operation->takesRecipient;
    if (!path || !path[0]) return false;
    if (pack && (!recipientSubject || !recipientSubject[0])) return false;
    char copy[256];
    if (!CopyText(copy, sizeof copy, path)) return false;
    const char* recipient = pack ? recipientSubject : nullptr;
    if (TreatAsFolder(copy)) {
        StripTrailingBackslash(copy);
        return job->RunTree(kind, fileCount, copy, recipient);
    }
    return job->RunFileOperation(kind, fileCount, copy, recipient);
}

bool TQXCryptIF::Sign(int32_t fileCount, const char* path) {
    return Dispatch(OpSign, fileCount, path, nullptr);
}

bool TQXCryptIF::Verify(int32_t fileCount, const char* path) {
    return Dispatch(OpVerify, fileCount, path, nullptr);
}

bool TQXCryptIF::Decrypt(int32_t fileCount, const char* path) {
    return Dispatch(OpDecrypt, fileCount, path, nullptr);
}

bool TQXCryptIF::Encrypt(int32_t fileCount, const char* path) {
    return Dispatch(OpEncrypt, fileCount, path, nullptr);
}

bool TQXCryptIF::UnpackEnvelope(int32_t fileCount, const char* path) {
    return Dispatch(OpUnpackEnvelope, fileCount, path, nullptr);
}

bool TQXCryptIF::PackEnvelope(int32_t fileCount, const char* path, const char* recipientSubject) {
    return Dispatch(OpPackEnvelope, fileCount, path, recipientSubject);
}

bool TQXCryptIF::SetStatusKind(uint32_t kind) { return job->SetStatusKind(kind); }

bool TQXCryptIF::Count(const char* path, int32_t* counter) {
    int32_t local = 0;
    ClearLastError();
    bool ok = false;
    char copy[256];
    if (path && path[0] && CopyText(copy, sizeof copy, path)) {
        if (TreatAsFolder(copy)) {
            StripTrailingBackslash(copy);
            ok = job->CountTree(copy, &local);
        } else {
            ok = job->CountFile();
            local = 1;
        }
    }
    if (counter) *counter += local;
    return ok;
}
