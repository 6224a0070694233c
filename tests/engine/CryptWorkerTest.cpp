// The crypt worker and the job's thread that waits for it: the job's thread
// owns the worker and awaits it, a worker that ends without a result cannot
// hold the job, and what is thrown on the worker fails the step.
#include "AllocationFault.h"
#include "EngineFixture.h"

#include "Watchdog.h"

using namespace enginetest;
using tvtest::Exists;
using tvtest::ReadFileBytes;
using tvtest::Watchdog;
using tvtest::WriteFileBytes;

namespace {

class CryptWorker : public EngineTest {};

DWORD WINAPI LeavesWithoutResult(void*) { return 0; }

TEST_F(CryptWorker, AWorkerThatEndsWithoutAResultDoesNotHoldTheJob) {
    CryptRequest request{};
    request.op = OpSign;
    request.busy.store(1);
    request.result.store(1);
    ASSERT_NE(StartWorkerThread("QXCryptProzessThr0999", 999, &LeavesWithoutResult, &request,
                                &request.thread),
              nullptr);
    {
        Watchdog watchdog("the wait for a worker that left no result", 60000);
        EXPECT_FALSE(TQXCryptDir::AwaitCryptOp(&request));
    }
    EXPECT_EQ(request.busy.load(), 0);
    EXPECT_EQ(request.result.load(), 0);
    EXPECT_EQ(request.thread, nullptr);
    EXPECT_TRUE(StartsWith(Held(), "The crypt worker thread ended without a result!"));
}

TEST_F(CryptWorker, TheJobsThreadOwnsTheWorkerAndAwaitsItsEnd) {
    auto job = NewJob();
    CryptRequest request{};
    ASSERT_TRUE(job->RunCryptOp(OpCountFiles, &request));
    CThr* thread = request.thread;
    ASSERT_NE(thread, nullptr);
    HANDLE watch = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), thread->record.thread, GetCurrentProcess(),
                                &watch, SYNCHRONIZE, FALSE, 0));
    ASSERT_EQ(WaitForSingleObject(watch, 60000), WAIT_OBJECT_0);
    // Ended, yet its thread object is still the job's, not deleted by the worker.
    EXPECT_EQ(request.thread, thread);
    EXPECT_EQ(request.busy.load(), 0);
    EXPECT_FALSE(TQXCryptDir::AwaitCryptOp(&request));
    EXPECT_EQ(request.thread, nullptr);
    CloseHandle(watch);
}

TEST_F(CryptWorker, AnExceptionOnTheWorkerFailsTheFileAndKeepsTheSource) {
    auto job = NewJob();
    const std::string body = tvtest::PatternBytes(2000001, 3);
    WriteFileBytes(work / "large.bin", body);
    int32_t before = CurrentThreadNumber();
    {
        Watchdog watchdog("a signature whose worker throws", 120000);
        tvtest::FailNextAllocationOffThisThread();
        EXPECT_FALSE(job->SignFile(1, (work / "large.bin").c_str()));
    }
    EXPECT_TRUE(tvtest::AllocationFaultFired()) << "the worker allocated nothing";
    EXPECT_EQ(CurrentThreadNumber(), before + 1) << "the step ran on a worker";
    EXPECT_FALSE(Exists(work / "large.bin.sgn"));
    EXPECT_EQ(ReadFileBytes(work / "large.bin"), body);
    auto errors = status.Updates(0);
    ASSERT_EQ(errors.size(), 1u) << status.Log();
    std::string detail = Field(errors[0], "detail");
    EXPECT_TRUE(StartsWith(detail, "Unexpected failure in CryptThreadProc: std::bad_alloc"))
        << detail;
}

}  // namespace
