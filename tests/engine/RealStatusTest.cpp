// The engine with the real dialogs library (bin\tvstatus.dll): the overwrite
// question and the error box reach the user with the engine's texts. The
// windows are driven from a second thread.
#include "EngineFixture.h"
#include "QXForms.h"
#include "WindowDriver.h"

using namespace enginetest;
using tvtest::Exists;
using tvtest::ReadFileBytes;
using tvtest::WriteFileBytes;

namespace {

std::string BinDir() {
    std::string tests = ExeDir();
    return tests.substr(0, tests.find_last_of('\\')) + "\\bin";
}

class RealStatus : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        Set("statusdll", BinDir() + "\\tvstatus.dll");
        Set("secureavi", BinDir() + "\\secure.avi");
    }
};

TEST_F(RealStatus, TheOverwriteQuestionAndTheErrorBoxCarryTheEnginesTexts) {
    WriteFileBytes(work / "a.txt", "new");
    WriteFileBytes(work / "a.txt.sgn", "OLD");
    auto job = std::make_unique<TQXCryptDir>();
    ASSERT_TRUE(job->IsBound());
    ASSERT_NE(job->progressWindow, nullptr);
    EXPECT_EQ(tvtest::ClassOf(job->progressWindow), QX_PROGRESS_CLASS);

    std::string caption, question;
    bool ok = tvtest::WhileDriving(
        [&] {
            HWND dialog = tvtest::WaitForClassPrefix("TDYesNoAll");
            if (!dialog) return;
            caption = tvtest::TextOf(dialog);
            question = tvtest::ChildText(dialog, IDC_YESNOALL_TEXT);
            tvtest::ClickChild(dialog, IDC_YESNOALL_YES);
        },
        [&] { return job->SignFile(1, (work / "a.txt").c_str()); });
    EXPECT_TRUE(ok) << Held();
    EXPECT_EQ(caption, "Tarvisto 2.11 - Warning!");
    EXPECT_EQ(question, "Should the file 'a.txt.sgn' really be overwritten?");
    EXPECT_NE(ReadFileBytes(work / "a.txt.sgn"), "OLD");

    // A missing certificate: the error box names the operation, the file and
    // the held failure followed by the operation's message.
    ownCerts->SetString(CurrentUser(), "Nobody Known");
    ownCerts->SetString("DefUsr", "Nobody Known");
    WriteFileBytes(work / "m.txt", "content");
    std::string errorText;
    EXPECT_FALSE(tvtest::WhileDriving(
        [&] {
            HWND box = tvtest::WaitForCaption("Tarvisto 2.11 - Error!");
            if (!box) return;
            errorText = tvtest::ChildText(box, IDC_OKHELP_TEXT);
            tvtest::ClickChild(box, IDC_OKHELP_OK);
        },
        [&] { return job->SignFile(1, (work / "m.txt").c_str()); }));
    std::string sub = work.path().substr(work.path().find_last_of('\\') + 1);
    EXPECT_TRUE(StartsWith(errorText, "Error 'signing data' file '..\\" + sub + "\\m.txt'!\r\n"))
        << errorText;
    EXPECT_TRUE(Has(errorText, "No certificate could be found in database!")) << errorText;
    EXPECT_TRUE(Has(errorText, "This file(s) could not be signed!")) << errorText;
    EXPECT_EQ(job->cancel, 0);
    HWND window = job->progressWindow;
    job.reset();
    EXPECT_FALSE(IsWindow(window));
}

}  // namespace
