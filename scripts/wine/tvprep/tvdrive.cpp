// tvdrive: starts a program and answers the system's dialogs that it shows,
// printing each one, until the program ends. A helper of the demo: the
// questions of a job (signature information, an existing output, an error)
// are answered as the options say. It is not installed.
//
//   tvdrive [--timeout SECONDS] [--sig ANSWER] [--exist ANSWER] [--readonly ANSWER]
//           [--error ANSWER] [--msgbox ANSWER] [--question ANSWER]
//           [--open FILE] [--password TEXT] [--shell-open] -- PROGRAM [ARGUMENTS...]
//
// ANSWER: ok, cancel, yes, yesall, no, noall. --question answers the settings
// program's questions (yes by default), --open its file dialog (cancelled
// without), --password the password question of its import. The exit code is
// the program's (1 when it had to be ended after the timeout). With
// --shell-open, PROGRAM is a document that the shell opens ("open", as a
// double-click does), and the program it starts is driven.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "QXVersion.h"

namespace {

// Control identifiers of the system's dialogs.
constexpr int kYesNoAllText = 201;
constexpr int kYesNoAllButtons[] = {202, 203, 204, 205, 206};  // yes, yesall, no, noall, cancel
constexpr int kOkHelpText = 301;
constexpr int kOkHelpOk = 304;
constexpr int kOkHelpHelp = 305;  // "No" in question mode
constexpr int kOkHelpCancel = 306;
constexpr int kPasswordEdit = 601;
constexpr int kPasswordOk = 602;
const char kSetupCaption[] = QX_SETUP_CAPTION;

struct Policy {
    std::string sig = "ok";
    std::string exist = "yes";
    std::string readonly = "yes";
    std::string error = "ok";
    std::string msgbox = "ok";
    std::string question = "yes";
    std::string open;
    std::string password;
};

std::string ClassOf(HWND window) {
    char name[256] = {0};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

std::string TextOf(HWND window) {
    char text[4096] = {0};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, &ignored);
    return text;
}

std::string OneLine(std::string text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') continue;
        out += (c == '\n') ? std::string(" | ") : std::string(1, c);
    }
    return out;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, strlen(prefix), prefix) == 0;
}

void Click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

void SetText(HWND control, const std::string& text) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 2000, &ignored);
}

// The file-name edit of the common file dialog: inside the ComboBoxEx 1148, or edit 1152.
HWND FileNameEdit(HWND dialog) {
    HWND combo = GetDlgItem(dialog, 1148);
    if (combo) {
        HWND edit = FindWindowExA(combo, nullptr, "Edit", nullptr);
        if (!edit) {
            HWND inner = FindWindowExA(combo, nullptr, "ComboBox", nullptr);
            if (inner) edit = FindWindowExA(inner, nullptr, "Edit", nullptr);
        }
        return edit ? edit : combo;
    }
    return GetDlgItem(dialog, 1152);
}

struct Finder {
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindows(HWND window, LPARAM param) {
    Finder* finder = reinterpret_cast<Finder*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == finder->processId && IsWindowVisible(window) && IsWindowEnabled(window)) {
        finder->windows.push_back(window);
    }
    return TRUE;
}

int YesNoAllButton(const std::string& answer) {
    if (answer == "yes") return kYesNoAllButtons[0];
    if (answer == "yesall") return kYesNoAllButtons[1];
    if (answer == "no") return kYesNoAllButtons[2];
    if (answer == "noall") return kYesNoAllButtons[3];
    return kYesNoAllButtons[4];
}

int MessageBoxButton(HWND box, const std::string& answer) {
    int wanted = IDOK;
    if (answer == "yes") wanted = IDYES;
    if (answer == "no") wanted = IDNO;
    if (answer == "cancel") wanted = IDCANCEL;
    if (GetDlgItem(box, wanted) != nullptr) return wanted;
    for (int id : {IDOK, IDYES, IDCANCEL}) {
        if (GetDlgItem(box, id) != nullptr) return id;
    }
    return IDCANCEL;
}

// Answers one dialog when it is one of ours; true when it was answered.
bool Answer(HWND window, const Policy& policy) {
    std::string cls = ClassOf(window);
    std::string caption = TextOf(window);
    if (StartsWith(cls, "TQXDlgOkHilfe") && caption == kSetupCaption) {
        const std::string& answer = policy.question;
        printf("  [%s] %s\n      -> %s\n", caption.c_str(),
               OneLine(TextOf(GetDlgItem(window, kOkHelpText))).c_str(), answer.c_str());
        int button = answer == "yes" ? kOkHelpOk : answer == "no" ? kOkHelpHelp : kOkHelpCancel;
        Click(GetDlgItem(window, button));
        return true;
    }
    if (StartsWith(cls, "TTVPasswordForm")) {
        printf("  [%s] password question\n      -> the password given\n", caption.c_str());
        SetText(GetDlgItem(window, kPasswordEdit), policy.password);
        Click(GetDlgItem(window, kPasswordOk));
        return true;
    }
    if (cls == "#32770" && FileNameEdit(window)) {
        printf("  [%s] file dialog\n      -> %s\n", caption.c_str(),
               policy.open.empty() ? "cancel" : policy.open.c_str());
        int button = IDCANCEL;
        if (!policy.open.empty()) {
            SetText(FileNameEdit(window), policy.open);
            button = IDOK;
        }
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
        return true;
    }
    if (StartsWith(cls, "TQXDlgOkHilfe")) {
        bool signature = caption.find("Signature Info") != std::string::npos;
        const std::string& answer = signature ? policy.sig : policy.error;
        printf("  [%s] %s\n      -> %s\n", caption.c_str(),
               OneLine(TextOf(GetDlgItem(window, kOkHelpText))).c_str(), answer.c_str());
        Click(GetDlgItem(window, answer == "cancel" ? kOkHelpCancel : kOkHelpOk));
        return true;
    }
    if (StartsWith(cls, "TDYesNoAll")) {
        std::string text = TextOf(GetDlgItem(window, kYesNoAllText));
        bool readOnly = text.find("write - protected") != std::string::npos;
        const std::string& answer = readOnly ? policy.readonly : policy.exist;
        printf("  [%s] %s\n      -> %s\n", caption.c_str(), OneLine(text).c_str(), answer.c_str());
        Click(GetDlgItem(window, YesNoAllButton(answer)));
        return true;
    }
    if (cls == "#32770") {
        std::string text = TextOf(GetDlgItem(window, 0xFFFF));
        int button = MessageBoxButton(window, policy.msgbox);
        printf("  [%s] %s\n      -> %s\n", caption.c_str(), OneLine(text).c_str(),
               policy.msgbox.c_str());
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
        return true;
    }
    return false;
}

BOOL CALLBACK DumpWindow(HWND window, LPARAM param) {
    DWORD owner = 0;
    DWORD thread = GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(param)) {
        fprintf(stderr, "  window %p thread %lu class '%s' caption '%s'%s%s\n",
                static_cast<void*>(window), thread, ClassOf(window).c_str(),
                TextOf(window).c_str(), IsWindowVisible(window) ? " visible" : "",
                IsWindowEnabled(window) ? " enabled" : "");
    }
    return TRUE;
}

// What the program still shows when it has to be ended.
void DumpWindows(DWORD processId) {
    EnumWindows(DumpWindow, static_cast<LPARAM>(processId));
}

std::string QuoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    return "\"" + argument + "\"";
}

int Usage() {
    fprintf(stderr,
            "usage: tvdrive [--timeout S] [--sig A] [--exist A] [--readonly A] [--error A]\n"
            "               [--msgbox A] [--question A] [--open FILE] [--password TEXT]\n"
            "               -- PROGRAM [ARGUMENTS...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Policy policy;
    DWORD timeoutMs = 120000;
    bool shellOpen = false;
    int i = 1;
    for (; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--") {
            ++i;
            break;
        }
        if (option == "--shell-open") {
            shellOpen = true;
            continue;
        }
        if (i + 1 >= argc) return Usage();
        std::string value = argv[++i];
        if (option == "--timeout") timeoutMs = static_cast<DWORD>(atoi(value.c_str())) * 1000;
        else if (option == "--sig") policy.sig = value;
        else if (option == "--exist") policy.exist = value;
        else if (option == "--readonly") policy.readonly = value;
        else if (option == "--error") policy.error = value;
        else if (option == "--msgbox") policy.msgbox = value;
        else if (option == "--question") policy.question = value;
        else if (option == "--open") policy.open = value;
        else if (option == "--password") policy.password = value;
        else return Usage();
    }
    if (i >= argc) return Usage();

    std::string commandLine;
    for (int k = i; k < argc; ++k) {
        if (!commandLine.empty()) commandLine += ' ';
        // The program's own arguments are passed as written (tvcrypte splits
        // its line itself).
        commandLine += (k == i) ? QuoteArgument(argv[k]) : std::string(argv[k]);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (shellOpen) {
        // As a double-click does: the shell's "open" of the document, whose
        // registered program is then the one driven.
        SHELLEXECUTEINFOA info = {};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
        info.lpVerb = "open";
        info.lpFile = argv[i];
        info.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExA(&info) || !info.hProcess) {
            fprintf(stderr, "tvdrive: the shell cannot open %s (%lu)\n", argv[i], GetLastError());
            return 1;
        }
        process.hProcess = info.hProcess;
        process.dwProcessId = GetProcessId(info.hProcess);
        process.hThread = nullptr;
    } else {
        std::vector<char> line(commandLine.begin(), commandLine.end());
        line.push_back(0);
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process)) {
            fprintf(stderr, "tvdrive: cannot start %s (%lu)\n", argv[i], GetLastError());
            return 1;
        }
    }

    std::map<HWND, DWORD> answered;  // window -> tick of the answer
    DWORD start = GetTickCount();
    DWORD exitCode = 1;
    for (;;) {
        if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process.hProcess, &exitCode);
            break;
        }
        if (GetTickCount() - start > timeoutMs) {
            fprintf(stderr, "tvdrive: %s did not end within the time limit\n", argv[i]);
            DumpWindows(process.dwProcessId);
            TerminateProcess(process.hProcess, 1);
            exitCode = 1;
            break;
        }
        Finder finder{process.dwProcessId, {}};
        EnumWindows(CollectWindows, reinterpret_cast<LPARAM>(&finder));
        for (HWND window : finder.windows) {
            auto seen = answered.find(window);
            if (seen != answered.end() && GetTickCount() - seen->second < 1500) continue;
            if (Answer(window, policy)) {
                answered[window] = GetTickCount();
                fflush(stdout);
            }
        }
    }
    if (process.hThread) CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}
