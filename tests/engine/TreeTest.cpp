// The tree walk of a job and the operation front: dot-folders skipped, every
// file processed once, no output of an output, counting across entries, the
// first failure stopping the rest silently.
#include "EngineFixture.h"
#include "tvCryptIF.h"

using namespace enginetest;
using tvtest::Exists;
using tvtest::MakeDir;
using tvtest::WriteFileBytes;

namespace {

class Tree : public EngineTest {};

TEST_F(Tree, SigningATreeSkipsDotFoldersAndProcessesEveryFileOnce) {
    MakeDir(work / "x");
    MakeDir(work / ".cache");
    WriteFileBytes(work / "top.txt", "top");
    WriteFileBytes(work / "x\\inner.txt", "inner");
    WriteFileBytes(work / ".cache\\hidden.txt", "hidden");
    auto job = NewJob();
    ASSERT_TRUE(job->SignTree(2, work.path().c_str())) << Held();
    EXPECT_TRUE(Exists(work / "top.txt.sgn"));
    EXPECT_TRUE(Exists(work / "x\\inner.txt.sgn"));
    EXPECT_FALSE(Exists(work / ".cache\\hidden.txt.sgn"));
    // Outputs made during the walk may be listed by it: they are passed over.
    EXPECT_FALSE(Exists(work / "top.txt.sgn.sgn"));
    EXPECT_FALSE(Exists(work / "x\\inner.txt.sgn.sgn"));
    int signedFiles = 0;
    for (const std::string& line : status.Updates(1)) {
        std::string file = Field(line, "file");
        EXPECT_EQ(Field(line, "total"), "2");
        if (file == "top.txt" || file == "inner.txt") ++signedFiles;
        EXPECT_NE(file, "hidden.txt");
    }
    EXPECT_EQ(signedFiles, 2) << status.Log();
    EXPECT_EQ(job->kind, static_cast<uint32_t>(OpSign));
    EXPECT_EQ(job->total, 2u);
}

TEST_F(Tree, TheFirstDeclinedFileEndsTheWorkOfTheWalkSilently) {
    WriteFileBytes(work / "a.txt", "a");
    WriteFileBytes(work / "b.txt", "b");
    WriteFileBytes(work / "b.txt.crp", "OLD");
    WriteFileBytes(work / "c.txt", "c");
    auto job = NewJob("exist=2");
    EXPECT_TRUE(job->EncryptTree(3, work.path().c_str()));
    EXPECT_TRUE(Exists(work / "a.txt.crp"));
    EXPECT_EQ(tvtest::ReadFileBytes(work / "b.txt.crp"), "OLD");
    EXPECT_FALSE(Exists(work / "c.txt.crp"));
    EXPECT_EQ(job->cancel, 1);
    EXPECT_TRUE(status.Updates(0).empty()) << status.Log();
    for (const std::string& line : status.Updates(1)) EXPECT_NE(Field(line, "file"), "c.txt");
    // A driver called on a cancelled job does not walk.
    ClearLastError();
    EXPECT_FALSE(job->SignTree(3, work.path().c_str()));
    EXPECT_TRUE(Held().find("Error in directory tree!") == 0);
}

TEST_F(Tree, AnEmptyFolderSucceedsWithoutAnyOperation) {
    MakeDir(work / "empty");
    auto job = NewJob();
    EXPECT_TRUE(job->VerifyTree(1, (work / "empty").c_str()));
    EXPECT_TRUE(status.Calls("Update").empty());
    EXPECT_FALSE(job->PackEnvelopeTree(1, (work / "empty").c_str(), ""));
    EXPECT_FALSE(job->SignTree(1, ""));
}

TEST_F(Tree, CountingOneFileAFolderOfThreeAndOneFileGivesFive) {
    MakeDir(work / "three");
    MakeDir(work / "three\\.git");
    for (const char* name : {"three\\1.txt", "three\\2.txt", "three\\3.txt", "three\\.git\\no.txt",
                             "first.txt", "last.txt"})
        WriteFileBytes(work / name, "n");
    status.Script("");
    TQXCryptIF front;
    ASSERT_TRUE(front.job->IsBound());
    int32_t counted = 0;
    EXPECT_TRUE(front.Count((work / "first.txt").c_str(), &counted));
    EXPECT_TRUE(front.Count((work / "three\\").c_str(), &counted));
    EXPECT_TRUE(front.Count((work / "last.txt").c_str(), &counted));
    EXPECT_EQ(counted, 5);
    EXPECT_EQ(front.job->count, 1);  // the last file counted after the walk reset it
    // "initializing" is shown at the first entry's file and again at the last.
    int initializing = 0;
    for (const std::string& line : status.Updates(3))
        if (Field(line, "op") == "initializing... please wait!") ++initializing;
    EXPECT_EQ(initializing, 4) << status.Log();  // the status line and its repeat, twice

    // A path that names nothing counts as one file: its operation reports it.
    EXPECT_TRUE(front.Count((work / "missing").c_str(), &counted));
    EXPECT_EQ(counted, 6);
}

TEST_F(Tree, TheFrontSendsFoldersToTheDriversAndFilesToTheOperations) {
    MakeDir(work / "data");
    WriteFileBytes(work / "data\\f.txt", "folder file");
    WriteFileBytes(work / "single.txt", "single");
    status.Script("");
    TQXCryptIF front;
    // A folder with a trailing '\' is walked as the folder itself.
    EXPECT_TRUE(front.Sign(2, (work / "data\\").c_str())) << Held();
    EXPECT_TRUE(Exists(work / "data\\f.txt.sgn"));
    EXPECT_TRUE(front.Encrypt(2, (work / "single.txt").c_str())) << Held();
    EXPECT_TRUE(Exists(work / "single.txt.crp"));
    // A file that does not exist goes to the file operation, which shows it.
    EXPECT_FALSE(front.Verify(1, (work / "nothing.sgn").c_str()));
    auto errors = status.Updates(0);
    ASSERT_EQ(errors.size(), 1u) << status.Log();
    EXPECT_TRUE(StartsWith(Field(errors[0], "detail"), "This file '" + work / "nothing.sgn" +
                                                           "' could not be read! - (This file does not exist!)"))
        << errors[0];
    EXPECT_EQ(Held(), "");
    // Empty paths and recipients are refused with nothing held.
    EXPECT_FALSE(front.UnpackEnvelope(1, ""));
    EXPECT_FALSE(front.PackEnvelope(1, (work / "single.txt").c_str(), ""));
    EXPECT_FALSE(front.Sign(1, nullptr));
    EXPECT_EQ(Held(), "");
    // A path longer than 255 characters is refused, never cut.
    std::string tooLong = work.path() + "\\" + std::string(300, 'l');
    EXPECT_FALSE(front.Sign(1, tooLong.c_str()));
    EXPECT_TRUE(front.SetStatusKind(OpSign));
    EXPECT_EQ(Field(status.Updates(3).back(), "op"), "signing data... please wait!");
}

}  // namespace
