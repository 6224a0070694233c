#include "QXDlgOkHilfe.h"

#include <shellapi.h>

#include <cstring>

#include "QXDialogIds.h"
#include "QXTools.h"

TQXDlgOkHilfe::TQXDlgOkHilfe(HWND owner) : owner_(owner) {
    // Client area 492 x 121, dialog border, only the close box.
    if (!Create("TQXDlgOkHilfe", false, "Hinweis", 492, 121, true, owner)) return;
    AddMemo(IDC_OKHELP_TEXT, 26, 8, 456, 72, GetSysColor(COLOR_MENU), "Arial", 14);
    AddPanel(IDC_OKHELP_PANEL, 0, 0, 492, 121);
    AddLine(IDC_OKHELP_LINE, 26, 88, 456);
    // Left to right: BOK, BAbbruch, BHilfe.
    const int y = 96, w = 100, h = 20;
    AddButton(IDC_OKHELP_OK, "OK", 170, y, w, h, true);
    AddButton(IDC_OKHELP_HELP, "Hilfe", 382, y, w, h);
    AddButton(IDC_OKHELP_CANCEL, "Abbrechen", 276, y, w, h);
    AddSidePicture(IDC_OKHELP_SIDEBAR, 0, 0, 16, 121);
    result_ = AnswerOK;
    hasText_ = 0;
    mode_ = 0;
    SetButtonTexts();
}

void TQXDlgOkHilfe::SetButtonTexts() {
    SetControlText(IDC_OKHELP_OK, mode_ ? "Yes" : "OK");
    SetControlText(IDC_OKHELP_HELP, mode_ ? "No" : "Help");
    SetControlText(IDC_OKHELP_CANCEL, "Cancel");
}

bool TQXDlgOkHilfe::ShowText(const char* caption, const char* text) {
    mode_ = 0;
    if (!caption || !Created()) return false;
    SetButtonTexts();
    SetCaption(caption);
    if (text) SetControlText(IDC_OKHELP_TEXT, text);
    // Each showing starts from OK, so that the close box lets the job go on.
    result_ = AnswerOK;
    CenterOver(owner_);
    ShowModal();
    return result_ != AnswerCancel;
}

bool TQXDlgOkHilfe::AppendText(const char* text) {
    if (!text || !Created()) return false;
    HWND memo = Control(IDC_OKHELP_TEXT);
    MemoShowScrollBar(memo);
    if (!MemoAppendLine(memo, text)) return false;
    hasText_ = 1;
    return true;
}

uint8_t TQXDlgOkHilfe::AskYesNoCancel(const char* caption, const char* text) {
    mode_ = 1;
    if (!caption || !Created()) return result_;
    SetCaption(caption);
    SetButtonTexts();
    if (text) SetControlText(IDC_OKHELP_TEXT, text);
    // A question closed by its close box answers Cancel, whatever was answered before.
    result_ = AnswerCancel;
    CenterOver(owner_);
    ShowModal();
    return result_;
}

void TQXDlgOkHilfe::OnCloseRequest() {
    if (mode_ == 1) result_ = AnswerCancel;
    else if (result_ == AnswerHelp) result_ = AnswerOK;  // closing after Help goes on
    EndModal(result_);
}

void TQXDlgOkHilfe::BOKClick() {
    result_ = mode_ ? AnswerYes : AnswerOK;
    EndModal(result_);
}

void TQXDlgOkHilfe::BHilfeClick() {
    if (mode_ == 0) {
        result_ = AnswerHelp;
        OpenHelp("Hilfe\\onlinehilfe.htm", "");
    } else {
        result_ = AnswerNo;
        EndModal(result_);
    }
}

void TQXDlgOkHilfe::BAbbruchClick() {
    result_ = AnswerCancel;
    EndModal(result_);
}

void TQXDlgOkHilfe::OnCommand(int id) {
    switch (id) {
    case IDC_OKHELP_OK: BOKClick(); break;
    case IDC_OKHELP_HELP: BHilfeClick(); break;
    case IDC_OKHELP_CANCEL: BAbbruchClick(); break;
    default: break;
    }
}

bool ModuleFolder(char* folder) {
    char module[MAX_PATH + 1] = "";
    DWORD length = GetModuleFileNameA(QXFormsModule(), module, sizeof(module));
    if (length == 0 || length >= 256) return false;
    if (!SplitPath(module, folder, nullptr, nullptr)) return false;
    StripTrailingBackslash(folder);
    return true;
}

bool BuildHelpAddress(const char* folder, const char* page, const char* anchor, char* address) {
    if (!folder || !page || !anchor || !address) return false;
    char file[1024];
    FormatText(file, sizeof(file), "%s\\%s", folder, page);
    char composed[1024];
    FormatText(composed, sizeof(composed), "%s%s%s", "file:///", file, anchor);
    return CopyText(address, 256, composed);  // refused, not cut, when too long
}

bool TQXDlgOkHilfe::OpenHelp(const char* page, const char* anchor) {
    if (!page || !anchor) return false;
    // The pages lie beside this module: in the Explorer the process is not ours.
    char folder[256];
    char address[256];
    if (!ModuleFolder(folder) || !BuildHelpAddress(folder, page, anchor, address)) return false;
    ShellExecuteA(Handle(), "open", address, anchor, nullptr, SW_SHOW);
    return true;
}
