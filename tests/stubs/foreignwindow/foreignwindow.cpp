// A window of the progress window's class in a process of its own, for tests
// of what the job takes as the owner of its message boxes.
//   tv_foreignwindow.exe [milliseconds]
// Shows a small window of class "TQXProgress", brings it to the foreground and
// ends after the given time (default 30000 ms) or when it is closed.
#include <windows.h>

#include <cstdlib>

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wp, LPARAM lp)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wp, lp);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    DWORD ms = commandLine && commandLine[0] ? strtoul(commandLine, nullptr, 10) : 30000;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = "TQXProgress";
    if (!RegisterClassA(&wc)) return 1;
    HWND window = CreateWindowA("TQXProgress", "foreign", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                200, 100, nullptr, nullptr, instance, nullptr);
    if (!window) return 2;
    SetForegroundWindow(window);
    SetTimer(window, 1, ms, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER) DestroyWindow(window);
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
