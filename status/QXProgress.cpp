#include "QXProgress.h"

#include <cstring>

#include "FileAPI.h"
#include "QXDialogIds.h"
#include "QXProgressWindow.h"
#include "QXReg.h"
#include "QXTools.h"
#include "QXVersion.h"

const char* const kProgressTitle = QX_CAPTION_VERSION " - (c) Quorvex";

namespace {
const char* Text(const char* text) { return text ? text : ""; }
}  // namespace

TQXProgress::TQXProgress(HWND owner) : owner_(owner) {
    aviAvailable = 0;
    cancelRequested = 0;
    sigInfoPending = 0;
    showSigInfoOnClose = 1;
    // Client area 498 x 102, dialog border, no title-bar buttons. The class
    // name is fixed: other threads and processes find the window by it.
    if (!Create(QX_PROGRESS_CLASS, true, "Tarvisto", 498, 102, false, owner)) return;
    sigInfoDialog = std::make_unique<TQXDlgOkHilfe>(owner);

    AddPanel(IDC_PROGRESS_PANEL, 0, 0, 498, 80);
    AddButton(IDC_PROGRESS_CANCEL, "Abbrechen", 388, 44, 100, 20);
    AddProgressBar(IDC_PROGRESS_BAR, 34, 44, 345, 20);
    AddLabel(IDC_PROGRESS_STATUS, "Tarvisto", 34, 10, 454, 24, RGB(0, 0, 255), 17, "Arial", true);
    AddStatusBar(IDC_PROGRESS_STATUSBAR);
    AddSidePicture(IDC_PROGRESS_SIDEBAR, 0, 0, 24, 80);
    AddAnimate(IDC_PROGRESS_ANIMATE, 34, 38, 250, 32);

    SetCaption(kProgressTitle);
    SetControlText(IDC_PROGRESS_CANCEL, "Cancel");
    EnableControl(IDC_PROGRESS_CANCEL, true);
    ProgressSetRange(Control(IDC_PROGRESS_BAR), 5, 100);
    LoadAnimation();
}

TQXProgress::~TQXProgress() {
    sigInfoDialog.reset();
    Destroy();
}

bool TQXProgress::LoadAnimation() {
    char clip[256] = "";
    bool found = ReadRegString(HKEY_CURRENT_USER, QX_REG_SETTINGS_KEY, "secureavi", clip) &&
                 FileCanRead(clip);
    HWND animate = Control(IDC_PROGRESS_ANIMATE);
    if (found) found = SendMessageA(animate, ACM_OPENA, 0, reinterpret_cast<LPARAM>(clip)) != 0;
    if (found) {
        aviAvailable = 1;
        StartAnimation();
        ShowControl(IDC_PROGRESS_ANIMATE, false);
        ShowBar(true);
    } else {
        MessageBoxA(Handle(), "Internal Error! - ('sercure.avi' not found)",
                    QX_CAPTION_VERSION, MB_ICONERROR);
        RequestAbort();
    }
    aviAvailable = found ? 1 : 0;
    return found;
}

void TQXProgress::StopAnimation() {
    if (aviAvailable) SendMessageA(Control(IDC_PROGRESS_ANIMATE), ACM_STOP, 0, 0);
}

void TQXProgress::StartAnimation() {
    // Frames 0 to 14, repeated.
    if (aviAvailable)
        SendMessageA(Control(IDC_PROGRESS_ANIMATE), ACM_PLAY, static_cast<WPARAM>(-1),
                     MAKELPARAM(0, 14));
}

void TQXProgress::ShowBar(bool show) {
    barVisible_ = show;
    ShowControl(IDC_PROGRESS_BAR, show);
}

void TQXProgress::BringForward() { RaiseWindow(Handle()); }

bool TQXProgress::UpdateStatus(const StatusRecord* record) {
    PumpMessages(Handle(), 0, 0);
    bool result = false;
    if (record) {
        if (record->showAnimation) {
            ShowBar(false);
            if (aviAvailable) ShowControl(IDC_PROGRESS_ANIMATE, true);
        } else {
            if (aviAvailable) ShowControl(IDC_PROGRESS_ANIMATE, false);
            ShowBar(true);
        }
        switch (record->displayKind) {
        case StatusError:
            result = ShowError(record);
            break;
        case StatusFileProgress:
            result = ShowFileCounter(record->fileName, record->subFolder, record->current,
                                     record->total);
            if (result) result = SetProgress(record->current, record->total);
            break;
        case StatusSignatureValid:
            result = AddSignatureInfo(record);
            break;
        case StatusLine:
            SetControlText(IDC_PROGRESS_STATUS, Text(record->operationText));
            ProgressSetRange(Control(IDC_PROGRESS_BAR), 5, 100);
            if (record->operationText &&
                lstrcmpiA(record->operationText, OperationStatusText(OpRestore)) == 0)
                EnableControl(IDC_PROGRESS_CANCEL, false);  // for good
            result = true;
            break;
        case StatusPumpOnly:
            PumpMessages(Handle(), 0, 0);
            PumpMessages(nullptr, 0, 0);
            result = true;
            break;
        default:
            result = false;
            break;
        }
    }
    if (cancelRequested) {
        cancelRequested = 0;
        return false;
    }
    return result;
}

bool TQXProgress::ShowFileCounter(const char* name, const char* folder, uint32_t current,
                                  uint32_t total) {
    if (!name || !folder) return false;
    char shown[1024];
    if (*folder)
        FormatText(shown, sizeof(shown), "..\\%s\\%s", folder, name);
    else
        FormatText(shown, sizeof(shown), "%s", name);
    char counter[1024];
    FormatText(counter, sizeof(counter), "[%4.4lu/%4.4lu] File: '%s'",
               static_cast<unsigned long>(current), static_cast<unsigned long>(total), shown);
    StatusBarSetText(Control(IDC_PROGRESS_STATUSBAR), counter);
    return true;
}

bool TQXProgress::SetProgress(uint32_t current, uint32_t total) {
    if (current == 0 || total == 0) return false;
    if (!barVisible_) return true;
    // In 64 bits: a large count times 90 must not wrap.
    uint64_t position = static_cast<uint64_t>(current) * 90 / total + 5;
    HWND bar = Control(IDC_PROGRESS_BAR);
    if (static_cast<uint64_t>(ProgressMaximum(bar)) >= position)
        ProgressSetPosition(bar, static_cast<int>(position));
    return true;
}

bool TQXProgress::ShowError(const StatusRecord* record) {
    StopAnimation();
    auto box = std::make_unique<TQXDlgOkHilfe>(nullptr);
    if (!box->Created()) return false;
    char shown[1024];
    if (record->subFolder[0])
        FormatText(shown, sizeof(shown), "..\\%s\\%s", record->subFolder, record->fileName);
    else
        FormatText(shown, sizeof(shown), "%s", record->fileName);
    char message[1024];
    FormatText(message, sizeof(message), "Error %s file '%s'!\r\n%s", Text(record->operationText),
               shown, record->detail);
    BringForward();
    Sleep(1000);
    bool result = box->ShowText(QX_ERROR_CAPTION, message);
    box.reset();
    StartAnimation();
    return result;
}

bool TQXProgress::AddSignatureInfo(const StatusRecord* record) {
    StopAnimation();
    // The name without its ".sgn"; a name too short for that stays whole.
    char name[256];
    FormatText(name, sizeof(name), "%s", record->fileName);
    size_t length = strlen(name);
    if (length >= 4) name[length - 4] = '\0';
    char line[1024];
    FormatText(line, sizeof(line), "'%s' is valid signed by:\r\n %s\r\n", name, record->detail);
    bool result = sigInfoDialog && sigInfoDialog->AppendText(line);
    if (result) sigInfoPending = 1;
    StartAnimation();
    return result;
}

bool TQXProgress::ShowSignatureInfo() {
    if (!sigInfoPending || !sigInfoDialog) return false;
    BringForward();
    Sleep(1000);
    bool result = sigInfoDialog->ShowText(QX_PRODUCT_VERSION " - Signature Info!", nullptr);
    sigInfoPending = 0;
    return result;
}

bool TQXProgress::RequestAbort() {
    cancelRequested = 1;
    showSigInfoOnClose = 0;
    EnableControl(IDC_PROGRESS_CANCEL, false);
    SetControlText(IDC_PROGRESS_STATUS, "Procedure is aborting... please wait!");
    return true;
}

void TQXProgress::FormClose() {
    if (barVisible_) {
        HWND bar = Control(IDC_PROGRESS_BAR);
        ProgressSetPosition(bar, ProgressMaximum(bar));
        UpdateWindow(bar);
        Sleep(200);
    }
    if (showSigInfoOnClose) ShowSignatureInfo();
    showSigInfoOnClose = 1;
}

void TQXProgress::OnCommand(int id) {
    if (id == IDC_PROGRESS_CANCEL) BAbbruchClick();
}

void TQXProgress::OnEscape() {
    // Esc presses the Cancel button, so only while it is enabled.
    HWND button = Control(IDC_PROGRESS_CANCEL);
    if (button && IsWindowEnabled(button)) RequestAbort();
}

void TQXProgress::OnCloseRequest() {
    HWND button = Control(IDC_PROGRESS_CANCEL);
    if (button && IsWindowEnabled(button)) RequestAbort();
}
