// Certificates, keys and stores that a test makes for itself and removes again.
//
//   tvtest::CertFixture certs;                       // one per test (or suite)
//   std::string own = certs.NewStore("own");         // unique store name
//   certs.MakePerson("Alice Test", own);             // certificate + private key
//   std::string pub = certs.NewStore("pub");
//   certs.CopyPublic("Alice Test", own, pub);        // the same certificate, no key
//   certs.ImportPfx(tvtest::CertFixture::DataDir() + "\\carol-modern.p12",
//                   "test", own);                    // openssl-made, with key
//   ...                                              // ~CertFixture removes it all
//
// People made here are "CN=<name>" certificates (version 1), self-signed or
// issued by another person made here, whose RSA exchange key (AT_KEYEXCHANGE)
// lives in a key container of its own; the simple name of such a certificate
// is exactly <name>.
//
// Imported PKCS#12 files go through the system's own import routine
// (Common/Src/PfxImport): every key into a container of its own, because the
// platform may put the keys of all imports into one default container, where
// the next import would overwrite the previous key; each key is checked by a
// signature against its certificate.
//
// openssl-made files: the build (tests/crypt, target tv_test_pkcs12) writes
// them into DataDir() = <tests-bin>\certs. Password "test" for all .p12 files:
//   carol-modern.p12   "Carol Interop", version 3, modern (AES) encryption
//   dave-legacy.p12    "Dave Legacy",   version 3, legacy (3DES/RC2) encryption
//   carol.crt.pem / carol.key.pem, dave.crt.pem / dave.key.pem  the same as PEM
//   carol-empty.sgn    a signed message by "Carol Interop" whose content is
//                      empty (MD5, attached; the platform's own signing leaves
//                      an empty content out altogether)
// A test that uses them links the target (add_dependencies(<test> tv_test_pkcs12)).
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "QXTools.h"

namespace tvtest {

class CertFixture {
public:
    CertFixture();
    ~CertFixture();  // Cleanup()
    CertFixture(const CertFixture&) = delete;
    CertFixture& operator=(const CertFixture&) = delete;

    // A system store name of the current user unique to this fixture and call
    // ("tvt-<base>-<pid>-<random>-<n>"); the store itself is made when first opened and
    // removed by Cleanup.
    std::string NewStore(const std::string& base = "store");

    // Makes "CN=<name>" with a new key in a container of its own and adds the
    // certificate, linked to its key, to the store.
    bool MakePerson(const std::string& name, const std::string& store, DWORD keyBits = 1024);

    // The same with a validity period from `fromDays` to `toDays` days after
    // now (negative: before now), e.g. -30, -1 for an expired certificate.
    bool MakeDatedPerson(const std::string& name, const std::string& store, int fromDays,
                         int toDays);

    // Makes "CN=<name>" with a new key in a container of its own, issued (and
    // signed) by the certificate whose simple name is <issuer> in issuerStore,
    // which must have its private key; adds it, linked to its key, to the store.
    bool MakeIssuedPerson(const std::string& name, const std::string& issuer,
                          const std::string& issuerStore, const std::string& store);

    // Adds the certificate whose simple name is <name> in fromStore to toStore
    // without the link to its key (as another person's public certificate).
    bool CopyPublic(const std::string& name, const std::string& fromStore,
                    const std::string& toStore);

    // Imports every certificate of a PKCS#12 file (path as the program sees it)
    // into the store, each key in a container of its own.
    bool ImportPfx(const std::string& path, const std::string& password,
                   const std::string& store);

    // The certificate whose simple name is <name> (exact, any letter case);
    // null when absent. The caller frees it (CertFreeCertificateContext).
    PCCERT_CONTEXT Certificate(const std::string& name, const std::string& store);

    // Writes the certificate's DER encoding to a file (for openssl).
    bool ExportCertificate(const std::string& name, const std::string& store,
                           const std::string& path);

    // How many certificates the store holds now, read from a fresh handle.
    int CountCertificates(const std::string& store);

    // Where the key of the certificate <name> in the store lives and whether
    // it is the certificate's key (for failure messages).
    std::string KeyState(const std::string& name, const std::string& store);

    // Removes every store and key container this fixture made; also done by
    // the destructor.
    void Cleanup();

    // The folder of the openssl-made files: "<folder of the test exe>\certs".
    static std::string DataDir();

private:
    std::string tag_;
    std::vector<std::string> stores_;
    std::vector<std::string> containers_;

    static int NextNumber();
    // MakePerson with the validity period given (null: from now, for a year).
    bool MakePersonWith(const std::string& name, const std::string& store, DWORD keyBits,
                        const SYSTEMTIME* start, const SYSTEMTIME* end);
    std::string NewContainer();
    // Whether every key link of the store leads to its certificate's own key.
    bool StoredKeysAreOwn(const std::string& store);
};

// Opens the current user's system store without a provider (null on failure).
HCERTSTORE OpenUserStore(const std::string& store);

// A test suite whose people and stores are made once for all its tests: its
// own SetUpTestSuite creates `certs`, which goes with the suite; every test
// starts and ends with a clear error record.
class CertSuite : public ::testing::Test {
protected:
    static void TearDownTestSuite()
    {
        delete certs;
        certs = nullptr;
    }
    void SetUp() override { ClearLastError(); }
    void TearDown() override { ClearLastError(); }

    static CertFixture* certs;
};

}  // namespace tvtest
