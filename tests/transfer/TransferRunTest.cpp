// Whole runs of build/bin/tvcrypte.exe, one process per scenario, with the real
// dialogs library; its windows are driven from this test.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "QXDialogIds.h"
#include "QXForms.h"
#include "RegistryFixture.h"
#include "TransferFixture.h"
#include "WindowDriver.h"

using tvtest::ReadFileBytes;
using tvtest::WriteFileBytes;

namespace tvtransfer {
namespace {

constexpr char kErrorCaption[] = "Tarvisto 2.11 - Error!";
constexpr char kSignatureCaption[] = "Tarvisto 2.11 - Signature Info!";

// A visible dialog of our forms with the caption.
HWND WaitForFormDialog(const char* classPrefix, const char* caption, DWORD timeoutMs = 20000) {
    std::string head = std::string(classPrefix) + ".";
    return tvtest::WaitForWindow(
        [&](HWND w) {
            return tvtest::ClassOf(w).compare(0, head.size(), head) == 0 &&
                   (caption == nullptr || tvtest::TextOf(w) == caption);
        },
        timeoutMs);
}

class TransferRunTest : public TransferTest {
protected:
    // Answers the signature information of a running job with OK; its text.
    std::string AnswerSignatureInfo() {
        HWND box = WaitForFormDialog("TQXDlgOkHilfe", kSignatureCaption);
        if (box == nullptr) return "";
        std::string text = tvtest::ChildText(box, IDC_OKHELP_TEXT);
        tvtest::ClickChild(box, IDC_OKHELP_OK);
        return text;
    }

    // Signs the file through the transfer program and checks the result.
    void SignWithTransfer(const std::string& relative) {
        ASSERT_EQ(RunTransfer("\"" + Work(relative) + "\" /SGN"), 0);
        std::string content;
        ASSERT_TRUE(VerifiedContent(Work(relative + ".sgn"), &content));
        ASSERT_EQ(content, ReadFileBytes(Work(relative)));
    }
};

TEST_F(TransferRunTest, SignsARelativeNameWithALowerCaseSwitchInItsProgressWindow) {
    std::string original = tvtest::PatternBytes(20000, 3);
    WriteFileBytes(Work("a.txt"), original);

    TransferProcess process("a.txt /sgn", WorkFolder());
    ASSERT_TRUE(process.started());
    HWND progress = tvtest::WaitForClass("TQXProgress", 20000);
    EXPECT_NE(progress, nullptr) << "the job shows the real progress window";
    ASSERT_EQ(process.Wait(), 0);

    std::string content;
    ASSERT_TRUE(VerifiedContent(Work("a.txt.sgn"), &content));
    EXPECT_EQ(content, original);
    EXPECT_EQ(ReadFileBytes(Work("a.txt")), original);
}

TEST_F(TransferRunTest, VerifiesAQuotedPathWithBlanksAndShowsTheSigner) {
    tvtest::MakeDir(Work("my files"));
    std::string original = "signed words\r\n" + tvtest::PatternBytes(5000, 4);
    WriteFileBytes(Work("my files\\b c.txt"), original);
    SignWithTransfer("my files\\b c.txt");
    DeleteFileA(Work("my files\\b c.txt").c_str());

    TransferProcess process("\"" + Work("my files\\b c.txt.sgn") + "\"", WorkFolder());
    std::string info = AnswerSignatureInfo();
    EXPECT_NE(info.find("'b c.txt' is valid signed by:"), std::string::npos) << info;
    EXPECT_NE(info.find(kAlice), std::string::npos) << info;
    ASSERT_EQ(process.Wait(), 0);
    EXPECT_EQ(ReadFileBytes(Work("my files\\b c.txt")), original);
}

TEST_F(TransferRunTest, OpeningASignedFileThroughItsFileTypeVerifiesIt) {
    std::string original = "opened from the shell " + tvtest::PatternBytes(2000, 10);
    WriteFileBytes(Work("s.txt"), original);
    SignWithTransfer("s.txt");
    DeleteFileA(Work("s.txt").c_str());

    // The file type as the settings program registers it.
    tvtest::ScopedFileType type(".sgn", "TarvistoTransferTest",
                                "\"" + BinDir() + "\\tvcrypte.exe\" \"%1\"");
    ASSERT_TRUE(type.ok());
    std::string file = Work("s.txt.sgn");
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = "open";
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWNORMAL;
    ASSERT_TRUE(ShellExecuteExA(&info));

    std::string text = AnswerSignatureInfo();
    EXPECT_NE(text.find("'s.txt' is valid signed by:"), std::string::npos) << text;
    if (info.hProcess) {
        EXPECT_EQ(WaitForSingleObject(info.hProcess, 60000), WAIT_OBJECT_0);
        CloseHandle(info.hProcess);
    }
    // The program may end before the file's last writer has closed it.
    tvtest::WaitUntil([&] { return ReadFileBytes(Work("s.txt")) == original; });
    EXPECT_EQ(ReadFileBytes(Work("s.txt")), original);
}

TEST_F(TransferRunTest, EncryptsAndDecryptsBackToTheOriginal) {
    std::string original = "secret text " + tvtest::PatternBytes(30000, 5);
    WriteFileBytes(Work("c.txt"), original);

    ASSERT_EQ(RunTransfer("c.txt /CRP"), 0);
    std::string encrypted = ReadFileBytes(Work("c.txt.crp"));
    ASSERT_FALSE(encrypted.empty());
    EXPECT_EQ(encrypted.find("secret text"), std::string::npos);

    DeleteFileA(Work("c.txt").c_str());
    ASSERT_EQ(RunTransfer("c.txt.crp"), 0);
    EXPECT_EQ(ReadFileBytes(Work("c.txt")), original);
}

TEST_F(TransferRunTest, PacksAnEnvelopeForBobWhoUnpacksIt) {
    std::string original = "for Bob only " + tvtest::PatternBytes(12000, 6);
    WriteFileBytes(Work("d.txt"), original);

    ASSERT_EQ(RunTransfer("d.txt /SME \"" + std::string(kBob) + "\""), 0);
    ASSERT_TRUE(tvtest::Exists(Work("d.txt.sme")));
    EXPECT_FALSE(tvtest::Exists(Work("d.txt.crp"))) << "the intermediate is removed";
    std::string inner;
    ASSERT_TRUE(VerifiedContent(Work("d.txt.sme"), &inner)) << "signed by Alice";
    EXPECT_EQ(inner.find("for Bob only"), std::string::npos) << "and encrypted";

    // Bob, with his own key, unpacks it.
    DeleteFileA(Work("d.txt").c_str());
    UseOwnCertificate(kBob, bobStore);
    TransferProcess process("d.txt.sme", WorkFolder());
    std::string info = AnswerSignatureInfo();
    EXPECT_NE(info.find(kAlice), std::string::npos) << info;
    ASSERT_EQ(process.Wait(), 0);
    EXPECT_EQ(ReadFileBytes(Work("d.txt")), original);
    EXPECT_FALSE(tvtest::Exists(Work("d.txt.crp")));
}

TEST_F(TransferRunTest, AnExistingOutputIsAnsweredNoYesOrCancel) {
    struct Row {
        const char* name;
        int button;
        bool replaced;
    };
    const Row rows[] = {
        {"No", IDC_YESNOALL_NO, false},
        {"Yes", IDC_YESNOALL_YES, true},
        {"Cancel", IDC_YESNOALL_CANCEL, false},
    };
    const std::string old = "an older signature";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string original = tvtest::PatternBytes(3000, row.button);
        WriteFileBytes(Work("e.txt"), original);
        WriteFileBytes(Work("e.txt.sgn"), old);

        TransferProcess process("e.txt /SGN", WorkFolder());
        HWND question = WaitForFormDialog("TDYesNoAll", "Tarvisto 2.11 - Warning!");
        ASSERT_NE(question, nullptr);
        EXPECT_NE(tvtest::ChildText(question, IDC_YESNOALL_TEXT).find("really be overwritten?"),
                  std::string::npos);
        tvtest::ClickChild(question, row.button);
        // A declined file ends the job without an error box (it would keep
        // the program from ending).
        ASSERT_EQ(process.Wait(30000), 0);

        std::string content;
        if (row.replaced) {
            ASSERT_TRUE(VerifiedContent(Work("e.txt.sgn"), &content));
            EXPECT_EQ(content, original);
        } else {
            EXPECT_EQ(ReadFileBytes(Work("e.txt.sgn")), old);
        }
        EXPECT_EQ(ReadFileBytes(Work("e.txt")), original);
    }
}

TEST_F(TransferRunTest, CancelInTheProgressWindowDuringA30MegabyteFile) {
    const size_t size = 30u * 1024 * 1024;
    tvtest::MakeDir(Work("big"));
    std::string first = tvtest::PatternBytes(size, 7);
    WriteFileBytes(Work("big\\big1.bin"), first);
    WriteFileBytes(Work("big\\big2.bin"), tvtest::PatternBytes(1000, 8));

    TransferProcess process("big /SGN", WorkFolder());
    HWND progress = tvtest::WaitForClass("TQXProgress", 20000);
    ASSERT_NE(progress, nullptr);
    // Wait until the large file is at hand, then press Cancel.
    HWND bar = tvtest::Child(progress, IDC_PROGRESS_STATUSBAR);
    ASSERT_TRUE(tvtest::WaitUntil([&] {
        return tvtest::StatusBarText(bar).find("big1.bin") != std::string::npos;
    })) << "the progress window never showed big1.bin";
    HWND cancel = tvtest::Child(progress, IDC_PROGRESS_CANCEL);
    tvtest::Click(cancel);
    EXPECT_TRUE(tvtest::WaitUntil([&] { return !IsWindow(progress) || !tvtest::Enabled(cancel); }))
        << "the press on Cancel was never taken";
    if (IsWindow(progress)) {
        EXPECT_FALSE(tvtest::Enabled(cancel));
        EXPECT_EQ(tvtest::ChildText(progress, IDC_PROGRESS_STATUS),
                  "Procedure is aborting... please wait!");
    }
    ASSERT_EQ(process.Wait(120000), 0);

    // The file at hand is finished whole or not at all; the next is not touched.
    EXPECT_FALSE(tvtest::Exists(Work("big\\big2.bin.sgn")));
    if (tvtest::Exists(Work("big\\big1.bin.sgn"))) {
        std::string content;
        EXPECT_TRUE(VerifiedContent(Work("big\\big1.bin.sgn"), &content));
        EXPECT_TRUE(content == first) << "a complete signature of the file";
    }
    EXPECT_TRUE(ReadFileBytes(Work("big\\big1.bin")) == first);
}

TEST_F(TransferRunTest, ATamperedSignatureShowsTheErrorAndWritesNothing) {
    std::string original = "MARKER-" + tvtest::PatternBytes(4000, 9);
    WriteFileBytes(Work("f.txt"), original);
    SignWithTransfer("f.txt");
    DeleteFileA(Work("f.txt").c_str());

    std::string message = ReadFileBytes(Work("f.txt.sgn"));
    size_t at = message.find("MARKER-");
    ASSERT_NE(at, std::string::npos);
    message[at] = 'N';
    WriteFileBytes(Work("f.txt.sgn"), message);

    TransferProcess process("f.txt.sgn", WorkFolder());
    HWND box = WaitForFormDialog("TQXDlgOkHilfe", kErrorCaption);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(tvtest::ChildText(box, IDC_OKHELP_TEXT).find("This file(s) could not be verified!"),
              std::string::npos)
        << tvtest::ChildText(box, IDC_OKHELP_TEXT);
    tvtest::ClickChild(box, IDC_OKHELP_OK);
    ASSERT_EQ(process.Wait(), 0);
    EXPECT_FALSE(tvtest::Exists(Work("f.txt")));
    EXPECT_EQ(ReadFileBytes(Work("f.txt.sgn")), message);
    EXPECT_EQ(FilesBelow(WorkFolder()), std::vector<std::string>{"f.txt.sgn"});
}

// A file that is not there, or an empty file given to verify, decrypt or
// unpack, ends the program only after the user has seen an error that names it.
TEST_F(TransferRunTest, AMissingOrEmptyInputShowsAnErrorThatNamesIt) {
    WriteFileBytes(Work("empty.txt.crp"), "");
    struct Row {
        const char* line;
        const char* file;
        const char* texts[2];
    } rows[] = {
        {"missing.sgn", "missing.sgn", {"This file does not exist!", "This file(s) could not be verified!"}},
        {"empty.txt.crp", "empty.txt.crp", {"This file is empty!", "This file(s) could not be decrypted!"}},
        {"absent.txt /SGN", "absent.txt", {"This file does not exist!", "This file(s) could not be signed!"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        TransferProcess process(row.line, WorkFolder());
        HWND box = WaitForFormDialog("TQXDlgOkHilfe", kErrorCaption);
        ASSERT_NE(box, nullptr);
        std::string text = tvtest::ChildText(box, IDC_OKHELP_TEXT);
        EXPECT_NE(text.find(Work(row.file)), std::string::npos) << text;
        for (const char* part : row.texts) EXPECT_NE(text.find(part), std::string::npos) << text;
        tvtest::ClickChild(box, IDC_OKHELP_OK);
        ASSERT_EQ(process.Wait(), 0);
        EXPECT_EQ(FilesBelow(WorkFolder()), std::vector<std::string>{"empty.txt.crp"});
    }
}

TEST_F(TransferRunTest, AFolderGivenToSignSignsEveryFileOnce) {
    tvtest::MakeDir(Work("tree\\sub"));
    WriteFileBytes(Work("tree\\one.txt"), "one");
    WriteFileBytes(Work("tree\\two.doc"), "two");
    WriteFileBytes(Work("tree\\sub\\three.txt"), "three");

    ASSERT_EQ(RunTransfer("tree /SGN"), 0);
    EXPECT_EQ(FilesBelow(Work("tree")),
              (std::vector<std::string>{"one.txt", "one.txt.sgn", "sub\\three.txt",
                                        "sub\\three.txt.sgn", "two.doc", "two.doc.sgn"}));
    for (const char* name : {"one.txt", "two.doc", "sub\\three.txt"}) {
        std::string content;
        EXPECT_TRUE(VerifiedContent(Work(std::string("tree\\") + name + ".sgn"), &content));
        EXPECT_EQ(content, ReadFileBytes(Work(std::string("tree\\") + name)));
    }
}

TEST_F(TransferRunTest, InvalidArgumentsShowTheErrorAndWalkNothing) {
    const std::vector<std::string> lines = {
        "\"\" /SGN",                                 // empty after its quotes
        "\"   \" /CRP",                              // blanks alone
        "g.txt /SME",                                // no recipient
        "g.txt /SME \"\"",                           // an empty recipient
        "g.txt /SME " + std::string(256, 'r'),       // a recipient that does not fit
        "\"C:\\" + std::string(253, 'x') + "\" /SGN",  // a path that does not fit
    };
    WriteFileBytes(Work("g.txt"), "must stay alone");
    for (const std::string& line : lines) {
        SCOPED_TRACE(line.substr(0, 40));
        TransferProcess process(line, WorkFolder());
        HWND box = tvtest::WaitForMessageBox(20000, kErrorCaption);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(tvtest::MessageBoxText(box).rfind("Internal Error! - (Invalid Arguments) - ", 0),
                  0u)
            << tvtest::MessageBoxText(box);
        tvtest::AnswerDialog(box, IDOK);
        ASSERT_EQ(process.Wait(20000), 0);
        EXPECT_EQ(FilesBelow(WorkFolder()), std::vector<std::string>{"g.txt"});
    }
}

TEST_F(TransferRunTest, AnUnknownSwitchOrNoArgumentsEndQuietly) {
    WriteFileBytes(Work("h.txt"), "nothing happens");
    for (const char* line : {"h.txt /XYZ", "", "h.txt /CR"}) {
        SCOPED_TRACE(line);
        // A message box would keep the program from ending.
        ASSERT_EQ(RunTransfer(line, 60000), 0);
        EXPECT_EQ(FilesBelow(WorkFolder()), std::vector<std::string>{"h.txt"});
    }
}

TEST_F(TransferRunTest, TheHiddenMainWindowCarriesTheApplicationTitle) {
    WriteFileBytes(Work("i.txt"), "x");
    WriteFileBytes(Work("i.txt.sgn"), "older");
    TransferProcess process("i.txt /SGN", WorkFolder());
    // While the question is open, the program's main window exists and is hidden.
    HWND question = WaitForFormDialog("TDYesNoAll", nullptr);
    ASSERT_NE(question, nullptr);
    HWND main = nullptr;
    for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == process.id() && tvtest::ClassOf(w).rfind("TQXCryptEForm", 0) == 0) main = w;
    }
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(tvtest::TextOf(main), "CryptTransfermodul");
    EXPECT_FALSE(IsWindowVisible(main));
    tvtest::ClickChild(question, IDC_YESNOALL_NO);
    ASSERT_EQ(process.Wait(), 0);
}

// The program's hidden main window, found among the windows of the process.
HWND MainWindowOf(DWORD processId) {
    for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == processId && tvtest::ClassOf(w).rfind("TQXCryptEForm", 0) == 0) return w;
    }
    return nullptr;
}

TEST_F(TransferRunTest, TheProgramEndsWhenItsWindowIsClosedWhileAJobRuns) {
    struct Row {
        const char* what;
        bool quit;  // a quit message to the program's thread instead of a close
    } rows[] = {{"WM_CLOSE to the main window", false}, {"WM_QUIT to its thread", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFileBytes(Work("k.txt"), "content");
        WriteFileBytes(Work("k.txt.sgn"), "older");
        TransferProcess process("k.txt /SGN", WorkFolder());
        ASSERT_TRUE(process.started());
        // The job waits in its question while the program's thread pumps.
        HWND question = WaitForFormDialog("TDYesNoAll", "Tarvisto 2.11 - Warning!");
        ASSERT_NE(question, nullptr);
        HWND main = MainWindowOf(process.id());
        ASSERT_NE(main, nullptr);
        if (row.quit) {
            ASSERT_TRUE(PostThreadMessageA(GetWindowThreadProcessId(main, nullptr), WM_QUIT, 0, 0));
        } else {
            ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
            // The window is hidden: wait until it is destroyed.
            ASSERT_TRUE(tvtest::WaitUntil([main] { return !IsWindow(main); }))
                << "the close never reached the main window";
        }
        ASSERT_TRUE(process.Running());
        tvtest::ClickChild(question, IDC_YESNOALL_NO);
        // The job ends with the declined file, and so does the program.
        EXPECT_EQ(process.Wait(60000), 0) << "the program stayed after its window was closed";
        EXPECT_EQ(ReadFileBytes(Work("k.txt.sgn")), "older");
    }
}

}  // namespace
}  // namespace tvtransfer
