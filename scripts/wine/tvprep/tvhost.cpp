// tvhost: plays the Explorer for the context-menu handler of tvcryptc, which
// Wine's own Explorer never loads. It finds the handler's class through its
// registry rows (or loads a given library), hands it files as the Explorer
// does, builds the menu into a real menu of its own, prints it, and invokes a
// command. A helper of the tests and the demo; it is not installed.
//
//   tvhost [--dll PATH] [--items N] [--index I] [--first ID] [--last ID]
//          [--flags F] [--invoke OFFSET | --verb TEXT] [--command-string OFFSET]
//          [--free-at-end] [--timeout SECONDS] [FILE...]
//
//   --dll PATH      load this library instead of the one that
//                   HKCR\CLSID\<class>\InprocServer32 names
//   --items N       items of the host's own menu before the build (5):
//                   "Host item 0".., identifiers from 1
//   --index I       indexMenu of QueryContextMenu (0)
//   --first ID      idCmdFirst (1000); --last ID idCmdLast (0x7FFF)
//   --flags F       uFlags (0, CMF_NORMAL); numbers are decimal or 0x hex
//   --invoke O      InvokeCommand with the command offset O
//   --verb TEXT     InvokeCommand with the verb string TEXT
//   --command-string O   GetCommandString of offset O, as GCS_VERBA and GCS_HELPTEXTW
//   --free-at-end   once DllCanUnloadNow says S_OK, free the library at once, then
//                   wait until every thread started since it was loaded has ended
//   --timeout S     deadline of each of those two waits (120)
//   FILE...         the selection, made absolute
//
// Output, one line per step, on stdout (HRESULTs as 0x%08x; a step not asked
// for prints nothing):
//   library <path>
//   initialize hr=<hr>
//   query hr=<hr> count=<HRESULT_CODE>
//   menu items=<n>
//   <indent>item pos=<p> kind=<string|popup|separator|other> id=<id> bitmap=<yes|no> text=<text>
//   command-string offset=<o> type=<verba|helptextw> hr=<hr> written=<yes|no> text=<text>
//   invoke offset=<o> hr=<hr>            or   invoke verb=<text> hr=<hr>
//   can-unload hr=<hr>                   (after the object's last release)
//   freed                                (--free-at-end: FreeLibrary has returned)
//   threads-ended count=<n>              (the threads waited for)
//   host survived
// The menu tree follows "menu": <indent> is two blanks per submenu level
// (none for the host's menu); a popup's items follow its own line; a popup
// inserted by its handle shows id=- (its identifier is the handle). "bitmap"
// says whether the item has an item bitmap or check-mark bitmaps; "text" is
// the rest of the line. Exit code: 0 when every step asked for ran (the
// HRESULTs are printed, not judged); 1 with a message on stderr when the
// class cannot be found, loaded or created or a wait passes its deadline;
// 2 for a bad command line.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "QXHandles.h"
#include "QXMenuClass.h"
#include "ShellHost.h"

namespace {

using tvhost::DropData;
using tvhost::Ref;

// --- owners ----------------------------------------------------------------

struct WindowTraits {
    static HWND invalid() { return nullptr; }
    static bool close(HWND window) { return DestroyWindow(window) != FALSE; }
};
using Window = qx::Owned<HWND, WindowTraits>;

// A Toolhelp snapshot is closed like a file.
using Snapshot = qx::File;

class ComApartment {
public:
    ComApartment() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (ok_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool ok_;
};

// --- output ----------------------------------------------------------------

void Line(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    putchar('\n');
    fflush(stdout);  // what was printed stays when the process dies later
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return "";
    int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    out.resize(strlen(out.c_str()));
    return out;
}

unsigned long Hr(HRESULT hr) { return static_cast<unsigned long>(hr); }

std::string HrText(HRESULT hr) {
    char text[16];
    snprintf(text, sizeof(text), "0x%08lx", Hr(hr));
    return text;
}

// --- command line --------------------------------------------------------------

struct Options {
    std::wstring dll;
    int items = 5;
    UINT index = 0;
    UINT first = 1000;
    UINT last = 0x7FFF;
    UINT flags = CMF_NORMAL;
    bool invoke = false;
    UINT invokeOffset = 0;
    bool verb = false;
    std::string verbText;
    bool commandString = false;
    UINT commandOffset = 0;
    bool freeAtEnd = false;
    DWORD timeoutMs = 120000;
    std::vector<std::wstring> files;
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

UINT Number(const std::wstring& text) {
    wchar_t* end = nullptr;
    unsigned long value = wcstoul(text.c_str(), &end, 0);
    if (text.empty() || *end != 0) throw UsageError("not a number: " + Narrow(text));
    return static_cast<UINT>(value);
}

std::wstring FullPath(const std::wstring& path) {
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) throw UsageError("cannot make a full path of " + Narrow(path));
    std::wstring full(size, L'\0');
    size = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    full.resize(size);
    return full;
}

Options ParseOptions() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) throw UsageError("cannot read the command line");
    std::vector<std::wstring> args(argv + 1, argv + argc);
    LocalFree(argv);

    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& option = args[i];
        auto value = [&]() -> const std::wstring& {
            if (i + 1 >= args.size()) throw UsageError(Narrow(option) + " needs a value");
            return args[++i];
        };
        if (option == L"--dll") options.dll = FullPath(value());
        else if (option == L"--items") options.items = static_cast<int>(Number(value()));
        else if (option == L"--index") options.index = Number(value());
        else if (option == L"--first") options.first = Number(value());
        else if (option == L"--last") options.last = Number(value());
        else if (option == L"--flags") options.flags = Number(value());
        else if (option == L"--invoke") {
            options.invoke = true;
            options.invokeOffset = Number(value());
        } else if (option == L"--verb") {
            options.verb = true;
            options.verbText = Narrow(value());
        } else if (option == L"--command-string") {
            options.commandString = true;
            options.commandOffset = Number(value());
        } else if (option == L"--free-at-end") options.freeAtEnd = true;
        else if (option == L"--timeout") options.timeoutMs = Number(value()) * 1000;
        else if (option.compare(0, 2, L"--") == 0) throw UsageError("unknown option " + Narrow(option));
        else options.files.push_back(FullPath(option));
    }
    if (options.invoke && options.verb) throw UsageError("--invoke and --verb exclude each other");
    if (options.invoke && options.invokeOffset > 0xFFFF)
        throw UsageError("an offset is at most 0xFFFF");
    return options;
}

// --- finding and loading the class ---------------------------------------------

// The library that HKCR\CLSID\<class>\InprocServer32 names.
std::wstring RegisteredLibrary() {
    std::string keyPath = std::string("CLSID\\") + QX_MENU_CLASS_TEXT + "\\InprocServer32";
    qx::RegKey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.out()) !=
        ERROR_SUCCESS) {
        throw std::runtime_error("the class is not registered (no HKCR\\" + keyPath + ")");
    }
    wchar_t value[MAX_PATH + 1] = {0};
    DWORD type = 0;
    DWORD size = sizeof(value) - sizeof(wchar_t);  // room for a terminator of our own
    if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value),
                         &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || value[0] == 0) {
        throw std::runtime_error("HKCR\\" + keyPath + " names no library");
    }
    if (type == REG_EXPAND_SZ) {
        wchar_t expanded[MAX_PATH + 1] = {0};
        DWORD length = ExpandEnvironmentStringsW(value, expanded, MAX_PATH);
        if (length == 0 || length > MAX_PATH) throw std::runtime_error("cannot expand " + Narrow(value));
        return expanded;
    }
    return value;
}

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

// The ids of the process's threads now.
std::set<DWORD> ThreadsOfProcess() {
    std::set<DWORD> ids;
    Snapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) throw std::runtime_error("no thread snapshot");
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
        entry.dwSize = sizeof(entry);
    }
    return ids;
}

// Waits for the handles (none: for the time) while this thread's messages
// are dispatched; false when the deadline passed first.
bool PumpUntil(const std::vector<HANDLE>& handles, DWORD deadline, bool all) {
    for (;;) {
        DWORD now = GetTickCount();
        if (static_cast<LONG>(deadline - now) <= 0) return false;
        DWORD wait = deadline - now;
        // Waiting for all handles and for input cannot be combined; the
        // threads are then waited for one after the other by the caller.
        DWORD result = MsgWaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                 handles.empty() ? nullptr : handles.data(),
                                                 all ? TRUE : FALSE, wait, QS_ALLINPUT);
        if (result < WAIT_OBJECT_0 + handles.size()) return true;
        if (result == WAIT_OBJECT_0 + handles.size()) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            continue;
        }
        if (result == WAIT_TIMEOUT) return false;
        throw std::runtime_error("waiting failed");
    }
}

// Waits until DllCanUnloadNow says S_OK, pumping messages meanwhile.
bool WaitUnloadable(CanUnloadNowFn canUnload, DWORD timeoutMs) {
    DWORD deadline = GetTickCount() + timeoutMs;
    while (canUnload() != S_OK) {
        // A short look at the messages between two questions.
        DWORD step = GetTickCount() + 20;
        if (static_cast<LONG>(deadline - step) <= 0) return false;
        PumpUntil({}, step, false);
    }
    return true;
}

// Waits until every thread of the process that is not in `before` and not
// this one has ended; the number waited for, -1 at the deadline.
int WaitForNewThreads(const std::set<DWORD>& before, DWORD timeoutMs) {
    DWORD deadline = GetTickCount() + timeoutMs;
    std::set<DWORD> waited;  // ended; a thread still listed after its end is not waited again
    for (;;) {
        std::vector<qx::Kernel> threads;
        for (DWORD id : ThreadsOfProcess()) {
            if (id == GetCurrentThreadId() || before.count(id) || waited.count(id)) continue;
            qx::Kernel thread(OpenThread(SYNCHRONIZE, FALSE, id));
            if (!thread) continue;  // ended since the snapshot
            waited.insert(id);
            threads.push_back(std::move(thread));
        }
        if (threads.empty()) return static_cast<int>(waited.size());
        for (const auto& thread : threads) {
            if (!PumpUntil({thread.get()}, deadline, false)) {
                fprintf(stderr, "tvhost: %u thread(s) still running at the deadline\n",
                        static_cast<unsigned>(threads.size()));
                return -1;
            }
        }
    }
}

// --- the menu ----------------------------------------------------------------

void PrintMenu(HMENU menu, int depth) {
    std::string indent(2 * depth, ' ');
    int count = GetMenuItemCount(menu);
    for (int pos = 0; pos < count; ++pos) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING | MIIM_BITMAP |
                     MIIM_CHECKMARKS;
        if (!GetMenuItemInfoA(menu, pos, TRUE, &info)) {
            Line("%sitem pos=%d kind=unreadable id=0 bitmap=no text=", indent.c_str(), pos);
            continue;
        }
        std::vector<char> text(info.cch + 1, '\0');
        if (info.cch > 0) {
            info.dwTypeData = text.data();
            info.cch = static_cast<UINT>(text.size());
            GetMenuItemInfoA(menu, pos, TRUE, &info);
        }
        const char* kind = "string";
        if (info.fType & MFT_SEPARATOR) kind = "separator";
        else if (info.hSubMenu) kind = "popup";
        else if (info.fType & (MFT_BITMAP | MFT_OWNERDRAW)) kind = "other";
        bool bitmap = info.hbmpItem != nullptr || info.hbmpChecked != nullptr ||
                      info.hbmpUnchecked != nullptr;
        // A popup inserted by handle carries the handle as its identifier, which
        // says nothing and changes from run to run.
        bool handleId = info.hSubMenu &&
                        info.wID == static_cast<UINT>(reinterpret_cast<UINT_PTR>(info.hSubMenu));
        std::string id = handleId ? "-" : std::to_string(info.wID);
        Line("%sitem pos=%d kind=%s id=%s bitmap=%s text=%s", indent.c_str(), pos, kind, id.c_str(),
             bitmap ? "yes" : "no", text.data());
        if (info.hSubMenu) PrintMenu(info.hSubMenu, depth + 1);
    }
}

qx::Menu HostMenu(int items) {
    qx::Menu menu(CreatePopupMenu());
    if (!menu) throw std::runtime_error("cannot create a menu");
    for (int i = 0; i < items; ++i) {
        std::string text = "Host item " + std::to_string(i);
        if (!AppendMenuA(menu.get(), MF_STRING, static_cast<UINT_PTR>(i + 1), text.c_str()))
            throw std::runtime_error("cannot fill the menu");
    }
    return menu;
}

Window HostWindow() {
    static const char kClass[] = "TarvistoHostWindow";
    WNDCLASSA cls = {};
    cls.lpfnWndProc = DefWindowProcA;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = kClass;
    RegisterClassA(&cls);
    Window window(CreateWindowExA(0, kClass, "Tarvisto host", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 400, 300, nullptr, nullptr, cls.hInstance, nullptr));
    if (!window) throw std::runtime_error("cannot create the host window");
    return window;
}

void PrintCommandString(IContextMenu* menu, UINT offset) {
    char verb[256];
    memset(verb, '#', sizeof(verb) - 1);
    verb[sizeof(verb) - 1] = 0;
    HRESULT hr = menu->GetCommandString(offset, GCS_VERBA, nullptr, verb, sizeof(verb));
    bool written = verb[0] != '#' || verb[1] != '#';
    Line("command-string offset=%u type=verba hr=0x%08lx written=%s text=%s", offset, Hr(hr),
         written ? "yes" : "no", written ? verb : "");

    wchar_t help[256];
    for (auto& c : help) c = L'#';
    help[255] = 0;
    hr = menu->GetCommandString(offset, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(help),
                                256);
    written = help[0] != L'#' || help[1] != L'#';
    Line("command-string offset=%u type=helptextw hr=0x%08lx written=%s text=%s", offset, Hr(hr),
         written ? "yes" : "no", written ? Narrow(help).c_str() : "");
}

int Run() {
    Options options = ParseOptions();
    ComApartment apartment;
    Window window = HostWindow();

    std::wstring path = options.dll.empty() ? RegisteredLibrary() : options.dll;
    std::set<DWORD> threadsBefore = ThreadsOfProcess();
    qx::Module module(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!module) {
        throw std::runtime_error("cannot load " + Narrow(path) + " (error " +
                                 std::to_string(GetLastError()) + ")");
    }
    Line("library %s", Narrow(path).c_str());
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(GetProcAddress(module.get(), "DllGetClassObject"));
    auto canUnload =
        reinterpret_cast<CanUnloadNowFn>(GetProcAddress(module.get(), "DllCanUnloadNow"));
    if (getClassObject == nullptr || canUnload == nullptr)
        throw std::runtime_error(Narrow(path) + " is no COM server");

    {
        // The selection outlives the object that may have taken it.
        DropData data(options.files);
        Ref<IShellExtInit> init;
        Ref<IContextMenu> contextMenu;
        {
            Ref<IClassFactory> factory;
            HRESULT hr = getClassObject(CLSID_QXMenu, IID_IClassFactory, factory.out());
            if (FAILED(hr) || factory.get() == nullptr)
                throw std::runtime_error("no class factory (hr " + HrText(hr) + ")");
            hr = factory->CreateInstance(nullptr, IID_IShellExtInit, init.out());
            if (FAILED(hr) || init.get() == nullptr)
                throw std::runtime_error("cannot create the object (hr " + HrText(hr) + ")");
        }
        HRESULT hr = init->QueryInterface(IID_IContextMenu, contextMenu.out());
        if (FAILED(hr) || contextMenu.get() == nullptr)
            throw std::runtime_error("the object has no IContextMenu");

        Line("initialize hr=0x%08lx", Hr(init->Initialize(nullptr, &data, nullptr)));

        qx::Menu menu = HostMenu(options.items);
        hr = contextMenu->QueryContextMenu(menu.get(), options.index, options.first, options.last,
                                           options.flags);
        Line("query hr=0x%08lx count=%u", Hr(hr), static_cast<unsigned>(HRESULT_CODE(hr)));
        Line("menu items=%d", GetMenuItemCount(menu.get()));
        PrintMenu(menu.get(), 0);

        if (options.commandString) PrintCommandString(contextMenu.get(), options.commandOffset);

        if (options.invoke || options.verb) {
            CMINVOKECOMMANDINFO info = {};
            info.cbSize = sizeof(info);
            info.hwnd = window.get();
            info.lpVerb = options.invoke ? MAKEINTRESOURCEA(options.invokeOffset)
                                         : options.verbText.c_str();
            info.nShow = SW_SHOWNORMAL;
            hr = contextMenu->InvokeCommand(&info);
            if (options.invoke) Line("invoke offset=%u hr=0x%08lx", options.invokeOffset, Hr(hr));
            else Line("invoke verb=%s hr=0x%08lx", options.verbText.c_str(), Hr(hr));
        }
        // The menu goes before the object, as the Explorer's does.
    }
    Line("can-unload hr=0x%08lx", Hr(canUnload()));

    if (options.freeAtEnd) {
        if (!WaitUnloadable(canUnload, options.timeoutMs))
            throw std::runtime_error("DllCanUnloadNow did not say S_OK before the deadline");
        if (!module.close()) throw std::runtime_error("FreeLibrary failed");
        Line("freed");
        int ended = WaitForNewThreads(threadsBefore, options.timeoutMs);
        if (ended < 0) throw std::runtime_error("threads of the job did not end before the deadline");
        Line("threads-ended count=%d", ended);
        Line("host survived");
    }
    return 0;
}

}  // namespace

int main() {
    try {
        return Run();
    } catch (const UsageError& error) {
        fprintf(stderr, "tvhost: %s\n", error.what());
        return 2;
    } catch (const std::exception& error) {
        fprintf(stderr, "tvhost: %s\n", error.what());
        return 1;
    } catch (...) {
        fprintf(stderr, "tvhost: unexpected failure\n");
        return 1;
    }
}
