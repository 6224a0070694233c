// A host that frees a library of ours while a worker of that library still
// runs: the worker's own reference keeps the library's code mapped until the
// worker's very last act, and it gives that reference back.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const char kLibraryName[] = "thrmodule.dll";
const DWORD kDeadlineMs = 60000;

typedef BOOL(WINAPI* StartHeldWorkerFn)(HANDLE started, HANDLE release, HANDLE* watch);
typedef BOOL(WINAPI* EndHeldWorkerFn)();

// The library beside this test program.
std::string LibraryPath()
{
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    folder.erase(folder.find_last_of('\\') + 1);
    return folder + kLibraryName;
}

class ThrModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        started_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        release_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(nullptr, started_);
        ASSERT_NE(nullptr, release_);
        ASSERT_EQ(nullptr, GetModuleHandleA(kLibraryName)) << "loaded before the test";
    }
    // The host's load of the library and the two entries it calls.
    static void LoadWorkerLibrary(HMODULE* library, StartHeldWorkerFn* start, EndHeldWorkerFn* end)
    {
        *library = LoadLibraryA(LibraryPath().c_str());
        ASSERT_NE(nullptr, *library) << LibraryPath();
        *start = reinterpret_cast<StartHeldWorkerFn>(GetProcAddress(*library, "StartHeldWorker"));
        *end = reinterpret_cast<EndHeldWorkerFn>(GetProcAddress(*library, "EndHeldWorker"));
        ASSERT_NE(nullptr, *start);
        ASSERT_NE(nullptr, *end);
    }
    void TearDown() override
    {
        SetEvent(release_);  // never leave a worker waiting
        if (watch_)
            CloseHandle(watch_);
        CloseHandle(started_);
        CloseHandle(release_);
    }

    HANDLE started_ = nullptr;
    HANDLE release_ = nullptr;
    HANDLE watch_ = nullptr;
};

TEST_F(ThrModuleTest, AFreedLibraryStaysMappedUntilItsWorkerHasEnded)
{
    HMODULE library = nullptr;
    StartHeldWorkerFn start = nullptr;
    EndHeldWorkerFn end = nullptr;
    ASSERT_NO_FATAL_FAILURE(LoadWorkerLibrary(&library, &start, &end));

    ASSERT_TRUE(start(started_, release_, &watch_));
    ASSERT_NE(nullptr, watch_);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started_, kDeadlineMs))
        << "the worker did not start";

    // The host's unload while the worker runs: the host held the only other
    // reference, so only the worker's keeps the library now.
    ASSERT_TRUE(FreeLibrary(library));
    EXPECT_EQ(library, GetModuleHandleA(kLibraryName))
        << "the library was unmapped under its running worker";
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(watch_, 0)) << "the worker still waits";

    // The owner comes back (as a host does on the next call) and ends its
    // worker: released, the worker runs the library's code once more and
    // gives its reference back as its last act.
    HMODULE again = LoadLibraryA(LibraryPath().c_str());
    ASSERT_EQ(library, again) << "the same mapping, not a fresh load";
    SetEvent(release_);
    EXPECT_TRUE(end());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(watch_, kDeadlineMs))
        << "the worker's thread did not end";
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(watch_, &code));
    EXPECT_EQ(7u, code) << "the thread ends with what its routine returned";

    ASSERT_TRUE(FreeLibrary(again));
    EXPECT_EQ(nullptr, GetModuleHandleA(kLibraryName))
        << "the worker kept its reference: the library can never be unloaded";
}

TEST_F(ThrModuleTest, AWorkerThatHasEndedHoldsNothing)
{
    HMODULE library = nullptr;
    StartHeldWorkerFn start = nullptr;
    EndHeldWorkerFn end = nullptr;
    ASSERT_NO_FATAL_FAILURE(LoadWorkerLibrary(&library, &start, &end));

    SetEvent(release_);
    ASSERT_TRUE(start(started_, release_, &watch_));
    EXPECT_TRUE(end());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(watch_, 0)) << "End returned before the thread ended";
    EXPECT_FALSE(end()) << "no worker left to end";

    ASSERT_TRUE(FreeLibrary(library));
    EXPECT_EQ(nullptr, GetModuleHandleA(kLibraryName)) << "the host's unload is the last";
}

}  // namespace
