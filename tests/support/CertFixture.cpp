#include "CertFixture.h"

#include "PfxImport.h"
#include "TestFiles.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace tvtest {

CertFixture* CertSuite::certs = nullptr;

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::wstring Widen(const std::string& text)
{
    std::wstring wide;
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n > 0) {
        wide.resize(n);
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], n);
        wide.resize(n - 1);
    }
    return wide;
}

std::string SimpleName(PCCERT_CONTEXT certificate)
{
    char name[256] = {};
    CertNameToStrA(kEncoding, &certificate->pCertInfo->Subject, CERT_SIMPLE_NAME_STR, name,
                   sizeof name);
    return name;
}

bool CommitAndClose(HCERTSTORE store)
{
    bool ok = CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(store, 0);
    return ok;
}

// Adds the context to the named user store (replacing an equal one).
bool AddToUserStore(PCCERT_CONTEXT certificate, const std::string& storeName)
{
    HCERTSTORE store = OpenUserStore(storeName);
    if (!store)
        return false;
    bool ok = CertAddCertificateContextToStore(store, certificate,
                                               CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    return CommitAndClose(store) && ok;
}

// Whether the exchange key of the provider is the certificate's key.
bool KeyMatchesCertificate(HCRYPTPROV provider, PCCERT_CONTEXT certificate)
{
    DWORD size = 0;
    if (!CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, X509_ASN_ENCODING, nullptr, &size))
        return false;
    std::vector<BYTE> info(size);
    auto* publicKey = reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(info.data());
    return CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, X509_ASN_ENCODING, publicKey,
                                    &size) &&
           CertComparePublicKeyInfo(X509_ASN_ENCODING, publicKey,
                                    &certificate->pCertInfo->SubjectPublicKeyInfo);
}

// Where the key the certificate links to lives and whether it is the
// certificate's own; `own` (may be null) tells the latter.
std::string DescribeKey(PCCERT_CONTEXT certificate, bool* own)
{
    if (own)
        *own = false;
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                           &size))
        return "no key link";
    std::vector<BYTE> buffer(size);
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID,
                                           buffer.data(), &size))
        return "no key link";
    auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buffer.data());
    char container[256] = {};
    if (info->pwszContainerName)
        WideCharToMultiByte(CP_ACP, 0, info->pwszContainerName, -1, container,
                            sizeof container - 1, nullptr, nullptr);
    std::string state = "container '" + std::string(container) + "' (key kind " +
                        std::to_string(info->dwKeySpec) + "): ";
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, info->pwszContainerName, info->pwszProvName,
                              info->dwProvType, CRYPT_SILENT)) {
        char code[32];
        std::snprintf(code, sizeof code, "0x%08lx", GetLastError());
        return state + "cannot be opened (" + code + ")";
    }
    bool match = KeyMatchesCertificate(provider, certificate);
    CryptReleaseContext(provider, 0);
    if (own)
        *own = match;
    return state + (match ? "the certificate's own key" : "ANOTHER key than the certificate's");
}

// A new exchange key in a new container; with `publicKey` non-null its
// public part too. The provider is released before the key is used.
bool MakeKey(const std::string& container, DWORD keyBits, std::vector<BYTE>* publicKey)
{
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, container.c_str(), nullptr, PROV_RSA_FULL,
                              CRYPT_NEWKEYSET))
        return false;
    HCRYPTKEY key = 0;
    bool ok = CryptGenKey(provider, AT_KEYEXCHANGE, (keyBits << 16) | CRYPT_EXPORTABLE, &key);
    if (key)
        CryptDestroyKey(key);
    DWORD size = 0;
    if (ok && publicKey) {
        ok = CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, X509_ASN_ENCODING, nullptr,
                                      &size);
        publicKey->resize(size);
        ok = ok && CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, X509_ASN_ENCODING,
                                            reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(
                                                publicKey->data()),
                                            &size);
    }
    CryptReleaseContext(provider, 0);
    return ok;
}

// "CN=<name>" encoded.
std::vector<BYTE> EncodeName(const std::string& name)
{
    std::string x500 = "CN=\"" + name + "\"";
    DWORD size = 0;
    if (!CertStrToNameA(X509_ASN_ENCODING, x500.c_str(), CERT_X500_NAME_STR, nullptr, nullptr,
                        &size, nullptr))
        return {};
    std::vector<BYTE> encoded(size);
    if (!CertStrToNameA(X509_ASN_ENCODING, x500.c_str(), CERT_X500_NAME_STR, nullptr,
                        encoded.data(), &size, nullptr))
        return {};
    encoded.resize(size);
    return encoded;
}

// Links the certificate to the exchange key in the container; frees it and
// gives null on failure.
PCCERT_CONTEXT LinkKey(PCCERT_CONTEXT certificate, CRYPT_KEY_PROV_INFO* keyInfo)
{
    if (certificate &&
        !CertSetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, 0, keyInfo)) {
        CertFreeCertificateContext(certificate);
        certificate = nullptr;
    }
    return certificate;
}

// A new key in the container and a self-signed certificate for it that
// links to the key; null on failure.
PCCERT_CONTEXT MakeSelfSigned(const std::string& name, const std::string& container,
                              DWORD keyBits, const SYSTEMTIME* start, const SYSTEMTIME* end)
{
    std::vector<BYTE> encoded = EncodeName(name);
    if (encoded.empty() || !MakeKey(container, keyBits, nullptr))
        return nullptr;
    CERT_NAME_BLOB subject = {static_cast<DWORD>(encoded.size()), encoded.data()};

    std::wstring wideContainer = Widen(container);
    CRYPT_KEY_PROV_INFO keyInfo = {};
    keyInfo.pwszContainerName = &wideContainer[0];
    keyInfo.dwProvType = PROV_RSA_FULL;
    keyInfo.dwKeySpec = AT_KEYEXCHANGE;
    return LinkKey(CertCreateSelfSignCertificate(0, &subject, 0, &keyInfo, nullptr,
                                                 const_cast<SYSTEMTIME*>(start),
                                                 const_cast<SYSTEMTIME*>(end), nullptr),
                   &keyInfo);
}

// A new key in the container and a certificate for it (version 1, valid from
// a day ago for a year) that the issuer signs with its private key and that
// links to the new key; null on failure.
PCCERT_CONTEXT MakeIssued(const std::string& name, const std::string& container,
                          PCCERT_CONTEXT issuer)
{
    std::vector<BYTE> encoded = EncodeName(name);
    std::vector<BYTE> publicKey;
    if (encoded.empty() || !MakeKey(container, 1024, &publicKey))
        return nullptr;
    BYTE serial[16] = {};
    HCRYPTPROV random = 0;
    if (!CryptAcquireContextA(&random, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return nullptr;
    bool ok = CryptGenRandom(random, sizeof serial, serial);
    CryptReleaseContext(random, 0);
    // Least significant byte first: positive, and all 16 bytes encoded.
    serial[sizeof serial - 1] = (serial[sizeof serial - 1] & 0x7F) | 0x40;

    CERT_INFO info = {};
    info.dwVersion = CERT_V1;
    info.SerialNumber = {sizeof serial, serial};
    info.SignatureAlgorithm.pszObjId = const_cast<char*>(szOID_RSA_SHA1RSA);
    info.Issuer = issuer->pCertInfo->Subject;
    info.Subject = {static_cast<DWORD>(encoded.size()), encoded.data()};
    info.SubjectPublicKeyInfo = *reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(publicKey.data());
    const ULONGLONG kDay = 24ULL * 60 * 60 * 10000000;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t = {{now.dwLowDateTime, now.dwHighDateTime}};
    ULARGE_INTEGER from = t;
    ULARGE_INTEGER to = t;
    from.QuadPart -= kDay;
    to.QuadPart += 365 * kDay;
    info.NotBefore = {from.LowPart, from.HighPart};
    info.NotAfter = {to.LowPart, to.HighPart};

    HCRYPTPROV issuerKey = 0;
    DWORD keySpec = 0;
    BOOL release = FALSE;
    if (!ok || !CryptAcquireCertificatePrivateKey(issuer, 0, nullptr, &issuerKey, &keySpec,
                                                  &release))
        return nullptr;
    if (keySpec != AT_SIGNATURE)
        keySpec = AT_KEYEXCHANGE;
    DWORD size = 0;
    std::vector<BYTE> certificate;
    ok = CryptSignAndEncodeCertificate(issuerKey, keySpec, X509_ASN_ENCODING,
                                       X509_CERT_TO_BE_SIGNED, &info, &info.SignatureAlgorithm,
                                       nullptr, nullptr, &size);
    certificate.resize(size);
    ok = ok && CryptSignAndEncodeCertificate(issuerKey, keySpec, X509_ASN_ENCODING,
                                             X509_CERT_TO_BE_SIGNED, &info,
                                             &info.SignatureAlgorithm, nullptr,
                                             certificate.data(), &size);
    if (release)
        CryptReleaseContext(issuerKey, 0);
    if (!ok)
        return nullptr;

    std::wstring wideContainer = Widen(container);
    CRYPT_KEY_PROV_INFO keyInfo = {};
    keyInfo.pwszContainerName = &wideContainer[0];
    keyInfo.dwProvType = PROV_RSA_FULL;
    keyInfo.dwKeySpec = AT_KEYEXCHANGE;
    return LinkKey(CertCreateCertificateContext(kEncoding, certificate.data(), size), &keyInfo);
}

// Whether a signature made with the container's key verifies with the
// certificate's public key.
bool KeySignsForCertificate(const std::string& container, PCCERT_CONTEXT certificate)
{
    static const BYTE kData[] = "a check of the new key";
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, container.c_str(), nullptr, PROV_RSA_FULL, CRYPT_SILENT))
        return false;
    std::vector<BYTE> signature(1024);
    DWORD size = static_cast<DWORD>(signature.size());
    HCRYPTHASH hash = 0;
    bool ok = CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash) &&
              CryptHashData(hash, kData, sizeof kData, 0) &&
              CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, signature.data(), &size);
    if (hash)
        CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    if (!ok)
        return false;

    HCRYPTPROV verifier = 0;
    if (!CryptAcquireContextA(&verifier, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return false;
    HCRYPTKEY publicKey = 0;
    hash = 0;
    ok = CryptImportPublicKeyInfo(verifier, X509_ASN_ENCODING,
                                  &certificate->pCertInfo->SubjectPublicKeyInfo, &publicKey) &&
         CryptCreateHash(verifier, CALG_SHA1, 0, 0, &hash) &&
         CryptHashData(hash, kData, sizeof kData, 0) &&
         CryptVerifySignatureA(hash, signature.data(), size, publicKey, nullptr, 0);
    if (hash)
        CryptDestroyHash(hash);
    if (publicKey)
        CryptDestroyKey(publicKey);
    CryptReleaseContext(verifier, 0);
    return ok;
}

}  // namespace

HCERTSTORE OpenUserStore(const std::string& store)
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                         store.c_str());
}

CertFixture::CertFixture()
{
    // Process id and a random part: names no other fixture, in this process
    // or any other of the prefix (process ids are reused), hands out.
    DWORD random = GetTickCount();
    HCRYPTPROV provider = 0;
    if (CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        CryptGenRandom(provider, sizeof random, reinterpret_cast<BYTE*>(&random));
        CryptReleaseContext(provider, 0);
    }
    char tag[64];
    std::snprintf(tag, sizeof tag, "%lu-%08lx", GetCurrentProcessId(), random);
    tag_ = tag;
}

int CertFixture::NextNumber()
{
    // One count for every fixture of the process.
    static std::atomic<int> counter{0};
    return ++counter;
}

CertFixture::~CertFixture() { Cleanup(); }

std::string CertFixture::NewStore(const std::string& base)
{
    std::string name = "tvt-" + base + "-" + tag_ + "-" + std::to_string(NextNumber());
    stores_.push_back(name);
    return name;
}

std::string CertFixture::NewContainer()
{
    std::string name = "tvt-key-" + tag_ + "-" + std::to_string(NextNumber());
    containers_.push_back(name);
    return name;
}

bool CertFixture::MakePerson(const std::string& name, const std::string& store, DWORD keyBits)
{
    return MakePersonWith(name, store, keyBits, nullptr, nullptr);
}

bool CertFixture::MakeDatedPerson(const std::string& name, const std::string& store,
                                  int fromDays, int toDays)
{
    const long long kDay = 24LL * 60 * 60 * 10000000;  // in 100 ns
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    auto shifted = [&](int days) {
        ULARGE_INTEGER t;
        t.LowPart = now.dwLowDateTime;
        t.HighPart = now.dwHighDateTime;
        t.QuadPart += static_cast<ULONGLONG>(days * kDay);
        FILETIME f = {t.LowPart, t.HighPart};
        SYSTEMTIME s = {};
        FileTimeToSystemTime(&f, &s);
        return s;
    };
    SYSTEMTIME start = shifted(fromDays);
    SYSTEMTIME end = shifted(toDays);
    return MakePersonWith(name, store, 1024, &start, &end);
}

bool CertFixture::MakePersonWith(const std::string& name, const std::string& store,
                                 DWORD keyBits, const SYSTEMTIME* start, const SYSTEMTIME* end)
{
    // Now and then the platform's key generation under Wine yields a key whose
    // private part does not fit its public one: every signature made with it
    // fails to verify. Such a key is checked here and made anew, so that no
    // test fails by the chance of its key.
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::string container = NewContainer();
        PCCERT_CONTEXT certificate = MakeSelfSigned(name, container, keyBits, start, end);
        if (!certificate)
            return false;
        bool ok = KeySignsForCertificate(container, certificate);
        if (ok) {
            // The link to the key goes with the certificate into the store.
            ok = AddToUserStore(certificate, store);
            CertFreeCertificateContext(certificate);
            return ok;
        }
        CertFreeCertificateContext(certificate);
    }
    return false;
}

bool CertFixture::MakeIssuedPerson(const std::string& name, const std::string& issuer,
                                   const std::string& issuerStore, const std::string& store)
{
    PCCERT_CONTEXT authority = Certificate(issuer, issuerStore);
    if (!authority)
        return false;
    bool ok = false;
    // A key that does not fit its certificate is made anew (see MakePersonWith).
    for (int attempt = 0; attempt < 5 && !ok; ++attempt) {
        std::string container = NewContainer();
        PCCERT_CONTEXT certificate = MakeIssued(name, container, authority);
        if (!certificate)
            break;
        bool fits = KeySignsForCertificate(container, certificate);
        if (fits)
            ok = AddToUserStore(certificate, store);
        CertFreeCertificateContext(certificate);
        if (fits)
            break;
    }
    CertFreeCertificateContext(authority);
    return ok;
}

PCCERT_CONTEXT CertFixture::Certificate(const std::string& name, const std::string& storeName)
{
    HCERTSTORE store = OpenUserStore(storeName);
    if (!store)
        return nullptr;
    PCCERT_CONTEXT found = nullptr;
    PCCERT_CONTEXT current = nullptr;
    while ((current = CertEnumCertificatesInStore(store, current))) {
        if (_stricmp(SimpleName(current).c_str(), name.c_str()) == 0) {
            found = CertDuplicateCertificateContext(current);
            CertFreeCertificateContext(current);
            break;
        }
    }
    CertCloseStore(store, 0);
    return found;
}

bool CertFixture::CopyPublic(const std::string& name, const std::string& fromStore,
                             const std::string& toStore)
{
    PCCERT_CONTEXT certificate = Certificate(name, fromStore);
    if (!certificate)
        return false;
    // A fresh context from the encoding alone carries no link to a key.
    PCCERT_CONTEXT bare = CertCreateCertificateContext(kEncoding, certificate->pbCertEncoded,
                                                       certificate->cbCertEncoded);
    CertFreeCertificateContext(certificate);
    if (!bare)
        return false;
    bool ok = AddToUserStore(bare, toStore);
    CertFreeCertificateContext(bare);
    return ok;
}

bool CertFixture::ExportCertificate(const std::string& name, const std::string& store,
                                    const std::string& path)
{
    PCCERT_CONTEXT certificate = Certificate(name, store);
    if (!certificate)
        return false;
    WriteFileBytes(path, std::string(reinterpret_cast<const char*>(certificate->pbCertEncoded),
                                     certificate->cbCertEncoded));
    CertFreeCertificateContext(certificate);
    return Exists(path);
}

int CertFixture::CountCertificates(const std::string& storeName)
{
    HCERTSTORE store = OpenUserStore(storeName);
    if (!store)
        return -1;
    int count = 0;
    PCCERT_CONTEXT current = nullptr;
    while ((current = CertEnumCertificatesInStore(store, current)))
        ++count;
    CertCloseStore(store, 0);
    return count;
}

bool CertFixture::ImportPfx(const std::string& path, const std::string& password,
                            const std::string& storeName)
{
    // The system's own import routine: every key in a container of its own,
    // checked by a signature; the containers go with the fixture.
    PfxImportResult result;
    bool ok = ImportPfxFile(path.c_str(), password.c_str(), storeName.c_str(), &result);
    for (const std::string& container : result.containers)
        containers_.push_back(container);
    if (!ok) {
        ErrorRecord record;
        GetLastErrorInfo(&record);
        std::fprintf(stderr, "CertFixture: %s: %s\n", path.c_str(), record.set ? record.text : "");
        ClearLastError();
        return false;
    }
    return StoredKeysAreOwn(storeName);
}

bool CertFixture::StoredKeysAreOwn(const std::string& storeName)
{
    // Read back as a program will: every key link of the store leads to the
    // certificate's own key.
    HCERTSTORE store = OpenUserStore(storeName);
    if (!store)
        return false;
    bool ok = true;
    PCCERT_CONTEXT current = nullptr;
    while (ok && (current = CertEnumCertificatesInStore(store, current))) {
        DWORD size = 0;
        if (!CertGetCertificateContextProperty(current, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                               &size))
            continue;
        bool own = false;
        std::string state = DescribeKey(current, &own);
        if (!own) {
            std::fprintf(stderr, "CertFixture: %s: %s\n", SimpleName(current).c_str(),
                         state.c_str());
            ok = false;
        }
    }
    if (current)
        CertFreeCertificateContext(current);
    CertCloseStore(store, 0);
    return ok;
}

void CertFixture::Cleanup()
{
    for (const std::string& name : stores_) {
        // Empty the store first, so that a store that lives on in this
        // process is empty too, then remove it.
        HCERTSTORE store = OpenUserStore(name);
        if (store) {
            PCCERT_CONTEXT current;
            while ((current = CertEnumCertificatesInStore(store, nullptr)))
                CertDeleteCertificateFromStore(current);
            CommitAndClose(store);
        }
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_DELETE_FLAG, name.c_str());
        std::string key = "Software\\Microsoft\\SystemCertificates\\" + name;
        RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    }
    stores_.clear();
    for (const std::string& name : containers_) {
        HCRYPTPROV provider = 0;
        CryptAcquireContextA(&provider, name.c_str(), nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    }
    containers_.clear();
}

std::string CertFixture::KeyState(const std::string& name, const std::string& store)
{
    PCCERT_CONTEXT certificate = Certificate(name, store);
    if (!certificate)
        return name + ": no certificate in " + store;
    std::string state = name + ": " + DescribeKey(certificate, nullptr);
    CertFreeCertificateContext(certificate);
    return state;
}

std::string CertFixture::DataDir()
{
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path, n);
    size_t slash = dir.find_last_of('\\');
    if (slash != std::string::npos)
        dir.resize(slash);
    return dir + "\\certs";
}

}  // namespace tvtest
