// What binds the content of a signed message to its signature.
//
// A signer without signed attributes (what this system writes) signs the
// digest of the content itself. A signer with signed attributes (what most
// other programs write) signs only the attributes; they bind the content
// through one of them, messageDigest, the digest of the content. Not every
// platform compares that attribute with the content when it checks the
// signature, so the comparison is made here.
//
// Every function takes a message in definite form (qx::DefiniteForm).
#pragma once

#include <windows.h>

#include <cstddef>

namespace qx {

// Whether the first signer of the signed message has signed attributes;
// false for anything that is not a signed message with a signer.
bool HasSignedAttributes(const BYTE* data, size_t length);

// Whether the first signer's signed attributes bind `content`: they hold
// exactly one messageDigest attribute with exactly one value, an OCTET STRING
// equal to the digest of the content under the signer's digest algorithm.
// True for a signer without signed attributes. Otherwise false, with
// CRYPT_E_AUTH_ATTR_MISSING, CRYPT_E_HASH_VALUE or the failing call's error.
bool AttributesBindContent(const BYTE* data, size_t length, const BYTE* content,
                           size_t contentLength);

}  // namespace qx
