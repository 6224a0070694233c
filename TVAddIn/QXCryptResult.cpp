// QXCryptResult: what becomes of a verified, decrypted or unpacked result:
// viewing it from a temporary copy (and protecting an edited copy again),
// unzipping an archive result into a folder the user picks, and the progress
// and questions of the job's zip part.
#include "QXCryptDir.h"

#include <cstring>

namespace {

const char* const kEnvelopeUpdateText = "This Operation maybe overwrites an existing signature! Continue?";
const char* const kUpdateKeptText =
    "The changed file could not be protected again! Your changes are kept in '%s'.";
const char* const kOutsideTargetText = "This ZIP - entry '%s' lies outside the target folder! (unzip)";

// The last-write time of a file (zero when it cannot be read).
FILETIME LastWriteTime(const char* path) {
    TQXFile probe;
    FileInfo* info = probe.GetFileInfo(path);
    FILETIME none{};
    return info ? info->lastWriteTime : none;
}

// The operation whose result this is: one that takes its extension off.
const OperationTraits* ResultOperation(uint32_t resultKind) {
    const OperationTraits* operation = FindFileOperation(resultKind);
    return operation && operation->worksOnExtension ? operation : nullptr;
}

// The OperationKind that protects a result of the given kind again.
uint32_t ReprotectKind(uint32_t resultKind) {
    const OperationTraits* operation = ResultOperation(resultKind);
    return operation ? operation->counterpart : OpUpdate;
}

const char* ReprotectExtension(uint32_t resultKind) {
    const OperationTraits* operation = ResultOperation(resultKind);
    return operation ? operation->extension : "";
}

// Whether path lies inside folder (both made absolute first).
bool LiesInside(const char* folder, const char* path) {
    char base[MAX_PATH + 1] = {0};
    char full[MAX_PATH + 1] = {0};
    DWORD b = GetFullPathNameA(folder, sizeof base, base, nullptr);
    DWORD f = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (b == 0 || b >= sizeof base || f == 0 || f >= sizeof full) return false;
    size_t length = strlen(base);
    while (length > 0 && base[length - 1] == '\\') base[--length] = 0;
    if (length == 0 || strlen(full) <= length + 1) return false;
    return _strnicmp(base, full, length) == 0 && full[length] == '\\';
}

}  // namespace

bool TQXCryptDir::HandleResult(const char* input, const char* result, uint32_t jobTotal,
                               uint32_t resultKind) {
    bool only = false, save = false, goOn = false, archive = false, declined = false;
    bool keepViewCopy = false;  // an edited copy that could not be protected again
    bool viewIsResult = false;  // the result lies in the temporary folder: no copy
    char viewCopy[256] = "";
    if (!input || !input[0] || !result || !result[0]) return false;

    bool ok = ReadOpenFilesOnlySetting(&only);
    if (ok) ok = ReadOpenFilesSaveSetting(&save);

    // Viewing: one file, open-only mode.
    if (only && jobTotal == 1 && ok) {
        char temp[256];
        char name[256];
        if (!GetTempDir(temp) || !SplitPath(result, nullptr, name, nullptr) ||
            strlen(temp) + 1 + strlen(name) > 255) {
            ok = false;
        } else {
            FormatText(viewCopy, sizeof viewCopy, "%s\\%s", temp, name);
            // A result already in the temporary folder is shown itself; only a
            // stale copy of another file is removed for the new copy. A stale
            // copy that could not be removed is never written over, nor is
            // anything removed that the copy did not make.
            viewIsResult = SameFile(viewCopy, result);
            bool copied = viewIsResult;
            if (!viewIsResult) {
                DeleteFileEx(viewCopy, delSecure != 0);
                copied = CopyToNewFile(result, viewCopy, delSecure != 0);
            }
            if (!copied) {
                ok = false;
                viewCopy[0] = 0;
            } else {
                if (resultKind == OpVerify || resultKind == OpUnpackEnvelope)
                    goOn = IsBound() ? showSigInfo(progress) : false;
                else
                    goOn = true;
                CloseStatusWindow();
                if (goOn) {
                    if (!save && !viewIsResult) DeleteFileEx(result, delSecure != 0);
                    FILETIME before = LastWriteTime(viewCopy);
                    ok = ShellExecuteWait(progressWindow, viewCopy, "open", nullptr, true);
                    FILETIME after = LastWriteTime(viewCopy);
                    if (CompareFileTime(&before, &after) != 0) {
                        ok = UpdateFromView(resultKind, jobTotal, input, result, viewCopy);
                        keepViewCopy = !ok && FileExists(viewCopy);
                    } else {
                        Sleep(1000);
                    }
                    Sleep(1000);
                }
            }
        }
    }

    if (cancel) return ok;

    if (only && jobTotal == 1 && !save) {
        if (!(viewIsResult && keepViewCopy)) DeleteFileEx(result, delSecure != 0);
        if (viewCopy[0] && !keepViewCopy) DeleteFileEx(viewCopy, delSecure != 0);
        return ok;
    }

    archive = IsAutoUnzip(result);
    if (!only && archive) only = true;

    if (only && jobTotal == 1 && save) {
        if (viewCopy[0] && !keepViewCopy && !viewIsResult) DeleteFileEx(viewCopy, delSecure != 0);
        if (archive) {
            if (resultKind == OpVerify || resultKind == OpUnpackEnvelope)
                goOn = IsBound() ? showSigInfo(progress) : false;
            else
                goOn = true;
            if (!goOn) {
                DeleteFileEx(result, delSecure != 0);
                declined = true;
            } else {
                CopyText(status.path, sizeof status.path, result);
                if (AskUnzipDir(unzipFolder)) {
                    ok = SetStatusKind(OpDecompress);
                    if (ok) {
                        ok = UnzipTo(result, unzipFolder);
                        if (ok) DeleteFileEx(result, delSecure != 0);
                    }
                } else {
                    DeleteFileEx(result, delSecure != 0);
                    cancel = 1;
                    ok = false;
                }
            }
        }
    }

    if (ok && !cancel && !declined) DeleteSourceFile(input);
    return ok;
}

// The edited copy is protected again under a name of its own beside the
// input; only when that succeeded does the new protected file take the
// input's place. On failure the input and the edited copy stay, and the error
// entry names the copy.
bool TQXCryptDir::UpdateFromView(uint32_t resultKind, uint32_t jobTotal, const char* input,
                                 const char* result, const char* viewCopy) {
    if (!result || !viewCopy || !input || !FileCanRead(viewCopy)) return false;
    OpenStatusWindow();
    Sleep(500);

    uint32_t protectKind = ReprotectKind(resultKind);
    const char* extension = ReprotectExtension(resultKind);
    bool ok = false;
    bool attempted = false;  // a new protected file was to be made
    char staging[256] = "";
    char fresh[256] = "";

    // A free name beside the result: result + ".~tvN". Its protected form,
    // the intermediate of an envelope and the name the input moves aside to
    // must be free as well.
    char aside[256] = "";
    for (unsigned n = 1; n < 1000 && !staging[0]; ++n) {
        if (strlen(result) + 8 + strlen(extension) + 4 > 255) break;
        char candidate[256], protectedName[256], intermediate[256], old[256];
        FormatText(candidate, sizeof candidate, "%s.~tv%u", result, n);
        FormatText(protectedName, sizeof protectedName, "%s%s", candidate, extension);
        FormatText(intermediate, sizeof intermediate, "%s%s", candidate, OperationExtension(OpEncrypt));
        FormatText(old, sizeof old, "%s.old", protectedName);
        if (!FileExists(candidate) && !FileExists(protectedName) && !FileExists(intermediate) &&
            !FileExists(old)) {
            CopyText(staging, sizeof staging, candidate);
            CopyText(fresh, sizeof fresh, protectedName);
            CopyText(aside, sizeof aside, old);
        }
    }

    if (staging[0] && CopyFileA(viewCopy, staging, TRUE)) {
        SetStatusKind(OpUpdate);
        switch (resultKind) {
        case OpVerify:
            attempted = true;
            ok = SignFile(static_cast<int32_t>(jobTotal), staging);
            break;
        case OpDecrypt:
            attempted = true;
            ok = EncryptFile(static_cast<int32_t>(jobTotal), staging);
            break;
        case OpUnpackEnvelope: {
            HWND owner = progressWindow;
            DWORD process = 0;
            if (owner) GetWindowThreadProcessId(owner, &process);
            if (process != GetCurrentProcessId()) owner = nullptr;
            if (MessageBoxA(owner, kEnvelopeUpdateText, QX_CAPTION_VERSION,
                            MB_ICONWARNING | MB_YESNO) == IDYES) {
                attempted = true;
                char subject[256] = "";
                ok = ReadOwnCertName(subject) &&
                     PackEnvelopeFile(static_cast<int32_t>(jobTotal), staging, subject);
            } else {
                ok = true;
            }
            break;
        }
        default:
            ok = true;
            break;
        }
        if (attempted && ok) ok = FileCanRead(fresh);
        if (attempted && ok) {
            // Swap: the input moves aside, the new file takes its name, and
            // the old input goes only after that.
            DWORD attributes = GetFileAttributesA(input);
            SetFileAttributesA(input, FILE_ATTRIBUTE_ARCHIVE);
            if (MoveFileExA(input, aside, 0)) {
                if (MoveFileExA(fresh, input, 0)) {
                    DeleteFileEx(aside, delSecure != 0);
                } else {
                    MoveFileExA(aside, input, 0);
                    ok = false;
                }
            } else {
                ok = false;
            }
            if (!ok && attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(input, attributes);
        }
        if (!ok) DeleteFileEx(fresh, delSecure != 0);
        DeleteFileEx(staging, delSecure != 0);
    }

    if (!ok) {
        ErrorRecord held{};
        GetLastErrorInfo(&held);
        FormatText(messageText, sizeof messageText, kUpdateKeptText, viewCopy);
        status.showAnimation = 0;
        status.displayKind = StatusError;
        status.operationText = OperationErrorText(protectKind) ? OperationErrorText(protectKind)
                                                                 : OperationStatusText(OpUpdate);
        status.doneText = OperationDoneText(protectKind);
        FormatText(status.detail, sizeof status.detail, "%s%s%s", held.set ? held.text : "",
                   held.set ? " " : "", messageText);
        // The user must learn where the changes are, with or without the window.
        if (IsBound())
            UpdateStatus(&status);
        else
            MessageBoxA(nullptr, status.detail, QX_ERROR_CAPTION,
                        MB_ICONERROR | MB_SETFOREGROUND);
    }
    CloseStatusWindow();
    return ok;
}

bool TQXCryptDir::IsAutoUnzip(const char* path) {
    if (!path) return false;
    char extension[256] = "";
    if (!SplitPath(path, nullptr, nullptr, extension)) return false;
    char zip[] = ".zip";
    CharLowerA(extension);
    CharLowerA(zip);
    if (strcmp(extension, zip) != 0) return false;
    bool on = false;
    return ReadUnzipSetting(&on) && on;
}

bool TQXCryptDir::UnzipTo(const char* archive, const char* folder) {
    if (!archive || !folder) return false;
    char chosen[256];  // folder may be unzipFolder itself
    if (!CopyText(chosen, sizeof chosen, folder)) return false;
    CopyText(unzipFolder, sizeof unzipFolder, chosen);
    if (!FileCanRead(archive) || !FileExists(unzipFolder)) return false;
    bool ok = Unzip(archive, unzipFolder, false);
    // Files replaced at the user's word go for good only after a complete
    // extraction; otherwise they come back. One that can be neither fails
    // the step, and the archive stays.
    if (!FinishOverwrite(ok)) ok = false;
    if (ok) DeleteSourceFile(archive);
    return ok;
}

bool TQXCryptDir::AskUnzipDir(char* folder) {
    if (!folder) return false;
    char* chosen = AskSelectDir();
    if (!chosen) return false;
    return CopyText(folder, 256, chosen);
}

bool TQXCryptDir::AskZipSaveAs(char* path) {
    if (!path) return false;
    if (!CopyText(status.path, sizeof status.path, path)) return false;
    char* chosen = AskFileSaveAs();
    if (!chosen) return false;
    char copy[256];
    if (!CopyText(copy, sizeof copy, chosen) || copy[0] == '\0') return false;
    CopyText(path, 256, copy);
    return true;
}

namespace {

void FillZipProgress(StatusRecord& status, uint32_t kind, uint32_t total) {
    status.showAnimation = 0;
    status.total = total;
    status.displayKind = StatusFileProgress;
    status.operationText = OperationStatusText(kind);
    status.doneText = OperationDoneText(kind);
    status.detail[0] = '\0';
}

}  // namespace

bool TQXCryptDir::ShowZipProgress(const char* name, uint32_t number, uint32_t zipTotal) {
    if (!name) return false;
    done = number;
    FillZipProgress(status, OpCompress, zipTotal);
    SetStatusFileName(name);
    return UpdateStatus(&status);
}

bool TQXCryptDir::OnUnzipProgress(const char* name, uint32_t number, uint32_t unzipTotal) {
    if (!name) return false;
    // Nothing is written outside the folder the user picked.
    if (unzipFolder[0] && !LiesInside(unzipFolder, name)) {
        FormatText(messageText, sizeof messageText, kOutsideTargetText, name);
        SetLastError(ERROR_INVALID_NAME);
        return QXReport(false, "ZipAPI", 992, messageText);
    }
    done = number;
    FillZipProgress(status, OpDecompress, unzipTotal);
    SetStatusFileName(name);
    return UpdateStatus(&status);
}

bool TQXCryptDir::OnUnzipOverwrite(const char* target) {
    if (!target) return false;
    return ConfirmOverwrite(target);
}
