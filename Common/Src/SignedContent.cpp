#include "SignedContent.h"

#include <wincrypt.h>

#include <cstring>

#include "BerForm.h"
#include "QXHandles.h"

namespace qx {

namespace {

// Object identifiers as encoded, tag and length included.
const BYTE kMessageDigestOid[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04};
const BYTE kMd5Oid[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05};
const BYTE kSha1Oid[] = {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A};
const BYTE kSha256Oid[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const BYTE kSha384Oid[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02};
const BYTE kSha512Oid[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03};

struct DigestAlgorithm {
    const BYTE* oid;
    size_t oidSize;
    ALG_ID algorithm;
};

const DigestAlgorithm kDigestAlgorithms[] = {
    {kMd5Oid, sizeof kMd5Oid, CALG_MD5},
    {kSha1Oid, sizeof kSha1Oid, CALG_SHA1},
    {kSha256Oid, sizeof kSha256Oid, CALG_SHA_256},
    {kSha384Oid, sizeof kSha384Oid, CALG_SHA_384},
    {kSha512Oid, sizeof kSha512Oid, CALG_SHA_512},
};

// The signer's digest algorithm: SEQUENCE { OID, parameters (optional) }.
ALG_ID FindDigest(const BYTE* data, const Der& algorithm)
{
    Der oid;
    const DigestAlgorithm* digest = nullptr;
    if (data[algorithm.start] == 0x30 && ChildDer(data, algorithm, 0, oid))
        digest = FindByOid(data, oid, kDigestAlgorithms);
    return digest ? digest->algorithm : 0;
}

// The first SignerInfo: ContentInfo / [0] / SignedData: version, digest
// algorithms (SET), content (SEQUENCE), certificates ([0], optional), CRLs
// ([1], optional), signer informations (SET).
bool FirstSigner(const BYTE* data, size_t length, Der& signer)
{
    Der top;
    Der type;
    Der wrapped;
    Der signedData;
    if (!data || !ReadDer(data, 0, length, top) || data[top.start] != 0x30 ||
        !ChildDer(data, top, 0, type) || !IsEncodedOid(data, type, kSignedDataOidEncoded) ||
        !ChildDer(data, top, 1, wrapped) || data[wrapped.start] != 0xA0 ||
        !ChildDer(data, wrapped, 0, signedData) || data[signedData.start] != 0x30)
        return false;
    Der signers;
    size_t index = 3;
    do {
        if (!ChildDer(data, signedData, index++, signers))
            return false;
    } while (data[signers.start] == 0xA0 || data[signers.start] == 0xA1);
    return data[signers.start] == 0x31 && ChildDer(data, signers, 0, signer) &&
           data[signer.start] == 0x30;
}

// SignerInfo: version, signer identifier, digest algorithm, signed
// attributes ([0], optional), ...
bool ReadSigner(const BYTE* data, size_t length, Der& digestAlgorithm, Der& attributes)
{
    Der signer;
    return FirstSigner(data, length, signer) && ChildDer(data, signer, 2, digestAlgorithm) &&
           ChildDer(data, signer, 3, attributes);
}

// The one value of the one messageDigest attribute among the attributes
// (each a SEQUENCE { type, SET of values }).
bool ReadMessageDigest(const BYTE* data, const Der& attributes, Der& value)
{
    int found = 0;
    Der attribute;
    for (size_t at = attributes.start + attributes.header; at < attributes.contentEnd();
         at = attribute.end()) {
        Der type;
        Der values;
        if (!ReadDer(data, at, attributes.contentEnd(), attribute) ||
            data[attribute.start] != 0x30 || !ChildDer(data, attribute, 0, type))
            return false;
        if (!IsEncodedOid(data, type, kMessageDigestOid))
            continue;
        if (++found > 1 || !ChildDer(data, attribute, 1, values) || data[values.start] != 0x31 ||
            !ChildDer(data, values, 0, value) || value.end() != values.contentEnd())
            return false;
    }
    return found == 1;
}

// The digest of the content under that algorithm.
bool Digest(ALG_ID algorithm, const BYTE* content, size_t length, BYTE* digest, DWORD& size)
{
    Provider provider;
    CryptHash hash;
    if (!CryptAcquireContextA(provider.out(), nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT) ||
        !CryptCreateHash(provider.get(), algorithm, 0, 0, hash.out()))
        return false;
    const size_t kPiece = 0x1FFFFF;
    for (size_t at = 0; at < length; at += kPiece) {
        size_t piece = length - at < kPiece ? length - at : kPiece;
        if (!CryptHashData(hash.get(), content + at, static_cast<DWORD>(piece), 0))
            return false;
    }
    return CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &size, 0) != FALSE;
}

}  // namespace

bool HasSignedAttributes(const BYTE* data, size_t length)
{
    Der digestAlgorithm;
    Der attributes;
    return ReadSigner(data, length, digestAlgorithm, attributes) &&
           data[attributes.start] == 0xA0;
}

bool AttributesBindContent(const BYTE* data, size_t length, const BYTE* content,
                           size_t contentLength)
{
    Der digestAlgorithm;
    Der attributes;
    if (!ReadSigner(data, length, digestAlgorithm, attributes)) {
        SetLastError(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
        return false;
    }
    if (data[attributes.start] != 0xA0)
        return true;  // the signature is over the content's digest itself

    Der value;
    if (!ReadMessageDigest(data, attributes, value)) {
        SetLastError(static_cast<DWORD>(CRYPT_E_AUTH_ATTR_MISSING));
        return false;
    }
    ALG_ID algorithm = FindDigest(data, digestAlgorithm);
    if (!algorithm) {
        SetLastError(static_cast<DWORD>(CRYPT_E_UNKNOWN_ALGO));
        return false;
    }
    BYTE digest[64];
    DWORD size = sizeof digest;
    if (!Digest(algorithm, content, contentLength, digest, size))
        return false;
    if (data[value.start] != 0x04 || value.length != size ||
        memcmp(data + value.start + value.header, digest, size) != 0) {
        SetLastError(static_cast<DWORD>(CRYPT_E_HASH_VALUE));
        return false;
    }
    return true;
}

}  // namespace qx
