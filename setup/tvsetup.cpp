// tvsetup: the settings program. It chooses the own certificate and the store
// of other people's certificates, sets the switches the other programs read,
// shows the help pages and the About window.
#include <windows.h>

#include "QXBoundary.h"
#include "QXDlgOkHilfe.h"
#include "QXForms.h"
#include "TVSetup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    QXSetApplicationTitle(TV_SETUP_TITLE);
    qx::AtBoundary(
        false,
        [] {
            TVSetupForm = new TTVSetupForm(nullptr);
            QXDlgOkHilfe = new TQXDlgOkHilfe(TVSetupForm->Handle());
            TVSetupForm->ShowModeless();
            TVSetupForm->RunMessageLoop();
            return true;
        },
        [](const char* what) noexcept { QXShowException(what); });
    delete QXDlgOkHilfe;
    QXDlgOkHilfe = nullptr;
    delete TVSetupForm;
    TVSetupForm = nullptr;
    return 0;
}
