// A Cancel pressed while the crypt worker runs: the progress window reports it
// at the update that follows the worker (the stand-in answers that update
// with false). The step's output goes, the source stays, nothing follows.
#include "EngineFixture.h"

using namespace enginetest;
using tvtest::Exists;
using tvtest::ReadFileBytes;
using tvtest::WriteFileBytes;

namespace {

constexpr size_t kWorkerSize = 2100000;  // above the worker threshold

class WorkerCancel : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        body = tvtest::PatternBytes(kWorkerSize, 5);
    }
    // Makes work/name from the plain content through the operations of a
    // quiet job of its own (the plain file is removed afterwards).
    void Prepare(const std::string& name) {
        WriteFileBytes(work / "big.bin", body);
        auto job = NewJob();
        std::string plain = work / "big.bin";
        bool made = true;
        if (name == "big.bin.sgn") made = job->SignFile(1, plain.c_str());
        if (name == "big.bin.crp") made = job->EncryptFile(1, plain.c_str());
        if (name == "big.bin.sme") made = job->PackEnvelopeFile(1, plain.c_str(), "Olivia Own");
        ASSERT_TRUE(made) << Held();
        job.reset();
        if (name != "big.bin") tvtest::RemoveTree(plain);
        ASSERT_TRUE(Exists(work / name));
    }
    std::vector<std::string> FilesOfWork() const { return tvtest::ListNames(work.path(), "*", true); }
    std::string body;
};

struct CancelRow {
    const char* what;
    uint32_t op;
    const char* input;
    int cancelledUpdate;      // the update after the worker that reports Cancel
    size_t signatureLines;    // signature lines sent before the Cancel
};

TEST_F(WorkerCancel, TheStepsOutputGoesTheSourceStaysAndNothingFollows) {
    // Update 1 is the file's progress line; each worker step is followed by one.
    const CancelRow rows[] = {
        {"sign", OpSign, "big.bin", 2, 0},
        {"encrypt", OpEncrypt, "big.bin", 2, 0},
        {"verify", OpVerify, "big.bin.sgn", 2, 0},
        {"decrypt", OpDecrypt, "big.bin.crp", 2, 0},
        {"pack, encryption", OpPackEnvelope, "big.bin", 2, 0},
        {"pack, signature", OpPackEnvelope, "big.bin", 3, 0},
        {"unpack, verification", OpUnpackEnvelope, "big.bin.sme", 2, 0},
        {"unpack, decryption", OpUnpackEnvelope, "big.bin.sme", 4, 1},
    };
    Set("loeschequelldatei", "Yes");
    for (const CancelRow& row : rows) {
        SCOPED_TRACE(row.what);
        Prepare(row.input);
        std::string input = work / row.input;
        std::string before = ReadFileBytes(input);
        WriteFileBytes(work / "next.txt", "the next file");
        auto job = NewJob("update_false=" + std::to_string(row.cancelledUpdate));

        bool ok = false;
        switch (row.op) {
        case OpSign: ok = job->SignFile(2, input.c_str()); break;
        case OpEncrypt: ok = job->EncryptFile(2, input.c_str()); break;
        case OpVerify: ok = job->VerifyFile(2, input.c_str()); break;
        case OpDecrypt: ok = job->DecryptFile(2, input.c_str()); break;
        case OpPackEnvelope: ok = job->PackEnvelopeFile(2, input.c_str(), "Olivia Own"); break;
        case OpUnpackEnvelope: ok = job->UnpackEnvelopeFile(2, input.c_str()); break;
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(job->cancel, 1);
        auto updates = status.Calls("Update");
        ASSERT_EQ(updates.size(), static_cast<size_t>(row.cancelledUpdate)) << status.Log();
        EXPECT_TRUE(Has(updates.back(), "|-> 0")) << status.Log();

        // Only the input is left, unchanged; no signature box, no error entry.
        EXPECT_EQ(FilesOfWork(), (std::vector<std::string>{row.input, "next.txt"}));
        EXPECT_TRUE(ReadFileBytes(input) == before);
        EXPECT_EQ(status.Updates(2).size(), row.signatureLines) << status.Log();
        EXPECT_TRUE(status.Calls("ShowSigInfo").empty()) << status.Log();
        EXPECT_TRUE(status.Updates(0).empty()) << status.Log();

        // The job has ended: its next file is refused without a call.
        size_t calls = Lines(status.Log()).size();
        EXPECT_FALSE(job->SignFile(2, (work / "next.txt").c_str()));
        EXPECT_EQ(Lines(status.Log()).size(), calls);
        job.reset();
        tvtest::RemoveTree(input);
        tvtest::RemoveTree(work / "next.txt");
    }
}

}  // namespace
