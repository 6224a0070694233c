#include "EnvelopedContent.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qx {

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Object identifiers as encoded, tag and length included.
const BYTE kRsaOid[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
const BYTE kDesOid[] = {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x07};
const BYTE kDes3Oid[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x07};
const BYTE kRc2Oid[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x02};
const BYTE kAes128Oid[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x02};
const BYTE kAes192Oid[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x16};
const BYTE kAes256Oid[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x2A};

// The content ciphers opened here: all in CBC mode with an initial value as
// their parameters (RC2 with its effective key length beside it).
struct ContentCipher {
    const BYTE* oid;
    size_t oidSize;
    ALG_ID algorithm;
    DWORD minKeyBytes;  // the content key's length
    DWORD maxKeyBytes;
    DWORD block;
};

const ContentCipher kContentCiphers[] = {
    {kDesOid, sizeof kDesOid, CALG_DES, 8, 8, 8},
    {kDes3Oid, sizeof kDes3Oid, CALG_3DES, 24, 24, 8},
    {kRc2Oid, sizeof kRc2Oid, CALG_RC2, 5, 16, 8},  // 40 to 128 bits
    {kAes128Oid, sizeof kAes128Oid, CALG_AES_128, 16, 16, 16},
    {kAes192Oid, sizeof kAes192Oid, CALG_AES_192, 24, 24, 16},
    {kAes256Oid, sizeof kAes256Oid, CALG_AES_256, 32, 32, 16},
};

// A small non-negative INTEGER.
bool ReadSmallInteger(const BYTE* data, const Der& integer, DWORD& value)
{
    if (data[integer.start] != 0x02 || integer.length == 0 || integer.length > 4 ||
        (data[integer.start + integer.header] & 0x80))
        return false;
    value = 0;
    for (size_t i = 0; i < integer.length; ++i)
        value = (value << 8) | data[integer.start + integer.header + i];
    return true;
}

enum class Parameters {
    None,   // absent or NULL: the platform's own reading applies
    Given,  // one block of initial value
    Wrong
};

// The initial value, and for RC2 the effective key length in bits, from the
// algorithm's parameters.
Parameters ReadParameters(const BYTE* data, const EnvelopedParts& parts,
                          const ContentCipher& cipher, Der& iv, DWORD& effectiveBits)
{
    Der parameters;
    if (!ChildDer(data, parts.algorithm, 1, parameters))
        return Parameters::None;
    if (data[parameters.start] == 0x05)
        return parameters.length == 0 ? Parameters::None : Parameters::Wrong;
    if (cipher.algorithm == CALG_RC2) {
        // SEQUENCE { version INTEGER OPTIONAL, iv OCTET STRING }; the version
        // names the effective key length (RFC 2268), 32 bits without one.
        Der first;
        if (data[parameters.start] != 0x30 || !ChildDer(data, parameters, 0, first))
            return Parameters::Wrong;
        effectiveBits = 32;
        if (data[first.start] == 0x02) {
            DWORD version = 0;
            if (!ReadSmallInteger(data, first, version) || !ChildDer(data, parameters, 1, iv))
                return Parameters::Wrong;
            if (version == 160)
                effectiveBits = 40;
            else if (version == 120)
                effectiveBits = 64;
            else if (version == 58)
                effectiveBits = 128;
            else if (version >= 256 && version <= 1024)
                effectiveBits = version;
            else
                return Parameters::Wrong;
        } else {
            iv = first;
        }
    } else {
        iv = parameters;
    }
    return data[iv.start] == 0x04 && iv.length == cipher.block ? Parameters::Given
                                                               : Parameters::Wrong;
}

// The certificate of a recipient (KeyTransRecipientInfo: version, recipient
// identifier, key encryption algorithm, encrypted key) in the store, found by
// issuer and serial number or by subject key identifier.
Cert FindRecipient(HCERTSTORE store, const BYTE* data, const Der& identifier)
{
    if (data[identifier.start] == 0x80) {
        CRYPT_HASH_BLOB keyId = {static_cast<DWORD>(identifier.length),
                                 const_cast<BYTE*>(data + identifier.start + identifier.header)};
        return Cert(CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_KEY_IDENTIFIER,
                                               &keyId, nullptr));
    }
    Der issuer;
    Der serial;
    if (data[identifier.start] != 0x30 || !ChildDer(data, identifier, 0, issuer) ||
        !ChildDer(data, identifier, 1, serial) || data[serial.start] != 0x02)
        return Cert();
    // CryptoAPI keeps serial numbers least significant byte first.
    std::vector<BYTE> serialBytes(data + serial.start + serial.header,
                                  data + serial.contentEnd());
    std::vector<BYTE> reversed(serialBytes.rbegin(), serialBytes.rend());
    CERT_INFO info = {};
    info.Issuer.cbData = static_cast<DWORD>(issuer.end() - issuer.start);
    info.Issuer.pbData = const_cast<BYTE*>(data + issuer.start);
    info.SerialNumber.cbData = static_cast<DWORD>(reversed.size());
    info.SerialNumber.pbData = reversed.data();
    return Cert(CertGetSubjectCertificateFromStore(store, kEncoding, &info));
}

// Bytes that held a key, cleared when they go.
struct KeyBytes {
    std::vector<BYTE> bytes;
    ~KeyBytes() { SecureZeroMemory(bytes.data(), bytes.size()); }
};

// One recipient (KeyTransRecipientInfo) whose certificate the store holds:
// the certificate and the encrypted content key. False for a recipient that
// is not this user's, or not one of key transport.
bool FindStoredRecipient(HCERTSTORE store, const BYTE* data, const Der& recipient,
                         Cert& certificate, Der& encryptedKey)
{
    Der version;
    Der identifier;
    Der keyAlgorithm;
    if (data[recipient.start] != 0x30 || !ChildDer(data, recipient, 0, version) ||
        !ChildDer(data, recipient, 1, identifier) || !ChildDer(data, recipient, 2, keyAlgorithm) ||
        !ChildDer(data, recipient, 3, encryptedKey) || data[encryptedKey.start] != 0x04)
        return false;
    certificate = FindRecipient(store, data, identifier);
    return static_cast<bool>(certificate);
}

// Whether the encrypted key is as long as the RSA modulus of the recipient's
// key, the one length that its decryption takes. A key of another kind is
// left to the platform.
bool KeyFitsModulus(const Cert& certificate, const Der& encryptedKey)
{
    const CERT_PUBLIC_KEY_INFO& key = certificate.get()->pCertInfo->SubjectPublicKeyInfo;
    if (!key.Algorithm.pszObjId || strcmp(key.Algorithm.pszObjId, szOID_RSA_RSA) != 0)
        return true;
    DWORD bits = CertGetPublicKeyLength(kEncoding, const_cast<CERT_PUBLIC_KEY_INFO*>(&key));
    return bits != 0 && encryptedKey.length == (bits + 7) / 8;
}

// Opens the content key with the recipient's private key (RSA, PKCS #1
// padding); false when the key cannot be taken for it.
bool OpenContentKey(const Cert& certificate, const BYTE* data, const Der& recipient,
                    const Der& encryptedKey, KeyBytes& key)
{
    Der keyAlgorithm;
    Der keyOid;
    if (!ChildDer(data, recipient, 2, keyAlgorithm) || !ChildDer(data, keyAlgorithm, 0, keyOid) ||
        !IsEncodedOid(data, keyOid, kRsaOid))
        return false;
    HCRYPTPROV keyProvider = 0;
    DWORD keySpec = 0;
    BOOL callerFrees = FALSE;
    if (!CryptAcquireCertificatePrivateKey(certificate.get(), 0, nullptr, &keyProvider, &keySpec,
                                           &callerFrees))
        return false;
    Provider owned(callerFrees ? keyProvider : 0);
    // Keys imported from PKCS#12 files may report a kind of their own.
    if (keySpec != AT_KEYEXCHANGE && keySpec != AT_SIGNATURE)
        keySpec = AT_KEYEXCHANGE;
    CryptKey privateKey;
    DWORD bits = 0;
    DWORD bitsSize = sizeof bits;
    // The private key decrypts exactly one block of its own length.
    if (!CryptGetUserKey(keyProvider, keySpec, privateKey.out()) ||
        !CryptGetKeyParam(privateKey.get(), KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &bitsSize,
                          0) ||
        encryptedKey.length != (bits + 7) / 8)
        return false;
    // CryptoAPI takes RSA blocks least significant byte first.
    const BYTE* encrypted = data + encryptedKey.start + encryptedKey.header;
    key.bytes.assign(encrypted, encrypted + encryptedKey.length);
    std::reverse(key.bytes.begin(), key.bytes.end());
    DWORD length = static_cast<DWORD>(key.bytes.size());
    if (length == 0 || !CryptDecrypt(privateKey.get(), 0, TRUE, 0, key.bytes.data(), &length))
        return false;
    key.bytes.resize(length);
    return true;
}

// RC2's key expansion (RFC 2268): the key's bytes stretched to 128 through
// this table; the effective key length then keeps only the last of them
// (ceil(bits / 8) bytes) and derives everything else anew.
const BYTE kRc2Table[256] = {
    0xd9, 0x78, 0xf9, 0xc4, 0x19, 0xdd, 0xb5, 0xed, 0x28, 0xe9, 0xfd, 0x79, 0x4a, 0xa0, 0xd8, 0x9d,
    0xc6, 0x7e, 0x37, 0x83, 0x2b, 0x76, 0x53, 0x8e, 0x62, 0x4c, 0x64, 0x88, 0x44, 0x8b, 0xfb, 0xa2,
    0x17, 0x9a, 0x59, 0xf5, 0x87, 0xb3, 0x4f, 0x13, 0x61, 0x45, 0x6d, 0x8d, 0x09, 0x81, 0x7d, 0x32,
    0xbd, 0x8f, 0x40, 0xeb, 0x86, 0xb7, 0x7b, 0x0b, 0xf0, 0x95, 0x21, 0x22, 0x5c, 0x6b, 0x4e, 0x82,
    0x54, 0xd6, 0x65, 0x93, 0xce, 0x60, 0xb2, 0x1c, 0x73, 0x56, 0xc0, 0x14, 0xa7, 0x8c, 0xf1, 0xdc,
    0x12, 0x75, 0xca, 0x1f, 0x3b, 0xbe, 0xe4, 0xd1, 0x42, 0x3d, 0xd4, 0x30, 0xa3, 0x3c, 0xb6, 0x26,
    0x6f, 0xbf, 0x0e, 0xda, 0x46, 0x69, 0x07, 0x57, 0x27, 0xf2, 0x1d, 0x9b, 0xbc, 0x94, 0x43, 0x03,
    0xf8, 0x11, 0xc7, 0xf6, 0x90, 0xef, 0x3e, 0xe7, 0x06, 0xc3, 0xd5, 0x2f, 0xc8, 0x66, 0x1e, 0xd7,
    0x08, 0xe8, 0xea, 0xde, 0x80, 0x52, 0xee, 0xf7, 0x84, 0xaa, 0x72, 0xac, 0x35, 0x4d, 0x6a, 0x2a,
    0x96, 0x1a, 0xd2, 0x71, 0x5a, 0x15, 0x49, 0x74, 0x4b, 0x9f, 0xd0, 0x5e, 0x04, 0x18, 0xa4, 0xec,
    0xc2, 0xe0, 0x41, 0x6e, 0x0f, 0x51, 0xcb, 0xcc, 0x24, 0x91, 0xaf, 0x50, 0xa1, 0xf4, 0x70, 0x39,
    0x99, 0x7c, 0x3a, 0x85, 0x23, 0xb8, 0xb4, 0x7a, 0xfc, 0x02, 0x36, 0x5b, 0x25, 0x55, 0x97, 0x31,
    0x2d, 0x5d, 0xfa, 0x98, 0xe3, 0x8a, 0x92, 0xae, 0x05, 0xdf, 0x29, 0x10, 0x67, 0x6c, 0xba, 0xc9,
    0xd3, 0x00, 0xe6, 0xcf, 0xe1, 0x9e, 0xa8, 0x2c, 0x63, 0x16, 0x01, 0x3f, 0x58, 0xe2, 0x89, 0xa9,
    0x0d, 0x38, 0x34, 0x1b, 0xab, 0x33, 0xff, 0xb0, 0xbb, 0x48, 0x0c, 0x5f, 0xb9, 0xb1, 0xcd, 0x2e,
    0xc5, 0xf3, 0xdb, 0x47, 0xe5, 0xa5, 0x9c, 0x77, 0x0a, 0xa6, 0x20, 0x68, 0xfe, 0x7f, 0xc1, 0xad,
};
const size_t kRc2FullKey = 16;

// An RC2 key shorter than 16 bytes becomes the 16-byte key that, with the
// same effective length, gives the same cipher: the one whose expansion ends
// in the same 16 bytes, found by running the expansion backwards. Providers
// add salt of their own to short keys (a 40-bit key gets eleven bytes that a
// message does not have); a key of 16 bytes gets none.
void WidenRc2Key(KeyBytes& key, DWORD effectiveBits)
{
    size_t length = key.bytes.size();
    if (length == 0 || length >= kRc2FullKey || effectiveBits > 8 * kRc2FullKey)
        return;
    KeyBytes expanded;
    expanded.bytes.resize(128);
    std::copy(key.bytes.begin(), key.bytes.end(), expanded.bytes.begin());
    BYTE* l = expanded.bytes.data();
    for (size_t i = length; i < 128; ++i)
        l[i] = kRc2Table[static_cast<BYTE>(l[i - 1] + l[i - length])];
    BYTE inverse[256];
    for (int i = 0; i < 256; ++i)
        inverse[kRc2Table[i]] = static_cast<BYTE>(i);
    // l[i] = table[l[i-1] + l[i-16]] for the wider key: l[i-16] from l[i], l[i-1].
    for (size_t i = 127; i >= kRc2FullKey; --i)
        l[i - kRc2FullKey] = static_cast<BYTE>(inverse[l[i]] - l[i - 1]);
    key.bytes.assign(l, l + kRc2FullKey);
    SecureZeroMemory(inverse, sizeof inverse);
}

// The content key as a key of a provider that has every content cipher.
bool ImportContentKey(HCRYPTPROV provider, const ContentCipher& cipher, const KeyBytes& key,
                      CryptKey& imported)
{
    KeyBytes blob;
    blob.bytes.resize(sizeof(BLOBHEADER) + sizeof(DWORD) + key.bytes.size());
    BLOBHEADER header = {PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, cipher.algorithm};
    DWORD keyLength = static_cast<DWORD>(key.bytes.size());
    memcpy(blob.bytes.data(), &header, sizeof header);
    memcpy(blob.bytes.data() + sizeof header, &keyLength, sizeof keyLength);
    memcpy(blob.bytes.data() + sizeof header + sizeof keyLength, key.bytes.data(), keyLength);
    return CryptImportKey(provider, blob.bytes.data(), static_cast<DWORD>(blob.bytes.size()), 0, 0,
                          imported.out()) != FALSE;
}

// A ContentInfo (SEQUENCE) whose content type is envelopedData.
bool IsEnvelopedMessage(const BYTE* data, size_t length, Der& top)
{
    Der type;
    return data && ReadDer(data, 0, length, top) && data[top.start] == 0x30 &&
           ChildDer(data, top, 0, type) && IsEncodedOid(data, type, kEnvelopedDataOidEncoded);
}

}  // namespace

bool ReadEnvelopedParts(const BYTE* data, size_t length, EnvelopedParts& parts)
{
    // ContentInfo / [0] / EnvelopedData: version, originator information
    // (optional, [0]), recipients (SET), EncryptedContentInfo (SEQUENCE:
    // content type, algorithm, [0] encrypted content (optional)).
    Der top;
    Der wrapped;
    Der enveloped;
    if (!IsEnvelopedMessage(data, length, top) ||
        !ChildDer(data, top, 1, wrapped) || data[wrapped.start] != 0xA0 ||
        !ChildDer(data, wrapped, 0, enveloped) || data[enveloped.start] != 0x30)
        return false;
    bool haveRecipients = false;
    Der info;
    for (size_t at = enveloped.start + enveloped.header;; at = info.end()) {
        if (!ReadDer(data, at, enveloped.contentEnd(), info))
            return false;
        if (data[info.start] == 0x31 && !haveRecipients) {
            parts.recipients = info;
            haveRecipients = true;
        }
        if (data[info.start] == 0x30)
            break;
    }
    if (!haveRecipients || !ChildDer(data, info, 1, parts.algorithm) ||
        data[parts.algorithm.start] != 0x30 ||
        !ChildDer(data, parts.algorithm, 0, parts.algorithmOid) ||
        data[parts.algorithmOid.start] != 0x06)
        return false;
    parts.hasContent = parts.algorithm.end() < info.contentEnd();
    if (parts.hasContent &&
        (!ReadDer(data, parts.algorithm.end(), info.contentEnd(), parts.content) ||
         data[parts.content.start] != 0x80))
        return false;
    return true;
}

bool ContentFitsMessage(const BYTE* data, size_t length, uint64_t produced)
{
    EnvelopedParts parts;
    if (!ReadEnvelopedParts(data, length, parts))
        return false;
    uint64_t encrypted = parts.hasContent ? parts.content.length : 0;
    if (encrypted == 0)
        return produced == 0;
    if (IsEncodedOid(data, parts.algorithmOid, kRc4OidEncoded))
        return produced == encrypted;
    // AES (2.16.840.1.101.3.4.1.*) has blocks of 16 bytes; the other content
    // ciphers of enveloped messages (DES, triple DES, RC2) of 8.
    static const BYTE aesArc[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01};
    uint64_t block = EncodingStartsWith(data, parts.algorithmOid, aesArc, sizeof aesArc) ? 16 : 8;
    return encrypted % block == 0 && produced > 0 && produced < encrypted &&
           produced + block >= encrypted;
}

ContentDecryption DecryptContent(HCERTSTORE store, const BYTE* data, size_t length,
                                 Memory& result, DWORD& size)
{
    size = 0;
    // Every size that the message gives is checked before a key or a content
    // goes to a platform call: the platform takes them as they are.
    auto refuse = [](HRESULT code) {
        SetLastError(static_cast<DWORD>(code));
        return ContentDecryption::Failed;
    };
    // A message of another type is the platform's to refuse.
    EnvelopedParts parts;
    Der top;
    if (!ReadEnvelopedParts(data, length, parts))
        return IsEnvelopedMessage(data, length, top) ? refuse(CRYPT_E_ASN1_CORRUPT)
                                                     : ContentDecryption::NotTaken;
    // A content sent apart is never at hand here.
    if (!parts.hasContent)
        return refuse(CRYPT_E_MSG_ERROR);
    const ContentCipher* cipher = FindByOid(data, parts.algorithmOid, kContentCiphers);
    Der iv;
    DWORD effectiveBits = 0;
    Parameters parameters = Parameters::None;
    if (cipher) {
        if (parts.content.length == 0 || parts.content.length % cipher->block != 0)
            return refuse(CRYPT_E_MSG_ERROR);
        parameters = ReadParameters(data, parts, *cipher, iv, effectiveBits);
        if (parameters == Parameters::Wrong)
            return refuse(NTE_BAD_DATA);
    }
    // Parameters without an initial value (as the platform itself may write
    // them), and other ciphers, are left to the platform's reading.
    bool own = parameters == Parameters::Given;

    KeyBytes key;
    bool opened = false;
    Der recipient;
    for (size_t at = parts.recipients.start + parts.recipients.header;
         !opened && at < parts.recipients.contentEnd(); at = recipient.end()) {
        if (!ReadDer(data, at, parts.recipients.contentEnd(), recipient))
            return refuse(CRYPT_E_ASN1_CORRUPT);
        Cert certificate;
        Der encryptedKey;
        if (!FindStoredRecipient(store, data, recipient, certificate, encryptedKey))
            continue;
        if (!KeyFitsModulus(certificate, encryptedKey))
            return refuse(NTE_BAD_DATA);
        opened = own && OpenContentKey(certificate, data, recipient, encryptedKey, key);
    }
    if (!opened)
        return ContentDecryption::NotTaken;

    // From here on the key is the message's: what fails is the message.
    if (key.bytes.size() < cipher->minKeyBytes || key.bytes.size() > cipher->maxKeyBytes)
        return refuse(NTE_BAD_KEY);
    if (cipher->algorithm == CALG_RC2)
        WidenRc2Key(key, effectiveBits);
    Provider provider;
    CryptKey contentKey;
    if (!CryptAcquireContextA(provider.out(), nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT) ||
        !ImportContentKey(provider.get(), *cipher, key, contentKey) ||
        (cipher->algorithm == CALG_RC2 &&
         !CryptSetKeyParam(contentKey.get(), KP_EFFECTIVE_KEYLEN,
                           reinterpret_cast<const BYTE*>(&effectiveBits), 0)) ||
        !CryptSetKeyParam(contentKey.get(), KP_IV, data + iv.start + iv.header, 0))
        return ContentDecryption::Failed;

    DWORD encrypted = static_cast<DWORD>(parts.content.length);
    Memory plain(static_cast<BYTE*>(malloc(static_cast<size_t>(encrypted) + 1)));
    if (!plain) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return ContentDecryption::Failed;
    }
    memcpy(plain.get(), data + parts.content.start + parts.content.header, encrypted);
    DWORD produced = encrypted;
    if (!CryptDecrypt(contentKey.get(), 0, TRUE, 0, plain.get(), &produced)) {
        KeptError kept;
        SecureZeroMemory(plain.get(), encrypted);
        return ContentDecryption::Failed;
    }
    if (produced == 0) {
        SetLastError(static_cast<DWORD>(CRYPT_E_MSG_ERROR));
        return ContentDecryption::Failed;
    }
    plain.get()[produced] = 0;
    result = std::move(plain);
    size = produced;
    return ContentDecryption::Done;
}

}  // namespace qx
