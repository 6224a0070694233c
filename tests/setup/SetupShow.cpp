// Not a test: shows the settings program's pages and its About window for
// scripts/screenshot-setup.sh.
//   setup_show.exe certificates|settings|options|about READY DONE
// Writes the file READY once the window is up and ends when DONE exists.
#include <windows.h>

#include <cstring>
#include <functional>
#include <string>

#include "QXDlgOkHilfe.h"
#include "TVSetup.h"

namespace {

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

void Touch(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    std::string what = argv[1];
    const char* ready = argv[2];
    const char* done = argv[3];
    TTVSetupForm form(nullptr);
    TVSetupForm = &form;
    TQXDlgOkHilfe dialog(form.Handle());
    QXDlgOkHilfe = &dialog;
    form.ShowModeless();
    // Waits for the start-up, shows what was asked for, then watches for DONE
    // (the timers also run inside the About window's loop).
    std::function<void()> watch = [&] {
        if (Exists(done)) ExitProcess(0);
        form.StartOneShotTimer(11, 100, watch);
    };
    std::function<void()> show = [&] {
        if (!form.StartedUp()) {
            form.StartOneShotTimer(10, 50, show);
            return;
        }
        int page = what == "settings" ? kPageSettings : what == "options" ? kPageOptions
                                                                          : kPageCertificates;
        form.SelectPage(IDC_SETUP_PAGES, page);
        UpdateWindow(form.Handle());
        form.StartOneShotTimer(12, 300, [&] {
            Touch(ready);
            watch();
        });
        if (what == "about") form.ShowAbout();
    };
    form.StartOneShotTimer(10, 50, show);
    form.RunMessageLoop();
    return 0;
}
