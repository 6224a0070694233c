#include "FileAPI.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "TestErrors.h"
#include "TestFiles.h"
#include "WriteWatch.h"

using tvtest::Contains;
using tvtest::TakeError;

namespace {

// Replaceable queries: a fixed free memory, a fixed free disk space that
// remembers what it was asked about.
uint64_t g_fakeVirtual = 0;
uint64_t FakeVirtual() { return g_fakeVirtual; }

uint64_t g_fakeDisk = 0;
bool g_fakeDiskFails = false;
std::string g_diskAsked;
BOOL WINAPI FakeDisk(LPCSTR path, PULARGE_INTEGER available, PULARGE_INTEGER total,
                     PULARGE_INTEGER free)
{
    g_diskAsked = path ? path : "(null)";
    if (g_fakeDiskFails)
        return FALSE;
    available->QuadPart = g_fakeDisk;
    total->QuadPart = g_fakeDisk;
    free->QuadPart = g_fakeDisk;
    return TRUE;
}

// The names in a folder, "." and ".." left out.
std::vector<std::string> Listing(const std::string& folder)
{
    return tvtest::ListNames(folder);
}

class FileApiTest : public ::testing::Test {
protected:
    void SetUp() override { ClearLastError(); }
    void TearDown() override
    {
        SetAvailVirtualQuery(nullptr);
        SetDiskFreeQuery(nullptr);
        g_fakeDiskFails = false;
        ClearLastError();
    }
    tvtest::TempDir dir{"fileapi"};
    std::string LongPath() const { return dir.path() + "\\" + std::string(260, 'x'); }
};

TEST_F(FileApiTest, ExistenceTests)
{
    std::string file = dir / "f.txt";
    tvtest::WriteFileBytes(file, "abc");
    std::string missing = dir / "missing.txt";
    std::string longPath = LongPath();
    struct Row {
        const char* path;
        bool exists, canRead, isDir;
    } rows[] = {
        {file.c_str(), true, true, false},
        {dir.path().c_str(), true, false, true},
        {missing.c_str(), false, false, false},
        {"", false, false, false},
        {nullptr, false, false, false},
        {longPath.c_str(), false, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.path ? r.path : "(null)");
        EXPECT_EQ(r.exists, FileExists(r.path));
        EXPECT_EQ(r.canRead, FileCanRead(r.path));
        EXPECT_EQ(r.isDir, IsDirectory(r.path));
    }
}

// Only a name that is plainly not there is free; a folder takes it as well.
TEST_F(FileApiTest, NameTaken)
{
    std::string file = dir / "f.txt";
    tvtest::WriteFileBytes(file, "abc");
    std::string missing = dir / "missing.txt";
    std::string missingFolder = dir / "nofolder\\missing.txt";
    struct Row {
        const char* path;
        bool taken;
    } rows[] = {
        {file.c_str(), true},
        {dir.path().c_str(), true},
        {missing.c_str(), false},
        {missingFolder.c_str(), false},
        {"", false},
        {nullptr, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.taken, NameTaken(r.path)) << (r.path ? r.path : "(null)");
}

TEST_F(FileApiTest, IsDriveRoot)
{
    struct Row {
        const char* path;
        bool root;
    } rows[] = {{"D:", true},   {"D:\\", true}, {"?:", true},     {"D:\\x", false},
                {"D", false},   {"", false},    {nullptr, false}, {"D:/", false},
                {"DD:", false}, {"D:\\\\", false}};
    for (const Row& r : rows)
        EXPECT_EQ(r.root, IsDriveRoot(r.path)) << (r.path ? r.path : "(null)");
}

TEST_F(FileApiTest, ClearReadOnlyAndSize)
{
    std::string file = dir / "ro.txt";
    tvtest::WriteFileBytes(file, std::string(1234, 'r'));
    EXPECT_EQ(1234u, QueryFileSize(file.c_str()));
    EXPECT_EQ(0u, QueryFileSize((dir / "none").c_str()));
    EXPECT_EQ(0u, QueryFileSize(nullptr));

    EXPECT_FALSE(ClearReadOnly(file.c_str())) << "not read-only";
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(ClearReadOnly(file.c_str()));
    EXPECT_FALSE(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(FileApiTest, ReadWholeFileReadsEverythingAndTerminates)
{
    std::string file = dir / "big.bin";
    std::string data = tvtest::PatternBytes(5000000, 7);
    tvtest::WriteFileBytes(file, data);
    TQXFile f;
    unsigned char* buffer = nullptr;
    DWORD length = 0;
    ASSERT_TRUE(f.ReadWholeFile(file.c_str(), &buffer, &length));
    ASSERT_EQ(5000000u, length);
    EXPECT_EQ(0, memcmp(buffer, data.data(), length));
    EXPECT_EQ(0, buffer[length]);
    EXPECT_TRUE(f.FreeBuffer(buffer));
    EXPECT_TRUE(f.FreeBuffer(nullptr));
    EXPECT_EQ("", TakeError());
}

TEST_F(FileApiTest, ReadWholeFileRefusals)
{
    std::string empty = dir / "empty.bin";
    tvtest::WriteFileBytes(empty, "");
    std::string missing = dir / "missing.bin";
    std::string longPath = LongPath();
    struct Row {
        const char* path;
        const char* reason;
    } rows[] = {
        {empty.c_str(), "Insufficient physical memory (RAM)!"},
        {missing.c_str(), "This file does not exist!"},
        {"", "Invalid parameter (file name)!"},
        {nullptr, "Invalid parameter (file name)!"},
        {longPath.c_str(), "Invalid parameter (file name)!"},
    };
    TQXFile f;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.path ? r.path : "(null)");
        unsigned char* buffer = reinterpret_cast<unsigned char*>(1);
        DWORD length = 99;
        EXPECT_FALSE(f.ReadWholeFile(r.path, &buffer, &length));
        EXPECT_EQ(nullptr, buffer);
        EXPECT_EQ(0u, length);
        std::string error = TakeError();
        EXPECT_TRUE(Contains(error, std::string("could not be read! - (") + r.reason + ")"))
            << error;
        EXPECT_TRUE(Contains(error, "FileAPI 1046]")) << error;
    }
}

TEST_F(FileApiTest, ReadWholeFileTakesAtMostAThirdOfFreeMemory)
{
    std::string file = dir / "hundred.bin";
    tvtest::WriteFileBytes(file, std::string(100, 'h'));
    TQXFile f;
    unsigned char* buffer = nullptr;
    DWORD length = 0;

    g_fakeVirtual = 300;  // limit 100: the file fits exactly
    SetAvailVirtualQuery(&FakeVirtual);
    ASSERT_TRUE(f.ReadWholeFile(file.c_str(), &buffer, &length));
    f.FreeBuffer(buffer);

    g_fakeVirtual = 299;  // limit 99
    EXPECT_FALSE(f.ReadWholeFile(file.c_str(), &buffer, &length));
    EXPECT_TRUE(Contains(TakeError(), "Insufficient physical memory (RAM)!"));
}

TEST_F(FileApiTest, SizesOf4GiBAndMoreAreNotCut)
{
    // A sparse file of 4 GiB + 10 bytes: its low 32 bits alone would read as 10.
    std::string file = dir / "huge.bin";
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    LARGE_INTEGER end;
    end.QuadPart = 0x10000000Aull;
    bool sized = SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    if (!sized)
        GTEST_SKIP() << "no sparse file of 4 GiB here";
    EXPECT_EQ(0x10000000Aull, QueryFileSize(file.c_str()));

    g_fakeVirtual = 1ull << 46;  // plenty: only the 4 GiB rule refuses it
    SetAvailVirtualQuery(&FakeVirtual);
    TQXFile f;
    unsigned char* buffer = nullptr;
    DWORD length = 0;
    EXPECT_FALSE(f.ReadWholeFile(file.c_str(), &buffer, &length));
    EXPECT_EQ(nullptr, buffer);
    EXPECT_EQ(0u, length);
    EXPECT_TRUE(Contains(TakeError(), "Insufficient physical memory (RAM)!"));
}

TEST_F(FileApiTest, GetAvailVirtualIsMeasuredIn64Bits)
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    ASSERT_TRUE(GlobalMemoryStatusEx(&status));
    uint64_t avail = GetAvailVirtual();
    EXPECT_GT(avail, 0u);
    if (status.ullAvailVirtual > 0xFFFFFFFFull) {
        EXPECT_GT(avail, 0xFFFFFFFFull) << "x64: far more than 4 GiB of address space";
    }
}

TEST_F(FileApiTest, WriteWholeFileWritesANewFileAndNeverReplacesOne)
{
    std::string file = dir / "out.bin";
    std::string data = tvtest::PatternBytes(4500000, 3);
    ASSERT_TRUE(WriteWholeFile(file.c_str(), data.data(), static_cast<DWORD>(data.size())));
    EXPECT_TRUE(data == tvtest::ReadFileBytes(file));
    EXPECT_EQ("", TakeError());
    // A file at the name is someone's: it stays as it is, also one that
    // cannot be read, and the write says why it failed.
    struct Row {
        const char* what;
        DWORD share;  // of another program that holds the file; 1: nobody holds it
    } rows[] = {{"not held", 1}, {"held for reading", FILE_SHARE_READ | FILE_SHARE_WRITE},
                {"held without sharing", 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        HANDLE holder = row.share == 1 ? INVALID_HANDLE_VALUE
                                       : CreateFileA(file.c_str(), GENERIC_READ, row.share, nullptr,
                                                     OPEN_EXISTING, 0, nullptr);
        ASSERT_TRUE(row.share == 1 || holder != INVALID_HANDLE_VALUE);
        EXPECT_FALSE(WriteWholeFile(file.c_str(), "xy", 2));
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
        int32_t code = 0;
        std::string error = TakeError(&code);
        EXPECT_TRUE(Contains(error, "out.bin' could not be written! - (File already exists!)")) << error;
        EXPECT_EQ(ERROR_ALREADY_EXISTS, code) << error;
        EXPECT_TRUE(data == tvtest::ReadFileBytes(file)) << "the old file is kept";
        EXPECT_EQ(std::vector<std::string>{"out.bin"}, Listing(dir.path())) << "no stray file";
    }
}

// A file that appears at the name while the data are written stays as it
// is; the new file goes, wiped first with wipe (three more passes over it).
TEST_F(FileApiTest, AFileThatAppearsWhileTheDataAreWrittenIsNeverReplaced)
{
    for (bool wipe : {false, true}) {
        SCOPED_TRACE(wipe ? "wiped" : "not wiped");
        std::string file = dir / "late.bin";
        std::string data = tvtest::PatternBytes(300000, 5);
        std::vector<std::string> writes;  // the names written, at each write
        bool planted = false;
        bool written = true;
        {
            tvtest::WriteWatch watch([&](tvtest::WriteWatch::Event event, const std::string& path) {
                if (event == tvtest::WriteWatch::Event::Write)
                    writes.push_back(tvtest::BaseName(path));
                if (!planted && !tvtest::Exists(file)) {
                    tvtest::WriteFileBytes(file, "SQUATTER");
                    planted = true;
                }
            });
            ASSERT_TRUE(watch.ok());
            written = WriteWholeFile(file.c_str(), data.data(), static_cast<DWORD>(data.size()), wipe);
        }
        EXPECT_TRUE(planted);
        EXPECT_FALSE(written);
        int32_t code = 0;
        std::string error = TakeError(&code);
        EXPECT_TRUE(Contains(error, "late.bin' could not be written! - (File already exists!)")) << error;
        EXPECT_EQ(ERROR_ALREADY_EXISTS, code) << error;
        EXPECT_EQ("SQUATTER", tvtest::ReadFileBytes(file));
        EXPECT_EQ(std::vector<std::string>{"late.bin"}, Listing(dir.path())) << "no stray file";
        // Every write went to the temporary file: the data once, and the wipe.
        ASSERT_EQ(writes.size(), wipe ? 4u : 1u);
        for (const std::string& name : writes)
            EXPECT_EQ(name, writes[0]);
        EXPECT_NE(writes[0], "late.bin");
        DeleteFileA(file.c_str());
    }
}

TEST_F(FileApiTest, AWriteThatRunsOutOfDiskSpaceSaysSoAndKeepsTheOldFile)
{
    std::string folder = tvtest::FullDiskFolder("full-disk-file");
    if (folder.empty())
        GTEST_SKIP() << "no small file system to fill here";
    std::string file = folder + "\\old.bin";
    tvtest::WriteFileBytes(file, "old contents");
    // The free space is asked of a stand-in that promises plenty: the write
    // itself runs out.
    SetDiskFreeQuery(&FakeDisk);
    g_fakeDisk = 100000000;
    std::string big(400000, 'b');
    SetLastError(ERROR_ALREADY_EXISTS);  // left by some earlier call
    EXPECT_FALSE(WriteWholeFile(file.c_str(), big.data(), static_cast<DWORD>(big.size())));
    int32_t code = 0;
    std::string error = TakeError(&code);
    EXPECT_TRUE(Contains(error, "' could not be written! - (Storage capacity destination drive exeeded!)"))
        << error;
    EXPECT_EQ(ERROR_DISK_FULL, code) << error;
    EXPECT_FALSE(Contains(error, "(0xb7)")) << error;
    EXPECT_EQ("old contents", tvtest::ReadFileBytes(file));
    EXPECT_EQ(std::vector<std::string>{"old.bin"}, Listing(folder)) << "no stray file";
    // The same for a file that was not there: nothing of it stays.
    std::string fresh = folder + "\\new.bin";
    EXPECT_FALSE(WriteWholeFile(fresh.c_str(), big.data(), static_cast<DWORD>(big.size())));
    EXPECT_TRUE(Contains(TakeError(), "' could not be written! - (Storage capacity destination drive exeeded!)"));
    EXPECT_EQ(std::vector<std::string>{"old.bin"}, Listing(folder)) << "no stray file";
    DeleteFileA(file.c_str());
}

// However little room the folder leaves, the data are written under a
// temporary name that fits beside the name, never at the name itself; where
// no temporary name is free, the write fails and says so.
TEST_F(FileApiTest, WriteWholeFileInFoldersOfNearlyFullLength)
{
    struct Row {
        size_t room;       // characters the folder leaves of 255
        const char* name;
        int taken;         // names of one character made beside first (of 36)
        bool writes;
    } rows[] = {
        {12, "report.txt", 0, true}, {11, "report.txt", 0, true}, {5, "x.bin", 0, true},
        {2, "xy", 0, true},          {1, "x", 0, true},           {1, "x", 34, true},
        {1, "x", 35, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.room) + " " + row.name + " " + std::to_string(row.taken));
        std::string folder = dir.path() + "\\" + std::string(254 - row.room - dir.path().size() - 1, 'l');
        tvtest::RemoveTree(folder);
        if (!CreateDirectoryA(folder.c_str(), nullptr))
            GTEST_SKIP() << "no folder of " << folder.size() << " characters here";
        std::vector<std::string> expected;
        const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
        for (int i = 0, made = 0; made < row.taken; ++i) {
            std::string one(1, kDigits[i]);
            if (one == row.name)
                continue;
            tvtest::WriteFileBytes(folder + "\\" + one, "taken");
            expected.push_back(one);
            ++made;
        }
        std::string file = folder + "\\" + row.name;
        ASSERT_EQ(file.size(), 255 - row.room + strlen(row.name));
        std::vector<std::string> created;
        bool written = false;
        {
            tvtest::WriteWatch watch([&](tvtest::WriteWatch::Event event, const std::string& path) {
                if (event == tvtest::WriteWatch::Event::Create)
                    created.push_back(path);
            });
            ASSERT_TRUE(watch.ok());
            written = WriteWholeFile(file.c_str(), "long", 4);
        }
        std::string error = TakeError();
        EXPECT_EQ(row.writes, written) << error;
        for (const std::string& path : created) {
            EXPECT_LE(path.size(), 255u) << path;
            EXPECT_NE(tvtest::BaseName(path), row.name);
        }
        if (row.writes) {
            EXPECT_EQ("long", tvtest::ReadFileBytes(file));
            expected.push_back(row.name);
        } else {
            EXPECT_TRUE(Contains(error, "' could not be written! - (No temporary name is free in this folder!)"))
                << error;
        }
        std::vector<std::string> listing = Listing(folder);
        std::sort(listing.begin(), listing.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, listing) << "no stray file";
        tvtest::RemoveTree(folder);
    }
}

TEST_F(FileApiTest, WriteWholeFileRefusals)
{
    std::string file = dir / "w.bin";
    std::string inMissingFolder = dir / "no\\such\\w.bin";
    std::string longPath = LongPath();
    struct Row {
        const char* path;
        const void* data;
        DWORD length;
        const char* reason;
    } rows[] = {
        {nullptr, "a", 1, "Invalid parameter (file name)!"},
        {file.c_str(), nullptr, 1, "Invalid parameter (file name)!"},
        {"", "a", 1, "Invalid parameter (file name)!"},
        {file.c_str(), "a", 0, "Invalid parameter (file name)!"},
        {longPath.c_str(), "a", 1, "Invalid parameter (file name)!"},
        {inMissingFolder.c_str(), "a", 1, "Create or open file failed!"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.path ? r.path : "(null)");
        EXPECT_FALSE(WriteWholeFile(r.path, r.data, r.length));
        std::string error = TakeError();
        EXPECT_TRUE(Contains(error, std::string("could not be written! - (") + r.reason + ")"))
            << error;
        EXPECT_TRUE(Contains(error, "FileAPI 911]")) << error;
    }
    EXPECT_FALSE(FileExists(file.c_str()));
}

TEST_F(FileApiTest, WriteWholeFileNeedsRoomOnTheDrive)
{
    std::string file = dir / "room.bin";
    SetDiskFreeQuery(&FakeDisk);
    g_fakeDisk = 10;
    EXPECT_FALSE(WriteWholeFile(file.c_str(), "0123456789", 10)) << "equal to free space";
    EXPECT_TRUE(Contains(TakeError(), "Storage capacity destination drive exeeded!"));
    EXPECT_FALSE(FileExists(file.c_str()));
    EXPECT_TRUE(WriteWholeFile(file.c_str(), "012345678", 9));
    EXPECT_EQ("012345678", tvtest::ReadFileBytes(file));
}

TEST_F(FileApiTest, GetDiskFreeAsksTheDriveOrTheFolder)
{
    SetDiskFreeQuery(&FakeDisk);
    g_fakeDisk = 5000;
    struct Row {
        const char* path;
        const char* asked;
    } rows[] = {
        {"C:\\dir\\file.txt", "C:"},
        {"Z:", "Z:"},
        {"\\\\server\\share\\dir\\file.txt", "\\\\server\\share\\dir\\"},
        {"\\\\server\\share\\f.txt", "\\\\server\\share\\"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(5000u, GetDiskFree(r.path)) << r.path;
        EXPECT_EQ(r.asked, g_diskAsked) << r.path;
    }
    g_fakeDisk = 0x100000000ull;
    EXPECT_EQ(0x7FFFFFF8u, GetDiskFree("C:\\x"));
    g_fakeDisk = 0x7FFFFFF9ull;
    EXPECT_EQ(0x7FFFFFF8u, GetDiskFree("C:\\x"));
    g_fakeDiskFails = true;
    EXPECT_EQ(0u, GetDiskFree("C:\\x"));
    EXPECT_EQ(0u, GetDiskFree(""));
    EXPECT_EQ(0u, GetDiskFree(nullptr));

    SetDiskFreeQuery(nullptr);
    EXPECT_GT(GetDiskFree(dir.path().c_str()), 0u);
}

TEST_F(FileApiTest, WipeFileOverwritesInPlace)
{
    std::string file = dir / "secret.txt";
    std::string link = dir / "secret-link.txt";
    tvtest::WriteFileBytes(file, tvtest::PatternBytes(3000000, 9));
    // A second name of the same file shows whether its own data were overwritten.
    bool linked = CreateHardLinkA(link.c_str(), file.c_str(), nullptr) != FALSE;
    ASSERT_TRUE(WipeFile(file.c_str()));
    EXPECT_EQ(std::string(3000000, '\xAA'), tvtest::ReadFileBytes(file));
    if (linked) {
        EXPECT_EQ(std::string(3000000, '\xAA'), tvtest::ReadFileBytes(link));
    }

    std::string empty = dir / "empty.txt";
    tvtest::WriteFileBytes(empty, "");
    EXPECT_TRUE(WipeFile(empty.c_str()));
    EXPECT_EQ("", tvtest::ReadFileBytes(empty));
    std::string missing = dir / "missing.txt";
    EXPECT_TRUE(WipeFile(missing.c_str()));
    EXPECT_FALSE(FileExists(missing.c_str())) << "a missing file is not created";
    EXPECT_FALSE(WipeFile(nullptr));
}

TEST_F(FileApiTest, DeleteFileEx)
{
    std::string plain = dir / "plain.txt";
    std::string readOnly = dir / "ro.txt";
    std::string wiped = dir / "wiped.txt";
    tvtest::WriteFileBytes(plain, "p");
    tvtest::WriteFileBytes(readOnly, "r");
    tvtest::WriteFileBytes(wiped, "w");
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

    EXPECT_TRUE(DeleteFileEx(plain.c_str(), false));
    EXPECT_TRUE(DeleteFileEx(readOnly.c_str(), false));
    EXPECT_TRUE(DeleteFileEx(wiped.c_str(), true));
    EXPECT_TRUE(DeleteFileEx((dir / "missing.txt").c_str(), true));
    EXPECT_TRUE(DeleteFileEx((dir / "no\\such\\file.txt").c_str(), false));
    for (const std::string& p : {plain, readOnly, wiped})
        EXPECT_FALSE(FileExists(p.c_str())) << p;
    EXPECT_EQ("", TakeError());

    std::string folder = dir / "folder";
    tvtest::MakeDir(folder);
    EXPECT_FALSE(DeleteFileEx(folder.c_str(), true)) << "a folder is not a file";
    EXPECT_TRUE(Contains(TakeError(), "FileAPI 342]"));
    EXPECT_TRUE(IsDirectory(folder.c_str()));

    SetLastError(0);
    EXPECT_FALSE(DeleteFileEx(nullptr, false));
    EXPECT_EQ("  [0 FileAPI 342]", TakeError()) << "an empty message";
    EXPECT_FALSE(DeleteFileEx("", false));
    EXPECT_TRUE(Contains(TakeError(), "File / Directory '' could not be remove!"));
}

struct HeldDeleteRow {
    const char* name;
    DWORD share;   // how another handle holds the file
    bool wipe;
    bool removed;  // once that handle is closed
};

// A file that is held so that it cannot be deleted fails and keeps its
// content and attributes, wiped or not; one whose holder allows deleting goes.
TEST_F(FileApiTest, DeleteFileExNeverWipesAFileItCannotRemove)
{
    const DWORD readWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const HeldDeleteRow rows[] = {
        {"no sharing", 0, false, false},
        {"no sharing, wiped", 0, true, false},
        {"no delete sharing", readWrite, false, false},
        {"no delete sharing, wiped", readWrite, true, false},
        {"delete sharing", readWrite | FILE_SHARE_DELETE, false, true},
        {"delete sharing, wiped", readWrite | FILE_SHARE_DELETE, true, true},
    };
    const std::string content = tvtest::PatternBytes(100000, 3);
    for (const HeldDeleteRow& row : rows) {
        SCOPED_TRACE(row.name);
        std::string file = dir / "held.txt";
        tvtest::WriteFileBytes(file, content);
        SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
        DWORD attributes = GetFileAttributesA(file.c_str());
        HANDLE holder = CreateFileA(file.c_str(), GENERIC_READ, row.share, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, holder);

        EXPECT_EQ(row.removed, DeleteFileEx(file.c_str(), row.wipe));
        std::string error = TakeError();
        CloseHandle(holder);

        if (row.removed) {
            EXPECT_EQ("", error);
            EXPECT_FALSE(FileExists(file.c_str()));
            continue;
        }
        EXPECT_TRUE(Contains(error, "File / Directory '" + file + "' could not be remove!")) << error;
        EXPECT_TRUE(Contains(error, "[32 FileAPI 342]")) << error;
        EXPECT_EQ(content, tvtest::ReadFileBytes(file));
        EXPECT_EQ(attributes, GetFileAttributesA(file.c_str()));
        tvtest::RemoveTree(file);
    }
}

TEST_F(FileApiTest, RemoveDirectoryEx)
{
    std::string x = dir / "x";
    tvtest::MakeDir(x);
    EXPECT_TRUE(RemoveDirectoryEx((x + "\\").c_str()));
    EXPECT_FALSE(FileExists(x.c_str()));
    EXPECT_TRUE(RemoveDirectoryEx(x.c_str())) << "already gone";
    EXPECT_TRUE(RemoveDirectoryEx(""));

    std::string full = dir / "full";
    tvtest::MakeDir(full);
    tvtest::WriteFileBytes(full + "\\f", "f");
    EXPECT_FALSE(RemoveDirectoryEx(full.c_str()));
    EXPECT_TRUE(Contains(TakeError(), "FileAPI 374]"));
    EXPECT_TRUE(FileExists((full + "\\f").c_str()));
    EXPECT_FALSE(RemoveDirectoryEx(nullptr));
}

TEST_F(FileApiTest, CreateDirectoryTree)
{
    std::string blocker = dir / "blocker";
    tvtest::WriteFileBytes(blocker, "a file in the way");
    std::string longPath = LongPath();
    struct Row {
        std::string path;
        bool ok;
        std::string check;  // must be a folder afterwards
    } rows[] = {
        {dir.path(), true, dir.path()},
        {dir / "a\\b\\c", true, dir / "a\\b\\c"},
        {dir / "a\\b\\d\\", true, dir / "a\\b\\d"},
        {"a\\b", false, ""},
        {blocker, false, ""},
        {blocker + "\\sub", false, ""},
        {dir / "bad|name\\x", false, ""},
        {longPath, false, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.path);
        EXPECT_EQ(r.ok, CreateDirectoryTree(r.path.c_str()));
        std::string error = TakeError();
        if (r.ok) {
            EXPECT_TRUE(IsDirectory(r.check.c_str()));
            EXPECT_EQ("", error);
        } else {
            EXPECT_TRUE(Contains(error, "This directory '" + r.path + "' could not be created!"))
                << error;
            EXPECT_TRUE(Contains(error, "FileAPI 460]")) << error;
        }
    }
    EXPECT_FALSE(IsDirectory(blocker.c_str()));
    EXPECT_FALSE(CreateDirectoryTree(nullptr));
}

TEST_F(FileApiTest, RelativeToBase)
{
    struct Row {
        const char* base;
        const char* path;
        bool ok;
        const char* result;
    } rows[] = {
        {"D:\\a", "D:\\a\\b\\c.txt", true, "b\\c.txt"},
        {"D:\\a\\", "D:\\a\\b\\c.txt", true, "b\\c.txt"},
        {"d:\\A", "D:\\a\\x", true, "x"},
        {"D:", "D:\\x\\y", true, "x\\y"},
        {"D:\\", "D:\\x", true, "x"},
        {"D:\\a", "D:\\a", true, ""},
        {"D:\\a", "D:\\ab\\c", false, "D:\\ab\\c"},
        {"D:\\a\\b", "D:\\a", false, "D:\\a"},
        {"E:\\a", "D:\\a\\b", false, "D:\\a\\b"},
    };
    for (const Row& r : rows) {
        char path[256];
        strcpy(path, r.path);
        EXPECT_EQ(r.ok, RelativeToBase(r.base, path)) << r.base << " " << r.path;
        EXPECT_STREQ(r.result, path) << r.base << " " << r.path;
    }
    char path[256] = "x";
    EXPECT_FALSE(RelativeToBase(nullptr, path));
    EXPECT_FALSE(RelativeToBase("D:", nullptr));
}

TEST_F(FileApiTest, GetTempDir)
{
    char temp[256];
    ASSERT_TRUE(GetTempDir(temp));
    size_t len = strlen(temp);
    ASSERT_GT(len, 0u);
    EXPECT_NE('\\', temp[len - 1]);
    EXPECT_TRUE(IsDirectory(temp));
    EXPECT_FALSE(GetTempDir(nullptr));
    EXPECT_TRUE(Contains(TakeError(), "Get temporary file or directory failed!"));
}

TEST_F(FileApiTest, FileInfoIsSavedAndRestored)
{
    TQXFile f;
    EXPECT_EQ(nullptr, f.GetFileInfo((dir / "missing").c_str()));
    EXPECT_EQ(nullptr, f.GetFileInfo(nullptr));
    std::string source = dir / "source.txt";
    tvtest::WriteFileBytes(source, "s");
    HANDLE h = CreateFileA(source.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    FILETIME old;
    old.dwLowDateTime = 0x12345600;
    old.dwHighDateTime = 0x01C00000;
    SetFileTime(h, nullptr, &old, &old);
    CloseHandle(h);
    SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_READONLY);

    FileInfo* info = f.GetFileInfo(source.c_str());
    ASSERT_NE(nullptr, info);
    EXPECT_TRUE(info->attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(0, CompareFileTime(&old, &info->lastWriteTime));
    EXPECT_FALSE(info->compressed);
    FileInfo saved = *info;

    std::string target = dir / "target.txt";
    tvtest::WriteFileBytes(target, "t");
    ASSERT_TRUE(f.SetFileInfo(target.c_str(), &saved));
    FileInfo* back = f.GetFileInfo(target.c_str());
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(0, CompareFileTime(&old, &back->lastWriteTime));
    EXPECT_TRUE(back->attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(f.SetFileInfo(target.c_str(), nullptr));
    EXPECT_FALSE(f.SetFileInfo("", &saved));
    SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
