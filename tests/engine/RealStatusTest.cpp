// The engine with the real dialogs library (bin\tvstatus.dll): the overwrite
// question and the error box reach the user with the engine's texts. The
// windows are driven from a second thread.
#include "EngineFixture.h"
#include "QXDialogIds.h"
#include "QXForms.h"
#include "WindowDriver.h"

#include <atomic>

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

// Holds the crypt worker in its output's write (the free-space query that
// comes first) until the progress window shows that Cancel was pressed, so
// that the press falls while the worker runs.
class WorkerGate {
public:
    explicit WorkerGate(HWND cancelButton) : button_(cancelButton), jobThread_(GetCurrentThreadId()) {
        writing_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        Current() = this;
        SetDiskFreeQuery(&Query);
    }
    ~WorkerGate() {
        SetDiskFreeQuery(nullptr);
        Current() = nullptr;
        CloseHandle(writing_);
    }
    HANDLE writing() const { return writing_; }
    bool pressSeen() const { return pressSeen_.load(); }

private:
    static WorkerGate*& Current() {
        static WorkerGate* gate = nullptr;
        return gate;
    }
    static BOOL WINAPI Query(LPCSTR where, PULARGE_INTEGER available, PULARGE_INTEGER total,
                             PULARGE_INTEGER free) {
        WorkerGate* gate = Current();
        if (gate && GetCurrentThreadId() != gate->jobThread_) {
            SetEvent(gate->writing_);
            gate->pressSeen_ = tvtest::WaitUntil([gate] { return !IsWindowEnabled(gate->button_); });
        }
        return GetDiskFreeSpaceExA(where, available, total, free);
    }
    HWND button_;
    DWORD jobThread_;
    HANDLE writing_ = nullptr;
    std::atomic<bool> pressSeen_{false};
};

TEST_F(RealStatus, CancelWhileTheCryptWorkerRunsRemovesItsOutputAndKeepsTheSource) {
    Set("loeschequelldatei", "Yes");
    const std::string body = tvtest::PatternBytes(2100000, 6);
    struct Row {
        const char* what;
        bool verify;
    } rows[] = {{"sign", false}, {"verify", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFileBytes(work / "big.bin", body);
        std::string input = work / "big.bin";
        std::string output = work / "big.bin.sgn";
        if (row.verify) {
            Set("loeschequelldatei", "No");
            auto signer = std::make_unique<TQXCryptDir>();
            ASSERT_TRUE(signer->SignFile(1, input.c_str())) << Held();
            signer.reset();
            Set("loeschequelldatei", "Yes");
            tvtest::RemoveTree(input);
            std::swap(input, output);
        }
        const std::string before = ReadFileBytes(input);

        auto job = std::make_unique<TQXCryptDir>();
        ASSERT_TRUE(job->IsBound());
        ASSERT_NE(job->progressWindow, nullptr);
        HWND cancel = tvtest::Child(job->progressWindow, IDC_PROGRESS_CANCEL);
        ASSERT_NE(cancel, nullptr);
        ASSERT_TRUE(tvtest::Enabled(cancel));

        // The driver presses Cancel once the worker writes, and answers any
        // box that would follow (none should) until the job is gone.
        std::atomic<bool> jobGone{false};
        bool workerWrote = false;
        std::vector<std::string> boxes;
        WorkerGate gate(cancel);
        bool ok = true;
        std::string statusLine;
        uint8_t cancelled = 0;
        tvtest::WhileDriving(
            [&] {
                workerWrote = WaitForSingleObject(gate.writing(), tvtest::kWaitMs) == WAIT_OBJECT_0;
                if (workerWrote) tvtest::Click(cancel);
                while (!jobGone.load()) {
                    for (const char* caption : {"Tarvisto 2.11 - Signature Info!", "Tarvisto 2.11 - Error!"}) {
                        HWND box = tvtest::WaitForCaption(caption, 50);
                        if (!box) continue;
                        boxes.push_back(caption);
                        tvtest::ClickChild(box, IDC_OKHELP_OK);
                        tvtest::WaitGone(box);
                    }
                }
            },
            [&] {
                ok = row.verify ? job->VerifyFile(1, input.c_str()) : job->SignFile(1, input.c_str());
                statusLine = tvtest::ChildText(job->progressWindow, IDC_PROGRESS_STATUS);
                cancelled = job->cancel;
                job.reset();  // closes the window: no signature summary after a Cancel
                jobGone = true;
            });

        ASSERT_TRUE(workerWrote) << "the crypt worker never wrote its output";
        EXPECT_TRUE(gate.pressSeen()) << "the press was not seen while the worker ran";
        EXPECT_FALSE(ok);
        EXPECT_EQ(cancelled, 1);
        EXPECT_EQ(statusLine, "Procedure is aborting... please wait!");
        EXPECT_FALSE(Exists(output));
        EXPECT_TRUE(ReadFileBytes(input) == before) << "the source stays";
        EXPECT_TRUE(boxes.empty()) << boxes.front();
        tvtest::RemoveTree(input);
    }
}

}  // namespace
