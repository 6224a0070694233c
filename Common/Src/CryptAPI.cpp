#include "CryptAPI.h"

#include "BerForm.h"
#include "EnvelopedContent.h"
#include "FileAPI.h"
#include "QXHandles.h"
#include "QXTools.h"
#include "SignedContent.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const char kUnit[] = "CryptAPI";
char kMd5Oid[] = szOID_RSA_MD5;
char kRc4Oid[] = szOID_RSA_RC4;

using qx::ChildDer;
using qx::Der;
using qx::EncodingStartsWith;
using qx::HeaderSize;
using qx::PutHeader;
using qx::ReadDer;
using qx::Cert;
using qx::Memory;
using qx::Msg;
using qx::Provider;
using qx::ProviderStore;
using qx::Store;

// A store that a job keeps open from one message to the next, with the
// certificate last found in it.
struct KeptStore {
    std::string name;
    ProviderStore store;
    std::string subject;  // what `certificate` was found by
    Cert certificate;     // goes before the store is closed
};
const size_t kKeptStores = 4;

// What the message members open, bound to what they work with: borrowed from
// the kept stores of a job, or their own for this call.
struct MessageStore {
    ProviderStore ownStore;
    Cert ownCertificate;
    HCERTSTORE store = nullptr;
    HCRYPTPROV provider = 0;
    PCCERT_CONTEXT certificate = nullptr;
    // Their own: the certificate goes, then the store, then its provider.
    void reset()
    {
        ownCertificate.reset();
        ownStore.reset();
    }
};

}  // namespace

struct QXKeptStores {
    std::vector<KeptStore> stores;
    Provider verifier;  // the key container the verification asks for
};

namespace {

// The store of that name and its provider, and with a subject the
// certificate found by it: what the job keeps when it keeps stores open, else
// opened for this call. Failures are those of OpenStore and FindCertificate.
bool OpenForMessage(TQXCrypt& crypt, const std::unique_ptr<QXKeptStores>& kept,
                    const char* storeName, const char* subject, MessageStore& use)
{
    KeptStore* slot = nullptr;
    if (kept) {
        for (KeptStore& k : kept->stores)
            if (k.name == storeName)
                slot = &k;
    }
    if (!slot) {
        ProviderStore opened = OpenWithProvider(crypt, storeName);
        if (!opened)
            return false;
        if (kept) {
            if (kept->stores.size() >= kKeptStores)
                kept->stores.erase(kept->stores.begin());
            kept->stores.push_back(KeptStore{storeName, std::move(opened), std::string(), Cert()});
            slot = &kept->stores.back();
        } else {
            use.ownStore = std::move(opened);
        }
    }
    use.store = slot ? slot->store.get() : use.ownStore.get();
    use.provider = slot ? slot->store.provider() : use.ownStore.provider();
    if (!subject)
        return true;
    if (slot && slot->certificate && slot->subject == subject) {
        use.certificate = slot->certificate.get();
        return true;
    }
    Cert found(crypt.FindCertificate(use.store, subject));
    if (!found)
        return false;
    if (slot) {
        slot->certificate = std::move(found);
        slot->subject = subject;
        use.certificate = slot->certificate.get();
    } else {
        use.ownCertificate = std::move(found);
        use.certificate = use.ownCertificate.get();
    }
    return true;
}

// Room for size + 1 bytes, zeroed at the end; null for sizes that cannot be held.
BYTE* AllocateOutput(DWORD size)
{
    if (size == 0xFFFFFFFFu)
        return nullptr;
    BYTE* p = static_cast<BYTE*>(malloc(static_cast<size_t>(size) + 1));
    if (p)
        p[size] = 0;
    return p;
}

// Runs a platform call twice: for the size of its output, then into a buffer
// of that size. call(buffer, &size) returns the call's success.
template <class Call>
bool CallForOutput(Call call, Memory& result, DWORD& size)
{
    size = 0;
    if (!call(nullptr, &size))
        return false;
    result.reset(AllocateOutput(size));
    if (!result) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return call(result.get(), &size);
}

bool g_tightOutput = false;  // tests: every first buffer is too small

// What a message adds to its content at most, beside the certificates it
// names or carries: algorithm identifiers, versions, the encoded lengths and
// one signature or one encrypted key of a key of up to 8192 bits.
const uint64_t kMessageOverhead = 2048;

// Runs a platform call once, into a buffer of `estimate` bytes (what the input
// determines of the output). Under the platform the size query does all the
// work of the call itself, so it runs only when the buffer is reported too
// small: then the size pass and the call again (CallForOutput). An estimate
// that cannot be held goes that way at once. call(buffer, &size) as there.
template <class Call>
bool CallOnce(Call call, uint64_t estimate, Memory& result, DWORD& size)
{
    if (g_tightOutput)
        estimate = 1;
    if (estimate < 0xFFFFFFFFull) {
        size = static_cast<DWORD>(estimate);
        result.reset(AllocateOutput(size));
        if (!result) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        if (call(result.get(), &size)) {
            result.get()[size] = 0;
            return true;
        }
        result.reset();
        if (GetLastError() != ERROR_MORE_DATA)
            return false;
    }
    return CallForOutput(call, result, size);
}

// Keeps the thread's last-error code of a failing step across clean-up calls
// that may change it, so that the report names the step that failed.
class SavedError {
public:
    void Take() { code_ = GetLastError(); }
    void Restore() const { SetLastError(code_); }
private:
    DWORD code_ = 0;
};

}  // namespace

void SetTightMessageOutput(bool tight) { g_tightOutput = tight; }

TQXCrypt::TQXCrypt() : files(std::make_unique<TQXFile>()), message{}
{
    ClearLastError();
}

TQXCrypt::~TQXCrypt()
{
    KeepStoresOpen(false);
}

void TQXCrypt::KeepStoresOpen(bool keep)
{
    if (keep && !kept_) {
        kept_ = std::make_unique<QXKeptStores>();
    } else if (!keep && kept_) {
        qx::KeptError error;
        kept_.reset();
    }
}

bool TQXCrypt::Report(bool ok, int location, const char* text)
{
    FormatText(message, sizeof message, "%s", text);
    return QXReport(ok, kUnit, location, message);
}

// ---------------------------------------------------------------------------
// Key container and stores

bool TQXCrypt::AcquireContext(HCRYPTPROV* provider)
{
    bool ok = false;
    if (provider) {
        *provider = 0;
        // The default container is made when missing; when another process
        // made it in between, it is opened after all.
        ok = CryptAcquireContextA(provider, nullptr, nullptr, PROV_RSA_FULL, 0) ||
             CryptAcquireContextA(provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET) ||
             (GetLastError() == static_cast<DWORD>(NTE_EXISTS) &&
              CryptAcquireContextA(provider, nullptr, nullptr, PROV_RSA_FULL, 0));
        if (!ok)
            *provider = 0;
    }
    return Report(ok, 276, "Key container could not be loaded or created!");
}

bool TQXCrypt::ReleaseContext(HCRYPTPROV provider)
{
    return provider != 0 && CryptReleaseContext(provider, 0);
}

HCERTSTORE TQXCrypt::OpenStore(const char* storeName, HCRYPTPROV* provider)
{
    if (provider)
        *provider = 0;
    if (!storeName || !*storeName)
        return nullptr;

    HCRYPTPROV acquired = 0;
    if (!AcquireContext(&acquired))
        return nullptr;

    // The store never releases the provider: it stays the caller's, who
    // releases it after closing the store. A provider that is released at
    // once is not given to the store, which would outlive it.
    HCERTSTORE store = CertOpenStore(
        CERT_STORE_PROV_SYSTEM_A, 0, provider ? acquired : 0,
        CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_NO_CRYPT_RELEASE_FLAG, storeName);
    SavedError error;
    error.Take();
    if (provider)
        *provider = acquired;
    else
        ReleaseContext(acquired);
    error.Restore();
    Report(store != nullptr, 1112, "Certificate database could not be opened!");
    return store;
}

ProviderStore OpenWithProvider(TQXCrypt& crypt, const char* storeName)
{
    HCRYPTPROV acquired = 0;
    HCERTSTORE store = crypt.OpenStore(storeName, &acquired);
    return ProviderStore(store, acquired);
}

bool TQXCrypt::CloseStore(HCERTSTORE store)
{
    // Contexts still held by the caller keep the store alive; changes were
    // committed when they were made.
    return store != nullptr && CertCloseStore(store, 0);
}

// ---------------------------------------------------------------------------
// Certificates

bool TQXCrypt::FreeCertificate(PCCERT_CONTEXT certificate)
{
    if (!certificate)
        return false;
    CertFreeCertificateContext(certificate);
    return true;
}

namespace {

// Simple-name string of a name blob; room for 255 characters with the terminator.
void SimpleName(CERT_NAME_BLOB* name, char* dest)
{
    dest[0] = 0;
    CertNameToStrA(kEncoding, name, CERT_SIMPLE_NAME_STR, dest, 255);
}

// Commits a change of a store so that no change is lost when the store lives
// on; stores that keep nothing to commit (memory stores) count as committed.
bool CommitStore(HCERTSTORE store)
{
    if (CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr))
        return true;
    DWORD code = GetLastError();
    return code == ERROR_CALL_NOT_IMPLEMENTED || code == ERROR_NOT_SUPPORTED ||
           code == static_cast<DWORD>(E_NOTIMPL);
}

}  // namespace

PCCERT_CONTEXT TQXCrypt::FindCertificate(HCERTSTORE store, const char* subject)
{
    if (!store || !subject || !*subject)
        return nullptr;

    // Every subject that contains the text is a candidate; a subject that is
    // exactly the text wins, so that "Bob" does not find "Bobby". A text that
    // is only a part of several subjects names nobody: the store's order must
    // not choose between people.
    Cert first;
    Cert exact;
    int candidates = 0;
    std::string names;
    PCCERT_CONTEXT current = nullptr;
    while ((current = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                 CERT_FIND_SUBJECT_STR_A, subject, current))) {
        char name[256];
        SimpleName(&current->pCertInfo->Subject, name);
        if (_stricmp(name, subject) == 0) {
            exact.reset(CertDuplicateCertificateContext(current));
            CertFreeCertificateContext(current);
            break;
        }
        if (!first)
            first.reset(CertDuplicateCertificateContext(current));
        if (++candidates > 1)
            names += ", ";
        names += "'";
        names += name;
        names += "'";
    }
    if (!exact && candidates > 1) {
        char text[1024];
        FormatText(text, sizeof text,
                   "The name '%s' fits several certificates in database (%s)! Please give "
                   "the full name.",
                   subject, names.c_str());
        SetLastError(0);
        Report(false, 1246, text);
        return nullptr;
    }
    PCCERT_CONTEXT found = exact ? exact.release() : first.release();
    if (found)
        SetLastError(0);  // the end of the search left CRYPT_E_NOT_FOUND
    Report(found != nullptr, 1246, "No certificate could be found in database!");
    return found;
}

bool TQXCrypt::GetCertificateInfo(PCCERT_CONTEXT certificate, CertificateInfo* info)
{
    bool ok = false;
    if (certificate && info) {
        memset(info, 0, sizeof *info);
        PCERT_INFO ci = certificate->pCertInfo;
        info->version = ci->dwVersion;
        SimpleName(&ci->Issuer, info->issuer);
        SimpleName(&ci->Subject, info->subject);
        info->notBefore = ci->NotBefore;
        info->notAfter = ci->NotAfter;
        info->certificate = certificate;
        ok = true;
    }
    return Report(ok, 1324, "Certficate information could not be found!");
}

PCCERT_CONTEXT TQXCrypt::CheckSignatureKey(PCCERT_CONTEXT certificate)
{
    if (!certificate)
        return nullptr;
    bool ok = false;
    DWORD size = 0;
    if (CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                          &size)) {
        Memory info(AllocateOutput(size));
        ok = info && CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID,
                                                       info.get(), &size);
    }
    Report(ok, 1435, "No signature certicate could be found!");
    return ok ? certificate : nullptr;
}

bool TQXCrypt::AddCertificate(const char* storeName, PCCERT_CONTEXT certificate)
{
    if (!storeName || !*storeName || !certificate)
        return false;
    ProviderStore store = OpenWithProvider(*this, storeName);
    if (!store)
        return false;

    bool ok;
    // A certificate that is already there is left alone and counts as added.
    Cert present(CertFindCertificateInStore(store.get(), kEncoding, 0, CERT_FIND_EXISTING,
                                            certificate, nullptr));
    if (present) {
        present.reset();
        SetLastError(0);
        ok = true;
    } else {
        ok = CertAddCertificateContextToStore(store.get(), certificate,
                                              CERT_STORE_ADD_USE_EXISTING, nullptr) &&
             CommitStore(store.get());
    }
    SavedError error;
    error.Take();
    store.reset();
    error.Restore();
    return Report(ok, 1480, "The public key could not be registered in the certificate database!");
}

bool TQXCrypt::DeleteCertificate(PCCERT_CONTEXT certificate)
{
    if (!certificate)
        return false;
    // The store is kept open across the deletion so that it can be committed.
    Store store(CertDuplicateStore(certificate->hCertStore));
    bool ok = CertDeleteCertificateFromStore(certificate);
    if (ok && store)
        ok = CommitStore(store.get());
    SavedError error;
    error.Take();
    store.reset();
    error.Restore();
    return Report(ok, 1500, "This certificate could not be removed from the certificate database!");
}

bool TQXCrypt::ContainsCertificate(const char* storeName, PCCERT_CONTEXT certificate)
{
    if (!storeName || !*storeName || !certificate)
        return false;
    ProviderStore store = OpenWithProvider(*this, storeName);
    if (!store)
        return false;
    // Looked up, never added and removed: the user's store is only read.
    Cert present(CertFindCertificateInStore(store.get(), kEncoding, 0, CERT_FIND_EXISTING,
                                            certificate, nullptr));
    return static_cast<bool>(present);
}

bool TQXCrypt::CompareCertificate(PCCERT_CONTEXT first, PCCERT_CONTEXT second)
{
    if (!first || !second)
        return false;
    bool ok = CertCompareCertificate(kEncoding, first->pCertInfo, second->pCertInfo);
    return Report(ok, 1692, "The new certificate differs from the certificate in the database!");
}

bool TQXCrypt::CheckSubjectHolder(const char* storeName, PCCERT_CONTEXT certificate, bool* held)
{
    if (held)
        *held = false;
    if (!certificate)
        return false;
    if (!storeName || !*storeName)
        return true;  // a store without a name holds nothing
    ProviderStore store = OpenWithProvider(*this, storeName);
    if (!store)
        return false;

    // Whoever later looks the name up must find this very certificate: one of
    // another key (or any other encoding) under the same name is a conflict,
    // whatever its issuer and serial number claim.
    char subject[256];
    SimpleName(&certificate->pCertInfo->Subject, subject);
    bool same = false;
    bool other = false;
    PCCERT_CONTEXT current = nullptr;
    while ((current = CertEnumCertificatesInStore(store.get(), current))) {
        char name[256];
        SimpleName(&current->pCertInfo->Subject, name);
        if (_stricmp(name, subject) != 0)
            continue;
        if (current->cbCertEncoded == certificate->cbCertEncoded &&
            memcmp(current->pbCertEncoded, certificate->pbCertEncoded,
                   certificate->cbCertEncoded) == 0)
            same = true;
        else
            other = true;
    }
    if (held)
        *held = same;
    SetLastError(0);  // the end of the enumeration left CRYPT_E_NOT_FOUND
    store.reset();
    return Report(!other, 1692, "The new certificate differs from the certificate in the database!");
}

// ---------------------------------------------------------------------------
// Walking a store

bool TQXCrypt::GetNextCertificate(HCERTSTORE store, PCCERT_CONTEXT previous,
                                  CertificateInfo* info)
{
    if (info)
        memset(info, 0, sizeof *info);
    PCCERT_CONTEXT next = nullptr;
    if (store && info) {
        // Takes the previous context back, whatever it finds.
        next = CertEnumCertificatesInStore(store, previous);
    } else {
        // The previous context is the walk's: it goes here too, or it would
        // keep the store alive after it is closed.
        if (previous)
            CertFreeCertificateContext(previous);
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    // The end of the walk leaves the enumeration's own code (not found).
    bool ok = next && GetCertificateInfo(next, info);
    return Report(ok, 1282, "Certficate information could not be found!");
}

bool TQXCrypt::HasPrivateKey(PCCERT_CONTEXT certificate)
{
    bool ok = false;
    if (certificate) {
        // Only the link to a key is looked at; its container stays closed.
        DWORD size = 0;
        ok = CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                               &size);
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    return Report(ok, 1576, "This certificate has no private key!");
}

bool TQXCrypt::IsTimeValid(PCCERT_CONTEXT certificate)
{
    bool ok = false;
    if (certificate) {
        // Now, by the system clock: -1 not valid yet, +1 expired, 0 valid.
        ok = CertVerifyTimeValidity(nullptr, certificate->pCertInfo) == 0;
        // The check sets no error of its own; the report names the period.
        SetLastError(ok ? 0 : static_cast<DWORD>(CERT_E_EXPIRED));
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    return Report(ok, 1601, "This certficate is no longer valid!");
}

// ---------------------------------------------------------------------------
// The user's system stores

bool WideToAnsi(const wchar_t* wide, char* out, size_t size)
{
    if (!out || size == 0)
        return false;
    out[0] = 0;
    if (!wide)
        return false;
    int length = static_cast<int>(wcslen(wide));
    if (length == 0)
        return true;
    // No best fit: "\u0141odz" must not become "Lodz", which is another name.
    BOOL defaulted = FALSE;
    int written = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, out,
                                      static_cast<int>(size - 1), nullptr, &defaulted);
    if (written <= 0 || defaulted) {
        out[0] = 0;
        return false;
    }
    out[written] = 0;
    // Back again, it must be the same text.
    std::wstring back(static_cast<size_t>(written) + 1, L'\0');
    int read = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, out, written, &back[0],
                                   written + 1);
    if (read != length || wmemcmp(back.c_str(), wide, static_cast<size_t>(length)) != 0) {
        out[0] = 0;
        return false;
    }
    return true;
}

namespace {

// What CertEnumSystemStore hands on to the callback.
struct EnumStoreArgument {
    BOOL listAll;
    BOOL verbose;
    DWORD flags;
    const void* locationParameter;
    HKEY baseKey;
};

// The table of the enumeration under way and the number of names stored.
StoreTable* g_storeTable = nullptr;
int g_storeCount = 0;

// The store's wide name by the relocate rule of the enumeration.
bool GetSystemStoreName(const void* systemStore, DWORD flags, const EnumStoreArgument* argument,
                        const wchar_t** name)
{
    *name = nullptr;
    if (!systemStore)
        return false;
    HKEY baseKey = argument ? argument->baseKey : nullptr;
    if (flags & CERT_SYSTEM_STORE_RELOCATE_FLAG) {
        if (!baseKey)
            return false;
        auto* relocate = static_cast<const CERT_SYSTEM_STORE_RELOCATE_PARA*>(systemStore);
        if (relocate->hKeyBase != baseKey)
            return false;
        *name = relocate->pwszSystemStore;
        return *name != nullptr;
    }
    if (baseKey)
        return false;
    *name = static_cast<const wchar_t*>(systemStore);
    return true;
}

BOOL WINAPI EnumSystemStoreCallback(const void* systemStore, DWORD flags,
                                    PCERT_SYSTEM_STORE_INFO, void*, void* argument)
{
    const wchar_t* name = nullptr;
    if (!GetSystemStoreName(systemStore, flags, static_cast<const EnumStoreArgument*>(argument),
                            &name))
        return TRUE;  // not ours to list; FALSE would fail the whole enumeration
    if (!g_storeTable)
        return FALSE;
    // A full table, a name too long for a slot or one that does not convert
    // exactly is skipped: a cut or best-fit name would open (and create)
    // another store.
    if (g_storeCount >= kStoreTableSlots)
        return TRUE;
    char ansi[kStoreNameSize];
    if (!WideToAnsi(name, ansi, sizeof ansi) || !ansi[0])
        return TRUE;
    memcpy(g_storeTable->names[g_storeCount], ansi, sizeof ansi);
    ++g_storeCount;
    return TRUE;
}

}  // namespace

bool TQXCrypt::EnumSystemStores(StoreTable* table)
{
    if (!table)
        return false;
    for (StoreName& slot : table->names)
        slot[0] = 0;
    g_storeTable = table;
    g_storeCount = 0;
    EnumStoreArgument argument = {TRUE, FALSE, CERT_SYSTEM_STORE_CURRENT_USER, nullptr, nullptr};
    bool ok = CertEnumSystemStore(CERT_SYSTEM_STORE_CURRENT_USER, nullptr, &argument,
                                  EnumSystemStoreCallback) != FALSE;
    // A new profile has no list of stores until one is opened: no stores.
    if (!ok && GetLastError() == ERROR_FILE_NOT_FOUND && g_storeCount == 0) {
        SetLastError(0);
        ok = true;
    }
    g_storeTable = nullptr;
    g_storeCount = 0;
    return Report(ok, 1760, "The certificate databases could not be listed!");
}

bool TQXCrypt::GetThumbprint(PCCERT_CONTEXT certificate, BYTE* thumbprint)
{
    DWORD size = kThumbprintSize;
    return certificate && thumbprint &&
           CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, thumbprint,
                                             &size) &&
           size == static_cast<DWORD>(kThumbprintSize);
}

bool TQXCrypt::RemoveCertificateFromSystemStore(const char* storeName, const char* subject,
                                                const BYTE* thumbprint)
{
    const char* text = "This certificate could not be removed from the system database!";
    if (!storeName || !*storeName || !subject || !*subject) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return Report(false, 1553, text);
    }
    ProviderStore store = OpenWithProvider(*this, storeName);
    bool ok = false;
    if (store) {
        Cert found;
        if (thumbprint) {
            // Exactly the chosen one: a twin of the same name stays.
            CRYPT_HASH_BLOB hash = {kThumbprintSize, const_cast<BYTE*>(thumbprint)};
            found.reset(CertFindCertificateInStore(store.get(), kEncoding, 0, CERT_FIND_SHA1_HASH,
                                                   &hash, nullptr));
            if (found) {
                char name[256];
                SimpleName(&found.get()->pCertInfo->Subject, name);
                if (strcmp(name, subject) != 0) {
                    found.reset();
                    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
                }
            }
        } else {
            found.reset(FindCertificate(store.get(), subject));
        }
        // DeleteCertificate frees the context and commits the store.
        ok = found && DeleteCertificate(found.release());
    }
    SavedError error;
    error.Take();
    store.reset();
    error.Restore();
    return Report(ok, 1553, text);
}

// ---------------------------------------------------------------------------
// The signer's certificate
//
// A message's signature says only that the key in the certificate it carries
// made it; who bears that key is what the certificate's own signature vouches
// for. A certificate signed with its own key must still verify with it; one
// whose issuer the platform's chain building finds (among the message's
// certificates and the user's stores, nothing fetched) must verify with the
// issuer's key. One whose issuer is not at hand is taken as it stands.
//
// A certificate whose names were altered is still known as signed with its
// own key, although its subject and issuer no longer match and a chain
// builder takes it for one issued by someone else: its RSA signature, opened
// with its own key, is a well-formed signature block.

namespace {

// What the platform decodes from an encoding, in a buffer of its own.
bool DecodeObject(LPCSTR type, const BYTE* data, DWORD length, std::vector<BYTE>& out)
{
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, type, data, length, 0, nullptr, nullptr, &size))
        return false;
    out.resize(size);
    return CryptDecodeObjectEx(X509_ASN_ENCODING, type, data, length, 0, nullptr, out.data(),
                               &size) != FALSE;
}

// Unsigned numbers of 32-bit limbs, the least significant first: what the
// public operation of RSA needs, for moduli of up to kMaxRsaBits.
using Limbs = std::vector<uint32_t>;
const DWORD kMaxRsaBits = 16384;

// Whether a (k limbs and the limb above them, `high`) is at least n (k limbs).
bool NotBelow(const uint32_t* a, uint32_t high, const uint32_t* n, size_t k)
{
    if (high)
        return true;
    for (size_t i = k; i-- > 0;)
        if (a[i] != n[i])
            return a[i] > n[i];
    return true;
}

// a -= n over k limbs, for a at least n (a borrow out of the top is dropped).
void Subtract(uint32_t* a, const uint32_t* n, size_t k)
{
    uint64_t borrow = 0;
    for (size_t i = 0; i < k; ++i) {
        uint64_t difference = uint64_t{a[i]} - n[i] - borrow;
        a[i] = static_cast<uint32_t>(difference);
        borrow = (difference >> 32) & 1;
    }
}

// out = a * b / 2^(32k) mod n, for a and b below the odd n (Montgomery's
// multiplication; `inverse` is -1/n mod 2^32, `t` room for k + 2 limbs).
// out may be a or b.
void MontgomeryMultiply(const uint32_t* a, const uint32_t* b, const uint32_t* n,
                        uint32_t inverse, size_t k, uint32_t* out, uint32_t* t)
{
    std::fill(t, t + k + 2, 0);
    for (size_t i = 0; i < k; ++i) {
        uint64_t carry = 0;
        for (size_t j = 0; j < k; ++j) {
            uint64_t sum = uint64_t{t[j]} + uint64_t{a[j]} * b[i] + carry;
            t[j] = static_cast<uint32_t>(sum);
            carry = sum >> 32;
        }
        uint64_t sum = uint64_t{t[k]} + carry;
        t[k] = static_cast<uint32_t>(sum);
        t[k + 1] = static_cast<uint32_t>(sum >> 32);
        // Adds a multiple of n that clears the lowest limb, and drops it.
        uint32_t m = t[0] * inverse;
        carry = (uint64_t{t[0]} + uint64_t{m} * n[0]) >> 32;
        for (size_t j = 1; j < k; ++j) {
            sum = uint64_t{t[j]} + uint64_t{m} * n[j] + carry;
            t[j - 1] = static_cast<uint32_t>(sum);
            carry = sum >> 32;
        }
        sum = uint64_t{t[k]} + carry;
        t[k - 1] = static_cast<uint32_t>(sum);
        t[k] = t[k + 1] + static_cast<uint32_t>(sum >> 32);
        t[k + 1] = 0;
    }
    if (NotBelow(t, t[k], n, k))
        Subtract(t, n, k);
    std::copy(t, t + k, out);
}

// base^exponent mod n, for base below the odd n.
Limbs PowerModulo(const Limbs& base, uint32_t exponent, const Limbs& n)
{
    size_t k = n.size();
    // -1/n mod 2^32 by Newton's steps; n * n = 1 mod 8 holds for any odd n.
    uint32_t inverse = n[0];
    for (int i = 0; i < 5; ++i)
        inverse *= 2 - n[0] * inverse;
    inverse = 0 - inverse;
    // 2^(64k) mod n, by doubling: takes numbers into Montgomery's form.
    Limbs square(k, 0);
    square[0] = 1;
    for (size_t i = 0; i < 64 * k; ++i) {
        uint32_t high = square[k - 1] >> 31;
        for (size_t j = k - 1; j > 0; --j)
            square[j] = (square[j] << 1) | (square[j - 1] >> 31);
        square[0] <<= 1;
        if (NotBelow(square.data(), high, n.data(), k))
            Subtract(square.data(), n.data(), k);
    }
    Limbs t(k + 2), x(k), result(k), one(k, 0);
    one[0] = 1;
    MontgomeryMultiply(base.data(), square.data(), n.data(), inverse, k, x.data(), t.data());
    MontgomeryMultiply(one.data(), square.data(), n.data(), inverse, k, result.data(), t.data());
    for (int bit = 31; bit >= 0; --bit) {
        MontgomeryMultiply(result.data(), result.data(), n.data(), inverse, k, result.data(),
                           t.data());
        if ((exponent >> bit) & 1)
            MontgomeryMultiply(result.data(), x.data(), n.data(), inverse, k, result.data(),
                               t.data());
    }
    MontgomeryMultiply(result.data(), one.data(), n.data(), inverse, k, result.data(), t.data());
    return result;
}

// Whether the certificate's signature was made with the certificate's own RSA
// key, whatever it signed: the signature raised to the public exponent is a
// PKCS #1 signature block (00 01, at least eight FF, 00, a DigestInfo).
bool SignedWithOwnKey(PCCERT_CONTEXT certificate)
{
    const CERT_PUBLIC_KEY_INFO& key = certificate->pCertInfo->SubjectPublicKeyInfo;
    std::vector<BYTE> keyBlob;
    std::vector<BYTE> signedContent;
    const size_t keyHeader = sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
    if (!key.Algorithm.pszObjId || strcmp(key.Algorithm.pszObjId, szOID_RSA_RSA) != 0 ||
        !DecodeObject(RSA_CSP_PUBLICKEYBLOB, key.PublicKey.pbData, key.PublicKey.cbData,
                      keyBlob) ||
        keyBlob.size() < keyHeader ||
        !DecodeObject(X509_CERT, certificate->pbCertEncoded, certificate->cbCertEncoded,
                      signedContent) ||
        signedContent.size() < sizeof(CERT_SIGNED_CONTENT_INFO))
        return false;
    RSAPUBKEY rsa;
    memcpy(&rsa, keyBlob.data() + sizeof(BLOBHEADER), sizeof rsa);
    size_t bytes = (rsa.bitlen + 7) / 8;
    if (rsa.bitlen < 512 || rsa.bitlen > kMaxRsaBits || keyBlob.size() < keyHeader + bytes)
        return false;

    // Both come least significant byte first.
    const BYTE* modulus = keyBlob.data() + keyHeader;
    const CRYPT_BIT_BLOB& signature =
        reinterpret_cast<const CERT_SIGNED_CONTENT_INFO*>(signedContent.data())->Signature;
    size_t k = (bytes + 3) / 4;
    Limbs n(k, 0);
    Limbs s(k, 0);
    for (size_t i = 0; i < bytes; ++i)
        n[i / 4] |= uint32_t{modulus[i]} << (8 * (i % 4));
    for (size_t i = 0; i < signature.cbData; ++i) {
        if (i >= bytes) {
            if (signature.pbData[i])
                return false;
            continue;
        }
        s[i / 4] |= uint32_t{signature.pbData[i]} << (8 * (i % 4));
    }
    if (!(n[0] & 1) || NotBelow(s.data(), 0, n.data(), k))
        return false;

    Limbs opened = PowerModulo(s, rsa.pubexp, n);
    std::vector<BYTE> block(bytes);
    for (size_t i = 0; i < bytes; ++i)
        block[bytes - 1 - i] = static_cast<BYTE>(opened[i / 4] >> (8 * (i % 4)));
    if (block[0] != 0x00 || block[1] != 0x01)
        return false;
    size_t at = 2;
    while (at < bytes && block[at] == 0xFF)
        ++at;
    Der digestInfo;
    return at >= 10 && at + 1 < bytes && block[at] == 0x00 && block[at + 1] == 0x30 &&
           ReadDer(block.data(), at + 1, bytes, digestInfo) && digestInfo.end() == bytes;
}

// Whether the certificate's own signature holds, as far as its signer is at
// hand (see above); `message` is the signed message that carries it. Leaves
// TRUST_E_CERT_SIGNATURE when it does not.
bool CertificateSignatureHolds(PCCERT_CONTEXT certificate, const BYTE* message, DWORD length)
{
    bool holds;
    if (CryptVerifyCertificateSignatureEx(0, X509_ASN_ENCODING,
                                          CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
                                          const_cast<CERT_CONTEXT*>(certificate),
                                          CRYPT_VERIFY_CERT_SIGN_ISSUER_PUBKEY,
                                          &certificate->pCertInfo->SubjectPublicKeyInfo, 0,
                                          nullptr)) {
        holds = true;  // signed with its own key, as it stands
    } else if (SignedWithOwnKey(certificate)) {
        holds = false;  // signed with its own key, altered since
    } else {
        // Issued by another: when the chain finds the issuer, its key decides.
        // (The store that the signer's context names may be gone with the
        // message: the message's certificates are read anew.)
        Store carried(CryptGetMessageCertificates(kEncoding, 0, 0, message, length));
        CERT_CHAIN_PARA para = {};
        para.cbSize = sizeof para;
        qx::Chain chain;
        if (!CertGetCertificateChain(nullptr, certificate, nullptr, carried.get(), &para,
                                     CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL |
                                         CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE,
                                     nullptr, chain.out()))
            return false;
        const CERT_CHAIN_CONTEXT* built = chain.get();
        holds = built->cChain > 0 && built->rgpChain[0]->cElement > 0 &&
                !(built->rgpChain[0]->rgpElement[0]->TrustStatus.dwErrorStatus &
                  CERT_TRUST_IS_NOT_SIGNATURE_VALID);
    }
    SetLastError(holds ? 0 : static_cast<DWORD>(TRUST_E_CERT_SIGNATURE));
    return holds;
}

}  // namespace

// ---------------------------------------------------------------------------
// Messages in memory

namespace {

void ClearOutput(BYTE** output, uint32_t* outputLength)
{
    if (output)
        *output = nullptr;
    if (outputLength)
        *outputLength = 0;
}

// Points the message at its definite form (qx::DefiniteForm), kept in
// `definite`, where that differs. False, with CRYPT_E_ASN1_CORRUPT, for a
// message that cannot be read so: the platform never sees it, as its decoder
// takes some broken encodings as they stand and fails inside.
bool ReadDefinite(const BYTE*& data, uint32_t& length, std::vector<BYTE>& definite)
{
    if (!qx::DefiniteForm(data, length, definite) || definite.size() > UINT32_MAX) {
        SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
        return false;
    }
    if (!definite.empty()) {
        data = definite.data();
        length = static_cast<uint32_t>(definite.size());
    }
    return true;
}

}  // namespace

bool TQXCrypt::SignBuffer(const char* storeName, const char* subject, const BYTE* data,
                          uint32_t length, BYTE** output, uint32_t* outputLength)
{
    ClearOutput(output, outputLength);
    if (!storeName || !subject || !data || length == 0 || !output || !outputLength)
        return false;

    MessageStore use;
    if (!OpenForMessage(*this, kept_, storeName, subject, use) ||
        !CheckSignatureKey(use.certificate))
        return false;

    CRYPT_SIGN_MESSAGE_PARA para = {};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = kEncoding;
    para.pSigningCert = use.certificate;
    para.HashAlgorithm.pszObjId = kMd5Oid;
    PCCERT_CONTEXT certificates[1] = {use.certificate};
    para.cMsgCert = 1;
    para.rgpMsgCert = certificates;

    const BYTE* parts[1] = {data};
    DWORD partLengths[1] = {length};
    DWORD size = 0;
    Memory result;
    // The content, the certificate and the signer's issuer (a part of it).
    uint64_t estimate = uint64_t{length} + 2 * uint64_t{use.certificate->cbCertEncoded} +
                        kMessageOverhead;
    bool ok = CallOnce(
        [&](BYTE* out, DWORD* n) {
            return CryptSignMessage(&para, FALSE, 1, parts, partLengths, out, n) != FALSE;
        },
        estimate, result, size);
    SavedError error;
    error.Take();
    use.reset();
    if (ok) {
        *output = result.release();
        *outputLength = size;
    }
    error.Restore();
    return Report(ok, 2393, "Signature failed!");
}

bool TQXCrypt::VerifyBuffer(const BYTE* data, uint32_t length, BYTE** output,
                            uint32_t* outputLength, PCCERT_CONTEXT* signer, bool verifyOnly)
{
    ClearOutput(output, outputLength);
    if (signer)
        *signer = nullptr;
    if (!data || length == 0 || (!verifyOnly && (!output || !outputLength)))
        return false;

    // A provider is acquired so that a missing key container fails as before;
    // the verification itself runs on CryptoAPI's default provider.
    // Within a job the container is asked for once.
    Provider provider;
    if (!kept_ || !kept_->verifier) {
        HCRYPTPROV acquired = 0;
        if (!AcquireContext(&acquired))
            return false;
        provider.reset(acquired);
        if (kept_)
            kept_->verifier = std::move(provider);
    }

    // A message of another program is read in the form every reader takes;
    // the signature covers the content octets, not how they were written.
    std::vector<BYTE> definite;
    bool readable = ReadDefinite(data, length, definite);

    CRYPT_VERIFY_MESSAGE_PARA para = {};
    para.cbSize = sizeof para;
    para.dwMsgAndCertEncodingType = kEncoding;
    para.hCryptProv = 0;

    Cert signerCert;
    DWORD size = 0;
    Memory content;
    // One signer context goes out: the one of the last pass.
    auto verify = [&](BYTE* out, DWORD* n) {
        return CryptVerifyMessageSignature(&para, 0, data, length, out, n, signerCert.out()) !=
               FALSE;
    };
    // The content is a part of the message.
    bool ok = readable &&
              (verifyOnly ? verify(nullptr, &size) : CallOnce(verify, length, content, size));
    // A signature over signed attributes holds for the content only through
    // their digest of it.
    if (ok && qx::HasSignedAttributes(data, length)) {
        if (verifyOnly)
            ok = CallOnce(verify, length, content, size);
        ok = ok && qx::AttributesBindContent(data, length, content.get(), size);
    }
    // The key made the signature; the name on its certificate must hold too.
    if (ok && signerCert && !CertificateSignatureHolds(signerCert.get(), data, length))
        ok = false;
    SavedError error;
    error.Take();
    provider.reset();
    if (signer)
        *signer = signerCert.release();
    if (ok && !verifyOnly) {
        *output = content.release();
        *outputLength = size;
    }
    error.Restore();
    return Report(ok, 2525, "Verification failed!");
}

// ---------------------------------------------------------------------------
// DER editing for the RC4 parameters of an enveloped message.
//
// CryptoAPI encodes the "no parameters" of the RC4 content encryption as an
// ASN.1 NULL. Readers that take RC4 parameters as an initial value (openssl
// among them) refuse a NULL there, while every reader takes absent parameters.
// So the NULL is dropped and the enclosing lengths are encoded anew, in the
// message's own buffer.

namespace {

// Drops the NULL parameters of the RC4 content encryption algorithm of an
// enveloped message, in place; anything else is left as it is. The five
// elements around the NULL get their lengths anew (a header may become
// shorter), so every byte moves towards the start, at most once: the
// encrypted content, which follows the algorithm, in one move.
void DropRc4NullParameters(BYTE* message, DWORD& length)
{
    const size_t levels = 5;
    Der path[levels + 1];
    // ContentInfo / [0] / EnvelopedData / EncryptedContentInfo / algorithm / NULL
    if (!ReadDer(message, 0, length, path[0]) || path[0].end() != length ||
        !ChildDer(message, path[0], 1, path[1]) || !ChildDer(message, path[1], 0, path[2]) ||
        !ChildDer(message, path[2], 2, path[3]) || !ChildDer(message, path[3], 1, path[4]))
        return;
    Der oid;
    if (!ChildDer(message, path[4], 0, oid) ||
        !qx::IsEncodedOid(message, oid, qx::kRc4OidEncoded) ||
        !ChildDer(message, path[4], 1, path[5]) || message[path[5].start] != 0x05 ||
        path[5].length != 0 || path[5].end() != path[4].end())
        return;

    // New content lengths, from the innermost out: each element loses the
    // NULL and what the headers inside it lose.
    size_t newLength[levels];
    size_t lost = path[levels].end() - path[levels].start;
    for (size_t d = levels; d-- > 0;) {
        newLength[d] = path[d].length - lost;
        lost += path[d].header - HeaderSize(newLength[d]);
    }
    // Level by level: the new header, then the content up to the next level.
    // What is written never passes what is still to be read.
    size_t to = 0;
    for (size_t d = 0; d < levels; ++d) {
        to += PutHeader(message + to, message[path[d].start], newLength[d]);
        size_t from = path[d].start + path[d].header;
        size_t count = path[d + 1].start - from;
        memmove(message + to, message + from, count);
        to += count;
    }
    // After the NULL: the rest of the five levels.
    size_t rest = path[levels].end();
    memmove(message + to, message + rest, length - rest);
    to += length - rest;
    message[to] = 0;
    length = static_cast<DWORD>(to);
}

}  // namespace

bool TQXCrypt::EncryptBuffer(const char* storeName, const char* subject, const BYTE* data,
                             uint32_t length, BYTE** output, uint32_t* outputLength)
{
    ClearOutput(output, outputLength);
    if (!storeName || !subject || !data || length == 0 || !output || !outputLength)
        return false;

    MessageStore use;
    if (!OpenForMessage(*this, kept_, storeName, subject, use))
        return false;

    CRYPT_ENCRYPT_MESSAGE_PARA para = {};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = kEncoding;
    para.hCryptProv = use.provider;
    para.ContentEncryptionAlgorithm.pszObjId = kRc4Oid;

    PCCERT_CONTEXT recipients[1] = {use.certificate};
    DWORD size = 0;
    Memory result;
    // The content (RC4 keeps its length) and the recipient's issuer.
    uint64_t estimate = uint64_t{length} + 2 * uint64_t{use.certificate->cbCertEncoded} +
                        kMessageOverhead;
    bool ok = CallOnce(
        [&](BYTE* out, DWORD* n) {
            return CryptEncryptMessage(&para, 1, recipients, data, length, out, n) != FALSE;
        },
        estimate, result, size);
    if (ok)
        DropRc4NullParameters(result.get(), size);
    SavedError error;
    error.Take();
    use.reset();
    if (ok) {
        *output = result.release();
        *outputLength = size;
    }
    error.Restore();
    return Report(ok, 2743, "Encryption failed!");
}

namespace {

// Decrypts an opened enveloped message for the first of its recipients whose
// certificate, with a private key, the store holds. Leaves the last error of
// the failing step.
bool DecryptForStoredRecipient(HCRYPTMSG msg, HCERTSTORE store)
{
    DWORD type = 0;
    DWORD size = sizeof type;
    if (!CryptMsgGetParam(msg, CMSG_TYPE_PARAM, 0, &type, &size))
        return false;
    if (type != CMSG_ENVELOPED) {
        SetLastError(static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE));
        return false;
    }
    DWORD count = 0;
    size = sizeof count;
    if (!CryptMsgGetParam(msg, CMSG_RECIPIENT_COUNT_PARAM, 0, &count, &size))
        return false;

    DWORD lastError = static_cast<DWORD>(CRYPT_E_NO_DECRYPT_CERT);
    for (DWORD index = 0; index < count; ++index) {
        size = 0;
        if (!CryptMsgGetParam(msg, CMSG_RECIPIENT_INFO_PARAM, index, nullptr, &size))
            return false;
        Memory infoBuffer(AllocateOutput(size));
        if (!infoBuffer) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        if (!CryptMsgGetParam(msg, CMSG_RECIPIENT_INFO_PARAM, index, infoBuffer.get(), &size))
            return false;
        auto* recipientInfo = reinterpret_cast<PCERT_INFO>(infoBuffer.get());

        Cert recipient(CertGetSubjectCertificateFromStore(store, kEncoding, recipientInfo));
        if (!recipient)
            continue;  // not this user's

        HCRYPTPROV keyProvider = 0;
        DWORD keySpec = 0;
        BOOL callerFrees = FALSE;
        if (!CryptAcquireCertificatePrivateKey(recipient.get(), 0, nullptr, &keyProvider,
                                               &keySpec, &callerFrees)) {
            lastError = GetLastError();
            continue;
        }
        Provider owned(callerFrees ? keyProvider : 0);
        // Keys imported from PKCS#12 files may report a kind of their own.
        if (keySpec != AT_KEYEXCHANGE && keySpec != AT_SIGNATURE)
            keySpec = AT_KEYEXCHANGE;

        CMSG_CTRL_DECRYPT_PARA para = {};
        para.cbSize = sizeof para;
        para.hCryptProv = keyProvider;
        para.dwKeySpec = keySpec;
        para.dwRecipientIndex = index;
        if (CryptMsgControl(msg, 0, CMSG_CTRL_DECRYPT, &para))
            return true;
        lastError = GetLastError();
    }
    SetLastError(lastError);
    return false;
}

}  // namespace

bool TQXCrypt::DecryptBuffer(const char* storeName, const BYTE* data, uint32_t length,
                             BYTE** output, uint32_t* outputLength)
{
    ClearOutput(output, outputLength);
    if (!data || length == 0 || !storeName || !*storeName || !output || !outputLength)
        return false;

    MessageStore use;
    if (!OpenForMessage(*this, kept_, storeName, nullptr, use))
        return false;

    std::vector<BYTE> definite;
    bool readable = ReadDefinite(data, length, definite);

    // The content is opened with the parameters of its own algorithm where a
    // key can be taken for it here; else the platform's message call does it.
    DWORD size = 0;
    Memory result;
    bool ok = false;
    Msg msg;
    switch (readable ? qx::DecryptContent(use.store, data, length, result, size)
                     : qx::ContentDecryption::Failed) {
    case qx::ContentDecryption::Done:
        ok = true;
        break;
    case qx::ContentDecryption::Failed:
        break;
    case qx::ContentDecryption::NotTaken:
        msg.reset(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
        // The content is a part of the message.
        ok = msg && CryptMsgUpdate(msg.get(), data, length, TRUE) &&
             DecryptForStoredRecipient(msg.get(), use.store) &&
             CallOnce(
                 [&](BYTE* out, DWORD* n) {
                     return CryptMsgGetParam(msg.get(), CMSG_CONTENT_PARAM, 0, out, n) != FALSE;
                 },
                 length, result, size);
        break;
    }
    if (ok && !qx::ContentFitsMessage(data, length, size)) {
        ok = false;
        SetLastError(static_cast<DWORD>(CRYPT_E_MSG_ERROR));
    }
    SavedError error;
    error.Take();
    msg.reset();
    use.reset();
    if (ok) {
        *output = result.release();
        *outputLength = size;
    }
    error.Restore();
    return Report(ok, 2888, "Decryption failed!");
}

bool TQXCrypt::FreeBuffer(BYTE* buffer)
{
    if (!buffer)
        return false;
    free(buffer);
    return true;
}

// ---------------------------------------------------------------------------
// Whole files: read, one buffer member, write only what succeeded.

namespace {

// Releases a buffer of the file helper on every path.
class ReadBuffer {
public:
    explicit ReadBuffer(const std::unique_ptr<TQXFile>& files) : files_(files.get()) {}
    ~ReadBuffer() { if (data) files_->FreeBuffer(data); }
    ReadBuffer(const ReadBuffer&) = delete;
    ReadBuffer& operator=(const ReadBuffer&) = delete;
    unsigned char* data = nullptr;
    DWORD length = 0;
private:
    TQXFile* files_;
};

}  // namespace

bool TQXCrypt::SignFile(const char* storeName, const char* subject, const char* inputPath,
                        const char* outputPath)
{
    bool ok = false;
    ReadBuffer input(files);
    BYTE* result = nullptr;
    uint32_t resultLength = 0;
    if (inputPath && outputPath && files->ReadWholeFile(inputPath, &input.data, &input.length) &&
        SignBuffer(storeName, subject, input.data, input.length, &result, &resultLength))
        ok = WriteWholeFile(outputPath, result, resultLength, wipeOutputs_);
    FreeBuffer(result);
    return Report(ok, 2440, "This file could not be signed!");
}

bool TQXCrypt::VerifyFile(const char* inputPath, const char* outputPath, CertificateInfo* signer)
{
    bool ok = false;
    ReadBuffer input(files);
    BYTE* result = nullptr;
    uint32_t resultLength = 0;
    if (inputPath && outputPath && files->ReadWholeFile(inputPath, &input.data, &input.length)) {
        PCCERT_CONTEXT signerCert = nullptr;
        bool verified = VerifyBuffer(input.data, input.length, &result, &resultLength,
                                     &signerCert, false);
        // The signer is described also when the signature does not match.
        if (signerCert) {
            if (signer)
                GetCertificateInfo(signerCert, signer);
            else
                FreeCertificate(signerCert);
        }
        if (verified)
            ok = WriteWholeContent(outputPath, result, resultLength, wipeOutputs_);
    }
    FreeBuffer(result);
    return Report(ok, 2582, "This file could not be verified!");
}

bool TQXCrypt::EncryptFile(const char* storeName, const char* subject, const char* inputPath,
                           const char* outputPath)
{
    bool ok = false;
    ReadBuffer input(files);
    BYTE* result = nullptr;
    uint32_t resultLength = 0;
    if (storeName && subject && inputPath && outputPath &&
        files->ReadWholeFile(inputPath, &input.data, &input.length) &&
        EncryptBuffer(storeName, subject, input.data, input.length, &result, &resultLength))
        ok = WriteWholeFile(outputPath, result, resultLength, wipeOutputs_);
    FreeBuffer(result);
    return Report(ok, 2796, "This file could not be encrypted!");
}

bool TQXCrypt::DecryptFile(const char* storeName, const char* inputPath, const char* outputPath)
{
    bool ok = false;
    ReadBuffer input(files);
    BYTE* result = nullptr;
    uint32_t resultLength = 0;
    if (inputPath && outputPath && files->ReadWholeFile(inputPath, &input.data, &input.length) &&
        DecryptBuffer(storeName, input.data, input.length, &result, &resultLength))
        ok = WriteWholeContent(outputPath, result, resultLength, wipeOutputs_);
    FreeBuffer(result);
    return Report(ok, 2939, "This file could not be decrypted!");
}
