#include "DYesNoAll.h"

#include "QXDialogIds.h"

TDYesNoAll::TDYesNoAll(HWND owner, const char* caption) {
    // Client area 542 x 120, dialog border, only the close box.
    if (!Create("TDYesNoAll", false, "Frage", 542, 120, true, owner)) return;
    AddPanel(IDC_YESNOALL_PANEL, 0, 0, 542, 120);
    AddSidePicture(IDC_YESNOALL_SIDEBAR, 0, 0, 16, 120);
    AddMemo(IDC_YESNOALL_TEXT, 26, 10, 506, 62, GetSysColor(COLOR_MENU), "Arial", 14);
    AddLine(IDC_YESNOALL_LINE, 26, 82, 506);
    // The default button comes first in the tab order; the row reads
    // Yes, Yes all, No, No all, Cancel from left to right.
    const int y = 92, w = 100, h = 20, step = 104, left = 22;
    AddButton(IDC_YESNOALL_YESALL, "Ja, alle", left + step, y, w, h, true);
    AddButton(IDC_YESNOALL_YES, "Ja", left, y, w, h);
    AddButton(IDC_YESNOALL_NO, "Nein", left + 2 * step, y, w, h);
    AddButton(IDC_YESNOALL_NOALL, "Nein, alle", left + 3 * step, y, w, h);
    AddButton(IDC_YESNOALL_CANCEL, "Abbrechen", left + 4 * step, y, w, h);

    if (caption) SetCaption(caption);
    answer_ = ::AnswerCancel;
    SetControlText(IDC_YESNOALL_YES, "Yes");
    SetControlText(IDC_YESNOALL_YESALL, "Yes all");
    SetControlText(IDC_YESNOALL_NO, "No");
    SetControlText(IDC_YESNOALL_NOALL, "No all");
    SetControlText(IDC_YESNOALL_CANCEL, "Cancel");
}

uint8_t TDYesNoAll::Ask(const char* text) {
    if (!text || !Created()) return answer_;
    SetControlText(IDC_YESNOALL_TEXT, text);
    CenterOnScreen();
    ShowModal();
    return answer_;
}

void TDYesNoAll::Answer(uint8_t code) {
    answer_ = code;
    EndModal(code);
}

void TDYesNoAll::OnCommand(int id) {
    switch (id) {
    case IDC_YESNOALL_YES: AnswerYes(); break;
    case IDC_YESNOALL_YESALL: AnswerYesAll(); break;
    case IDC_YESNOALL_NO: AnswerNo(); break;
    case IDC_YESNOALL_NOALL: AnswerNoAll(); break;
    case IDC_YESNOALL_CANCEL: AnswerCancel(); break;
    default: break;
    }
}
