// Deactivation answered Yes logs the user off: only here, in a prefix that
// is thrown away after this one program. The driver has no window of its own,
// so that the end of the session passes it by; a canary program stands for
// the user's other programs.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "CertFixture.h"
#include "QXForms.h"
#include "QXMenuClass.h"
#include "SetupFixture.h"
#include "TVSetupIds.h"
#include "TestFiles.h"
#include "TestProcess.h"
#include "WindowDriver.h"

using namespace tvtest;
using namespace tvsetuptest;

namespace {

struct Row {
    std::string key;
    const char* name;
    std::string data;
};

std::vector<Row> ShellRows(const std::string& folder) {
    std::string g = QX_MENU_CLASS_TEXT;
    return {
        {"*\\shellex\\ContextMenuHandlers\\Tarvisto", nullptr, g},
        {"Directory\\shellex\\ContextMenuHandlers\\Tarvisto", nullptr, g},
        {"Drive\\shellex\\ContextMenuHandlers\\Tarvisto", nullptr, g},
        {"CLSID\\" + g, nullptr, "Tarvisto"},
        {"CLSID\\" + g + "\\InprocServer32", nullptr, folder + "\\tvcryptc.dll"},
        {"CLSID\\" + g + "\\InprocServer32", "ThreadingModel", "Apartment"},
        {"Tarvisto\\shell\\open\\command\\", nullptr, "\"" + folder + "\\tvcrypte.exe\" \"%1\""},
        {"Tarvisto\\DefaultIcon", nullptr, folder + "\\tvcrypte.exe,0"},
        {"Tarvisto", nullptr, "Tarvisto 2.11 - File"},
        {".sgn", "", "Tarvisto"},
        {".crp", "", "Tarvisto"},
        {".sme", "", "Tarvisto"},
    };
}

bool ClassKeyExists(const std::string& key) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

}  // namespace

TEST_F(SetupTest, DeactivationAnsweredYesRemovesTheRowsKeepsTheSettingsAndLogsOff) {
    CertFixture certs;
    std::string own = certs.NewStore("own");
    ASSERT_TRUE(certs.MakePerson("Leaving Own", own));
    Set(LoginName(), "Leaving Own", kOwnKey);
    Set("ownstore", own);
    Set("zipfile", "No");
    for (const Row& row : ShellRows(BinDir())) {
        HKEY handle;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, row.key.c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &handle, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(handle, row.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(row.data.c_str()),
                       static_cast<DWORD>(row.data.size() + 1));
        RegCloseKey(handle);
    }

    TempDir work("logoff");
    std::string marker = work / "canary.txt";
    ProgramProcess canary(ExeDir() + "\\tv_canary.exe", "\"" + marker + "\"", work.path());
    ASSERT_TRUE(canary.started());
    ASSERT_NE(WaitForCaption("Tarvisto test canary"), nullptr) << "the canary shows no window";

    ProgramProcess setup(BinDir() + "\\tvsetup.exe", "", BinDir());
    ASSERT_TRUE(setup.started());
    HWND main = WaitForCaption(("Tarvisto 2.11 - Setup! - " + LoginName()).c_str());
    ASSERT_NE(main, nullptr);
    HWND button = Child(main, IDC_SETUP_ACTIVATE);
    ASSERT_TRUE(WaitUntil([&] { return TextOf(button) == "&Deactivate" && Enabled(button); }))
        << TextOf(button);
    Click(button);
    HWND question = WaitForCaption("Tarvisto 2.11 - Setup!");
    ASSERT_NE(question, nullptr) << "no question before deactivating";
    EXPECT_EQ(ChildText(question, IDC_OKHELP_TEXT),
              "Computer has to be restarted before you can remove Tarvisto from your "
              "system!\r\nProceed?");
    ClickChild(question, IDC_OKHELP_OK);  // "Yes"
    EXPECT_EQ(setup.Wait(), 0);

    // The other programs were told that the session ends.
    EXPECT_TRUE(WaitUntil([&] { return ReadFileBytes(marker).find("end|") != std::string::npos; }))
        << "the canary got: " << ReadFileBytes(marker);

    for (const Row& row : ShellRows(BinDir()))
        EXPECT_FALSE(ClassKeyExists(row.key)) << row.key;
    EXPECT_TRUE(ClassKeyExists("*\\shellex\\ContextMenuHandlers"));
    auto settings = ReadValues(HKEY_CURRENT_USER, kSettingsKey);
    EXPECT_EQ(settings["zipfile"], "No");
    EXPECT_EQ(settings["ownstore"], own);
    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, kOwnKey)[LoginName()], "Leaving Own");
}
