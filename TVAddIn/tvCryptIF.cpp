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
    bool pack = kind == OpPackEnvelope;
    if (!path || !path[0]) return false;
    if (pack && (!recipientSubject || !recipientSubject[0])) return false;
    char copy[256];
    if (!CopyText(copy, sizeof copy, path)) return false;
    if (TreatAsFolder(copy)) {
        StripTrailingBackslash(copy);
        switch (kind) {
        case OpSign: return job->SignTree(fileCount, copy);
        case OpVerify: return job->VerifyTree(fileCount, copy);
        case OpDecrypt: return job->DecryptTree(fileCount, copy);
        case OpEncrypt: return job->EncryptTree(fileCount, copy);
        case OpUnpackEnvelope: return job->UnpackEnvelopeTree(fileCount, copy);
        case OpPackEnvelope: return job->PackEnvelopeTree(fileCount, copy, recipientSubject);
        default: return false;
        }
    }
    switch (kind) {
    case OpSign: return job->SignFile(fileCount, copy);
    case OpVerify: return job->VerifyFile(fileCount, copy);
    case OpDecrypt: return job->DecryptFile(fileCount, copy);
    case OpEncrypt: return job->EncryptFile(fileCount, copy);
    case OpUnpackEnvelope: return job->UnpackEnvelopeFile(fileCount, copy);
    case OpPackEnvelope: return job->PackEnvelopeFile(fileCount, copy, recipientSubject);
    default: return false;
    }
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
