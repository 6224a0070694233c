// tvstatus.dll through its eight entry points, as the engine binds it, with
// its windows driven from a second thread in the virtual display.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstring>
#include <string>

#include "QXDialogIds.h"
#include "QXForms.h"
#include "StatusLibrary.h"
#include "TestFiles.h"
#include "OwnWindows.h"
#include "WindowDriver.h"

using namespace tvtest;

namespace {

const char* kWarning = "Tarvisto 2.11 - Warning!";
const char* kError = "Tarvisto 2.11 - Error!";
const char* kSigInfo = "Tarvisto 2.11 - Signature Info!";

class StatusDll : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.Load()) << "tvstatus.dll from " << BinDir();
        ASSERT_TRUE(lib.open(&handle));
        ASSERT_NE(handle, nullptr);
        window = ThreadWindow("TQXProgress", GetCurrentThreadId());
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        if (handle) lib.close(handle);
        lib.Unload();
    }
    HWND Ctl(int id) { return GetDlgItem(window, id); }
    bool Update(StatusRecord record) { return lib.update(handle, &record); }

    ClipSetting clip{BinDir() + "\\secure.avi"};
    StatusLibrary lib;
    QXStatusHandle handle = nullptr;
    HWND window = nullptr;
};

// The memo of our message dialog.
std::string OkHelpText(HWND dialog) { return ChildText(dialog, IDC_OKHELP_TEXT); }

// A window of this thread put in front of the others: a question's first step
// brings the progress window forward, so a call that leaves this window in
// front came to no question.
class InFront {
public:
    InFront() {
        window_ = CreateWindowExA(0, "STATIC", "in front", WS_POPUP | WS_VISIBLE, 0, 0, 80, 40,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        SetForegroundWindow(window_);
        inFront_ = WaitUntil([this] { return Holds(); });
    }
    ~InFront() { DestroyWindow(window_); }
    InFront(const InFront&) = delete;
    InFront& operator=(const InFront&) = delete;
    // Whether the window came to the front at all.
    bool ok() const { return inFront_; }
    bool Holds() {
        PumpOwn();
        return GetForegroundWindow() == window_;
    }

private:
    HWND window_ = nullptr;
    bool inFront_ = false;
};

}  // namespace

TEST(StatusExports, EightNamesAtOrdinalsOneToEight) {
    StatusLibrary lib;
    ASSERT_TRUE(lib.Load());
    const char* names[] = {"OpenQXStatus",          "UpdateQXStatus",        "CloseQXStatus",
                           "QXAskYesNoAllReadOnly", "QXAskYesNoAllFileExist", "QXAskFileSaveAs",
                           "QXAskSelectDir",        "ShowSigInfo"};
    for (int i = 0; i < 8; ++i) {
        FARPROC byName = GetProcAddress(lib.module, names[i]);
        EXPECT_NE(byName, nullptr) << names[i];
        EXPECT_EQ(byName, GetProcAddress(lib.module, MAKEINTRESOURCEA(i + 1))) << names[i];
    }
}

TEST(StatusNullHandle, EveryCallReturnsAtOnceWithoutWindow) {
    StatusLibrary lib;
    ASSERT_TRUE(lib.Load());
    StatusRecord record = MakeRecord(StatusLine, "a.txt");
    strcpy(record.path, "C:\\x\\a.zip");
    InFront front;
    ASSERT_TRUE(front.ok()) << "no window of the test came to the front";
    // None of them comes to a question (which would wait for an answer until
    // the watchdog's deadline) or brings a window forward.
    WhileDriving([] {}, [&] {
        EXPECT_EQ(lib.askReadOnly(nullptr, &record), AnswerCancel);
        EXPECT_EQ(lib.askFileExist(nullptr, &record), AnswerCancel);
        EXPECT_FALSE(lib.askSaveAs(nullptr, &record));
        EXPECT_FALSE(lib.askSelectDir(nullptr, &record));
        EXPECT_FALSE(lib.showSigInfo(nullptr));
        EXPECT_FALSE(lib.update(nullptr, &record));
        EXPECT_FALSE(lib.close(nullptr));
        return 0;
    });
    EXPECT_TRUE(front.Holds()) << "a call without a window brought a window forward";
    EXPECT_STREQ(record.path, "C:\\x\\a.zip");
    EXPECT_EQ(ThreadWindow("TQXProgress", GetCurrentThreadId()), nullptr);
}

TEST_F(StatusDll, OpensTheProgressWindowAsDesigned) {
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(TextOf(window).rfind("Tarvisto Version 2.11", 0), 0u) << TextOf(window);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 498);
    EXPECT_EQ(client.bottom, 102);
    EXPECT_EQ(TextOf(Ctl(IDC_PROGRESS_CANCEL)), "Cancel");
    EXPECT_TRUE(Enabled(Ctl(IDC_PROGRESS_CANCEL)));
    EXPECT_EQ(ProgressMaximum(Ctl(IDC_PROGRESS_BAR)), 100);
    // No close box: the title bar has no system menu.
    EXPECT_EQ(GetWindowLongPtrA(window, GWL_STYLE) & WS_SYSMENU, 0);
}

TEST_F(StatusDll, FileCounterAndBarPosition) {
    struct Row {
        const char* name;
        const char* folder;
        uint32_t current, total;
        bool result;
        const char* counter;
        int position;  // -1: unchanged
    } rows[] = {
        {"report.txt", "", 3, 12, true, "[0003/0012] File: 'report.txt'", 27},
        {"report.txt", "work", 12, 12, true, "[0012/0012] File: '..\\work\\report.txt'", 95},
        {"big.bin", "", 12345, 99999, true, "[12345/99999] File: 'big.bin'", 16},
        // Above the maximum: not set.
        {"x.txt", "", 20, 12, true, "[0020/0012] File: 'x.txt'", -1},
        // A zero count shows the counter, leaves the bar and stops the job.
        {"y.txt", "", 0, 12, false, "[0000/0012] File: 'y.txt'", -1},
        {"z.txt", "", 4, 0, false, "[0004/0000] File: 'z.txt'", -1},
        // 64-bit arithmetic: 4e9 * 90 would wrap in 32 bits.
        {"huge", "", 4000000000u, 4000000000u, true, "[4000000000/4000000000] File: 'huge'", 95},
    };
    for (const Row& row : rows) {
        int before = ProgressPosition(Ctl(IDC_PROGRESS_BAR));
        EXPECT_EQ(Update(MakeRecord(StatusFileProgress, row.name, row.folder, row.current,
                                    row.total)),
                  row.result)
            << row.counter;
        EXPECT_EQ(StatusBarText(Ctl(IDC_PROGRESS_STATUSBAR)), row.counter);
        EXPECT_EQ(ProgressPosition(Ctl(IDC_PROGRESS_BAR)),
                  row.position < 0 ? before : row.position)
            << row.counter;
    }
}

TEST_F(StatusDll, StatusLinesAndTheRestoreTextThatDisablesCancel) {
    EXPECT_TRUE(Update(MakeRecord(StatusLine, "", "", 0, 0, "signing data... please wait!")));
    EXPECT_EQ(TextOf(Ctl(IDC_PROGRESS_STATUS)), "signing data... please wait!");
    EXPECT_TRUE(Enabled(Ctl(IDC_PROGRESS_CANCEL)));
    EXPECT_TRUE(Update(MakeRecord(StatusLine, "", "", 0, 0, "RESTORING data... Please Wait!")));
    EXPECT_FALSE(Enabled(Ctl(IDC_PROGRESS_CANCEL)));
    EXPECT_TRUE(Update(MakeRecord(StatusLine, "", "", 0, 0, "verifying data... please wait!")));
    EXPECT_FALSE(Enabled(Ctl(IDC_PROGRESS_CANCEL))) << "stays disabled for good";
    // Esc and a close request no longer cancel.
    PressEscape(window);
    PostClose(window);
    EXPECT_TRUE(Update(MakeRecord(StatusPumpOnly)));
    EXPECT_TRUE(Update(MakeRecord(StatusPumpOnly)));
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(StatusDll, KindsAndAnimationSwitch) {
    EXPECT_TRUE(Update(MakeRecord(StatusPumpOnly)));
    EXPECT_FALSE(Update(MakeRecord(5)));
    EXPECT_FALSE(Update(MakeRecord(-1)));
    EXPECT_FALSE(lib.update(handle, nullptr));
    StatusRecord record = MakeRecord(StatusLine, "", "", 0, 0, "initializing... please wait!");
    record.showAnimation = 1;
    EXPECT_TRUE(Update(record));
    EXPECT_FALSE(Visible(Ctl(IDC_PROGRESS_BAR)));
    EXPECT_TRUE(Visible(Ctl(IDC_PROGRESS_ANIMATE)));
    // While the animation shows, a file step moves the counter, not the bar.
    int position = ProgressPosition(Ctl(IDC_PROGRESS_BAR));
    StatusRecord step = MakeRecord(StatusFileProgress, "a.txt", "", 6, 12);
    step.showAnimation = 1;
    EXPECT_TRUE(Update(step));
    EXPECT_EQ(StatusBarText(Ctl(IDC_PROGRESS_STATUSBAR)), "[0006/0012] File: 'a.txt'");
    EXPECT_EQ(ProgressPosition(Ctl(IDC_PROGRESS_BAR)), position);
    record.showAnimation = 0;
    EXPECT_TRUE(Update(record));
    EXPECT_TRUE(Visible(Ctl(IDC_PROGRESS_BAR)));
    EXPECT_FALSE(Visible(Ctl(IDC_PROGRESS_ANIMATE)));
}

TEST_F(StatusDll, CancelByButtonEscOrCloseIsReportedOnce) {
    enum How { Button, Escape, CloseRequest };
    for (How how : {Button, Escape, CloseRequest}) {
        // Each way in a window of its own.
        if (how != Button) {
            ASSERT_TRUE(lib.close(handle));
            handle = nullptr;
            ASSERT_TRUE(lib.open(&handle));
            window = ThreadWindow("TQXProgress", GetCurrentThreadId());
        }
        EXPECT_TRUE(Update(MakeRecord(StatusLine, "", "", 0, 0, "signing data... please wait!")));
        if (how == Button) ClickChild(window, IDC_PROGRESS_CANCEL);
        if (how == Escape) PressEscape(window);
        if (how == CloseRequest) PostClose(window);  // Alt+F4 or the shell
        EXPECT_FALSE(Update(MakeRecord(StatusPumpOnly))) << how;
        EXPECT_TRUE(Update(MakeRecord(StatusPumpOnly))) << how;
        EXPECT_FALSE(Enabled(Ctl(IDC_PROGRESS_CANCEL))) << how;
        EXPECT_EQ(TextOf(Ctl(IDC_PROGRESS_STATUS)), "Procedure is aborting... please wait!");
        EXPECT_TRUE(IsWindow(window)) << "only CloseQXStatus destroys the window";
    }
}

TEST_F(StatusDll, ErrorBoxOkHelpAndCancel) {
    std::string text, helpStill;
    StatusRecord record = MakeRecord(StatusError, "a.txt", "work", 1, 2, "'signing data'",
                                     "Access denied");
    bool ok = WhileDriving(
        [&] {
            HWND box = WaitForCaption(kError);
            text = OkHelpText(box);
            ClickChild(box, IDC_OKHELP_OK);
        },
        [&] { return lib.update(handle, &record); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(text, "Error 'signing data' file '..\\work\\a.txt'!\r\nAccess denied");

    bool cancelled = WhileDriving(
        [&] { ClickChild(WaitForCaption(kError), IDC_OKHELP_CANCEL); },
        [&] { return lib.update(handle, &record); });
    EXPECT_FALSE(cancelled);

    // Help keeps the box open; OK afterwards goes on.
    record = MakeRecord(StatusError, "b.txt", "", 1, 2, "'verifying data'", "bad");
    bool afterHelp = WhileDriving(
        [&] {
            HWND box = WaitForCaption(kError);
            text = OkHelpText(box);
            ClickChild(box, IDC_OKHELP_HELP);
            // Without a help page the platform may say so in a box of its own.
            AnswerBoxOver(box);
            helpStill = IsWindowVisible(box) ? "open" : "closed";
            ClickChild(box, IDC_OKHELP_OK);
        },
        [&] { return lib.update(handle, &record); });
    EXPECT_TRUE(afterHelp);
    EXPECT_EQ(helpStill, "open");
    EXPECT_EQ(text, "Error 'verifying data' file 'b.txt'!\r\nbad");
}

TEST_F(StatusDll, SignatureLinesShownOnCloseAndByShowSigInfo) {
    // Nothing pending: false, without bringing the window forward for a box.
    {
        InFront front;
        ASSERT_TRUE(front.ok()) << "no window of the test came to the front";
        EXPECT_FALSE(WhileDriving([] {}, [&] { return lib.showSigInfo(handle); }));
        EXPECT_TRUE(front.Holds()) << "the progress window came forward with nothing to show";
    }

    EXPECT_TRUE(Update(MakeRecord(StatusSignatureValid, "a.txt.sgn", "", 0, 0, nullptr, "CN=Alice")));
    std::string shown;
    bool result = WhileDriving(
        [&] {
            HWND box = WaitForCaption(kSigInfo);
            shown = OkHelpText(box);
            ClickChild(box, IDC_OKHELP_OK);
        },
        [&] { return lib.showSigInfo(handle); });
    EXPECT_TRUE(result);
    EXPECT_EQ(shown, "'a.txt' is valid signed by:\r\n CN=Alice\r\n");
    EXPECT_FALSE(lib.showSigInfo(handle)) << "nothing pending any more";

    // A name shorter than the extension stays whole; lines collect.
    EXPECT_TRUE(Update(MakeRecord(StatusSignatureValid, "ab", "", 0, 0, nullptr, "CN=Bob")));
    EXPECT_TRUE(Update(MakeRecord(StatusSignatureValid, "c.sme", "", 0, 0, nullptr, "CN=Carol")));
    bool closed = WhileDriving(
        [&] {
            HWND box = WaitForCaption(kSigInfo);
            shown = OkHelpText(box);
            ClickChild(box, IDC_OKHELP_CANCEL);
        },
        [&] { return lib.close(handle); });
    handle = nullptr;
    EXPECT_TRUE(closed);
    EXPECT_EQ(shown,
              "'a.txt' is valid signed by:\r\n CN=Alice\r\n"
              "'ab' is valid signed by:\r\n CN=Bob\r\n"
              "'c' is valid signed by:\r\n CN=Carol\r\n");
    EXPECT_EQ(ThreadWindow("TQXProgress", GetCurrentThreadId()), nullptr);
}

TEST_F(StatusDll, AfterAStopClosingShowsNoSignatureBox) {
    EXPECT_TRUE(Update(MakeRecord(StatusSignatureValid, "a.sgn", "", 0, 0, nullptr, "CN=A")));
    ClickChild(window, IDC_PROGRESS_CANCEL);
    EXPECT_FALSE(Update(MakeRecord(StatusPumpOnly)));
    std::atomic<bool> seen{false};
    bool closed = WhileDriving(
        [&] {
            if (HWND box = WaitForCaption(kSigInfo, 3000)) {
                seen = true;
                ClickChild(box, IDC_OKHELP_OK);
            }
        },
        [&] { return lib.close(handle); });
    handle = nullptr;
    EXPECT_TRUE(closed);
    EXPECT_FALSE(seen);
}

TEST_F(StatusDll, YesNoAllQuestionsAnswerEveryWay) {
    enum Act { ClickId, Enter, Escape, CloseBox };
    struct Row {
        Act act;
        int id;
        uint8_t answer;
    } rows[] = {
        {ClickId, IDC_YESNOALL_YES, AnswerYes},     {ClickId, IDC_YESNOALL_YESALL, AnswerYesAll},
        {ClickId, IDC_YESNOALL_NO, AnswerNo},       {ClickId, IDC_YESNOALL_NOALL, AnswerNoAll},
        {ClickId, IDC_YESNOALL_CANCEL, AnswerCancel}, {Enter, 0, AnswerYesAll},
        {Escape, 0, AnswerCancel},                  {CloseBox, 0, AnswerCancel},
    };
    StatusRecord record = MakeRecord(StatusLine, "x.txt");
    record.doneText = "signed";
    int n = 0;
    for (const Row& row : rows) {
        bool readOnly = (n++ % 2) == 0;
        std::string caption, text, labels, cls;
        uint8_t answer = WhileDriving(
            [&] {
                HWND dialog = WaitForClassPrefix("TDYesNoAll");
                caption = TextOf(dialog);
                cls = ClassOf(dialog);
                text = ChildText(dialog, IDC_YESNOALL_TEXT);
                for (int id : {IDC_YESNOALL_YES, IDC_YESNOALL_YESALL, IDC_YESNOALL_NO,
                               IDC_YESNOALL_NOALL, IDC_YESNOALL_CANCEL})
                    labels += ChildText(dialog, id) + "|";
                switch (row.act) {
                case ClickId: ClickChild(dialog, row.id); break;
                case Enter: PressEnter(dialog); break;
                case Escape: PressEscape(dialog); break;
                case CloseBox: CloseByBox(dialog); break;
                }
            },
            [&] {
                return readOnly ? lib.askReadOnly(handle, &record)
                                : lib.askFileExist(handle, &record);
            });
        EXPECT_EQ(answer, row.answer) << "row " << n;
        EXPECT_EQ(caption, kWarning);
        // The class name is the library's own: another module in the process
        // (the Explorer extension) never shares it.
        char expected[64];
        snprintf(expected, sizeof(expected), "TDYesNoAll.%p", (void*)lib.module);
        EXPECT_EQ(cls, expected);
        EXPECT_EQ(labels, "Yes|Yes all|No|No all|Cancel|");
        EXPECT_EQ(text, readOnly ? "Should the write - protected file 'x.txt' really be signed?"
                                 : "Should the file 'x.txt' really be overwritten?");
    }
    EXPECT_TRUE(Update(MakeRecord(StatusPumpOnly))) << "the progress window still works";
}

TEST_F(StatusDll, SaveAsChosenCancelledAndTooLong) {
    TempDir dir("tvsave");
    std::string proposed = dir / "docs.zip";
    StatusRecord record = MakeRecord(StatusLine);
    strcpy(record.path, proposed.c_str());

    std::string name, folder;
    std::string chosen = dir / "other.zip";
    bool ok = WhileDriving(
        [&] {
            HWND dialog = WaitForSaveAsDialog();
            WaitUntil([&] { return !SaveAsFileName(dialog).empty() && !SaveAsFolder(dialog).empty(); });
            name = SaveAsFileName(dialog);
            folder = SaveAsFolder(dialog);
            AnswerSaveAs(dialog, chosen);
        },
        [&] { return lib.askSaveAs(handle, &record); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(name, "docs.zip");
    EXPECT_EQ(lstrcmpiA(folder.c_str(), dir.path().c_str()), 0) << folder;
    EXPECT_EQ(lstrcmpiA(record.path, chosen.c_str()), 0) << record.path;

    bool cancelled = WhileDriving([&] { AnswerDialog(WaitForSaveAsDialog(), IDCANCEL); },
                                  [&] { return lib.askSaveAs(handle, &record); });
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(lstrcmpiA(record.path, chosen.c_str()), 0);

    // A name that does not fit the 256-character path is refused, not cut.
    std::string tooLong = dir.path() + "\\";
    tooLong += std::string(257 - tooLong.size() - 4, 'n') + ".zip";
    ASSERT_EQ(tooLong.size(), 257u);
    std::string platformBox;
    bool refused = WhileDriving(
        [&] {
            HWND dialog = WaitForSaveAsDialog();
            AnswerSaveAs(dialog, tooLong);
            // The dialog ends; should the platform's dialog itself object
            // instead, its box is answered and the dialog cancelled.
            HWND box = nullptr;
            WaitUntil([&] { return !IsWindow(dialog) || (box = WaitForMessageBox(0)) != nullptr; });
            if (box) {
                platformBox = MessageBoxText(box);
                AnswerDialog(box, IDOK);
                WaitGone(box);
                AnswerDialog(dialog, IDCANCEL);
            }
        },
        [&] { return lib.askSaveAs(handle, &record); });
    EXPECT_EQ(platformBox, "");
    EXPECT_FALSE(refused);
    EXPECT_EQ(lstrcmpiA(record.path, chosen.c_str()), 0);
    // The dialog is gone, the progress window answers.
    EXPECT_TRUE(Update(MakeRecord(StatusPumpOnly)));
}

TEST_F(StatusDll, SelectDirChosenAndCancelled) {
    // A folder right under the drive: the browser's tree reaches it quickly.
    char root[MAX_PATH];
    GetTempPathA(sizeof(root), root);
    root[3] = '\0';
    std::string top = std::string(root) + UniqueName("tvdir");
    MakeDir(top + "\\out");
    struct Remove {
        std::string path;
        ~Remove() { RemoveTree(path); }
    } remove{top};
    struct {
        std::string path_;
        const std::string& path() const { return path_; }
        std::string operator/(const std::string& r) const { return path_ + "\\" + r; }
    } dir{top};
    std::string archive = dir / "docs.zip";
    StatusRecord record = MakeRecord(StatusLine);
    strcpy(record.path, archive.c_str());

    std::string texts;
    bool ok = WhileDriving(
        [&] {
            HWND dialog = WaitForFolderBrowser();
            WaitUntil([&] { return FolderBrowserTexts(dialog).find("Please select") != std::string::npos; });
            texts = FolderBrowserTexts(dialog);
            EXPECT_TRUE(AnswerFolderBrowser(dialog, dir / "out"));
        },
        [&] { return lib.askSelectDir(handle, &record); });
    EXPECT_TRUE(ok);
    EXPECT_NE(texts.find("Please select a Directory to unzip '" + archive + "'!"),
              std::string::npos)
        << texts;
    EXPECT_EQ(lstrcmpiA(record.path, (dir / "out").c_str()), 0) << record.path;

    std::string before = record.path;
    bool cancelled = WhileDriving([&] { AnswerDialog(WaitForFolderBrowser(), IDCANCEL); },
                                  [&] { return lib.askSelectDir(handle, &record); });
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(before, record.path);
}

TEST(StatusClip, MissingClipShowsBoxAndStopsAtFirstUpdate) {
    ClipSetting clip("C:\\no\\such\\secure.avi");
    StatusLibrary lib;
    ASSERT_TRUE(lib.Load());
    QXStatusHandle handle = nullptr;
    std::string caption, text;
    bool opened = WhileDriving(
        [&] {
            HWND box = WaitForMessageBox(10000, "Tarvisto Version 2.11");
            caption = TextOf(box);
            text = MessageBoxText(box);
            AnswerDialog(box, IDOK);
        },
        [&] { return lib.open(&handle); });
    ASSERT_TRUE(opened);
    EXPECT_EQ(text, "Internal Error! - ('sercure.avi' not found)");
    StatusRecord record = MakeRecord(StatusLine, "", "", 0, 0, "signing data... please wait!");
    EXPECT_FALSE(lib.update(handle, &record));
    EXPECT_TRUE(lib.update(handle, &record));
    EXPECT_TRUE(lib.close(handle));
}

TEST(StatusClip, BuiltClipIsUncompressedEightBitWithFifteenFramesOrMore) {
    std::string avi = ReadFileBytes(BinDir() + "\\secure.avi");
    ASSERT_GT(avi.size(), 200u);
    auto u32 = [&](size_t at) {
        uint32_t v;
        memcpy(&v, avi.data() + at, 4);
        return v;
    };
    EXPECT_EQ(avi.substr(0, 4), "RIFF");
    EXPECT_EQ(avi.substr(8, 4), "AVI ");
    size_t avih = avi.find("avih");
    ASSERT_NE(avih, std::string::npos);
    EXPECT_GE(u32(avih + 8 + 16), 15u) << "the window stops at frame 14";
    size_t strf = avi.find("strf");
    ASSERT_NE(strf, std::string::npos);
    uint16_t bits;
    memcpy(&bits, avi.data() + strf + 8 + 14, 2);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(u32(strf + 8 + 16), 0u) << "uncompressed";
}

TEST(StatusNullHandle, OpenWithoutOutCreatesNothing) {
    ClipSetting clip(BinDir() + "\\secure.avi");
    StatusLibrary lib;
    ASSERT_TRUE(lib.Load());
    EXPECT_FALSE(lib.open(nullptr));
    EXPECT_EQ(ThreadWindow("TQXProgress", GetCurrentThreadId()), nullptr);
}

TEST(StatusLoading, LoadUnloadAndLoadAgain) {
    ClipSetting clip(BinDir() + "\\secure.avi");
    for (int round = 0; round < 3; ++round) {
        StatusLibrary lib;
        ASSERT_TRUE(lib.Load()) << round;
        HMODULE module = lib.module;
        QXStatusHandle handle = nullptr;
        ASSERT_TRUE(lib.open(&handle)) << round;
        StatusRecord record = MakeRecord(StatusFileProgress, "f.txt", "", 1, 2);
        EXPECT_TRUE(lib.update(handle, &record));
        EXPECT_TRUE(lib.close(handle));
        lib.Unload();
        // The window class went with the library.
        WNDCLASSEXA info = {sizeof(info)};
        EXPECT_FALSE(GetClassInfoExA(module, "TQXProgress", &info)) << round;
    }
}

TEST(StatusThreads, TwoWindowsOnTwoThreads) {
    ClipSetting clip(BinDir() + "\\secure.avi");
    StatusLibrary lib;
    ASSERT_TRUE(lib.Load());
    std::atomic<int> opened{0};
    std::atomic<bool> release{false};
    std::string counters[2];
    bool results[2] = {false, false};
    auto job = [&](int n) {
        QXStatusHandle handle = nullptr;
        if (!lib.open(&handle)) return;
        ++opened;
        StatusRecord record = MakeRecord(StatusFileProgress, n ? "b.txt" : "a.txt", "", n + 1, 2);
        bool ok = lib.update(handle, &record);
        while (!release) {
            StatusRecord pump = MakeRecord(StatusPumpOnly);
            ok = lib.update(handle, &pump) && ok;
            Sleep(20);
        }
        HWND window = nullptr;
        for (HWND w : TopWindows("TQXProgress"))
            if (GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId()) window = w;
        counters[n] = StatusBarText(GetDlgItem(window, IDC_PROGRESS_STATUSBAR));
        results[n] = ok && lib.close(handle);
    };
    std::thread first(job, 0), second(job, 1);
    EXPECT_TRUE(WaitUntil([&] { return opened == 2; })) << "both windows did not open";
    EXPECT_EQ(TopWindows("TQXProgress").size(), 2u);
    release = true;
    first.join();
    second.join();
    EXPECT_TRUE(results[0]);
    EXPECT_TRUE(results[1]);
    EXPECT_EQ(counters[0], "[0001/0002] File: 'a.txt'");
    EXPECT_EQ(counters[1], "[0002/0002] File: 'b.txt'");
    EXPECT_TRUE(TopWindows("TQXProgress").empty());
}
