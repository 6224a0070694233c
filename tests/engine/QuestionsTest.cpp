// The overwrite and read-only questions: every answer, the kept "all"
// answers, Cancel stopping the job, No suppressing the error entry, and the
// old output that survives a failed operation after a Yes.
#include "EngineFixture.h"

using namespace enginetest;
using tvtest::Exists;
using tvtest::ReadFileBytes;
using tvtest::WriteFileBytes;

namespace {

class Questions : public EngineTest {
protected:
    // Two inputs whose outputs exist already.
    void MakeInputsWithOutputs() {
        for (const char* name : {"a.txt", "b.txt"}) {
            WriteFileBytes(work / name, std::string("new ") + name);
            WriteFileBytes(work / (std::string(name) + ".sgn"), "OLD");
        }
    }
    int AsideFiles() { return static_cast<int>(tvtest::ListNames(work.path(), "~tv*").size()); }
};

struct OverwriteRow {
    int answer;
    bool firstResult;    // the first file is signed
    bool secondAsked;    // the second file is asked again
    bool secondResult;   // the second file is signed (its question answered Yes when asked)
    uint8_t cancel;      // the job is cancelled after the first file
};

TEST_F(Questions, EachAnswerOfTheOverwriteQuestion) {
    const OverwriteRow rows[] = {
        {AnswerYes, true, true, true, 0},
        {AnswerYesAll, true, false, true, 0},
        {AnswerNo, false, true, true, 0},
        {AnswerNoAll, false, false, false, 0},
        {AnswerCancel, false, false, false, 1},
    };
    for (const OverwriteRow& row : rows) {
        SCOPED_TRACE("answer " + std::to_string(row.answer));
        MakeInputsWithOutputs();
        auto job = NewJob("exist=" + std::to_string(row.answer) + ",0");
        EXPECT_EQ(job->SignFile(2, (work / "a.txt").c_str()), row.firstResult);
        EXPECT_EQ(job->cancel, row.cancel);
        EXPECT_EQ(job->skip, row.cancel);  // consumed by the error step unless cancelled
        EXPECT_EQ(ReadFileBytes(work / "a.txt.sgn") == "OLD", !row.firstResult);
        size_t asked = status.Calls("AskFileExist").size();
        EXPECT_EQ(job->SignFile(2, (work / "b.txt").c_str()), row.secondResult);
        EXPECT_EQ(status.Calls("AskFileExist").size() - asked, row.secondAsked ? 1u : 0u) << status.Log();
        EXPECT_EQ(ReadFileBytes(work / "b.txt.sgn") == "OLD", !row.secondResult);
        // A declined or cancelled file never gets an error entry.
        EXPECT_TRUE(status.Updates(0).empty()) << status.Log();
        if (row.cancel) {
            // The cancelled job refuses the second file without a single call.
            EXPECT_EQ(status.Updates(1).size(), 1u);
        }
        auto questions = status.Calls("AskFileExist");
        ASSERT_FALSE(questions.empty());
        EXPECT_EQ(Field(questions[0], "file"), "a.txt.sgn");
        EXPECT_EQ(Field(questions[0], "done"), "signed");
        EXPECT_EQ(AsideFiles(), 0);
        job.reset();
        tvtest::RemoveTree(work / "a.txt.sgn");
        tvtest::RemoveTree(work / "b.txt.sgn");
    }
}

TEST_F(Questions, EachAnswerOfTheReadOnlyQuestion) {
    const OverwriteRow rows[] = {
        {AnswerYes, true, true, true, 0},
        {AnswerYesAll, true, false, true, 0},
        {AnswerNo, false, true, true, 0},
        {AnswerNoAll, false, false, false, 0},
        {AnswerCancel, false, false, false, 1},
    };
    for (const OverwriteRow& row : rows) {
        SCOPED_TRACE("answer " + std::to_string(row.answer));
        for (const char* name : {"r1.txt", "r2.txt"}) {
            WriteFileBytes(work / name, "protected");
            SetFileAttributesA((work / name).c_str(), FILE_ATTRIBUTE_READONLY);
        }
        auto job = NewJob("readonly=" + std::to_string(row.answer) + ",0");
        EXPECT_EQ(job->EncryptFile(2, (work / "r1.txt").c_str()), row.firstResult);
        EXPECT_EQ(job->cancel, row.cancel);
        DWORD attributes = GetFileAttributesA((work / "r1.txt").c_str());
        EXPECT_EQ((attributes & FILE_ATTRIBUTE_READONLY) != 0, !row.firstResult);
        EXPECT_EQ(Exists(work / "r1.txt.crp"), row.firstResult);
        size_t asked = status.Calls("AskReadOnly").size();
        EXPECT_EQ(job->EncryptFile(2, (work / "r2.txt").c_str()), row.secondResult);
        EXPECT_EQ(status.Calls("AskReadOnly").size() - asked, row.secondAsked ? 1u : 0u) << status.Log();
        EXPECT_EQ(Exists(work / "r2.txt.crp"), row.secondResult);
        EXPECT_TRUE(status.Updates(0).empty()) << status.Log();
        auto questions = status.Calls("AskReadOnly");
        ASSERT_FALSE(questions.empty());
        EXPECT_EQ(Field(questions[0], "file"), "r1.txt");
        EXPECT_EQ(Field(questions[0], "done"), "encrypted");
        job.reset();
        for (const char* name : {"r1.txt", "r2.txt", "r1.txt.crp", "r2.txt.crp"})
            tvtest::RemoveTree(work / name);
    }
}

TEST_F(Questions, CancelInTheErrorEntryStopsEveryLaterFileSilently) {
    ownCerts->SetString(CurrentUser(), "Nobody Known");
    ownCerts->SetString("DefUsr", "Nobody Known");
    auto job = NewJob("error_false=1");
    WriteFileBytes(work / "c1.txt", "one");
    WriteFileBytes(work / "c2.txt", "two");
    EXPECT_FALSE(job->SignFile(2, (work / "c1.txt").c_str()));
    EXPECT_EQ(job->cancel, 1);
    size_t calls = Lines(status.Log()).size();
    EXPECT_FALSE(job->SignFile(2, (work / "c2.txt").c_str()));
    EXPECT_EQ(Lines(status.Log()).size(), calls) << status.Log();
}

TEST_F(Questions, TheOldOutputSurvivesAFailedOperationAfterYes) {
    // The own certificate cannot be found: the operation fails after the
    // question was answered Yes.
    ownCerts->SetString(CurrentUser(), "Nobody Known");
    ownCerts->SetString("DefUsr", "Nobody Known");
    WriteFileBytes(work / "s.txt", "new content");
    WriteFileBytes(work / "s.txt.sgn", "OLD SIGNATURE");
    SetFileAttributesA((work / "s.txt.sgn").c_str(), FILE_ATTRIBUTE_READONLY);
    auto job = NewJob("exist=0");
    EXPECT_FALSE(job->SignFile(1, (work / "s.txt").c_str()));
    ASSERT_EQ(status.Calls("AskFileExist").size(), 1u);
    EXPECT_EQ(ReadFileBytes(work / "s.txt.sgn"), "OLD SIGNATURE");
    EXPECT_NE(GetFileAttributesA((work / "s.txt.sgn").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(AsideFiles(), 0);
    EXPECT_EQ(status.Updates(0).size(), 1u);

    // After a success the old output is gone for good and nothing is left aside.
    ownCerts->SetString(CurrentUser(), "Olivia Own");
    ownCerts->SetString("DefUsr", "Olivia Own");
    status.Script("exist=0");
    EXPECT_TRUE(job->SignFile(1, (work / "s.txt").c_str())) << Held();
    EXPECT_NE(ReadFileBytes(work / "s.txt.sgn"), "OLD SIGNATURE");
    EXPECT_EQ(AsideFiles(), 0);
}

TEST_F(Questions, PackingAsksNothingKeepsTheUsersIntermediateAndReplacesAnOldEnvelope) {
    WriteFileBytes(work / "x", "packed content");
    WriteFileBytes(work / "x.crp", "OLD CRP");
    WriteFileBytes(work / "x.sme", "OLD SME");
    auto job = NewJob("exist=0");
    ASSERT_TRUE(job->PackEnvelopeFile(1, (work / "x").c_str(), "Olivia Own")) << Held();
    EXPECT_TRUE(status.Calls("AskFileExist").empty()) << status.Log();
    EXPECT_EQ(ReadFileBytes(work / "x.crp"), "OLD CRP");
    EXPECT_NE(ReadFileBytes(work / "x.sme"), "OLD SME");
    EXPECT_EQ(AsideFiles(), 0);
}

TEST_F(Questions, DecryptWithoutOwnStoreFailsBeforeAskingAndKeepsTheOldOutput) {
    WriteFileBytes(work / "d.txt", "secret");
    auto job = NewJob();
    ASSERT_TRUE(job->EncryptFile(1, (work / "d.txt").c_str())) << Held();
    WriteFileBytes(work / "d.txt", "OLD PLAIN");
    settings->Remove("ownstore");
    status.Script("exist=0");
    EXPECT_FALSE(job->DecryptFile(1, (work / "d.txt.crp").c_str()));
    EXPECT_TRUE(status.Calls("AskFileExist").empty()) << status.Log();
    EXPECT_EQ(ReadFileBytes(work / "d.txt"), "OLD PLAIN");
    auto errors = status.Updates(0);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(StartsWith(Field(errors[0], "detail"), "This registry entry could not be read!"))
        << errors[0];
}

TEST_F(Questions, AnUnboundLibraryAnswersCancel) {
    auto job = NewJob();
    ASSERT_TRUE(job->IsBound());
    job->CloseStatusWindow();
    EXPECT_EQ(job->AskFileExist(), AnswerCancel);
    EXPECT_EQ(job->AskReadOnly(), AnswerCancel);
    EXPECT_EQ(job->AskFileSaveAs(), nullptr);
    EXPECT_EQ(job->AskSelectDir(), nullptr);
    EXPECT_FALSE(job->UpdateStatus(&job->status));
    EXPECT_EQ(job->cancel, 1);
}

}  // namespace

namespace {

// An output that exists but cannot be opened for reading still counts as
// existing: it is asked about, and a Yes that cannot move it fails the file
// with the held file untouched.
TEST_F(Questions, AnUnreadableOutputIsAskedAbout) {
    WriteFileBytes(work / "u.txt", "input");
    WriteFileBytes(work / "u.txt.sgn", "HELD");
    HANDLE hold = CreateFileA((work / "u.txt.sgn").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    auto job = NewJob("exist=0");
    EXPECT_FALSE(job->SignFile(1, (work / "u.txt").c_str()));
    CloseHandle(hold);
    EXPECT_EQ(status.Calls("AskFileExist").size(), 1u) << status.Log();
    EXPECT_EQ(ReadFileBytes(work / "u.txt.sgn"), "HELD");
    EXPECT_EQ(status.Updates(0).size(), 1u);
    EXPECT_EQ(AsideFiles(), 0);
}

}  // namespace
