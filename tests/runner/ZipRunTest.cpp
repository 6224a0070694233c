// The runner's road through a job: the drive-root question, the roads that
// never zip, zipping before signing (archive name, source deletion only after
// success, the read-only question per source, an existing archive name) and a
// cancel while zipping.
#include <gtest/gtest.h>

#include "FileAPI.h"
#include "RunnerFixture.h"
#include "StatusRecord.h"
#include "TestProcess.h"

using namespace tvrun;
using tvtest::Exists;
using tvtest::ReadFileBytes;
using tvtest::WriteFileBytes;

namespace {

const char* const kDrive = "R:\\";  // the root of an empty folder of this run

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

class DriveRootTest : public RunnerTest {};

TEST_F(DriveRootTest, QuestionForARootAsFirstEntryOnlyYesGoesOn) {
    ASSERT_TRUE(FileExists(kDrive)) << "test drive R: missing";
    struct Row {
        int answer;
        bool goesOn;
    } rows[] = {{IDYES, true}, {IDNO, false}, {IDCANCEL, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer);
        std::string file = std::string(kDrive) + tvtest::UniqueName("root_") + ".txt";
        WriteFileBytes(file, "on the drive");
        boxes.Clear();
        boxes.Script({row.answer});
        Script("");

        bool ok = RunJob(OpSign, {kDrive, work->path()});

        std::vector<SeenBox> seen = boxes.Seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].caption, "Tarvisto 2.11 - Warning!");
        EXPECT_EQ(seen[0].text, "Do you really want to execute this operation on drive 'R:\\'?");
        EXPECT_TRUE(seen[0].ownerInProcess);
        EXPECT_EQ(ok, row.goesOn);
        EXPECT_EQ(Exists(file + ".sgn"), row.goesOn);
        // A refused question ends the run before anything is counted.
        if (!row.goesOn) {
            EXPECT_TRUE(LogLines("Update").empty()) << StatusLog();
        }
        tvtest::RemoveTree(file);
        tvtest::RemoveTree(file + ".sgn");
    }
}

TEST_F(DriveRootTest, RootFurtherDownTheListIsNotAskedAbout) {
    ASSERT_TRUE(FileExists(kDrive)) << "test drive R: missing";
    std::string first = *work / "first.txt";
    WriteFileBytes(first, "first");
    std::string onDrive = std::string(kDrive) + tvtest::UniqueName("later_") + ".txt";
    WriteFileBytes(onDrive, "later");

    EXPECT_TRUE(RunJob(OpSign, {first, kDrive}));

    EXPECT_TRUE(boxes.Seen().empty());
    EXPECT_TRUE(Exists(first + ".sgn"));
    EXPECT_TRUE(Exists(onDrive + ".sgn"));
    tvtest::RemoveTree(onDrive);
    tvtest::RemoveTree(onDrive + ".sgn");
}

class ZipFirstTest : public RunnerTest {
protected:
    // work\data with a.txt and b.txt.
    std::vector<std::string> TwoFiles() {
        tvtest::MakeDir(*work / "data");
        WriteFileBytes(*work / "data\\a.txt", "alpha");
        WriteFileBytes(*work / "data\\b.txt", "bravo");
        return {*work / "data\\a.txt", *work / "data\\b.txt"};
    }
};

TEST_F(ZipFirstTest, VerifyDecryptAndUnpackNeverZip) {
    struct Row {
        uint32_t protect;
        uint32_t op;
        const char* extension;
    } rows[] = {{OpSign, OpVerify, ".sgn"}, {OpEncrypt, OpDecrypt, ".crp"},
                {OpPackEnvelope, OpUnpackEnvelope, ".sme"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.extension);
        std::vector<std::string> plain = TwoFiles();
        std::vector<std::string> inputs;
        for (const std::string& p : plain) {
            ASSERT_TRUE(Protect(row.protect, p, kOwnName));
            tvtest::RemoveTree(p);
            inputs.push_back(p + row.extension);
        }
        Set("zipfile", "Yes");
        Script("saveas=" + *work / "data.zip");

        EXPECT_TRUE(RunJob(row.op, inputs));

        EXPECT_TRUE(LogLines("AskFileSaveAs").empty());
        EXPECT_FALSE(Exists(*work / "data.zip"));
        EXPECT_EQ(ReadFileBytes(plain[0]), "alpha");
        EXPECT_EQ(ReadFileBytes(plain[1]), "bravo");
        Set("zipfile", "No");
        tvtest::RemoveTree(*work / "data");
    }
}

TEST_F(ZipFirstTest, SignZipsTwoFilesIntoTheFolderArchiveAndDeletesSourcesOnlyWhenAsked) {
    for (bool deleteSources : {false, true}) {
        SCOPED_TRACE(deleteSources);
        std::vector<std::string> files = TwoFiles();
        std::string archive = *work / "data.zip";
        Set("zipfile", "Yes");
        Set("loeschequelldatei", deleteSources ? "Yes" : "No");
        Script("saveas=" + archive);

        EXPECT_TRUE(RunJob(OpSign, files));

        std::vector<std::string> asked = LogLines("AskFileSaveAs");
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_TRUE(Has(asked[0], "|path=" + archive + "|-> 1")) << asked[0];
        EXPECT_TRUE(Exists(archive + ".sgn"));
        EXPECT_FALSE(Exists(archive));
        EXPECT_EQ(Exists(files[0]), !deleteSources);
        EXPECT_EQ(Exists(files[1]), !deleteSources);
        // The folder itself is not a source (only its files were selected).
        EXPECT_TRUE(Exists(*work / "data"));

        // The signed archive gives the files back: verify and unzip.
        Set("zipfile", "No");
        Set("loeschequelldatei", "No");
        Set("unzipfile", "Yes");
        tvtest::MakeDir(*work / "out");
        Script("selectdir=" + *work / "out");
        EXPECT_TRUE(RunJob(OpVerify, {archive + ".sgn"}));
        EXPECT_EQ(ReadFileBytes(*work / "out\\a.txt"), "alpha");
        EXPECT_EQ(ReadFileBytes(*work / "out\\b.txt"), "bravo");
        EXPECT_FALSE(Exists(archive));
        Set("unzipfile", "No");
        tvtest::RemoveTree(*work / "out");
        tvtest::RemoveTree(*work / "data");
        tvtest::RemoveTree(archive + ".sgn");
    }
}

TEST_F(ZipFirstTest, FailedSigningOfTheArchiveDeletesNoSource) {
    std::vector<std::string> files = TwoFiles();
    Set("zipfile", "Yes");
    Set("loeschequelldatei", "Yes");
    SetOwnCertificate("Nobody Known Here");
    Script("saveas=" + *work / "data.zip");

    EXPECT_FALSE(RunJob(OpSign, files));

    EXPECT_EQ(ReadFileBytes(files[0]), "alpha");
    EXPECT_EQ(ReadFileBytes(files[1]), "bravo");
    EXPECT_FALSE(Exists(*work / "data.zip.sgn"));
}

TEST_F(ZipFirstTest, ReadOnlyQuestionLooksAtEachSourceItself) {
    std::vector<std::string> files = TwoFiles();
    SetFileAttributesA(files[1].c_str(), FILE_ATTRIBUTE_READONLY);
    Set("zipfile", "Yes");
    Set("loeschequelldatei", "Yes");
    Script("saveas=" + *work / "data.zip" + ";readonly=2");

    EXPECT_TRUE(RunJob(OpSign, files));

    std::vector<std::string> asked = LogLines("AskReadOnly");
    ASSERT_EQ(asked.size(), 1u) << StatusLog();
    EXPECT_TRUE(Has(asked[0], "file=b.txt")) << asked[0];
    EXPECT_FALSE(Exists(files[0]));
    EXPECT_EQ(ReadFileBytes(files[1]), "bravo");
    EXPECT_TRUE(Exists(*work / "data.zip.sgn"));
    SetFileAttributesA(files[1].c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(ZipFirstTest, ArchiveNameGetsZipAppendedUnlessItEndsInZip) {
    struct Row {
        const char* chosen;
        const char* written;
    } rows[] = {{"packed", "packed.zip.sgn"}, {"Packed.ZIP", "Packed.ZIP.sgn"},
                {"packed.txt", "packed.txt.zip.sgn"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.chosen);
        std::vector<std::string> files = TwoFiles();
        Set("zipfile", "Yes");
        Script("saveas=" + *work / row.chosen);
        EXPECT_TRUE(RunJob(OpSign, files));
        EXPECT_TRUE(Exists(*work / row.written));
        tvtest::RemoveTree(*work / row.written);
        tvtest::RemoveTree(*work / "data");
    }
}

TEST_F(ZipFirstTest, ExistingArchiveIsReplacedOnlyAfterTheOverwriteQuestion) {
    struct Row {
        int answer;
        bool goesOn;
    } rows[] = {{AnswerNo, false}, {AnswerYes, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer);
        std::vector<std::string> files = TwoFiles();
        std::string archive = *work / "old.zip";
        WriteFileBytes(archive, "an older file of the user");
        Set("zipfile", "Yes");
        Set("loeschequelldatei", "Yes");
        Script("saveas=" + *work / "old;exist=" + std::to_string(row.answer));

        EXPECT_EQ(RunJob(OpSign, files), row.goesOn);

        std::vector<std::string> asked = LogLines("AskFileExist");
        ASSERT_FALSE(asked.empty());
        EXPECT_TRUE(Has(asked[0], "file=old.zip")) << asked[0];
        EXPECT_TRUE(boxes.Seen().empty());
        if (row.goesOn) {
            EXPECT_TRUE(Exists(archive + ".sgn"));
            EXPECT_FALSE(Exists(archive));
            EXPECT_FALSE(Exists(files[0]));
        } else {
            EXPECT_EQ(ReadFileBytes(archive), "an older file of the user");
            EXPECT_FALSE(Exists(archive + ".sgn"));
            EXPECT_EQ(ReadFileBytes(files[0]), "alpha");
            EXPECT_EQ(ReadFileBytes(files[1]), "bravo");
        }
        tvtest::RemoveTree(archive);
        tvtest::RemoveTree(archive + ".sgn");
        tvtest::RemoveTree(*work / "data");
    }
}

// The archive's name is never a selected file's, neither the name in the
// temporary folder nor a chosen one the user agrees to replace: moved aside,
// the file would be left out of the archive and removed as an old one.
TEST_F(ZipFirstTest, ASelectedFileIsNeverTakenForTheArchive) {
    struct Row {
        const char* road;
        uint32_t op;
        bool viaMail;  // the archive is made in the temporary folder unasked
    } rows[] = {{"envelope for mailing", OpPackEnvelope, true},
                {"signed, name chosen", OpSign, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.road);
        std::string data = row.viaMail ? TempFolder() + "\\" + tvtest::UniqueName("sel_")
                                       : *work / "data";
        std::string archive = data + ".zip";  // what the selection proposes
        tvtest::MakeDir(data);
        WriteFileBytes(data + "\\a.txt", "alpha");
        WriteFileBytes(archive, "selected as well");
        Set("zipfile", "Yes");
        Set("smeviaemail", row.viaMail ? "Yes" : "No");
        boxes.Clear();
        Script("saveas=" + archive + ";exist=" + std::to_string(AnswerYes));

        EXPECT_FALSE(RunJob(row.op, {data + "\\a.txt", archive}, kRecipientName));

        std::vector<SeenBox> seen = boxes.Seen();
        EXPECT_EQ(seen.size(), 1u);
        if (!seen.empty()) {
            EXPECT_EQ(seen[0].text,
                      "This file '" + archive + "' could not be written! - (File already exists!)");
            EXPECT_EQ(seen[0].caption, "Tarvisto 2.11 - Error!");
        }
        EXPECT_TRUE(LogLines("AskFileExist").empty());
        EXPECT_EQ(ReadFileBytes(archive), "selected as well");
        EXPECT_EQ(ReadFileBytes(data + "\\a.txt"), "alpha");
        EXPECT_FALSE(Exists(archive + ".sme"));
        EXPECT_FALSE(Exists(archive + ".sgn"));
        std::string parent = data.substr(0, data.rfind('\\'));
        EXPECT_TRUE(tvtest::ListNames(parent, "~tv*").empty());
        tvtest::RemoveTree(archive);
        tvtest::RemoveTree(data);
    }
}

TEST_F(ZipFirstTest, CancelWhileZippingLeavesEverySourceAndNoArchive) {
    // A folder tree with an empty subfolder; sources would be deleted.
    std::string data = *work / "data";
    tvtest::MakeDir(data + "\\sub");
    tvtest::MakeDir(data + "\\empty");
    WriteFileBytes(data + "\\a.txt", "alpha");
    WriteFileBytes(data + "\\b.txt", "bravo");
    WriteFileBytes(data + "\\sub\\c.txt", "charlie");
    std::string archive = *work / "data.zip";
    Set("zipfile", "Yes");
    Set("loeschequelldatei", "Yes");

    // A first run refused at the save-as question tells how many updates come
    // before zipping; the second file's progress is then answered with Cancel.
    Script("");
    EXPECT_FALSE(RunJob(OpSign, {data}));
    size_t before = LogLines("Update").size();
    ASSERT_GT(before, 0u);
    Script("saveas=" + archive + ";update_false=" + std::to_string(before + 2));

    EXPECT_FALSE(RunJob(OpSign, {data}));

    std::vector<std::string> updates = LogLines("Update");
    ASSERT_GE(updates.size(), before + 2);
    EXPECT_TRUE(Has(updates[before + 1], "op=compressing data... please wait!")) << StatusLog();
    EXPECT_TRUE(Has(updates[before + 1], "|-> 0"));
    EXPECT_EQ(ReadFileBytes(data + "\\a.txt"), "alpha");
    EXPECT_EQ(ReadFileBytes(data + "\\b.txt"), "bravo");
    EXPECT_EQ(ReadFileBytes(data + "\\sub\\c.txt"), "charlie");
    EXPECT_TRUE(IsDirectory((data + "\\empty").c_str()));
    EXPECT_FALSE(Exists(archive));
    EXPECT_FALSE(Exists(archive + ".sgn"));
}

TEST_F(ZipFirstTest, DeletingSourcesOfAFolderRemovesItsTreeAfterSuccess) {
    std::string data = *work / "data";
    tvtest::MakeDir(data + "\\sub");
    tvtest::MakeDir(data + "\\.hidden");
    WriteFileBytes(data + "\\a.txt", "alpha");
    WriteFileBytes(data + "\\sub\\c.txt", "charlie");
    WriteFileBytes(data + "\\.hidden\\d.txt", "not packed");
    Set("zipfile", "Yes");
    Set("loeschequelldatei", "Yes");
    Script("saveas=" + *work / "data.zip");

    EXPECT_TRUE(RunJob(OpSign, {data}));

    EXPECT_TRUE(Exists(*work / "data.zip.sgn"));
    EXPECT_FALSE(Exists(data + "\\a.txt"));
    EXPECT_FALSE(Exists(data + "\\sub"));
    // A folder whose name begins with a dot was not packed: it stays, and so
    // does the folder holding it.
    EXPECT_EQ(ReadFileBytes(data + "\\.hidden\\d.txt"), "not packed");
}

TEST_F(ZipFirstTest, APackedSourceThatCannotBeDeletedIsNeverWiped) {
    // Another program holds b.txt with read and write sharing but no delete
    // sharing: it is packed, but it cannot go, so it keeps its content.
    std::vector<std::string> files = TwoFiles();
    tvtest::HeldByOtherProgram hold(files[1], FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(hold.holding()) << hold.why();
    Set("zipfile", "Yes");
    Set("loeschequelldatei", "Yes");
    Set("delsecure", "Yes");
    Script("saveas=" + *work / "data.zip");

    EXPECT_TRUE(RunJob(OpSign, files));
    hold.Release();

    EXPECT_TRUE(Exists(*work / "data.zip.sgn"));
    EXPECT_FALSE(Exists(*work / "data.zip"));
    EXPECT_FALSE(Exists(files[0]));
    EXPECT_EQ(ReadFileBytes(files[1]), "bravo");
}

class MessageOwnerTest : public RunnerTest {};

TEST_F(MessageOwnerTest, BoxesAreNeverOwnedByAnotherProcesssWindow) {
    // Another process shows a window of the progress window's class, and this
    // job has no progress window of its own: the desktop-wide search finds the
    // foreign one.
    std::string exe = ExeDir() + "\\tv_foreignwindow.exe";
    std::string commandLine = "\"" + exe + "\" 30000";
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &child));
    HWND foreign = nullptr;
    for (int i = 0; i < 200 && !foreign; ++i) {
        HWND w = FindWindowA("TQXProgress", nullptr);
        DWORD process = 0;
        if (w) GetWindowThreadProcessId(w, &process);
        if (process == child.dwProcessId) foreign = w;
        else Sleep(50);
    }
    ASSERT_NE(foreign, nullptr);
    Script("window=0");
    std::string file = *work / "a.txt";
    WriteFileBytes(file, "alpha");

    EXPECT_FALSE(RunJob(OpPackEnvelope, {file}, ""));

    std::vector<SeenBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "Internal Error! - (Invalid Arguments)");
    EXPECT_TRUE(seen[0].ownerInProcess);
    PostMessageA(foreign, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(child.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(child.hProcess, 0);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
}
