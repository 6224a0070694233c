#include "QXThr.h"

#include <gtest/gtest.h>

#include <atomic>
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

// What a worker found and did, set by the worker as its last action.
struct Seen {
    std::atomic<bool> done{false};
    bool recordComplete = false;
    bool argumentSeen = false;
    int priority = -99;
    bool endResult = false;
    bool secondEnd = true;
    CThr* self = nullptr;
};

bool WaitFor(const std::atomic<bool>& flag)
{
    for (int i = 0; i < 200 && !flag; ++i)
        Sleep(25);
    return flag;
}

DWORD WINAPI EndingRoutine(void* arg)
{
    TThrPrm* prm = static_cast<TThrPrm*>(arg);
    Seen* seen = static_cast<Seen*>(prm->params->argument);
    seen->recordComplete = prm->record->running == 1 && prm->record->thread != nullptr &&
                           prm->record->threadId == GetCurrentThreadId() &&
                           prm->params == &prm->record->params;
    seen->argumentSeen = true;
    seen->priority = GetThreadPriority(GetCurrentThread());
    CThr* self = seen->self;
    seen->endResult = self->End();
    seen->secondEnd = self->End();
    delete self;  // the routine owns its CThr once started
    seen->done = true;
    return 0;
}

std::atomic<bool> g_spinning{false};
DWORD WINAPI EndlessRoutine(void*)
{
    g_spinning = true;
    for (;;)
        Sleep(10);
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

TEST_F(ThrTest, RoutineRunsWithItsRecordAndEndsItself)
{
    Seen seen;
    CThr* t = new CThr;
    seen.self = t;
    ASSERT_TRUE(t->Init(Params(&EndingRoutine, &seen, THREAD_PRIORITY_BELOW_NORMAL)));
    EXPECT_STREQ("QXCryptProzessThr0100", t->record.params.name);
    ASSERT_TRUE(t->Start());
    ASSERT_TRUE(WaitFor(seen.done));
    EXPECT_TRUE(seen.recordComplete);
    EXPECT_TRUE(seen.argumentSeen);
    EXPECT_EQ(THREAD_PRIORITY_BELOW_NORMAL, seen.priority);
    EXPECT_TRUE(seen.endResult);
    EXPECT_FALSE(seen.secondEnd) << "no handle left to close";
    EXPECT_TRUE(Contains(TakeError(), "CThr::End"));
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

TEST_F(ThrTest, DeletingARunningThreadTerminatesIt)
{
    CThr* t = new CThr;
    ASSERT_TRUE(t->Init(Params(&EndlessRoutine, nullptr)));
    g_spinning = false;
    ASSERT_TRUE(t->Start());
    ASSERT_TRUE(WaitFor(g_spinning));
    HANDLE watch = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), t->record.thread, GetCurrentProcess(),
                                &watch, SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0));
    delete t;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(watch, 5000));
    DWORD exitCode = 1;
    EXPECT_TRUE(GetExitCodeThread(watch, &exitCode));
    EXPECT_EQ(0u, exitCode);
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

}  // namespace
