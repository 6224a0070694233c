// status_show: opens the progress window (and, asked for, one question) of
// tvstatus.dll so that a script can take screenshots of them.
//
// usage: status_show.exe progress|animation|question READY_FILE DONE_FILE
// Writes READY_FILE once the window is on screen, then waits (at most a
// minute) for DONE_FILE before it ends.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "QXDialogIds.h"
#include "QXForms.h"
#include "StatusLibrary.h"
#include "WindowDriver.h"

using namespace tvtest;

namespace {

void Signal(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

void AwaitDone(const char* path) {
    for (int i = 0; i < 600 && GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES; ++i) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(100);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: status_show progress|animation|question READY DONE\n");
        return 2;
    }
    bool question = strcmp(argv[1], "question") == 0;
    bool animation = strcmp(argv[1], "animation") == 0;
    ClipSetting clip(BinDir() + "\\secure.avi");
    StatusLibrary lib;
    if (!lib.Load()) return 1;
    QXStatusHandle handle = nullptr;
    if (!lib.open(&handle)) return 1;
    StatusRecord record = MakeRecord(StatusLine, "", "", 0, 0, "encrypting data... please wait!");
    record.showAnimation = animation ? 1 : 0;
    lib.update(handle, &record);
    if (animation) record = MakeRecord(StatusLine, "", "", 0, 0, "initializing... please wait!");
    record.showAnimation = animation ? 1 : 0;
    if (animation) lib.update(handle, &record);
    if (!animation) {
        record = MakeRecord(StatusFileProgress, "report.txt", "work", 3, 12);
        lib.update(handle, &record);
    }
    if (!question) {
        Sleep(500);
        Signal(argv[2]);
        AwaitDone(argv[3]);
    } else {
        std::thread driver([&] {
            HWND dialog = WaitForClassPrefix("TDYesNoAll", 30000);
            Sleep(500);
            Signal(argv[2]);
            AwaitDone(argv[3]);
            if (dialog) ClickChild(dialog, IDC_YESNOALL_CANCEL);
        });
        record.doneText = "encrypted";
        lib.askReadOnly(handle, &record);
        driver.join();
    }
    lib.close(handle);
    return 0;
}
