// The entry points of the dialogs library, compiled into this program: what
// is thrown inside one becomes its failure value and a held failure.
#include <gtest/gtest.h>

#include <windows.h>

#include "AllocationFault.h"
#include "QXTools.h"
#include "StatusRecord.h"
#include "TestErrors.h"

extern "C" bool WINAPI OpenQXStatus(QXStatusHandle* out);

using tvtest::TakeError;

namespace {

int ThreadWindowCount()
{
    int count = 0;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND, LPARAM param) -> BOOL {
            ++*reinterpret_cast<int*>(param);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

class EntryBoundary : public ::testing::Test {
protected:
    void SetUp() override { ClearLastError(); }
    void TearDown() override
    {
        tvtest::AllocationFaultFired();
        ClearLastError();
    }
};

TEST_F(EntryBoundary, AnOpenThatThrowsMakesNoWindowAndFails)
{
    QXStatusHandle handle = reinterpret_cast<QXStatusHandle>(0x1234);
    int windowsBefore = ThreadWindowCount();
    tvtest::FailNextAllocationOnThisThread();
    EXPECT_FALSE(OpenQXStatus(&handle));
    EXPECT_TRUE(tvtest::AllocationFaultFired());
    EXPECT_EQ(handle, reinterpret_cast<QXStatusHandle>(0x1234)) << "written only on success";
    EXPECT_EQ(ThreadWindowCount(), windowsBefore) << "a progress window was left behind";
    EXPECT_EQ(TakeError(), "Unexpected failure in OpenQXStatus: std::bad_alloc  [0 tvstatus 2701]");
}

}  // namespace
