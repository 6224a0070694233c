// The real build/bin/tvsetup.exe, driven from this process: its caption, the
// About window of a later run, the close warning and its exit code, and a
// program folder whose paths do not fit the settings. Also what the build puts
// beside it for the settings: the transfer program's icon, the sample files.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "CertFixture.h"
#include "QXDialogIds.h"
#include "QXForms.h"
#include "SetupFixture.h"
#include "TVSetupIds.h"
#include "TestFiles.h"
#include "TestProcess.h"
#include "WindowDriver.h"

using namespace tvtest;
using namespace tvsetuptest;

namespace {

class SetupProgram : public SetupTest {
protected:
    void TearDown() override {
        SetProcessFilter(0);
        SetupTest::TearDown();
    }
    // Starts the program (build/bin's, or the one given) and waits for its
    // filled main window.
    // On a first run without an own certificate the import is offered at
    // once: importOffered cancels it.
    HWND Start(std::unique_ptr<ProgramProcess>* process,
               const std::string& program = BinDir() + "\\tvsetup.exe",
               bool importOffered = true) {
        std::string folder = program.substr(0, program.rfind('\\'));
        *process = std::make_unique<ProgramProcess>(program, "", folder);
        EXPECT_TRUE((*process)->started()) << program;
        SetProcessFilter((*process)->id());
        HWND main = WaitForCaption(("Tarvisto 2.11 - Setup! - " + LoginName()).c_str());
        EXPECT_NE(main, nullptr) << "no main window with the user's name in its caption";
        if (main && importOffered) CancelImport(main);
        return main;
    }
    static void CancelImport(HWND main) {
        HWND dialog = WaitForSaveAsDialog();
        EXPECT_NE(dialog, nullptr) << "the import was not offered";
        if (!dialog) return;
        AnswerDialog(dialog, IDCANCEL);
        EXPECT_TRUE(WaitGone(dialog));
        EXPECT_TRUE(WaitUntil([&] { return Enabled(main); }));
    }
    // Waits until the program has handled what was posted to it before.
    static void RoundTrip(HWND window) {
        DWORD_PTR ignored;
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kWaitMs, &ignored);
    }
};

HWND AboutWindow() { return WaitForClassPrefix("TAboutTarvistoForm"); }

void ClickPicture(HWND picture) {
    PostMessageA(picture, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    PostMessageA(picture, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
}

// A folder of exactly `length` characters below base, made with its parents.
std::string FolderOfLength(const std::string& base, size_t length) {
    std::string path = base;
    while (path.size() < length) {
        size_t remaining = length - path.size() - 1;
        size_t part = remaining > 100 ? 60 : remaining;
        path += "\\" + std::string(part, 'd');
        CreateDirectoryA(path.c_str(), nullptr);
    }
    return path;
}

}  // namespace

TEST_F(SetupProgram, ALaterRunShowsTheAboutWindowOnceAtATime) {
    Set("firsttime", "No");
    std::unique_ptr<ProgramProcess> process;
    HWND main = Start(&process, BinDir() + "\\tvsetup.exe", false);
    ASSERT_NE(main, nullptr);
    HWND about = AboutWindow();
    ASSERT_NE(about, nullptr) << "no About window on a later run";
    EXPECT_EQ(TextOf(about), "About Tarvisto 2.11");
    EXPECT_EQ(ChildText(about, IDC_ABOUT_TITLE), "About Tarvisto 2.11");
    EXPECT_EQ(ChildText(about, IDC_ABOUT_VERSION), "About Tarvisto 2.11");
    EXPECT_EQ(ChildText(about, IDC_ABOUT_GO_ON), "&Go On");
    EXPECT_EQ(ChildText(about, IDC_ABOUT_MAIL_LABEL), "EMail:");
    EXPECT_EQ(ChildText(about, IDC_ABOUT_HOMEPAGE_LABEL), "Homepage:");
    EXPECT_FALSE(ChildText(about, IDC_ABOUT_HTTP).empty());
    EXPECT_FALSE(Enabled(main));  // shown modally
    ClickChild(about, IDC_ABOUT_GO_ON);
    ASSERT_TRUE(WaitGone(about)) << "\"&Go On\" did not close the About window";
    // No own certificate: the import follows the About window.
    CancelImport(main);

    // Two clicks on a picture: the second arrives while the first one's About
    // window is shown and opens none; a close posted after both ends it.
    HWND picture = Child(main, IDC_SETUP_PICTURE_CERTS);
    ClickPicture(picture);
    ClickPicture(picture);
    about = AboutWindow();
    ASSERT_NE(about, nullptr) << "a click on the picture opened no About window";
    PostClose(about);
    EXPECT_TRUE(WaitGone(about)) << "a second About window holds the first one open";
    RoundTrip(main);
    for (HWND w : TopWindowsByPrefix("TAboutTarvistoForm"))
        EXPECT_FALSE(IsWindowVisible(w)) << "a second About window";
    EXPECT_TRUE(process->Running());
}

TEST_F(SetupProgram, TheCloseBoxWarnsWithoutAnOwnCertificate) {
    std::unique_ptr<ProgramProcess> process;
    HWND main = Start(&process);
    ASSERT_NE(main, nullptr);
    // The first run: no About window comes (the warning below would not be
    // the only window otherwise).
    CloseByBox(main);
    HWND warning = WaitForCaption("Tarvisto 2.11 - Warning!");
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(ChildText(warning, IDC_OKHELP_TEXT),
              "You didn't select any own certificate!\r\nDo you really want to close Tarvisto?");
    ClickChild(warning, IDC_OKHELP_HELP);  // "No"
    ASSERT_TRUE(WaitGone(warning));
    RoundTrip(main);
    EXPECT_TRUE(process->Running());
    EXPECT_TRUE(IsWindowVisible(main));

    CloseByBox(main);
    warning = WaitForCaption("Tarvisto 2.11 - Warning!");
    ASSERT_NE(warning, nullptr);
    ClickChild(warning, IDC_OKHELP_OK);  // "Yes"
    EXPECT_EQ(process->Wait(), 0);
}

TEST_F(SetupProgram, WithAnOwnCertificateTheCloseBoxEndsWithoutAQuestion) {
    Set(LoginName(), "Somebody", kOwnKey);
    std::unique_ptr<ProgramProcess> process;
    HWND main = Start(&process);
    ASSERT_NE(main, nullptr);
    CloseByBox(main);
    EXPECT_EQ(process->Wait(), 0);
}

TEST_F(SetupProgram, PathsThatDoNotFitAreNeverSavedCut) {
    TempDir work("deep");
    struct Row {
        size_t folderLength;
        bool fits;
    } rows[] = {
        {230, true},   // everything fits
        {243, false},  // the program's path fits, "\tvstatus.dll" behind the folder does not
        {245, false},  // the program's own path fills the buffer: it comes back cut
    };
    for (const Row& row : rows) {
        RemoveQuorvexKey();
        std::string folder = FolderOfLength(work.path(), row.folderLength);
        ASSERT_EQ(folder.size(), row.folderLength);
        std::string program = folder + "\\tvsetup.exe";
        ASSERT_TRUE(CopyFileA((BinDir() + "\\tvsetup.exe").c_str(), program.c_str(), FALSE))
            << GetLastError();
        std::unique_ptr<ProgramProcess> process;
        HWND main = Start(&process, program);
        ASSERT_NE(main, nullptr);
        HWND save = Child(main, IDC_SETUP_SAVE_SETTINGS);
        Click(Child(main, IDC_SETUP_ZIP));
        ASSERT_TRUE(WaitUntil([&] { return Enabled(save); }));
        Click(save);
        ASSERT_TRUE(WaitUntil([&] {
            return ReadValues(HKEY_CURRENT_USER, kSettingsKey).count("pubstore") != 0;
        }));
        RoundTrip(main);
        auto values = ReadValues(HKEY_CURRENT_USER, kSettingsKey);
        if (row.fits) {
            EXPECT_EQ(values.size(), 15u);
            EXPECT_EQ(values["statusdll"], folder + "\\tvstatus.dll");
            EXPECT_EQ(values["firsttime"], "No");
            EXPECT_FALSE(Enabled(save));
        } else {
            EXPECT_EQ(values.size(), 11u) << row.folderLength;  // the switches and "pubstore"
            EXPECT_EQ(values.count("statusdll"), 0u);
            EXPECT_EQ(values.count("tvcryptdll"), 0u);
            EXPECT_EQ(values.count("secureavi"), 0u);
            EXPECT_EQ(values.count("firsttime"), 0u);
            EXPECT_TRUE(Enabled(save)) << "a failed save left Save disabled";
        }
        process.reset();
        SetProcessFilter(0);
    }
}

TEST_F(SetupProgram, TheWelcomeAnsweredYesAcceptsActivatesAndEndsWithZero) {
    CertFixture certs;
    std::string own = certs.NewStore("own");
    ASSERT_TRUE(certs.MakePerson("Welcome Own", own));
    std::unique_ptr<ProgramProcess> process;
    HWND main = Start(&process, BinDir() + "\\tvsetup.exe", false);
    ASSERT_NE(main, nullptr);
    HWND welcome = WaitForCaption("Tarvisto 2.11 - Setup!");
    ASSERT_NE(welcome, nullptr) << "no welcome on the first run";
    EXPECT_EQ(ChildText(welcome, IDC_OKHELP_TEXT).rfind("Hello " + LoginName() + "! Tarvisto is "
                                                        "successfull installed!", 0),
              0u);
    ClickChild(welcome, IDC_OKHELP_OK);  // "Yes"
    EXPECT_EQ(process->Wait(), 0);
    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, kOwnKey)[LoginName()], "Welcome Own");
    auto settings = ReadValues(HKEY_CURRENT_USER, kSettingsKey);
    EXPECT_EQ(settings["ownstore"], own);
    EXPECT_EQ(settings["firsttime"], "No");
    std::string server = std::string("CLSID\\") + "{fb3b1886-f342-484a-93c8-186391036e0e}" +
                         "\\InprocServer32";
    EXPECT_EQ(ReadValues(HKEY_CLASSES_ROOT, server)[""], BinDir() + "\\tvcryptc.dll");
    EXPECT_EQ(ReadValues(HKEY_CLASSES_ROOT, kShellHandlerKey)[""],
              "{fb3b1886-f342-484a-93c8-186391036e0e}");
    for (const char* key : {"*\\shellex\\ContextMenuHandlers\\Tarvisto",
                            "Directory\\shellex\\ContextMenuHandlers\\Tarvisto",
                            "Drive\\shellex\\ContextMenuHandlers\\Tarvisto", "Tarvisto", ".sgn",
                            ".crp", ".sme"})
        RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{fb3b1886-f342-484a-93c8-186391036e0e}");
}

TEST_F(SetupProgram, ARegistrationWhosePathsDoNotFitIsRefusedWholeAndSaidSo) {
    CertFixture certs;
    std::string own = certs.NewStore("own");
    ASSERT_TRUE(certs.MakePerson("Deep Own", own));
    TempDir work("deepreg");
    // The program's path fits, "\\tvcryptc.dll" behind its folder does not.
    std::string folder = FolderOfLength(work.path(), 243);
    std::string program = folder + "\\tvsetup.exe";
    ASSERT_TRUE(CopyFileA((BinDir() + "\\tvsetup.exe").c_str(), program.c_str(), FALSE));
    std::unique_ptr<ProgramProcess> process;
    HWND main = Start(&process, program, false);
    ASSERT_NE(main, nullptr);
    // The first run: the welcome, answered No, accepts the certificate all the same.
    HWND welcome = WaitForCaption("Tarvisto 2.11 - Setup!");
    ASSERT_NE(welcome, nullptr) << "no welcome";
    ClickChild(welcome, IDC_OKHELP_HELP);  // "No"
    HWND error = WaitForCaption("Tarvisto 2.11 - Error!");
    ASSERT_NE(error, nullptr) << "the refused registration was not reported";
    EXPECT_NE(MessageBoxText(error).find("could not be registered"), std::string::npos)
        << MessageBoxText(error);
    AnswerDialog(error, IDOK);
    ASSERT_TRUE(WaitGone(error));
    RoundTrip(main);
    HKEY handle;
    EXPECT_NE(RegOpenKeyExA(HKEY_CLASSES_ROOT, kShellHandlerKey, 0, KEY_READ, &handle),
              ERROR_SUCCESS)
        << "a row was written";
    EXPECT_EQ(TextOf(Child(main, IDC_SETUP_ACTIVATE)), "&Activate");
    EXPECT_TRUE(process->Running());
}

TEST(TransferProgramIcon, TheFileTypesIconIsTheTransferProgramsFirst) {
    // The file type's "DefaultIcon" names "tvcrypte.exe,0".
    std::string program = BinDir() + "\\tvcrypte.exe";
    EXPECT_GE(ExtractIconExA(program.c_str(), -1, nullptr, nullptr, 0), 1u);
    HICON large = nullptr;
    ASSERT_EQ(ExtractIconExA(program.c_str(), 0, &large, nullptr, 1), 1u);
    ASSERT_NE(large, nullptr);
    DestroyIcon(large);
}

TEST(SampleCertificates, EverySampleFileImportsWithItsKey) {
    std::string folder = BinDir() + "\\Beispielzertifikate";
    std::vector<std::string> names = ListNames(folder, "*.p12", true);
    ASSERT_EQ(names.size(), 2u);
    for (const std::string& name : names) {
        std::string bytes = ReadFileBytes(folder + "\\" + name);
        CRYPT_DATA_BLOB blob = {static_cast<DWORD>(bytes.size()),
                                reinterpret_cast<BYTE*>(&bytes[0])};
        ASSERT_TRUE(PFXIsPFXBlob(&blob)) << name;
        HCERTSTORE store = PFXImportCertStore(&blob, L"sample", CRYPT_USER_KEYSET);
        ASSERT_NE(store, nullptr) << name << " " << GetLastError();
        int withKey = 0;
        PCCERT_CONTEXT certificate = nullptr;
        while ((certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr) {
            DWORD size = 0;
            if (CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                                  &size))
                ++withKey;
        }
        CertCloseStore(store, 0);
        EXPECT_EQ(withKey, 1) << name;
    }
}
