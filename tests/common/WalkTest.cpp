#include "CDirX.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestFiles.h"

namespace {

// Records the walk as "At:path", "In:name", "Out:name".
class RecordingWalker : public CDirX1 {
public:
    std::vector<std::string> events;
    void In(const char* name) override { events.push_back(std::string("In:") + name); }
    void Out(const char* name) override { events.push_back(std::string("Out:") + name); }
    void At(const char* path) override { events.push_back(std::string("At:") + path); }

    bool Walk(const std::string& folder, const char* pattern = "*.*")
    {
        WalkRecord r;
        memset(&r, 0, sizeof r);
        strncpy(r.folder, folder.c_str(), sizeof r.folder - 1);
        strncpy(r.mask, pattern, sizeof r.mask - 1);
        return WalkTree(r);
    }
};

using Events = std::vector<std::string>;

// The attributes of an entry as its folder's listing gives them (0 when absent).
DWORD ListedAttributes(const std::string& path)
{
    std::string folder = path.substr(0, path.rfind('\\'));
    std::string leaf = path.substr(path.rfind('\\') + 1);
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &fd);
    DWORD attr = 0;
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (leaf == fd.cFileName)
            attr = fd.dwFileAttributes;
    } while (FindNextFileA(find, &fd));
    FindClose(find);
    return attr;
}

// A link to a folder: the platform's own call, or under Wine a Unix symbolic
// link, which shows as a reparse point.
bool MakeFolderLink(const std::string& link, const std::string& target)
{
    // Wine's call may succeed without making anything.
    if (CreateSymbolicLinkA(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) &&
        ListedAttributes(link) != 0)
        return true;
    typedef char*(CDECL * UnixName)(const WCHAR*);
    UnixName unixName = reinterpret_cast<UnixName>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!unixName)
        return false;
    auto toUnix = [&](const std::string& path) {
        std::wstring wide(path.begin(), path.end());
        char* name = unixName(wide.c_str());
        std::string result = name ? name : "";
        if (name)
            HeapFree(GetProcessHeap(), 0, name);
        return result;
    };
    std::string unixTarget = toUnix(target);
    std::string unixFolder = toUnix(target);  // the link's folder is the target here
    std::string leaf = link.substr(link.rfind('\\') + 1);
    if (unixTarget.empty())
        return false;
    std::string command = "Z:\\bin\\ln -s \"" + unixTarget + "\" \"" +
                          unixFolder + "/" + leaf + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        return false;
    }
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // The handle of a Unix program may signal before the program has run.
    for (int i = 0; i < 100 && ListedAttributes(link) == 0; ++i)
        Sleep(50);
    return ListedAttributes(link) != 0;
}

class WalkTest : public ::testing::Test {
protected:
    tvtest::TempDir dir{"walk"};
};

TEST_F(WalkTest, FilesAndSubfoldersInListingOrder)
{
    tvtest::WriteFileBytes(dir / "a.txt", "a");
    tvtest::WriteFileBytes(dir / "b.txt", "b");
    tvtest::MakeDir(dir / "s");
    tvtest::WriteFileBytes(dir / "s\\c.txt", "c");
    tvtest::MakeDir(dir / "t");  // empty: In and Out with nothing between
    tvtest::MakeDir(dir / ".cache");
    tvtest::WriteFileBytes(dir / ".cache\\hidden.txt", "h");
    tvtest::WriteFileBytes(dir / ".dotfile", "d");

    RecordingWalker w;
    ASSERT_TRUE(w.Walk(dir.path()));
    Events expected = {
        "At:" + (dir / ".dotfile"),
        "At:" + (dir / "a.txt"),
        "At:" + (dir / "b.txt"),
        "In:s",
        "At:" + (dir / "s\\c.txt"),
        "Out:s",
        "In:t",
        "Out:t",
    };
    EXPECT_EQ(expected, w.events);
    EXPECT_STREQ("*.*", w.mask);
}

TEST_F(WalkTest, FolderArgumentIsTrimmedAndMaskIsOnlyKept)
{
    tvtest::WriteFileBytes(dir / "a.txt", "a");
    tvtest::WriteFileBytes(dir / "b.doc", "b");
    RecordingWalker w;
    ASSERT_TRUE(w.Walk("  " + dir.path() + "\\ \t", "*.txt"));
    Events expected = {"At:" + (dir / "a.txt"), "At:" + (dir / "b.doc")};
    EXPECT_EQ(expected, w.events) << "the mask does not filter";
    EXPECT_STREQ("*.txt", w.mask);
}

TEST_F(WalkTest, MissingOrEmptyFolderGivesFalseWithoutCalls)
{
    for (std::string folder : {dir / "missing", std::string(""), std::string("   \\")}) {
        RecordingWalker w;
        EXPECT_FALSE(w.Walk(folder)) << folder;
        EXPECT_TRUE(w.events.empty()) << folder;
    }
}

TEST_F(WalkTest, LinkedFoldersAreNotEntered)
{
    tvtest::MakeDir(dir / "real");
    tvtest::WriteFileBytes(dir / "real\\f.txt", "f");
    // A link back to the walked folder would make the walk endless.
    std::string link = dir / "loop";
    if (!MakeFolderLink(link, dir.path()))
        GTEST_SKIP() << "no folder links here";
    DWORD attr = ListedAttributes(link);
    if (!(attr & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveDirectoryA(link.c_str());
        GTEST_SKIP() << "the link does not show as a reparse point " << attr;
    }
    RecordingWalker w;
    EXPECT_TRUE(w.Walk(dir.path()));
    Events expected = {"In:real", "At:" + (dir / "real\\f.txt"), "Out:real"};
    EXPECT_EQ(expected, w.events);
    RemoveDirectoryA(link.c_str());
    DeleteFileA(link.c_str());
}

TEST_F(WalkTest, EntriesWhosePathDoesNotFitAreSkippedAndReported)
{
    // folder + "\" + name longer than 255 characters: never cut, skipped.
    std::string longName(255 - dir.path().size(), 'n');  // dir\ + this = 256 characters
    std::wstring wide(L"\\\\?\\");
    for (char c : dir.path())
        wide += static_cast<wchar_t>(c);
    std::wstring wideFile = wide + L"\\" + std::wstring(longName.begin(), longName.end());
    HANDLE h = CreateFileW(wideFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        GTEST_SKIP() << "cannot make a long name here (" << GetLastError() << ")";
    CloseHandle(h);
    tvtest::WriteFileBytes(dir / "a.txt", "a");
    tvtest::WriteFileBytes(dir / "z.txt", "z");

    RecordingWalker w;
    EXPECT_FALSE(w.Walk(dir.path()));
    Events expected = {"At:" + (dir / "a.txt"), "At:" + (dir / "z.txt")};
    EXPECT_EQ(expected, w.events);
    DeleteFileW(wideFile.c_str());
}

TEST_F(WalkTest, DefaultOperationsPrint)
{
    tvtest::MakeDir(dir / "s");
    CDirX w;
    WalkRecord r;
    memset(&r, 0, sizeof r);
    strcpy(r.folder, dir.path().c_str());
    testing::internal::CaptureStdout();
    EXPECT_TRUE(w.WalkTree(r));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("\nIn :s\nOut:s", out);
}

}  // namespace
