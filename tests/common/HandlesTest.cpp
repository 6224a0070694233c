// The handle owners: each handle released exactly once, moves hand it on,
// clean-up keeps the error of the failed step, and each kind releases with
// its own call.
#include "QXHandles.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TestFiles.h"

namespace {

// A kind of handle for the tests: ints, -1 invalid; every release is recorded
// and sets the thread's error, as a platform call may.
std::vector<int> released;
bool releaseFails = false;

struct FakeTraits {
    static int invalid() { return -1; }
    static bool close(int handle)
    {
        released.push_back(handle);
        SetLastError(releaseFails ? ERROR_INVALID_HANDLE : ERROR_SUCCESS);
        return !releaseFails;
    }
};
using Fake = qx::Owned<int, FakeTraits>;

class OwnedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        released.clear();
        releaseFails = false;
    }
};

TEST_F(OwnedTest, AHandleIsReleasedOnceWhenItsOwnerGoesAndNothingInvalidIsReleased)
{
    {
        Fake none;
        Fake invalid(-1);
        EXPECT_FALSE(none);
        EXPECT_FALSE(invalid);
        Fake held(7);
        EXPECT_TRUE(held);
        EXPECT_EQ(7, held.get());
    }
    EXPECT_EQ(std::vector<int>{7}, released);
}

TEST_F(OwnedTest, MovesHandTheHandleOnAndAnAssignedOwnerReleasesWhatItHeld)
{
    {
        Fake first(1);
        Fake second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(1, second.get());
        Fake third(3);
        third = std::move(second);
        EXPECT_EQ(std::vector<int>{3}, released);
        EXPECT_EQ(1, third.get());
    }
    EXPECT_EQ((std::vector<int>{3, 1}), released);
}

TEST_F(OwnedTest, ResetAndOutReleaseTheHeldHandleAndKeepTheThreadsError)
{
    Fake held(1);
    SetLastError(ERROR_FILE_NOT_FOUND);
    held.reset(2);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    held.reset(2);  // the handle it holds already: kept, not released
    int* slot = held.out();
    EXPECT_EQ(-1, *slot);
    *slot = 4;
    releaseFails = true;
    SetLastError(ERROR_ACCESS_DENIED);
    held.reset();
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ((std::vector<int>{1, 2, 4}), released);
}

TEST_F(OwnedTest, ReleaseHandsTheHandleOutAndCloseReportsAFailedRelease)
{
    {
        Fake given(5);
        EXPECT_EQ(5, given.release());
        EXPECT_FALSE(given);
        EXPECT_TRUE(given.close());  // nothing held
    }
    EXPECT_TRUE(released.empty());

    Fake good(6);
    EXPECT_TRUE(good.close());
    Fake bad(8);
    releaseFails = true;
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(bad.close());
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_FALSE(bad);  // given up even so: never released twice
    EXPECT_EQ((std::vector<int>{6, 8}), released);
}

// ---------------------------------------------------------------------------
// The kinds, each with its own release.

TEST(HandleKindsTest, AFileOwnerClosesItsFileAndAFailedOpenHoldsNothing)
{
    tvtest::TempDir dir("handles");
    const std::string path = dir / "locked.bin";
    auto openAlone = [&] {
        return qx::File(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    qx::File first = openAlone();
    ASSERT_TRUE(first);
    EXPECT_FALSE(openAlone()) << "the file is not shared while its owner holds it";
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    first.reset();
    EXPECT_TRUE(openAlone()) << "the owner closed it";

    qx::File missing(CreateFileA((dir / "absent\\x.bin").c_str(), GENERIC_READ, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(missing);
    EXPECT_EQ(INVALID_HANDLE_VALUE, missing.get());
}

TEST(HandleKindsTest, AComInitialisationIsUndoneWhenItsOwnerGoesAndOnlyWhenItTook)
{
    // On a thread of its own: the apartment of the test's thread plays no part.
    std::thread([] {
        {
            qx::ComInit com;
            ASSERT_TRUE(com);
            EXPECT_EQ(S_FALSE, CoInitialize(nullptr)) << "initialised while the owner lives";
            CoUninitialize();
        }
        EXPECT_EQ(S_OK, CoInitialize(nullptr)) << "undone when the owner went";
        CoUninitialize();

        // In the multi-threaded apartment the initialisation fails; the owner
        // leaves the apartment as it was.
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        {
            qx::ComInit com;
            EXPECT_FALSE(com);
            EXPECT_EQ(RPC_E_CHANGED_MODE, com.result());
        }
        EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_MULTITHREADED)) << "still in it";
        CoUninitialize();
        CoUninitialize();
    }).join();
}

TEST(HandleKindsTest, KeyEventAndGdiOwnersReleaseWithTheirOwnCalls)
{
    tvtest::TempDir dir("handles");
    tvtest::WriteFileBytes(dir / "a.txt", "a");
    WIN32_FIND_DATAA entry;
    qx::Find listing(FindFirstFileA((dir / "*").c_str(), &entry));
    EXPECT_TRUE(listing);
    EXPECT_FALSE(qx::Find(FindFirstFileA((dir / "none*").c_str(), &entry)));

    qx::RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, key.out()));
    HKEY raw = key.get();
    EXPECT_TRUE(key.close());
    DWORD subkeys = 0;
    EXPECT_NE(ERROR_SUCCESS, RegQueryInfoKeyA(raw, nullptr, nullptr, nullptr, &subkeys, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr))
        << "the key is closed";

    qx::Kernel event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    HANDLE rawEvent = event.get();
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(rawEvent, &flags));
    event.reset();
    EXPECT_FALSE(GetHandleInformation(rawEvent, &flags)) << "the event is closed";

    HFONT rawFont = nullptr;
    {
        qx::Font font(CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0,
                                  "Arial"));
        rawFont = font.get();
        ASSERT_NE(nullptr, rawFont);
        EXPECT_EQ(static_cast<DWORD>(OBJ_FONT), GetObjectType(rawFont));
    }
    EXPECT_EQ(0u, GetObjectType(rawFont)) << "the font is deleted";
}

}  // namespace
