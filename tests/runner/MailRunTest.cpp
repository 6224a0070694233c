// Envelopes offered to the mail program: the recording MAPI32.DLL stand-in
// beside this program receives the envelope, the subject and the address taken
// from the recipient's subject; what becomes of the envelope by the answer of
// the question and by the mail program's result.
#include <windows.h>
#include <mapi.h>

#include <gtest/gtest.h>

#include "FileAPI.h"
#include "QXOleAPI.h"
#include "RunnerFixture.h"
#include "StatusRecord.h"

using namespace tvrun;
using tvtest::Exists;
using tvtest::ReadFileBytes;
using tvtest::WriteFileBytes;

namespace {

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class MailTest : public RunnerTest {
protected:
    void SetUp() override {
        RunnerTest::SetUp();
        mailLog = *work / "mapi-log.txt";
        SetEnvironmentVariableA("TV_MAPI_LOG", mailLog.c_str());
        SetEnvironmentVariableA("TV_MAPI_RESULT", "0");
    }
    void TearDown() override {
        SetEnvironmentVariableA("TV_MAPI_LOG", nullptr);
        SetEnvironmentVariableA("TV_MAPI_RESULT", nullptr);
        for (const std::string& f : cleanup) tvtest::RemoveTree(f);
        RunnerTest::TearDown();
    }
    std::vector<std::string> TwoFiles() {
        tvtest::MakeDir(*work / "data");
        WriteFileBytes(*work / "data\\a.txt", "alpha");
        WriteFileBytes(*work / "data\\b.txt", "bravo");
        return {*work / "data\\a.txt", *work / "data\\b.txt"};
    }
    std::string mailLog;
    std::vector<std::string> cleanup;
};

}  // namespace

TEST_F(MailTest, ZippedEnvelopeGoesToTheMailProgramWithSubjectAndAddress) {
    std::vector<std::string> files = TwoFiles();
    std::string envelope = TempFolder() + "\\data.zip.sme";
    cleanup = {envelope, TempFolder() + "\\data.zip"};
    // An archive of that name left in the temporary folder is replaced unasked.
    WriteFileBytes(TempFolder() + "\\data.zip", "OLD ARCHIVE");
    Set("zipfile", "Yes");
    Set("smeviaemail", "Yes");
    Set("loeschequelldatei", "Yes");  // never for an envelope's sources
    Script("");

    EXPECT_TRUE(RunJob(OpPackEnvelope, files, kRecipientName)) << StatusLog();

    // The archive was made in the temporary folder without a question.
    EXPECT_TRUE(LogLines("AskFileSaveAs").empty());
    std::string mail = ReadFileBytes(mailLog);
    EXPECT_TRUE(Has(mail, "subject=" QX_CREATED_WITH_TEXT "\n")) << mail;
    EXPECT_TRUE(Has(mail, "subject=Created with Tarvisto - https://www.quorvex.example/tarvisto!"));
    EXPECT_TRUE(Has(mail, "recipients=1\n")) << mail;
    EXPECT_TRUE(Has(mail, "recipient=1|bob@example.org|bob@example.org\n")) << mail;
    EXPECT_TRUE(Has(mail, "file=4294967295|" + envelope + "|data.zip.sme\n")) << mail;
    // Mailed: the envelope and the archive are gone, the sources stay.
    EXPECT_FALSE(Exists(envelope));
    EXPECT_FALSE(Exists(TempFolder() + "\\data.zip"));
    EXPECT_TRUE(tvtest::ListNames(TempFolder(), "~tv*").empty());
    EXPECT_EQ(ReadFileBytes(files[0]), "alpha");
    EXPECT_EQ(ReadFileBytes(files[1]), "bravo");
    EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(MailTest, EnvelopeIsDeletedOnlyWhenTheMailProgramReportsSuccess) {
    struct Row {
        ULONG code;
        bool kept;
        bool errorShown;
    } rows[] = {{SUCCESS_SUCCESS, false, false},
                {MAPI_USER_ABORT, true, false},
                {MAPI_E_FAILURE, true, true},
                {MAPI_E_LOGIN_FAILURE, true, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        std::string input = *work / "note.txt";
        WriteFileBytes(input, "a note");
        std::string envelope = TempFolder() + "\\note.txt.sme";
        cleanup = {envelope};
        SetEnvironmentVariableA("TV_MAPI_RESULT", std::to_string(row.code).c_str());
        Set("smeviaemail", "Yes");
        boxes.Clear();
        Script("");

        bool ok = RunJob(OpPackEnvelope, {input}, kRecipientName);
        if (ok == row.errorShown) ADD_FAILURE() << StatusLog();

        // One selected file is enveloped from a copy in the temporary folder.
        std::string mail = ReadFileBytes(mailLog);
        EXPECT_TRUE(Has(mail, "file=4294967295|" + envelope + "|note.txt.sme\n")) << mail;
        EXPECT_FALSE(Exists(TempFolder() + "\\note.txt"));
        EXPECT_EQ(ReadFileBytes(input), "a note");
        EXPECT_EQ(Exists(envelope), row.kept);
        EXPECT_EQ(ok, !row.errorShown);
        std::vector<SeenBox> seen = boxes.Seen();
        EXPECT_EQ(seen.size(), row.errorShown ? 1u : 0u);
        if (!seen.empty()) {
            EXPECT_EQ(seen[0].caption, "Tarvisto 2.11 - Error!");
            EXPECT_TRUE(Has(seen[0].text, "Your emailprogram could not be executed!")) << seen[0].text;
            EXPECT_TRUE(seen[0].ownerInProcess);
        }
        tvtest::RemoveTree(envelope);
        tvtest::RemoveTree(mailLog);
    }
}

TEST_F(MailTest, AskedAndAnsweredNoTheEnvelopeStays) {
    std::vector<std::string> files = TwoFiles();
    std::string envelope = TempFolder() + "\\data.zip.sme";
    cleanup = {envelope, TempFolder() + "\\data.zip"};
    Set("zipfile", "Yes");
    Set("smeviaemail", "Yes");
    Set("asksmeemail", "Yes");
    boxes.Script({IDNO});
    Script("");

    EXPECT_TRUE(RunJob(OpPackEnvelope, files, kRecipientName)) << StatusLog();

    std::vector<SeenBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "Should the signed and encrypted SME - File '" + envelope +
                                "' send via Email?");
    EXPECT_EQ(seen[0].caption.compare(0, 21, "Tarvisto Version 2.11"), 0) << seen[0].caption;
    EXPECT_TRUE(seen[0].ownerInProcess);
    EXPECT_TRUE(Exists(envelope));
    EXPECT_FALSE(Exists(mailLog));
    EXPECT_FALSE(Exists(TempFolder() + "\\data.zip"));
}

TEST_F(MailTest, SeveralSelectedEntriesAreNeverMailed) {
    std::vector<std::string> files = TwoFiles();
    Set("smeviaemail", "Yes");
    Script("");

    EXPECT_TRUE(RunJob(OpPackEnvelope, files, kRecipientName)) << StatusLog();

    EXPECT_FALSE(Exists(mailLog));
    EXPECT_TRUE(Exists(files[0] + ".sme"));
    EXPECT_TRUE(Exists(files[1] + ".sme"));
}

TEST_F(MailTest, EnvelopeWithoutRecipientIsRefusedBeforeAnything) {
    std::vector<std::string> files = TwoFiles();
    for (bool zipFirst : {false, true}) {
        SCOPED_TRACE(zipFirst);
        Set("zipfile", zipFirst ? "Yes" : "No");
        boxes.Clear();
        Script("saveas=" + *work / "data.zip");

        EXPECT_FALSE(RunJob(OpPackEnvelope, files, ""));

        std::vector<SeenBox> seen = boxes.Seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].text, "Internal Error! - (Invalid Arguments)");
        EXPECT_EQ(seen[0].caption, "Tarvisto Version 2.11");
        EXPECT_FALSE(Exists(files[0] + ".sme"));
        // On the zipped road the archive was made first and stays.
        EXPECT_EQ(Exists(*work / "data.zip"), zipFirst);
    }
}

// One selected file that already lies in the temporary folder under the name
// its copy would get is packed itself, however its path is spelled, and goes
// (as every input there) only once its envelope exists; a file elsewhere is
// copied and stays. Either way the envelope holds the file's content.
TEST_F(MailTest, TheSelectedFileIsNeverRemovedBeforeItsEnvelopeExists) {
    std::string temp = TempFolder();
    std::string tempName = temp.substr(temp.rfind('\\') + 1);
    auto upper = [](std::string text) {
        CharUpperA(&text[0]);
        return text;
    };
    auto shortForm = [](const std::string& path) {
        char shorter[MAX_PATH] = {0};
        DWORD n = GetShortPathNameA(path.c_str(), shorter, sizeof shorter);
        return n > 0 && n < sizeof shorter ? std::string(shorter) : path;
    };
    struct Row {
        const char* spelling;
        std::string file;  // where it lies
        std::string given;  // how it is selected
        bool inTemp;
    };
    std::string longName = temp + "\\a rather long name.txt";
    std::vector<Row> rows = {
        {"as the folder spells it", temp + "\\mine1.txt", temp + "\\mine1.txt", true},
        {"other letter case", temp + "\\mine2.txt", upper(temp + "\\mine2.txt"), true},
        {"with .\\", temp + "\\mine3.txt", temp + "\\.\\mine3.txt", true},
        {"with ..", temp + "\\mine4.txt", temp + "\\..\\" + tempName + "\\mine4.txt", true},
        {"short name", longName, "", true},
        {"outside the temporary folder", *work / "mine5.txt", *work / "mine5.txt", false},
    };
    for (Row& row : rows) {
        std::string content = std::string("content, ") + row.spelling;
        WriteFileBytes(row.file, content);
        if (row.given.empty()) row.given = shortForm(row.file);
        SCOPED_TRACE(std::string(row.spelling) + ": " + row.given);
        std::string given = row.given.substr(row.given.rfind('\\') + 1);
        std::string envelope = temp + "\\" + given + ".sme";
        cleanup = {envelope, row.file, temp + "\\" + given};
        Set("smeviaemail", "Yes");
        Set("asksmeemail", "Yes");
        boxes.Clear();
        boxes.Script({IDNO});
        Script("");

        EXPECT_TRUE(RunJob(OpPackEnvelope, {row.given}, kRecipientName)) << StatusLog();

        // Asked about and kept: the envelope lies in the temporary folder.
        EXPECT_EQ(boxes.Seen().size(), 1u);
        EXPECT_TRUE(Exists(envelope));
        EXPECT_EQ(Unpacked(envelope), content);
        if (row.inTemp) {
            EXPECT_FALSE(Exists(row.file));
        } else {
            EXPECT_EQ(ReadFileBytes(row.file), content);
            EXPECT_FALSE(Exists(temp + "\\" + given));
        }
        EXPECT_TRUE(tvtest::ListNames(temp, "~tv*").empty());
        for (const std::string& f : cleanup) tvtest::RemoveTree(f);
    }
}
