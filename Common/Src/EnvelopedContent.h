// The content of an enveloped message: where it stands, what it can decrypt
// to, and its decryption with the algorithm parameters that the message
// carries (the initial value, RC2's effective key length), through the
// provider type that the content cipher needs.
//
// Every function takes a message in definite form (qx::DefiniteForm).
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>

#include "BerForm.h"
#include "QXHandles.h"

namespace qx {

struct EnvelopedParts {
    Der recipients;      // SET of recipient informations
    Der algorithm;       // content encryption: SEQUENCE { OID, parameters }
    Der algorithmOid;
    bool hasContent = false;
    Der content;         // the encrypted content, primitive
};

// The parts of an enveloped message; false for anything else.
bool ReadEnvelopedParts(const BYTE* data, size_t length, EnvelopedParts& parts);

// Whether `produced` bytes are what the encrypted content of the enveloped
// message can decrypt to: as many bytes for RC4, one to a block fewer for a
// block cipher (its padding), none for an absent content. An encrypted
// content never decrypts to nothing.
bool ContentFitsMessage(const BYTE* data, size_t length, uint64_t produced);

enum class ContentDecryption {
    Done,      // `result` holds the content
    NotTaken,  // no key could be taken here: the platform's own call decides
    Failed     // the message is refused; last error set
};

// Decrypts the message with the key of the first recipient whose certificate,
// with a private key that can open the content key, the store holds. Content
// ciphers: DES, triple DES, RC2 and AES in CBC mode with an initial value in
// their parameters; any other is not taken.
//
// What the platform's call would take from the message as it stands is
// checked first, whichever road decrypts: an enveloped message is refused
// when it cannot be read, when its encrypted content is absent, when a
// block cipher's content is empty or no whole number of blocks, when a block
// cipher's parameters are neither absent, NULL nor one block of initial
// value, and when the encrypted key of a recipient that the store holds is
// not as long as the modulus of the recipient's RSA key.
ContentDecryption DecryptContent(HCERTSTORE store, const BYTE* data, size_t length,
                                 Memory& result, DWORD& size);

}  // namespace qx
