// Messages that another program wrote (make-foreign-messages.sh, for "Carol
// Interop"): each opens to exactly its content, or fails with its text and
// writes nothing. Never a wrong or empty file reported as success.
#include "CertFixture.h"
#include "CryptAPI.h"
#include "TestErrors.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ForeignMessage {
    const char* name;      // <name>.crp or <name>.sgn and <name>.content in certs\foreign
    const char* failure;   // null: opens to its content
    int flip;              // flips the byte this far from the end first (0: none)
};

std::ostream& operator<<(std::ostream& os, const ForeignMessage& m)
{
    return os << m.name << (m.flip ? " altered" : "");
}

const ForeignMessage kForeignMessages[] = {
    // CBC content ciphers, whose initial value and effective key length are
    // in the algorithm's parameters.
    {"des3.crp", nullptr, 0},
    {"des.crp", nullptr, 0},
    {"rc2.crp", nullptr, 0},
    {"rc2-40.crp", nullptr, 0},
    {"aes128.crp", nullptr, 0},
    {"aes192.crp", nullptr, 0},
    {"aes256.crp", nullptr, 0},
    {"aes128-keyid.crp", nullptr, 0},
    // Streamed: indefinite lengths, the encrypted content in pieces.
    {"des3-stream.crp", nullptr, 0},
    {"rc4-stream.crp", nullptr, 0},
    {"aes256-stream-four.crp", nullptr, 0},
    {"des3-stream-four.crp", nullptr, 0},
    // An empty file is never written from a message with encrypted content.
    {"aes256-nothing.crp", "Decryption failed!", 0},
    // A broken last block: the padding does not hold.
    {"des3.crp", "Decryption failed!", 3},
    {"aes256-stream-four.crp", "Decryption failed!", 8},
    // Signed, with signed attributes, streamed or not.
    {"sign-stream.sgn", nullptr, 0},
    {"sign-sha256.sgn", nullptr, 0},
    {"sign-sha1.sgn", nullptr, 0},
    {"sign-stream-four.sgn", nullptr, 0},
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
    if (row.flip)
        message[message.size() - row.flip] ^= 0x5A;
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
