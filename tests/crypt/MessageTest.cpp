// PKCS#7 messages: round trips of signed, enveloped and envelope messages and
// how bad input, missing keys and missing arguments fail.
#include "CertFixture.h"
#include "TestErrors.h"
#include "CryptAPI.h"
#include "QXTools.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string TakeErrorText() { return tvtest::TakeError(); }

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

const BYTE* Bytes(const std::string& s) { return reinterpret_cast<const BYTE*>(s.data()); }

std::string Take(TQXCrypt& crypt, BYTE* buffer, uint32_t length)
{
    std::string s(reinterpret_cast<const char*>(buffer), length);
    crypt.FreeBuffer(buffer);
    return s;
}

// The shape of a DER encoding: one line per element, its depth and tag, and
// the length of a primitive one. Every length must be in its shortest form
// and every element must fill its parent exactly; else "malformed".
bool AddShape(const std::string& der, size_t at, size_t end, int depth, std::string& shape)
{
    while (at < end) {
        if (at + 2 > end)
            return false;
        unsigned char tag = static_cast<unsigned char>(der[at]);
        size_t length = static_cast<unsigned char>(der[at + 1]);
        size_t header = 2;
        if (length & 0x80) {
            size_t count = length & 0x7F;
            if (count == 0 || count > 4 || at + 2 + count > end || der[at + 2] == 0)
                return false;
            length = 0;
            for (size_t i = 0; i < count; ++i)
                length = (length << 8) | static_cast<unsigned char>(der[at + 2 + i]);
            if (length < 0x80 || (count > 1 && length < (size_t{1} << (8 * (count - 1)))))
                return false;
            header += count;
        }
        if (length > end - at - header)
            return false;
        shape += std::to_string(depth) + ":" + std::to_string(tag);
        if (tag & 0x20) {
            shape += "\n";
            if (!AddShape(der, at + header, at + header + length, depth + 1, shape))
                return false;
        } else {
            shape += ":" + std::to_string(length) + "\n";
        }
        at += header + length;
    }
    return true;
}

std::string Shape(const std::string& der)
{
    std::string shape;
    return AddShape(der, 0, der.size(), 0, shape) ? shape : "malformed";
}

// Sets the message members' first buffer too small for the life of the object.
struct TightOutput {
    explicit TightOutput(bool tight) { SetTightMessageOutput(tight); }
    ~TightOutput() { SetTightMessageOutput(false); }
};

// Alice signs and keeps her own key; Bob's public certificate is in Alice's
// store of other people; Bob keeps his own key in a store of his own.
class MessageTest : public tvtest::CertSuite {
protected:
    static void SetUpTestSuite()
    {
        certs = new tvtest::CertFixture;
        alice = certs->NewStore("alice");
        others = certs->NewStore("others");
        bob = certs->NewStore("bob");
        ASSERT_TRUE(certs->MakePerson("Alice Test", alice));
        ASSERT_TRUE(certs->MakePerson("Bob Test", bob));
        ASSERT_TRUE(certs->CopyPublic("Bob Test", bob, others));
        ASSERT_TRUE(certs->CopyPublic("Alice Test", alice, others));
    }
    static std::string alice, others, bob;
    tvtest::TempDir dir{"crypt"};
};

std::string MessageTest::alice, MessageTest::others, MessageTest::bob;

class MessageSizeTest : public MessageTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(MessageSizeTest, SignedEncryptedAndEnvelopeFilesComeBackUnchanged)
{
    const std::string input = tvtest::PatternBytes(GetParam(), 7);
    const std::string in = dir / "data.bin";
    tvtest::WriteFileBytes(in, input);
    TQXCrypt crypt;

    // Signed: verification gives the bytes and the signer back.
    ASSERT_TRUE(crypt.SignFile(alice.c_str(), "Alice Test", in.c_str(), (in + ".sgn").c_str()));
    CertificateInfo signer = {};
    ASSERT_TRUE(crypt.VerifyFile((in + ".sgn").c_str(), (dir / "verified").c_str(), &signer));
    EXPECT_TRUE(input == tvtest::ReadFileBytes(dir / "verified"));
    EXPECT_STREQ("Alice Test", signer.subject);
    ASSERT_NE(nullptr, signer.certificate);
    crypt.FreeCertificate(signer.certificate);

    // Encrypted for oneself.
    ASSERT_TRUE(
        crypt.EncryptFile(alice.c_str(), "Alice Test", in.c_str(), (in + ".crp").c_str()));
    EXPECT_NE(input.size(), tvtest::ReadFileBytes(in + ".crp").find(input.substr(0, 64)));
    ASSERT_TRUE(crypt.DecryptFile(alice.c_str(), (in + ".crp").c_str(), (dir / "decrypted").c_str()));
    EXPECT_TRUE(input == tvtest::ReadFileBytes(dir / "decrypted"));

    // Envelope: enveloped for Bob from Alice's store of others, signed by Alice.
    BYTE* enveloped = nullptr;
    uint32_t envelopedLength = 0;
    ASSERT_TRUE(crypt.EncryptBuffer(others.c_str(), "Bob Test", Bytes(input),
                                    static_cast<uint32_t>(input.size()), &enveloped,
                                    &envelopedLength));
    BYTE* sme = nullptr;
    uint32_t smeLength = 0;
    ASSERT_TRUE(crypt.SignBuffer(alice.c_str(), "Alice Test", enveloped, envelopedLength, &sme,
                                 &smeLength));
    const std::string inner = Take(crypt, enveloped, envelopedLength);
    tvtest::WriteFileBytes(in + ".sme", Take(crypt, sme, smeLength));

    TQXCrypt bobs;
    CertificateInfo sender = {};
    ASSERT_TRUE(bobs.VerifyFile((in + ".sme").c_str(), (dir / "inner.crp").c_str(), &sender));
    EXPECT_STREQ("Alice Test", sender.subject);
    bobs.FreeCertificate(sender.certificate);
    EXPECT_TRUE(inner == tvtest::ReadFileBytes(dir / "inner.crp"));
    ASSERT_TRUE(bobs.DecryptFile(bob.c_str(), (dir / "inner.crp").c_str(),
                                 (dir / "unpacked").c_str()));
    EXPECT_TRUE(input == tvtest::ReadFileBytes(dir / "unpacked"));
    // Alice cannot open what she packed for Bob.
    EXPECT_FALSE(crypt.DecryptFile(alice.c_str(), (dir / "inner.crp").c_str(),
                                   (dir / "nope").c_str()));
    EXPECT_FALSE(tvtest::Exists(dir / "nope"));
}

INSTANTIATE_TEST_SUITE_P(Sizes, MessageSizeTest,
                         ::testing::Values(size_t{1}, size_t{2000001}, size_t{30000000}));

TEST_F(MessageTest, VerifyOnlyHandsOutTheSignerButNoContent)
{
    TQXCrypt crypt;
    const std::string input = "short text";
    BYTE* signedMsg = nullptr;
    uint32_t signedLength = 0;
    ASSERT_TRUE(crypt.SignBuffer(alice.c_str(), "Alice Test", Bytes(input),
                                 static_cast<uint32_t>(input.size()), &signedMsg, &signedLength));
    EXPECT_EQ(0, signedMsg[signedLength]);  // room for one more byte

    BYTE* content = reinterpret_cast<BYTE*>(1);
    uint32_t contentLength = 9;
    PCCERT_CONTEXT signer = nullptr;
    EXPECT_TRUE(crypt.VerifyBuffer(signedMsg, signedLength, &content, &contentLength, &signer, true));
    EXPECT_EQ(nullptr, content);
    EXPECT_EQ(0u, contentLength);
    ASSERT_NE(nullptr, signer);
    CertificateInfo info;
    ASSERT_TRUE(crypt.GetCertificateInfo(signer, &info));
    EXPECT_STREQ("Alice Test", info.subject);
    crypt.FreeCertificate(signer);

    EXPECT_TRUE(crypt.VerifyBuffer(signedMsg, signedLength, &content, &contentLength, nullptr, false));
    EXPECT_EQ(input, Take(crypt, content, contentLength));
    crypt.FreeBuffer(signedMsg);
    EXPECT_EQ("", TakeErrorText());
}

TEST_F(MessageTest, AFlippedByteFailsVerificationAndWritesNothing)
{
    const std::string input = tvtest::PatternBytes(5000, 3);
    const std::string in = dir / "data.bin";
    tvtest::WriteFileBytes(in, input);
    TQXCrypt crypt;
    ASSERT_TRUE(crypt.SignFile(alice.c_str(), "Alice Test", in.c_str(), (in + ".sgn").c_str()));
    std::string message = tvtest::ReadFileBytes(in + ".sgn");
    size_t at = message.find(input);
    ASSERT_NE(std::string::npos, at);

    struct Row {
        const char* what;
        size_t offset;
    } rows[] = {
        {"first content byte", at},
        {"middle content byte", at + 2500},
        {"last byte (signature)", message.size() - 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::string damaged = message;
        damaged[row.offset] = static_cast<char>(damaged[row.offset] ^ 0x01);
        tvtest::WriteFileBytes(dir / "bad.sgn", damaged);
        CertificateInfo signer = {};
        ClearLastError();
        EXPECT_FALSE(crypt.VerifyFile((dir / "bad.sgn").c_str(), (dir / "out").c_str(), &signer));
        EXPECT_FALSE(tvtest::Exists(dir / "out"));
        std::string error = TakeErrorText();
        EXPECT_TRUE(StartsWith(error, "Verification failed! ")) << error;
        EXPECT_NE(std::string::npos, error.find(" CryptAPI 2525]"));
        if (signer.certificate)
            crypt.FreeCertificate(signer.certificate);
    }
}

TEST_F(MessageTest, DecryptingWithoutTheRecipientsKeyFailsAndWritesNothing)
{
    const std::string in = dir / "data.bin";
    tvtest::WriteFileBytes(in, tvtest::PatternBytes(1000, 4));
    TQXCrypt crypt;
    ASSERT_TRUE(crypt.EncryptFile(others.c_str(), "Bob Test", in.c_str(), (in + ".crp").c_str()));

    // Alice's own store lacks Bob; her store of others has his certificate
    // but not his key.
    for (const std::string& store : {alice, others}) {
        SCOPED_TRACE(store);
        ClearLastError();
        EXPECT_FALSE(crypt.DecryptFile(store.c_str(), (in + ".crp").c_str(), (dir / "out").c_str()));
        EXPECT_FALSE(tvtest::Exists(dir / "out"));
        std::string error = TakeErrorText();
        EXPECT_TRUE(StartsWith(error, "Decryption failed! ")) << error;
        EXPECT_NE(std::string::npos, error.find(" CryptAPI 2888]"));
    }
    EXPECT_TRUE(crypt.DecryptFile(bob.c_str(), (in + ".crp").c_str(), (dir / "out").c_str()));
}

TEST_F(MessageTest, MissingArgumentsFailWithoutAPlatformCall)
{
    TQXCrypt crypt;
    const BYTE data[4] = {1, 2, 3, 4};
    BYTE* out = nullptr;
    uint32_t length = 0;
    PCCERT_CONTEXT signer = nullptr;
    const char* a = alice.c_str();
    struct Row {
        const char* what;
        bool (*call)(TQXCrypt&, const char*, const BYTE*, BYTE**, uint32_t*, PCCERT_CONTEXT*);
    } rows[] = {
        {"sign, zero length", [](TQXCrypt& c, const char* s, const BYTE* d, BYTE** o, uint32_t* l, PCCERT_CONTEXT*) { return c.SignBuffer(s, "Alice Test", d, 0, o, l); }},
        {"sign, no data", [](TQXCrypt& c, const char* s, const BYTE*, BYTE** o, uint32_t* l, PCCERT_CONTEXT*) { return c.SignBuffer(s, "Alice Test", nullptr, 4, o, l); }},
        {"sign, no store", [](TQXCrypt& c, const char*, const BYTE* d, BYTE** o, uint32_t* l, PCCERT_CONTEXT*) { return c.SignBuffer(nullptr, "Alice Test", d, 4, o, l); }},
        {"sign, no subject", [](TQXCrypt& c, const char* s, const BYTE* d, BYTE** o, uint32_t* l, PCCERT_CONTEXT*) { return c.SignBuffer(s, nullptr, d, 4, o, l); }},
        {"verify, zero length", [](TQXCrypt& c, const char*, const BYTE* d, BYTE** o, uint32_t* l, PCCERT_CONTEXT* p) { return c.VerifyBuffer(d, 0, o, l, p, false); }},
        {"verify, no data", [](TQXCrypt& c, const char*, const BYTE*, BYTE** o, uint32_t* l, PCCERT_CONTEXT* p) { return c.VerifyBuffer(nullptr, 4, o, l, p, false); }},
        {"encrypt, zero length", [](TQXCrypt& c, const char* s, const BYTE* d, BYTE** o, uint32_t* l, PCCERT_CONTEXT*) { return c.EncryptBuffer(s, "Alice Test", d, 0, o, l); }},
        {"encrypt, no subject", [](TQXCrypt& c, const char* s, const BYTE* d, BYTE** o, uint32_t* l, PCCERT_CONTEXT*) { return c.EncryptBuffer(s, nullptr, d, 4, o, l); }},
        {"encrypt, no store", [](TQXCrypt& c, const char*, const BYTE* d, BYTE** o, uint32_t* l, PCCERT_CONTEXT*) { return c.EncryptBuffer(nullptr, "Alice Test", d, 4, o, l); }},
        {"decrypt, zero length", [](TQXCrypt& c, const char* s, const BYTE* d, BYTE** o, uint32_t* l, PCCERT_CONTEXT*) { return c.DecryptBuffer(s, d, 0, o, l); }},
        {"decrypt, empty store name", [](TQXCrypt& c, const char*, const BYTE* d, BYTE** o, uint32_t* l, PCCERT_CONTEXT*) { return c.DecryptBuffer("", d, 4, o, l); }},
        {"decrypt, no store", [](TQXCrypt& c, const char*, const BYTE* d, BYTE** o, uint32_t* l, PCCERT_CONTEXT*) { return c.DecryptBuffer(nullptr, d, 4, o, l); }},
        {"sign file, no output", [](TQXCrypt& c, const char* s, const BYTE*, BYTE**, uint32_t*, PCCERT_CONTEXT*) { return c.SignFile(s, "Alice Test", "C:\\x", nullptr); }},
        {"verify file, no input", [](TQXCrypt& c, const char*, const BYTE*, BYTE**, uint32_t*, PCCERT_CONTEXT*) { return c.VerifyFile(nullptr, "C:\\x", nullptr); }},
        {"encrypt file, no subject", [](TQXCrypt& c, const char* s, const BYTE*, BYTE**, uint32_t*, PCCERT_CONTEXT*) { return c.EncryptFile(s, nullptr, "C:\\x", "C:\\y"); }},
        {"decrypt file, no output", [](TQXCrypt& c, const char* s, const BYTE*, BYTE**, uint32_t*, PCCERT_CONTEXT*) { return c.DecryptFile(s, "C:\\x", nullptr); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ClearLastError();
        out = reinterpret_cast<BYTE*>(1);
        length = 7;
        // A platform call would replace this code; the early refusal keeps it.
        SetLastError(12345);
        bool buffered = StartsWith(row.what, "sign,") || StartsWith(row.what, "verify,") ||
                        StartsWith(row.what, "encrypt,") || StartsWith(row.what, "decrypt,");
        EXPECT_FALSE(row.call(crypt, a, data, &out, &length, &signer));
        if (buffered) {
            EXPECT_EQ(12345u, GetLastError());
            EXPECT_EQ("", TakeErrorText());
            EXPECT_EQ(nullptr, out);
            EXPECT_EQ(0u, length);
        }
    }
    EXPECT_EQ(nullptr, signer);
}

TEST_F(MessageTest, GarbageAndTruncatedMessagesFailCleanly)
{
    TQXCrypt crypt;
    const std::string input = tvtest::PatternBytes(3000, 5);
    BYTE* buffer = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(crypt.SignBuffer(alice.c_str(), "Alice Test", Bytes(input), 3000, &buffer, &length));
    const std::string signedMsg = Take(crypt, buffer, length);
    ASSERT_TRUE(crypt.EncryptBuffer(alice.c_str(), "Alice Test", Bytes(input), 3000, &buffer, &length));
    const std::string envelopedMsg = Take(crypt, buffer, length);

    struct Row {
        const char* what;
        std::string bytes;
    } rows[] = {
        {"random bytes", tvtest::PatternBytes(4096, 99)},
        {"one byte", std::string(1, '\x30')},
        {"signed, cut in half", signedMsg.substr(0, signedMsg.size() / 2)},
        {"signed, last byte missing", signedMsg.substr(0, signedMsg.size() - 1)},
        {"enveloped, cut in half", envelopedMsg.substr(0, envelopedMsg.size() / 2)},
        {"enveloped, last byte missing", envelopedMsg.substr(0, envelopedMsg.size() - 1)},
        {"enveloped given to verify", envelopedMsg},
        {"signed given to decrypt", signedMsg},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const BYTE* data = Bytes(row.bytes);
        uint32_t size = static_cast<uint32_t>(row.bytes.size());
        bool isSigned = row.bytes == signedMsg;
        bool isEnveloped = row.bytes == envelopedMsg;
        PCCERT_CONTEXT signer = nullptr;

        ClearLastError();
        bool verified = crypt.VerifyBuffer(data, size, &buffer, &length, &signer, false);
        EXPECT_EQ(isSigned, verified);
        if (!verified) {
            EXPECT_EQ(nullptr, buffer);
            EXPECT_EQ(0u, length);
            EXPECT_TRUE(StartsWith(TakeErrorText(), "Verification failed! "));
        }
        crypt.FreeBuffer(buffer);
        if (signer)
            crypt.FreeCertificate(signer);

        ClearLastError();
        bool decrypted = crypt.DecryptBuffer(alice.c_str(), data, size, &buffer, &length);
        EXPECT_EQ(isEnveloped, decrypted);
        if (!decrypted) {
            EXPECT_EQ(nullptr, buffer);
            EXPECT_EQ(0u, length);
            EXPECT_TRUE(StartsWith(TakeErrorText(), "Decryption failed! "));
        }
        crypt.FreeBuffer(buffer);
    }
}

TEST_F(MessageTest, FailuresNameTheInnermostStep)
{
    const std::string in = dir / "data.bin";
    tvtest::WriteFileBytes(in, "abc");
    struct Row {
        const char* what;
        std::string store;
        const char* subject;
        const char* input;
        const char* expected;
    } rows[] = {
        {"unknown signer", alice, "Nobody", "data.bin", "No certificate could be found in database! "},
        {"signer without key", others, "Bob Test", "data.bin", "No signature certicate could be found! "},
        {"missing input", alice, "Alice Test", "missing.bin", "This file '"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TQXCrypt crypt;
        std::string input = dir / row.input;
        EXPECT_FALSE(crypt.SignFile(row.store.c_str(), row.subject, input.c_str(),
                                    (dir / "out.sgn").c_str()));
        EXPECT_FALSE(tvtest::Exists(dir / "out.sgn"));
        EXPECT_STREQ("This file could not be signed!", crypt.message);
        std::string error = TakeErrorText();
        EXPECT_TRUE(StartsWith(error, row.expected)) << error;
    }
    TQXCrypt crypt;
    EXPECT_FALSE(crypt.EncryptFile(alice.c_str(), "Nobody", in.c_str(), (dir / "out.crp").c_str()));
    EXPECT_FALSE(tvtest::Exists(dir / "out.crp"));
    EXPECT_TRUE(StartsWith(TakeErrorText(), "No certificate could be found in database! "));
}

// The platform's own encryption with RC4, as a peer would encrypt.
static CRYPT_ENCRYPT_MESSAGE_PARA PlatformRc4Para()
{
    static char oid[] = szOID_RSA_RC4;
    CRYPT_ENCRYPT_MESSAGE_PARA para = {};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    para.ContentEncryptionAlgorithm.pszObjId = oid;
    return para;
}

// Our enveloped messages carry RC4 without parameters; messages in the
// platform's own form (an ASN.1 NULL there) are read as well.
TEST_F(MessageTest, Rc4ParametersAreAbsentAndTheNullFormIsReadToo)
{
    static const BYTE rc4[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x04};
    const std::string rc4Oid(reinterpret_cast<const char*>(rc4), sizeof rc4);
    const std::string input = tvtest::PatternBytes(300, 8);
    TQXCrypt crypt;
    BYTE* msg = nullptr;
    uint32_t msgLength = 0;
    ASSERT_TRUE(crypt.EncryptBuffer(alice.c_str(), "Alice Test", Bytes(input), 300, &msg, &msgLength));
    const std::string ours = Take(crypt, msg, msgLength);
    size_t at = ours.find(rc4Oid);
    ASSERT_NE(std::string::npos, at);
    // The algorithm sequence holds the identifier alone; the content follows.
    EXPECT_EQ(static_cast<char>(sizeof rc4), ours[at - 1]);
    EXPECT_EQ('\x80', ours[at + sizeof rc4]);

    PCCERT_CONTEXT recipient = certs->Certificate("Alice Test", alice);
    ASSERT_NE(nullptr, recipient);
    CRYPT_ENCRYPT_MESSAGE_PARA para = PlatformRc4Para();
    DWORD size = 0;
    ASSERT_TRUE(CryptEncryptMessage(&para, 1, &recipient, Bytes(input), 300, nullptr, &size));
    std::string platform(size, '\0');
    ASSERT_TRUE(CryptEncryptMessage(&para, 1, &recipient, Bytes(input), 300,
                                    reinterpret_cast<BYTE*>(&platform[0]), &size));
    platform.resize(size);
    CertFreeCertificateContext(recipient);
    at = platform.find(rc4Oid);
    ASSERT_NE(std::string::npos, at);
    ASSERT_EQ(std::string("\x05\x00", 2), platform.substr(at + sizeof rc4, 2));

    BYTE* plain = nullptr;
    uint32_t plainLength = 0;
    ASSERT_TRUE(crypt.DecryptBuffer(alice.c_str(), Bytes(platform), size, &plain, &plainLength));
    EXPECT_EQ(input, Take(crypt, plain, plainLength));
}

// A message call runs once into a buffer sized from the input; only when the
// platform finds it too small do the size pass and a second call follow. Both
// roads give the same messages, and the signed message is the platform's own
// from its size pass and call, byte for byte.
TEST_F(MessageTest, BothRoadsOfTheMessageCallGiveTheSameBytes)
{
    PCCERT_CONTEXT cert = certs->Certificate("Alice Test", alice);
    ASSERT_NE(nullptr, cert);
    TQXCrypt crypt;
    for (size_t size : {size_t{1}, size_t{4000}, size_t{3000000}}) {
        SCOPED_TRACE(size);
        const std::string input = tvtest::PatternBytes(size, 11);
        const uint32_t length = static_cast<uint32_t>(size);
        std::string sgn[2], crp[2];
        for (int tight = 0; tight < 2; ++tight) {
            TightOutput road(tight != 0);
            BYTE* out = nullptr;
            uint32_t n = 0;
            ASSERT_TRUE(crypt.SignBuffer(alice.c_str(), "Alice Test", Bytes(input), length, &out, &n));
            EXPECT_EQ(0, out[n]);
            sgn[tight] = Take(crypt, out, n);
            ASSERT_TRUE(crypt.VerifyBuffer(Bytes(sgn[tight]), n, &out, &n, nullptr, false));
            EXPECT_TRUE(input == Take(crypt, out, n));
            ASSERT_TRUE(crypt.EncryptBuffer(alice.c_str(), "Alice Test", Bytes(input), length, &out, &n));
            EXPECT_EQ(0, out[n]);
            crp[tight] = Take(crypt, out, n);
            ASSERT_TRUE(crypt.DecryptBuffer(alice.c_str(), Bytes(crp[tight]), n, &out, &n));
            EXPECT_TRUE(input == Take(crypt, out, n));
        }
        EXPECT_TRUE(sgn[0] == sgn[1]);
        // The content key is new every time: the same shape, other bytes.
        EXPECT_EQ(Shape(crp[0]), Shape(crp[1]));

        CRYPT_SIGN_MESSAGE_PARA para = {};
        para.cbSize = sizeof para;
        para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
        para.pSigningCert = cert;
        char md5[] = szOID_RSA_MD5;
        para.HashAlgorithm.pszObjId = md5;
        para.cMsgCert = 1;
        para.rgpMsgCert = &cert;
        const BYTE* parts[1] = {Bytes(input)};
        DWORD partLengths[1] = {length};
        DWORD n = 0;
        ASSERT_TRUE(CryptSignMessage(&para, FALSE, 1, parts, partLengths, nullptr, &n));
        std::string platform(n, '\0');
        ASSERT_TRUE(CryptSignMessage(&para, FALSE, 1, parts, partLengths,
                                     reinterpret_cast<BYTE*>(&platform[0]), &n));
        platform.resize(n);
        EXPECT_TRUE(platform == sgn[0]);
    }
    CertFreeCertificateContext(cert);
    EXPECT_EQ("", TakeErrorText());
}

// The NULL is cut out of the platform's enveloped message where it lies, and
// the five lengths around it are encoded anew, also where one of them needs a
// byte less: our messages have the platform's shape less that NULL, at content
// sizes on both sides of the lengths 128, 256 and 65536 at every level.
TEST_F(MessageTest, Rc4NullIsCutOutWithTheLengthsAroundItShortest)
{
    PCCERT_CONTEXT recipient = certs->Certificate("Alice Test", alice);
    ASSERT_NE(nullptr, recipient);
    CRYPT_ENCRYPT_MESSAGE_PARA para = PlatformRc4Para();
    const std::string input = tvtest::PatternBytes(66000, 12);
    TQXCrypt crypt;
    int shorter = 0;
    std::vector<std::pair<size_t, size_t>> windows = {{90, 140}, {215, 265}, {65100, 65540}};
    for (const auto& window : windows) {
        for (size_t size = window.first; size <= window.second; ++size) {
            SCOPED_TRACE(size);
            DWORD n = 0;
            ASSERT_TRUE(CryptEncryptMessage(&para, 1, &recipient, Bytes(input),
                                            static_cast<DWORD>(size), nullptr, &n));
            std::string platform(n, '\0');
            ASSERT_TRUE(CryptEncryptMessage(&para, 1, &recipient, Bytes(input),
                                            static_cast<DWORD>(size),
                                            reinterpret_cast<BYTE*>(&platform[0]), &n));
            platform.resize(n);
            std::string expected = Shape(platform);
            size_t null = expected.find("\n5:5:0\n");
            ASSERT_NE(std::string::npos, null);
            expected.erase(null + 1, 6);

            BYTE* out = nullptr;
            uint32_t length = 0;
            ASSERT_TRUE(crypt.EncryptBuffer(alice.c_str(), "Alice Test", Bytes(input),
                                            static_cast<uint32_t>(size), &out, &length));
            std::string ours = Take(crypt, out, length);
            ASSERT_EQ(expected, Shape(ours));
            if (ours.size() < platform.size() - 2)
                ++shorter;
        }
    }
    CertFreeCertificateContext(recipient);
    // Each window holds sizes where a length loses a byte.
    EXPECT_LE(3, shorter);
}

// Keys of several imported PKCS#12 files, modern and legacy, stay usable side
// by side.
TEST_F(MessageTest, ImportedIdentitiesEachKeepTheirKey)
{
    tvtest::CertFixture local;
    std::string store = local.NewStore("imported");
    ASSERT_TRUE(local.ImportPfx(tvtest::CertFixture::DataDir() + "\\carol-modern.p12", "test", store));
    ASSERT_TRUE(local.ImportPfx(tvtest::CertFixture::DataDir() + "\\dave-legacy.p12", "test", store));
    TQXCrypt crypt;
    const std::string input = "for the imported";
    for (const char* who : {"Carol Interop", "Dave Legacy"}) {
        SCOPED_TRACE(local.KeyState(who, store));
        BYTE* msg = nullptr;
        uint32_t msgLength = 0;
        ASSERT_TRUE(crypt.EncryptBuffer(store.c_str(), who, Bytes(input), 16, &msg, &msgLength));
        BYTE* plain = nullptr;
        uint32_t plainLength = 0;
        EXPECT_TRUE(crypt.DecryptBuffer(store.c_str(), msg, msgLength, &plain, &plainLength))
            << crypt.message << " / " << local.KeyState(who, store);
        EXPECT_EQ(input, Take(crypt, plain, plainLength));
        crypt.FreeBuffer(msg);

        ASSERT_TRUE(crypt.SignBuffer(store.c_str(), who, Bytes(input), 16, &msg, &msgLength));
        PCCERT_CONTEXT signer = nullptr;
        EXPECT_TRUE(crypt.VerifyBuffer(msg, msgLength, nullptr, nullptr, &signer, true));
        crypt.FreeCertificate(signer);
        crypt.FreeBuffer(msg);
    }
}

}  // namespace
