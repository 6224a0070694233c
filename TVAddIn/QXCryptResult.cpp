// QXCryptResult: what becomes of a result file (viewing, unzipping) and the
// zip progress of a job.
#include "QXCryptDir.h"

bool TQXCryptDir::HandleResult(const char* input, const char* result, uint32_t, uint32_t) {
    if (!input || !input[0] || !result || !result[0]) return false;
    return DeleteSourceFile(input);
}

bool TQXCryptDir::UpdateFromView(uint32_t, uint32_t, const char*, const char*, const char*) {
    return false;
}

bool TQXCryptDir::IsAutoUnzip(const char*) { return false; }

bool TQXCryptDir::UnzipTo(const char*, const char*) { return false; }

bool TQXCryptDir::AskUnzipDir(char*) { return false; }

bool TQXCryptDir::AskZipSaveAs(char*) { return false; }

bool TQXCryptDir::ShowZipProgress(const char* name, uint32_t, uint32_t) { return name != nullptr; }

bool TQXCryptDir::OnUnzipProgress(const char* name, uint32_t, uint32_t) { return name != nullptr; }

bool TQXCryptDir::OnUnzipOverwrite(const char* target) {
    if (!target) return false;
    return ConfirmOverwrite(target);
}
