// Binding the dialogs library by the "statusdll" path, finding the progress
// window, unloading the library only when its window is gone, the status
// lines and the file name of the status record, and the settings readers.
#include "EngineFixture.h"
#include "WindowDriver.h"

#include <thread>

using namespace enginetest;

namespace {

class Binding : public EngineTest {};

bool Loaded(const char* name) { return GetModuleHandleA(name) != nullptr; }

TEST_F(Binding, APathWithBlanksAndCapitalsStillLoadsTheLibrary) {
    std::string path = status.path();
    for (char& c : path) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    Set("statusdll", "  " + path + " \t");
    auto job = NewJob();
    EXPECT_TRUE(job->IsBound());
    EXPECT_EQ(job->cancel, 0);
    EXPECT_EQ(status.Calls("Open").size(), 1u);
    job.reset();
    EXPECT_EQ(status.Calls("Close").size(), 1u);
}

// The message box of a failed binding is answered from a second thread.
std::string AnswerBindingBox() {
    HWND box = tvtest::WaitForMessageBox(tvtest::kWaitMs, "Tarvisto Version 2.11");
    if (!box) return "(no box)";
    std::string text = tvtest::MessageBoxText(box);
    tvtest::AnswerDialog(box, IDOK);
    return text;
}

TEST_F(Binding, ALibraryWithoutOneOfTheEightExportsCancelsTheJobWithABox) {
    ScriptedStatus seven("scriptedstatus7.dll");
    ASSERT_TRUE(seven.ok());
    Set("statusdll", seven.path());
    std::string text;
    auto job = tvtest::WhileDriving([&] { text = AnswerBindingBox(); },
                                    [] { return std::make_unique<TQXCryptDir>(); });
    EXPECT_EQ(text, "Internal Error! - ('tvstatus.dll' not found)");
    EXPECT_FALSE(job->IsBound());
    EXPECT_EQ(job->cancel, 1);
    EXPECT_TRUE(seven.Calls("Open").empty());
    // Every file is refused without a question.
    tvtest::WriteFileBytes(work / "f.txt", "x");
    EXPECT_FALSE(job->SignFile(1, (work / "f.txt").c_str()));
    job.reset();
    seven.Release();
    EXPECT_FALSE(Loaded("scriptedstatus7.dll"));
}

TEST_F(Binding, AMissingSettingOrLibraryCancelsTheJob) {
    settings->Remove("statusdll");
    std::string text;
    auto job = tvtest::WhileDriving([&] { text = AnswerBindingBox(); },
                                    [] { return std::make_unique<TQXCryptDir>(); });
    EXPECT_EQ(text, "Internal Error! - ('tvstatus.dll' not found)");
    EXPECT_EQ(job->cancel, 1);
    EXPECT_EQ(job->statusLibrary, nullptr);
}

TEST_F(Binding, TheLibraryIsUnloadedOnlyWhenItsWindowIsGone) {
    {
        auto job = NewJob("window=1");
        ASSERT_NE(status.Window(), nullptr);
        job.reset();
        EXPECT_EQ(status.Window(), nullptr);
    }
    status.Release();
    EXPECT_FALSE(Loaded("scriptedstatus.dll"));

    ScriptedStatus again;
    again.Script("window=1;close=0");
    {
        auto job = std::make_unique<TQXCryptDir>();
        ASSERT_TRUE(job->IsBound());
        job.reset();  // CloseQXStatus says no: the window may still be there
    }
    HWND left = again.Window();
    EXPECT_NE(left, nullptr);
    again.Release();
    // The engine kept its reference: the window's code is still there.
    EXPECT_TRUE(Loaded("scriptedstatus.dll"));
    if (left) {
        SendMessageA(left, WM_NULL, 0, 0);
        DestroyWindow(left);
    }
}

TEST_F(Binding, TheJobFindsItsOwnThreadsProgressWindowFirst) {
    // Another thread of the process holds a window of the same class.
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND foreign = nullptr;
    std::thread other([&] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = QX_PROGRESS_CLASS;
        RegisterClassA(&wc);
        foreign = CreateWindowA(QX_PROGRESS_CLASS, "other job", WS_POPUP, 0, 0, 5, 5, nullptr,
                                nullptr, wc.hInstance, nullptr);
        SetEvent(ready);
        while (WaitForSingleObject(quit, 10) == WAIT_TIMEOUT) PumpMessages(nullptr, 0, 0);
        DestroyWindow(foreign);
        UnregisterClassA(QX_PROGRESS_CLASS, wc.hInstance);
    });
    WaitForSingleObject(ready, tvtest::kWaitMs);
    ASSERT_NE(foreign, nullptr);
    {
        auto job = NewJob("window=1");
        ASSERT_NE(status.Window(), nullptr);
        EXPECT_EQ(job->progressWindow, status.Window());
    }
    // Without a window of its own the job falls back to the search by class.
    {
        auto job = NewJob("window=0");
        EXPECT_EQ(job->progressWindow, foreign);
    }
    SetEvent(quit);
    other.join();
    CloseHandle(ready);
    CloseHandle(quit);
}

TEST_F(Binding, StatusLinesOfEveryKind) {
    auto job = NewJob();
    struct Row {
        uint32_t kind;
        const char* op;
        const char* done;
        const char* anim;
    } rows[] = {
        {0, "initializing... please wait!", "initializing... please wait!", "1"},
        {12, "initializing... please wait!", "initializing... please wait!", "1"},
        {OpCountFiles, "initializing... please wait!", "initializing... please wait!", "1"},
        {OpDecompress, "decompressing data... please wait!", "data decompressed (UNZIP)", "0"},
        {OpUpdate, "update data... please wait!", "data updated", "0"},
        {OpRestore, "restoring data... please wait!", "data restored", "0"},
    };
    job->done = 7;
    CopyText(job->status.fileName, 256, "left.txt");
    CopyText(job->status.subFolder, 256, "keep");
    for (const Row& row : rows) {
        EXPECT_TRUE(job->SetStatusKind(row.kind));
        std::string line = status.Updates(3).back();
        EXPECT_EQ(Field(line, "op"), row.op) << row.kind;
        EXPECT_EQ(Field(line, "done"), row.done) << row.kind;
        EXPECT_EQ(Field(line, "anim"), row.anim) << row.kind;
        EXPECT_EQ(Field(line, "total"), "0");
        EXPECT_EQ(Field(line, "cur"), "7");  // the update sends the job's done
        EXPECT_EQ(Field(line, "file"), "");
        EXPECT_EQ(Field(line, "sub"), "keep");
    }
    // A Cancel in the progress window cancels the job.
    status.Script("update_false=1");
    EXPECT_FALSE(job->SetStatusKind(OpSign));
    EXPECT_EQ(job->cancel, 1);
}

TEST_F(Binding, TheFileNameAndSubfolderOfAPath) {
    auto job = NewJob();
    struct Row {
        const char* path;
        bool ok;
        const char* file;
        const char* sub;
    } rows[] = {
        {"D:\\work\\a.txt", true, "a.txt", "work"},
        {"D:\\a.txt", true, "a.txt", ""},
        {"C:\\x\\y\\z.tar.crp", true, "z.tar.crp", "y"},
        {"a.txt", false, nullptr, nullptr},
        {"", false, nullptr, nullptr},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(job->SetStatusFileName(row.path), row.ok) << row.path;
        if (row.ok) {
            EXPECT_STREQ(job->status.fileName, row.file);
            EXPECT_STREQ(job->status.subFolder, row.sub);
        }
    }
    EXPECT_FALSE(job->SetStatusFileName(nullptr));
}

TEST_F(Binding, SwitchesAreYesInAnyCaseWithBlanksAndNothingElse) {
    auto job = NewJob();
    struct Row {
        const char* value;
        bool on;
    } rows[] = {{"Yes", true}, {" yes ", true}, {"YES\t", true}, {"Y", false},
                {"No", false}, {"Yes please", false}, {"", false}};
    for (const Row& row : rows) {
        Set("unzipfile", row.value);
        bool on = !row.on;
        EXPECT_TRUE(job->ReadUnzipSetting(&on));
        EXPECT_EQ(on, row.on) << "'" << row.value << "'";
    }
    settings->Remove("unzipfile");
    bool on = true;
    EXPECT_FALSE(job->ReadUnzipSetting(&on));
    EXPECT_FALSE(on);
    char name[256];
    EXPECT_TRUE(job->ReadStoreName(2, name));
    EXPECT_EQ(std::string(name), Ids().own);
    EXPECT_FALSE(job->ReadStoreName(3, name));
    EXPECT_TRUE(job->ReadOwnCertName(name));
    EXPECT_STREQ(name, "Olivia Own");
}

TEST_F(Binding, SourcesAreDeletedByTheSettingButAlwaysInTheTemporaryFolder) {
    auto job = NewJob();
    tvtest::TempDir temp("engine");
    std::string inTemp = temp / "t.txt";
    std::string outside = work / "o.txt";
    tvtest::WriteFileBytes(inTemp, "t");
    tvtest::WriteFileBytes(outside, "o");
    EXPECT_TRUE(job->DeleteSourceFile(outside.c_str()));  // "No": kept
    EXPECT_TRUE(tvtest::Exists(outside));
    EXPECT_TRUE(job->DeleteSourceFile(inTemp.c_str()));
    EXPECT_FALSE(tvtest::Exists(inTemp));
    settings->Remove("loeschequelldatei");
    EXPECT_FALSE(job->DeleteSourceFile(outside.c_str()));
    EXPECT_TRUE(tvtest::Exists(outside));
    Set("loeschequelldatei", " yes");
    EXPECT_TRUE(job->DeleteSourceFile(outside.c_str()));
    EXPECT_FALSE(tvtest::Exists(outside));
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    EXPECT_TRUE(job->DeleteSourceFile((std::string(windows) + "\\win.ini").c_str()));
    EXPECT_TRUE(tvtest::Exists(std::string(windows) + "\\win.ini"));
    EXPECT_FALSE(job->DeleteSourceFile(""));
}

}  // namespace
