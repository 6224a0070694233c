#include "FileAPI.h"
#include "QXTools.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "RegistryFixture.h"
#include "TestErrors.h"
#include "TestFiles.h"

using tvtest::Contains;
using tvtest::TakeError;

namespace {

std::string ProgramFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    *strrchr(path, '\\') = 0;
    return path;
}

std::string Child() { return ProgramFolder() + "\\tv_waitchild.exe"; }

// Elapsed time from the performance counter: the tick count lags behind on a
// busy machine, so a pause of a second can read as 985 ms.
class Stopwatch {
public:
    Stopwatch() { QueryPerformanceCounter(&start_); }
    unsigned Ms() const {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return static_cast<unsigned>((now.QuadPart - start_.QuadPart) * 1000 / frequency.QuadPart);
    }

private:
    LARGE_INTEGER start_;
};

std::vector<QXPath> MakeList(const std::vector<std::string>& paths)
{
    std::vector<QXPath> list(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        memset(list[i], 0, sizeof list[i]);
        strncpy(list[i], paths[i].c_str(), sizeof list[i] - 1);
    }
    return list;
}

class ToolsTest : public ::testing::Test {
protected:
    void SetUp() override { ClearLastError(); }
    void TearDown() override { ClearLastError(); }
    tvtest::TempDir dir{"tools"};
};

// ---- texts and paths -----------------------------------------------------

TEST_F(ToolsTest, Trim)
{
    struct Row {
        const char* in;
        const char* out;
    } rows[] = {{"  abc\t", "abc"},      {"abc", "abc"},        {"\r\n\v\f", ""},
                {"", ""},                {" a b ", "a b"},      {"\tyes \n", "yes"},
                {"x  ", "x"}};
    for (const Row& r : rows) {
        char text[64];
        strcpy(text, r.in);
        EXPECT_STREQ(r.out, Trim(text)) << '"' << r.in << '"';
        EXPECT_STREQ(r.out, text);
    }
    char text[] = "  ab  cd";
    EXPECT_STREQ("ab", Trim(text, 6)) << "a given length bounds the text";
    char shortText[] = " q ";
    EXPECT_STREQ("q", Trim(shortText, 200)) << "never past the terminator";
    EXPECT_EQ(nullptr, Trim(nullptr));
}

TEST_F(ToolsTest, BackslashAndSlash)
{
    struct Row {
        const char* in;
        bool ok;
        const char* out;
    } rows[] = {{"D:\\x\\", true, "D:\\x"}, {"D:\\x\\\\", true, "D:\\x\\"},
                {"D:\\x", true, "D:\\x"},   {"", false, ""}};
    for (const Row& r : rows) {
        char text[64];
        strcpy(text, r.in);
        EXPECT_EQ(r.ok, StripTrailingBackslash(text)) << r.in;
        EXPECT_STREQ(r.out, text);
    }
    EXPECT_FALSE(StripTrailingBackslash(nullptr));

    char path[] = "a/b\\c/d";
    EXPECT_TRUE(SlashToBackslash(path));
    EXPECT_STREQ("a\\b\\c\\d", path);
    EXPECT_TRUE(BackslashToSlash(path));
    EXPECT_STREQ("a/b/c/d", path);
    EXPECT_FALSE(SlashToBackslash(nullptr));
    EXPECT_FALSE(BackslashToSlash(nullptr));
}

TEST_F(ToolsTest, SplitPath)
{
    struct Row {
        const char* path;
        const char* folder;
        const char* name;
        const char* ext;
    } rows[] = {
        {"D:\\a\\b.txt", "D:\\a\\", "b.txt", ".txt"},
        {"D:\\a\\b", "D:\\a\\", "b", ""},
        {"D:\\a\\", "D:\\a\\", "", ""},
        {"D:x.y.z", "D:", "x.y.z", ".z"},
        {"name.txt", "", "name.txt", ".txt"},
        {"D:\\dir.d\\file", "D:\\dir.d\\", "file", ""},
        {"\\\\srv\\share\\f.zip", "\\\\srv\\share\\", "f.zip", ".zip"},
    };
    for (const Row& r : rows) {
        char folder[256], name[256], ext[256];
        ASSERT_TRUE(SplitPath(r.path, folder, name, ext)) << r.path;
        EXPECT_STREQ(r.folder, folder) << r.path;
        EXPECT_STREQ(r.name, name) << r.path;
        EXPECT_STREQ(r.ext, ext) << r.path;
    }
    char name[256];
    EXPECT_TRUE(SplitPath("D:\\q.txt", nullptr, name, nullptr));
    EXPECT_STREQ("q.txt", name);
    EXPECT_FALSE(SplitPath(nullptr, name, name, name));
    EXPECT_FALSE(SplitPath(std::string(256, 'a').c_str(), nullptr, name, nullptr));
}

TEST_F(ToolsTest, ExtractMailAddress)
{
    struct Row {
        const char* text;
        bool ok;
        const char* address;
    } rows[] = {
        {"anna@example.org, more text", true, "anna@example.org"},
        {"\"Anna Berg\" anna.berg@example.org", true, "anna.berg@example.org"},
        {"E=ole@host.de;CN=Ole", true, "E=ole@host.de"},
        {"CN=Ole Nordby, E=ole@host.de", true, "E=ole@host.de"},
        {"x@y", true, "x@y"},
        {"no address here", false, ""},
        {"", false, ""},
    };
    for (const Row& r : rows) {
        char out[256] = "junk";
        EXPECT_EQ(r.ok, ExtractMailAddress(r.text, out)) << r.text;
        EXPECT_STREQ(r.address, out) << r.text;
    }
    char out[256] = "junk";
    EXPECT_FALSE(ExtractMailAddress(std::string(300, 'a').append("@b").c_str(), out))
        << "a text longer than its buffer is refused";
    EXPECT_STREQ("", out);
    EXPECT_FALSE(ExtractMailAddress(nullptr, out));
    EXPECT_FALSE(ExtractMailAddress("a@b", nullptr));
}

TEST_F(ToolsTest, FolderTests)
{
    char temp[256], system[256], windows[256];
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
    ASSERT_GT(GetWindowsDirectoryA(windows, sizeof windows), 0u);
    std::string lowerTemp = temp;
    CharLowerA(&lowerTemp[0]);
    std::string inSystem = std::string(system) + "\\kernel32.dll";
    std::string inWindows = std::string(windows) + "\\win.ini";
    std::string tooLong = std::string(temp) + std::string(300, 'x');
    struct Row {
        std::string path;
        bool temp, system, windows;
    } rows[] = {
        {lowerTemp + "file.txt", true, false, false},
        {inSystem, false, true, true},
        {inWindows, false, false, true},
        {"Q:\\elsewhere\\f.txt", false, false, false},
        {tooLong, false, false, false},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(r.temp, IsInTempDir(r.path.c_str())) << r.path;
        EXPECT_EQ(r.system, IsInSystemDir(r.path.c_str())) << r.path;
        EXPECT_EQ(r.windows, IsInWindowsDir(r.path.c_str())) << r.path;
    }
    EXPECT_FALSE(IsInTempDir(nullptr));
    EXPECT_FALSE(IsInSystemDir(nullptr));
    EXPECT_FALSE(IsInWindowsDir(nullptr));
}

// ---- naming a selection ---------------------------------------------------

class SelectionTest : public ToolsTest {
protected:
    void SetUp() override
    {
        ToolsTest::SetUp();
        tvtest::MakeDir(dir / "a\\b");
        tvtest::MakeDir(dir / "a\\c");
        tvtest::MakeDir(dir / "d");
        tvtest::WriteFileBytes(dir / "a\\x.txt", "x");
        tvtest::WriteFileBytes(dir / "a\\b\\y.txt", "y");
        tvtest::WriteFileBytes(dir / "d\\f.txt", "f");
        tvtest::WriteFileBytes(dir / "d\\g.txt", "g");
    }
};

TEST_F(SelectionTest, CommonBaseDir)
{
    const std::string& t = dir.path();
    struct Row {
        std::vector<std::string> entries;
        bool ok;
        std::string base;
    } rows[] = {
        {{dir / "a\\x.txt", dir / "a\\b\\y.txt"}, true, dir / "a"},
        {{dir / "a\\b", dir / "a\\c"}, true, dir / "a"},
        {{dir / "a\\b\\", dir / "a\\c\\"}, true, dir / "a"},
        {{dir / "d\\f.txt"}, true, dir / "d"},
        {{dir / "d"}, true, t},
        {{dir / "d\\f.txt", dir / "d\\g.txt"}, true, dir / "d"},
        // No shared folder but a common ancestor: never a base that is not
        // a prefix of every entry.
        {{dir / "a\\b\\y.txt", dir / "d\\f.txt"}, true, t},
        {{dir / "a\\b", dir / "d"}, true, t},
        {{dir / "a\\b\\y.txt", dir / "A\\X.TXT"}, true, dir / "a"},
        {{"C:\\", "C:\\windows"}, true, "C:"},
        {{"C:\\windows", "Z:\\tmp"}, false, ""},
    };
    for (const Row& r : rows) {
        std::vector<QXPath> list = MakeList(r.entries);
        char base[256] = "junk";
        bool ok = CommonBaseDir(static_cast<int>(list.size()), list.data(), base);
        EXPECT_EQ(r.ok, ok) << r.entries[0];
        if (r.ok) {
            EXPECT_STREQ(r.base.c_str(), base) << r.entries[0];
            // Every entry lies under the base.
            for (const std::string& e : r.entries) {
                char rel[256];
                strcpy(rel, e.c_str());
                EXPECT_TRUE(RelativeToBase(base, rel)) << base << " / " << e;
            }
        }
    }
    char base[256];
    std::vector<QXPath> one = MakeList({dir / "d"});
    EXPECT_FALSE(CommonBaseDir(0, one.data(), base));
    EXPECT_FALSE(CommonBaseDir(1, nullptr, base));
    EXPECT_FALSE(CommonBaseDir(1, one.data(), nullptr));
}

TEST_F(SelectionTest, BuildTargetName)
{
    struct Row {
        std::vector<std::string> entries;
        std::string name, folder;
    } rows[] = {
        {{dir / "d\\f.txt"}, dir / "d\\f.txt.zip", ""},
        {{dir / "d\\f.txt", dir / "d\\g.txt"}, dir / "d.zip", dir / "d"},
        {{dir / "d\\"}, dir / "d.zip", dir / "d"},
        {{dir / "d", dir / "a"}, dir / "d.zip", dir / "d"},
        {{"C:\\"}, "C:\\C.zip", "C:"},
    };
    for (const Row& r : rows) {
        std::vector<QXPath> list = MakeList(r.entries);
        char name[256] = "junk", folder[256] = "junk";
        ASSERT_TRUE(BuildTargetName(static_cast<int>(list.size()), list.data(), ".zip", name,
                                    folder))
            << r.entries[0];
        EXPECT_STREQ(r.name.c_str(), name) << r.entries[0];
        EXPECT_STREQ(r.folder.c_str(), folder) << r.entries[0];
    }
    char name[256], folder[256];
    std::vector<QXPath> one = MakeList({dir / "d\\f.txt"});
    EXPECT_FALSE(BuildTargetName(0, one.data(), ".zip", name, folder));
    EXPECT_FALSE(BuildTargetName(1, nullptr, ".zip", name, folder));
    EXPECT_FALSE(BuildTargetName(1, one.data(), ".zip", nullptr, folder));
    EXPECT_FALSE(BuildTargetName(1, one.data(), ".zip", name, nullptr));
    std::vector<QXPath> full = MakeList({"C:\\" + std::string(250, 'f')});
    EXPECT_FALSE(BuildTargetName(1, full.data(), ".zip", name, folder))
        << "a name that does not fit is refused, not cut";
}

// ---- processes, user, messages -----------------------------------------

TEST_F(ToolsTest, ShellExecuteWaitWaitsForTheProcess)
{
    std::string marker = dir / "done.txt";
    std::string params = "1500 0 \"" + marker + "\"";
    Stopwatch watch;
    ASSERT_TRUE(ShellExecuteWait(nullptr, Child().c_str(), "open", params.c_str(), true))
        << TakeError();
    EXPECT_GE(watch.Ms(), 1400u);
    EXPECT_TRUE(tvtest::Exists(marker)) << "returned before the child ended";
}

TEST_F(ToolsTest, ShellExecuteWaitWithoutWaitReturnsAtOnce)
{
    std::string marker = dir / "later.txt";
    std::string params = "10000 0 \"" + marker + "\"";
    ASSERT_TRUE(ShellExecuteWait(nullptr, Child().c_str(), nullptr, params.c_str(), false));
    EXPECT_FALSE(tvtest::Exists(marker)) << "waited for the child";
    // Let the child end before the folder goes.
    for (int i = 0; i < 600 && !tvtest::Exists(marker); ++i)
        Sleep(100);
}

TEST_F(ToolsTest, ShellExecuteWaitEndsForAChildThatExitsWith259)
{
    Stopwatch watch;
    ASSERT_TRUE(ShellExecuteWait(nullptr, Child().c_str(), "open", "200 259", true));
    EXPECT_GE(watch.Ms(), 900u) << "the one-second pause comes first";
}

TEST_F(ToolsTest, ShellExecuteWaitOpensADocumentOfARegisteredType)
{
    std::string marker = dir / "viewer-ended.txt";
    std::string ext = "." + tvtest::UniqueName("tvt");
    std::string progId = tvtest::UniqueName("TvWaitTest");
    tvtest::ScopedFileType type(ext, progId,
                                "\"" + Child() + "\" 1300 0 \"" + marker + "\" \"%1\"");
    ASSERT_TRUE(type.ok());
    std::string doc = dir / ("view" + ext);
    tvtest::WriteFileBytes(doc, "document");
    Stopwatch watch;
    ASSERT_TRUE(ShellExecuteWait(nullptr, doc.c_str(), "open", nullptr, true)) << TakeError();
    EXPECT_GE(watch.Ms(), 1200u);
    EXPECT_TRUE(tvtest::Exists(marker));
}

TEST_F(ToolsTest, ShellExecuteWaitReportsAFailedStartAfterItsPause)
{
    Stopwatch watch;
    EXPECT_FALSE(ShellExecuteWait(nullptr, nullptr, "open", nullptr, true));
    EXPECT_GE(watch.Ms(), 900u);
    std::string error = TakeError();
    EXPECT_TRUE(Contains(error, "This file '' could not be executed!")) << error;
    EXPECT_TRUE(Contains(error, "QXTools 588]")) << error;

    std::string tooLong(300, 'x');
    EXPECT_FALSE(ShellExecuteWait(nullptr, tooLong.c_str(), "open", nullptr, false));
}

TEST_F(ToolsTest, ReportsUseTheToolsUnitName)
{
    SetToolsUnitName("QXtools");
    EXPECT_FALSE(ShellExecuteWait(nullptr, nullptr, nullptr, nullptr, false));
    SetToolsUnitName("QXTools");
    EXPECT_TRUE(Contains(TakeError(), "QXtools 588]"));
}

TEST_F(ToolsTest, GetCurrentUserName)
{
    char name[64];
    ASSERT_TRUE(GetCurrentUserName(name));
    EXPECT_GT(strlen(name), 0u);
    EXPECT_FALSE(GetCurrentUserName(nullptr));
    EXPECT_TRUE(Contains(TakeError(), "The current user could not be determined!"));
}

LRESULT CALLBACK CountingProc(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_APP + 1)
        ++*reinterpret_cast<int*>(GetWindowLongPtrA(w, GWLP_USERDATA));
    return DefWindowProcA(w, msg, wp, lp);
}

// A message-only window that counts the WM_APP + 1 messages dispatched to it.
class CountingWindow {
public:
    explicit CountingWindow(const char* cls) : cls_(cls)
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = CountingProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = cls;
        RegisterClassA(&wc);
        window = CreateWindowA(cls, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                               nullptr);
        if (window)
            SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&count));
    }
    ~CountingWindow()
    {
        if (window)
            DestroyWindow(window);
        UnregisterClassA(cls_, GetModuleHandleA(nullptr));
    }
    CountingWindow(const CountingWindow&) = delete;
    CountingWindow& operator=(const CountingWindow&) = delete;

    HWND window = nullptr;
    int count = 0;

private:
    const char* cls_;
};

TEST_F(ToolsTest, PumpMessagesEmptiesTheQueueInRange)
{
    CountingWindow counting("TvPumpTest");
    HWND w = counting.window;
    ASSERT_NE(nullptr, w);
    int& count = counting.count;
    for (int i = 0; i < 3; ++i)
        PostMessageA(w, WM_APP + 1, 0, 0);
    PostMessageA(w, WM_APP + 5, 0, 0);
    EXPECT_TRUE(PumpMessages(w, WM_APP + 1, WM_APP + 1));
    EXPECT_EQ(3, count);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, w, WM_APP + 5, WM_APP + 5, PM_REMOVE))
        << "a message outside the range stays";
    EXPECT_TRUE(PumpMessages(nullptr, 0, 0));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(ToolsTest, PumpMessagesLeavesAQuitForTheThreadsOwnLoop)
{
    CountingWindow counting("TvPumpQuitTest");
    HWND w = counting.window;
    ASSERT_NE(nullptr, w);
    int& count = counting.count;
    PostMessageA(w, WM_APP + 1, 0, 0);
    PostQuitMessage(7);
    // Pumped twice, as a waiting loop does: the quit is never lost.
    EXPECT_TRUE(PumpMessages(nullptr, 0, 0));
    EXPECT_TRUE(PumpMessages(nullptr, 0, 0));
    EXPECT_EQ(1, count) << "the message before the quit was dispatched";
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(static_cast<UINT>(WM_QUIT), msg.message);
    EXPECT_EQ(7u, msg.wParam);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

// ---- mail -----------------------------------------------------------------

class MailTest : public ToolsTest {
protected:
    void SetUp() override
    {
        ToolsTest::SetUp();
        log_ = dir / "mapi.log";
        SetEnvironmentVariableA("TV_MAPI_LOG", log_.c_str());
        SetEnvironmentVariableA("TV_MAPI_RESULT", nullptr);
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("TV_MAPI_LOG", nullptr);
        SetEnvironmentVariableA("TV_MAPI_RESULT", nullptr);
        ToolsTest::TearDown();
    }
    // The stand-in's record as key -> value (repeated keys joined by '\n').
    std::map<std::string, std::string> Record() const
    {
        std::map<std::string, std::string> fields;
        std::string text = tvtest::ReadFileBytes(log_);
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            std::string line = text.substr(pos, end - pos);
            size_t eq = line.find('=');
            if (eq != std::string::npos) {
                std::string& v = fields[line.substr(0, eq)];
                v += (v.empty() ? "" : "\n") + line.substr(eq + 1);
            }
            pos = end == std::string::npos ? text.size() : end + 1;
        }
        return fields;
    }
    std::string log_;
};

TEST_F(MailTest, SendsTheFileToTheAddress)
{
    std::string file = dir / "envelope.txt.sme";
    tvtest::WriteFileBytes(file, "envelope");
    ULONG code = 77;
    ASSERT_TRUE(SendMailWithAttachment("anna@example.org", "Subject line", "Note", file.c_str(),
                                       &code))
        << TakeError();
    EXPECT_EQ(0u, code);
    auto r = Record();
    EXPECT_EQ("9", r["flags"]);
    EXPECT_EQ("Subject line", r["subject"]);
    EXPECT_EQ("Note", r["note"]);
    EXPECT_EQ("1", r["recipients"]);
    EXPECT_EQ("1|anna@example.org|anna@example.org", r["recipient"]);
    EXPECT_EQ("1", r["files"]);
    EXPECT_EQ("4294967295|" + file + "|envelope.txt.sme", r["file"]);
}

TEST_F(MailTest, WithoutAddressTheMailProgramAsks)
{
    std::string file = dir / "a.zip";
    tvtest::WriteFileBytes(file, "zip");
    ASSERT_TRUE(SendMailWithAttachment("", "", "", file.c_str()));
    auto r = Record();
    EXPECT_EQ("0", r["recipients"]);
    EXPECT_EQ(0u, r.count("recipient"));
    EXPECT_EQ("4294967295|" + file + "|a.zip", r["file"]);
}

TEST_F(MailTest, AFailureOfTheMailProgramIsAFailure)
{
    std::string file = dir / "a.zip";
    tvtest::WriteFileBytes(file, "zip");
    for (const char* scripted : {"1", "2", "11"}) {  // user abort, failure, attachment not found
        SetEnvironmentVariableA("TV_MAPI_RESULT", scripted);
        ULONG code = 0;
        EXPECT_FALSE(SendMailWithAttachment("a@b", "s", "n", file.c_str(), &code)) << scripted;
        EXPECT_EQ(strtoul(scripted, nullptr, 10), code);
        std::string error = TakeError();
        EXPECT_TRUE(Contains(error, "Your emailprogram could not be executed!")) << error;
        EXPECT_TRUE(Contains(error, "QXTools 928]")) << error;
    }
}

TEST_F(MailTest, RefusesMissingAndOversizedArguments)
{
    std::string file = dir / "a.zip";
    std::string longAddress(256, 'a');
    std::string longSubject(1024, 's');
    std::string longPath(256, 'p');
    struct Row {
        const char *address, *subject, *note, *path;
    } rows[] = {
        {nullptr, "s", "n", file.c_str()},
        {"a@b", nullptr, "n", file.c_str()},
        {"a@b", "s", nullptr, file.c_str()},
        {"a@b", "s", "n", nullptr},
        {longAddress.c_str(), "s", "n", file.c_str()},
        {"a@b", longSubject.c_str(), "n", file.c_str()},
        {"a@b", "s", "n", longPath.c_str()},
    };
    for (const Row& r : rows) {
        ULONG code = 1234;
        EXPECT_FALSE(SendMailWithAttachment(r.address, r.subject, r.note, r.path, &code));
        EXPECT_EQ(1234u, code) << "MAPISendMail was not called";
    }
    EXPECT_FALSE(tvtest::Exists(log_));
    std::string subject1023(1023, 's');
    tvtest::WriteFileBytes(file, "zip");
    EXPECT_TRUE(SendMailWithAttachment("", subject1023.c_str(), "", file.c_str()));
    EXPECT_EQ(subject1023, Record()["subject"]);
}

}  // namespace
