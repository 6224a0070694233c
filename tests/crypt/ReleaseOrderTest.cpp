// Stores and their providers on every path of the store and message members:
// a store opened with a provider is closed before that provider is released,
// and both are released exactly once. The test program's own imports of the
// open, close and release calls are replaced by recorders that pass each call
// on to the platform, so the order is seen as the platform sees it.
#include "CertFixture.h"
#include "CryptAPI.h"
#include "QXHandles.h"
#include "QXTools.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// Points this program's import of `function` from `dll` at `replacement`;
// returns what it pointed at, null when the program does not import it.
void* ReplaceImport(const char* dll, const char* function, void* replacement)
{
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress)
        return nullptr;
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name; ++entry) {
        if (_stricmp(reinterpret_cast<char*>(base + entry->Name), dll) != 0 ||
            !entry->OriginalFirstThunk)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char*>(byName->Name), function) != 0)
                continue;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                           &protection);
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection,
                           &protection);
            return previous;
        }
    }
    return nullptr;
}

using OpenStoreFn = HCERTSTORE(WINAPI*)(LPCSTR, DWORD, HCRYPTPROV_LEGACY, DWORD, const void*);
using CloseStoreFn = BOOL(WINAPI*)(HCERTSTORE, DWORD);
using ReleaseFn = BOOL(WINAPI*)(HCRYPTPROV, DWORD);

// What the recorders saw on the test's thread while a recording ran.
struct Journal {
    struct Opened {
        HCERTSTORE store;
        HCRYPTPROV provider;
        bool closed;
    };
    DWORD thread = 0;
    bool recording = false;
    std::vector<Opened> stores;           // opened with a provider
    std::vector<HCRYPTPROV> released;      // every provider release
    std::vector<std::string> faults;       // what broke the rule, in words

    bool Mine() const { return recording && GetCurrentThreadId() == thread; }
};

Journal journal;
OpenStoreFn realOpenStore = nullptr;
CloseStoreFn realCloseStore = nullptr;
ReleaseFn realRelease = nullptr;

HCERTSTORE WINAPI RecordOpenStore(LPCSTR provider, DWORD encoding, HCRYPTPROV_LEGACY prov,
                                  DWORD flags, const void* para)
{
    HCERTSTORE store = realOpenStore(provider, encoding, prov, flags, para);
    if (journal.Mine() && store && prov)
        journal.stores.push_back({store, static_cast<HCRYPTPROV>(prov), false});
    return store;
}

BOOL WINAPI RecordCloseStore(HCERTSTORE store, DWORD flags)
{
    DWORD code = GetLastError();
    if (journal.Mine()) {
        for (auto& open : journal.stores) {
            if (open.store == store && !open.closed) {
                open.closed = true;
                break;
            }
        }
    }
    SetLastError(code);
    return realCloseStore(store, flags);
}

BOOL WINAPI RecordRelease(HCRYPTPROV provider, DWORD flags)
{
    DWORD code = GetLastError();
    if (journal.Mine()) {
        journal.released.push_back(provider);
        for (const auto& open : journal.stores)
            if (open.provider == provider && !open.closed)
                journal.faults.push_back("a provider was released while its store was open");
    }
    SetLastError(code);
    return realRelease(provider, flags);
}

class ReleaseOrderTest : public tvtest::CertSuite {
protected:
    static void SetUpTestSuite()
    {
        realOpenStore = reinterpret_cast<OpenStoreFn>(
            ReplaceImport("crypt32.dll", "CertOpenStore", reinterpret_cast<void*>(&RecordOpenStore)));
        realCloseStore = reinterpret_cast<CloseStoreFn>(ReplaceImport(
            "crypt32.dll", "CertCloseStore", reinterpret_cast<void*>(&RecordCloseStore)));
        realRelease = reinterpret_cast<ReleaseFn>(ReplaceImport(
            "advapi32.dll", "CryptReleaseContext", reinterpret_cast<void*>(&RecordRelease)));
        ASSERT_NE(nullptr, realOpenStore);
        ASSERT_NE(nullptr, realCloseStore);
        ASSERT_NE(nullptr, realRelease);

        certs = new tvtest::CertFixture;
        own = certs->NewStore("own");
        pub = certs->NewStore("pub");
        ASSERT_TRUE(certs->MakePerson("Order Alice", own));
        ASSERT_TRUE(certs->CopyPublic("Order Alice", own, pub));
    }
    static void TearDownTestSuite()
    {
        CertSuite::TearDownTestSuite();
        if (realOpenStore)
            ReplaceImport("crypt32.dll", "CertOpenStore", reinterpret_cast<void*>(realOpenStore));
        if (realCloseStore)
            ReplaceImport("crypt32.dll", "CertCloseStore", reinterpret_cast<void*>(realCloseStore));
        if (realRelease)
            ReplaceImport("advapi32.dll", "CryptReleaseContext", reinterpret_cast<void*>(realRelease));
    }
    // Runs one call with the recorders on and checks the journal: at least one
    // store was opened with a provider, every such store was closed before its
    // provider was released, and each provider was released exactly once.
    static void ExpectStoreClosedFirst(const std::function<void()>& call)
    {
        journal = Journal{};
        journal.thread = GetCurrentThreadId();
        journal.recording = true;
        call();
        journal.recording = false;

        ASSERT_FALSE(journal.stores.empty()) << "no store was opened with a provider";
        for (const auto& fault : journal.faults)
            ADD_FAILURE() << fault;
        for (const auto& open : journal.stores) {
            EXPECT_TRUE(open.closed) << "a store was left open";
            EXPECT_EQ(1, std::count(journal.released.begin(), journal.released.end(),
                                    open.provider))
                << "a store's provider was not released exactly once";
        }
    }

    static std::string own, pub;
};

std::string ReleaseOrderTest::own, ReleaseOrderTest::pub;

const BYTE kData[] = "release order";
const uint32_t kLength = sizeof kData - 1;

TEST_F(ReleaseOrderTest, SigningClosesTheStoreFirstOnEveryPath)
{
    TQXCrypt crypt;
    BYTE* out = nullptr;
    uint32_t length = 0;
    // Signer missing, signer without a key, signed.
    ExpectStoreClosedFirst([&] {
        EXPECT_FALSE(crypt.SignBuffer(own.c_str(), "Nobody Here", kData, kLength, &out, &length));
    });
    ExpectStoreClosedFirst([&] {
        EXPECT_FALSE(crypt.SignBuffer(pub.c_str(), "Order Alice", kData, kLength, &out, &length));
    });
    ExpectStoreClosedFirst([&] {
        EXPECT_TRUE(crypt.SignBuffer(own.c_str(), "Order Alice", kData, kLength, &out, &length));
    });
    crypt.FreeBuffer(out);
}

TEST_F(ReleaseOrderTest, EncryptingAndDecryptingCloseTheStoreFirstOnEveryPath)
{
    TQXCrypt crypt;
    BYTE* message = nullptr;
    uint32_t messageLength = 0;
    ExpectStoreClosedFirst([&] {
        EXPECT_FALSE(crypt.EncryptBuffer(pub.c_str(), "Nobody Here", kData, kLength, &message,
                                         &messageLength));
    });
    ExpectStoreClosedFirst([&] {
        EXPECT_TRUE(crypt.EncryptBuffer(pub.c_str(), "Order Alice", kData, kLength, &message,
                                        &messageLength));
    });
    ASSERT_NE(nullptr, message);

    BYTE* plain = nullptr;
    uint32_t plainLength = 0;
    // Not a message; no key for it in the store; decrypted.
    ExpectStoreClosedFirst([&] {
        EXPECT_FALSE(crypt.DecryptBuffer(own.c_str(), kData, kLength, &plain, &plainLength));
    });
    ExpectStoreClosedFirst([&] {
        EXPECT_FALSE(crypt.DecryptBuffer(pub.c_str(), message, messageLength, &plain,
                                         &plainLength));
    });
    ExpectStoreClosedFirst([&] {
        EXPECT_TRUE(crypt.DecryptBuffer(own.c_str(), message, messageLength, &plain,
                                        &plainLength));
    });
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(kData), kLength),
              std::string(reinterpret_cast<const char*>(plain), plainLength));
    crypt.FreeBuffer(plain);
    crypt.FreeBuffer(message);
}

TEST_F(ReleaseOrderTest, StoreMaintenanceClosesTheStoreFirst)
{
    TQXCrypt crypt;
    PCCERT_CONTEXT alice = certs->Certificate("Order Alice", own);
    ASSERT_NE(nullptr, alice);
    const std::string other = certs->NewStore("other");
    ExpectStoreClosedFirst([&] { EXPECT_TRUE(crypt.ContainsCertificate(own.c_str(), alice)); });
    ExpectStoreClosedFirst([&] { EXPECT_FALSE(crypt.ContainsCertificate(other.c_str(), alice)); });
    ExpectStoreClosedFirst([&] { EXPECT_TRUE(crypt.AddCertificate(pub.c_str(), alice)); });
    ExpectStoreClosedFirst([&] { EXPECT_TRUE(crypt.AddCertificate(other.c_str(), alice)); });
    ExpectStoreClosedFirst([&] {
        bool held = false;
        EXPECT_TRUE(crypt.CheckSubjectHolder(own.c_str(), alice, &held));
        EXPECT_TRUE(held);
    });
    CertFreeCertificateContext(alice);
}

TEST_F(ReleaseOrderTest, AnOwnerGivenAnotherStoreClosesTheOldStoreBeforeItsProvider)
{
    TQXCrypt crypt;
    auto open = [&](const std::string& name) {
        HCRYPTPROV provider = 0;
        HCERTSTORE store = crypt.OpenStore(name.c_str(), &provider);
        return qx::ProviderStore(store, provider);
    };
    ExpectStoreClosedFirst([&] {
        qx::ProviderStore held = open(own);
        ASSERT_TRUE(held);
        held = open(pub);
        ASSERT_TRUE(held);
        qx::ProviderStore moved(std::move(held));
        EXPECT_FALSE(held);
        EXPECT_NE(0u, moved.provider());
    });
}

}  // namespace
