// Reading DER and BER encodings, and bringing a message into the form that
// every reader of PKCS#7 messages takes.
//
// Messages of other programs may use BER's indefinite lengths, whose end is
// found only through the elements inside, and strings written in pieces
// (what a writer that streams its output produces). The reader follows
// indefinite lengths at most kBerDepth levels down, whatever the input.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

namespace qx {

const int kBerDepth = 32;

// One element of an encoding, as offsets into it.
struct Der {
    size_t start = 0;   // offset of the tag
    size_t header = 0;  // tag and length bytes
    size_t length = 0;  // content bytes (without the end mark of an indefinite length)
    bool indefinite = false;
    size_t contentEnd() const { return start + header + length; }
    size_t end() const { return contentEnd() + (indefinite ? 2 : 0); }
};

// One element at `at`, lying within `limit`. An indefinite length is followed
// to its end mark through at most `depth` levels of elements; with depth 0
// only definite lengths are read.
bool ReadBer(const BYTE* data, size_t at, size_t limit, int depth, Der& der);

// One element with a definite length at `at`, lying within `limit`.
bool ReadDer(const BYTE* data, size_t at, size_t limit, Der& der);

// The index-th child (0 = first) of a constructed element.
bool ChildBer(const BYTE* data, const Der& parent, size_t index, int depth, Der& child);
bool ChildDer(const BYTE* data, const Der& parent, size_t index, Der& child);

// Whether the element's encoding starts with these bytes: with a tag and a
// length among them, an object identifier, or the first arcs of one.
bool EncodingStartsWith(const BYTE* data, const Der& element, const BYTE* bytes, size_t size);

// Object identifiers of messages as encoded, tag and length included.
extern const BYTE kSignedDataOidEncoded[11];     // 1.2.840.113549.1.7.2
extern const BYTE kEnvelopedDataOidEncoded[11];  // 1.2.840.113549.1.7.3
extern const BYTE kRc4OidEncoded[10];            // 1.2.840.113549.3.4

// Whether the element is exactly this encoded object identifier.
template <size_t N>
bool IsEncodedOid(const BYTE* data, const Der& element, const BYTE (&oid)[N])
{
    return element.end() - element.start == N && EncodingStartsWith(data, element, oid, N);
}

// The entry of a table whose members `oid` and `oidSize` give an encoded
// object identifier, for the identifier that the element is; null for none.
template <class Entry, size_t N>
const Entry* FindByOid(const BYTE* data, const Der& element, const Entry (&table)[N])
{
    for (const Entry& entry : table)
        if (element.end() - element.start == entry.oidSize &&
            EncodingStartsWith(data, element, entry.oid, entry.oidSize))
            return &entry;
    return nullptr;
}

// Header bytes of an element of that content length, in DER's shortest form.
size_t HeaderSize(size_t length);

// Writes tag and length at `at`; the number of bytes written.
size_t PutHeader(BYTE* at, BYTE tag, size_t length);

// The message with every length definite and every string that was written
// in pieces joined into one: OCTET STRINGs anywhere, and the encrypted
// content of an enveloped message. Everything else keeps its bytes, the
// signed attributes and certificates of a signed message among them, so a
// signature still verifies. `out` stays empty when the message is in that
// form already (nothing to copy). False for an encoding that cannot be read,
// and for one in which an element of a universal type whose content has a
// fixed form breaks it (BOOLEAN, INTEGER, BIT STRING, NULL, OBJECT
// IDENTIFIER), within kBerDepth levels.
bool DefiniteForm(const BYTE* data, size_t length, std::vector<BYTE>& out);

}  // namespace qx
