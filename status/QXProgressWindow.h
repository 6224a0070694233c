// Finding and raising the progress window of the dialogs library: the job
// object looks for the window its library made, the thread that waits for a
// job raises it, the context-menu handler owns its boxes by it, and the window
// raises itself before a question.
#pragma once

#include <windows.h>

#include <cstring>

#include "StatusRecord.h"  // QX_PROGRESS_CLASS

// The first top-level window of the progress window's class among the given
// thread's own; null when there is none or the thread is 0.
inline HWND FindProgressWindowOfThread(DWORD threadId) {
    if (threadId == 0) return nullptr;
    HWND found = nullptr;
    EnumThreadWindows(
        threadId,
        [](HWND window, LPARAM param) -> BOOL {
            char className[64] = {0};
            if (GetClassNameA(window, className, sizeof className) > 0 &&
                strcmp(className, QX_PROGRESS_CLASS) == 0) {
                *reinterpret_cast<HWND*>(param) = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// The thread's own progress window, else the first one on the desktop (which
// may be another job's); null when there is none.
inline HWND FindProgressWindow(DWORD threadId) {
    HWND window = FindProgressWindowOfThread(threadId);
    return window ? window : FindWindowA(QX_PROGRESS_CLASS, nullptr);
}

// The first progress window of this process on the desktop; null when there
// is none. A window of that class in another process is never taken.
inline HWND FindProgressWindowOfProcess() {
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, QX_PROGRESS_CLASS, nullptr)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId()) return window;
    }
    return nullptr;
}

// Gives the window the focus, activates it, brings it to the foreground and
// to the top, in this order.
inline void RaiseWindow(HWND window) {
    SetFocus(window);
    SetActiveWindow(window);
    SetForegroundWindow(window);
    BringWindowToTop(window);
}
