// tv_canary: a window program that stands for the user's other programs in
// the log-off test. It shows a window captioned "Tarvisto test canary" and,
// when the session ends, writes the end-of-session message it got into the
// file named by its argument.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string g_marker;

void Mark(const char* text) {
    HANDLE file = CreateFileA(g_marker.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
}

LRESULT CALLBACK CanaryProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_QUERYENDSESSION:
        Mark("query|");
        return TRUE;
    case WM_ENDSESSION:
        if (wParam) Mark("end|");
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
    g_marker = arguments ? arguments : "";
    if (!g_marker.empty() && g_marker.front() == '"') g_marker = g_marker.substr(1);
    if (!g_marker.empty() && g_marker.back() == '"') g_marker.pop_back();
    if (g_marker.empty()) return 2;
    WNDCLASSA cls = {};
    cls.lpfnWndProc = CanaryProc;
    cls.hInstance = instance;
    cls.lpszClassName = "TarvistoTestCanary";
    if (!RegisterClassA(&cls)) return 3;
    HWND window = CreateWindowA("TarvistoTestCanary", "Tarvisto test canary", WS_OVERLAPPEDWINDOW,
                                10, 10, 200, 100, nullptr, nullptr, instance, nullptr);
    if (!window) return 4;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
