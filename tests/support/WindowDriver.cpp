#include "WindowDriver.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

namespace tvtest {

namespace {

struct EnumState {
    const std::function<bool(HWND)>* match;
    HWND found;
};

BOOL CALLBACK EnumTop(HWND window, LPARAM param) {
    auto* state = reinterpret_cast<EnumState*>(param);
    if ((*state->match)(window)) {
        state->found = window;
        return FALSE;
    }
    return TRUE;
}

volatile DWORD g_processFilter = 0;

bool InFilter(HWND window) {
    if (!g_processFilter) return true;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid == g_processFilter;
}

HWND FindTop(const std::function<bool(HWND)>& match) {
    std::function<bool(HWND)> filtered = [&](HWND w) { return InFilter(w) && match(w); };
    EnumState state = {&filtered, nullptr};
    EnumWindows(EnumTop, reinterpret_cast<LPARAM>(&state));
    return state.found;
}

bool SameProcess(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid == GetCurrentProcessId();
}

// Memory the window's process can read and write: local for our own process,
// allocated in the other process otherwise.
class SharedBuffer {
public:
    SharedBuffer(HWND window, size_t size) : size_(size) {
        if (SameProcess(window)) {
            local_.assign(size, 0);
            address_ = local_.data();
            return;
        }
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                               pid);
        if (process_)
            address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE,
                                      PAGE_READWRITE);
    }
    ~SharedBuffer() {
        if (process_) {
            if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
            CloseHandle(process_);
        }
    }
    void* address() const { return address_; }
    void Write(const void* data, size_t size) {
        if (!address_) return;
        if (!process_) memcpy(address_, data, size < size_ ? size : size_);
        else WriteProcessMemory(process_, address_, data, size < size_ ? size : size_, nullptr);
    }
    // The zero-terminated text at offset in the buffer.
    std::string ReadText(size_t offset = 0) {
        if (!address_ || offset >= size_) return "";
        std::vector<char> text(size_ - offset + 1, 0);
        char* from = static_cast<char*>(address_) + offset;
        if (!process_) memcpy(text.data(), from, size_ - offset);
        else ReadProcessMemory(process_, from, text.data(), size_ - offset, nullptr);
        return text.data();
    }

private:
    size_t size_;
    std::vector<char> local_;
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
};

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> list;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&list));
    return list;
}

bool IsDialogClass(HWND window) { return ClassOf(window) == "#32770"; }

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(20);
    }
}

void SetProcessFilter(DWORD processId) { g_processFilter = processId; }

HWND ThreadWindow(const char* cls, DWORD threadId) {
    for (HWND window : TopWindows(cls))
        if (GetWindowThreadProcessId(window, nullptr) == threadId) return window;
    return nullptr;
}

HWND WaitForWindow(const std::function<bool(HWND)>& match, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND found = FindTop([&](HWND w) { return IsWindowVisible(w) && match(w); });
        if (found) return found;
        if (GetTickCount() - start >= timeoutMs) return nullptr;
        Sleep(20);
    }
}

HWND WaitForClass(const char* cls, DWORD timeoutMs) {
    return WaitForWindow([&](HWND w) { return ClassOf(w) == cls; }, timeoutMs);
}

HWND WaitForClassPrefix(const char* prefix, DWORD timeoutMs) {
    std::string head = std::string(prefix) + ".";
    return WaitForWindow([&](HWND w) { return ClassOf(w).compare(0, head.size(), head) == 0; },
                         timeoutMs);
}

HWND WaitForCaption(const char* caption, DWORD timeoutMs) {
    return WaitForWindow([&](HWND w) { return TextOf(w) == caption; }, timeoutMs);
}

bool WaitGone(HWND window, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

std::vector<HWND> TopWindows(const char* cls) {
    std::vector<HWND> list;
    std::function<bool(HWND)> match = [&](HWND w) {
        if (ClassOf(w) == cls) list.push_back(w);
        return false;
    };
    FindTop(match);
    return list;
}

std::vector<HWND> TopWindowsByPrefix(const char* prefix) {
    std::vector<HWND> list;
    std::function<bool(HWND)> match = [&](HWND w) {
        if (ClassOf(w).rfind(prefix, 0) == 0) list.push_back(w);
        return false;
    };
    FindTop(match);
    return list;
}

std::string ClassOf(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

std::string TextOf(HWND window) {
    if (!window) return "";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return "";
    std::vector<char> text(length + 2, 0);
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 2000, &copied);
    return text.data();
}

HWND Child(HWND parent, int id) { return parent ? GetDlgItem(parent, id) : nullptr; }
std::string ChildText(HWND parent, int id) { return TextOf(Child(parent, id)); }
bool Enabled(HWND window) { return window && IsWindowEnabled(window); }
bool Visible(HWND window) {
    return window && (GetWindowLongPtrA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

std::string StatusBarText(HWND bar, int part) {
    if (!bar) return "";
    LRESULT length = SendMessageA(bar, SB_GETTEXTLENGTHA, part, 0);
    SharedBuffer buffer(bar, LOWORD(length) + 2);
    SendMessageA(bar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(buffer.address()));
    return buffer.ReadText();
}

int ProgressPosition(HWND bar) { return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)); }
int ProgressMaximum(HWND bar) {
    return static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
}

void Click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }
void ClickChild(HWND parent, int id) { Click(Child(parent, id)); }

namespace {
// The control that has the focus of the window's thread (null: none).
HWND FocusOf(HWND window, HWND* active = nullptr) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!window || !GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info))
        return nullptr;
    if (active) *active = info.hwndActive;
    return info.hwndFocus;
}

// Waits until focusOk(the focus) holds; the focused window, or null on timeout.
// With no focus at all, keys go to the thread's active window: that counts
// as the focus when acceptActive is set.
HWND WaitFocus(HWND window, const std::function<bool(HWND)>& focusOk, DWORD timeoutMs,
               bool acceptActive = false) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND active = nullptr;
        HWND focus = FocusOf(window, &active);
        if (!focus && acceptActive) focus = active;
        if (focus && focusOk(focus)) return focus;
        if (!IsWindow(window) || GetTickCount() - start >= timeoutMs) return nullptr;
        Sleep(20);
    }
}

void PostKey(HWND target, UINT vk) {
    UINT scan = MapVirtualKeyA(vk, 0);
    PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | (3u << 30));
}

std::string Describe(HWND window) {
    char text[160];
    snprintf(text, sizeof text, "%p (class \"%s\", text \"%s\")", (void*)window,
             ClassOf(window).c_str(), TextOf(window).c_str());
    return text;
}
}  // namespace

bool HasFocus(HWND control) { return control && FocusOf(control) == control; }

bool WaitForFocus(HWND control, DWORD timeoutMs) {
    return control && WaitFocus(control, [&](HWND f) { return f == control; }, timeoutMs);
}

bool PressKeyOn(HWND control, UINT vk, DWORD timeoutMs) {
    if (!WaitForFocus(control, timeoutMs)) {
        ADD_FAILURE() << "key " << vk << " not pressed: the focus never came to "
                      << Describe(control) << "; it is on " << Describe(FocusOf(control));
        return false;
    }
    PostKey(control, vk);
    return true;
}

bool PressKey(HWND window, UINT vk, DWORD timeoutMs) {
    HWND focus = WaitFocus(
        window, [&](HWND f) { return f == window || IsChild(window, f); }, timeoutMs, true);
    if (!focus) {
        ADD_FAILURE() << "key " << vk << " not pressed: the focus never came into "
                      << Describe(window) << "; it is on " << Describe(FocusOf(window));
        return false;
    }
    PostKey(focus, vk);
    return true;
}

bool PressEscape(HWND window) { return PressKey(window, VK_ESCAPE); }
bool PressEnter(HWND window) { return PressKey(window, VK_RETURN); }
void CloseByBox(HWND window) { PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); }
void PostClose(HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); }

HWND WaitForMessageBox(DWORD timeoutMs, const char* caption) {
    return WaitForWindow(
        [&](HWND w) {
            return IsDialogClass(w) && GetDlgItem(w, 0xFFFF) && (!caption || TextOf(w) == caption);
        },
        timeoutMs);
}

std::string MessageBoxText(HWND box) { return ChildText(box, 0xFFFF); }

void AnswerDialog(HWND dialog, int buttonId) {
    HWND button = GetDlgItem(dialog, buttonId);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

bool AnswerBoxOver(HWND window, DWORD timeoutMs) {
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    bool answered = false;
    for (;;) {
        // A sent message is handled once the thread takes messages again:
        // back in its own loop, or in the loop of a box it shows.
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &ignored))
            return answered;
        HWND box = FindTop([&](HWND w) {
            return w != window && GetWindowThreadProcessId(w, nullptr) == thread &&
                   IsWindowVisible(w) && IsDialogClass(w) && GetDlgItem(w, 0xFFFF);
        });
        if (!box) return answered;
        AnswerDialog(box, IDOK);
        WaitGone(box, timeoutMs);
        answered = true;
    }
}

namespace {
// The file-name edit of the save dialog: inside the ComboBoxEx 1148, or edit 1152.
HWND SaveAsEdit(HWND dialog) {
    HWND combo = GetDlgItem(dialog, 1148);
    if (combo) {
        for (HWND child : Children(combo))
            if (ClassOf(child) == "Edit") return child;
        return combo;
    }
    return GetDlgItem(dialog, 1152);
}
}  // namespace

HWND WaitForSaveAsDialog(DWORD timeoutMs) {
    return WaitForWindow([](HWND w) { return IsDialogClass(w) && SaveAsEdit(w); }, timeoutMs);
}

std::string SaveAsFileName(HWND dialog) { return TextOf(SaveAsEdit(dialog)); }

std::string SaveAsFolder(HWND dialog) {
    SharedBuffer buffer(dialog, MAX_PATH + 1);
    SendMessageA(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(buffer.address()));
    return buffer.ReadText();
}

void AnswerSaveAs(HWND dialog, const std::string& path) {
    HWND edit = SaveAsEdit(dialog);
    SendMessageTimeoutA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    AnswerDialog(dialog, IDOK);
}

HWND WaitForFolderBrowser(DWORD timeoutMs) {
    return WaitForWindow(
        [](HWND w) {
            if (!IsDialogClass(w)) return false;
            for (HWND child : Children(w))
                if (ClassOf(child) == "SysTreeView32") return true;
            return false;
        },
        timeoutMs);
}

std::string FolderBrowserTexts(HWND dialog) {
    std::string texts;
    for (HWND child : Children(dialog))
        if (ClassOf(child) == "Static") texts += TextOf(child) + "\n";
    return texts;
}

namespace {
std::string TreeItemText(HWND tree, LRESULT item) {
    SharedBuffer remote(tree, sizeof(TVITEMA) + 260);
    TVITEMA query = {};
    query.mask = TVIF_TEXT;
    query.hItem = reinterpret_cast<HTREEITEM>(item);
    query.pszText = static_cast<char*>(remote.address()) + sizeof(TVITEMA);
    query.cchTextMax = 260;
    remote.Write(&query, sizeof(query));
    if (!SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote.address())))
        return "";
    return remote.ReadText(sizeof(TVITEMA));
}

// The folder's components below the drive, last first: "C:\\a\\b" gives b, a.
std::vector<std::string> ComponentsLastFirst(const std::string& folder) {
    std::vector<std::string> parts;
    size_t start = folder.find('\\');
    while (start != std::string::npos) {
        size_t end = folder.find('\\', start + 1);
        std::string part = folder.substr(start + 1, end == std::string::npos ? end : end - start - 1);
        if (!part.empty()) parts.insert(parts.begin(), part);
        start = end;
    }
    return parts;
}

// The tree's selection is the folder: its item and the items above it carry
// the folder's names, from the last component up to the drive.
bool TreeSelects(HWND tree, const std::vector<std::string>& lastFirst) {
    LRESULT item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    for (const std::string& name : lastFirst) {
        if (!item || lstrcmpiA(TreeItemText(tree, item).c_str(), name.c_str()) != 0) return false;
        item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, item);
    }
    return item != 0;  // the drive's item, or a root, is above
}
}  // namespace

bool AnswerFolderBrowser(HWND dialog, const std::string& folder, DWORD timeoutMs) {
    HWND tree = dialog ? FindWindowExA(dialog, nullptr, "SysTreeView32", nullptr) : nullptr;
    if (!tree) {
        ADD_FAILURE() << "no folder browser to answer with " << folder;
        return false;
    }
    SharedBuffer buffer(dialog, folder.size() + 1);
    buffer.Write(folder.c_str(), folder.size() + 1);
    std::vector<std::string> lastFirst = ComponentsLastFirst(folder);
    // The tree fills and expands to the folder in steps; the selection is
    // asked for again now and then, as the tree may still have been filling.
    DWORD start = GetTickCount(), asked = 0;
    bool selected = false;
    while (!selected && IsWindow(dialog)) {
        DWORD now = GetTickCount();
        if (asked == 0 || now - asked >= 1000) {
            SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE,
                         reinterpret_cast<LPARAM>(buffer.address()));
            asked = GetTickCount();
        }
        selected = TreeSelects(tree, lastFirst);
        if (selected || now - start >= timeoutMs) break;
        Sleep(20);
    }
    if (!selected) {
        LRESULT caret = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
        ADD_FAILURE() << "the folder browser never selected " << folder << "; it selects \""
                      << (caret ? TreeItemText(tree, caret) : std::string()) << "\"; cancelled";
        AnswerDialog(dialog, IDCANCEL);
        return false;
    }
    AnswerDialog(dialog, IDOK);
    return true;
}

// --- DrivingWatch -------------------------------------------------------------------

struct DrivingWatch::State {
    DWORD deadlineMs = 0;
    std::mutex mutex;
    std::condition_variable changed;
    bool callDone = false;
    // Until the call has returned or the time is up; true: it has returned.
    bool WaitCallDone(DWORD ms) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return callDone; });
    }
    std::thread driver, watchdog;
    std::atomic<bool> expired{false};
    std::string closed;          // what the watchdog closed
    std::string driverFailure;   // an exception that left the driver
};

namespace {
BOOL CALLBACK CollectOwnWindows(HWND window, LPARAM param) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId() && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

// Ends a modal window of this process: a dialog by Cancel, any other by a close.
void EndWindow(HWND window) {
    if (ClassOf(window) == "#32770") AnswerDialog(window, IDCANCEL);
    PostMessageA(window, WM_CLOSE, 0, 0);
}
}  // namespace

DrivingWatch::DrivingWatch(std::function<void()> driver, DWORD deadlineMs)
    : state_(new State) {
    State* s = state_.get();
    s->deadlineMs = deadlineMs;
    s->driver = std::thread([s, driver = std::move(driver)] {
        try {
            driver();
        } catch (const std::exception& e) {
            s->driverFailure = e.what();
        } catch (...) {
            s->driverFailure = "an unknown exception";
        }
    });
    s->watchdog = std::thread([s] {
        if (s->WaitCallDone(s->deadlineMs)) return;
        s->expired = true;
        fprintf(stderr, "WhileDriving: the driven call still blocks after %lu ms; closing its "
                        "windows\n", s->deadlineMs);
        // Closing one window may uncover the next (a box over a dialog).
        do {
            std::vector<HWND> windows;
            EnumWindows(CollectOwnWindows, reinterpret_cast<LPARAM>(&windows));
            for (HWND window : windows) {
                s->closed += "\n  " + Describe(window);
                EndWindow(window);
            }
        } while (!s->WaitCallDone(500));
    });
}

DrivingWatch::~DrivingWatch() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->callDone = true;
    }
    state_->changed.notify_all();
    state_->watchdog.join();
    state_->driver.join();
    if (state_->expired)
        ADD_FAILURE() << "the driven call blocked longer than " << state_->deadlineMs
                      << " ms; the watchdog closed:" << state_->closed;
    if (!state_->driverFailure.empty())
        ADD_FAILURE() << "the driver ended by an exception: " << state_->driverFailure;
}

}  // namespace tvtest
