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
//    Every form has one-shot timers (re-armable) and an accelerator table;
//    a program's main form runs the message loop that translates it. Its
//    richer controls: a page control (flat hot-tracking button tabs with an
//    image list, pages as groups of controls shown and hidden), a tree view
//    with an image list, check boxes and radio buttons whose click operation
//    also runs when the program changes their state, group boxes, a single-
//    line edit, clickable pictures and underlined links (hand cursor), hints
//    per control and popup menus (QXPopupMenu) whose entries can be enabled
//    and hidden. Menu and accelerator commands reach OnCommand like button
//    clicks; tab and tree events reach typed handlers.
//  - QXMainWindow: a hidden main window with one-shot timers and the
//    program's message loop.
//  - QXAskOpenFileName, QXAskSaveFileName, QXBrowseForFolder, QXMessageBox:
//    the system's file, folder and message dialogs.
//  - The application's exception display: once a program names its title
//    (QXSetApplicationTitle), an exception that escapes a handler is recorded
//    as before and shown in a box with that caption; the program goes on.
//
// Window classes are registered on first use under "<name>.<module>" so that
// two modules in one process never share one; a form may ask for an exact
// class name instead (the progress window). A DLL calls
// QXFormsUnregisterClasses when it is unloaded.
//
// The layer's files: QXForms.cpp the form, its keys and its message loop;
// QXControls.cpp the controls, their hints and popup menus (QXPopupMenu.h);
// QXFormHelpers.cpp the pages, the tree and the memo, progress and status bar
// helpers; QXDialogs.cpp the system dialogs (QXDialogs.h). This header brings
// the whole layer.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "QXDialogs.h"
#include "QXHandles.h"
#include "QXPopupMenu.h"

// The module (exe or DLL) whose code this is.
HINSTANCE QXFormsModule();
// Unregisters every window class this module registered (DLL unload).
void QXFormsUnregisterClasses();

// The application's title, the caption of its exception display. Without
// one (a library), escaping exceptions are only recorded.
void QXSetApplicationTitle(const char* title);
const char* QXApplicationTitle();
// Shows what escaped (null: an unknown exception) in a box captioned with the
// application's title; nothing without a title.
void QXShowException(const char* what) noexcept;
// The same box with the caption given (a program's entry that keeps no title).
void QXShowExceptionBox(const char* caption, const char* what) noexcept;

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

    // Controls. Identifiers are the caller's, one for each control of a form.
    HWND AddButton(int id, const char* text, int x, int y, int w, int h, bool isDefault = false);
    HWND AddLabel(int id, const char* text, int x, int y, int w, int h,
                  COLORREF color = CLR_DEFAULT, int fontHeight = 0, const char* face = nullptr,
                  bool bold = false);
    // A panel below the other controls; background CLR_DEFAULT: the face colour.
    HWND AddPanel(int id, int x, int y, int w, int h, COLORREF background = CLR_DEFAULT);
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

    // One-shot timers: action runs once, ms milliseconds from now, on this
    // thread. Starting an armed timer again re-arms it with the new action.
    bool StartOneShotTimer(UINT_PTR id, UINT ms, std::function<void()> action);
    void StopTimer(UINT_PTR id);
    bool TimerArmed(UINT_PTR id) const;

    // Accelerators: the key (with Ctrl) sends the command id to OnCommand
    // while the program's loop (RunMessageLoop) runs. With focusControl, the
    // key acts only while that control has the focus.
    bool AddAccelerator(int id, WORD key, bool ctrl, int focusControl = 0);
    // The thread's message loop until WM_QUIT, translating this form's
    // accelerators for its own windows; the quit code.
    int RunMessageLoop();

    // Richer controls.
    // The page control: flat buttons as tabs, hot tracking, tab images from
    // images (the caller's). Controls are put on a page with PutOnPage and are
    // shown only while their page is the current one.
    HWND AddPageControl(int id, int x, int y, int w, int h, HIMAGELIST images);
    int AddPage(int pageControl, const char* text, int image);  // the page's index
    void SetPageText(int pageControl, int page, const char* text);
    void PutOnPage(int controlId, int pageControl, int page);
    // Makes the page the current one (as a click on its tab does).
    bool SelectPage(int pageControl, int page);
    int CurrentPage(int pageControl) const;

    HWND AddTreeView(int id, int x, int y, int w, int h, HIMAGELIST images, int indent);
    HWND AddCheckBox(int id, const char* text, int x, int y, int w, int h);
    // Radio buttons of one group: turning one on turns the others off.
    HWND AddRadioButton(int id, const char* text, int x, int y, int w, int h, int group);
    bool Checked(int id) const;
    // Changes the state. When it changes (a radio button: when it is turned
    // on), the click operation runs: OnCommand(id), as for a user's click.
    void SetChecked(int id, bool on);
    HWND AddGroupBox(int id, const char* text, int x, int y, int w, int h);
    HWND AddEdit(int id, const char* text, int x, int y, int w, int h, bool readOnly);
    // A picture drawn by draw; clickable ones report clicks to OnCommand and
    // show the hand cursor.
    HWND AddPicture(int id, int x, int y, int w, int h,
                    std::function<void(HDC, const RECT&)> draw, bool clickable);
    // A label that acts as a link: underlined, hand cursor, clicks to OnCommand.
    HWND AddLink(int id, const char* text, int x, int y, int w, int h, COLORREF color,
                 int fontHeight, const char* face, bool bold);
    // Whether the hand cursor is shown over the control.
    bool HasHandCursor(int id) const;
    // Hints: the tooltip text of a control, shown while the hint is on.
    void SetHint(int id, const char* text);
    std::string Hint(int id) const;
    void ShowHint(int id, bool show);
    bool HintShown(int id) const;
    // The popup menu opens on a context-menu request over the control.
    void AttachPopup(int controlId, QXPopupMenu* menu, HIMAGELIST images);

    // Control helpers.
    static bool MemoAppendLine(HWND memo, const char* text);  // as a new line at the end
    static void MemoShowScrollBar(HWND memo);
    static void ProgressSetRange(HWND bar, int lowest, int highest);
    static void ProgressSetPosition(HWND bar, int position);
    static int ProgressPosition(HWND bar);
    static int ProgressMaximum(HWND bar);
    static void StatusBarSetText(HWND bar, const char* text);
    // Tree view: nodes carry a text, an image and a value of the caller's.
    static HTREEITEM TreeAdd(HWND tree, HTREEITEM parent, const char* text, int image,
                             LPARAM value = 0);
    static std::string TreeText(HWND tree, HTREEITEM node);
    static int TreeImage(HWND tree, HTREEITEM node);
    static LPARAM TreeValue(HWND tree, HTREEITEM node);
    static HTREEITEM TreeParent(HWND tree, HTREEITEM node);
    // The walk in index order (depth first, as the tree lists its nodes): the
    // node after node, the first one for null; null at the end.
    static HTREEITEM TreeNext(HWND tree, HTREEITEM node);
    static int TreeCount(HWND tree);
    static bool TreeSelect(HWND tree, HTREEITEM node);  // also makes it visible
    static HTREEITEM TreeSelection(HWND tree);
    static bool TreeDelete(HWND tree, HTREEITEM node);
    static void TreeClear(HWND tree);
    static std::string PageText(HWND pageControl, int page);

protected:
    // A button, check box, radio button, picture or link was clicked (or a
    // button pressed by Enter), a menu entry or an accelerator chosen.
    virtual void OnCommand(int id) {}
    // The page control's current page changed.
    virtual void OnPageChanged(int pageControl, int page) {}
    // The tree's selection is about to change (the change is allowed), has
    // changed, or the tree was clicked.
    virtual void OnTreeChanging(int tree, HTREEITEM from, HTREEITEM to) {}
    virtual void OnTreeChanged(int tree, HTREEITEM node) {}
    virtual void OnTreeClick(int tree) {}
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
    HFONT Font(int height, const char* face, bool bold, bool underline = false);
    void DrawSidePicture(const DRAWITEMSTRUCT* item);
    void HandleTimer(UINT_PTR id);
    bool HandleNotify(const NMHDR* header, LRESULT* result);
    void HandleRadioClick(int id);
    void ShowPage(int pageControl, int page);
    bool MenuCommandActive(int id) const;
    void UpdateTool(HWND control);

    // What the form keeps of one control, by its id.
    struct ControlEntry {
        HWND window = nullptr;
        // A label, link, panel or memo with colours of its own.
        struct Colors {
            COLORREF text;
            COLORREF back;
            qx::Brush brush;  // none: the face colour's brush
        };
        std::optional<Colors> colors;
        // An owner-drawn picture: the side picture or the caller's drawing.
        enum class Drawing { None, SidePicture, Caller } drawing = Drawing::None;
        std::function<void(HDC, const RECT&)> draw;
        bool handCursor = false;
        std::optional<int> radioGroup;
        // A control on a page: the page control, the page, and whether the
        // program wants it shown.
        struct PageRef {
            int control;
            int page;
            bool wanted;
        };
        std::optional<PageRef> page;
        std::optional<int> currentPage;  // a page control: its current page
        std::string hint;
        bool hintShown = false;
        QXPopupMenu* popup = nullptr;  // opens on a context-menu request
        HIMAGELIST popupImages = nullptr;
    };
    const ControlEntry* Entry(int id) const;
    // The entry of one of this form's own control windows; null for another window.
    ControlEntry* EntryOf(HWND window);

    HWND hwnd_ = nullptr;
    std::string className_;
    int defaultButton_ = 0;
    bool modalRunning_ = false;
    bool modalDone_ = false;
    HWND lastFocus_ = nullptr;
    std::map<int, ControlEntry> controls_;
    std::vector<qx::Font> fonts_;
    std::map<UINT_PTR, std::function<void()>> timers_;
    std::vector<ACCEL> accelEntries_;
    std::map<int, int> accelFocus_;  // command id -> the control that must have the focus
    qx::Accelerators accelerators_;
    HWND tooltip_ = nullptr;
};

// A main window that is never shown: one-shot timers and the message loop.
class QXMainWindow : public QXForm {
public:
    bool Create(const char* className, const char* caption);
    // Runs the thread's message loop until the window is closed; the exit code.
    int Run();
    // Destroys the window, which ends Run.
    void Close();

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
};
