// A scripted stand-in for the dialogs library tvstatus, for tests. The engine
// loads it through the setting "statusdll" (tests-bin\scriptedstatus.dll) and
// binds the same eight entry points by name; the stand-in shows nothing, logs
// every call with the fields of the status record, and answers from a script.
//
// Script: "key=value" pairs separated by ';' (unknown keys are ignored):
//   open=1             OpenQXStatus result (0: no window, the job is cancelled)
//   window=0           1: OpenQXStatus makes a real hidden window of class
//                      "TQXProgress" on the calling thread (CloseQXStatus
//                      destroys it when it answers 1)
//   close=1            CloseQXStatus result (0: the window, if any, stays)
//   readonly=a,b,...   answers of QXAskYesNoAllReadOnly, in order (AnswerCode)
//   readonly_default=6 answer once the list is used up
//   exist=a,b,...      answers of QXAskYesNoAllFileExist, in order
//   exist_default=6
//   update_false=n,... 1-based numbers of UpdateQXStatus calls that answer 0
//   error_false=n,...  1-based numbers of error entries (display kind 0) that
//                      answer 0 (Cancel in the error box)
//   saveas=<path>      QXAskFileSaveAs writes it to `path` and answers 1;
//                      absent or empty: answers 0, `path` unchanged
//   selectdir=<path>   the same for QXAskSelectDir
//   siginfo=1          ShowSigInfo result
//   hold=<name>        each yes-no question first sets the named event
//                      "<name>-held" and then waits for "<name>-go" before it
//                      answers (a test holds the job at its question meanwhile;
//                      after a minute the question answers all the same and
//                      logs "Hold|-> timeout")
//   hold_at=n          only the n-th yes-no question (1-based, counted since
//                      the script was set) is held
//
// Where the script comes from:
//   - the environment variable TV_SCRIPTED_STATUS, read when the library loads;
//   - ScriptedStatusReset(script) (exported), which also empties the log and
//     the call counters; a null script reads the environment variable again.
//     A test in the engine's own process loads the library itself (LoadLibraryA
//     on the same path) so that script and log survive the engine's unloading.
//
// Log: one line per call, '|' between fields, the result after "->":
//   Open|-> 1
//   Update|kind=1|cur=1|total=1|anim=0|file=a.txt|sub=work|op=<operationText>|done=<doneText>|detail=<detail>|-> 1
//   AskReadOnly|file=a.txt|done=signed|-> 0
//   AskFileExist|file=a.txt|done=signed|-> 2
//   AskFileSaveAs|path=<proposed>|-> 1|path=<chosen>
//   AskSelectDir|path=<archive>|-> 1|path=<chosen>
//   ShowSigInfo|-> 1
//   Close|-> 1
// Null text references are logged as "(null)". The log is returned by
// ScriptedStatusLog() (exported) and, when TV_SCRIPTED_STATUS_LOG names a
// file, appended to that file as well (for tests in another process).
//
// ScriptedStatusWindow() (exported) returns the window made by window=1.
// Built twice: scriptedstatus.dll, and scriptedstatus7.dll without the export
// ShowSigInfo.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "StatusRecord.h"

namespace {

std::map<std::string, std::string> g_script;
std::string g_log;
std::vector<int> g_readOnly, g_exist, g_updateFalse, g_errorFalse;
size_t g_readOnlyNext = 0, g_existNext = 0;
int g_updates = 0, g_errors = 0, g_questions = 0;
HWND g_window = nullptr;
HINSTANCE g_instance = nullptr;
bool g_classRegistered = false;
int g_handleTag = 0;

std::vector<int> ParseList(const std::string& text) {
    std::vector<int> list;
    size_t start = 0;
    while (start < text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string item = text.substr(start, comma - start);
        if (!item.empty()) list.push_back(atoi(item.c_str()));
        start = comma + 1;
    }
    return list;
}

void ApplyScript(const char* script) {
    g_script.clear();
    std::string text = script ? script : "";
    size_t start = 0;
    while (start < text.size()) {
        size_t semi = text.find(';', start);
        if (semi == std::string::npos) semi = text.size();
        std::string pair = text.substr(start, semi - start);
        size_t eq = pair.find('=');
        if (eq != std::string::npos) g_script[pair.substr(0, eq)] = pair.substr(eq + 1);
        start = semi + 1;
    }
    g_readOnly = ParseList(g_script["readonly"]);
    g_exist = ParseList(g_script["exist"]);
    g_updateFalse = ParseList(g_script["update_false"]);
    g_errorFalse = ParseList(g_script["error_false"]);
    g_readOnlyNext = g_existNext = 0;
    g_updates = g_errors = g_questions = 0;
    g_log.clear();
}

int Number(const char* key, int fallback) {
    auto it = g_script.find(key);
    if (it == g_script.end() || it->second.empty()) return fallback;
    return atoi(it->second.c_str());
}

const char* Text(const char* s) { return s ? s : "(null)"; }

bool Contains(const std::vector<int>& list, int value) {
    for (int v : list)
        if (v == value) return true;
    return false;
}

void Log(const std::string& line) {
    g_log += line;
    g_log += "\n";
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("TV_SCRIPTED_STATUS_LOG", path, sizeof path);
    if (n > 0 && n < sizeof path) {
        FILE* f = fopen(path, "ab");
        if (f) {
            fprintf(f, "%s\n", line.c_str());
            fclose(f);
        }
    }
}

std::string RecordLine(const char* call, const StatusRecord* r) {
    char buf[4096];
    snprintf(buf, sizeof buf, "%s|kind=%d|cur=%u|total=%u|anim=%u|file=%s|sub=%s|op=%s|done=%s|detail=%s",
             call, r->displayKind, r->current, r->total, r->showAnimation, r->fileName,
             r->subFolder, Text(r->operationText), Text(r->doneText), r->detail);
    return buf;
}

void ReadEnvironmentScript() {
    char script[4096];
    DWORD n = GetEnvironmentVariableA("TV_SCRIPTED_STATUS", script, sizeof script);
    ApplyScript(n > 0 && n < sizeof script ? script : "");
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return DefWindowProcA(hwnd, msg, wp, lp);
}

// The script's hold: the question waits until the test lets it go on.
void HoldAtQuestion() {
    const std::string& name = g_script["hold"];
    ++g_questions;
    int only = Number("hold_at", 0);
    if (name.empty() || (only && only != g_questions)) return;
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, (name + "-held").c_str());
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, (name + "-go").c_str());
    if (held) SetEvent(held);
    bool released = go && WaitForSingleObject(go, 60000) == WAIT_OBJECT_0;
    if (!released) Log("Hold|-> timeout");
    if (held) CloseHandle(held);
    if (go) CloseHandle(go);
}

uint8_t NextAnswer(std::vector<int>& list, size_t& next, const char* defaultKey) {
    if (next < list.size()) return static_cast<uint8_t>(list[next++]);
    return static_cast<uint8_t>(Number(defaultKey, AnswerCancel));
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_instance = instance;
        ReadEnvironmentScript();
    } else if (reason == DLL_PROCESS_DETACH) {
        if (g_classRegistered) UnregisterClassA(QX_PROGRESS_CLASS, g_instance);
    }
    return TRUE;
}

__declspec(dllexport) void WINAPI ScriptedStatusReset(const char* script) {
    if (script)
        ApplyScript(script);
    else
        ReadEnvironmentScript();
}

__declspec(dllexport) const char* WINAPI ScriptedStatusLog() { return g_log.c_str(); }

__declspec(dllexport) HWND WINAPI ScriptedStatusWindow() { return g_window; }

__declspec(dllexport) bool WINAPI OpenQXStatus(QXStatusHandle* out) {
    bool ok = Number("open", 1) != 0;
    if (ok && Number("window", 0)) {
        if (!g_classRegistered) {
            WNDCLASSA wc = {};
            wc.lpfnWndProc = WindowProc;
            wc.hInstance = g_instance;
            wc.lpszClassName = QX_PROGRESS_CLASS;
            g_classRegistered = RegisterClassA(&wc) != 0;
        }
        g_window = CreateWindowA(QX_PROGRESS_CLASS, "scripted", WS_POPUP, 0, 0, 10, 10, nullptr,
                                 nullptr, g_instance, nullptr);
    }
    if (ok && out) *out = &g_handleTag;
    Log(ok ? "Open|-> 1" : "Open|-> 0");
    return ok;
}

__declspec(dllexport) bool WINAPI UpdateQXStatus(QXStatusHandle handle, StatusRecord* record) {
    if (!handle || !record) {
        Log("Update|(no handle)|-> 0");
        return false;
    }
    ++g_updates;
    bool ok = !Contains(g_updateFalse, g_updates);
    if (record->displayKind == StatusError) {
        ++g_errors;
        if (Contains(g_errorFalse, g_errors)) ok = false;
    }
    Log(RecordLine("Update", record) + (ok ? "|-> 1" : "|-> 0"));
    return ok;
}

__declspec(dllexport) bool WINAPI CloseQXStatus(QXStatusHandle handle) {
    bool ok = handle != nullptr && Number("close", 1) != 0;
    if (ok && g_window) {
        DestroyWindow(g_window);
        g_window = nullptr;
    }
    Log(ok ? "Close|-> 1" : "Close|-> 0");
    return ok;
}

__declspec(dllexport) uint8_t WINAPI QXAskYesNoAllReadOnly(QXStatusHandle handle, StatusRecord* record) {
    HoldAtQuestion();
    uint8_t answer = handle && record ? NextAnswer(g_readOnly, g_readOnlyNext, "readonly_default")
                                      : static_cast<uint8_t>(AnswerCancel);
    char buf[1024];
    snprintf(buf, sizeof buf, "AskReadOnly|file=%s|done=%s|-> %d", record ? record->fileName : "",
             record ? Text(record->doneText) : "", answer);
    Log(buf);
    return answer;
}

__declspec(dllexport) uint8_t WINAPI QXAskYesNoAllFileExist(QXStatusHandle handle, StatusRecord* record) {
    HoldAtQuestion();
    uint8_t answer = handle && record ? NextAnswer(g_exist, g_existNext, "exist_default")
                                      : static_cast<uint8_t>(AnswerCancel);
    char buf[1024];
    snprintf(buf, sizeof buf, "AskFileExist|file=%s|done=%s|-> %d", record ? record->fileName : "",
             record ? Text(record->doneText) : "", answer);
    Log(buf);
    return answer;
}

static bool AnswerPath(const char* call, const char* key, QXStatusHandle handle, StatusRecord* record) {
    std::string proposed = record ? record->path : "";
    const std::string& chosen = g_script[key];
    bool ok = handle && record && !chosen.empty() && chosen.size() < sizeof record->path;
    if (ok) {
        memset(record->path, 0, sizeof record->path);
        memcpy(record->path, chosen.c_str(), chosen.size());
    }
    Log(std::string(call) + "|path=" + proposed + (ok ? "|-> 1|path=" + chosen : "|-> 0"));
    return ok;
}

__declspec(dllexport) bool WINAPI QXAskFileSaveAs(QXStatusHandle handle, StatusRecord* record) {
    return AnswerPath("AskFileSaveAs", "saveas", handle, record);
}

__declspec(dllexport) bool WINAPI QXAskSelectDir(QXStatusHandle handle, StatusRecord* record) {
    return AnswerPath("AskSelectDir", "selectdir", handle, record);
}

#ifndef SCRIPTED_STATUS_WITHOUT_SIGINFO
__declspec(dllexport) bool WINAPI ShowSigInfo(QXStatusHandle handle) {
    bool ok = handle != nullptr && Number("siginfo", 1) != 0;
    Log(ok ? "ShowSigInfo|-> 1" : "ShowSigInfo|-> 0");
    return ok;
}
#endif

}  // extern "C"
