// tvcrypte: the transfer program. The shell starts it for ".sgn", ".crp" and
// ".sme" files; it may also be started with a switch:
//
//   tvcrypte file [ /SGN | /CRP | /SME recipient ]
//
// It shows no window of its own: it splits its command line, runs one job and
// ends.
#include <windows.h>

#include "CmdLine.h"
#include "QXBoundary.h"
#include "QXCryptE.h"
#include "QXForms.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    // Whatever escapes the job is shown under the program's title; the
    // result is 0 all the same.
    return qx::AtBoundary(
        0,
        [commandLine] {
            static TQXArgTable arguments;
            char programPath[256] = {0};
            GetModuleFileNameA(nullptr, programPath, sizeof(programPath) - 1);
            SplitCommandLine(commandLine, programPath, &arguments);

            TQXCryptEForm form(&arguments);
            if (form.Create()) form.Run();
            return 0;
        },
        [](const char* what) noexcept { QXShowExceptionBox(QX_TRANSFER_TITLE, what); });
}
