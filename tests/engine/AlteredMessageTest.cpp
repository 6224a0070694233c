// Messages altered after they were made, decrypted and unpacked by the job:
// an encrypted content that the platform cannot read never decrypts to an
// empty file.
#include "EngineFixture.h"

#include <wincrypt.h>

using namespace enginetest;
using tvtest::Exists;
using tvtest::ReadFileBytes;
using tvtest::WriteFileBytes;

namespace {

// One element of a DER encoding (definite lengths only).
struct Tlv {
    size_t start = 0;
    size_t header = 0;
    size_t length = 0;
    size_t content() const { return start + header; }
    size_t end() const { return start + header + length; }
};

Tlv ReadTlv(const std::string& der, size_t at) {
    Tlv tlv;
    tlv.start = at;
    tlv.header = 2;
    size_t length = static_cast<unsigned char>(der.at(at + 1));
    if (length & 0x80) {
        size_t count = length & 0x7F;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<unsigned char>(der.at(at + 2 + i));
        tlv.header += count;
    }
    tlv.length = length;
    return tlv;
}

std::vector<Tlv> Children(const std::string& der, const Tlv& parent) {
    std::vector<Tlv> children;
    for (size_t at = parent.content(); at < parent.end(); at = children.back().end())
        children.push_back(ReadTlv(der, at));
    return children;
}

std::string Bytes(const std::string& der, const Tlv& tlv) { return der.substr(tlv.start, tlv.end() - tlv.start); }

std::string Definite(unsigned char tag, const std::string& content) {
    std::string length;
    for (size_t n = content.size(); n; n >>= 8) length.insert(length.begin(), static_cast<char>(n & 0xFF));
    std::string header(1, static_cast<char>(tag));
    if (content.size() < 0x80)
        header += static_cast<char>(content.size());
    else
        header += static_cast<char>(0x80 | length.size()) + length;
    return header + content;
}

std::string Indefinite(unsigned char tag, const std::string& content) {
    return std::string{static_cast<char>(tag), '\x80'} + content + std::string(2, '\0');
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

class AlteredMessages : public EngineTest {};

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

// Legal BER of an encrypted message that the platform may not read: the
// result is either the right content or "Decryption failed!" with nothing
// written, never an empty file as a success; the same for the inner message
// of an envelope.
TEST_F(AlteredMessages, AnEncryptedContentThePlatformCannotReadNeverDecryptsToAnEmptyFile) {
    const std::string content = "decrypt me\r\n" + tvtest::PatternBytes(300);
    WriteFileBytes(work / "plain.txt", content);
    TQXCrypt crypt;
    ASSERT_TRUE(crypt.EncryptFile(Ids().pub.c_str(), "Olivia Own", (work / "plain.txt").c_str(),
                                  (work / "plain.txt.crp").c_str()))
        << Held();
    const std::string written = ReadFileBytes(work / "plain.txt.crp");
    tvtest::RemoveTree(work / "plain.txt");
    tvtest::RemoveTree(work / "plain.txt.crp");

    struct Row {
        const char* what;
        std::string message;
        bool readable;  // every platform reads it
    } rows[] = {
        {"as written", written, true},
        {"indefinite lengths, one primitive piece", Reencode(written, true, -1), true},
        {"one constructed piece", Reencode(written, true, 0), false},
        {"two constructed pieces", Reencode(written, true, 0, 2), false},
        {"nested 3 deep", Reencode(written, true, 3), false},
        {"nested 5,000 deep", Reencode(written, true, 5000), false},
        {"definite lengths, nested 3 deep", Reencode(written, false, 3), false},
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
            if (row.readable) {
                EXPECT_TRUE(ok) << status.Log();
            }
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
