// Messages that another program wrote (make-foreign-messages.sh, for "Carol
// Interop"): each opens to exactly its content, or fails with its text and
// writes nothing. Never a wrong or empty file reported as success.
#include "CertFixture.h"
#include "CryptAPI.h"
#include "DerEdit.h"
#include "TestErrors.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Alteration = std::function<std::string(const std::string&)>;

struct ForeignMessage {
    const char* name;      // <name>.crp or <name>.sgn and <name>.content in certs\foreign
    const char* change;    // what was altered (null: the message as written)
    Alteration alter;
    const char* failure;   // null: opens to its content
};

std::ostream& operator<<(std::ostream& os, const ForeignMessage& m)
{
    return os << m.name << (m.change ? std::string(", ") + m.change : std::string());
}

// Where the parts of a message stand (child indexes from the top): an
// enveloped message with one recipient as written, and a signed one.
using Path = std::vector<size_t>;
const Path kRecipients = {1, 0, 1};
const Path kEncryptedKey = {1, 0, 1, 0, 3};
const Path kContentAlgorithm = {1, 0, 2, 1, 0};
const Path kContentParameters = {1, 0, 2, 1, 1};
const Path kEncryptedContent = {1, 0, 2, 2};
const Path kSignedContent = {1, 0, 2, 1, 0};

Alteration Put(const Path& path, const std::string& with)
{
    return [=](const std::string& m) { return tvtest::Replace(m, path, with); };
}
// The primitive string at the path with only its first `keep` bytes, or
// without its last `drop` bytes.
Alteration Keep(const Path& path, size_t keep)
{
    return [=](const std::string& m) {
        tvtest::Tlv string = tvtest::At(m, path);
        return tvtest::Replace(m, path, tvtest::Definite(static_cast<unsigned char>(m[string.start]),
                                                         tvtest::Content(m, string).substr(0, keep)));
    };
}
Alteration Drop(const Path& path, size_t drop)
{
    return [=](const std::string& m) { return Keep(path, tvtest::At(m, path).length - drop)(m); };
}
// Bits flipped in the byte `back` places before the end of the string at the
// path, whatever pieces it was written in.
Alteration Flip(const Path& path, size_t back, unsigned char bits)
{
    return [=](const std::string& m) {
        std::vector<size_t> bytes = tvtest::StringBytes(m, path);
        std::string altered = m;
        altered[bytes.at(bytes.size() - back)] ^= static_cast<char>(bits);
        return altered;
    };
}
// Recipients whose certificates no store holds, before the one of the user.
Alteration OthersFirst(int count)
{
    return [=](const std::string& m) {
        std::string ours = tvtest::Bytes(m, tvtest::At(m, {1, 0, 1, 0}));
        tvtest::Tlv serial = tvtest::At(ours, {1, 1});
        std::string other = ours;
        other[serial.end() - 1] ^= 0x01;
        std::string set;
        for (int i = 0; i < count; ++i) set += other;
        return tvtest::Replace(m, kRecipients, tvtest::Definite(0x31, set + ours));
    };
}

const char kDecryption[] = "Decryption failed!";
const char kVerification[] = "Verification failed!";
// A CBC content tells a change only where the padding breaks: in the last
// byte of the block before the last, the high bit puts the padding byte out
// of its range.
const Alteration kPaddingBroken = Flip(kEncryptedContent, 9, 0x80);

const ForeignMessage kForeignMessages[] = {
    // CBC content ciphers, whose initial value and effective key length are
    // in the algorithm's parameters.
    {"des3.crp", nullptr, nullptr, nullptr},
    {"des.crp", nullptr, nullptr, nullptr},
    {"rc2.crp", nullptr, nullptr, nullptr},
    {"rc2-40.crp", nullptr, nullptr, nullptr},
    {"aes128.crp", nullptr, nullptr, nullptr},
    {"aes192.crp", nullptr, nullptr, nullptr},
    {"aes256.crp", nullptr, nullptr, nullptr},
    {"aes128-keyid.crp", nullptr, nullptr, nullptr},
    {"rc4.crp", nullptr, nullptr, nullptr},
    {"aes256.crp", "three other recipients first", OthersFirst(3), nullptr},
    // Streamed: indefinite lengths, the encrypted content in pieces.
    {"des3-stream.crp", nullptr, nullptr, nullptr},
    {"rc4-stream.crp", nullptr, nullptr, nullptr},
    {"aes256-stream-four.crp", nullptr, nullptr, nullptr},
    {"des3-stream-four.crp", nullptr, nullptr, nullptr},
    // An empty file is never written from a message with encrypted content.
    {"aes256-nothing.crp", nullptr, nullptr, kDecryption},
    {"des3.crp", "padding broken", kPaddingBroken, kDecryption},
    {"des3-stream.crp", "padding broken", kPaddingBroken, kDecryption},
    // Sizes that the message gives: checked before the platform takes them.
    {"aes256.crp", "encrypted key of 100 bytes", Keep(kEncryptedKey, 100), kDecryption},
    {"des3.crp", "encrypted key of 100 bytes", Keep(kEncryptedKey, 100), kDecryption},
    {"aes256.crp", "encrypted key empty", Keep(kEncryptedKey, 0), kDecryption},
    {"aes256.crp", "encrypted key garbage", Put(kEncryptedKey, tvtest::Definite(0x04, std::string(256, 'Z'))),
     kDecryption},
    {"aes256.crp", "content empty", Keep(kEncryptedContent, 0), kDecryption},
    {"des3.crp", "content empty", Keep(kEncryptedContent, 0), kDecryption},
    {"aes256.crp", "content absent", Put(kEncryptedContent, ""), kDecryption},
    {"des3.crp", "content absent", Put(kEncryptedContent, ""), kDecryption},
    {"rc4.crp", "content absent", Put(kEncryptedContent, ""), kDecryption},
    {"aes256.crp", "content not whole blocks", Drop(kEncryptedContent, 1), kDecryption},
    {"aes256.crp", "content one block short", Drop(kEncryptedContent, 16), kDecryption},
    {"des3.crp", "initial value of 4 bytes", Put(kContentParameters, tvtest::Definite(0x04, "1234")), kDecryption},
    {"aes256.crp", "initial value of 8 bytes", Put(kContentParameters, tvtest::Definite(0x04, "12345678")),
     kDecryption},
    {"aes256.crp", "initial value of 17 bytes", Put(kContentParameters, tvtest::Definite(0x04, std::string(17, 'i'))),
     kDecryption},
    {"aes256.crp", "initial value an INTEGER", Put(kContentParameters, tvtest::Definite(0x02, std::string(16, 'i'))),
     kDecryption},
    {"aes256.crp", "parameters NULL", Put(kContentParameters, tvtest::Definite(0x05, "")), kDecryption},
    {"aes256.crp", "parameters absent", Put(kContentParameters, ""), kDecryption},
    {"aes256.crp", "unknown algorithm",
     Put(kContentAlgorithm, tvtest::Definite(0x06, "\x60\x86\x48\x01\x65\x03\x04\x01\x2B")), kDecryption},
    // Encodings that break their own rules never reach the platform.
    {"aes256.crp", "type an empty OBJECT IDENTIFIER", Put({0}, tvtest::Definite(0x06, "")), kDecryption},
    {"sign-sha256.sgn", "type an empty OBJECT IDENTIFIER", Put({0}, tvtest::Definite(0x06, "")), kVerification},
    {"sign-sha256.sgn", "content type an empty OBJECT IDENTIFIER", Put({1, 0, 2, 0}, tvtest::Definite(0x06, "")),
     kVerification},
    {"sign-sha1.sgn", "signer's public key an empty BIT STRING",
     Put({1, 0, 3, 0, 0, 6, 1}, tvtest::Definite(0x03, "")), kVerification},
    {"sign-sha1.sgn", "certificate's signature an empty BIT STRING", Put({1, 0, 3, 0, 2}, tvtest::Definite(0x03, "")),
     kVerification},
    // Signed, with signed attributes, streamed or not; a content changed
    // afterwards no longer matches the digest that they carry.
    {"sign-stream.sgn", nullptr, nullptr, nullptr},
    {"sign-sha256.sgn", nullptr, nullptr, nullptr},
    {"sign-sha1.sgn", nullptr, nullptr, nullptr},
    {"sign-stream-four.sgn", nullptr, nullptr, nullptr},
    {"sign-sha256.sgn", "content changed", Flip(kSignedContent, 1000, 0x01), kVerification},
    {"sign-stream.sgn", "content changed", Flip(kSignedContent, 1000, 0x01), kVerification},
};

class ForeignMessageTest : public tvtest::CertSuite,
                           public ::testing::WithParamInterface<ForeignMessage> {
protected:
    static void SetUpTestSuite()
    {
        certs = new tvtest::CertFixture;
        carol = certs->NewStore("carol");
        ASSERT_TRUE(certs->ImportPfx(tvtest::CertFixture::DataDir() + "\\carol-modern.p12",
                                     "test", carol));
    }
    static std::string carol;
    tvtest::TempDir dir{"foreign"};
};

std::string ForeignMessageTest::carol;

TEST_P(ForeignMessageTest, OpensToItsContentOrFailsWritingNothing)
{
    const ForeignMessage& row = GetParam();
    const std::string name = row.name;
    const std::string base = tvtest::CertFixture::DataDir() + "\\foreign\\" + name.substr(0, name.size() - 4);
    std::string message = tvtest::ReadFileBytes(tvtest::CertFixture::DataDir() + "\\foreign\\" + name);
    ASSERT_FALSE(message.empty()) << name;
    if (row.alter)
        message = row.alter(message);
    const std::string in = dir / name;
    const std::string out = dir / "opened";
    tvtest::WriteFileBytes(in, message);

    TQXCrypt crypt;
    bool signedMessage = name.compare(name.size() - 4, 4, ".sgn") == 0;
    bool ok;
    if (signedMessage) {
        CertificateInfo signer = {};
        ok = crypt.VerifyFile(in.c_str(), out.c_str(), &signer);
        if (signer.certificate) {
            if (ok) {
                EXPECT_STREQ("Carol Interop", signer.subject);
            }
            crypt.FreeCertificate(signer.certificate);
        }
    } else {
        ok = crypt.DecryptFile(carol.c_str(), in.c_str(), out.c_str());
    }
    std::string error = tvtest::TakeError();

    if (!row.failure) {
        ASSERT_TRUE(ok) << error << " / " << certs->KeyState("Carol Interop", carol);
        std::string content = tvtest::ReadFileBytes(base + ".content");
        std::string opened = tvtest::ReadFileBytes(out);
        EXPECT_EQ(content.size(), opened.size());
        EXPECT_TRUE(content == opened) << "the output differs from the content";
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(0u, error.find(row.failure)) << error;
        EXPECT_FALSE(tvtest::Exists(out));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ForeignMessageTest, ::testing::ValuesIn(kForeignMessages));

}  // namespace
