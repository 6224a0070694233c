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
    HCRYPTPROV provider = 0;
    if (CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        CryptGenRandom(provider, sizeof random, random);
        CryptReleaseContext(provider, 0);
    }
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
    HCRYPTPROV provider = 0;
    CryptAcquireContextA(&provider, name.c_str(), nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
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
        provider = keyContext.hCryptProv;
    } else if (!CryptAcquireCertificatePrivateKey(certificate, 0, nullptr, &provider, &keySpec,
                                                  &callerFrees)) {
        return false;
    }
    HCRYPTKEY key = 0;
    bool ok = CryptGetUserKey(provider, AT_KEYEXCHANGE, &key) ||
              CryptGetUserKey(provider, AT_SIGNATURE, &key);
    std::vector<BYTE> blob;
    DWORD size = 0;
    if (ok && (ok = CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size) != FALSE)) {
        blob.resize(size);
        ok = CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size) != FALSE;
    }
    DWORD code = GetLastError();
    if (key)
        CryptDestroyKey(key);
    if (callerFrees)
        CryptReleaseContext(provider, 0);
    if (!ok || blob.size() < sizeof(BLOBHEADER)) {
        SecureZeroMemory(blob.data(), blob.size());
        SetLastError(code ? code : static_cast<DWORD>(NTE_BAD_KEY));
        return false;
    }
    // An exchange key in the new container, whatever kind it was before.
    reinterpret_cast<BLOBHEADER*>(blob.data())->aiKeyAlg = CALG_RSA_KEYX;

    *container = NewContainerName(certificate);
    HCRYPTPROV target = 0;
    ok = CryptAcquireContextA(&target, container->c_str(), nullptr, PROV_RSA_FULL,
                              CRYPT_NEWKEYSET) != FALSE;
    if (ok) {
        HCRYPTKEY imported = 0;
        ok = CryptImportKey(target, blob.data(), size, 0, 0, &imported) != FALSE;
        if (imported)
            CryptDestroyKey(imported);
        CryptReleaseContext(target, 0);
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
        HCRYPTPROV provider = 0;
        existed_ = CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, 0) != FALSE;
        if (!existed_) return;
        for (int i = 0; i < 2; ++i) {
            Key& key = keys_[i];
            HCRYPTKEY handle = 0;
            key.present = CryptGetUserKey(provider, kSpecs[i], &handle) != FALSE;
            if (!key.present) continue;
            DWORD size = 0;
            if (CryptExportKey(handle, 0, PRIVATEKEYBLOB, 0, nullptr, &size)) {
                key.blob.resize(size);
                if (!CryptExportKey(handle, 0, PRIVATEKEYBLOB, 0, key.blob.data(), &size))
                    key.blob.clear();
            }
            CryptDestroyKey(handle);
            key.publicKey = PublicKey(provider, kSpecs[i]);
        }
        CryptReleaseContext(provider, 0);
    }
    // Puts it back when the import changed it; false when a changed key
    // could not be saved before (it was not exportable).
    bool Restore() {
        qx::KeptError kept;
        if (!Changed()) return true;
        HCRYPTPROV provider = 0;
        CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
        if (!existed_) return true;
        if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET))
            return false;
        bool ok = true;
        for (Key& key : keys_) {
            if (!key.present) continue;
            HCRYPTKEY handle = 0;
            ok = !key.blob.empty() &&
                 CryptImportKey(provider, key.blob.data(), static_cast<DWORD>(key.blob.size()), 0,
                                CRYPT_EXPORTABLE, &handle) &&
                 ok;
            if (handle) CryptDestroyKey(handle);
        }
        CryptReleaseContext(provider, 0);
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
    static std::vector<BYTE> PublicKey(HCRYPTPROV provider, DWORD spec) {
        std::vector<BYTE> blob;
        HCRYPTKEY key = 0;
        if (!CryptGetUserKey(provider, spec, &key)) return blob;
        DWORD size = 0;
        if (CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size)) {
            blob.resize(size);
            if (CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &size))
                blob.resize(size);
            else
                blob.clear();
        }
        CryptDestroyKey(key);
        return blob;
    }
    bool Changed() {
        HCRYPTPROV provider = 0;
        bool exists = CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, 0) != FALSE;
        if (!exists) return existed_;
        bool changed = !existed_;
        for (int i = 0; i < 2 && !changed; ++i) {
            HCRYPTKEY handle = 0;
            bool present = CryptGetUserKey(provider, kSpecs[i], &handle) != FALSE;
            if (handle) CryptDestroyKey(handle);
            changed = present != keys_[i].present ||
                      (present && PublicKey(provider, kSpecs[i]) != keys_[i].publicKey);
        }
        CryptReleaseContext(provider, 0);
        return changed;
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
    HCRYPTPROV provider = 0;
    DWORD keySpec = 0;
    BOOL callerFrees = FALSE;
    if (!CryptAcquireCertificatePrivateKey(certificate, CRYPT_ACQUIRE_SILENT_FLAG, nullptr,
                                           &provider, &keySpec, &callerFrees))
        return false;
    if (keySpec != AT_SIGNATURE)
        keySpec = AT_KEYEXCHANGE;
    std::vector<BYTE> signature(2048);
    DWORD size = static_cast<DWORD>(signature.size());
    HCRYPTHASH hash = 0;
    bool ok = CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash) &&
              CryptHashData(hash, kData, sizeof kData, 0) &&
              CryptSignHashA(hash, keySpec, nullptr, 0, signature.data(), &size);
    if (hash)
        CryptDestroyHash(hash);
    if (callerFrees)
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
