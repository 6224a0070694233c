// CryptAPI: certificate stores of the current user and PKCS#7 messages.
//
// TQXCrypt is the one door to CryptoAPI. It opens the user's system stores,
// finds certificates by their subject, describes them (CertificateInfo) and
// signs, verifies, encrypts and decrypts buffers and whole files.
//
// Message formats (DER, nothing before or after it in a file):
//   ".sgn"  signedData, content attached, MD5, the signer's certificate as the
//           only certificate, no CRLs, no attributes
//   ".crp"  envelopedData, one recipient, RC4 (the provider's default length)
//   ".sme"  a signed message whose content is a complete enveloped message
//
// Every reporting member writes its message into `message` and ends with the
// report step (unit "CryptAPI"). Nothing is held between calls: what a member
// hands out belongs to the caller:
//   provider handle  -> ReleaseContext, after the store opened with it is closed
//   store handle     -> CloseStore
//   certificate      -> FreeCertificate (or DeleteCertificate, which frees it);
//                       one of GetNextCertificate is the walk's (see there)
//   buffer           -> FreeBuffer
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <memory>

#include "QXHandles.h"

class TQXFile;
struct QXKeptStores;

// Tests only: with tight set, the message members give the platform a first
// buffer that is too small, so that the size pass and the second call run.
void SetTightMessageOutput(bool tight);

// The names of the user's system stores that one enumeration yields: at most
// 128 names of at most 64 characters each, in the order of the enumeration;
// an empty slot ends the list. The table has one spare slot, which stays empty.
constexpr int kStoreTableSlots = 128;
constexpr int kStoreNameSize = 65;
using StoreName = char[kStoreNameSize];
struct StoreTable {
    StoreName names[kStoreTableSlots + 1];
};

// The SHA-1 thumbprint that names one certificate exactly.
constexpr int kThumbprintSize = 20;

// Converts a wide text into the ANSI code page; false when it does not fit
// size bytes or does not convert exactly (a best-fit or replaced character
// would name another thing). The output is always terminated.
bool WideToAnsi(const wchar_t* wide, char* out, size_t size);

// What the system shows of a certificate. Names are simple-name strings
// (the attribute values in their order, without attribute names).
struct CertificateInfo {
    PCCERT_CONTEXT certificate;  // not duplicated: stays its owner's
    char issuer[256];
    char subject[256];
    FILETIME notBefore;
    FILETIME notAfter;
    uint32_t version;  // 0 for version 1, 1 for version 2, 2 for version 3
};

class TQXCrypt {
public:
    TQXCrypt();
    ~TQXCrypt();
    TQXCrypt(const TQXCrypt&) = delete;
    TQXCrypt& operator=(const TQXCrypt&) = delete;

    std::unique_ptr<TQXFile> files;  // whole-file input and output
    char message[1024];  // message of the member called last

    // Within a job of many files: with keep set, the stores that the message
    // members open, their providers and the certificates found in them stay
    // open from one message to the next, until keep is cleared or the object
    // goes. By default nothing is held between calls.
    void KeepStoresOpen(bool keep);

    // Key container and stores.
    bool AcquireContext(HCRYPTPROV* provider);
    bool ReleaseContext(HCRYPTPROV provider);
    // The current user's system store of that name (created when missing).
    // With `provider` non-null the provider handle goes to the caller (0 when
    // none was acquired); closing the store never releases it.
    HCERTSTORE OpenStore(const char* storeName, HCRYPTPROV* provider = nullptr);
    bool CloseStore(HCERTSTORE store);

    // Certificates.
    bool FreeCertificate(PCCERT_CONTEXT certificate);
    // The certificate whose subject contains `subject` (any letter case);
    // among several, the one whose simple name equals the text. A text that
    // several subjects contain and none equals is refused: the error names
    // the certificates.
    PCCERT_CONTEXT FindCertificate(HCERTSTORE store, const char* subject);
    bool GetCertificateInfo(PCCERT_CONTEXT certificate, CertificateInfo* info);
    // The given context when it is linked to a private key, else null.
    PCCERT_CONTEXT CheckSignatureKey(PCCERT_CONTEXT certificate);
    bool AddCertificate(const char* storeName, PCCERT_CONTEXT certificate);
    // Removes the certificate from the store it came from; always frees it.
    bool DeleteCertificate(PCCERT_CONTEXT certificate);
    // Whether the store holds the certificate; the store is only read.
    bool ContainsCertificate(const char* storeName, PCCERT_CONTEXT certificate);
    bool CompareCertificate(PCCERT_CONTEXT first, PCCERT_CONTEXT second);

    // Walking a store. `info` is zeroed, then filled from the next certificate
    // after `previous` (null for the first); false at the end of the walk, with
    // `info->certificate` null. The context handed out belongs to the walk:
    // passing it back as `previous` releases it (also when the call fails).
    // A caller that stops before the end frees the context it still holds with
    // FreeCertificate(info->certificate) before it closes the store:
    //
    //   CertificateInfo info;
    //   PCCERT_CONTEXT previous = nullptr;
    //   while (count < bound && crypt.GetNextCertificate(store, previous, &info)) {
    //       ...;                                  // use info
    //       previous = info.certificate;
    //   }
    //   crypt.FreeCertificate(info.certificate);  // null after the end: nothing
    //   crypt.CloseStore(store);
    bool GetNextCertificate(HCERTSTORE store, PCCERT_CONTEXT previous, CertificateInfo* info);
    // Whether the certificate is linked to a private key (the key itself is
    // not opened).
    bool HasPrivateKey(PCCERT_CONTEXT certificate);
    // Whether now lies within the certificate's validity period; false for a
    // certificate that has expired and for one that is not valid yet.
    bool IsTimeValid(PCCERT_CONTEXT certificate);
    // Whether the store's certificates that carry the certificate's simple
    // name are all this very certificate; `held` tells whether it is among
    // them. A store name that is empty holds nothing. False, with the
    // comparison's message, when another certificate bears the name.
    bool CheckSubjectHolder(const char* storeName, PCCERT_CONTEXT certificate, bool* held);

    // The names of the current user's system stores into the table. A name
    // that does not fit a slot or does not convert exactly, and every store
    // past the 128th, is skipped, never cut. A user who has no store list yet
    // (a new profile) has no stores: true with an empty table.
    bool EnumSystemStores(StoreTable* table);
    // Removes the certificate from the user's system store of that name and
    // commits the store. With a thumbprint exactly that certificate, whose
    // simple name must also be the subject; without one the certificate that
    // FindCertificate finds for the subject.
    bool RemoveCertificateFromSystemStore(const char* storeName, const char* subject,
                                          const BYTE* thumbprint = nullptr);
    // The certificate's thumbprint (kThumbprintSize bytes).
    bool GetThumbprint(PCCERT_CONTEXT certificate, BYTE* thumbprint);

    // Messages in memory. Buffers handed out have room for length + 1 bytes;
    // on failure the out-buffer is null and the out-length 0. A message to
    // verify or decrypt that cannot be read in definite form
    // (qx::DefiniteForm) is refused before the platform sees it.
    bool SignBuffer(const char* storeName, const char* subject, const BYTE* data,
                    uint32_t length, BYTE** output, uint32_t* outputLength);
    // The signer's context goes to `signer` (may be null) and is the caller's.
    // With verifyOnly no content is handed out. A signer's certificate whose
    // own signature fails (with its own key, or with its issuer's where the
    // issuer is at hand) fails the verification, and so do signed attributes
    // that do not carry the content's digest (qx::AttributesBindContent).
    bool VerifyBuffer(const BYTE* data, uint32_t length, BYTE** output,
                      uint32_t* outputLength, PCCERT_CONTEXT* signer, bool verifyOnly);
    bool EncryptBuffer(const char* storeName, const char* subject, const BYTE* data,
                       uint32_t length, BYTE** output, uint32_t* outputLength);
    // The store must hold the certificate of a recipient with its private key.
    // A message whose sizes do not fit (qx::DecryptContent), and a content
    // that does not fit the message's encrypted content, fail.
    bool DecryptBuffer(const char* storeName, const BYTE* data, uint32_t length,
                       BYTE** output, uint32_t* outputLength);
    bool FreeBuffer(BYTE* buffer);

    // Whole files. The output is written only when the message step succeeded,
    // as a new file (WriteWholeFile): the output's name must be free, and it
    // never holds an incomplete output. With wipe set, what a failed write
    // leaves is overwritten before it is removed.
    void WipeFailedOutputs(bool wipe) { wipeOutputs_ = wipe; }
    bool SignFile(const char* storeName, const char* subject, const char* inputPath,
                  const char* outputPath);
    // `signer` is filled from the signer's certificate (also when the
    // signature does not match); its `certificate` then belongs to the caller.
    bool VerifyFile(const char* inputPath, const char* outputPath, CertificateInfo* signer);
    bool EncryptFile(const char* storeName, const char* subject, const char* inputPath,
                     const char* outputPath);
    bool DecryptFile(const char* storeName, const char* inputPath, const char* outputPath);

private:
    bool Report(bool ok, int location, const char* text);
    std::unique_ptr<QXKeptStores> kept_;
    bool wipeOutputs_ = false;
};

// Opens a system store with a provider of its own (TQXCrypt::OpenStore); the
// owner closes the store before it releases the provider, on every path. It
// holds no store when the store could not be opened.
qx::ProviderStore OpenWithProvider(TQXCrypt& crypt, const char* storeName);
