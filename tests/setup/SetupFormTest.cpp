// The settings program's main window in this process: what the start-up
// shows, how the switches are loaded, saved and reset, and the help pages.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "QXForms.h"
#include "QXTools.h"
#include "RegistryFixture.h"
#include "SetupFixture.h"
#include "TVSetup.h"
#include "TestFiles.h"
#include "TestProcess.h"
#include "OwnWindows.h"
#include "WindowDriver.h"
#include "TestErrors.h"

using namespace tvtest;
using namespace tvsetuptest;

namespace {

struct SwitchRow {
    int id;
    const char* value;
    const char* caption;
    bool byDefault;
};
const SwitchRow kSwitchRows[10] = {
    {IDC_SETUP_DELETE_SOURCE, "loeschequelldatei", "Delete original files (own certificate)", true},
    {IDC_SETUP_ADD_PUBLIC, "addpubliczert", "Save other certificates automatically", true},
    {IDC_SETUP_OPEN_ONLY, "openfilesonly",
     "Open files without permanent verification and / or encryption", false},
    {IDC_SETUP_OPEN_AND_SAVE, "openfilessave", "Open files and verify and / or encrypt", true},
    {IDC_SETUP_ZIP, "zipfile", "Zip files automatically (sign, encrypt and pack SME)", true},
    {IDC_SETUP_UNZIP, "unzipfile", "Unzip files automatically (verify, decrypt and unpack SME)",
     true},
    {IDC_SETUP_SHOW_PKCS12, "showpkcs12", "Show PKCS12 - Certificates under 'SME for...'", false},
    {IDC_SETUP_SME_MAIL, "smeviaemail", "Send SME automatically via mail", true},
    {IDC_SETUP_ASK_SME_MAIL, "asksmeemail", "Ask before send SME via mail", false},
    {IDC_SETUP_DELETE_SECURELY, "delsecure", "Delete original files securely (needs more time)",
     false},
};

class SetupForm : public SetupTest {
protected:
    // The main window, shown, with its start-up run (the first timer).
    // No own certificate: the import is offered, and cancelled here.
    std::unique_ptr<TTVSetupForm> Start() {
        auto form = std::make_unique<TTVSetupForm>(nullptr);
        EXPECT_TRUE(form->Created());
        form->ShowModeless();
        std::atomic<bool> done{false};
        bool started = WhileDriving(
            [&] {
                HWND dialog = nullptr;
                WaitUntil([&] { return done || (dialog = WaitForSaveAsDialog(0)) != nullptr; });
                if (dialog) AnswerDialog(dialog, IDCANCEL);
            },
            [&] {
                bool ok = WaitUntil([&] {
                    PumpOwn();
                    return form->StartedUp() && !form->TimerArmed(kDoShowAboutTimer) &&
                           !form->ImportOpen();
                });
                done = true;
                return ok;
            });
        EXPECT_TRUE(started) << "the start-up did not run";
        return form;
    }
    static std::string Text(TTVSetupForm& form, int id) { return TextOf(form.Control(id)); }
    static bool On(TTVSetupForm& form, int id) { return IsWindowEnabled(form.Control(id)) != 0; }
    static void Click(TTVSetupForm& form, int id) {
        SendMessageA(form.Control(id), BM_CLICK, 0, 0);
    }
    static std::string States(TTVSetupForm& form) {
        std::string states;
        for (const SwitchRow& row : kSwitchRows) states += form.Checked(row.id) ? '1' : '0';
        return states;
    }
};

}  // namespace

TEST_F(SetupForm, StartUpLaysTheEnglishTextsHintsDefaultsAndStatesOverTheDesign) {
    auto form = Start();
    std::string login = LoginName();
    EXPECT_EQ(TextOf(form->Handle()), "Tarvisto 2.11 - Setup! - " + login);
    RECT client;
    GetClientRect(form->Handle(), &client);
    EXPECT_EQ(client.right, 710);
    EXPECT_EQ(client.bottom, 282);

    HWND pages = form->Control(IDC_SETUP_PAGES);
    EXPECT_EQ(QXForm::PageText(pages, 0), "&Certificates Database");
    EXPECT_EQ(QXForm::PageText(pages, 1), "&Settings");
    EXPECT_EQ(QXForm::PageText(pages, 2), "&Options");
    EXPECT_EQ(Text(*form, IDC_SETUP_CRYPT_GROUP), "Crypt - Settings");
    EXPECT_EQ(Text(*form, IDC_SETUP_ZIP_GROUP), "ZIP - Settings");
    EXPECT_EQ(Text(*form, IDC_SETUP_OPTION_GROUP), "User - Option");

    for (const SwitchRow& row : kSwitchRows) {
        EXPECT_EQ(Text(*form, row.id), row.caption);
        EXPECT_EQ(form->Checked(row.id), row.byDefault) << row.value;
    }
    // The dependent switches follow theirs.
    EXPECT_TRUE(On(*form, IDC_SETUP_DELETE_SECURELY));
    EXPECT_TRUE(On(*form, IDC_SETUP_ASK_SME_MAIL));

    struct ButtonRow {
        int id;
        const char* caption;
        const char* hint;  // null: none
        bool enabled;
    } buttons[] = {
        {IDC_SETUP_HELP_CERTS, "&Help", "Open help", true},
        {IDC_SETUP_HELP_SETTINGS, "&Help", "Open help", true},
        {IDC_SETUP_HELP_OPTIONS, "&Help", "Open help", true},
        {IDC_SETUP_IMPORT, "&Import", "Import certificate", true},
        {IDC_SETUP_REMOVE, "&Remove", "Remove certificate from database (attention)", false},
        // Not registered, no selection: "&Activate", off, the hint says deactivate.
        {IDC_SETUP_ACTIVATE, "&Activate", "Deactivate Tarvisto", false},
        {IDC_SETUP_SAVE_SETTINGS, "&Save", "Save select settings", false},
        {IDC_SETUP_SAVE_OPTIONS, "&Save", "Save select settings", false},
        {IDC_SETUP_END, "&End", "Close Tarvisto setup", true},
        {IDC_SETUP_DEFAULT_SETTINGS, "&Default", "Set default values", true},
        {IDC_SETUP_DEFAULT_OPTIONS, "&Default", "Set default values", true},
        {IDC_SETUP_FEEDBACK, "&Feedback", nullptr, true},
    };
    for (const ButtonRow& row : buttons) {
        EXPECT_EQ(Text(*form, row.id), row.caption) << row.id;
        EXPECT_EQ(On(*form, row.id), row.enabled) << row.caption << " " << row.id;
        EXPECT_EQ(form->Hint(row.id), row.hint ? row.hint : "") << row.id;
        EXPECT_EQ(form->HintShown(row.id), row.hint != nullptr) << row.id;
    }
    for (int id : {IDC_SETUP_PICTURE_CERTS, IDC_SETUP_PICTURE_SETTINGS, IDC_SETUP_PICTURE_OPTIONS}) {
        EXPECT_EQ(form->Hint(id), "About Tarvisto 2.11");
        EXPECT_TRUE(form->HintShown(id));
        EXPECT_TRUE(form->HasHandCursor(id));
    }
    EXPECT_FALSE(form->ControlVisible(IDC_SETUP_SELECT));
    EXPECT_FALSE(On(*form, IDC_SETUP_SELECT));
    EXPECT_EQ(Text(*form, IDC_SETUP_SELECT), "");
    EXPECT_FALSE(form->ControlVisible(IDC_SETUP_SELECTION));
    EXPECT_EQ(Text(*form, IDC_SETUP_SELECTION), "Please select and accept!");

    QXPopupMenu& popup = form->CertTreeViewPopUp;
    EXPECT_EQ(popup.Text(IDM_SETUP_REMOVE), "&Remove");
    EXPECT_FALSE(popup.Enabled(IDM_SETUP_REMOVE));
    // "&Save" until the tree's selection (no own certificate here) empties it.
    EXPECT_EQ(popup.Text(IDM_SETUP_SELECT), "");
    EXPECT_FALSE(popup.Enabled(IDM_SETUP_SELECT));
    EXPECT_FALSE(popup.Visible(IDM_SETUP_SELECT));
    EXPECT_EQ(popup.Text(IDM_SETUP_IMPORT), "&Import");
    EXPECT_TRUE(popup.Enabled(IDM_SETUP_IMPORT));
    EXPECT_EQ(popup.Text(IDM_SETUP_UPDATE), "&Update");
    EXPECT_TRUE(popup.Enabled(IDM_SETUP_UPDATE));

    // The tree: the root and its two branches, with their images.
    HWND tree = form->Control(IDC_SETUP_TREE);
    std::string walk;
    for (HTREEITEM node = QXForm::TreeNext(tree, nullptr); node; node = QXForm::TreeNext(tree, node))
        walk += QXForm::TreeText(tree, node) + "/" + std::to_string(QXForm::TreeImage(tree, node)) +
                "|";
    // (The stores of the prefix follow under each branch.)
    std::string top = "Current User: " + login + "/9|Own Certificates (PKCS#12)/8|";
    EXPECT_EQ(walk.substr(0, top.size()), top) << walk;
    EXPECT_NE(walk.find("|Other Certificates (PKCS#7)/7|"), std::string::npos) << walk;
    EXPECT_EQ(QXForm::TreeText(tree, form->OwnCertNode), "Own Certificates (PKCS#12)");

    // The first run shows no About window.
    EXPECT_TRUE(TopWindowsByPrefix("TAboutTarvistoForm").empty());
}

TEST_F(SetupForm, UpdateResetsTheWindowAndFollowsTheShellRegistration) {
    auto form = Start();
    Click(*form, IDC_SETUP_ZIP);
    EXPECT_TRUE(On(*form, IDC_SETUP_SAVE_SETTINGS));
    // Someone registered the extension meanwhile (any data counts).
    tvtest::RegistryValues handler(HKEY_CLASSES_ROOT, kShellHandlerKey);
    ASSERT_TRUE(handler.SetString("", "{00000000-0000-0000-0000-000000000000}"));
    // "&Update" through its shortcut Ctrl+A goes through the form's command.
    SetFocus(form->Control(IDC_SETUP_TREE));
    PostMessageA(form->Handle(), WM_COMMAND, MAKEWPARAM(IDM_SETUP_UPDATE, 1), 0);
    PumpOwn();
    EXPECT_TRUE(form->Checked(IDC_SETUP_ZIP));
    EXPECT_FALSE(On(*form, IDC_SETUP_SAVE_SETTINGS));
    EXPECT_EQ(Text(*form, IDC_SETUP_ACTIVATE), "&Deactivate");
    EXPECT_TRUE(On(*form, IDC_SETUP_ACTIVATE));
    // With "&Deactivate" the selection does not switch it.
    EXPECT_FALSE(form->EnableActivateButton(false));
    EXPECT_TRUE(On(*form, IDC_SETUP_ACTIVATE));
    EXPECT_GE(QXForm::TreeCount(form->Control(IDC_SETUP_TREE)), 3);
}

TEST_F(SetupForm, LoadReadsTheSwitchesInOrderUntilTheFirstMissingValue) {
    struct Row {
        const char* name;
        std::vector<std::pair<const char*, const char*>> values;
        const char* states;  // the ten switches in their order
        bool askEnabled, secureEnabled;
    } rows[] = {
        {"every value",
         {{"loeschequelldatei", "yes please"}, {"addpubliczert", " yes"}, {"openfilesonly", "Yes"},
          {"openfilessave", "Yes"}, {"zipfile", "Y"}, {"unzipfile", ""}, {"showpkcs12", "YES"},
          {"smeviaemail", "no"}, {"asksmeemail", "yEs"}, {"delsecure", "Yes"}},
         "1001001011", false, true},
        {"asksmeemail missing",
         {{"loeschequelldatei", "No"}, {"addpubliczert", "No"}, {"openfilesonly", "No"},
          {"openfilessave", "No"}, {"zipfile", "No"}, {"unzipfile", "No"}, {"showpkcs12", "No"},
          {"smeviaemail", "No"}, {"delsecure", "Yes"}},
         "0000000000", false, false},
        {"addpubliczert missing",
         {{"loeschequelldatei", "No"}, {"zipfile", "No"}, {"delsecure", "Yes"}},
         "0101110100", true, false},
        {"no key", {}, "1101110100", true, true},
    };
    for (const Row& row : rows) {
        RemoveQuorvexKey();
        for (const auto& value : row.values) Set(value.first, value.second);
        auto form = Start();
        EXPECT_EQ(States(*form), row.states) << row.name;
        EXPECT_EQ(On(*form, IDC_SETUP_ASK_SME_MAIL), row.askEnabled) << row.name;
        EXPECT_EQ(On(*form, IDC_SETUP_DELETE_SECURELY), row.secureEnabled) << row.name;
        // Loading changes no page: both Save buttons start disabled.
        EXPECT_FALSE(On(*form, IDC_SETUP_SAVE_SETTINGS)) << row.name;
        EXPECT_FALSE(On(*form, IDC_SETUP_SAVE_OPTIONS)) << row.name;
        EXPECT_EQ(form->LoadSettings(), row.values.size() == 10) << row.name;
    }
}

TEST_F(SetupForm, SaveOnAFreshKeyWritesTheFifteenValues) {
    auto form = Start();
    EXPECT_TRUE(form->IsFirstTime());
    // A change enables the page's Save; saving stores both pages.
    Click(*form, IDC_SETUP_ZIP);
    Click(*form, IDC_SETUP_SHOW_PKCS12);
    ASSERT_TRUE(On(*form, IDC_SETUP_SAVE_SETTINGS));
    ASSERT_TRUE(On(*form, IDC_SETUP_SAVE_OPTIONS));
    Click(*form, IDC_SETUP_SAVE_SETTINGS);
    EXPECT_FALSE(On(*form, IDC_SETUP_SAVE_SETTINGS));
    EXPECT_TRUE(On(*form, IDC_SETUP_SAVE_OPTIONS));  // only its own page's Save goes off

    std::string folder = ExeDir();
    std::map<std::string, std::string> expected = {
        {"loeschequelldatei", "Yes"}, {"addpubliczert", "Yes"}, {"openfilesonly", "No"},
        {"openfilessave", "Yes"},     {"zipfile", "No"},        {"unzipfile", "Yes"},
        {"showpkcs12", "Yes"},        {"smeviaemail", "Yes"},   {"asksmeemail", "No"},
        {"delsecure", "No"},          {"pubstore", "My"},
        {"statusdll", folder + "\\tvstatus.dll"},
        {"tvcryptdll", folder + "\\tvcryptc.dll"},
        {"secureavi", folder + "\\secure.avi"},
        {"firsttime", "No"},
    };
    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, kSettingsKey), expected);
    EXPECT_FALSE(form->IsFirstTime());

    // A store of other people's certificates that is there stays; both
    // radio buttons off are saved as "No" twice.
    Set("pubstore", "ROOT");
    form->SetChecked(IDC_SETUP_OPEN_AND_SAVE, false);
    Click(*form, IDC_SETUP_SAVE_OPTIONS);
    auto values = ReadValues(HKEY_CURRENT_USER, kSettingsKey);
    EXPECT_EQ(values["pubstore"], "ROOT");
    EXPECT_EQ(values["openfilesonly"], "No");
    EXPECT_EQ(values["openfilessave"], "No");
    EXPECT_EQ(values.size(), 15u);
}

TEST_F(SetupForm, DefaultSetsThePagesSwitchesAndLeavesSavingToSave) {
    auto form = Start();
    // Settings page: two switches away from their defaults.
    Click(*form, IDC_SETUP_DELETE_SOURCE);  // off: the secure switch goes off
    EXPECT_FALSE(On(*form, IDC_SETUP_DELETE_SECURELY));
    Click(*form, IDC_SETUP_UNZIP);
    Click(*form, IDC_SETUP_DEFAULT_SETTINGS);
    EXPECT_EQ(States(*form), "1101110100");
    EXPECT_TRUE(On(*form, IDC_SETUP_DELETE_SECURELY));
    EXPECT_TRUE(On(*form, IDC_SETUP_SAVE_SETTINGS));
    EXPECT_FALSE(On(*form, IDC_SETUP_DEFAULT_SETTINGS));
    EXPECT_TRUE(ReadValues(HKEY_CURRENT_USER, kSettingsKey).empty());  // nothing written
    // Saved, then Default again with nothing to change: only Default goes off.
    Click(*form, IDC_SETUP_SAVE_SETTINGS);
    EXPECT_FALSE(On(*form, IDC_SETUP_SAVE_SETTINGS));
    EnableWindow(form->Control(IDC_SETUP_DEFAULT_SETTINGS), TRUE);
    form->DefaultSettingsPage();
    EXPECT_FALSE(On(*form, IDC_SETUP_SAVE_SETTINGS));
    EXPECT_FALSE(On(*form, IDC_SETUP_DEFAULT_SETTINGS));

    // Options page: the radio buttons and the mail pair.
    Click(*form, IDC_SETUP_OPEN_ONLY);
    EXPECT_TRUE(form->Checked(IDC_SETUP_OPEN_ONLY));
    EXPECT_FALSE(form->Checked(IDC_SETUP_OPEN_AND_SAVE));
    Click(*form, IDC_SETUP_SME_MAIL);
    EXPECT_FALSE(On(*form, IDC_SETUP_ASK_SME_MAIL));
    Click(*form, IDC_SETUP_DEFAULT_OPTIONS);
    EXPECT_EQ(States(*form), "1101110100");
    EXPECT_TRUE(On(*form, IDC_SETUP_ASK_SME_MAIL));
    EXPECT_TRUE(On(*form, IDC_SETUP_SAVE_OPTIONS));
    EXPECT_FALSE(On(*form, IDC_SETUP_DEFAULT_OPTIONS));
    EXPECT_FALSE(On(*form, IDC_SETUP_SAVE_SETTINGS));
}

TEST_F(SetupForm, FirstTimeUnlessTheMarkerSaysNo) {
    auto form = Start();
    struct Row {
        const char* value;  // null: missing
        bool first;
    } rows[] = {{nullptr, true}, {"No", false}, {"no", false}, {"NO", false},
                {"No ", true},   {"", true},    {"Yes", true}};
    for (const Row& row : rows) {
        RemoveQuorvexKey();
        if (row.value) Set("firsttime", row.value);
        EXPECT_EQ(form->IsFirstTime(), row.first) << (row.value ? row.value : "(missing)");
    }
}

TEST_F(SetupForm, HelpAddressesAreExactAndBoundedAndFeedbackReachesTheBrowser) {
    std::string folder = ExeDir();
    struct Row {
        const char* page;
        const char* anchor;
    } rows[] = {{"Hilfe\\tvparameter.htm", "#subEigeneZertifikate"},
                {"Hilfe\\tvparameter.htm", "#subEinstellungen"},
                {"Hilfe\\tvparameter.htm", "#subOptionen"},
                {"Hilfe\\feedback.htm", ""}};
    for (const Row& row : rows) {
        char address[256];
        ASSERT_TRUE(HelpPageAddress(row.page, row.anchor, address));
        EXPECT_EQ(std::string(address),
                  "file:///" + folder + "\\" + row.page + row.anchor);
    }
    // An address that would not fit is refused, never cut.
    char address[256] = "x";
    EXPECT_FALSE(HelpPageAddress("Hilfe\\tvparameter.htm", std::string(240, 'a').c_str(), address));
    EXPECT_STREQ(address, "");
    ClearLastError();

    // A recorder registered for .htm gets the feedback page.
    TempDir work("fb");
    std::string log = work / "viewer.log";
    SetEnvironmentVariableA("TV_VIEWER_LOG", log.c_str());
    ScopedFileType htm(".htm", "TarvistoTestPage",
                       "\"" + ExeDir() + "\\tv_testviewer.exe\" \"%1\"");
    ASSERT_TRUE(htm.ok());
    auto form = Start();
    Click(*form, IDC_SETUP_FEEDBACK);
    EXPECT_TRUE(WaitUntil([&] { return !ReadFileBytes(log).empty(); }))
        << "the feedback page was not opened";
    std::string opened = ReadFileBytes(log);
    EXPECT_NE(opened.find("feedback.htm|"), std::string::npos) << opened;
    EXPECT_NE(opened.find("Tarvisto 2.11 - Feedback"), std::string::npos) << opened;
    SetEnvironmentVariableA("TV_VIEWER_LOG", nullptr);
}

TEST_F(SetupForm, EachHelpButtonOpensItsPageAtItsAnchor) {
    auto form = Start();
    std::string page = "file:///" + ExeDir() + "\\Hilfe\\tvparameter.htm";
    struct Row {
        int page, button;
        const char* anchor;
    } rows[] = {{kPageCertificates, IDC_SETUP_HELP_CERTS, "#subEigeneZertifikate"},
                {kPageSettings, IDC_SETUP_HELP_SETTINGS, "#subEinstellungen"},
                {kPageOptions, IDC_SETUP_HELP_OPTIONS, "#subOptionen"}};
    for (const Row& row : rows) {
        ASSERT_TRUE(form->SelectPage(IDC_SETUP_PAGES, row.page));
        ClearLastError();
        // Wine's shell finds no file for an address with an anchor and says
        // so in a box of its own; the failed start names the address.
        std::atomic<bool> clicked{false};
        WhileDriving(
            [&] {
                HWND box = nullptr;
                WaitUntil([&] {
                    box = FindWindowA("#32770", nullptr);
                    return clicked || (box && IsWindowVisible(box));
                });
                if (!clicked && box) AnswerDialog(box, IDOK);
            },
            [&] {
                Click(*form, row.button);
                clicked = true;
                return 0;
            });
        std::string error = TakeError();
        EXPECT_NE(error.find("'" + page + row.anchor + "'"), std::string::npos) << error;
    }
}

TEST_F(SetupForm, TheAboutEventWaitsForTheStartUpAndShowsOneWindow) {
    Set("firsttime", "No");
    auto form = std::make_unique<TTVSetupForm>(nullptr);
    form->ShowModeless();
    // Due before the start-up has run: it comes back later and shows nothing now.
    form->DoShowAboutTimerTimer();
    EXPECT_TRUE(form->TimerArmed(kDoShowAboutTimer));
    EXPECT_TRUE(TopWindowsByPrefix("TAboutTarvistoForm").empty());
    int abouts = 0;
    WhileDriving(
        [&] {
            HWND about = WaitForClassPrefix("TAboutTarvistoForm");
            if (!about) return;
            abouts = static_cast<int>(TopWindowsByPrefix("TAboutTarvistoForm").size());
            ClickChild(about, IDC_ABOUT_GO_ON);
            WaitGone(about);
            // Then, without an own certificate, the import is offered.
            HWND dialog = WaitForSaveAsDialog();
            if (dialog) AnswerDialog(dialog, IDCANCEL);
        },
        [&] {
            return WaitUntil([&] {
                PumpOwn();
                return form->StartedUp() && !form->TimerArmed(kDoShowAboutTimer) &&
                       !form->ImportOpen();
            });
        });
    EXPECT_EQ(abouts, 1);
    EXPECT_EQ(form->AboutForm, nullptr);
}
