// What becomes of a verified, decrypted or unpacked result: viewed from a
// temporary copy with a scripted test viewer (and protected again after an
// edit), or an archive result unzipped into a folder the user picks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "FileAPI.h"
#include "RunnerFixture.h"
#include "StatusRecord.h"
#include "qxcpr32.h"

using namespace tvrun;
using tvtest::Exists;
using tvtest::ReadFileBytes;
using tvtest::WriteFileBytes;

namespace {

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(tolower(c)); });
    return text;
}

// The names in a folder (files and folders, without "." and "..").
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names = tvtest::ListNames(folder);
    std::sort(names.begin(), names.end());
    return names;
}

// A zip archive written directly through qxcpr32, entry names as given.
bool MakeZip(const std::string& path,
             const std::vector<std::pair<std::string, std::string>>& entries) {
    zipFile zip = zipOpen(path.c_str(), 0, nullptr);
    if (!zip) return false;
    bool ok = true;
    for (const auto& entry : entries) {
        zip_fileinfo info{};
        info.dosDate = 0x58210000;  // 2024-01-01 00:00
        ok = ok &&
             zipOpenNewFileInZip(zip, entry.first.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                 QX_DEFLATED, -1) == 0 &&
             zipWriteInFileInZip(zip, entry.second.data(),
                                 static_cast<unsigned>(entry.second.size())) >= 0 &&
             zipCloseFileInZip(zip) == 0;
    }
    return zipClose(zip, nullptr) == 0 && ok;
}

struct Road {
    uint32_t protect;
    uint32_t op;
    const char* extension;
};
const Road kRoads[] = {{OpSign, OpVerify, ".sgn"},
                       {OpEncrypt, OpDecrypt, ".crp"},
                       {OpPackEnvelope, OpUnpackEnvelope, ".sme"}};

class ViewTest : public RunnerTest {
protected:
    void SetUp() override {
        RunnerTest::SetUp();
        viewerLog = *work / "viewer-log.txt";
        SetEnvironmentVariableA("TV_VIEWER_LOG", viewerLog.c_str());
        viewerType.reset(new tvtest::ScopedFileType(
            ".tvv", "TarvistoTestViewer", "\"" + ExeDir() + "\\tv_testviewer.exe\" \"%1\""));
        ASSERT_TRUE(viewerType->ok());
        viewCopy = TempFolder() + "\\doc.tvv";
    }
    void TearDown() override {
        SetEnvironmentVariableA("TV_VIEWER_LOG", nullptr);
        SetEnvironmentVariableA("TV_VIEWER_MODE", nullptr);
        tvtest::RemoveTree(viewCopy);
        viewerType.reset();
        RunnerTest::TearDown();
    }
    // work\doc.tvv protected by the road; the plain file removed. Returns the input.
    std::string ProtectedDocument(const Road& road) {
        std::string plain = *work / "doc.tvv";
        WriteFileBytes(plain, "original text");
        EXPECT_TRUE(Protect(road.protect, plain, kOwnName));
        tvtest::RemoveTree(plain);
        return plain + road.extension;
    }
    std::string viewerLog;
    std::string viewCopy;
    std::unique_ptr<tvtest::ScopedFileType> viewerType;
};

}  // namespace

TEST_F(ViewTest, OpenOnlyShowsACopyAndProtectsAChangedCopyAgain) {
    for (const Road& road : kRoads) {
        for (bool change : {false, true}) {
            SCOPED_TRACE(std::string(road.extension) + (change ? " changed" : " kept"));
            std::string input = ProtectedDocument(road);
            std::string before = ReadFileBytes(input);
            Set("openfilesonly", "Yes");
            Set("openfilessave", "No");
            SetEnvironmentVariableA("TV_VIEWER_MODE", change ? "change" : "keep");
            boxes.Clear();
            boxes.Script({IDYES});
            Script("");

            EXPECT_TRUE(RunJob(road.op, {input}));

            // The viewer saw the content in a copy in the temporary folder.
            std::string seen = ReadFileBytes(viewerLog);
            EXPECT_EQ(Lower(seen), Lower(viewCopy + "|original text\n"));
            EXPECT_FALSE(Exists(viewCopy));
            EXPECT_FALSE(Exists(*work / "doc.tvv"));
            // Nothing else is left beside the input.
            EXPECT_EQ(Names(work->path()),
                      (std::vector<std::string>{std::string("doc.tvv") + road.extension,
                                                "viewer-log.txt"}));
            std::vector<SeenBox> boxesSeen = boxes.Seen();
            if (change && road.op == OpUnpackEnvelope) {
                ASSERT_EQ(boxesSeen.size(), 1u);
                EXPECT_EQ(boxesSeen[0].text,
                          "This Operation maybe overwrites an existing signature! Continue?");
                EXPECT_EQ(boxesSeen[0].caption, "Tarvisto Version 2.11");
                EXPECT_TRUE(boxesSeen[0].ownerInProcess);
            } else {
                EXPECT_TRUE(boxesSeen.empty());
            }

            if (!change) {
                EXPECT_EQ(ReadFileBytes(input), before);
            } else {
                EXPECT_NE(ReadFileBytes(input), before);
                // The new input holds the changed content.
                Set("openfilesonly", "No");
                Set("openfilessave", "Yes");
                Script("");
                EXPECT_TRUE(RunJob(road.op, {input}));
                EXPECT_EQ(ReadFileBytes(*work / "doc.tvv"), "changed by the viewer");
            }
            tvtest::RemoveTree(*work / "doc.tvv");
            tvtest::RemoveTree(input);
            tvtest::RemoveTree(viewerLog);
        }
    }
}

TEST_F(ViewTest, FailedProtectionKeepsTheOriginalAndTheEditedCopy) {
    for (const Road& road : {kRoads[0], kRoads[1]}) {
        SCOPED_TRACE(road.extension);
        std::string input = ProtectedDocument(road);
        std::string before = ReadFileBytes(input);
        Set("openfilesonly", "Yes");
        Set("openfilessave", "No");
        SetEnvironmentVariableA("TV_VIEWER_MODE", "change");
        // Verifying and decrypting need no own subject; protecting again does.
        SetOwnCertificate("Nobody Known Here");
        Script("");

        EXPECT_FALSE(RunJob(road.op, {input}));

        EXPECT_EQ(ReadFileBytes(input), before);
        EXPECT_EQ(ReadFileBytes(viewCopy), "changed by the viewer");
        bool named = false;
        for (const std::string& line : LogLines("Update"))
            if (Has(line, "|kind=0|") && Has(line, viewCopy)) named = true;
        EXPECT_TRUE(named) << StatusLog();
        EXPECT_EQ(Names(work->path()),
                  (std::vector<std::string>{std::string("doc.tvv") + road.extension,
                                            "viewer-log.txt"}));
        SetOwnCertificate(kOwnName);
        tvtest::RemoveTree(viewCopy);
        tvtest::RemoveTree(input);
        tvtest::RemoveTree(viewerLog);
    }
}

TEST_F(ViewTest, SeveralFilesAreNeverViewed) {
    std::string first = ProtectedDocument(kRoads[0]);
    WriteFileBytes(*work / "two.tvv", "second");
    ASSERT_TRUE(Protect(OpSign, *work / "two.tvv"));
    tvtest::RemoveTree(*work / "two.tvv");
    Set("openfilesonly", "Yes");
    Set("openfilessave", "No");
    SetEnvironmentVariableA("TV_VIEWER_MODE", "keep");
    Script("");

    EXPECT_TRUE(RunJob(OpVerify, {first, *work / "two.tvv.sgn"}));

    EXPECT_FALSE(Exists(viewerLog));
    EXPECT_EQ(ReadFileBytes(*work / "doc.tvv"), "original text");
    EXPECT_EQ(ReadFileBytes(*work / "two.tvv"), "second");
}

// A copy left from an earlier viewing that is still held by a program (which
// lets others read and write it but not remove it) is never written over:
// the result is not shown, and the file fails and says why.
TEST_F(ViewTest, AStaleCopyThatCannotBeRemovedIsNeverWrittenOver) {
    std::string input = ProtectedDocument(kRoads[0]);
    std::string before = ReadFileBytes(input);
    WriteFileBytes(viewCopy, "STALE COPY");
    HANDLE holder = CreateFileA(viewCopy.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    Set("openfilesonly", "Yes");
    Set("openfilessave", "No");
    SetEnvironmentVariableA("TV_VIEWER_MODE", "keep");
    Script("");

    bool ok = RunJob(OpVerify, {input});
    CloseHandle(holder);

    EXPECT_FALSE(ok);
    EXPECT_EQ(ReadFileBytes(viewCopy), "STALE COPY");
    EXPECT_FALSE(Exists(viewerLog));
    EXPECT_EQ(ReadFileBytes(input), before);
    // The error entry names the copy that is in the way.
    bool named = false;
    for (const std::string& line : LogLines("Update"))
        if (Has(line, "|kind=0|") && Has(Lower(line), Lower("'" + viewCopy + "'"))) named = true;
    EXPECT_TRUE(named) << StatusLog();
    // Nothing temporary stays beside the copy.
    for (const std::string& name : tvtest::ListNames(TempFolder(), "~tvw*"))
        ADD_FAILURE() << name;
}

// A result that lies in the temporary folder already has the view copy's
// name: it is shown itself, never removed for a copy of itself, and stays or
// goes as the modes say; an edited one is protected again.
TEST_F(ViewTest, AResultInTheTemporaryFolderIsShownItself) {
    struct Row {
        bool save;
        bool change;
    } rows[] = {{false, false}, {true, false}, {false, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.save ? "save" : "only") + (row.change ? " changed" : ""));
        // The input beside the view copy's name: its result gets that name.
        WriteFileBytes(viewCopy, "original text");
        ASSERT_TRUE(Protect(OpSign, viewCopy));
        tvtest::RemoveTree(viewCopy);
        std::string input = viewCopy + ".sgn";
        Set("openfilesonly", "Yes");
        Set("openfilessave", row.save ? "Yes" : "No");
        SetEnvironmentVariableA("TV_VIEWER_MODE", row.change ? "change" : "keep");
        Script("");

        EXPECT_TRUE(RunJob(OpVerify, {input})) << StatusLog();

        EXPECT_EQ(Lower(ReadFileBytes(viewerLog)), Lower(viewCopy + "|original text\n"));
        if (row.save) {
            // The result stays; the input in the temporary folder goes.
            EXPECT_EQ(ReadFileBytes(viewCopy), "original text");
            EXPECT_FALSE(Exists(input));
        } else {
            EXPECT_FALSE(Exists(viewCopy));
            ASSERT_TRUE(Exists(input));
            Set("openfilesonly", "No");
            Set("openfilessave", "Yes");
            Script("");
            EXPECT_TRUE(RunJob(OpVerify, {input}));
            EXPECT_EQ(ReadFileBytes(viewCopy),
                      row.change ? "changed by the viewer" : "original text");
        }
        EXPECT_TRUE(tvtest::ListNames(TempFolder(), "~tv*").empty());
        tvtest::RemoveTree(viewCopy);
        tvtest::RemoveTree(input);
        tvtest::RemoveTree(viewerLog);
    }
}

class UnzipResultTest : public RunnerTest {
protected:
    // work\x.zip.sgn of an archive with the given entries.
    std::string SignedArchive(const std::vector<std::pair<std::string, std::string>>& entries) {
        std::string archive = *work / "x.zip";
        EXPECT_TRUE(MakeZip(archive, entries));
        EXPECT_TRUE(Protect(OpSign, archive));
        tvtest::RemoveTree(archive);
        return archive + ".sgn";
    }
};

TEST_F(UnzipResultTest, ArchiveResultIsUnzippedIntoTheChosenFolder) {
    std::string input = SignedArchive({{"a.txt", "alpha"}, {"sub/b.txt", "bravo"}});
    std::string out = *work / "out";
    tvtest::MakeDir(out);
    Set("unzipfile", "Yes");
    Script("selectdir=" + out);

    EXPECT_TRUE(RunJob(OpVerify, {input})) << StatusLog();

    std::vector<std::string> asked = LogLines("AskSelectDir");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(Has(asked[0], "|path=" + *work / "x.zip" + "|")) << asked[0];
    EXPECT_EQ(ReadFileBytes(out + "\\a.txt"), "alpha");
    EXPECT_EQ(ReadFileBytes(out + "\\sub\\b.txt"), "bravo");
    EXPECT_FALSE(Exists(*work / "x.zip"));
    EXPECT_TRUE(Exists(input));  // "loeschequelldatei" is No
}

TEST_F(UnzipResultTest, WithoutUnzipSettingTheArchiveStays) {
    std::string input = SignedArchive({{"a.txt", "alpha"}});
    Script("selectdir=" + work->path());

    EXPECT_TRUE(RunJob(OpVerify, {input})) << StatusLog();

    EXPECT_TRUE(LogLines("AskSelectDir").empty());
    EXPECT_TRUE(Exists(*work / "x.zip"));
    EXPECT_FALSE(Exists(*work / "a.txt"));
}

TEST_F(UnzipResultTest, NoFolderChosenRemovesTheArchiveResultAndKeepsTheInput) {
    std::string input = SignedArchive({{"a.txt", "alpha"}});
    Set("unzipfile", "Yes");
    Set("loeschequelldatei", "Yes");
    Script("");

    EXPECT_FALSE(RunJob(OpVerify, {input}));

    EXPECT_FALSE(Exists(*work / "x.zip"));
    EXPECT_TRUE(Exists(input));
}

TEST_F(UnzipResultTest, EntriesLeadingOutsideTheFolderWriteNothingThere) {
    for (const char* name : {"../evil.txt", "sub/../../evil.txt", "..\\evil.txt"}) {
        SCOPED_TRACE(name);
        std::string input = SignedArchive({{"ok.txt", "fine"}, {name, "evil"}});
        std::string box = *work / "box";
        std::string out = box + "\\out";
        tvtest::MakeDir(out);
        Set("unzipfile", "Yes");
        Script("selectdir=" + out);

        EXPECT_FALSE(RunJob(OpVerify, {input}));

        // The error names the file that failed and the entry that was refused.
        std::vector<std::string> errors = LogLines("Update|kind=0");
        ASSERT_EQ(errors.size(), 1u) << StatusLog();
        EXPECT_TRUE(Has(errors[0], "|file=x.zip.sgn|")) << errors[0];
        EXPECT_TRUE(Has(errors[0], std::string("('") + name + "' lies outside the target folder!)"))
            << errors[0];
        EXPECT_TRUE(Has(errors[0], "[123 ZipAPI 992]")) << errors[0];
        EXPECT_FALSE(Exists(box + "\\evil.txt"));
        EXPECT_FALSE(Exists(*work / "evil.txt"));
        EXPECT_EQ(Names(box), std::vector<std::string>{"out"});
        tvtest::RemoveTree(box);
        tvtest::RemoveTree(input);
        tvtest::RemoveTree(*work / "x.zip");
    }
}

TEST_F(UnzipResultTest, AnExistingFileInTheFolderIsReplacedOnlyAfterYes) {
    struct Row {
        int answer;
        const char* content;
    } rows[] = {{AnswerNo, "older"}, {AnswerYes, "alpha"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer);
        std::string input = SignedArchive({{"a.txt", "alpha"}});
        std::string out = *work / "out";
        tvtest::MakeDir(out);
        WriteFileBytes(out + "\\a.txt", "older");
        Set("unzipfile", "Yes");
        Script("selectdir=" + out + ";exist=" + std::to_string(row.answer));

        EXPECT_EQ(RunJob(OpVerify, {input}), row.answer == AnswerYes) << StatusLog();

        std::vector<std::string> asked = LogLines("AskFileExist");
        ASSERT_EQ(asked.size(), 1u) << StatusLog();
        EXPECT_TRUE(Has(asked[0], "file=a.txt")) << asked[0];
        EXPECT_EQ(ReadFileBytes(out + "\\a.txt"), row.content);
        EXPECT_EQ(Names(out), std::vector<std::string>{"a.txt"});
        tvtest::RemoveTree(out);
        tvtest::RemoveTree(*work / "x.zip");
        tvtest::RemoveTree(input);
    }
}

// Two entries of one name, both let overwrite: the user's file is moved aside
// for the first, the first entry for the second. When the second is damaged
// the user's own file ends at the name, and nothing is left aside.
TEST_F(UnzipResultTest, ANameReplacedTwiceEndsWithTheUsersFileWhenTheJobFails) {
    struct Row {
        bool damaged;
        const char* content;
    } rows[] = {{false, "second"}, {true, "older"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.damaged ? "second entry damaged" : "both whole");
        std::string archive = *work / "x.zip";
        std::string second = row.damaged ? tvtest::PatternBytes(20000, 3) : "second";
        ASSERT_TRUE(MakeZip(archive, {{"a.txt", "first"}, {"a.txt", second}}));
        if (row.damaged) {
            // A byte inside the second entry's packed data.
            std::string bytes = ReadFileBytes(archive);
            size_t header = bytes.find("PK\x03\x04", 1, 4);
            ASSERT_NE(header, std::string::npos);
            size_t extra = static_cast<unsigned char>(bytes[header + 28]) |
                           static_cast<unsigned char>(bytes[header + 29]) << 8;
            bytes[header + 30 + 5 + extra + 4] ^= 0x10;
            WriteFileBytes(archive, bytes);
        }
        ASSERT_TRUE(Protect(OpSign, archive));
        tvtest::RemoveTree(archive);
        std::string input = archive + ".sgn";
        std::string out = *work / "out";
        tvtest::MakeDir(out);
        WriteFileBytes(out + "\\a.txt", "older");
        Set("unzipfile", "Yes");
        std::string yes = std::to_string(AnswerYes);
        Script("selectdir=" + out + ";exist=" + yes + "," + yes);

        EXPECT_EQ(RunJob(OpVerify, {input}), !row.damaged) << StatusLog();

        EXPECT_EQ(LogLines("AskFileExist").size(), 2u) << StatusLog();
        EXPECT_EQ(ReadFileBytes(out + "\\a.txt"), row.content);
        EXPECT_EQ(Names(out), std::vector<std::string>{"a.txt"});
        tvtest::RemoveTree(out);
        tvtest::RemoveTree(*work / "x.zip");
        tvtest::RemoveTree(input);
    }
}
