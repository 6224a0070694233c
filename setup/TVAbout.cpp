// The About window and the main window's member that shows it.
#include "TVAbout.h"

#include <shellapi.h>

#include <memory>

#include "QXTools.h"
#include "TVArtwork.h"
#include "TVSetup.h"

namespace {

const COLORREF kNavy = RGB(0, 0, 128);
const COLORREF kSilver = RGB(192, 192, 192);

}  // namespace

TAboutTarvistoForm::TAboutTarvistoForm(HWND owner, const char* caption) {
    // A fixed dialog of 617 x 257 on silver, centred over its owner.
    if (!Create("TAboutTarvistoForm", false, "Info", 617, 257, true, owner)) return;
    AddLabel(IDC_ABOUT_BY, "", 7, 112, 600, 20, CLR_DEFAULT, 13, "Arial", true);
    AddLink(IDC_ABOUT_MAIL, "", 93, 160, 500, 20, kNavy, 13, "Arial", false);
    AddLink(IDC_ABOUT_HTTP, "", 93, 184, 500, 20, kNavy, 13, "Arial", false);
    AddLabel(IDC_ABOUT_TITLE, "", 7, 80, 600, 25, kNavy, 19, "Arial", true);
    AddLabel(IDC_ABOUT_VERSION, "", 7, 136, 600, 20, CLR_DEFAULT, 13, "Arial", true);
    AddLabel(IDC_ABOUT_MAIL_LABEL, "EMail:", 7, 160, 80, 20, CLR_DEFAULT, 13, "Arial", true);
    AddLabel(IDC_ABOUT_HOMEPAGE_LABEL, "Homepage:", 7, 184, 80, 20, CLR_DEFAULT, 13, "Arial",
             true);
    AddPanel(IDC_ABOUT_PANEL, 0, 0, 617, 257, kSilver);
    AddButton(IDC_ABOUT_GO_ON, "&Weiter", 512, 224, 100, 20, true);
    AddLine(IDC_ABOUT_SEPARATOR, 3, 216, 610);
    AddPicture(IDC_ABOUT_BANNER, 8, 8, 599, 65, DrawAboutBanner, false);

    SetCaption(caption);
    SetControlText(IDC_ABOUT_TITLE, TV_ABOUT_CAPTION);
    SetControlText(IDC_ABOUT_BY, TV_ABOUT_AUTHOR);
    SetControlText(IDC_ABOUT_VERSION, TV_ABOUT_CAPTION);
    SetControlText(IDC_ABOUT_HTTP, TV_ABOUT_HTTP);
    SetControlText(IDC_ABOUT_MAIL, TV_ABOUT_MAIL);
    SetControlText(IDC_ABOUT_GO_ON, "&Go On");
    CenterOver(owner);
}

void TAboutTarvistoForm::SThttpClick() {
    char address[256] = "";
    GetWindowTextA(Control(IDC_ABOUT_HTTP), address, sizeof(address));
    ShellExecuteA(Handle(), "open", address, nullptr, nullptr, SW_SHOW);
}

void TAboutTarvistoForm::STMailClick() {
    char mail[256] = "";
    GetWindowTextA(Control(IDC_ABOUT_MAIL), mail, sizeof(mail));
    char composed[300];
    FormatText(composed, sizeof(composed), "mailto:%s", mail);
    char address[256];
    if (!CopyText(address, sizeof(address), composed)) return;  // refused, not cut
    ShellExecuteA(Handle(), "open", address, nullptr, nullptr, SW_SHOW);
}

void TAboutTarvistoForm::OnCommand(int id) {
    switch (id) {
    case IDC_ABOUT_GO_ON: BWeiterClick(); break;
    case IDC_ABOUT_HTTP: SThttpClick(); break;
    case IDC_ABOUT_MAIL: STMailClick(); break;
    default: break;
    }
}

bool TTVSetupForm::ShowAbout() {
    // One About window at a time: a click that arrives while one is shown
    // (inside its modal loop) opens no second one.
    if (AboutForm) return false;
    auto about = std::make_unique<TAboutTarvistoForm>(Handle(), TV_ABOUT_CAPTION);
    AboutForm = about.get();
    bool created = about->Created();
    if (created) about->ShowModal();
    AboutForm = nullptr;
    return created;
}
