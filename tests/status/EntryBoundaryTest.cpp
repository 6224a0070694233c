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
    tvtest::FailNextAllocationOnThisThread();
    EXPECT_FALSE(OpenQXStatus(&handle));
    EXPECT_TRUE(tvtest::AllocationFaultFired());
    EXPECT_EQ(handle, reinterpret_cast<QXStatusHandle>(0x1234)) << "written only on success";
    EXPECT_EQ(FindWindowA("TQXProgress", nullptr), nullptr);
    EXPECT_EQ(TakeError(), "Unexpected failure in OpenQXStatus: std::bad_alloc  [0 tvstatus 2701]");
}

}  // namespace
