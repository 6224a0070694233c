// The job thread class in this process, with the real engine and dialogs
// library: refused calls, the operation per extension, the worker numbering,
// raising the job's own progress window and the caller's messages while a
// job runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "AllocationFault.h"
#include "CmdLine.h"
#include "QXCryptDir.h"
#include "QXDialogIds.h"
#include "QXForms.h"
#include "QXOleAPI.h"
#include "QXOleThr.h"
#include "TransferFixture.h"
#include "Watchdog.h"
#include "WindowDriver.h"

using tvtest::ReadFileBytes;
using tvtest::WriteFileBytes;

namespace tvtransfer {
namespace {

std::vector<TQXSelFil> List(const std::vector<std::string>& paths) {
    std::vector<TQXSelFil> list(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        memset(list[i], 0, sizeof(TQXSelFil));
        strncpy(list[i], paths[i].c_str(), sizeof(TQXSelFil) - 1);
    }
    return list;
}

class OleThrTest : public TransferTest {};

// Runs before any job of this process: the first worker takes number 101.
TEST_F(OleThrTest, TheFirstWorkerOfTheProcessIsNumbered101) {
    if (CurrentThreadNumber() != 100) GTEST_SKIP() << "a worker ran before";
    WriteFileBytes(Work("first.txt"), "first");
    std::vector<TQXSelFil> list = List({Work("first.txt")});
    TQXOleThr thr;
    EXPECT_TRUE(thr.DoExecuteTarvisto(2, 1, list.data(), ""));
    EXPECT_EQ(CurrentThreadNumber(), 101);
    EXPECT_TRUE(tvtest::Exists(Work("first.txt.sgn")));
}

TEST(OleThrOperation, FollowsTheLowerCasedLastExtension) {
    const std::vector<std::pair<const char*, uint32_t>> rows = {
        {"D:\\r\\report.SGN", 3},  {"D:\\r\\report.sgn", 3}, {"D:\\r\\archive.tar.crp", 5},
        {"D:\\r\\a.txt.Sme", 1},   {"D:\\r\\report.txt", 0}, {"D:\\r\\noextension", 0},
        {"D:\\r.sgn\\plain", 0},   {"D:\\r\\a.sgn.txt", 0},
    };
    for (const auto& row : rows) EXPECT_EQ(OperationForExtension(row.first), row.second) << row.first;
    EXPECT_EQ(OperationForExtension(nullptr), 0u);
}

// The pieces of an operation agree: each switch of the command line runs its
// operation, whose output a double-click opens with the operation that undoes it.
TEST(OleThrOperation, EachSwitchWritesWhatADoubleClickUndoes) {
    size_t switches = 0;
    for (const OperationTraits& row : kOperationTable) {
        if (row.commandSwitch == nullptr) continue;
        ++switches;
        const std::string line = std::string("a.txt ") + row.commandSwitch + " Bob";
        TQXArgTable table;
        SplitCommandLine(line.c_str(), "C:\\bin\\tvcrypte.exe", &table);
        TransferRequest request;
        InterpretArguments(table, "D:\\work", &request);
        EXPECT_EQ(request.action, TransferAction::ExecuteCommand) << line;
        EXPECT_EQ(request.op, row.kind) << line;

        const std::string output = std::string(request.file) + row.extension;
        const uint32_t opened = OperationForExtension(output.c_str());
        EXPECT_EQ(opened, row.counterpart) << output;
        const OperationTraits* undo = FindFileOperation(opened);
        ASSERT_NE(undo, nullptr) << output;
        EXPECT_EQ(undo->counterpart, row.kind) << output;
    }
    EXPECT_EQ(switches, 3u);
}

TEST(OleThrRefused, StartsNothing) {
    int32_t before = CurrentThreadNumber();
    std::vector<TQXSelFil> list = List({"C:\\nowhere\\a.txt"});
    TQXOleThr thr;
    EXPECT_FALSE(thr.DoExecuteTarvisto(0, 1, list.data(), ""));
    EXPECT_FALSE(thr.DoExecuteTarvisto(2, 0, list.data(), ""));
    EXPECT_FALSE(thr.DoExecuteTarvisto(2, 1, nullptr, ""));
    EXPECT_FALSE(thr.DoExecuteTarvisto(2, 1, list.data(), nullptr));
    // A recipient that does not fit its 256 characters is refused, never cut.
    EXPECT_FALSE(thr.DoExecuteTarvisto(7, 1, list.data(), std::string(256, 'r').c_str()));
    // An entry without its terminator inside its 256 characters.
    std::vector<TQXSelFil> unterminated(1);
    memset(unterminated[0], 'x', sizeof(TQXSelFil));
    EXPECT_FALSE(thr.DoExecuteTarvisto(2, 1, unterminated.data(), ""));

    EXPECT_FALSE(thr.DoExecuteFile(0, list.data(), nullptr));
    EXPECT_FALSE(thr.DoExecuteFile(1, nullptr, nullptr));
    // report.txt as the only file: no operation, no thread.
    std::vector<TQXSelFil> text = List({"C:\\nowhere\\report.txt"});
    EXPECT_FALSE(thr.DoExecuteFile(1, text.data(), nullptr));
    std::vector<TQXSelFil> signedFile = List({"C:\\nowhere\\report.txt.sgn"});
    EXPECT_FALSE(thr.DoExecuteFile(1, signedFile.data(), std::string(300, 'r').c_str()));
    EXPECT_EQ(CurrentThreadNumber(), before);
}

// A window of class "TQXProgress" on a thread of its own.
class ProgressLookalike {
public:
    ProgressLookalike() {
        thread_ = std::thread([this] {
            window_ = CreateWindowExA(0, "TQXProgress", "look-alike", WS_POPUP | WS_VISIBLE, 10,
                                      10, 100, 50, nullptr, nullptr, GetModuleHandleA(nullptr),
                                      nullptr);
            threadId_ = GetCurrentThreadId();
            ready_ = true;
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
            DestroyWindow(window_);
        });
        if (!tvtest::WaitUntil([this] { return ready_.load(); }))
            ADD_FAILURE() << "the look-alike window's thread did not start";
    }
    ~ProgressLookalike() {
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }
    HWND window() const { return window_; }
    DWORD threadId() const { return threadId_; }

private:
    std::thread thread_;
    std::atomic<bool> ready_{false};
    HWND window_ = nullptr;
    DWORD threadId_ = 0;
};

TEST(OleThrBringToFront, RaisesTheJobsOwnProgressWindowBeforeAnyOther) {
    WNDCLASSA cls = {};
    cls.lpfnWndProc = DefWindowProcA;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = "TQXProgress";
    RegisterClassA(&cls);

    ProgressLookalike job;    // the window of the job we wait for
    ProgressLookalike other;  // another job's window, on top of the desktop
    BringWindowToTop(other.window());
    SetForegroundWindow(other.window());
    ASSERT_EQ(FindWindowA("TQXProgress", nullptr), other.window());

    EXPECT_TRUE(BringProgressWindowToFront(job.threadId()));
    EXPECT_EQ(GetForegroundWindow(), job.window());
    // Without a worker window the desktop search is the fallback.
    EXPECT_TRUE(BringProgressWindowToFront(GetCurrentThreadId()));
    EXPECT_EQ(GetForegroundWindow(), FindWindowA("TQXProgress", nullptr));
}

TEST_F(OleThrTest, EachFileRunsOnAWorkerOfItsOwnAndAnUnknownExtensionEndsTheRun) {
    for (const char* name : {"a.txt", "b.txt"}) {
        WriteFileBytes(Work(name), std::string("content of ") + name);
        std::vector<TQXSelFil> list = List({Work(name)});
        TQXOleThr signer;
        ASSERT_TRUE(signer.DoExecuteTarvisto(2, 1, list.data(), ""));
        DeleteFileA(Work(name).c_str());
    }
    WriteFileBytes(Work("c.txt"), "not protected");

    DialogAnswerer answerer(IDC_YESNOALL_NO);
    int32_t before = CurrentThreadNumber();
    std::vector<TQXSelFil> list = List({Work("a.txt.sgn"), Work("b.txt.sgn"), Work("c.txt"),
                                        Work("missing.crp")});
    TQXOleThr thr;
    // c.txt names no operation: the run ends there, as for a first file; it
    // does not take the previous file's operation.
    EXPECT_FALSE(thr.DoExecuteFile(static_cast<uint32_t>(list.size()), list.data(), nullptr));
    EXPECT_EQ(CurrentThreadNumber(), before + 2) << "one worker per verified file, in turn";
    EXPECT_EQ(ReadFileBytes(Work("a.txt")), "content of a.txt");
    EXPECT_EQ(ReadFileBytes(Work("b.txt")), "content of b.txt");
    EXPECT_FALSE(tvtest::Exists(Work("c.txt.sgn")));
    EXPECT_FALSE(tvtest::Exists(Work("c.txt.crp")));
    EXPECT_FALSE(tvtest::Exists(Work("c.txt.sme")));
    EXPECT_EQ(answerer.Seen().size(), 2u) << "one signature box per job";
}

LRESULT CALLBACK CallerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    static std::atomic<int>* handled = nullptr;
    if (message == WM_CREATE) {
        handled = static_cast<std::atomic<int>*>(
            reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        return 0;
    }
    if (message == WM_APP + 1 || message == WM_APP + 2) {
        if (handled) ++*handled;
        return 42;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(OleThrTest, TheCallersWindowKeepsHandlingMessagesWhileAJobRuns) {
    WNDCLASSA cls = {};
    cls.lpfnWndProc = CallerProc;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = "TvTransferCaller";
    RegisterClassA(&cls);
    std::atomic<int> handled{0};
    HWND caller = CreateWindowExA(0, "TvTransferCaller", "caller", WS_OVERLAPPED, 0, 0, 50, 50,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), &handled);
    ASSERT_NE(caller, nullptr);

    WriteFileBytes(Work("m.txt"), "while the question is open");
    WriteFileBytes(Work("m.txt.sgn"), "older");

    // While the job waits in its overwrite question, the caller's window
    // answers sent messages and handles posted ones; then the question is
    // answered Cancel.
    std::atomic<int> answeredSends{0};
    std::atomic<bool> questionSeen{false};
    HANDLE worker = nullptr;  // the job's thread, which asks the question
    std::vector<TQXSelFil> list = List({Work("m.txt")});
    TQXOleThr thr;
    // A job that the user cancels still reports that its worker started.
    EXPECT_TRUE(tvtest::WhileDriving(
        [&] {
            HWND question = tvtest::WaitForClassPrefix("TDYesNoAll");
            if (!question) return;
            worker = OpenThread(SYNCHRONIZE, FALSE, GetWindowThreadProcessId(question, nullptr));
            questionSeen = true;
            for (int i = 0; i < 5; ++i) {
                DWORD_PTR result = 0;
                if (SendMessageTimeoutA(caller, WM_APP + 1, 0, 0, SMTO_NORMAL, tvtest::kWaitMs,
                                        &result) &&
                    result == 42) {
                    ++answeredSends;
                }
                PostMessageA(caller, WM_APP + 2, 0, 0);
            }
            // The posted ones too are handled while the question is open.
            tvtest::WaitUntil([&] { return handled == 10; });
            tvtest::ClickChild(question, IDC_YESNOALL_CANCEL);
        },
        [&] { return thr.DoExecuteTarvisto(2, 1, list.data(), ""); }));
    PumpMessages(nullptr, 0, 0);
    DestroyWindow(caller);

    EXPECT_TRUE(questionSeen);
    // The call returns only once the job's thread has ended.
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(WaitForSingleObject(worker, 0), WAIT_OBJECT_0);
    CloseHandle(worker);
    EXPECT_EQ(answeredSends.load(), 5);
    EXPECT_EQ(handled.load(), 10);
    EXPECT_EQ(ReadFileBytes(Work("m.txt.sgn")), "older");
    EXPECT_EQ(BringToFrontRequest.load(), 0) << "the waiting thread took the request";
}

TEST_F(OleThrTest, AnExceptionOnTheJobsThreadEndsTheJobWithTheFailureRecorded) {
    WriteFileBytes(Work("x.txt"), "never signed");
    std::vector<TQXSelFil> list = List({Work("x.txt")});
    TQXOleThr thr;
    ClearLastError();
    {
        tvtest::Watchdog watchdog("a job whose thread throws", 120000);
        tvtest::FailNextAllocationOffThisThread();
        // The worker was started; its job failed before it could begin.
        EXPECT_TRUE(thr.DoExecuteTarvisto(2, 1, list.data(), ""));
    }
    EXPECT_TRUE(tvtest::AllocationFaultFired()) << "the job's thread allocated nothing";
    ErrorRecord held;
    GetLastErrorInfo(&held);
    EXPECT_EQ(std::string(held.text).rfind("Unexpected failure in DoExecuteTarvistoViaThr: "
                                           "std::bad_alloc", 0),
              0u)
        << held.text;
    EXPECT_FALSE(tvtest::Exists(Work("x.txt.sgn")));
    EXPECT_EQ(ReadFileBytes(Work("x.txt")), "never signed");
}

}  // namespace
}  // namespace tvtransfer
