// Every file a file operation writes (outputs, intermediates, an empty
// result, on the job's thread and through the crypt worker) gets its name
// only when it is whole: a kill at any moment of writing leaves no incomplete
// file under an output's name. A file that appears at the name while the
// operation writes it is neither replaced nor removed, the file fails with
// "File already exists!", and nothing temporary stays.
#include "EngineFixture.h"
#include "WriteWatch.h"

#include <algorithm>

using namespace enginetest;
using tvtest::Exists;
using tvtest::ReadFileBytes;
using tvtest::WriteFileBytes;
using tvtest::WriteWatch;

namespace {

constexpr size_t kSmall = 1000;
constexpr size_t kWorker = 2100000;  // above the worker threshold

bool SameName(const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) == 0; }

struct OutputRow {
    const char* what;
    uint32_t op;
    const char* input;          // made in the row's folder by Prepare
    size_t size;                // of the plain content
    std::vector<std::string> written;  // every name the operation writes, in order
    const char* result;         // what stays, with the plain content when it is a result
};

const OutputRow kRows[] = {
    {"sign", OpSign, "s.bin", kSmall, {"s.bin.sgn"}, "s.bin.sgn"},
    {"sign, crypt worker", OpSign, "w.bin", kWorker, {"w.bin.sgn"}, "w.bin.sgn"},
    {"encrypt", OpEncrypt, "e.bin", kSmall, {"e.bin.crp"}, "e.bin.crp"},
    {"verify", OpVerify, "v.bin.sgn", kSmall, {"v.bin"}, "v.bin"},
    {"verify, crypt worker", OpVerify, "x.bin.sgn", kWorker, {"x.bin"}, "x.bin"},
    {"decrypt", OpDecrypt, "d.bin.crp", kSmall, {"d.bin"}, "d.bin"},
    {"pack", OpPackEnvelope, "p.bin", kSmall, {"p.bin.crp", "p.bin.sme"}, "p.bin.sme"},
    {"unpack", OpUnpackEnvelope, "u.bin.sme", kSmall, {"u.bin.crp", "u.bin"}, "u.bin"},
    {"verify, empty content", OpVerify, "blank.txt.sgn", 0, {"blank.txt"}, "blank.txt"},
};

class WholeOutputs : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        // The empty message's signer is not in the stores.
        Set("addpubliczert", "No");
    }
    // A folder of the row's own holding its input, made by a quiet job.
    std::string Prepare(const OutputRow& row, int round) {
        std::string folder = work / (std::string(row.input) + "-" + std::to_string(round));
        tvtest::MakeDir(folder);
        std::string input = folder + "\\" + row.input;
        if (row.size == 0) {
            WriteFileBytes(input, ReadFileBytes(tvtest::CertFixture::DataDir() + "\\carol-empty.sgn"));
            return folder;
        }
        std::string plain = input;
        std::string made;
        if (row.op == OpVerify || row.op == OpDecrypt || row.op == OpUnpackEnvelope) {
            plain = input.substr(0, input.size() - 4);
            made = input;
        }
        WriteFileBytes(plain, Content(row));
        if (!made.empty()) {
            auto maker = NewJob();
            bool ok = row.op == OpVerify ? maker->SignFile(1, plain.c_str())
                      : row.op == OpDecrypt ? maker->EncryptFile(1, plain.c_str())
                                            : maker->PackEnvelopeFile(1, plain.c_str(), "Olivia Own");
            EXPECT_TRUE(ok) << Held();
            maker.reset();
            tvtest::RemoveTree(plain);
        }
        EXPECT_TRUE(Exists(input));
        return folder;
    }
    static std::string Content(const OutputRow& row) { return tvtest::PatternBytes(row.size, 7); }
    bool Run(const OutputRow& row, const std::string& folder) {
        auto job = NewJob();
        std::string input = folder + "\\" + row.input;
        switch (row.op) {
        case OpSign: return job->SignFile(1, input.c_str());
        case OpEncrypt: return job->EncryptFile(1, input.c_str());
        case OpVerify: return job->VerifyFile(1, input.c_str());
        case OpDecrypt: return job->DecryptFile(1, input.c_str());
        case OpPackEnvelope: return job->PackEnvelopeFile(1, input.c_str(), "Olivia Own");
        case OpUnpackEnvelope: return job->UnpackEnvelopeFile(1, input.c_str());
        default: return false;
        }
    }
    static std::vector<std::string> Sorted(std::vector<std::string> names) {
        std::sort(names.begin(), names.end(),
                  [](const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) < 0; });
        return names;
    }
    static std::vector<std::string> Files(const std::string& folder) {
        return Sorted(tvtest::ListNames(folder, "*", true));
    }
};

TEST_F(WholeOutputs, NoOutputNameEverHoldsAFileBeingWritten) {
    for (const OutputRow& row : kRows) {
        SCOPED_TRACE(row.what);
        std::string folder = Prepare(row, 1);
        // Each moment of writing is one at which a kill could strike: what is
        // being created or written then must not carry an output's name.
        std::vector<std::string> atNames;
        int creations = 0;
        bool ok = false;
        {
            WriteWatch watch([&](WriteWatch::Event event, const std::string& path) {
                std::string name = tvtest::BaseName(path);
                if (event == WriteWatch::Event::Create && _strnicmp(path.c_str(), folder.c_str(), folder.size()) == 0)
                    ++creations;
                for (const std::string& output : row.written)
                    if (SameName(name, output)) atNames.push_back(name);
            });
            ASSERT_TRUE(watch.ok());
            ok = Run(row, folder);
        }
        EXPECT_TRUE(ok) << Held() << status.Log();
        EXPECT_EQ(creations, static_cast<int>(row.written.size()));
        EXPECT_TRUE(atNames.empty()) << "written under its name: " << atNames[0];
        // Whole at the end, and nothing else beside the input.
        EXPECT_EQ(Files(folder), Sorted({row.input, row.result}));
        if (row.op == OpVerify || row.op == OpDecrypt || row.op == OpUnpackEnvelope) {
            EXPECT_TRUE(ReadFileBytes(folder + "\\" + row.result) == Content(row)) << "the result is whole";
        }
    }
}

TEST_F(WholeOutputs, AFileThatAppearsAtTheNameWhileItIsWrittenStaysAndTheFileFails) {
    int round = 10;
    for (const OutputRow& row : kRows) {
        // The file appears as the operation starts to write each name of its.
        for (size_t which = 0; which < row.written.size(); ++which) {
            const std::string& name = row.written[which];
            SCOPED_TRACE(std::string(row.what) + ", " + name);
            std::string folder = Prepare(row, ++round);
            std::string squatter = folder + "\\" + name;
            size_t creations = 0;
            bool planted = false;
            bool ok = true;
            {
                WriteWatch watch([&](WriteWatch::Event event, const std::string& path) {
                    if (event != WriteWatch::Event::Create ||
                        _strnicmp(path.c_str(), folder.c_str(), folder.size()) != 0 ||
                        creations++ != which)
                        return;
                    planted = !Exists(squatter);
                    if (planted) WriteFileBytes(squatter, "SQUATTER");
                });
                ASSERT_TRUE(watch.ok());
                ok = Run(row, folder);
            }
            EXPECT_TRUE(planted) << "the name was taken before the file appeared";
            EXPECT_FALSE(ok);
            EXPECT_EQ(ReadFileBytes(squatter), "SQUATTER");
            // Nothing temporary and nothing half-made stays; the input is untouched.
            EXPECT_EQ(Files(folder), Sorted({row.input, name}));
            auto errors = status.Updates(0);
            ASSERT_EQ(errors.size(), 1u) << status.Log();
            std::string detail = Field(errors[0], "detail");
            EXPECT_TRUE(Has(detail, "This file '" + squatter +
                                        "' could not be written! - (File already exists!)"))
                << detail;
            EXPECT_EQ(Held(), "");
        }
    }
}

}  // namespace
