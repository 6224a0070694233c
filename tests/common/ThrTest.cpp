#include "QXThr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>

#include "TestErrors.h"

using tvtest::Contains;
using tvtest::TakeError;

namespace {

ThreadParams Params(ThreadRoutine routine, void* argument, int priority = 0)
{
    ThreadParams p{};
    wsprintfA(p.name, "QXCryptProzessThr%4.4d", 100);
    p.number = 100;
    p.routine = routine;
    p.argument = argument;
    p.priority = priority;
    return p;
}

// What a worker found and did.
struct Seen {
    std::atomic<bool> finished{false};
    bool recordComplete = false;
    bool argumentSeen = false;
    int priority = -99;
    HANDLE release = nullptr;  // the routine goes on once it is set
};

bool WaitFor(const std::atomic<bool>& flag)
{
    for (int i = 0; i < 2000 && !flag; ++i)
        Sleep(5);
    return flag;
}

// Looks at its record, waits to be released, works a little and ends with 7.
DWORD WINAPI CheckingRoutine(void* arg)
{
    TThrPrm* prm = static_cast<TThrPrm*>(arg);
    Seen* seen = static_cast<Seen*>(prm->params->argument);
    seen->recordComplete = prm->record->running == 1 && prm->record->thread != nullptr &&
                           prm->record->threadId == GetCurrentThreadId() &&
                           prm->params == &prm->record->params;
    seen->argumentSeen = true;
    seen->priority = GetThreadPriority(GetCurrentThread());
    if (seen->release)
        WaitForSingleObject(seen->release, 60000);
    Sleep(100);
    seen->finished = true;
    return 7;
}

std::atomic<bool> g_spinning{false};
DWORD WINAPI EndlessRoutine(void*)
{
    g_spinning = true;
    for (;;)
        Sleep(10);
}

// A handle of its own on the thread, to look at it after the CThr is gone.
HANDLE Watch(const CThr& t)
{
    HANDLE watch = nullptr;
    DuplicateHandle(GetCurrentProcess(), t.record.thread, GetCurrentProcess(), &watch,
                    SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0);
    return watch;
}

DWORD ExitCodeOf(HANDLE thread)
{
    DWORD code = 12345;
    GetExitCodeThread(thread, &code);
    return code;
}

class ThrTest : public ::testing::Test {
protected:
    void SetUp() override { ClearLastError(); }
    void TearDown() override { ClearLastError(); }
};

TEST_F(ThrTest, InitWithoutRoutineFails)
{
    CThr t;
    SetLastError(5);
    EXPECT_FALSE(t.Init(Params(nullptr, nullptr)));
    int32_t code = -1;
    EXPECT_EQ("CThr::Init  [0 QXThr 100]", TakeError(&code));
    EXPECT_EQ(0, code);
    EXPECT_EQ(nullptr, t.record.params.routine);
    EXPECT_FALSE(t.Start()) << "nothing to start";
    EXPECT_TRUE(Contains(TakeError(), "CThr::Start"));
}

TEST_F(ThrTest, TheOwnerEndAwaitsTheRoutineAndClosesItsThread)
{
    Seen seen;
    seen.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CThr* t = new CThr;
    ASSERT_TRUE(t->Init(Params(&CheckingRoutine, &seen, THREAD_PRIORITY_BELOW_NORMAL)));
    EXPECT_STREQ("QXCryptProzessThr0100", t->record.params.name);
    ASSERT_TRUE(t->Start());
    HANDLE watch = Watch(*t);
    ASSERT_NE(nullptr, watch);
    EXPECT_FALSE(t->Wait(0)) << "still waiting to be released";
    SetEvent(seen.release);
    EXPECT_TRUE(t->End());
    EXPECT_TRUE(seen.finished) << "End returned before the routine did";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(watch, 0));
    EXPECT_EQ(7u, ExitCodeOf(watch)) << "ended by its routine, not terminated";
    EXPECT_EQ(0, t->record.running);
    EXPECT_EQ(nullptr, t->record.thread);
    EXPECT_TRUE(t->Wait(0)) << "nothing left to wait for";
    EXPECT_TRUE(seen.recordComplete);
    EXPECT_TRUE(seen.argumentSeen);
    EXPECT_EQ(THREAD_PRIORITY_BELOW_NORMAL, seen.priority);
    EXPECT_FALSE(t->End()) << "no handle left to close";
    EXPECT_TRUE(Contains(TakeError(), "CThr::End"));
    delete t;
    CloseHandle(watch);
    CloseHandle(seen.release);
}

// Sends to a window of the owner's thread while the owner is in End.
struct SendingWorker {
    HWND target = nullptr;
    std::atomic<bool> answered{false};
};
DWORD WINAPI SendingRoutine(void* arg)
{
    TThrPrm* prm = static_cast<TThrPrm*>(arg);
    SendingWorker* worker = static_cast<SendingWorker*>(prm->params->argument);
    DWORD_PTR result = 0;
    worker->answered = SendMessageTimeoutA(worker->target, WM_NULL, 0, 0, SMTO_NORMAL, 30000,
                                           &result) != 0;
    return 0;
}

TEST_F(ThrTest, EndServesMessagesThatTheWorkerSendsMeanwhile)
{
    SendingWorker worker;
    worker.target = CreateWindowExA(0, "STATIC", "owner", 0, 0, 0, 10, 10, nullptr, nullptr,
                                    GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, worker.target);
    CThr* t = StartWorkerThread("SendingThr", 1, &SendingRoutine, &worker, nullptr);
    ASSERT_NE(nullptr, t);
    EXPECT_TRUE(t->End());
    EXPECT_TRUE(worker.answered) << "the owner's window did not answer while it awaited";
    delete t;
    DestroyWindow(worker.target);
}

TEST_F(ThrTest, StartWorkerThreadNamesTheThreadAndHandsItOverBeforeItRuns)
{
    Seen seen;
    seen.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CThr* holder = reinterpret_cast<CThr*>(1);
    CThr* t = StartWorkerThread("ExeProzessThr0123", 123, &CheckingRoutine, &seen, &holder);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(t, holder);
    EXPECT_STREQ("ExeProzessThr0123", t->record.params.name);
    EXPECT_EQ(123, t->record.params.number);
    EXPECT_EQ(0, t->record.params.reserved);
    EXPECT_EQ(0, t->record.params.priority);
    SetEvent(seen.release);
    EXPECT_TRUE(t->End());
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, seen.priority);
    delete t;

    // Without a routine nothing starts and the holder is cleared.
    holder = reinterpret_cast<CThr*>(1);
    EXPECT_EQ(nullptr, StartWorkerThread("x", 1, nullptr, nullptr, &holder));
    EXPECT_EQ(nullptr, holder);
    EXPECT_TRUE(Contains(TakeError(), "CThr::Init"));
    CloseHandle(seen.release);
}

TEST_F(ThrTest, AThreadStartsOnlyOnce)
{
    CThr t;
    ASSERT_TRUE(t.Init(Params(&EndlessRoutine, nullptr)));
    g_spinning = false;
    ASSERT_TRUE(t.Start());
    HANDLE first = t.record.thread;
    DWORD id = t.record.threadId;
    EXPECT_NE(0u, id);
    EXPECT_FALSE(t.Start());
    EXPECT_TRUE(Contains(TakeError(), "CThr::Start"));
    EXPECT_EQ(first, t.record.thread);
    EXPECT_EQ(id, t.record.threadId);
    ASSERT_TRUE(WaitFor(g_spinning));
    EXPECT_TRUE(t.Kill());
    EXPECT_EQ(0, t.record.running);
    EXPECT_EQ(nullptr, t.record.thread);
    EXPECT_EQ(id, t.record.threadId) << "kept after the end";
    EXPECT_FALSE(t.Start()) << "not even after Kill";
    TakeError();
}

TEST_F(ThrTest, DeletingAStartedCThrAwaitsItsThreadInsteadOfKillingIt)
{
    Seen seen;
    CThr* t = new CThr;
    ASSERT_TRUE(t->Init(Params(&CheckingRoutine, &seen)));
    ASSERT_TRUE(t->Start());
    HANDLE watch = Watch(*t);
    ASSERT_NE(nullptr, watch);
    delete t;
    EXPECT_TRUE(seen.finished);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(watch, 0));
    EXPECT_EQ(7u, ExitCodeOf(watch));
    CloseHandle(watch);
    EXPECT_EQ("", TakeError());
}

TEST_F(ThrTest, ConstructionClears)
{
    ReportResult(false, "ctx", 1, "held");
    CThr t;
    EXPECT_EQ("", TakeError());
    EXPECT_EQ(nullptr, t.record.thread);
    EXPECT_EQ(0, t.record.running);
    EXPECT_EQ(0u, t.record.threadId);
    EXPECT_TRUE(t.Kill()) << "nothing to kill";
}

DWORD WINAPI ThrowingRoutine(void*)
{
    throw std::runtime_error("escapes the routine");
}

TEST_F(ThrTest, AnExceptionThatEscapesTheRoutineEndsOnlyItsThread)
{
    CThr* t = StartWorkerThread("ExeProzessThr0007", 7, &ThrowingRoutine, nullptr, nullptr);
    ASSERT_NE(nullptr, t);
    HANDLE watch = Watch(*t);
    ASSERT_NE(nullptr, watch);
    EXPECT_TRUE(t->End());
    EXPECT_EQ(574u, ExitCodeOf(watch)) << "the system's code for an unhandled exception";
    delete t;
    CloseHandle(watch);
}

}  // namespace
