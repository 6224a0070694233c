// Walking a store's certificates, the private-key test and the validity test,
// and the bounded listing a recipient menu builds from them.
#include "CertFixture.h"
#include "TestErrors.h"
#include "CryptAPI.h"
#include "QXTools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using tvtest::Contains;
using tvtest::TakeError;

bool IsZeroed(const CertificateInfo& info)
{
    CertificateInfo zero;
    memset(&zero, 0, sizeof zero);
    return memcmp(&info, &zero, sizeof info) == 0;
}

std::string SimpleName(PCCERT_CONTEXT certificate)
{
    char name[256] = {};
    CertNameToStrA(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &certificate->pCertInfo->Subject,
                   CERT_SIMPLE_NAME_STR, name, sizeof name);
    return name;
}

// The store's own order, read straight from the platform.
std::vector<std::string> Order(HCERTSTORE store)
{
    std::vector<std::string> names;
    PCCERT_CONTEXT current = nullptr;
    while ((current = CertEnumCertificatesInStore(store, current)))
        names.push_back(SimpleName(current));
    return names;
}

std::vector<std::string> StoreOrder(const std::string& storeName)
{
    std::vector<std::string> names;
    HCERTSTORE store = tvtest::OpenUserStore(storeName);
    if (store) {
        names = Order(store);
        CertCloseStore(store, 0);
    }
    return names;
}

// A store in memory with the certificates of a user store. Unlike a system
// store it tells, when closed with the check flag, whether a context taken
// from it is still held.
HCERTSTORE MemoryCopy(const std::string& storeName)
{
    HCERTSTORE copy = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    HCERTSTORE store = tvtest::OpenUserStore(storeName);
    if (copy && store) {
        PCCERT_CONTEXT current = nullptr;
        while ((current = CertEnumCertificatesInStore(store, current)))
            CertAddCertificateContextToStore(copy, current, CERT_STORE_ADD_ALWAYS, nullptr);
    }
    if (store)
        CertCloseStore(store, 0);
    return copy;
}

// Closes the store only when no context taken from it is still held.
bool ClosesWithNothingHeld(HCERTSTORE store)
{
    return CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG) != FALSE;
}

class CertWalkTest : public tvtest::CertSuite {
protected:
    static void SetUpTestSuite()
    {
        certs = new tvtest::CertFixture;
        own = certs->NewStore("own");
        pub = certs->NewStore("pub");
        dated = certs->NewStore("dated");
        empty = certs->NewStore("empty");
        ASSERT_TRUE(certs->MakePerson("Alice Walk", own));
        ASSERT_TRUE(certs->MakePerson("Bob Walk", own));
        ASSERT_TRUE(certs->MakePerson("Carl Walk", own));
        ASSERT_TRUE(certs->ImportPfx(tvtest::CertFixture::DataDir() + "\\carol-modern.p12",
                                     "test", own));
        ASSERT_TRUE(certs->CopyPublic("Bob Walk", own, pub));
        ASSERT_TRUE(certs->CopyPublic("Carol Interop", own, pub));
        ASSERT_TRUE(certs->MakePerson("Dora Walk", dated));
        ASSERT_TRUE(certs->MakeDatedPerson("Expired Walk", dated, -30, -1));
        ASSERT_TRUE(certs->MakeDatedPerson("Future Walk", dated, 1, 30));
        ASSERT_TRUE(certs->MakePerson("", dated));  // a subject that reads empty
        ASSERT_TRUE(certs->MakePerson("Eve Walk", dated));
        std::vector<std::string> order = StoreOrder(dated);
        ASSERT_EQ(5u, order.size());
        ASSERT_NE(order.end(), std::find(order.begin(), order.end(), ""));
    }
    static std::string own, pub, dated, empty;
};

std::string CertWalkTest::own, CertWalkTest::pub, CertWalkTest::dated, CertWalkTest::empty;

TEST_F(CertWalkTest, WalkYieldsEveryCertificateInTheStoresOrderThenEndsZeroed)
{
    std::vector<std::string> expected = StoreOrder(own);
    ASSERT_EQ(4u, expected.size());

    TQXCrypt crypt;
    HCERTSTORE store = crypt.OpenStore(own.c_str());
    ASSERT_NE(nullptr, store);
    std::vector<std::string> walked;
    CertificateInfo info;
    PCCERT_CONTEXT previous = nullptr;
    while (crypt.GetNextCertificate(store, previous, &info)) {
        ASSERT_NE(nullptr, info.certificate);
        ASSERT_LE(walked.size(), expected.size()) << "the walk does not end";
        EXPECT_EQ(0, CompareFileTime(&info.notBefore, &info.certificate->pCertInfo->NotBefore));
        EXPECT_EQ(0, CompareFileTime(&info.notAfter, &info.certificate->pCertInfo->NotAfter));
        EXPECT_EQ(info.certificate->pCertInfo->dwVersion, info.version);
        walked.push_back(info.subject);
        previous = info.certificate;
    }
    EXPECT_EQ(expected, walked);
    EXPECT_TRUE(IsZeroed(info));
    EXPECT_STREQ("Certficate information could not be found!", crypt.message);
    // The normal end counts as a failure; the walk held nothing else.
    std::string error = TakeError();
    EXPECT_EQ(0u, error.find("Certficate information could not be found! ")) << error;
    EXPECT_TRUE(Contains(error, " CryptAPI 1282]")) << error;
    EXPECT_TRUE(crypt.CloseStore(store));
}

TEST_F(CertWalkTest, NoStoreOrAnEmptyOneEndsAtOnceWithTheInformationZeroed)
{
    TQXCrypt crypt;
    HCERTSTORE emptyStore = crypt.OpenStore(empty.c_str());
    ASSERT_NE(nullptr, emptyStore);
    struct Row {
        const char* what;
        HCERTSTORE store;
    } rows[] = {{"empty store", emptyStore}, {"no store", nullptr}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CertificateInfo info;
        memset(&info, 0xAB, sizeof info);
        EXPECT_FALSE(crypt.GetNextCertificate(row.store, nullptr, &info));
        EXPECT_TRUE(IsZeroed(info));
        EXPECT_TRUE(Contains(TakeError(), " CryptAPI 1282]"));
    }
    EXPECT_FALSE(crypt.GetNextCertificate(emptyStore, nullptr, nullptr));
    EXPECT_TRUE(Contains(TakeError(), " CryptAPI 1282]"));
    // The end of a walk keeps a failure held before it.
    EXPECT_EQ(nullptr, crypt.FindCertificate(emptyStore, "Nobody"));
    CertificateInfo info;
    EXPECT_FALSE(crypt.GetNextCertificate(emptyStore, nullptr, &info));
    EXPECT_EQ(0u, TakeError().find("No certificate could be found in database! "));
    EXPECT_TRUE(crypt.CloseStore(emptyStore));

    // A context handed back goes even when the call cannot go on with it.
    HCERTSTORE store = MemoryCopy(own);
    ASSERT_NE(nullptr, store);
    ASSERT_TRUE(crypt.GetNextCertificate(store, nullptr, &info));
    EXPECT_FALSE(crypt.GetNextCertificate(nullptr, info.certificate, &info));
    ASSERT_TRUE(crypt.GetNextCertificate(store, nullptr, &info));
    EXPECT_FALSE(crypt.GetNextCertificate(store, info.certificate, nullptr));
    EXPECT_TRUE(ClosesWithNothingHeld(store));
}

// The recipient listing: at most `bound` certificates are looked at; one that
// is not time-valid counts but is left out, one without a subject is not
// listed. The context the bound leaves held is freed before the store closes.
struct Listing {
    std::vector<std::string> listed;
    size_t visited = 0;
};

Listing ListRecipients(TQXCrypt& crypt, HCERTSTORE store, size_t bound, bool freeHeld)
{
    Listing result;
    CertificateInfo info;
    PCCERT_CONTEXT previous = nullptr;
    while (result.visited < bound && crypt.GetNextCertificate(store, previous, &info)) {
        ++result.visited;
        if (crypt.IsTimeValid(info.certificate) && info.subject[0])
            result.listed.push_back(info.subject);
        previous = info.certificate;
    }
    if (freeHeld)
        crypt.FreeCertificate(info.certificate);
    return result;
}

bool Listable(const std::string& name)
{
    return !name.empty() && name != "Expired Walk" && name != "Future Walk";
}

TEST_F(CertWalkTest, BoundedListingLeavesOutInvalidAndNamelessAndHoldsNothingAfterwards)
{
    TQXCrypt crypt;
    for (size_t bound : {size_t(1), size_t(2), size_t(3), size_t(4), size_t(5), size_t(34)}) {
        SCOPED_TRACE("bound " + std::to_string(bound));
        HCERTSTORE store = MemoryCopy(dated);
        ASSERT_NE(nullptr, store);
        std::vector<std::string> order = Order(store);
        ASSERT_EQ(5u, order.size());
        std::vector<std::string> expected;
        for (size_t i = 0; i < order.size() && i < bound; ++i)
            if (Listable(order[i]))
                expected.push_back(order[i]);
        Listing listing = ListRecipients(crypt, store, bound, true);
        EXPECT_EQ(std::min(bound, order.size()), listing.visited);
        EXPECT_EQ(expected, listing.listed);
        EXPECT_TRUE(ClosesWithNothingHeld(store));
        ClearLastError();
    }
    // Without the free the store sees the held context: the check above is real.
    HCERTSTORE store = MemoryCopy(dated);
    ASSERT_NE(nullptr, store);
    ListRecipients(crypt, store, 2, false);
    SetLastError(0);
    EXPECT_FALSE(ClosesWithNothingHeld(store));
    EXPECT_EQ(static_cast<DWORD>(CRYPT_E_PENDING_CLOSE), GetLastError());
}

TEST_F(CertWalkTest, PrivateKeyAndValidityTestsReportTheirOwnMessage)
{
    struct Row {
        const char* name;
        const std::string* store;
        bool hasKey;
        bool timeValid;
    } rows[] = {
        {"Alice Walk", &own, true, true},
        {"Carol Interop", &own, true, true},   // PKCS#12 with its key
        {"Bob Walk", &pub, false, true},       // the public copy
        {"Carol Interop", &pub, false, true},
        {"Dora Walk", &dated, true, true},
        {"Expired Walk", &dated, true, false},
        {"Future Walk", &dated, true, false},  // not valid yet
    };
    TQXCrypt crypt;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " in " + *row.store);
        PCCERT_CONTEXT certificate = certs->Certificate(row.name, *row.store);
        ASSERT_NE(nullptr, certificate);

        EXPECT_EQ(row.hasKey, crypt.HasPrivateKey(certificate));
        EXPECT_STREQ("This certificate has no private key!", crypt.message);
        std::string error = TakeError();
        if (row.hasKey)
            EXPECT_EQ("", error);
        else
            EXPECT_TRUE(Contains(error, "This certificate has no private key! ") &&
                        Contains(error, " CryptAPI 1576]"))
                << error;

        EXPECT_EQ(row.timeValid, crypt.IsTimeValid(certificate));
        EXPECT_STREQ("This certficate is no longer valid!", crypt.message);
        int32_t code = 0;
        error = TakeError(&code);
        if (row.timeValid) {
            EXPECT_EQ("", error);
        } else {
            EXPECT_TRUE(Contains(error, "This certficate is no longer valid! ") &&
                        Contains(error, " CryptAPI 1601]"))
                << error;
            EXPECT_EQ(static_cast<int32_t>(CERT_E_EXPIRED), code);
        }
        CertFreeCertificateContext(certificate);
    }
    EXPECT_FALSE(crypt.HasPrivateKey(nullptr));
    EXPECT_TRUE(Contains(TakeError(), " CryptAPI 1576]"));
    EXPECT_FALSE(crypt.IsTimeValid(nullptr));
    EXPECT_TRUE(Contains(TakeError(), " CryptAPI 1601]"));
}

}  // namespace
