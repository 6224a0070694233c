// tvcrypte: the transfer program. The shell starts it for ".sgn", ".crp" and
// ".sme" files; it may also be started with a switch:
//
//   tvcrypte file [ /SGN | /CRP | /SME recipient ]
//
// It shows no window of its own: it splits its command line, runs one job and
// ends.
#include <windows.h>

#include <exception>

#include "CmdLine.h"
#include "QXCryptE.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    try {
        static TQXArgTable arguments;
        char programPath[256] = {0};
        GetModuleFileNameA(nullptr, programPath, sizeof(programPath) - 1);
        SplitCommandLine(commandLine, programPath, &arguments);

        TQXCryptEForm form(&arguments);
        if (!form.Create()) return 0;
        form.Run();
    } catch (const std::exception& error) {
        MessageBoxA(nullptr, error.what(), QX_TRANSFER_TITLE, MB_ICONERROR);
    }
    return 0;
}
