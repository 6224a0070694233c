// QXForms: the small window layer the system's forms are built on, over plain
// Win32 windows and the common controls.
//
//  - QXForm: a top-level form with a client size in pixels, a dialog frame
//    with or without close box, centring, modeless or modal showing (the
//    thread's other windows disabled meanwhile), keyboard handling (Tab and
//    Shift+Tab between tab stops, Enter presses the default button or the
//    focused one, Esc calls OnEscape) and child controls: buttons, labels with
//    colour and font, panels and separator lines, a read-only memo, progress
//    bar, simple status bar, animate control and a side picture.
//  - QXMainWindow: a hidden main window with one-shot timers and the
//    program's message loop.
//  - QXAskSaveFileName, QXBrowseForFolder, QXMessageBox: the system's file,
//    folder and message dialogs.
//
// Window classes are registered on first use under "<name>.<module>" so that
// two modules in one process never share one; a form may ask for an exact
// class name instead (the progress window). A DLL calls
// QXFormsUnregisterClasses when it is unloaded.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "QXHandles.h"

// The module (exe or DLL) whose code this is.
HINSTANCE QXFormsModule();
// Unregisters every window class this module registered (DLL unload).
void QXFormsUnregisterClasses();

// Disables every enabled and visible top-level window of the calling thread
// except skip; returns them for QXEnableWindows.
std::vector<HWND> QXDisableThreadWindows(HWND skip);
void QXEnableWindows(const std::vector<HWND>& windows);

class QXForm {
public:
    QXForm();
    virtual ~QXForm();
    QXForm(const QXForm&) = delete;
    QXForm& operator=(const QXForm&) = delete;

    // Creates the (hidden) window. exactClass: register className as it is,
    // otherwise a name unique to this module is made from it. closeBox: the
    // title bar carries the system menu with its close box.
    bool Create(const char* className, bool exactClass, const char* caption, int clientWidth,
                int clientHeight, bool closeBox, HWND owner);
    void Destroy();
    HWND Handle() const { return hwnd_; }
    const std::string& ClassName() const { return className_; }

    void SetCaption(const char* caption);
    void CenterOnScreen();
    // Centres over the window, or on the screen when there is none.
    void CenterOver(HWND window);

    void ShowModeless();
    // Shows the form modally: the thread's other windows are disabled until
    // EndModal (or a close) ends the loop. Returns the modal result.
    int ShowModal();
    void EndModal(int result);
    bool InModalLoop() const { return modalRunning_; }

    // Controls. Identifiers are the caller's (see the table at the end).
    HWND AddButton(int id, const char* text, int x, int y, int w, int h, bool isDefault = false);
    HWND AddLabel(int id, const char* text, int x, int y, int w, int h,
                  COLORREF color = CLR_DEFAULT, int fontHeight = 0, const char* face = nullptr,
                  bool bold = false);
    HWND AddPanel(int id, int x, int y, int w, int h);
    HWND AddLine(int id, int x, int y, int w);  // a lowered horizontal line
    HWND AddMemo(int id, int x, int y, int w, int h, COLORREF background, const char* face,
                 int fontHeight);
    HWND AddProgressBar(int id, int x, int y, int w, int h);
    HWND AddStatusBar(int id);
    HWND AddAnimate(int id, int x, int y, int w, int h);
    HWND AddSidePicture(int id, int x, int y, int w, int h);
    HWND Control(int id) const;
    void SetDefaultButton(int id);
    int DefaultButton() const { return defaultButton_; }
    void SetControlText(int id, const char* text);
    void EnableControl(int id, bool enable);
    void ShowControl(int id, bool show);
    bool ControlVisible(int id) const;  // its own visible style, whatever the form's state

    // Control helpers.
    static bool MemoAppendLine(HWND memo, const char* text);  // as a new line at the end
    static void MemoShowScrollBar(HWND memo);
    static void ProgressSetRange(HWND bar, int lowest, int highest);
    static void ProgressSetPosition(HWND bar, int position);
    static int ProgressPosition(HWND bar);
    static int ProgressMaximum(HWND bar);
    static void StatusBarSetText(HWND bar, const char* text);

protected:
    // A button was clicked (or pressed by Enter).
    virtual void OnCommand(int id) {}
    // Esc was pressed.
    virtual void OnEscape() {}
    // The close box, Alt+F4 or WM_CLOSE from elsewhere. The default ends a
    // modal loop with the current result; a modeless form stays.
    virtual void OnCloseRequest();
    // Any other message; return true when handled (result in *result).
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
        return false;
    }
    int modalResult_ = 0;

private:
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK ControlProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    bool HandleKey(HWND from, WPARAM key);
    void PressEnter(HWND focus);
    // Where the focus goes when the form gets it: the default button, else
    // the first tab stop.
    HWND DefaultFocus() const;
    HWND AddControl(int id, const char* cls, const char* text, DWORD style, DWORD exStyle,
                    int x, int y, int w, int h);
    HFONT Font(int height, const char* face, bool bold);
    void DrawSidePicture(const DRAWITEMSTRUCT* item);

    struct Colors {
        COLORREF text;
        COLORREF back;
        qx::Brush brush;  // none: the face colour's brush
    };
    HWND hwnd_ = nullptr;
    std::string className_;
    int defaultButton_ = 0;
    bool modalRunning_ = false;
    bool modalDone_ = false;
    HWND lastFocus_ = nullptr;
    std::map<int, HWND> controls_;
    std::map<HWND, Colors> colors_;
    std::vector<qx::Font> fonts_;
    std::vector<HWND> sidePictures_;
};

// A main window that is never shown: one-shot timers and the message loop.
class QXMainWindow : public QXForm {
public:
    bool Create(const char* className, const char* caption);
    // Calls action once, ms milliseconds from now, on this thread.
    bool StartOneShotTimer(UINT_PTR id, UINT ms, std::function<void()> action);
    // Runs the thread's message loop until the window is closed; the exit code.
    int Run();
    // Destroys the window, which ends Run.
    void Close();

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

private:
    std::map<UINT_PTR, std::function<void()>> timers_;
};

// The save-file dialog. filter in the form "ZIP Files (*.zip)|*.zip"; the
// chosen full name goes to result (256 characters). False when cancelled or
// when the chosen name does not fit 255 characters (result then unchanged).
// The calling thread's other windows are disabled while it is open.
bool QXAskSaveFileName(HWND owner, const char* filter, const char* initialDir,
                       const char* fileName, char* result);
// The shell's folder browser (file-system folders, root the desktop, nothing
// preselected), the prompt above the tree. False when cancelled or when the
// folder does not fit 255 characters (result then unchanged).
bool QXBrowseForFolder(HWND owner, const char* prompt, char* result);
int QXMessageBox(HWND owner, const char* text, const char* caption, UINT type);

// Identifiers of the controls of the system's forms; tests find controls by them.
enum QXControlId {
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
