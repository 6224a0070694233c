// TAboutTarvistoForm: the About window with the program's name and version,
// the author line and two links (the web page and a mail address).
#pragma once

#include "QXForms.h"
#include "TVSetupIds.h"

#define TV_ABOUT_AUTHOR "Tarvisto is written and looked after by the Tarvisto developers."
#define TV_ABOUT_HTTP "https://tarvisto.example/"
#define TV_ABOUT_MAIL "feedback@tarvisto.example"

class TAboutTarvistoForm : public QXForm {
public:
    // owner: the window the About window belongs to (it is centred over it).
    TAboutTarvistoForm(HWND owner, const char* caption);
    bool Created() const { return Handle() != nullptr; }

    void SThttpClick();
    void STMailClick();
    void BWeiterClick() { EndModal(IDOK); }
    void BBeendenClick() { EndModal(IDOK); }

protected:
    void OnCommand(int id) override;
    void OnEscape() override { EndModal(IDCANCEL); }
};
