// QXOleAPI: the job runner (see QXOleAPI.h).
#include "QXOleAPI.h"

#include <mapi.h>

#include <cstring>

#include "QXCryptDir.h"
#include "QXHandles.h"
#include "tvCryptIF.h"

std::atomic<uint8_t> BringToFrontRequest{0};

namespace {

const char* const kDriveRootText = "Do you really want to execute this operation on drive '%s'?";
const char* const kMailCaption = QX_CAPTION_VERSION " - Email";
const char* const kMailQuestionText =
    "Should the signed and encrypted SME - File '%s' send via Email?";
const char* const kMailFailedText = "Your emailprogram could not be executed!";
const char* const kSelectedArchiveText =
    "This file '%s' could not be written! - (File already exists!)";

// The extension of a path, lower-cased, into 256 characters ("" when none).
void LowerExtension(const char* path, char* extension) {
    extension[0] = '\0';
    if (!SplitPath(path, nullptr, nullptr, extension)) extension[0] = '\0';
    CharLowerA(extension);
}

}  // namespace

TQXOleAPI::TQXOleAPI() : CDirX2(), TQXZip(), registry(), delSecure(false) {
    // The front first: its job opens the progress window on this thread.
    front = std::make_unique<TQXCryptIF>();
    fileHelper = std::make_unique<TQXFile>();
    bool secure = false;
    ReadDelSecure(&secure);
    delSecure = secure;
    ClearLastError();
}

TQXOleAPI::~TQXOleAPI() {
    // The front first: its job closes the progress window.
    front.reset();
    fileHelper.reset();
}

TQXCryptDir* TQXOleAPI::Job() const { return front ? front->job.get() : nullptr; }

HWND TQXOleAPI::MessageOwner() const {
    TQXCryptDir* job = Job();
    HWND window = job ? job->progressWindow : nullptr;
    if (!window || !IsWindow(window)) return nullptr;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId() ? window : nullptr;
}

int TQXOleAPI::ShowMessage(const char* text, const char* caption, UINT style) const {
    HWND owner = MessageOwner();
    return MessageBoxA(owner, text, caption, style | (owner ? 0 : MB_SETFOREGROUND));
}

// --- settings ------------------------------------------------------------------

bool TQXOleAPI::ReadSmeViaEmail(bool* flag) { return ReadRegSwitch("smeviaemail", flag); }
bool TQXOleAPI::ReadAskSmeEmail(bool* flag) { return ReadRegSwitch("asksmeemail", flag); }
bool TQXOleAPI::ReadZipFirst(bool* flag) { return ReadRegSwitch("zipfile", flag); }
bool TQXOleAPI::ReadDeleteSources(bool* flag) { return ReadRegSwitch("loeschequelldatei", flag); }
bool TQXOleAPI::ReadDelSecure(bool* flag) { return ReadRegSwitch("delsecure", flag); }

// --- run ---------------------------------------------------------------------------

bool TQXOleAPI::Run(uint32_t op, uint32_t count, const TQXSelFil* items, const char* recipient) {
    if (op == 0 || count == 0 || !items || !recipient) return false;
    if (!ConfirmDriveRoot(items[0])) return false;
    int32_t total = 0;
    if (!CountSelection(count, items, &total)) return false;
    bool zipFirst = false;
    UseZipFirst(op, &zipFirst);
    if (zipFirst) return RunZipped(op, count, items, total, recipient);
    return RunPerItem(op, count, items, total, recipient);
}

bool TQXOleAPI::ConfirmDriveRoot(const char* path) {
    if (!path || !IsDriveRoot(path)) return true;
    char text[512];
    FormatText(text, sizeof text, kDriveRootText, path);
    return ShowMessage(text, QX_WARNING_CAPTION, MB_ICONWARNING | MB_YESNOCANCEL) == IDYES;
}

bool TQXOleAPI::CountSelection(uint32_t count, const TQXSelFil* items, int32_t* total) {
    if (!total) return false;
    *total = 0;
    if (count == 0) return true;
    if (!items || !front) return false;
    front->SetStatusKind(OpCountFiles);
    bool ok = true;
    for (uint32_t i = 0; i < count && ok; ++i) ok = front->Count(items[i], total);
    return ok;
}

bool TQXOleAPI::UseZipFirst(uint32_t op, bool* flag) {
    if (!flag) return true;
    *flag = false;
    ReadZipFirst(flag);
    if (op == OpUnpackEnvelope || op == OpVerify || op == OpDecrypt)
        *flag = false;
    return true;
}

bool TQXOleAPI::IsEnvelopeKind(uint32_t op) { return op < 1 || op > 5; }

bool TQXOleAPI::MakeMailTempName(uint32_t op, int32_t total, const char* path, char* out) {
    if (!path || !out || total != 1 || !IsEnvelopeKind(op)) return false;
    bool viaMail = false;
    ReadSmeViaEmail(&viaMail);
    if (!viaMail) return false;
    char temp[256];
    if (!GetTempDir(temp)) return false;
    char name[256];
    if (!SplitPath(path, nullptr, name, nullptr) || name[0] == '\0') return false;
    if (strlen(temp) + 1 + strlen(name) > 255) return false;
    FormatText(out, 256, "%s\\%s", temp, name);
    return true;
}

bool TQXOleAPI::RunPerItem(uint32_t op, uint32_t count, const TQXSelFil* items, int32_t total,
                           const char* recipient) {
    if (count == 0 || !items || !recipient || !Job()) return false;
    Job()->ResetCounters();
    BringToFrontRequest.store(1);

    bool envelope = IsEnvelopeKind(op);
    if (envelope && recipient[0] == '\0') {
        front->SetStatusKind(OpPackEnvelope);
        ShowMessage(QX_INVALID_ARGUMENTS, QX_CAPTION_VERSION, MB_ICONERROR);
        return false;
    }

    bool ok = true;
    for (uint32_t i = 0; i < count && ok; ++i) {
        const char* entry = items[i];
        if (!envelope) {
            front->SetStatusKind(op);
            ok = front->Dispatch(op, total, entry, nullptr);
            continue;
        }
        front->SetStatusKind(OpPackEnvelope);
        // With mailing, a single file is enveloped from a copy in the temporary
        // folder, so the envelope lies there and the copy goes with packing.
        // A copy left there earlier is replaced; the new one has the name only
        // once it is whole. Without a copy the entry itself is packed. A file
        // that already lies there under that name is no copy to replace: it
        // is packed itself and goes, as every input there, only once its
        // envelope exists.
        char temp[256] = "";
        const char* work = entry;
        if (MakeMailTempName(op, total, entry, temp) && !IsDirectory(entry) &&
            !SameFile(entry, temp)) {
            DeleteFileEx(temp, delSecure);
            if (CopyToNewFile(entry, temp, delSecure)) {
                work = temp;
            } else {
                ErrorRecord dropped{};
                GetLastErrorInfo(&dropped);
            }
        }
        ok = front->PackEnvelope(total, work, recipient);
        if (ok) ok = OfferMail(count, work, recipient);
    }
    return ok;
}

bool TQXOleAPI::RunZipped(uint32_t op, uint32_t count, const TQXSelFil* items, int32_t total,
                          const char* recipient) {
    if (count == 0 || !items || !recipient || !Job()) return false;
    char archive[256] = "";
    if (!ZipSelection(op, count, items, total, archive)) return false;
    if (!FileCanRead(archive)) return false;

    Job()->ResetCounters();
    BringToFrontRequest.store(1);

    bool ok = false;
    if (op == OpSign || op == OpEncrypt) {
        front->SetStatusKind(op);
        ok = front->Dispatch(op, 1, archive, nullptr);
        if (ok) {
            // The sources go only now, when the protected archive exists.
            char output[256];
            FormatText(output, sizeof output, "%s%s", archive, OperationExtension(op));
            if (deleteAfterZip && FileCanRead(output)) DeletePackedSources(count, items);
            DeleteFileEx(archive, delSecure);
        }
        return ok;
    }

    front->SetStatusKind(OpPackEnvelope);
    if (recipient[0] == '\0') {
        ShowMessage(QX_INVALID_ARGUMENTS, QX_CAPTION_VERSION, MB_ICONERROR);
        return false;
    }
    ok = front->PackEnvelope(1, archive, recipient);
    if (ok) {
        DeleteFileEx(archive, delSecure);
        ok = OfferMail(1, archive, recipient);
    }
    return ok;
}

bool TQXOleAPI::ZipSelection(uint32_t op, uint32_t count, const TQXSelFil* items, int32_t total,
                             char* archive) {
    TQXCryptDir* job = Job();
    if (!job) return false;
    job->ResetCounters();
    front->SetStatusKind(OpCompress);
    if (count == 0 || !items || total <= 0 || !archive) return false;
    packedSources.clear();

    bool deleteSources = false;
    ReadDeleteSources(&deleteSources);
    if (IsEnvelopeKind(op)) deleteSources = false;

    char proposed[256] = "";
    char folder[256] = "";
    if (!BuildTargetName(static_cast<int>(count), items, ".zip", proposed, folder)) return false;

    char temp[256] = "";
    if (MakeMailTempName(op, 1, proposed, temp)) {
        CopyText(archive, 256, temp);
        deleteSources = false;
    } else {
        CopyText(archive, 256, proposed);
        if (!job->AskZipSaveAs(archive)) return false;
    }
    BringToFrontRequest.store(1);

    char extension[256];
    LowerExtension(archive, extension);
    if (strcmp(extension, ".zip") != 0) {
        if (strlen(archive) + 4 > 255) return false;
        strcat(archive, ".zip");
    }

    // A selected file is never the archive: moved aside for it, it would be
    // left out of the archive and removed with the old one.
    for (uint32_t i = 0; i < count; ++i) {
        if (SameFile(items[i], archive)) {
            char text[1024];
            FormatText(text, sizeof text, kSelectedArchiveText, archive);
            SetLastError(ERROR_FILE_EXISTS);
            QXReport(false, "FileAPI", 911, text);
            ShowMessage(text, QX_ERROR_CAPTION, MB_ICONERROR);
            return false;
        }
    }

    // A chosen name that already exists is replaced only when the user agrees;
    // an old archive of the temporary folder is replaced unasked. Either goes
    // only once the new archive has its name.
    bool replacing = false;
    if (FileExists(archive) && !IsInTempDir(archive)) {
        job->SetStatusFileName(archive);
        job->status.operationText = OperationStatusText(OpCompress);
        job->status.doneText = OperationDoneText(OpCompress);
        if (!job->ConfirmOverwrite(archive)) {
            job->skip = 0;
            return false;
        }
        replacing = true;
    } else if (FileExists(archive)) {
        if (!job->ReplaceAside(archive)) return false;
        replacing = true;
    }

    char base[256] = "";
    bool ok = CommonBaseDir(static_cast<int>(count), items, base) &&
              OpenArchive(base, archive, true, -1);
    if (ok) {
        deleteAfterZip = deleteSources;
        for (uint32_t i = 0; i < count && ok; ++i) {
            // Sources are never deleted while zipping: they go only after the
            // protected output of the archive exists (DeletePackedSources).
            ok = Zip(archive, items[i], QX_CREATED_WITH_TEXT, static_cast<uint32_t>(total), false,
                     delSecure);
            if (abort) ok = false;
            if (job->cancel) {
                ok = false;
                job->cancel = 0;
            }
        }
        // The archive gets its name only when it is whole and has entries;
        // otherwise its file goes without ever having had the name.
        uint32_t entries = entryCount;
        if (ok && entries > 0) {
            ok = CloseArchive(QX_CREATED_WITH_TEXT);
        } else {
            AbandonArchive(delSecure);
            ok = false;
        }
    }

    if (!ok) {
        // Nothing was deleted, and no archive has the name.
        packedSources.clear();
        deleteAfterZip = false;
    }
    // An old archive that can be neither removed nor put back is left under
    // its temporary name: the user is told where.
    char leftBehind[1024] = "";
    if (replacing && !job->FinishOverwrite(ok, 0, leftBehind, sizeof leftBehind)) {
        ShowMessage(leftBehind, QX_ERROR_CAPTION, MB_ICONERROR);
        ok = false;
    }
    return ok;
}

bool TQXOleAPI::OfferMail(uint32_t count, const char* path, const char* recipient) {
    if (count != 1) return true;
    char envelope[256] = "";
    bool given = path && recipient && strlen(path) + 4 <= 255;
    if (given) {
        FormatText(envelope, sizeof envelope, "%s%s", path, OperationExtension(OpPackEnvelope));
        if (!FileCanRead(envelope)) return true;

        bool send = false;
        ReadSmeViaEmail(&send);
        bool ask = false;
        if (send && ReadAskSmeEmail(&ask) && ask) {
            char text[512];
            FormatText(text, sizeof text, kMailQuestionText, envelope);
            send = ShowMessage(text, kMailCaption, MB_ICONQUESTION | MB_YESNO) == IDYES;
        }
        if (!send) return true;

        char address[256] = "";
        ExtractMailAddress(recipient, address);
        Trim(address);
        ClearLastError();
        ULONG code = MAPI_E_FAILURE;
        if (SendMailWithAttachment(address, QX_CREATED_WITH_TEXT, "", envelope, &code)) {
            DeleteFileEx(envelope, delSecure);
            return true;
        }
        // Cancelled in the mail program: the envelope stays, nothing to report.
        if (code == MAPI_USER_ABORT) {
            ClearLastError();
            return true;
        }
    }
    ErrorRecord error{};
    GetLastErrorInfo(&error);
    ShowMessage(error.set && error.text[0] ? error.text : kMailFailedText, QX_ERROR_CAPTION,
                MB_ICONERROR);
    return false;
}

// --- zip hooks ---------------------------------------------------------------------

bool TQXOleAPI::OnZipProgress(const char* path, uint32_t number, uint32_t total) {
    TQXCryptDir* job = Job();
    if (!path || !job) return false;
    if (!job->ShowZipProgress(path, number, total)) return false;
    packedSources.push_back(path);
    return true;
}

bool TQXOleAPI::OnDeleteSource(const char* path) {
    TQXCryptDir* job = Job();
    if (!path || !job) return false;
    // The read-only question looks at this source's own attributes.
    job->inputInfo = job->fileHelper->GetFileInfo(path);
    if (!job->inputInfo) return false;
    job->SetStatusFileName(path);
    job->status.operationText = OperationStatusText(OpCompress);
    job->status.doneText = OperationDoneText(OpCompress);
    bool ok = job->ConfirmReadOnly(path);
    job->skip = 0;
    return ok;
}

void TQXOleAPI::DeletePackedSources(uint32_t count, const TQXSelFil* items) {
    TQXCryptDir* job = Job();
    if (!job) return;
    auto deletable = [](const char* path) { return !IsInSystemDir(path) && !IsInWindowsDir(path); };
    for (const std::string& source : packedSources) {
        if (job->cancel) break;
        if (deletable(source.c_str()) && OnDeleteSource(source.c_str()))
            DeleteFileEx(source.c_str(), delSecure);
    }
    // Empty files are not stored in an archive but were packed all the same.
    for (uint32_t i = 0; i < count && !job->cancel; ++i) {
        const char* entry = items[i];
        if (!IsDirectory(entry) && QueryFileSize(entry) == 0 && FileExists(entry) &&
            deletable(entry) && OnDeleteSource(entry))
            DeleteFileEx(entry, delSecure);
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (IsDirectory(items[i]) && !IsDriveRoot(items[i])) RemoveEmptyFolders(items[i]);
    }
    packedSources.clear();
}

// Removes, bottom up, the folders of a packed tree that are empty now, and
// its empty files. Folders whose names begin with '.' were not packed and stay.
void TQXOleAPI::RemoveEmptyFolders(const char* folder) {
    char base[256];
    if (!CopyText(base, sizeof base, folder)) return;
    StripTrailingBackslash(base);
    char pattern[256];
    if (strlen(base) + 4 > 255) return;
    FormatText(pattern, sizeof pattern, "%s\\*.*", base);
    WIN32_FIND_DATAA entry;
    qx::Find listing(FindFirstFileA(pattern, &entry));
    if (listing) {
        do {
            if (strlen(base) + 1 + strlen(entry.cFileName) > 255) continue;
            char path[256];
            FormatText(path, sizeof path, "%s\\%s", base, entry.cFileName);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (entry.cFileName[0] == '.') continue;
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
                RemoveEmptyFolders(path);
            } else if (entry.nFileSizeLow == 0 && entry.nFileSizeHigh == 0 &&
                       !IsInSystemDir(path) && !IsInWindowsDir(path) && Job() &&
                       !Job()->cancel && OnDeleteSource(path)) {
                DeleteFileEx(path, delSecure);
            }
        } while (FindNextFileA(listing.get(), &entry));
        // Closed before the folder itself is removed.
        listing.reset();
    }
    // A folder that still holds a kept file stays.
    if (!IsInSystemDir(base) && !IsInWindowsDir(base) && !RemoveDirectoryA(base)) SetLastError(0);
}
