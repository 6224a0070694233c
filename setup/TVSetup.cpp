// The main window of the settings program: its design, the start-up and the
// members that the window's pages share.
#include "TVSetup.h"

#include <cstring>
#include <string>

#include "CryptAPI.h"
#include "QXDlgOkHilfe.h"
#include "QXReg.h"
#include "QXTools.h"
#include "TVAbout.h"
#include "TVArtwork.h"

TTVSetupForm* TVSetupForm = nullptr;
TQXDlgOkHilfe* QXDlgOkHilfe = nullptr;

namespace {

constexpr int kClientWidth = 710;
constexpr int kClientHeight = 282;

}  // namespace

std::string WithLineBreaks(const char* text) {
    std::string out;
    for (const char* c = text; *c; ++c) {
        if (*c == '\n' && (c == text || c[-1] != '\r')) out += '\r';
        out += *c;
    }
    return out;
}

bool ProgramFolder(char* folder) {
    if (!folder) return false;
    folder[0] = '\0';
    char module[256];
    DWORD length = GetModuleFileNameA(nullptr, module, sizeof(module));
    // A path that fills the buffer was cut.
    if (length == 0 || length >= sizeof(module))
        return QXReportCode(false, "TVSetup", 120, "The program's folder could not be determined!",
                            ERROR_FILENAME_EXCED_RANGE);
    if (!SplitPath(module, folder, nullptr, nullptr)) return false;
    StripTrailingBackslash(folder);
    return true;
}

bool ProgramFile(const char* name, char* path) {
    if (!name || !path) return false;
    path[0] = '\0';
    char folder[256];
    if (!ProgramFolder(folder)) return false;
    char joined[600];
    FormatText(joined, sizeof(joined), "%s\\%s", folder, name);
    if (!CopyText(path, 256, joined))
        return QXReportCode(false, "TVSetup", 130, "The program's path is too long!",
                            ERROR_FILENAME_EXCED_RANGE);
    return true;
}

bool HelpPageAddress(const char* page, const char* anchor, char* address) {
    if (!page || !anchor || !address) return false;
    address[0] = '\0';
    char folder[256];
    if (!ProgramFolder(folder)) return false;
    if (!BuildHelpAddress(folder, page, anchor, address))
        return QXReportCode(false, "TVSetup", 140, "The address of the help page is too long!",
                            ERROR_FILENAME_EXCED_RANGE);
    return true;
}

// ---------------------------------------------------------------------------

TTVSetupForm::TTVSetupForm(HWND owner) {
    CryptHelper = std::make_unique<TQXCrypt>();
    NoOwnCert = false;
    ClearLastError();
    firstRun_ = IsFirstTime();
    images_ = CreateSetupImages();
    if (!Create("TTVSetupForm", false, QX_PRODUCT_VERSION " - Setup", kClientWidth, kClientHeight, true,
                owner))
        return;
    CreateControls();
    // Both timers are on in the design.
    StartOneShotTimer(kDoStartUpTimer, kSetupTimerMs, [this] { DoStartUpTimerTimer(); });
    StartOneShotTimer(kDoShowAboutTimer, kSetupTimerMs, [this] { DoShowAboutTimerTimer(); });
}

TTVSetupForm::~TTVSetupForm() {
    CryptHelper.reset();
    Destroy();
}

void TTVSetupForm::CreateControls() {
    // The design's texts are German; InitControls lays the English ones over them.
    AddPageControl(IDC_SETUP_PAGES, 0, 0, kClientWidth, 250, images_.get());
    AddPage(IDC_SETUP_PAGES, "&Zertifikatsdatenbank", 6);
    AddPage(IDC_SETUP_PAGES, "&Einstellungen", 6);
    AddPage(IDC_SETUP_PAGES, "&Optionen", 6);
    auto onPage = [this](int id, int page) { PutOnPage(id, IDC_SETUP_PAGES, page); };
    const int right = 436, bw = 130, bh = 22, second = 572;

    // Below the pages.
    AddButton(IDC_SETUP_FEEDBACK, "&Feedback", 8, 256, 100, bh);
    AddButton(IDC_SETUP_END, "&Beenden", 602, 256, 100, bh);

    // The certificate database.
    AddTreeView(IDC_SETUP_TREE, 8, 34, 420, 186, images_.get(), 19);
    AddEdit(IDC_SETUP_SELECTION, "", 8, 224, 420, 20, true);
    AddPicture(IDC_SETUP_PICTURE_CERTS, right, 34, 266, 60, DrawProductPicture, true);
    AddLine(IDC_SETUP_SEPARATOR, right, 102, 266);
    AddButton(IDC_SETUP_IMPORT, "&Importieren", right, 112, bw, bh);
    AddButton(IDC_SETUP_REMOVE, "&Loeschen", second, 112, bw, bh);
    AddButton(IDC_SETUP_ACTIVATE, "&Deaktivieren", right, 140, bw, bh);
    AddButton(IDC_SETUP_HELP_CERTS, "&Hilfe", second, 140, bw, bh);
    AddButton(IDC_SETUP_SELECT, "", right, 222, 266, bh);
    for (int id : {IDC_SETUP_TREE, IDC_SETUP_SELECTION, IDC_SETUP_PICTURE_CERTS,
                   IDC_SETUP_SEPARATOR, IDC_SETUP_IMPORT, IDC_SETUP_REMOVE, IDC_SETUP_ACTIVATE,
                   IDC_SETUP_HELP_CERTS, IDC_SETUP_SELECT})
        onPage(id, kPageCertificates);

    // The settings.
    AddGroupBox(IDC_SETUP_CRYPT_GROUP, "Verschluesselung", 8, 34, 420, 96);
    AddCheckBox(IDC_SETUP_DELETE_SOURCE, "Originaldateien loeschen", 20, 58, 400, 20);
    AddCheckBox(IDC_SETUP_DELETE_SECURELY, "Originaldateien sicher loeschen", 20, 92, 400, 20);
    AddGroupBox(IDC_SETUP_ZIP_GROUP, "ZIP", 8, 138, 420, 100);
    AddCheckBox(IDC_SETUP_ZIP, "Dateien automatisch packen", 20, 162, 400, 20);
    AddCheckBox(IDC_SETUP_UNZIP, "Dateien automatisch entpacken", 20, 198, 400, 20);
    AddPicture(IDC_SETUP_PICTURE_SETTINGS, right, 34, 266, 60, DrawProductPicture, true);
    AddButton(IDC_SETUP_SAVE_SETTINGS, "&Speichern", right, 112, bw, bh);
    AddButton(IDC_SETUP_DEFAULT_SETTINGS, "&Standard", second, 112, bw, bh);
    AddButton(IDC_SETUP_HELP_SETTINGS, "&Hilfe", second, 140, bw, bh);
    for (int id : {IDC_SETUP_CRYPT_GROUP, IDC_SETUP_DELETE_SOURCE, IDC_SETUP_DELETE_SECURELY,
                   IDC_SETUP_ZIP_GROUP, IDC_SETUP_ZIP, IDC_SETUP_UNZIP,
                   IDC_SETUP_PICTURE_SETTINGS, IDC_SETUP_SAVE_SETTINGS,
                   IDC_SETUP_DEFAULT_SETTINGS, IDC_SETUP_HELP_SETTINGS})
        onPage(id, kPageSettings);

    // The options.
    AddGroupBox(IDC_SETUP_OPTION_GROUP, "Optionen", 8, 34, 420, 208);
    AddCheckBox(IDC_SETUP_ADD_PUBLIC, "Fremde Zertifikate speichern", 20, 54, 400, 20);
    AddRadioButton(IDC_SETUP_OPEN_ONLY, "Dateien nur oeffnen", 20, 84, 400, 20, 1);
    AddRadioButton(IDC_SETUP_OPEN_AND_SAVE, "Dateien oeffnen und speichern", 20, 114, 400, 20, 1);
    AddCheckBox(IDC_SETUP_SHOW_PKCS12, "PKCS12 - Zertifikate zeigen", 20, 144, 400, 20);
    AddCheckBox(IDC_SETUP_SME_MAIL, "SME per Mail senden", 20, 174, 400, 20);
    AddCheckBox(IDC_SETUP_ASK_SME_MAIL, "Vor dem Senden fragen", 40, 204, 380, 20);
    AddPicture(IDC_SETUP_PICTURE_OPTIONS, right, 34, 266, 60, DrawProductPicture, true);
    AddButton(IDC_SETUP_SAVE_OPTIONS, "&Speichern", right, 112, bw, bh);
    AddButton(IDC_SETUP_DEFAULT_OPTIONS, "&Standard", second, 112, bw, bh);
    AddButton(IDC_SETUP_HELP_OPTIONS, "&Hilfe", second, 140, bw, bh);
    for (int id : {IDC_SETUP_OPTION_GROUP, IDC_SETUP_ADD_PUBLIC, IDC_SETUP_OPEN_ONLY,
                   IDC_SETUP_OPEN_AND_SAVE, IDC_SETUP_SHOW_PKCS12, IDC_SETUP_SME_MAIL,
                   IDC_SETUP_ASK_SME_MAIL, IDC_SETUP_PICTURE_OPTIONS, IDC_SETUP_SAVE_OPTIONS,
                   IDC_SETUP_DEFAULT_OPTIONS, IDC_SETUP_HELP_OPTIONS})
        onPage(id, kPageOptions);

    // The tree's popup and its shortcuts.
    CertTreeViewPopUp.Add(IDM_SETUP_REMOVE, "&Entfernen", "Ctrl+L");
    CertTreeViewPopUp.Add(IDM_SETUP_SELECT, "&Uebernehmen", "Ctrl+S");
    CertTreeViewPopUp.Add(IDM_SETUP_IMPORT, "&Importieren", "Ctrl+I", 9);
    CertTreeViewPopUp.Add(IDM_SETUP_UPDATE, "&Aktualisieren", "Ctrl+A");
    AttachPopup(IDC_SETUP_TREE, &CertTreeViewPopUp, images_.get());
    // The shortcuts act on the tree: only while it has the focus (and, as
    // every menu command, only while their entry is enabled).
    AddAccelerator(IDM_SETUP_REMOVE, 'L', true, IDC_SETUP_TREE);
    AddAccelerator(IDM_SETUP_SELECT, 'S', true, IDC_SETUP_TREE);
    AddAccelerator(IDM_SETUP_IMPORT, 'I', true, IDC_SETUP_TREE);
    AddAccelerator(IDM_SETUP_UPDATE, 'A', true, IDC_SETUP_TREE);
}

// --- start-up ---------------------------------------------------------------

void TTVSetupForm::DoStartUpTimerTimer() {
    StopTimer(kDoStartUpTimer);
    StartUp();
    startedUp_ = true;
}

void TTVSetupForm::DoShowAboutTimerTimer() {
    // Never a second About window or import, and nothing inside the
    // start-up's, an About window's or an import's modal loop: the event
    // comes back until they are over.
    if (!startedUp_ || AboutForm || importOpen_) {
        StartOneShotTimer(kDoShowAboutTimer, kSetupTimerMs, [this] { DoShowAboutTimerTimer(); });
        return;
    }
    StopTimer(kDoShowAboutTimer);
    if (!firstRun_) ShowAbout();
    if (NoOwnCert) ImportCertificate();
}

bool TTVSetupForm::StartUp() {
    InitControls();
    return true;
}

bool TTVSetupForm::InitControls() {
    // 1. Defaults.
    SetChecked(IDC_SETUP_DELETE_SOURCE, true);
    SetChecked(IDC_SETUP_ADD_PUBLIC, true);
    SetChecked(IDC_SETUP_OPEN_ONLY, false);
    SetChecked(IDC_SETUP_OPEN_AND_SAVE, true);
    SetChecked(IDC_SETUP_ZIP, true);
    SetChecked(IDC_SETUP_UNZIP, true);
    SetChecked(IDC_SETUP_SHOW_PKCS12, false);
    SetChecked(IDC_SETUP_SME_MAIL, true);
    SetChecked(IDC_SETUP_ASK_SME_MAIL, false);
    SetChecked(IDC_SETUP_DELETE_SECURELY, false);
    // 2. The stored settings over them.
    LoadSettings();
    // 3. The pictures' hints.
    for (int id : {IDC_SETUP_PICTURE_CERTS, IDC_SETUP_PICTURE_SETTINGS, IDC_SETUP_PICTURE_OPTIONS}) {
        SetHint(id, TV_ABOUT_CAPTION);
        ShowHint(id, true);
    }
    // 4. Captions of the pages, group boxes and buttons.
    SetPageText(IDC_SETUP_PAGES, kPageCertificates, "&Certificates Database");
    SetPageText(IDC_SETUP_PAGES, kPageSettings, "&Settings");
    SetPageText(IDC_SETUP_PAGES, kPageOptions, "&Options");
    SetControlText(IDC_SETUP_CRYPT_GROUP, "Crypt - Settings");
    SetControlText(IDC_SETUP_ZIP_GROUP, "ZIP - Settings");
    SetControlText(IDC_SETUP_OPTION_GROUP, "User - Option");
    for (int id : {IDC_SETUP_HELP_CERTS, IDC_SETUP_HELP_SETTINGS, IDC_SETUP_HELP_OPTIONS})
        SetControlText(id, "&Help");
    SetControlText(IDC_SETUP_IMPORT, "&Import");
    SetControlText(IDC_SETUP_REMOVE, "&Remove");
    SetControlText(IDC_SETUP_ACTIVATE, "&Activate");
    SetControlText(IDC_SETUP_SAVE_SETTINGS, "&Save");
    SetControlText(IDC_SETUP_SAVE_OPTIONS, "&Save");
    SetControlText(IDC_SETUP_END, "&End");
    SetControlText(IDC_SETUP_DEFAULT_SETTINGS, "&Default");
    SetControlText(IDC_SETUP_DEFAULT_OPTIONS, "&Default");
    // 5. Hints of the buttons.
    for (int id : {IDC_SETUP_HELP_CERTS, IDC_SETUP_HELP_SETTINGS, IDC_SETUP_HELP_OPTIONS})
        SetHint(id, "Open help");
    SetHint(IDC_SETUP_IMPORT, "Import certificate");
    SetHint(IDC_SETUP_REMOVE, "Remove certificate from database (attention)");
    SetHint(IDC_SETUP_ACTIVATE, "Deactivate Tarvisto");
    SetHint(IDC_SETUP_SAVE_SETTINGS, "Save select settings");
    SetHint(IDC_SETUP_SAVE_OPTIONS, "Save select settings");
    SetHint(IDC_SETUP_END, "Close Tarvisto setup");
    SetHint(IDC_SETUP_DEFAULT_SETTINGS, "Set default values");
    SetHint(IDC_SETUP_DEFAULT_OPTIONS, "Set default values");
    // 6. Enabled states, hints shown on the eleven buttons.
    const int on[] = {IDC_SETUP_HELP_CERTS,       IDC_SETUP_HELP_SETTINGS, IDC_SETUP_HELP_OPTIONS,
                      IDC_SETUP_IMPORT,           IDC_SETUP_ACTIVATE,      IDC_SETUP_END,
                      IDC_SETUP_DEFAULT_SETTINGS, IDC_SETUP_DEFAULT_OPTIONS};
    const int off[] = {IDC_SETUP_REMOVE, IDC_SETUP_SAVE_SETTINGS, IDC_SETUP_SAVE_OPTIONS};
    for (int id : on) {
        EnableControl(id, true);
        ShowHint(id, true);
    }
    for (int id : off) {
        EnableControl(id, false);
        ShowHint(id, true);
    }
    // 7. Captions of the switches.
    SetControlText(IDC_SETUP_DELETE_SOURCE, "Delete original files (own certificate)");
    SetControlText(IDC_SETUP_ADD_PUBLIC, "Save other certificates automatically");
    SetControlText(IDC_SETUP_OPEN_ONLY,
                   "Open files without permanent verification and / or encryption");
    SetControlText(IDC_SETUP_OPEN_AND_SAVE, "Open files and verify and / or encrypt");
    SetControlText(IDC_SETUP_ZIP, "Zip files automatically (sign, encrypt and pack SME)");
    SetControlText(IDC_SETUP_UNZIP, "Unzip files automatically (verify, decrypt and unpack SME)");
    SetControlText(IDC_SETUP_SHOW_PKCS12, "Show PKCS12 - Certificates under 'SME for...'");
    SetControlText(IDC_SETUP_DELETE_SECURELY, "Delete original files securely (needs more time)");
    SetControlText(IDC_SETUP_SME_MAIL, "Send SME automatically via mail");
    SetControlText(IDC_SETUP_ASK_SME_MAIL, "Ask before send SME via mail");
    // 8. The popup menu.
    CertTreeViewPopUp.SetText(IDM_SETUP_REMOVE, "&Remove");
    CertTreeViewPopUp.Enable(IDM_SETUP_REMOVE, false);
    CertTreeViewPopUp.SetText(IDM_SETUP_SELECT, "&Save");
    CertTreeViewPopUp.Enable(IDM_SETUP_SELECT, false);
    CertTreeViewPopUp.SetText(IDM_SETUP_IMPORT, "&Import");
    CertTreeViewPopUp.Enable(IDM_SETUP_IMPORT, true);
    CertTreeViewPopUp.SetText(IDM_SETUP_UPDATE, "&Update");
    CertTreeViewPopUp.Enable(IDM_SETUP_UPDATE, true);
    // 9. The activation button follows the selection (none yet).
    EnableActivateButton(false);
    // 10. The accept button and the selection text.
    ShowControl(IDC_SETUP_SELECT, false);
    EnableControl(IDC_SETUP_SELECT, false);
    SetControlText(IDC_SETUP_SELECT, "");
    ShowControl(IDC_SETUP_SELECTION, false);
    SetControlText(IDC_SETUP_SELECTION, "Please select and accept!");
    // 11. The user.
    if (!GetCurrentUserName(UserName)) CopyText(UserName, sizeof(UserName), TV_DEFAULT_USER);
    // 12. The caption.
    char caption[256];
    FormatText(caption, sizeof(caption), "%s - %s", TV_SETUP_CAPTION, UserName);
    SetCaption(caption);
    // 13. The activation state.
    bool registered = ShowActivationState();
    EnableControl(IDC_SETUP_ACTIVATE,
                  registered || IsWindowEnabled(Control(IDC_SETUP_SELECT)) != FALSE);
    // 14. The certificate tree.
    return RefreshCertTree();
}

// --- activation and the end -------------------------------------------------

bool TTVSetupForm::CloseSetup() {
    char subject[256];
    if (ReadOwnCertificate(subject)) ExitProcess(0);
    uint8_t answer = AnswerCancel;
    if (QXDlgOkHilfe)
        answer = QXDlgOkHilfe->AskYesNoCancel(
            TV_WARNING_CAPTION,
            WithLineBreaks("You didn't select any own certificate!\n"
                           "Do you really want to close Tarvisto?")
                .c_str());
    if (answer == AnswerNo || answer == AnswerCancel) return true;
    ExitProcess(0);
    return false;
}

void TTVSetupForm::FormClose() {
    // CloseSetup ends the process or returns: then the window stays open.
    CloseSetup();
}

// --- help -------------------------------------------------------------------

void TTVSetupForm::BHilfeZertifikatsdatenbankClick() {
    OpenHelpPage("Hilfe\\tvparameter.htm", "#subEigeneZertifikate");
}

void TTVSetupForm::BHilfeEinstellungenClick() {
    OpenHelpPage("Hilfe\\tvparameter.htm", "#subEinstellungen");
}

void TTVSetupForm::BHilfeOptionenClick() {
    OpenHelpPage("Hilfe\\tvparameter.htm", "#subOptionen");
}

bool TTVSetupForm::OpenHelpPage(const char* page, const char* anchor) {
    if (!page || !anchor) return false;
    char address[256];
    if (!HelpPageAddress(page, anchor, address)) return false;
    return ShellExecuteWait(Handle(), address, "open", anchor, false);
}

bool TTVSetupForm::OpenFeedback() { return OpenHelpPage("Hilfe\\feedback.htm", ""); }

// --- events -----------------------------------------------------------------

void TTVSetupForm::OnCommand(int id) {
    switch (id) {
    case IDC_SETUP_END: BBeendenClick(); break;
    case IDC_SETUP_FEEDBACK: BFeedbackClick(); break;
    case IDC_SETUP_HELP_CERTS: BHilfeZertifikatsdatenbankClick(); break;
    case IDC_SETUP_HELP_SETTINGS: BHilfeEinstellungenClick(); break;
    case IDC_SETUP_HELP_OPTIONS: BHilfeOptionenClick(); break;
    case IDC_SETUP_PICTURE_CERTS: TarvistoImageZertifikatsdatenbankClick(); break;
    case IDC_SETUP_PICTURE_SETTINGS:
    case IDC_SETUP_PICTURE_OPTIONS: TarvistoImageEinstellungenClick(); break;
    case IDM_SETUP_UPDATE: PopUpAktualisierenClick(); break;
    case IDC_SETUP_IMPORT: BImportierenClick(); break;
    case IDM_SETUP_IMPORT: PopUpImportierenClick(); break;
    case IDC_SETUP_REMOVE: BLoeschenClick(); break;
    case IDM_SETUP_REMOVE: PopUpLoeschenClick(); break;
    case IDC_SETUP_SELECT: BSelectClick(); break;
    case IDM_SETUP_SELECT: PopUpSelectClick(); break;
    case IDC_SETUP_ACTIVATE: BDeaktivierenClick(); break;
    case IDC_SETUP_SAVE_SETTINGS: BSpeichernEinstellungenClick(); break;
    case IDC_SETUP_DEFAULT_SETTINGS: BDefaultEinstellungenClick(); break;
    case IDC_SETUP_DELETE_SOURCE:
    case IDC_SETUP_DELETE_SECURELY:
    case IDC_SETUP_ZIP:
    case IDC_SETUP_UNZIP: SettingsPageChanged(); break;
    case IDC_SETUP_SAVE_OPTIONS: BSpeichernOptionenClick(); break;
    case IDC_SETUP_DEFAULT_OPTIONS: BDefaultOptionenClick(); break;
    case IDC_SETUP_ADD_PUBLIC:
    case IDC_SETUP_OPEN_ONLY:
    case IDC_SETUP_OPEN_AND_SAVE:
    case IDC_SETUP_SHOW_PKCS12:
    case IDC_SETUP_SME_MAIL:
    case IDC_SETUP_ASK_SME_MAIL: OptionsPageChanged(); break;
    default: break;
    }
}

bool TTVSetupForm::OnMessage(UINT message, WPARAM, LPARAM, LRESULT* result) {
    if (message == WM_DESTROY) {
        // The program's loop ends with its main window.
        if (this == TVSetupForm) PostQuitMessage(0);
        *result = 0;
        return true;
    }
    return false;
}
