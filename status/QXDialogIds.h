// Identifiers of the controls of the dialogs library's windows (the progress
// window, the yes/no/all question and the OK/help dialog); tests find the
// controls by them.
#pragma once

enum QXDialogControlId {
    // TQXProgress
    IDC_PROGRESS_PANEL = 100,
    IDC_PROGRESS_CANCEL = 101,     // BAbbruch
    IDC_PROGRESS_BAR = 102,        // QXProgressBar
    IDC_PROGRESS_STATUS = 103,     // LStatus
    IDC_PROGRESS_STATUSBAR = 104,  // QXStatusBar
    IDC_PROGRESS_SIDEBAR = 105,    // QXSeitenbar
    IDC_PROGRESS_ANIMATE = 106,    // ProgressAnimate
    // TDYesNoAll
    IDC_YESNOALL_PANEL = 200,
    IDC_YESNOALL_TEXT = 201,       // MMsg
    IDC_YESNOALL_YES = 202,        // BJa
    IDC_YESNOALL_YESALL = 203,     // BJaAlle
    IDC_YESNOALL_NO = 204,         // BNein
    IDC_YESNOALL_NOALL = 205,      // BNeinAlle
    IDC_YESNOALL_CANCEL = 206,     // BAbbruch
    IDC_YESNOALL_SIDEBAR = 207,
    IDC_YESNOALL_LINE = 208,
    // TQXDlgOkHilfe
    IDC_OKHELP_TEXT = 301,         // MNoCert
    IDC_OKHELP_PANEL = 302,
    IDC_OKHELP_LINE = 303,
    IDC_OKHELP_OK = 304,           // BOK ("OK" or "Yes")
    IDC_OKHELP_HELP = 305,         // BHilfe ("Help" or "No")
    IDC_OKHELP_CANCEL = 306,       // BAbbruch
    IDC_OKHELP_SIDEBAR = 307,
};
