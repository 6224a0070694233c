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

TEST(HandleKindsTest, AWindowsDeviceContextGoesBackToItsWindowOnceAndAMoveCarriesTheWindow)
{
    HWND window = CreateWindowExA(0, "STATIC", "dc", WS_POPUP, 0, 0, 20, 20, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    // Without an owner the platform takes a context back exactly once.
    HDC plain = GetDC(window);
    ASSERT_NE(nullptr, plain);
    ASSERT_EQ(1, ReleaseDC(window, plain));

    HDC raw = nullptr;
    {
        qx::WindowDc first(GetDC(window), window);
        ASSERT_TRUE(first);
        raw = first.get();
        qx::WindowDc second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(window, second.window());
        EXPECT_EQ(raw, second.get());
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(0, ReleaseDC(window, raw)) << "the owner gave the context back already";

    {
        qx::ScreenDc screen(GetDC(nullptr));
        EXPECT_TRUE(screen);
        EXPECT_EQ(nullptr, screen.window());
    }
    DestroyWindow(window);
}

// ---------------------------------------------------------------------------
// The storage medium of a data object.

// Counts its releases; a medium that names it is released through it.
class CountedUnknown : public IUnknown {
public:
    int releases = 0;
    STDMETHODIMP QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ++releases;
        SetLastError(ERROR_INVALID_HANDLE);
        return 1;
    }
};

// A data object whose GetData fills the medium with one that names `unknown`;
// with `fail` it fills it all the same and reports a failure, as a careless
// source may.
class OneMediumData : public IDataObject {
public:
    explicit OneMediumData(CountedUnknown* unknown) : unknown_(unknown) {}
    bool fail = false;

    STDMETHODIMP GetData(FORMATETC*, STGMEDIUM* medium) override
    {
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = nullptr;
        medium->pUnkForRelease = unknown_;
        return fail ? E_FAIL : S_OK;
    }
    STDMETHODIMP QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    CountedUnknown* unknown_;
};

TEST(StorageMediumTest, AMediumIsReleasedOnceAndAMoveHandsItOn)
{
    CountedUnknown unknown;
    OneMediumData data(&unknown);
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    {
        qx::StorageMedium first;
        EXPECT_FALSE(first);
        ASSERT_EQ(S_OK, first.Get(&data, &format));
        ASSERT_TRUE(first);
        EXPECT_EQ(static_cast<DWORD>(TYMED_HGLOBAL), first.get().tymed);
        qx::StorageMedium second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_TRUE(second);
        EXPECT_EQ(0, unknown.releases);
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(1, unknown.releases);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError())
        << "clean-up keeps the thread's error";

    // A second GetData into the same owner releases the medium it held.
    qx::StorageMedium held;
    ASSERT_EQ(S_OK, held.Get(&data, &format));
    ASSERT_EQ(S_OK, held.Get(&data, &format));
    EXPECT_EQ(2, unknown.releases);
    held.reset();
    EXPECT_EQ(3, unknown.releases);
    held.reset();
    EXPECT_EQ(3, unknown.releases);
}

TEST(StorageMediumTest, AFailedGetDataLeavesNothingToReleaseWhateverTheSourceWrote)
{
    CountedUnknown unknown;
    OneMediumData data(&unknown);
    data.fail = true;
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    {
        qx::StorageMedium medium;
        EXPECT_EQ(E_FAIL, medium.Get(&data, &format));
        EXPECT_FALSE(medium);
        EXPECT_EQ(static_cast<DWORD>(TYMED_NULL), medium.get().tymed);
    }
    EXPECT_EQ(0, unknown.releases);
}

}  // namespace
