// Deactivation answered Yes logs the user off: only here, in a prefix that
// is thrown away after this one program. The driver has no window of its own,
// so that the end of the session passes it by; a canary program stands for
// the user's other programs.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "CertFixture.h"
#include "QXDialogIds.h"
#include "QXForms.h"
#include "QXMenuClass.h"
#include "SetupFixture.h"
#include "TVSetupIds.h"
#include "TestFiles.h"
#include "TestProcess.h"
#include "WindowDriver.h"

using namespace tvtest;
using namespace tvsetuptest;

TEST_F(SetupTest, DeactivationAnsweredYesRemovesTheRowsKeepsTheSettingsAndLogsOff) {
    CertFixture certs;
    std::string own = certs.NewStore("own");
    ASSERT_TRUE(certs.MakePerson("Leaving Own", own));
    Set(LoginName(), "Leaving Own", kOwnKey);
    Set("ownstore", own);
    Set("zipfile", "No");
    for (const ShellRow& row : ShellRows(BinDir())) SetClassValue(row.key, row.name, row.data);

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

    for (const ShellRow& row : ShellRows(BinDir()))
        EXPECT_FALSE(ClassKeyExists(row.key)) << row.key;
    EXPECT_TRUE(ClassKeyExists("*\\shellex\\ContextMenuHandlers"));
    auto settings = ReadValues(HKEY_CURRENT_USER, kSettingsKey);
    EXPECT_EQ(settings["zipfile"], "No");
    EXPECT_EQ(settings["ownstore"], own);
    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, kOwnKey)[LoginName()], "Leaving Own");
}
