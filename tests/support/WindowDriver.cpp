#include "WindowDriver.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <cstring>

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

void PressKey(HWND window, UINT vk) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    HWND target = window;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus &&
        (info.hwndFocus == window || IsChild(window, info.hwndFocus)))
        target = info.hwndFocus;
    UINT scan = MapVirtualKeyA(vk, 0);
    PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | (3u << 30));
}

void PressEscape(HWND window) { PressKey(window, VK_ESCAPE); }
void PressEnter(HWND window) { PressKey(window, VK_RETURN); }
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

void AnswerFolderBrowser(HWND dialog, const std::string& folder) {
    SharedBuffer buffer(dialog, folder.size() + 1);
    buffer.Write(folder.c_str(), folder.size() + 1);
    SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(buffer.address()));
    // The tree expands to the folder in steps: wait until its item is the
    // selected one (by its last component), at most two seconds.
    std::string last = folder.substr(folder.find_last_of('\\') + 1);
    HWND tree = FindWindowExA(dialog, nullptr, "SysTreeView32", nullptr);
    for (int i = 0; tree && i < 150; ++i) {
        if (i % 10 == 9)  // not there yet: the tree may have been filling
            SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE,
                         reinterpret_cast<LPARAM>(buffer.address()));
        auto item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
        if (item) {
            SharedBuffer remote(tree, sizeof(TVITEMA) + 260);
            TVITEMA query = {};
            query.mask = TVIF_TEXT;
            query.hItem = reinterpret_cast<HTREEITEM>(item);
            query.pszText = static_cast<char*>(remote.address()) + sizeof(TVITEMA);
            query.cchTextMax = 260;
            remote.Write(&query, sizeof(query));
            SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote.address()));
            std::string all = remote.ReadText(sizeof(TVITEMA));
            if (lstrcmpiA(all.c_str(), last.c_str()) == 0) break;
        }
        Sleep(20);
    }
    AnswerDialog(dialog, IDOK);
}

}  // namespace tvtest
