// QXForms: the form, its keys and its message loop, the window classes of the
// module and the application's exception display.
#include "QXForms.h"

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
    return qx::AtBoundary<LRESULT>(0, std::forward<Body>(body), [&](const char* what) noexcept {
        ReportException(kFormsUnit, location, where, what);
        QXShowException(what);
    });
}

}  // namespace

void QXSetApplicationTitle(const char* title) {
    if (!CopyText(g_applicationTitle, sizeof(g_applicationTitle), title ? title : ""))
        g_applicationTitle[0] = '\0';
}

const char* QXApplicationTitle() { return g_applicationTitle; }

void QXShowException(const char* what) noexcept {
    if (g_applicationTitle[0]) QXShowExceptionBox(g_applicationTitle, what);
}

void QXShowExceptionBox(const char* caption, const char* what) noexcept {
    // The display itself must never throw out of a boundary.
    qx::AtBoundary(0, [&] {
        char text[1024];
        FormatText(text, sizeof(text), "%s", what && *what ? what : "Unknown exception");
        return MessageBoxA(GetActiveWindow(), text, caption ? caption : "", MB_OK | MB_ICONERROR);
    });
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
            const ControlEntry* entry = Entry(id);
            if (entry && entry->radioGroup)
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
        const ControlEntry* popup =
            from && GetParent(from) == hwnd_ ? Entry(GetDlgCtrlID(from)) : nullptr;
        if (popup && popup->popup) {
            int x = static_cast<short>(LOWORD(lParam)), y = static_cast<short>(HIWORD(lParam));
            if (x == -1 && y == -1) {  // from the keyboard: at the control
                RECT rect;
                GetWindowRect(from, &rect);
                x = rect.left + 8;
                y = rect.top + 8;
            }
            popup->popup->Popup(hwnd_, x, y, popup->popupImages);
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
        ControlEntry* entry = EntryOf(reinterpret_cast<HWND>(lParam));
        if (entry && entry->colors) {
            const ControlEntry::Colors& colors = *entry->colors;
            HDC dc = reinterpret_cast<HDC>(wParam);
            if (colors.text != CLR_DEFAULT) SetTextColor(dc, colors.text);
            if (colors.brush) {
                SetBkColor(dc, colors.back);
                return reinterpret_cast<LRESULT>(colors.brush.get());
            }
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    }
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        ControlEntry* picture = EntryOf(item->hwndItem);
        if (!picture) break;
        if (picture->drawing == ControlEntry::Drawing::SidePicture) {
            DrawSidePicture(item);
            return TRUE;
        }
        if (picture->drawing == ControlEntry::Drawing::Caller) {
            if (picture->draw) picture->draw(item->hDC, item->rcItem);
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

