#include "PfxImport.h"

#include <wincrypt.h>

#include <cstdio>
#include <cstring>

#include "QXHandles.h"
#include "QXTools.h"

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const char kUnit[] = "PfxImport";
const DWORD kMaxFileSize = 16u << 20;

std::wstring Widen(const char* text)
{
    std::wstring wide;
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n > 0) {
        wide.resize(static_cast<size_t>(n));
        MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], n);
        wide.resize(static_cast<size_t>(n - 1));
    }
    return wide;
}

std::string SimpleName(PCCERT_CONTEXT certificate)
{
    char name[256] = {};
    CertNameToStrA(kEncoding, &certificate->pCertInfo->Subject, CERT_SIMPLE_NAME_STR, name,
                   sizeof name - 1);
    return name;
}

bool HasKeyLink(PCCERT_CONTEXT certificate)
{
    DWORD size = 0;
    return CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                             &size) ||
           CertGetCertificateContextProperty(certificate, CERT_KEY_CONTEXT_PROP_ID, nullptr,
                                             &size);
}

// A name no container has yet: the certificate's thumbprint and random bytes.
std::string NewContainerName(PCCERT_CONTEXT certificate)
{
    BYTE hash[20] = {};
    DWORD size = sizeof hash;
    CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size);
    BYTE random[8] = {};
    qx::Provider provider;
    if (CryptAcquireContextA(provider.out(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        CryptGenRandom(provider.get(), sizeof random, random);
    std::string name = "Tarvisto-";
    char two[3];
    for (DWORD i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, "%02x", hash[i]);
        name += two;
    }
    name += "-";
    for (BYTE b : random) {
        std::snprintf(two, sizeof two, "%02x", b);
        name += two;
    }
    return name;
}

void DeleteContainer(const std::string& name)
{
    HCRYPTPROV none = 0;  // a deletion hands no handle out
    CryptAcquireContextA(&none, name.c_str(), nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

// Moves the imported certificate's private key into a new container of its
// own and points the certificate at it. The key comes from the import's own
// handle where the certificate carries one, else from where its link leads.
bool MoveKeyToOwnContainer(PCCERT_CONTEXT certificate, std::string* container)
{
    HCRYPTPROV provider = 0;
    DWORD keySpec = 0;
    BOOL callerFrees = FALSE;
    CERT_KEY_CONTEXT keyContext = {};
    DWORD contextSize = sizeof keyContext;
    if (CertGetCertificateContextProperty(certificate, CERT_KEY_CONTEXT_PROP_ID, &keyContext,
                                          &contextSize) &&
        keyContext.hCryptProv != 0) {
        provider = keyContext.hCryptProv;  // the certificate's own
    } else if (!CryptAcquireCertificatePrivateKey(certificate, 0, nullptr, &provider, &keySpec,
                                                  &callerFrees)) {
        return false;
    }
    qx::Provider owned(callerFrees ? provider : 0);
    std::vector<BYTE> blob;
    {
        qx::CryptKey key;
        bool ok = CryptGetUserKey(provider, AT_KEYEXCHANGE, key.out()) ||
                  CryptGetUserKey(provider, AT_SIGNATURE, key.out());
        DWORD size = 0;
        if (ok && (ok = CryptExportKey(key.get(), 0, PRIVATEKEYBLOB, 0, nullptr, &size) != FALSE)) {
            blob.resize(size);
            ok = CryptExportKey(key.get(), 0, PRIVATEKEYBLOB, 0, blob.data(), &size) != FALSE;
            blob.resize(ok ? size : 0);
        }
        if (!ok || blob.size() < sizeof(BLOBHEADER)) {
            SecureZeroMemory(blob.data(), blob.size());
            if (GetLastError() == 0) SetLastError(static_cast<DWORD>(NTE_BAD_KEY));
            return false;
        }
    }
    owned.reset();
    // An exchange key in the new container, whatever kind it was before.
    reinterpret_cast<BLOBHEADER*>(blob.data())->aiKeyAlg = CALG_RSA_KEYX;

    *container = NewContainerName(certificate);
    bool ok;
    {
        qx::Provider target;
        ok = CryptAcquireContextA(target.out(), container->c_str(), nullptr, PROV_RSA_FULL,
                                  CRYPT_NEWKEYSET) != FALSE;
        qx::CryptKey imported;
        ok = ok && CryptImportKey(target.get(), blob.data(), static_cast<DWORD>(blob.size()), 0, 0,
                                  imported.out()) != FALSE;
    }
    SecureZeroMemory(blob.data(), blob.size());
    if (!ok)
        return false;

    std::wstring wide = Widen(container->c_str());
    CRYPT_KEY_PROV_INFO info = {};
    info.pwszContainerName = &wide[0];
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    // The import's handle stays with the import; the certificate keeps only
    // the link to its own container.
    CertSetCertificateContextProperty(certificate, CERT_KEY_CONTEXT_PROP_ID, 0, nullptr);
    return CertSetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, 0, &info) !=
           FALSE;
}

// The user's default key container as it was before an import: the
// platform's import may write the file's key into it (Wine does, whatever the
// flags say), over the key that was there. It is put back as it was.
class DefaultContainer {
public:
    void Save() {
        qx::Provider provider;
        existed_ = CryptAcquireContextA(provider.out(), nullptr, nullptr, PROV_RSA_FULL, 0) != FALSE;
        if (!existed_) return;
        for (int i = 0; i < 2; ++i) {
            Key& key = keys_[i];
            qx::CryptKey handle;
            key.present = CryptGetUserKey(provider.get(), kSpecs[i], handle.out()) != FALSE;
            if (!key.present) continue;
            DWORD size = 0;
            if (CryptExportKey(handle.get(), 0, PRIVATEKEYBLOB, 0, nullptr, &size)) {
                key.blob.resize(size);
                if (!CryptExportKey(handle.get(), 0, PRIVATEKEYBLOB, 0, key.blob.data(), &size))
                    key.blob.clear();
            }
            key.publicKey = PublicKey(provider.get(), kSpecs[i]);
        }
    }
    // Puts it back when the import changed it; false when a changed key
    // could not be saved before (it was not exportable).
    bool Restore() {
        qx::KeptError kept;
        if (!Changed()) return true;
        HCRYPTPROV none = 0;
        CryptAcquireContextA(&none, nullptr, nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
        if (!existed_) return true;
        qx::Provider provider;
        if (!CryptAcquireContextA(provider.out(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET))
            return false;
        bool ok = true;
        for (Key& key : keys_) {
            if (!key.present) continue;
            qx::CryptKey handle;
            ok = !key.blob.empty() &&
                 CryptImportKey(provider.get(), key.blob.data(),
                                static_cast<DWORD>(key.blob.size()), 0, CRYPT_EXPORTABLE,
                                handle.out()) &&
                 ok;
        }
        return ok;
    }
    ~DefaultContainer() {
        for (Key& key : keys_) SecureZeroMemory(key.blob.data(), key.blob.size());
    }

private:
    static constexpr DWORD kSpecs[2] = {AT_KEYEXCHANGE, AT_SIGNATURE};
    struct Key {
        bool present = false;
        std::vector<BYTE> blob;
        std::vector<BYTE> publicKey;
    };
    // The key's public part as a key blob (no pointers in it to compare).
    static std::vector<BYTE> PublicKey(HCRYPTPROV provider, DWORD keyKind) {
        std::vector<BYTE> blob;
        qx::CryptKey key;
        if (!CryptGetUserKey(provider, keyKind, key.out())) return blob;
        DWORD size = 0;
        if (CryptExportKey(key.get(), 0, PUBLICKEYBLOB, 0, nullptr, &size)) {
            blob.resize(size);
            if (CryptExportKey(key.get(), 0, PUBLICKEYBLOB, 0, blob.data(), &size))
                blob.resize(size);
            else
                blob.clear();
        }
        return blob;
    }
    bool Changed() {
        qx::Provider provider;
        if (!CryptAcquireContextA(provider.out(), nullptr, nullptr, PROV_RSA_FULL, 0))
            return existed_;
        if (!existed_) return true;
        for (int i = 0; i < 2; ++i) {
            std::vector<BYTE> now = PublicKey(provider.get(), kSpecs[i]);
            if (now.empty() != !keys_[i].present || now != keys_[i].publicKey) return true;
        }
        return false;
    }
    bool existed_ = false;
    Key keys_[2];
};

}  // namespace

bool PrivateKeySigns(PCCERT_CONTEXT certificate)
{
    if (!certificate)
        return false;
    static const BYTE kData[] = "a check of the imported key";
    std::vector<BYTE> signature(2048);
    DWORD size = static_cast<DWORD>(signature.size());
    {
        HCRYPTPROV provider = 0;
        DWORD keySpec = 0;
        BOOL callerFrees = FALSE;
        if (!CryptAcquireCertificatePrivateKey(certificate, CRYPT_ACQUIRE_SILENT_FLAG, nullptr,
                                               &provider, &keySpec, &callerFrees))
            return false;
        qx::Provider owned(callerFrees ? provider : 0);
        if (keySpec != AT_SIGNATURE)
            keySpec = AT_KEYEXCHANGE;
        qx::CryptHash hash;
        if (!CryptCreateHash(provider, CALG_SHA1, 0, 0, hash.out()) ||
            !CryptHashData(hash.get(), kData, sizeof kData, 0) ||
            !CryptSignHashA(hash.get(), keySpec, nullptr, 0, signature.data(), &size))
            return false;
    }
    qx::Provider verifier;
    if (!CryptAcquireContextA(verifier.out(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return false;
    qx::CryptKey publicKey;
    qx::CryptHash hash;
    return CryptImportPublicKeyInfo(verifier.get(), X509_ASN_ENCODING,
                                    &certificate->pCertInfo->SubjectPublicKeyInfo,
                                    publicKey.out()) &&
           CryptCreateHash(verifier.get(), CALG_SHA1, 0, 0, hash.out()) &&
           CryptHashData(hash.get(), kData, sizeof kData, 0) &&
           CryptVerifySignatureA(hash.get(), signature.data(), size, publicKey.get(), nullptr, 0);
}

bool ImportPfxData(const BYTE* data, DWORD size, const char* password, const char* storeName,
                   PfxImportResult* result)
{
    PfxImportResult local;
    PfxImportResult& out = result ? *result : local;
    out = PfxImportResult();
    if (!data || size == 0 || !password || !storeName || !*storeName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return QXReport(false, kUnit, 60, "The certificate file could not be imported!");
    }
    CRYPT_DATA_BLOB pfx = {size, const_cast<BYTE*>(data)};
    if (!PFXIsPFXBlob(&pfx)) {
        SetLastError(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
        return QXReport(false, kUnit, 65, "This file is no PKCS#12 certificate file!");
    }
    std::wstring widePassword = Widen(password);

    // Keys in memory first, taken from the import's own handle. Where the
    // platform cannot do that, its import goes through the user's default
    // container until the key has moved. Either way the default container is
    // put back as it was afterwards (some platforms write into it even for
    // keys kept in memory); imports wait for each other meanwhile.
    qx::Kernel lock(CreateMutexA(nullptr, FALSE, "Local\\Tarvisto-pkcs12-import"));
    if (lock)
        WaitForSingleObject(lock.get(), 60000);
    DefaultContainer saved;
    saved.Save();
    qx::Store imported(PFXImportCertStore(&pfx, widePassword.c_str(),
                                          CRYPT_EXPORTABLE | PKCS12_NO_PERSIST_KEY));
    if (!imported)
        imported.reset(PFXImportCertStore(&pfx, widePassword.c_str(), CRYPT_EXPORTABLE));
    SecureZeroMemory(&widePassword[0], widePassword.size() * sizeof(wchar_t));
    bool ok = static_cast<bool>(imported);
    const char* failure = "The certificate file could not be opened! (Is the password right?)";
    int location = 70;

    // Every key into a container of its own, checked by a signature.
    std::vector<PCCERT_CONTEXT> certificates;
    PCCERT_CONTEXT current = nullptr;
    while (ok && (current = CertEnumCertificatesInStore(imported.get(), current))) {
        certificates.push_back(CertDuplicateCertificateContext(current));
        if (!HasKeyLink(current))
            continue;
        std::string container;
        ok = MoveKeyToOwnContainer(current, &container);
        if (!container.empty())
            out.containers.push_back(container);
        if (!ok) {
            failure = "The private key of the certificate could not be taken over!";
            location = 80;
        } else if (!PrivateKeySigns(current)) {
            ok = false;
            SetLastError(static_cast<DWORD>(NTE_BAD_KEY));
            failure = "The private key of the certificate does not fit it!";
            location = 85;
        } else {
            ++out.keys;
        }
    }
    if (current)
        CertFreeCertificateContext(current);
    if (ok && certificates.empty()) {
        ok = false;
        SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
        failure = "The certificate file holds no certificate!";
        location = 90;
    }

    // Then the certificates into the store, committed.
    if (ok) {
        qx::Store target(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                       CERT_SYSTEM_STORE_CURRENT_USER, storeName));
        ok = static_cast<bool>(target);
        for (size_t i = 0; ok && i < certificates.size(); ++i) {
            ok = CertAddCertificateContextToStore(target.get(), certificates[i],
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr) !=
                 FALSE;
            if (ok) {
                ++out.certificates;
                out.subjects.push_back(SimpleName(certificates[i]));
            }
        }
        if (target && !CertControlStore(target.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr))
            ok = false;
        if (!ok) {
            failure = "The certificate could not be stored in the certificate database!";
            location = 95;
        }
    }
    {
        qx::KeptError kept;
        for (PCCERT_CONTEXT certificate : certificates)
            CertFreeCertificateContext(certificate);
        // The import's own key handles go before the default container is
        // put back (a handle let go later would write its key there again).
        imported.reset();
    }
    if (!saved.Restore() && ok) {
        ok = false;
        SetLastError(static_cast<DWORD>(NTE_BAD_KEYSET));
        failure = "The key of the user's default key container was overwritten by the import!";
        location = 92;
    }
    if (lock) {
        ReleaseMutex(lock.get());
        lock.reset();
    }
    if (!ok) {
        qx::KeptError kept;
        for (const std::string& container : out.containers)
            DeleteContainer(container);
        out.containers.clear();
        out.keys = 0;
    }
    return QXReport(ok, kUnit, location, failure);
}

bool ImportPfxFile(const char* path, const char* password, const char* storeName,
                   PfxImportResult* result)
{
    if (result)
        *result = PfxImportResult();
    std::vector<BYTE> bytes;
    bool ok = false;
    if (path && *path) {
        qx::File file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
        LARGE_INTEGER size = {};
        if (file && GetFileSizeEx(file.get(), &size) && size.QuadPart > 0 &&
            size.QuadPart <= kMaxFileSize) {
            bytes.resize(static_cast<size_t>(size.QuadPart));
            DWORD got = 0;
            ok = ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got,
                          nullptr) &&
                 got == bytes.size();
        } else if (file && GetLastError() == 0) {
            SetLastError(ERROR_FILE_INVALID);
        }
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    if (!ok)
        return QXReport(false, kUnit, 40, "The certificate file could not be read!");
    return ImportPfxData(bytes.data(), static_cast<DWORD>(bytes.size()), password, storeName,
                         result);
}
