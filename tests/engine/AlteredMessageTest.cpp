// Messages altered after they were made, verified, decrypted and unpacked by
// the job: a signer's certificate changed in one byte is never a valid signer,
// and an encrypted content that the platform cannot read never decrypts to an
// empty file.
#include "DerEdit.h"
#include "EngineFixture.h"
#include "QXHandles.h"

#include <wincrypt.h>

#include <algorithm>

using namespace enginetest;
using tvtest::Bytes;
using tvtest::Children;
using tvtest::Definite;
using tvtest::Exists;
using tvtest::Indefinite;
using tvtest::ReadFileBytes;
using tvtest::ReadTlv;
using tvtest::Tlv;
using tvtest::WriteFileBytes;

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// ---------------------------------------------------------------------------
// A signer's certificate altered in one byte

enum class Change { None, Subject, Serial, Validity };

// The message with one byte of the certificate that it carries changed. A
// changed serial number is changed wherever the message names it (the
// signer's identification too), so that the message still finds its signer.
std::string Alter(const std::string& message, const std::string& certificate, Change change) {
    if (change == Change::None) return message;
    size_t at = message.find(certificate);
    if (at == std::string::npos) return "";
    Tlv tbs = Children(certificate, ReadTlv(certificate, 0))[0];
    std::vector<Tlv> fields = Children(certificate, tbs);
    size_t first = certificate[fields[0].start] == '\xA0' ? 1 : 0;  // an explicit version
    const Tlv& serial = fields[first];
    const Tlv& validity = fields[first + 3];
    const Tlv& subject = fields[first + 4];
    std::string altered = message;
    switch (change) {
    case Change::Subject: {
        // The first character of the name: "Alice Example" -> "?lice Example".
        Tlv attribute = Children(certificate, Children(certificate, subject)[0])[0];
        altered[at + Children(certificate, attribute)[1].content()] = '?';
        break;
    }
    case Change::Validity: {
        // The last digit of the seconds of the end of the period, a valid time still.
        Tlv notAfter = Children(certificate, validity)[1];
        char& digit = altered[at + notAfter.end() - 2];
        digit = digit == '9' ? '8' : static_cast<char>(digit + 1);
        break;
    }
    case Change::Serial: {
        std::string named = Bytes(certificate, serial);
        std::string changed = named;
        changed.back() = static_cast<char>(changed.back() ^ 0x01);
        for (size_t p = altered.find(named); p != std::string::npos; p = altered.find(named, p + 1))
            altered.replace(p, named.size(), changed);
        break;
    }
    case Change::None:
        break;
    }
    return altered;
}

// A signed message as another program writes it: the signer's certificate
// and the one of its issuer in the message.
std::string SignCarryingIssuer(PCCERT_CONTEXT signer, PCCERT_CONTEXT issuer, const std::string& content) {
    CRYPT_SIGN_MESSAGE_PARA para = {};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = kEncoding;
    para.pSigningCert = signer;
    para.HashAlgorithm.pszObjId = const_cast<char*>(szOID_RSA_MD5);
    PCCERT_CONTEXT carried[2] = {signer, issuer};
    para.cMsgCert = 2;
    para.rgpMsgCert = carried;
    const BYTE* parts[1] = {reinterpret_cast<const BYTE*>(content.data())};
    DWORD lengths[1] = {static_cast<DWORD>(content.size())};
    DWORD size = 0;
    if (!CryptSignMessage(&para, FALSE, 1, parts, lengths, nullptr, &size)) return "";
    std::string message(size, '\0');
    if (!CryptSignMessage(&para, FALSE, 1, parts, lengths, reinterpret_cast<BYTE*>(&message[0]), &size)) return "";
    message.resize(size);
    return message;
}

std::string SignBySystem(const std::string& store, const std::string& subject, const std::string& content) {
    TQXCrypt crypt;
    BYTE* out = nullptr;
    uint32_t size = 0;
    if (!crypt.SignBuffer(store.c_str(), subject.c_str(), reinterpret_cast<const BYTE*>(content.data()),
                          static_cast<uint32_t>(content.size()), &out, &size))
        return "";
    std::string message(reinterpret_cast<char*>(out), size);
    crypt.FreeBuffer(out);
    return message;
}

class AlteredMessages : public EngineTest {
protected:
    // The content as the system encrypts it for the user; empty on failure.
    std::string EncryptedForUser(const std::string& content) {
        TQXCrypt crypt;
        BYTE* out = nullptr;
        uint32_t size = 0;
        if (!crypt.EncryptBuffer(Ids().pub.c_str(), "Olivia Own", reinterpret_cast<const BYTE*>(content.data()),
                                 static_cast<uint32_t>(content.size()), &out, &size))
            return "";
        std::string message(reinterpret_cast<char*>(out), size);
        crypt.FreeBuffer(out);
        return message;
    }
};

// A message whose signature still holds (the key is unchanged) but whose
// certificate was changed after it was issued: verification and unpacking
// fail with "Verification failed!", nothing is written, the signer is never
// shown nor added to the public store. Intact signers still verify: self-signed,
// and issued by a certificate authority that is not at hand or that the
// message carries.
TEST_F(AlteredMessages, ASignerCertificateAlteredAfterItWasIssuedIsNeverAValidSigner) {
    tvtest::CertFixture local;
    std::string signers = local.NewStore("signers");
    std::string authorities = local.NewStore("authorities");
    ASSERT_TRUE(local.MakePerson("Alice Example", signers));
    ASSERT_TRUE(local.MakePerson("Carl Authority", authorities));
    ASSERT_TRUE(local.MakeIssuedPerson("Bob Issued", "Carl Authority", authorities, signers));
    PCCERT_CONTEXT alice = local.Certificate("Alice Example", signers);
    PCCERT_CONTEXT bob = local.Certificate("Bob Issued", signers);
    PCCERT_CONTEXT carl = local.Certificate("Carl Authority", authorities);
    ASSERT_TRUE(alice && bob && carl);
    auto encoding = [](PCCERT_CONTEXT c) { return std::string(reinterpret_cast<char*>(c->pbCertEncoded), c->cbCertEncoded); };

    enum class Signer { SelfSigned, IssuerAbsent, IssuerCarried };
    struct Row {
        const char* what;
        Signer signer;
        Change change;
        bool envelope;
    } rows[] = {
        {"self-signed, intact", Signer::SelfSigned, Change::None, false},
        {"self-signed, subject", Signer::SelfSigned, Change::Subject, false},
        {"self-signed, serial", Signer::SelfSigned, Change::Serial, false},
        {"self-signed, validity", Signer::SelfSigned, Change::Validity, false},
        {"issuer absent, intact", Signer::IssuerAbsent, Change::None, false},
        {"issuer carried, intact", Signer::IssuerCarried, Change::None, false},
        {"issuer carried, subject", Signer::IssuerCarried, Change::Subject, false},
        {"issuer carried, serial", Signer::IssuerCarried, Change::Serial, false},
        {"issuer carried, validity", Signer::IssuerCarried, Change::Validity, false},
        {"envelope, self-signed, intact", Signer::SelfSigned, Change::None, true},
        {"envelope, self-signed, subject", Signer::SelfSigned, Change::Subject, true},
        {"envelope, self-signed, serial", Signer::SelfSigned, Change::Serial, true},
        {"envelope, self-signed, validity", Signer::SelfSigned, Change::Validity, true},
        {"envelope, issuer carried, subject", Signer::IssuerCarried, Change::Subject, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string content = std::string("signed: ") + row.what;
        // The content of an envelope is a message encrypted for the user.
        std::string signed_ = row.envelope ? EncryptedForUser(content) : content;
        ASSERT_FALSE(signed_.empty()) << Held();
        PCCERT_CONTEXT signer = row.signer == Signer::SelfSigned ? alice : bob;
        std::string message = row.signer == Signer::IssuerCarried
                                  ? SignCarryingIssuer(bob, carl, signed_)
                                  : SignBySystem(signers, row.signer == Signer::SelfSigned ? "Alice Example" : "Bob Issued",
                                                 signed_);
        ASSERT_FALSE(message.empty()) << Held();
        std::string altered = Alter(message, encoding(signer), row.change);
        ASSERT_FALSE(altered.empty()) << "the message does not carry the signer's certificate";
        ASSERT_NE(altered == message, row.change != Change::None);

        std::string input = work / (row.envelope ? "doc.txt.sme" : "doc.txt.sgn");
        WriteFileBytes(input, altered);
        std::string pub = local.NewStore("pub");
        Set("pubstore", pub);
        auto job = NewJob();
        bool ok = row.envelope ? job->UnpackEnvelopeFile(1, input.c_str()) : job->VerifyFile(1, input.c_str());
        if (row.change == Change::None) {
            EXPECT_TRUE(ok) << status.Log();
            EXPECT_EQ(ReadFileBytes(work / "doc.txt"), content);
            EXPECT_STREQ(job->signer.subject, row.signer == Signer::SelfSigned ? "Alice Example" : "Bob Issued");
            EXPECT_EQ(local.CountCertificates(pub), 1);  // the new signer is recorded
        } else {
            EXPECT_FALSE(ok);
            EXPECT_FALSE(Exists(work / "doc.txt"));
            EXPECT_FALSE(Exists(work / "doc.txt.crp"));
            EXPECT_EQ(ReadFileBytes(input), altered);
            EXPECT_EQ(local.CountCertificates(pub), 0);
            EXPECT_TRUE(status.Updates(2).empty()) << status.Log();  // never shown as the signer
            auto errors = status.Updates(0);
            ASSERT_EQ(errors.size(), 1u) << status.Log();
            std::string detail = Field(errors[0], "detail");
            EXPECT_TRUE(StartsWith(detail, "Verification failed!")) << detail;
            EXPECT_TRUE(Has(detail, " This file(s) could not be verified!")) << detail;
        }
        job.reset();
        tvtest::RemoveTree(work / "doc.txt");
        tvtest::RemoveTree(input);
    }
    CertFreeCertificateContext(alice);
    CertFreeCertificateContext(bob);
    CertFreeCertificateContext(carl);
    local.Cleanup();
}

// ---------------------------------------------------------------------------
// Signed attributes, built and signed here

const std::string kDataOid = Definite(0x06, "\x2A\x86\x48\x86\xF7\x0D\x01\x07\x01");
const std::string kContentTypeOid = Definite(0x06, "\x2A\x86\x48\x86\xF7\x0D\x01\x09\x03");
const std::string kMessageDigestOid = Definite(0x06, "\x2A\x86\x48\x86\xF7\x0D\x01\x09\x04");

std::string Attribute(const std::string& type, const std::string& values) {
    return Definite(0x30, type + Definite(0x31, values));
}

// The data's digest under the algorithm or, with a key, the key's signature
// of it (most significant byte first).
std::string HashOf(HCRYPTPROV provider, ALG_ID algorithm, const std::string& data, DWORD keySpec = 0) {
    qx::CryptHash hash;
    BYTE value[1024];
    DWORD size = sizeof value;
    bool ok = CryptCreateHash(provider, algorithm, 0, 0, hash.out()) &&
              CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0) &&
              (keySpec ? CryptSignHashA(hash.get(), keySpec, nullptr, 0, value, &size)
                       : CryptGetHashParam(hash.get(), HP_HASHVAL, value, &size, 0));
    std::string out = ok ? std::string(reinterpret_cast<char*>(value), size) : "";
    if (keySpec) std::reverse(out.begin(), out.end());
    return out;
}

std::string Digest(ALG_ID algorithm, const std::string& data) {
    qx::Provider provider;
    if (!CryptAcquireContextA(provider.out(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return "";
    return HashOf(provider.get(), algorithm, data);
}

// A signed message of the content by the certificate's key whose one signer
// signs these attributes (SHA-1 or MD5, as another program writes it).
std::string SignWithAttributes(PCCERT_CONTEXT signer, ALG_ID algorithm, const std::string& content,
                               const std::string& attributes) {
    HCRYPTPROV key = 0;
    DWORD keySpec = 0;
    BOOL release = FALSE;
    if (!CryptAcquireCertificatePrivateKey(signer, 0, nullptr, &key, &keySpec, &release)) return "";
    qx::Provider owned(release ? key : 0);
    // The signature covers the attributes as a SET.
    std::string rsa = HashOf(key, algorithm, Definite(0x31, attributes),
                             keySpec == AT_SIGNATURE ? AT_SIGNATURE : AT_KEYEXCHANGE);
    if (rsa.empty()) return "";
    const CRYPT_INTEGER_BLOB& serial = signer->pCertInfo->SerialNumber;
    std::string serialBytes(reinterpret_cast<char*>(serial.pbData), serial.cbData);
    std::reverse(serialBytes.begin(), serialBytes.end());
    std::string issuer(reinterpret_cast<char*>(signer->pCertInfo->Issuer.pbData), signer->pCertInfo->Issuer.cbData);
    std::string digestAlgorithm = Definite(
        0x30, Definite(0x06, algorithm == CALG_MD5 ? "\x2A\x86\x48\x86\xF7\x0D\x02\x05" : "\x2B\x0E\x03\x02\x1A") +
                  Definite(0x05, ""));
    std::string rsaAlgorithm =
        Definite(0x30, Definite(0x06, "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01") + Definite(0x05, ""));
    std::string signerInfo = Definite(0x30, Definite(0x02, "\x01") +
                                                Definite(0x30, issuer + Definite(0x02, serialBytes)) +
                                                digestAlgorithm + Definite(0xA0, attributes) + rsaAlgorithm +
                                                Definite(0x04, rsa));
    std::string certificate(reinterpret_cast<char*>(signer->pbCertEncoded), signer->cbCertEncoded);
    std::string signedData =
        Definite(0x30, Definite(0x02, "\x01") + Definite(0x31, digestAlgorithm) +
                           Definite(0x30, kDataOid + Definite(0xA0, Definite(0x04, content))) +
                           Definite(0xA0, certificate) + Definite(0x31, signerInfo));
    return Definite(0x30, Definite(0x06, "\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02") + Definite(0xA0, signedData));
}

// A signer with signed attributes signs the content only through its
// messageDigest attribute: exactly one, with exactly one value, the content's
// digest as an OCTET STRING. Anything else is "Verification failed!" with
// nothing written, for a signature and for the signature of an envelope.
TEST_F(AlteredMessages, SignedAttributesHoldOnlyWhereTheyBindTheContent) {
    enum class Attributes { Bound, NoDigest, TwoValues, TwoDigests, NotOctets, OtherType };
    struct Row {
        const char* what;
        ALG_ID algorithm;
        Attributes attributes;
        bool contentChanged;
        bool envelope;
        bool valid;
    } rows[] = {
        {"SHA-1, bound", CALG_SHA1, Attributes::Bound, false, false, true},
        {"MD5, bound", CALG_MD5, Attributes::Bound, false, false, true},
        {"another content type named", CALG_SHA1, Attributes::OtherType, false, false, true},
        {"content changed", CALG_SHA1, Attributes::Bound, true, false, false},
        {"no messageDigest", CALG_SHA1, Attributes::NoDigest, false, false, false},
        {"messageDigest of two values, the first right", CALG_SHA1, Attributes::TwoValues, false, false, false},
        {"two messageDigest attributes", CALG_SHA1, Attributes::TwoDigests, false, false, false},
        {"messageDigest not an OCTET STRING", CALG_SHA1, Attributes::NotOctets, false, false, false},
        {"envelope, bound", CALG_SHA1, Attributes::Bound, false, true, true},
        {"envelope, its encrypted message changed", CALG_SHA1, Attributes::Bound, true, true, false},
    };
    PCCERT_CONTEXT olivia = Ids().certs.Certificate("Olivia Own", Ids().own);
    ASSERT_TRUE(olivia);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string content = std::string("signed with attributes: ") + row.what;
        std::string signedContent = row.envelope ? EncryptedForUser(content) : content;
        ASSERT_FALSE(signedContent.empty()) << Held();
        std::string digest = Definite(0x04, Digest(row.algorithm, signedContent));
        std::string type = Attribute(kContentTypeOid, row.attributes == Attributes::OtherType
                                                          ? Definite(0x06, "\x2A\x86\x48\x86\xF7\x0D\x01\x07\x03")
                                                          : kDataOid);
        std::string attributes = type;
        switch (row.attributes) {
        case Attributes::Bound:
        case Attributes::OtherType: attributes += Attribute(kMessageDigestOid, digest); break;
        case Attributes::NoDigest: break;
        case Attributes::TwoValues:
            attributes += Attribute(kMessageDigestOid, digest + Definite(0x04, Digest(row.algorithm, "other")));
            break;
        case Attributes::TwoDigests:
            attributes += Attribute(kMessageDigestOid, digest) + Attribute(kMessageDigestOid, digest);
            break;
        case Attributes::NotOctets:
            attributes += Attribute(kMessageDigestOid, Definite(0x0C, Digest(row.algorithm, signedContent)));
            break;
        }
        // A byte in the middle of what was signed, changed after the signature.
        if (row.contentChanged) signedContent[signedContent.size() / 2] ^= 0x01;
        std::string message = SignWithAttributes(olivia, row.algorithm, signedContent, attributes);
        ASSERT_FALSE(message.empty()) << GetLastError();

        std::string input = work / (row.envelope ? "doc.txt.sme" : "doc.txt.sgn");
        WriteFileBytes(input, message);
        auto job = NewJob();
        bool ok = row.envelope ? job->UnpackEnvelopeFile(1, input.c_str()) : job->VerifyFile(1, input.c_str());
        EXPECT_EQ(ok, row.valid) << status.Log();
        if (row.valid) {
            EXPECT_EQ(ReadFileBytes(work / "doc.txt"), content);
            EXPECT_STREQ(job->signer.subject, "Olivia Own");
        } else {
            EXPECT_FALSE(Exists(work / "doc.txt"));
            EXPECT_FALSE(Exists(work / "doc.txt.crp"));
            EXPECT_TRUE(status.Updates(2).empty()) << status.Log();
            auto errors = status.Updates(0);
            EXPECT_EQ(errors.size(), 1u) << status.Log();
            for (const std::string& error : errors)
                EXPECT_TRUE(StartsWith(Field(error, "detail"), "Verification failed!")) << error;
        }
        job.reset();
        tvtest::RemoveTree(work / "doc.txt");
        tvtest::RemoveTree(input);
    }
    CertFreeCertificateContext(olivia);
}

// ---------------------------------------------------------------------------
// An encrypted content in BER's other encodings

// The enveloped message encoded anew: with `indefinite`, every element around
// the encrypted content has an indefinite length; the encrypted content is in
// one primitive piece (nesting -1), or in pieces of a constructed OCTET STRING
// that nest `nesting` constructed strings deep.
std::string Reencode(const std::string& message, bool indefinite, int nesting, int pieces = 1) {
    auto wrap = [&](unsigned char tag, const std::string& content) {
        return indefinite ? Indefinite(tag, content) : Definite(tag, content);
    };
    std::vector<Tlv> contentInfo = Children(message, ReadTlv(message, 0));
    Tlv enveloped = Children(message, contentInfo[1])[0];
    std::vector<Tlv> fields = Children(message, enveloped);
    std::vector<Tlv> info = Children(message, fields.back());
    std::string data = message.substr(info[2].content(), info[2].length);

    std::string encrypted;
    if (nesting < 0) {
        encrypted = Definite(0x80, data);
    } else {
        std::string leaves;
        size_t piece = (data.size() + pieces - 1) / pieces;
        for (size_t at = 0; at < data.size(); at += piece) leaves += Definite(0x04, data.substr(at, piece));
        std::string open;
        std::string close;
        for (int i = 0; i < nesting; ++i) {
            open += indefinite ? std::string("\x24\x80", 2) : "";
            close += indefinite ? std::string(2, '\0') : "";
        }
        if (indefinite) {
            encrypted = Indefinite(0xA0, open + leaves + close);
        } else {
            std::string inner = leaves;
            for (int i = 0; i < nesting; ++i) inner = Definite(0x24, inner);
            encrypted = Definite(0xA0, inner);
        }
    }
    std::string newInfo = wrap(0x30, Bytes(message, info[0]) + Bytes(message, info[1]) + encrypted);
    std::string newFields;
    for (size_t i = 0; i + 1 < fields.size(); ++i) newFields += Bytes(message, fields[i]);
    return wrap(0x30, Bytes(message, contentInfo[0]) + wrap(0xA0, wrap(0x30, newFields + newInfo)));
}

// A message encrypted with triple DES for the certificate of that name.
std::string EncryptTripleDes(const std::string& store, const std::string& name, const std::string& content) {
    PCCERT_CONTEXT recipient = Ids().certs.Certificate(name, store);
    if (!recipient) return "";
    CRYPT_ENCRYPT_MESSAGE_PARA para = {};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = kEncoding;
    para.ContentEncryptionAlgorithm.pszObjId = const_cast<char*>(szOID_RSA_DES_EDE3_CBC);
    const BYTE* data = reinterpret_cast<const BYTE*>(content.data());
    DWORD size = 0;
    std::string message;
    if (CryptEncryptMessage(&para, 1, &recipient, data, static_cast<DWORD>(content.size()), nullptr, &size)) {
        message.resize(size);
        if (CryptEncryptMessage(&para, 1, &recipient, data, static_cast<DWORD>(content.size()),
                                reinterpret_cast<BYTE*>(&message[0]), &size))
            message.resize(size);
        else
            message.clear();
    }
    CertFreeCertificateContext(recipient);
    return message;
}

// Legal BER of an encrypted message, as other programs write it: the result
// is the right content (too deep a nesting: "Decryption failed!" with nothing
// written), never an empty file as a success; the same for the inner message
// of an envelope.
TEST_F(AlteredMessages, AnEncryptedContentThePlatformCannotReadNeverDecryptsToAnEmptyFile) {
    const std::string content = "decrypt me\r\n" + tvtest::PatternBytes(300);
    const std::string written = EncryptedForUser(content);
    ASSERT_FALSE(written.empty()) << Held();
    // As another program writes it: triple DES, whose padding adds a whole
    // block to this content (a multiple of 8 bytes).
    ASSERT_EQ(content.size() % 8, 0u);
    const std::string tripleDes = EncryptTripleDes(Ids().pub, "Olivia Own", content);
    ASSERT_FALSE(tripleDes.empty());

    struct Row {
        const char* what;
        std::string message;
        bool readable;
    } rows[] = {
        {"as written", written, true},
        {"indefinite lengths, one primitive piece", Reencode(written, true, -1), true},
        {"one constructed piece", Reencode(written, true, 0), true},
        {"two constructed pieces", Reencode(written, true, 0, 2), true},
        {"nested 3 deep", Reencode(written, true, 3), true},
        {"nested 5,000 deep", Reencode(written, true, 5000), false},
        {"definite lengths, nested 3 deep", Reencode(written, false, 3), true},
        {"triple DES", tripleDes, true},
        {"triple DES, one constructed piece", Reencode(tripleDes, true, 0), true},
    };
    for (const Row& row : rows) {
        for (bool envelope : {false, true}) {
            SCOPED_TRACE(std::string(row.what) + (envelope ? " (envelope)" : ""));
            std::string input = work / (envelope ? "doc.txt.sme" : "doc.txt.crp");
            if (envelope) {
                std::string sme = SignBySystem(Ids().own, "Olivia Own", row.message);
                ASSERT_FALSE(sme.empty()) << Held();
                WriteFileBytes(input, sme);
            } else {
                WriteFileBytes(input, row.message);
            }
            auto job = NewJob();
            bool ok = envelope ? job->UnpackEnvelopeFile(1, input.c_str()) : job->DecryptFile(1, input.c_str());
            EXPECT_EQ(row.readable, ok) << status.Log();
            if (ok) {
                EXPECT_EQ(ReadFileBytes(work / "doc.txt"), content);
                EXPECT_TRUE(status.Updates(0).empty()) << status.Log();
            } else {
                EXPECT_FALSE(Exists(work / "doc.txt"));
                auto errors = status.Updates(0);
                ASSERT_EQ(errors.size(), 1u) << status.Log();
                std::string detail = Field(errors[0], "detail");
                EXPECT_TRUE(StartsWith(detail, "Decryption failed!")) << detail;
            }
            job.reset();
            tvtest::RemoveTree(work / "doc.txt");
            tvtest::RemoveTree(work / "doc.txt.crp");
            tvtest::RemoveTree(input);
        }
    }
}

}  // namespace
