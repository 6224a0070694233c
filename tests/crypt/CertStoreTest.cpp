// Certificate stores, finding certificates and the store maintenance members.
#include "CertFixture.h"
#include "TestErrors.h"
#include "CryptAPI.h"
#include "QXTools.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string TakeErrorText() { return tvtest::TakeError(); }

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

class CertStoreTest : public tvtest::CertSuite {
protected:
    static void SetUpTestSuite()
    {
        certs = new tvtest::CertFixture;
        own = certs->NewStore("own");
        pub = certs->NewStore("pub");
        ASSERT_TRUE(certs->MakePerson("Alice Test", own));
        ASSERT_TRUE(certs->MakePerson("Bob", own));
        ASSERT_TRUE(certs->MakePerson("Bobby", own));
        ASSERT_TRUE(certs->MakePerson("Bob Junior", own));
        ASSERT_TRUE(certs->CopyPublic("Bob", own, pub));
        ASSERT_TRUE(certs->ImportPfx(tvtest::CertFixture::DataDir() + "\\carol-modern.p12",
                                     "test", own));
    }
    static std::string own;
    static std::string pub;
};

std::string CertStoreTest::own;
std::string CertStoreTest::pub;

TEST_F(CertStoreTest, OpenStoreHandsOutAProviderThatClosingDoesNotRelease)
{
    TQXCrypt crypt;
    HCRYPTPROV provider = 1;
    EXPECT_EQ(nullptr, crypt.OpenStore("", &provider));
    EXPECT_EQ(0u, provider);
    provider = 1;
    EXPECT_EQ(nullptr, crypt.OpenStore(nullptr, &provider));
    EXPECT_EQ(0u, provider);
    EXPECT_EQ("", TakeErrorText());

    HCERTSTORE store = crypt.OpenStore(own.c_str(), &provider);
    ASSERT_NE(nullptr, store);
    ASSERT_NE(0u, provider);
    EXPECT_STREQ("Certificate database could not be opened!", crypt.message);
    EXPECT_TRUE(crypt.CloseStore(store));
    // The provider is still the caller's: releasing it now is its only release.
    EXPECT_TRUE(crypt.ReleaseContext(provider));

    // Without an out-pointer the provider is released at once.
    store = crypt.OpenStore(own.c_str());
    ASSERT_NE(nullptr, store);
    EXPECT_TRUE(crypt.CloseStore(store));

    EXPECT_FALSE(crypt.CloseStore(nullptr));
    EXPECT_FALSE(crypt.ReleaseContext(0));
    EXPECT_FALSE(crypt.FreeCertificate(nullptr));
    EXPECT_FALSE(crypt.FreeBuffer(nullptr));
    EXPECT_EQ("", TakeErrorText());
    EXPECT_FALSE(crypt.AcquireContext(nullptr));
    EXPECT_TRUE(StartsWith(TakeErrorText(), "Key container could not be loaded or created! "));
}

TEST_F(CertStoreTest, FindCertificatePrefersTheExactNameOverLongerOnes)
{
    struct Row {
        const char* text;
        const char* expected;  // nullptr: not found
    } rows[] = {
        {"Bob", "Bob"},            // also in "Bobby": the exact name wins
        {"BOB", "Bob"},            // letter case does not matter
        {"bobby", "Bobby"},
        {"Bob Jun", "Bob Junior"},
        {"alice test", "Alice Test"},
        {"ice Te", "Alice Test"},  // a part of the subject
        {"Carol Interop", "Carol Interop"},
        {"Nobody", nullptr},
        {"", nullptr},
    };
    TQXCrypt crypt;
    HCRYPTPROV provider = 0;
    HCERTSTORE store = crypt.OpenStore(own.c_str(), &provider);
    ASSERT_NE(nullptr, store);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        PCCERT_CONTEXT found = crypt.FindCertificate(store, row.text);
        if (!row.expected) {
            EXPECT_EQ(nullptr, found);
            continue;
        }
        ASSERT_NE(nullptr, found);
        CertificateInfo info;
        ASSERT_TRUE(crypt.GetCertificateInfo(found, &info));
        EXPECT_STREQ(row.expected, info.subject);
        EXPECT_TRUE(crypt.FreeCertificate(found));
    }
    EXPECT_EQ(nullptr, crypt.FindCertificate(nullptr, "Bob"));
    EXPECT_EQ(nullptr, crypt.FindCertificate(store, nullptr));
    std::string error = TakeErrorText();
    EXPECT_TRUE(StartsWith(error, "No certificate could be found in database! "));
    EXPECT_NE(std::string::npos, error.find(" CryptAPI 1246]"));

    // A part that several subjects share and none equals names nobody: the
    // store's order never decides whom a message is for.
    EXPECT_EQ(nullptr, crypt.FindCertificate(store, "Bo"));
    std::string ambiguous = TakeErrorText();
    EXPECT_TRUE(StartsWith(ambiguous, "The name 'Bo' fits several certificates in database ('"))
        << ambiguous;
    for (const char* name : {"'Bob'", "'Bobby'", "'Bob Junior'", "[0 CryptAPI 1246]"})
        EXPECT_TRUE(tvtest::Contains(ambiguous, name)) << ambiguous;
    crypt.CloseStore(store);
    crypt.ReleaseContext(provider);
}

// Which certificates of a store carry a certificate's name: the certificate
// itself (held), nobody, or one of another key (a conflict).
TEST_F(CertStoreTest, CheckSubjectHolderFindsAnotherCertificateOfTheSameName)
{
    tvtest::CertFixture local;
    std::string impostors = local.NewStore("impostor");
    std::string mixed = local.NewStore("mixed");
    std::string empty = local.NewStore("empty");
    ASSERT_TRUE(local.MakePerson("Bob", impostors));  // a self-made "Bob" of another key
    ASSERT_TRUE(local.CopyPublic("Bob", impostors, mixed));
    ASSERT_TRUE(local.CopyPublic("Bob", own, mixed));
    PCCERT_CONTEXT bob = certs->Certificate("Bob", own);
    ASSERT_NE(nullptr, bob);
    struct Row {
        std::string store;
        bool ok;
        bool held;
    } rows[] = {
        {own, true, true},        // Bob himself; "Bobby" and "Bob Junior" are other names
        {pub, true, true},        // his public copy is the same certificate
        {empty, true, false},
        {"", true, false},        // a store without a name holds nothing
        {impostors, false, false},
        {mixed, false, true},     // Bob is there, but so is the other one
    };
    TQXCrypt crypt;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.store);
        ClearLastError();
        bool held = !row.held;
        EXPECT_EQ(row.ok, crypt.CheckSubjectHolder(row.store.c_str(), bob, &held));
        EXPECT_EQ(row.held, held);
        std::string error = TakeErrorText();
        EXPECT_EQ(row.ok ? ""
                         : "The new certificate differs from the certificate in the database!  "
                           "[0 CryptAPI 1692]",
                  error);
    }
    EXPECT_EQ(1, local.CountCertificates(impostors));
    EXPECT_EQ(2, local.CountCertificates(mixed));
    EXPECT_FALSE(crypt.CheckSubjectHolder(own.c_str(), nullptr, nullptr));
    crypt.FreeCertificate(bob);
    local.Cleanup();
}

TEST_F(CertStoreTest, CertificateInfoDescribesTheCertificate)
{
    TQXCrypt crypt;
    CertificateInfo info;
    memset(&info, 0x5A, sizeof info);
    EXPECT_FALSE(crypt.GetCertificateInfo(nullptr, &info));
    EXPECT_EQ(0x5A, static_cast<unsigned char>(info.subject[0]));  // left as it was

    struct Row {
        const char* name;
        uint32_t version;
    } rows[] = {{"Alice Test", 0}, {"Carol Interop", 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PCCERT_CONTEXT certificate = certs->Certificate(row.name, own);
        ASSERT_NE(nullptr, certificate);
        ASSERT_TRUE(crypt.GetCertificateInfo(certificate, &info));
        EXPECT_EQ(certificate, info.certificate);
        EXPECT_STREQ(row.name, info.subject);
        EXPECT_STREQ(row.name, info.issuer);  // self-signed
        EXPECT_EQ(row.version, info.version);
        EXPECT_LT(CompareFileTime(&info.notBefore, &info.notAfter), 0);

        // The subject string finds the same certificate again.
        HCRYPTPROV provider = 0;
        HCERTSTORE store = crypt.OpenStore(own.c_str(), &provider);
        PCCERT_CONTEXT again = crypt.FindCertificate(store, info.subject);
        EXPECT_TRUE(crypt.CompareCertificate(certificate, again));
        crypt.FreeCertificate(again);
        crypt.CloseStore(store);
        crypt.ReleaseContext(provider);
        crypt.FreeCertificate(certificate);
    }
}

TEST_F(CertStoreTest, CheckSignatureKeyNeedsAPrivateKey)
{
    TQXCrypt crypt;
    EXPECT_EQ(nullptr, crypt.CheckSignatureKey(nullptr));
    for (const char* name : {"Alice Test", "Carol Interop"}) {
        PCCERT_CONTEXT withKey = certs->Certificate(name, own);
        ASSERT_NE(nullptr, withKey);
        EXPECT_EQ(withKey, crypt.CheckSignatureKey(withKey)) << name;
        crypt.FreeCertificate(withKey);
    }
    EXPECT_EQ("", TakeErrorText());

    PCCERT_CONTEXT publicOnly = certs->Certificate("Bob", pub);
    ASSERT_NE(nullptr, publicOnly);
    EXPECT_EQ(nullptr, crypt.CheckSignatureKey(publicOnly));
    crypt.FreeCertificate(publicOnly);
    std::string error = TakeErrorText();
    EXPECT_TRUE(StartsWith(error, "No signature certicate could be found! ")) << error;
    EXPECT_NE(std::string::npos, error.find(" CryptAPI 1435]"));
}

TEST_F(CertStoreTest, ContainsOnlyReadsTheStore)
{
    TQXCrypt crypt;
    std::string empty = certs->NewStore("empty");
    PCCERT_CONTEXT alice = certs->Certificate("Alice Test", own);
    ASSERT_NE(nullptr, alice);

    EXPECT_FALSE(crypt.ContainsCertificate(empty.c_str(), alice));
    EXPECT_EQ(0, certs->CountCertificates(empty));
    EXPECT_TRUE(crypt.ContainsCertificate(own.c_str(), alice));
    int before = certs->CountCertificates(own);
    EXPECT_TRUE(crypt.ContainsCertificate(own.c_str(), alice));
    EXPECT_EQ(before, certs->CountCertificates(own));
    EXPECT_FALSE(crypt.ContainsCertificate("", alice));
    EXPECT_FALSE(crypt.ContainsCertificate(own.c_str(), nullptr));
    crypt.FreeCertificate(alice);

    // The same certificate without its key link is still contained.
    PCCERT_CONTEXT bob = certs->Certificate("Bob", pub);
    EXPECT_TRUE(crypt.ContainsCertificate(own.c_str(), bob));
    crypt.FreeCertificate(bob);
}

TEST_F(CertStoreTest, AddAndDeleteAreKeptWhileContextsAreStillHeld)
{
    TQXCrypt crypt;
    std::string target = certs->NewStore("target");
    PCCERT_CONTEXT alice = certs->Certificate("Alice Test", own);
    PCCERT_CONTEXT bob = certs->Certificate("Bob", own);
    ASSERT_NE(nullptr, alice);
    ASSERT_NE(nullptr, bob);

    EXPECT_TRUE(crypt.AddCertificate(target.c_str(), alice));
    EXPECT_TRUE(crypt.AddCertificate(target.c_str(), alice));  // already there: nothing added
    EXPECT_TRUE(crypt.AddCertificate(target.c_str(), bob));
    EXPECT_EQ(2, certs->CountCertificates(target));
    EXPECT_FALSE(crypt.AddCertificate("", alice));
    EXPECT_FALSE(crypt.AddCertificate(target.c_str(), nullptr));

    // A deletion is written through at once, although the store is still open
    // and another of its certificates is still held.
    HCRYPTPROV provider = 0;
    HCERTSTORE store = crypt.OpenStore(target.c_str(), &provider);
    ASSERT_NE(nullptr, store);
    PCCERT_CONTEXT held = crypt.FindCertificate(store, "Bob");
    PCCERT_CONTEXT doomed = crypt.FindCertificate(store, "Alice Test");
    ASSERT_NE(nullptr, held);
    ASSERT_NE(nullptr, doomed);
    EXPECT_TRUE(crypt.DeleteCertificate(doomed));
    EXPECT_EQ(1, certs->CountCertificates(target));
    EXPECT_FALSE(crypt.ContainsCertificate(target.c_str(), alice));
    EXPECT_TRUE(crypt.ContainsCertificate(target.c_str(), bob));

    // The same holds for the last one, removed before the store is closed.
    EXPECT_TRUE(crypt.DeleteCertificate(held));
    EXPECT_TRUE(crypt.CloseStore(store));
    EXPECT_TRUE(crypt.ReleaseContext(provider));
    EXPECT_EQ(0, certs->CountCertificates(target));
    EXPECT_FALSE(crypt.DeleteCertificate(nullptr));
    EXPECT_EQ("", TakeErrorText());

    // A store in memory has nothing to commit: deleting from it succeeds.
    HCERTSTORE memory = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    ASSERT_NE(nullptr, memory);
    PCCERT_CONTEXT copy = nullptr;
    ASSERT_TRUE(CertAddCertificateContextToStore(memory, alice, CERT_STORE_ADD_ALWAYS, &copy));
    EXPECT_TRUE(crypt.DeleteCertificate(copy));
    EXPECT_EQ(nullptr, CertEnumCertificatesInStore(memory, nullptr));
    CertCloseStore(memory, 0);
    EXPECT_EQ("", TakeErrorText());

    crypt.FreeCertificate(alice);
    crypt.FreeCertificate(bob);
}

TEST_F(CertStoreTest, CompareCertificateByIssuerAndSerial)
{
    TQXCrypt crypt;
    PCCERT_CONTEXT bobOwn = certs->Certificate("Bob", own);
    PCCERT_CONTEXT bobPub = certs->Certificate("Bob", pub);
    PCCERT_CONTEXT bobby = certs->Certificate("Bobby", own);
    ASSERT_TRUE(bobOwn && bobPub && bobby);
    EXPECT_TRUE(crypt.CompareCertificate(bobOwn, bobPub));
    EXPECT_FALSE(crypt.CompareCertificate(bobOwn, nullptr));
    EXPECT_EQ("", TakeErrorText());
    EXPECT_FALSE(crypt.CompareCertificate(bobOwn, bobby));
    EXPECT_TRUE(StartsWith(TakeErrorText(),
                           "The new certificate differs from the certificate in the database!"));
    crypt.FreeCertificate(bobOwn);
    crypt.FreeCertificate(bobPub);
    crypt.FreeCertificate(bobby);
}

// The fixture itself: what later tests rely on.
TEST(CertFixtureTest, CleanupRemovesStoresAndKeys)
{
    std::string store;
    {
        tvtest::CertFixture certs;
        store = certs.NewStore("gone");
        ASSERT_TRUE(certs.MakePerson("Eve Gone", store));
        EXPECT_EQ(1, certs.CountCertificates(store));
    }
    HKEY key = nullptr;
    std::string path = "Software\\Microsoft\\SystemCertificates\\" + store;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key));
    if (key)
        RegCloseKey(key);
}

}  // namespace
