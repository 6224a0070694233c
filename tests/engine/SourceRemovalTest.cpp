// Removing a source after its output is made: a source that another program
// holds so that it cannot be deleted is never wiped, and its failed removal
// never costs the new output.
#include "EngineFixture.h"
#include "TestProcess.h"

using namespace enginetest;
using tvtest::Exists;
using tvtest::ReadFileBytes;
using tvtest::WriteFileBytes;

namespace {

class SourceRemoval : public EngineTest {
protected:
    // The content that a protected output gives back, through a crypt object
    // of the test's own; empty when it does not give it back.
    std::string Recovered(uint32_t kind, const std::string& output) {
        TQXCrypt crypt;
        std::string back = work / "recovered";
        std::string middle = work / "recovered.crp";
        CertificateInfo signer{};
        bool ok = false;
        switch (kind) {
        case OpSign: ok = crypt.VerifyFile(output.c_str(), back.c_str(), &signer); break;
        case OpEncrypt: ok = crypt.DecryptFile(Ids().own.c_str(), output.c_str(), back.c_str()); break;
        case OpPackEnvelope:
            ok = crypt.VerifyFile(output.c_str(), middle.c_str(), &signer) &&
                 crypt.DecryptFile(Ids().own.c_str(), middle.c_str(), back.c_str());
            break;
        }
        crypt.FreeCertificate(signer.certificate);
        std::string content = ok ? ReadFileBytes(back) : "";
        tvtest::RemoveTree(back);
        tvtest::RemoveTree(middle);
        ClearLastError();
        return content;
    }
};

struct HeldSourceRow {
    const char* name;
    uint32_t kind;
    const char* extension;
    bool oldOutput;  // an old output is there (replaced after Yes, or unasked for packing)
};

// The source is held open by another program with read and write sharing but
// no delete sharing, and both "loeschequelldatei" and "delsecure" are Yes.
TEST_F(SourceRemoval, ASourceThatCannotBeDeletedKeepsItsContentAndTheNewOutputStays) {
    const HeldSourceRow rows[] = {
        {"sign", OpSign, ".sgn", false},
        {"sign over an old output", OpSign, ".sgn", true},
        {"encrypt", OpEncrypt, ".crp", false},
        {"encrypt over an old output", OpEncrypt, ".crp", true},
        {"pack", OpPackEnvelope, ".sme", false},
        {"pack over an old envelope", OpPackEnvelope, ".sme", true},
    };
    Set("loeschequelldatei", "Yes");
    Set("delsecure", "Yes");
    const std::string content = "the only copy\r\n" + tvtest::PatternBytes(5000, 7);
    for (const HeldSourceRow& row : rows) {
        SCOPED_TRACE(row.name);
        std::string source = work / "s.txt";
        std::string output = source + row.extension;
        WriteFileBytes(source, content);
        SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
        DWORD attributes = GetFileAttributesA(source.c_str());
        if (row.oldOutput) WriteFileBytes(output, "OLD OUTPUT");
        tvtest::HeldByOtherProgram hold(source, FILE_SHARE_READ | FILE_SHARE_WRITE);
        ASSERT_TRUE(hold.holding()) << hold.why();
        auto job = NewJob("exist=0");

        bool ok = row.kind == OpSign      ? job->SignFile(1, source.c_str())
                  : row.kind == OpEncrypt ? job->EncryptFile(1, source.c_str())
                                          : job->PackEnvelopeFile(1, source.c_str(), "Olivia Own");
        EXPECT_FALSE(ok);
        hold.Release();

        // The source is as it was, content and attributes.
        EXPECT_EQ(ReadFileBytes(source), content);
        EXPECT_EQ(GetFileAttributesA(source.c_str()), attributes);
        // The new output is complete and stays; the old one is gone.
        EXPECT_EQ(Recovered(row.kind, output), content);
        // The file has its error entry, naming the source that stayed.
        auto errors = status.Updates(0);
        ASSERT_EQ(errors.size(), 1u) << status.Log();
        std::string detail = Field(errors[0], "detail");
        EXPECT_TRUE(Has(detail, "s.txt' could not be remove!")) << detail;
        // Nothing else is left: no old output aside, no intermediate.
        std::vector<std::string> names = tvtest::ListNames(work.path(), "*", true);
        std::vector<std::string> expected = {"s.txt", std::string("s.txt") + row.extension};
        EXPECT_EQ(names, expected);
        job.reset();
        for (const std::string& name : names) tvtest::RemoveTree(work / name);
    }
}

}  // namespace
