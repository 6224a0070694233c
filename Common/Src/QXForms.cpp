// QXForms: forms and controls over plain Win32 windows.
#include "QXForms.h"

#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "QXTools.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// The window layer's dispatch is a boundary: nothing thrown by a handler
// leaves a window procedure (a message handled so counts as 0).
constexpr char kFormsUnit[] = "QXForms";
constexpr int kWindowProcLocation = 2801;
constexpr int kControlProcLocation = 2802;
constexpr int kEnumLocation = 2803;

std::mutex g_classLock;
std::vector<std::string> g_classes;  // registered by this module

void InitControlsOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS | ICC_BAR_CLASSES |
                                                     ICC_ANIMATE_CLASS | ICC_STANDARD_CLASSES |
                                                     ICC_TAB_CLASSES | ICC_TREEVIEW_CLASSES};
        InitCommonControlsEx(&icc);
    });
}

// Registers the form class once per module; returns the name used.
std::string RegisterFormClass(const char* base, bool exact, WNDPROC proc) {
    char name[256];
    if (exact)
        FormatText(name, sizeof(name), "%s", base);
    else
        FormatText(name, sizeof(name), "%s.%p", base, (void*)QXFormsModule());
    std::lock_guard<std::mutex> lock(g_classLock);
    for (const std::string& known : g_classes)
        if (known == name) return known;
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = proc;
    wc.hInstance = QXFormsModule();
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = name;
    if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return "";
    g_classes.push_back(name);
    return name;
}

BOOL CALLBACK CollectThreadWindow(HWND window, LPARAM param) {
    auto* list = reinterpret_cast<std::pair<HWND, std::vector<HWND>>*>(param);
    // A failed allocation ends the enumeration instead of unwinding through it.
    return CatchAtBoundary(kFormsUnit, kEnumLocation, "CollectThreadWindow", FALSE, [&]() -> BOOL {
        if (window != list->first && IsWindowVisible(window) && IsWindowEnabled(window)) {
            list->second.push_back(window);
        }
        return TRUE;
    });
}

char g_applicationTitle[256] = "";

// The dispatch of a window or control procedure: what a handler throws is
// recorded, shown by the application's exception display, and the message
// counts as handled with 0.
template <typename Body>
LRESULT DispatchAtBoundary(int location, const char* where, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (const std::exception& error) {
        ReportException(kFormsUnit, location, where, error.what());
        QXShowException(error.what());
    } catch (...) {
        ReportException(kFormsUnit, location, where, nullptr);
        QXShowException(nullptr);
    }
    return 0;
}

}  // namespace

void QXSetApplicationTitle(const char* title) {
    if (!CopyText(g_applicationTitle, sizeof(g_applicationTitle), title ? title : ""))
        g_applicationTitle[0] = '\0';
}

const char* QXApplicationTitle() { return g_applicationTitle; }

void QXShowException(const char* what) {
    if (!g_applicationTitle[0]) return;
    try {
        char text[1024];
        FormatText(text, sizeof(text), "%s", what && *what ? what : "Unknown exception");
        MessageBoxA(GetActiveWindow(), text, g_applicationTitle, MB_OK | MB_ICONERROR);
    } catch (...) {
        // The display itself must never throw out of a boundary.
    }
}

// ---------------------------------------------------------------------------
// QXPopupMenu

void QXPopupMenu::Add(int id, const char* text, const char* shortcut, int image) {
    entries_.push_back({id, text ? text : "", shortcut ? shortcut : "", image, true, true});
}

QXPopupMenu::Entry* QXPopupMenu::Find(int id) {
    for (Entry& entry : entries_)
        if (entry.id == id) return &entry;
    return nullptr;
}

const QXPopupMenu::Entry* QXPopupMenu::Find(int id) const {
    for (const Entry& entry : entries_)
        if (entry.id == id) return &entry;
    return nullptr;
}

bool QXPopupMenu::Contains(int id) const { return Find(id) != nullptr; }

void QXPopupMenu::SetText(int id, const char* text) {
    if (Entry* entry = Find(id)) entry->text = text ? text : "";
}

std::string QXPopupMenu::Text(int id) const {
    const Entry* entry = Find(id);
    return entry ? entry->text : std::string();
}

void QXPopupMenu::Enable(int id, bool enable) {
    if (Entry* entry = Find(id)) entry->enabled = enable;
}

bool QXPopupMenu::Enabled(int id) const {
    const Entry* entry = Find(id);
    return entry && entry->enabled;
}

void QXPopupMenu::Show(int id, bool show) {
    if (Entry* entry = Find(id)) entry->visible = show;
}

bool QXPopupMenu::Visible(int id) const {
    const Entry* entry = Find(id);
    return entry && entry->visible;
}

bool QXPopupMenu::Active(int id) const {
    const Entry* entry = Find(id);
    return entry && entry->enabled && entry->visible;
}

bool QXPopupMenu::Popup(HWND owner, int x, int y, HIMAGELIST images) {
    qx::Menu menu(CreatePopupMenu());
    if (!menu) return false;
    std::vector<qx::Bitmap> bitmaps;  // alive while the menu is open
    for (const Entry& entry : entries_) {
        if (!entry.visible) continue;
        std::string text = entry.text;
        if (!entry.shortcut.empty()) text += "\t" + entry.shortcut;
        AppendMenuA(menu.get(), MF_STRING | (entry.enabled ? 0 : MF_GRAYED),
                    static_cast<UINT_PTR>(entry.id), text.c_str());
        if (images && entry.image >= 0) {
            // The entry's picture from the image list, on the menu's colour.
            qx::ScreenDc screen(GetDC(nullptr));
            qx::Bitmap bitmap(CreateCompatibleBitmap(screen.get(), 16, 16));
            qx::MemoryDc dc(CreateCompatibleDC(screen.get()));
            if (bitmap && dc) {
                HGDIOBJ old = SelectObject(dc.get(), bitmap.get());
                RECT all = {0, 0, 16, 16};
                FillRect(dc.get(), &all, GetSysColorBrush(COLOR_MENU));
                ImageList_Draw(images, entry.image, dc.get(), 0, 0, ILD_TRANSPARENT);
                SelectObject(dc.get(), old);
                MENUITEMINFOA info = {};
                info.cbSize = sizeof(info);
                info.fMask = MIIM_BITMAP;
                info.hbmpItem = bitmap.get();
                SetMenuItemInfoA(menu.get(), static_cast<UINT>(entry.id), FALSE, &info);
                bitmaps.push_back(std::move(bitmap));
            }
        }
    }
    SetForegroundWindow(owner);
    BOOL shown = TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_RIGHTBUTTON, x, y, 0, owner,
                                nullptr);
    PostMessageA(owner, WM_NULL, 0, 0);
    return shown != FALSE;
}

HINSTANCE QXFormsModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

void QXFormsUnregisterClasses() {
    std::lock_guard<std::mutex> lock(g_classLock);
    for (const std::string& name : g_classes) UnregisterClassA(name.c_str(), QXFormsModule());
    g_classes.clear();
}

std::vector<HWND> QXDisableThreadWindows(HWND skip) {
    std::pair<HWND, std::vector<HWND>> list(skip, {});
    EnumThreadWindows(GetCurrentThreadId(), CollectThreadWindow, reinterpret_cast<LPARAM>(&list));
    for (HWND window : list.second) EnableWindow(window, FALSE);
    return list.second;
}

void QXEnableWindows(const std::vector<HWND>& windows) {
    for (HWND window : windows)
        if (IsWindow(window)) EnableWindow(window, TRUE);
}

// ---------------------------------------------------------------------------
// QXForm

QXForm::QXForm() { InitControlsOnce(); }

QXForm::~QXForm() {
    // The window goes first; its fonts and brushes go with the members.
    Destroy();
}

bool QXForm::Create(const char* className, bool exactClass, const char* caption, int clientWidth,
                    int clientHeight, bool closeBox, HWND owner) {
    if (hwnd_) return true;
    className_ = RegisterFormClass(className, exactClass, &QXForm::WindowProc);
    if (className_.empty()) return false;
    DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
    if (closeBox) style |= WS_SYSMENU;
    DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    RECT rect = {0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    hwnd_ = CreateWindowExA(exStyle, className_.c_str(), caption ? caption : "", style,
                            CW_USEDEFAULT, CW_USEDEFAULT, rect.right - rect.left,
                            rect.bottom - rect.top, owner, nullptr, QXFormsModule(), this);
    if (!hwnd_) return false;
    // Without a window manager the frame may differ: make the client area exact.
    RECT client;
    GetClientRect(hwnd_, &client);
    if (client.right != clientWidth || client.bottom != clientHeight) {
        RECT window;
        GetWindowRect(hwnd_, &window);
        SetWindowPos(hwnd_, nullptr, 0, 0,
                     window.right - window.left + clientWidth - client.right,
                     window.bottom - window.top + clientHeight - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    CenterOnScreen();
    return true;
}

void QXForm::Destroy() {
    if (hwnd_) {
        // The window's last messages still reach this form (WM_DESTROY ends
        // a main window's loop); WM_NCDESTROY lets go of it. The tooltip
        // window is owned by it and goes with it.
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
    controls_.clear();
    timers_.clear();
    pageOf_.clear();
    currentPage_.clear();
    wantVisible_.clear();
    radioGroup_.clear();
    checkBoxes_.clear();
    pictures_.clear();
    handCursor_.clear();
    hints_.clear();
    popups_.clear();
    tooltip_ = nullptr;
}

void QXForm::SetCaption(const char* caption) {
    if (hwnd_) SetWindowTextA(hwnd_, caption ? caption : "");
}

void QXForm::CenterOnScreen() { CenterOver(nullptr); }

void QXForm::CenterOver(HWND window) {
    if (!hwnd_) return;
    RECT area, own;
    if (window && IsWindowVisible(window))
        GetWindowRect(window, &area);
    else
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(hwnd_, &own);
    int w = own.right - own.left, h = own.bottom - own.top;
    int x = area.left + ((area.right - area.left) - w) / 2;
    int y = area.top + ((area.bottom - area.top) - h) / 2;
    SetWindowPos(hwnd_, nullptr, x < 0 ? 0 : x, y < 0 ? 0 : y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void QXForm::ShowModeless() {
    if (!hwnd_) return;
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
}

int QXForm::ShowModal() {
    if (!hwnd_ || modalRunning_) return modalResult_;
    std::vector<HWND> disabled = QXDisableThreadWindows(hwnd_);
    modalRunning_ = true;
    modalDone_ = false;
    // Each showing starts at the default control, whether or not the window
    // becomes the foreground one (another program may hold that).
    lastFocus_ = nullptr;
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    if (HWND target = DefaultFocus()) SetFocus(target);
    UpdateWindow(hwnd_);
    MSG msg;
    while (!modalDone_ && hwnd_ && IsWindow(hwnd_)) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {  // the program is ending: hand the quit on
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got < 0) break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    // Enable the others before hiding, so that activation returns to them.
    QXEnableWindows(disabled);
    if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
    modalRunning_ = false;
    return modalResult_;
}

void QXForm::EndModal(int result) {
    modalResult_ = result;
    modalDone_ = true;
    if (hwnd_) PostMessageA(hwnd_, WM_NULL, 0, 0);  // wake the loop
}

void QXForm::OnCloseRequest() {
    if (modalRunning_) EndModal(modalResult_);
}

HWND QXForm::AddControl(int id, const char* cls, const char* text, DWORD style, DWORD exStyle,
                        int x, int y, int w, int h) {
    if (!hwnd_) return nullptr;
    HWND control = CreateWindowExA(exStyle, cls, text ? text : "", WS_CHILD | style, x, y, w, h,
                                   hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   QXFormsModule(), nullptr);
    if (!control) return nullptr;
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(Font(0, nullptr, false)), FALSE);
    SetWindowSubclass(control, &QXForm::ControlProc, 1, reinterpret_cast<DWORD_PTR>(this));
    controls_[id] = control;
    return control;
}

HFONT QXForm::Font(int height, const char* face, bool bold, bool underline) {
    if (height == 0 && !face && !bold && !underline) {
        // The system's message font, made once per module (thread-safe) and
        // kept for the module's life: windows of any form may still use it.
        static const HFONT standard = [] {
            HFONT font = nullptr;
            NONCLIENTMETRICSA metrics = {};
            metrics.cbSize = sizeof(metrics);
            if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
                font = CreateFontIndirectA(&metrics.lfMessageFont);
            return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        }();
        return standard;
    }
    HFONT font = CreateFontA(height ? -height : -11, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, 0,
                             underline ? TRUE : FALSE, 0,
                             ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face ? face : "Arial");
    if (font) fonts_.emplace_back(font);
    return font;
}

HWND QXForm::AddButton(int id, const char* text, int x, int y, int w, int h, bool isDefault) {
    HWND button = AddControl(id, "BUTTON", text,
                             WS_VISIBLE | WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON),
                             0, x, y, w, h);
    if (button && isDefault) defaultButton_ = id;
    return button;
}

HWND QXForm::AddLabel(int id, const char* text, int x, int y, int w, int h, COLORREF color,
                      int fontHeight, const char* face, bool bold) {
    HWND label = AddControl(id, "STATIC", text, WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, x, y, w, h);
    if (!label) return nullptr;
    if (fontHeight || face || bold)
        SendMessageA(label, WM_SETFONT,
                     reinterpret_cast<WPARAM>(Font(fontHeight, face, bold)), FALSE);
    if (color != CLR_DEFAULT) colors_[label] = {color, CLR_DEFAULT, qx::Brush()};
    return label;
}

HWND QXForm::AddPanel(int id, int x, int y, int w, int h, COLORREF background) {
    HWND panel = AddControl(id, "STATIC", "", WS_VISIBLE | WS_CLIPSIBLINGS, 0, x, y, w, h);
    if (panel) SetWindowPos(panel, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    if (panel && background != CLR_DEFAULT)
        colors_[panel] = {GetSysColor(COLOR_BTNTEXT), background,
                          qx::Brush(CreateSolidBrush(background))};
    return panel;
}

HWND QXForm::AddLine(int id, int x, int y, int w) {
    return AddControl(id, "STATIC", "", WS_VISIBLE | SS_ETCHEDHORZ, 0, x, y, w, 2);
}

HWND QXForm::AddMemo(int id, int x, int y, int w, int h, COLORREF background, const char* face,
                     int fontHeight) {
    HWND memo = AddControl(id, "EDIT", "",
                           WS_VISIBLE | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, x, y, w, h);
    if (!memo) return nullptr;
    SendMessageA(memo, EM_SETLIMITTEXT, 0, 0);
    if (face || fontHeight)
        SendMessageA(memo, WM_SETFONT, reinterpret_cast<WPARAM>(Font(fontHeight, face, false)),
                     FALSE);
    colors_[memo] = {GetSysColor(COLOR_WINDOWTEXT), background,
                     qx::Brush(CreateSolidBrush(background))};
    return memo;
}

HWND QXForm::AddProgressBar(int id, int x, int y, int w, int h) {
    return AddControl(id, PROGRESS_CLASSA, "", WS_VISIBLE, 0, x, y, w, h);
}

HWND QXForm::AddStatusBar(int id) {
    HWND bar = AddControl(id, STATUSCLASSNAMEA, "", WS_VISIBLE | CCS_BOTTOM, 0, 0, 0, 0, 0);
    if (bar) {
        int right = -1;
        SendMessageA(bar, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&right));
    }
    return bar;
}

HWND QXForm::AddAnimate(int id, int x, int y, int w, int h) {
    return AddControl(id, ANIMATE_CLASSA, "", ACS_CENTER | ACS_TRANSPARENT, 0, x, y, w, h);
}

HWND QXForm::AddSidePicture(int id, int x, int y, int w, int h) {
    HWND picture = AddControl(id, "STATIC", "", WS_VISIBLE | SS_OWNERDRAW, 0, x, y, w, h);
    if (picture) sidePictures_.push_back(picture);
    return picture;
}

HWND QXForm::Control(int id) const {
    auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

void QXForm::SetDefaultButton(int id) {
    if (defaultButton_ && Control(defaultButton_))
        SendMessageA(Control(defaultButton_), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    defaultButton_ = id;
    if (Control(id)) SendMessageA(Control(id), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

void QXForm::SetControlText(int id, const char* text) {
    if (HWND control = Control(id)) SetWindowTextA(control, text ? text : "");
}

void QXForm::EnableControl(int id, bool enable) {
    if (HWND control = Control(id)) EnableWindow(control, enable ? TRUE : FALSE);
}

void QXForm::ShowControl(int id, bool show) {
    HWND control = Control(id);
    if (!control) return;
    auto page = pageOf_.find(id);
    if (page != pageOf_.end()) {
        // On a page: shown only while its page is the current one.
        wantVisible_[id] = show;
        if (show && CurrentPage(page->second.control) != page->second.page) return;
    }
    ShowWindow(control, show ? SW_SHOWNA : SW_HIDE);
}

bool QXForm::ControlVisible(int id) const {
    HWND control = Control(id);
    if (!control) return false;
    auto wanted = wantVisible_.find(id);
    if (wanted != wantVisible_.end()) return wanted->second;
    return (GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

// --- timers and accelerators ------------------------------------------------

bool QXForm::StartOneShotTimer(UINT_PTR id, UINT ms, std::function<void()> action) {
    if (!hwnd_ || !SetTimer(hwnd_, id, ms, nullptr)) return false;
    timers_[id] = std::move(action);
    return true;
}

void QXForm::StopTimer(UINT_PTR id) {
    if (hwnd_) KillTimer(hwnd_, id);
    timers_.erase(id);
}

bool QXForm::TimerArmed(UINT_PTR id) const { return timers_.count(id) != 0; }

void QXForm::HandleTimer(UINT_PTR id) {
    KillTimer(hwnd_, id);
    auto found = timers_.find(id);
    if (found == timers_.end()) return;
    // The action may re-arm its own timer or end the form.
    std::function<void()> action = std::move(found->second);
    timers_.erase(found);
    if (action) action();
}

bool QXForm::AddAccelerator(int id, WORD key, bool ctrl, int focusControl) {
    if (focusControl) accelFocus_[id] = focusControl;
    ACCEL entry = {};
    entry.fVirt = static_cast<BYTE>(FVIRTKEY | (ctrl ? FCONTROL : 0));
    entry.key = key;
    entry.cmd = static_cast<WORD>(id);
    accelEntries_.push_back(entry);
    accelerators_.reset(CreateAcceleratorTableA(accelEntries_.data(),
                                                static_cast<int>(accelEntries_.size())));
    return static_cast<bool>(accelerators_);
}

int QXForm::RunMessageLoop() {
    MSG msg;
    BOOL got;
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) {
        if (accelerators_ && hwnd_ && (msg.hwnd == hwnd_ || IsChild(hwnd_, msg.hwnd)) &&
            TranslateAcceleratorA(hwnd_, accelerators_.get(), &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return got == 0 ? static_cast<int>(msg.wParam) : -1;
}

bool QXForm::MenuCommandActive(int id) const {
    for (const auto& popup : popups_)
        if (popup.second.menu && popup.second.menu->Contains(id))
            return popup.second.menu->Active(id);
    return true;
}

// --- pages ------------------------------------------------------------------

HWND QXForm::AddPageControl(int id, int x, int y, int w, int h, HIMAGELIST images) {
    HWND tabs = AddControl(id, WC_TABCONTROLA, "",
                           WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | TCS_BUTTONS |
                               TCS_FLATBUTTONS | TCS_HOTTRACK,
                           0, x, y, w, h);
    if (!tabs) return nullptr;
    if (images) SendMessageA(tabs, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
    SetWindowPos(tabs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    currentPage_[id] = 0;
    return tabs;
}

int QXForm::AddPage(int pageControl, const char* text, int image) {
    HWND tabs = Control(pageControl);
    if (!tabs) return -1;
    int index = static_cast<int>(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
    TCITEMA item = {};
    item.mask = TCIF_TEXT | TCIF_IMAGE;
    item.pszText = const_cast<char*>(text ? text : "");
    item.iImage = image;
    return static_cast<int>(
        SendMessageA(tabs, TCM_INSERTITEMA, index, reinterpret_cast<LPARAM>(&item)));
}

void QXForm::SetPageText(int pageControl, int page, const char* text) {
    HWND tabs = Control(pageControl);
    if (!tabs) return;
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(text ? text : "");
    SendMessageA(tabs, TCM_SETITEMA, page, reinterpret_cast<LPARAM>(&item));
}

std::string QXForm::PageText(HWND pageControl, int page) {
    char text[256] = "";
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    if (!SendMessageA(pageControl, TCM_GETITEMA, page, reinterpret_cast<LPARAM>(&item)))
        return "";
    return text;
}

void QXForm::PutOnPage(int controlId, int pageControl, int page) {
    HWND control = Control(controlId);
    if (!control) return;
    pageOf_[controlId] = {pageControl, page};
    wantVisible_[controlId] = (GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE) != 0;
    if (CurrentPage(pageControl) != page) ShowWindow(control, SW_HIDE);
}

int QXForm::CurrentPage(int pageControl) const {
    auto found = currentPage_.find(pageControl);
    return found == currentPage_.end() ? -1 : found->second;
}

void QXForm::ShowPage(int pageControl, int page) {
    currentPage_[pageControl] = page;
    HWND focus = GetFocus();
    bool focusHidden = false;
    for (const auto& entry : pageOf_) {
        if (entry.second.control != pageControl) continue;
        HWND control = Control(entry.first);
        bool show = entry.second.page == page && wantVisible_[entry.first];
        if (!show && control == focus) focusHidden = true;
        ShowWindow(control, show ? SW_SHOWNA : SW_HIDE);
    }
    if (focusHidden) SetFocus(Control(pageControl));
}

bool QXForm::SelectPage(int pageControl, int page) {
    HWND tabs = Control(pageControl);
    if (!tabs || page < 0 || page >= SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0)) return false;
    SendMessageA(tabs, TCM_SETCURSEL, page, 0);
    ShowPage(pageControl, page);
    OnPageChanged(pageControl, page);
    return true;
}

// --- buttons, edits, pictures, links, hints, popups -------------------------

HWND QXForm::AddCheckBox(int id, const char* text, int x, int y, int w, int h) {
    HWND box = AddControl(id, "BUTTON", text, WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, x, y,
                          w, h);
    if (box) checkBoxes_[id] = true;
    return box;
}

HWND QXForm::AddRadioButton(int id, const char* text, int x, int y, int w, int h, int group) {
    // Not an automatic radio button: the group rule and the click operation
    // are the form's (HandleRadioClick, SetChecked).
    HWND radio = AddControl(id, "BUTTON", text, WS_VISIBLE | WS_TABSTOP | BS_RADIOBUTTON, 0, x, y,
                            w, h);
    if (radio) radioGroup_[id] = group;
    return radio;
}

bool QXForm::Checked(int id) const {
    HWND control = Control(id);
    return control && SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void QXForm::SetChecked(int id, bool on) {
    HWND control = Control(id);
    if (!control || Checked(id) == on) return;
    SendMessageA(control, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    auto radio = radioGroup_.find(id);
    if (radio != radioGroup_.end()) {
        if (!on) return;  // turning one off leaves the others as they are
        for (const auto& other : radioGroup_)
            if (other.first != id && other.second == radio->second)
                SendMessageA(Control(other.first), BM_SETCHECK, BST_UNCHECKED, 0);
    }
    OnCommand(id);
}

void QXForm::HandleRadioClick(int id) {
    if (!Checked(id)) SetChecked(id, true);
}

HWND QXForm::AddGroupBox(int id, const char* text, int x, int y, int w, int h) {
    HWND group = AddControl(id, "BUTTON", text, WS_VISIBLE | BS_GROUPBOX, 0, x, y, w, h);
    if (!group) return nullptr;
    // Below the controls it frames; page controls stay below everything.
    SetWindowPos(group, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    for (const auto& page : currentPage_)
        SetWindowPos(Control(page.first), HWND_BOTTOM, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return group;
}

HWND QXForm::AddEdit(int id, const char* text, int x, int y, int w, int h, bool readOnly) {
    return AddControl(id, "EDIT", text,
                      WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | (readOnly ? ES_READONLY : 0),
                      WS_EX_CLIENTEDGE, x, y, w, h);
}

HWND QXForm::AddPicture(int id, int x, int y, int w, int h,
                        std::function<void(HDC, const RECT&)> draw, bool clickable) {
    HWND picture = AddControl(id, "STATIC", "",
                              WS_VISIBLE | SS_OWNERDRAW | (clickable ? SS_NOTIFY : 0), 0, x, y, w,
                              h);
    if (!picture) return nullptr;
    pictures_[picture] = std::move(draw);
    handCursor_[id] = clickable;
    return picture;
}

HWND QXForm::AddLink(int id, const char* text, int x, int y, int w, int h, COLORREF color,
                     int fontHeight, const char* face, bool bold) {
    HWND link = AddControl(id, "STATIC", text, WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_NOTIFY, 0,
                           x, y, w, h);
    if (!link) return nullptr;
    SendMessageA(link, WM_SETFONT, reinterpret_cast<WPARAM>(Font(fontHeight, face, bold, true)),
                 FALSE);
    colors_[link] = {color, CLR_DEFAULT, qx::Brush()};
    handCursor_[id] = true;
    return link;
}

bool QXForm::HasHandCursor(int id) const {
    auto found = handCursor_.find(id);
    return found != handCursor_.end() && found->second;
}

void QXForm::UpdateTool(HWND control) {
    if (!hwnd_ || !control) return;
    if (!tooltip_) {
        tooltip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                                   WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                   QXFormsModule(), nullptr);
        if (!tooltip_) return;
    }
    auto found = hints_.find(GetDlgCtrlID(control));
    TOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V1_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    SendMessageA(tooltip_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    if (found == hints_.end() || !found->second.shown || found->second.text.empty()) return;
    tool.lpszText = const_cast<char*>(found->second.text.c_str());
    SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void QXForm::SetHint(int id, const char* text) {
    hints_[id].text = text ? text : "";
    UpdateTool(Control(id));
}

std::string QXForm::Hint(int id) const {
    auto found = hints_.find(id);
    return found == hints_.end() ? std::string() : found->second.text;
}

void QXForm::ShowHint(int id, bool show) {
    hints_[id].shown = show;
    UpdateTool(Control(id));
}

bool QXForm::HintShown(int id) const {
    auto found = hints_.find(id);
    return found != hints_.end() && found->second.shown;
}

void QXForm::AttachPopup(int controlId, QXPopupMenu* menu, HIMAGELIST images) {
    popups_[controlId] = {menu, images};
}

// --- tree view --------------------------------------------------------------

HWND QXForm::AddTreeView(int id, int x, int y, int w, int h, HIMAGELIST images, int indent) {
    HWND tree = AddControl(id, WC_TREEVIEWA, "",
                           WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS |
                               TVS_LINESATROOT | TVS_SHOWSELALWAYS | TVS_DISABLEDRAGDROP,
                           WS_EX_CLIENTEDGE, x, y, w, h);
    if (!tree) return nullptr;
    if (images)
        SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
    if (indent > 0) SendMessageA(tree, TVM_SETINDENT, indent, 0);
    return tree;
}

HTREEITEM QXForm::TreeAdd(HWND tree, HTREEITEM parent, const char* text, int image,
                          LPARAM value) {
    TVINSERTSTRUCTA insert = {};
    insert.hParent = parent ? parent : TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    insert.item.pszText = const_cast<char*>(text ? text : "");
    insert.item.iImage = image;
    insert.item.iSelectedImage = image;
    insert.item.lParam = value;
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

std::string QXForm::TreeText(HWND tree, HTREEITEM node) {
    if (!node) return "";
    char text[1024] = "";
    TVITEMA item = {};
    item.mask = TVIF_TEXT;
    item.hItem = node;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    if (!SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return "";
    return text;
}

int QXForm::TreeImage(HWND tree, HTREEITEM node) {
    TVITEMA item = {};
    item.mask = TVIF_IMAGE;
    item.hItem = node;
    if (!node || !SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return -1;
    return item.iImage;
}

LPARAM QXForm::TreeValue(HWND tree, HTREEITEM node) {
    TVITEMA item = {};
    item.mask = TVIF_PARAM;
    item.hItem = node;
    if (!node || !SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return 0;
    return item.lParam;
}

HTREEITEM QXForm::TreeParent(HWND tree, HTREEITEM node) {
    if (!node) return nullptr;
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(node)));
}

HTREEITEM QXForm::TreeNext(HWND tree, HTREEITEM node) {
    auto next = [tree](UINT how, HTREEITEM from) {
        return reinterpret_cast<HTREEITEM>(
            SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(from)));
    };
    if (!node) return next(TVGN_ROOT, nullptr);
    if (HTREEITEM child = next(TVGN_CHILD, node)) return child;
    for (HTREEITEM at = node; at; at = next(TVGN_PARENT, at))
        if (HTREEITEM sibling = next(TVGN_NEXT, at)) return sibling;
    return nullptr;
}

int QXForm::TreeCount(HWND tree) { return static_cast<int>(SendMessageA(tree, TVM_GETCOUNT, 0, 0)); }

bool QXForm::TreeSelect(HWND tree, HTREEITEM node) {
    if (node) SendMessageA(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(node));
    return SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node)) != 0;
}

HTREEITEM QXForm::TreeSelection(HWND tree) {
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
}

bool QXForm::TreeDelete(HWND tree, HTREEITEM node) {
    return node && SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(node)) != 0;
}

void QXForm::TreeClear(HWND tree) {
    SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
}

bool QXForm::HandleNotify(const NMHDR* header, LRESULT* result) {
    if (!header || header->hwndFrom != Control(static_cast<int>(header->idFrom))) return false;
    int id = static_cast<int>(header->idFrom);
    *result = 0;
    switch (header->code) {
    case TCN_SELCHANGE: {
        int page = static_cast<int>(SendMessageA(header->hwndFrom, TCM_GETCURSEL, 0, 0));
        ShowPage(id, page);
        OnPageChanged(id, page);
        return true;
    }
    case TVN_SELCHANGINGA:
    case TVN_SELCHANGINGW: {
        auto* change = reinterpret_cast<const NMTREEVIEWA*>(header);
        OnTreeChanging(id, change->itemOld.hItem, change->itemNew.hItem);
        return true;  // the change is allowed
    }
    case TVN_SELCHANGEDA:
    case TVN_SELCHANGEDW: {
        auto* change = reinterpret_cast<const NMTREEVIEWA*>(header);
        OnTreeChanged(id, change->itemNew.hItem);
        return true;
    }
    case NM_CLICK: {
        char cls[32] = "";
        GetClassNameA(header->hwndFrom, cls, sizeof(cls));
        if (lstrcmpiA(cls, WC_TREEVIEWA) != 0) return false;
        OnTreeClick(id);
        return true;
    }
    default:
        return false;
    }
}

bool QXForm::MemoAppendLine(HWND memo, const char* text) {
    if (!memo || !text) return false;
    int length = GetWindowTextLengthA(memo);
    std::string tail;
    if (length > 0) {
        std::vector<char> all(length + 1);
        GetWindowTextA(memo, all.data(), length + 1);
        if (length < 2 || all[length - 2] != '\r' || all[length - 1] != '\n') tail = "\r\n";
    }
    tail += text;
    if (tail.size() < 2 || tail.compare(tail.size() - 2, 2, "\r\n") != 0) tail += "\r\n";
    SendMessageA(memo, EM_SETSEL, length, length);
    SendMessageA(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(tail.c_str()));
    return true;
}

void QXForm::MemoShowScrollBar(HWND memo) {
    if (!memo) return;
    LONG_PTR style = GetWindowLongPtrA(memo, GWL_STYLE);
    if (!(style & WS_VSCROLL)) {
        SetWindowLongPtrA(memo, GWL_STYLE, style | WS_VSCROLL);
        SetWindowPos(memo, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }
}

void QXForm::ProgressSetRange(HWND bar, int lowest, int highest) {
    SendMessageA(bar, PBM_SETRANGE32, lowest, highest);
}
void QXForm::ProgressSetPosition(HWND bar, int position) {
    SendMessageA(bar, PBM_SETPOS, position, 0);
}
int QXForm::ProgressPosition(HWND bar) {
    return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
}
int QXForm::ProgressMaximum(HWND bar) {
    return static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
}
void QXForm::StatusBarSetText(HWND bar, const char* text) {
    SendMessageA(bar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text ? text : ""));
}

void QXForm::DrawSidePicture(const DRAWITEMSTRUCT* item) {
    // A band from deep to light blue with a row of small keys of light.
    RECT r = item->rcItem;
    int height = r.bottom - r.top;
    for (int y = 0; y < height; y += 2) {
        int shade = height ? 40 + 120 * y / height : 40;
        qx::Brush brush(CreateSolidBrush(RGB(0, shade / 3, shade + 60)));
        RECT band = {r.left, r.top + y, r.right, r.top + y + 2};
        FillRect(item->hDC, &band, brush.get());
    }
    qx::Brush light(CreateSolidBrush(RGB(230, 200, 80)));
    int w = r.right - r.left;
    for (int y = r.top + 8; y + 10 < r.bottom; y += 24) {
        RECT bow = {r.left + w / 4, y, r.right - w / 4, y + 5};
        RECT stem = {r.left + w / 2 - 1, y + 5, r.left + w / 2 + 1, y + 12};
        FrameRect(item->hDC, &bow, light.get());
        FillRect(item->hDC, &stem, light.get());
    }
}

HWND QXForm::DefaultFocus() const {
    HWND button = Control(defaultButton_);
    if (button && IsWindowEnabled(button) && IsWindowVisible(button)) return button;
    return GetNextDlgTabItem(hwnd_, nullptr, FALSE);
}

void QXForm::PressEnter(HWND focus) {
    int id = 0;
    if (focus && GetParent(focus) == hwnd_) {
        char cls[32] = "";
        GetClassNameA(focus, cls, sizeof(cls));
        LONG_PTR type = GetWindowLongPtrA(focus, GWL_STYLE) & BS_TYPEMASK;
        if (lstrcmpiA(cls, "BUTTON") == 0 && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON))
            id = GetDlgCtrlID(focus);
    }
    if (!id) id = defaultButton_;
    HWND button = Control(id);
    if (button && IsWindowEnabled(button) && IsWindowVisible(button)) OnCommand(id);
}

bool QXForm::HandleKey(HWND from, WPARAM key) {
    switch (key) {
    case VK_ESCAPE:
        OnEscape();
        return true;
    case VK_RETURN:
        PressEnter(from);
        return true;
    case VK_TAB: {
        bool back = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
        HWND next = GetNextDlgTabItem(hwnd_, from == hwnd_ ? nullptr : from, back ? TRUE : FALSE);
        if (next) SetFocus(next);
        return true;
    }
    default:
        return false;
    }
}

LRESULT CALLBACK QXForm::ControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR, DWORD_PTR data) {
    return DispatchAtBoundary(kControlProcLocation, "QXForm::ControlProc", [&]() -> LRESULT {
        QXForm* form = reinterpret_cast<QXForm*>(data);
        if (message == WM_KEYDOWN && (wParam == VK_ESCAPE || wParam == VK_RETURN || wParam == VK_TAB))
            if (form && form->hwnd_ && form->HandleKey(control, wParam)) return 0;
        if (message == WM_CHAR && (wParam == VK_ESCAPE || wParam == '\r' || wParam == '\t'))
            return 0;  // handled as a key already
        if (message == WM_NCDESTROY) RemoveWindowSubclass(control, &QXForm::ControlProc, 1);
        return DefSubclassProc(control, message, wParam, lParam);
    });
}

LRESULT CALLBACK QXForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DispatchAtBoundary(kWindowProcLocation, "QXForm::WindowProc", [&]() -> LRESULT {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
            QXForm* form = static_cast<QXForm*>(create->lpCreateParams);
            SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
            if (form) form->hwnd_ = window;
        }
        QXForm* form = reinterpret_cast<QXForm*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (!form || form->hwnd_ != window) return DefWindowProcA(window, message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            return DefWindowProcA(window, message, wParam, lParam);
        }
        return form->Handle(message, wParam, lParam);
    });
}

LRESULT QXForm::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (OnMessage(message, wParam, lParam, &result)) return result;
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && lParam) {  // also STN_CLICKED (0)
            int id = LOWORD(wParam);
            if (radioGroup_.count(id))
                HandleRadioClick(id);
            else
                OnCommand(id);
            return 0;
        }
        if (!lParam && (HIWORD(wParam) == 0 || HIWORD(wParam) == 1)) {  // menu, accelerator
            int id = LOWORD(wParam);
            if (HIWORD(wParam) == 1) {
                auto scope = accelFocus_.find(id);
                if (scope != accelFocus_.end() && GetFocus() != Control(scope->second)) return 0;
            }
            if (MenuCommandActive(id)) OnCommand(id);
            return 0;
        }
        break;
    case WM_TIMER:
        HandleTimer(wParam);
        return 0;
    case WM_NOTIFY:
        if (HandleNotify(reinterpret_cast<const NMHDR*>(lParam), &result)) return result;
        break;
    case WM_SETCURSOR: {
        HWND under = reinterpret_cast<HWND>(wParam);
        if (under && under != hwnd_ && GetParent(under) == hwnd_ &&
            HasHandCursor(GetDlgCtrlID(under))) {
            SetCursor(LoadCursor(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    }
    case WM_CONTEXTMENU: {
        HWND from = reinterpret_cast<HWND>(wParam);
        auto popup = from && GetParent(from) == hwnd_ ? popups_.find(GetDlgCtrlID(from))
                                                      : popups_.end();
        if (popup != popups_.end() && popup->second.menu) {
            int x = static_cast<short>(LOWORD(lParam)), y = static_cast<short>(HIWORD(lParam));
            if (x == -1 && y == -1) {  // from the keyboard: at the control
                RECT rect;
                GetWindowRect(from, &rect);
                x = rect.left + 8;
                y = rect.top + 8;
            }
            popup->second.menu->Popup(hwnd_, x, y, popup->second.images);
            return 0;
        }
        break;
    }
    case WM_KEYDOWN:
        if (HandleKey(hwnd_, wParam)) return 0;
        break;
    case WM_CLOSE:
        OnCloseRequest();
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            OnCloseRequest();
            return 0;
        }
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(hwnd_, focus)) lastFocus_ = focus;
        } else {
            // The child that had the focus keeps it; the window itself never
            // takes it (keys there would reach no control).
            HWND focus = GetFocus();
            if (focus && IsChild(hwnd_, focus)) return 0;
            HWND target = lastFocus_ && IsChild(hwnd_, lastFocus_) && IsWindowEnabled(lastFocus_) &&
                                  IsWindowVisible(lastFocus_)
                              ? lastFocus_ : DefaultFocus();
            if (target) SetFocus(target);
            return 0;
        }
        break;
    case DM_GETDEFID:
        return defaultButton_ ? MAKELRESULT(defaultButton_, DC_HASDEFID) : 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT: {
        auto found = colors_.find(reinterpret_cast<HWND>(lParam));
        if (found != colors_.end()) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            if (found->second.text != CLR_DEFAULT) SetTextColor(dc, found->second.text);
            if (found->second.brush) {
                SetBkColor(dc, found->second.back);
                return reinterpret_cast<LRESULT>(found->second.brush.get());
            }
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    }
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        for (HWND picture : sidePictures_)
            if (picture == item->hwndItem) {
                DrawSidePicture(item);
                return TRUE;
            }
        auto picture = pictures_.find(item->hwndItem);
        if (picture != pictures_.end()) {
            if (picture->second) picture->second(item->hDC, item->rcItem);
            return TRUE;
        }
        break;
    }
    default:
        break;
    }
    return DefWindowProcA(hwnd_, message, wParam, lParam);
}

// ---------------------------------------------------------------------------
// QXMainWindow

bool QXMainWindow::Create(const char* className, const char* caption) {
    return QXForm::Create(className, false, caption, 0, 0, false, nullptr);
}

int QXMainWindow::Run() {
    MSG msg;
    BOOL got;
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return got == 0 ? static_cast<int>(msg.wParam) : -1;
}

void QXMainWindow::Close() { Destroy(); }

bool QXMainWindow::OnMessage(UINT message, WPARAM, LPARAM, LRESULT* result) {
    if (message == WM_CLOSE) {
        Destroy();
        *result = 0;
        return true;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        *result = 0;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// System dialogs

namespace {

// The common file dialog, save or open. The filter is "Name (*.x)|*.x" pairs;
// a choice of more than 255 characters is refused, never cut (one that does
// not fit MAX_PATH fails in the dialog itself).
bool AskFileName(bool save, HWND owner, const char* filter, const char* initialDir,
                 const char* fileName, DWORD flags, char* result) {
    if (!result) return false;
    // "Name (*.x)|*.x" -> "Name (*.x)\0*.x\0\0"
    std::string pairs = filter ? filter : "";
    for (char& c : pairs)
        if (c == '|') c = '\0';
    pairs.push_back('\0');
    pairs.push_back('\0');
    char chosen[MAX_PATH + 1] = "";
    if (fileName && !CopyText(chosen, sizeof(chosen), fileName)) chosen[0] = '\0';
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = pairs.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = chosen;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrInitialDir = initialDir && *initialDir ? initialDir : nullptr;
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | flags;
    std::vector<HWND> disabled = owner ? std::vector<HWND>() : QXDisableThreadWindows(nullptr);
    BOOL ok = save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    QXEnableWindows(disabled);
    if (!ok || strlen(chosen) > 255) return false;
    strcpy(result, chosen);
    return true;
}

}  // namespace

bool QXAskSaveFileName(HWND owner, const char* filter, const char* initialDir,
                       const char* fileName, char* result) {
    return AskFileName(true, owner, filter, initialDir, fileName, 0, result);
}

bool QXAskOpenFileName(HWND owner, const char* filter, const char* initialDir, char* result) {
    return AskFileName(false, owner, filter, initialDir, nullptr,
                       OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST, result);
}

bool QXBrowseForFolder(HWND owner, const char* prompt, char* result) {
    if (!result) return false;
    HRESULT com = CoInitialize(nullptr);
    char display[MAX_PATH] = "";
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    // The desktop as the root, named by its own (empty) item list.
    LPITEMIDLIST desktop = nullptr;
    SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktop);
    info.pidlRoot = desktop;
    info.pszDisplayName = display;
    info.lpszTitle = prompt;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    std::vector<HWND> disabled = QXDisableThreadWindows(nullptr);
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    QXEnableWindows(disabled);
    bool ok = false;
    if (chosen) {
        char folder[MAX_PATH + 1] = "";
        if (SHGetPathFromIDListA(chosen, folder) && strlen(folder) <= 255) {
            strcpy(result, folder);
            ok = true;
        }
        CoTaskMemFree(chosen);
    }
    if (desktop) CoTaskMemFree(desktop);
    if (SUCCEEDED(com)) CoUninitialize();
    return ok;
}

int QXMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    return MessageBoxA(owner, text ? text : "", caption ? caption : "", type);
}
