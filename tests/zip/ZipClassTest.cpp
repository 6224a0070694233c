// TQXZip: packing trees and files, entry replacement, deleting sources,
// unpacking with and without folders, and hostile or damaged archives.
#include "TestFiles.h"
#include "TestErrors.h"
#include "WriteWatch.h"
#include "ZipAPI.h"
#include "ZipTestUtil.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using tvtest::Exists;
using tvtest::MakeDir;
using tvtest::ReadFileBytes;
using tvtest::TempDir;
using tvtest::WriteFileBytes;
using ziptest::Item;
using ziptest::ReadItem;

namespace {

// Exposes the state and records the hooks; answers come from the test.
class ProbeZip : public TQXZip {
public:
    uint32_t Count() const { return entryCount; }
    void WipeLeftovers(bool on) { wipe = on; }
    bool Aborted() const { return abort; }
    const char* Message() const { return message; }

    bool OnEntryExists(const char* path) override
    {
        existsAsked.push_back(path);
        return replaceExisting;
    }
    bool OnDeleteSource(const char* path) override
    {
        deleteAsked.push_back(path);
        return keepSuffix.empty() || std::string(path).find(keepSuffix) == std::string::npos;
    }
    bool OnUnzipProgress(const char* name, uint32_t number, uint32_t total) override
    {
        progress.push_back(name);
        return number != stopAt;
    }
    bool OnUnzipOverwrite(const char* target) override
    {
        overwriteAsked.push_back(target);
        return overwrite;
    }

    bool replaceExisting = true;
    bool overwrite = true;
    uint32_t stopAt = 0;
    std::string keepSuffix;
    std::vector<std::string> existsAsked, deleteAsked, progress, overwriteAsked;
};

std::vector<ReadItem> ReadBack(const std::string& archive)
{
    std::vector<ReadItem> items;
    EXPECT_TRUE(ziptest::ReadArchive(archive, &items)) << archive;
    return items;
}

std::string HeldError() { return tvtest::TakeError(); }

// Every file and folder below a folder, relative, sorted.
void ListTree(const std::string& root, const std::string& rel, std::vector<std::string>* out)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((root + (rel.empty() ? "" : "\\" + rel) + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string n = fd.cFileName;
        if (n == "." || n == "..")
            continue;
        std::string r = rel.empty() ? n : rel + "\\" + n;
        out->push_back(r);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListTree(root, r, out);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    std::sort(out->begin(), out->end());
}

std::vector<std::string> Tree(const std::string& root)
{
    std::vector<std::string> out;
    ListTree(root, "", &out);
    return out;
}

bool ZipPaths(TQXZip& zip, const std::string& base, const std::string& archive,
              const std::vector<std::string>& sources, bool deleteSource = false,
              const char* comment = "entry comment", bool create = true)
{
    if (!zip.OpenArchive(base.c_str(), archive.c_str(), create, -1))
        return false;
    bool ok = true;
    for (const std::string& s : sources)
        ok = zip.Zip(archive.c_str(), s.c_str(), comment, 10, deleteSource, false) && ok;
    return zip.CloseArchive("global comment") && ok;
}

class ZipClass : public ::testing::Test {
protected:
    void SetUp() override { ClearLastError(); }
    void TearDown() override { ClearLastError(); }
    TempDir dir{"zc"};
};

// A tree walk takes kind, size and time of each entry from its listing; a
// path given by itself is looked up. Both give the same archive, byte for byte.
TEST_F(ZipClass, ATreeZipsAsItsPathsOneByOne)
{
    MakeDir(dir / "t\\b\\c");
    WriteFileBytes(dir / "t\\one.txt", std::string(3000, 'a'));
    WriteFileBytes(dir / "t\\b\\two.bin", tvtest::PatternBytes(20000, 5));
    WriteFileBytes(dir / "t\\b\\c\\empty.txt", "");
    WriteFileBytes(dir / "t\\b\\c\\three.txt", "three");
    std::string walked = dir / "walked.zip";
    ProbeZip zip;
    ASSERT_TRUE(ZipPaths(zip, dir.path(), walked, {dir / "t"}));
    std::vector<std::string> names = ziptest::Names(ReadBack(walked));
    EXPECT_EQ(5u, names.size()) << "b/, c/ and three files, not the empty one";

    std::string single = dir / "single.zip";
    ProbeZip one;
    ASSERT_TRUE(one.OpenArchive(dir.path().c_str(), single.c_str(), true, -1));
    for (std::string name : names) {
        if (name.back() == '/')
            name.pop_back();
        for (char& c : name)
            if (c == '/')
                c = '\\';
        ASSERT_TRUE(one.AddFile((dir / name).c_str(), "entry comment", 10)) << name;
    }
    ASSERT_TRUE(one.CloseArchive("global comment"));
    EXPECT_TRUE(ReadFileBytes(walked) == ReadFileBytes(single));
    EXPECT_EQ("", HeldError());
}

TEST_F(ZipClass, TreeGivesSubfolderEntriesAndSkipsTheArchiveInside)
{
    // a\b\c.txt zipped with the parent of a as base; the archive lies in a itself.
    MakeDir(dir / "a\\b");
    WriteFileBytes(dir / "a\\b\\c.txt", "hello");
    std::string archive = dir / "a\\out.zip";
    ProbeZip zip;
    ASSERT_TRUE(ZipPaths(zip, dir.path(), archive, {dir / "a"}));
    std::vector<ReadItem> items = ReadBack(archive);
    EXPECT_EQ((std::vector<std::string>{"a/b/", "a/b/c.txt"}), ziptest::Names(items));
    ASSERT_EQ(2u, items.size());
    EXPECT_EQ("hello", items[1].data);
    EXPECT_EQ("entry comment", items[1].comment);
    EXPECT_EQ(8u, items[1].method);
    EXPECT_EQ("", HeldError());
}

TEST_F(ZipClass, SingleFilesEmptyFilesAndStoredLevel)
{
    WriteFileBytes(dir / "one.txt", "one");
    WriteFileBytes(dir / "empty.txt", "");
    std::string archive = dir / "f.zip";
    ProbeZip zip;
    ASSERT_TRUE(zip.OpenArchive((dir.path() + "\\").c_str(), archive.c_str(), true, 0));
    ASSERT_TRUE(zip.Zip(archive.c_str(), (dir / "one.txt").c_str(), nullptr, 2, false, false));
    ASSERT_TRUE(zip.Zip(archive.c_str(), (dir / "empty.txt").c_str(), nullptr, 2, false, false));
    EXPECT_EQ(2u, zip.Count());  // the skipped empty file counts too
    ASSERT_TRUE(zip.CloseArchive(nullptr));
    std::vector<ReadItem> items = ReadBack(archive);
    EXPECT_EQ(std::vector<std::string>{"one.txt"}, ziptest::Names(items));
    EXPECT_EQ(0u, items[0].method);

    // Closing again: nothing is open.
    EXPECT_FALSE(zip.CloseArchive(nullptr));
    EXPECT_NE(std::string::npos, HeldError().find("This ZIP - file could not be closed! (zip)"));
}

TEST_F(ZipClass, AnExistingEntryIsReplacedOrKeptAsTheHookSays)
{
    WriteFileBytes(dir / "x.txt", "old");
    WriteFileBytes(dir / "y.txt", "y");
    std::string archive = dir / "r.zip";
    {
        ProbeZip zip;
        ASSERT_TRUE(ZipPaths(zip, dir.path(), archive, {dir / "x.txt", dir / "y.txt"}));
    }
    WriteFileBytes(dir / "x.txt", "new");
    {
        ProbeZip zip;  // default answer: replace
        ASSERT_TRUE(ZipPaths(zip, dir.path(), archive, {dir / "x.txt"}, false, nullptr, false));
        EXPECT_EQ(1u, zip.existsAsked.size());
    }
    std::vector<ReadItem> items = ReadBack(archive);
    ASSERT_EQ((std::vector<std::string>{"y.txt", "x.txt"}), ziptest::Names(items));
    EXPECT_EQ("new", items[1].data);

    WriteFileBytes(dir / "x.txt", "newest");
    {
        ProbeZip zip;
        zip.replaceExisting = false;
        ASSERT_TRUE(ZipPaths(zip, dir.path(), archive, {dir / "x.txt"}, true, nullptr, false));
        EXPECT_TRUE(zip.deleteAsked.empty());
    }
    items = ReadBack(archive);
    EXPECT_EQ("new", items[1].data);
    // A kept entry's source is never deleted.
    EXPECT_EQ("newest", ReadFileBytes(dir / "x.txt"));
}

TEST_F(ZipClass, OnlySourcesWhoseEntryWasWrittenAreDeleted)
{
    MakeDir(dir / "src\\sub");
    MakeDir(dir / "src\\keep");
    WriteFileBytes(dir / "src\\a.txt", "a");
    WriteFileBytes(dir / "src\\empty.txt", "");
    WriteFileBytes(dir / "src\\sub\\b.txt", "b");
    WriteFileBytes(dir / "src\\keep\\c.keep", "c");
    std::string archive = dir / "d.zip";
    ProbeZip zip;
    zip.keepSuffix = ".keep";
    ASSERT_TRUE(ZipPaths(zip, dir.path(), archive, {dir / "src"}, true));
    std::vector<ReadItem> items = ReadBack(archive);
    EXPECT_EQ((std::vector<std::string>{"src/a.txt", "src/keep/", "src/keep/c.keep", "src/sub/",
                                        "src/sub/b.txt"}),
              [&] {
                  auto n = ziptest::Names(items);
                  std::sort(n.begin(), n.end());
                  return n;
              }());
    // Written and allowed: gone. The empty file and the refused one stay, with their folders.
    EXPECT_EQ((std::vector<std::string>{"empty.txt", "keep", "keep\\c.keep"}), Tree(dir / "src"));
}

TEST_F(ZipClass, TimesOutsideTheDosRangeGetTheNearestDosTime)
{
    struct Row {
        const char* name;
        WORD year;
        uint32_t expected;
    } rows[] = {
        {"old.txt", 1970, 0x00210000u},                                  // 1980-01-01 00:00:00
        {"future.txt", 2150, (((127u << 9) | (12u << 5) | 31u) << 16) |  // 2107-12-31 23:59:58
                                 ((23u << 11) | (59u << 5) | 29u)},
        {"now.txt", 2024, 0},
    };
    for (const Row& row : rows) {
        WriteFileBytes(dir / row.name, "t");
        SYSTEMTIME st{};
        st.wYear = row.year;
        st.wMonth = 6;
        st.wDay = 15;
        st.wHour = 10;
        FILETIME local, utc;
        ASSERT_TRUE(SystemTimeToFileTime(&st, &local));
        LocalFileTimeToFileTime(&local, &utc);
        HANDLE h = CreateFileA((dir / row.name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &utc));
        CloseHandle(h);
    }
    std::string archive = dir / "t.zip";
    ProbeZip zip;
    ASSERT_TRUE(ZipPaths(zip, dir.path(), archive,
                         {dir / "old.txt", dir / "future.txt", dir / "now.txt"}));
    std::vector<ReadItem> items = ReadBack(archive);
    ASSERT_EQ(3u, items.size());
    EXPECT_EQ(rows[0].expected, items[0].dosDate);
    EXPECT_EQ(rows[1].expected, items[1].dosDate);
    EXPECT_EQ((((2024u - 1980u) << 9) | (6u << 5) | 15u) << 16 | (10u << 11), items[2].dosDate);
}

TEST_F(ZipClass, UnzipRebuildsFoldersOrDropsThemAndRestoresTimes)
{
    std::string archive = dir / "u.zip";
    std::string big = tvtest::PatternBytes(100000, 4);
    ASSERT_TRUE(ziptest::WriteArchive(archive,
                                      {Item{"top/", "", "", 0}, Item{"top/sub/big.bin", big, "", 8},
                                       Item{"top/small.txt", "small", "", 0}, Item{"root.txt", "r", "", 8}},
                                      nullptr));
    MakeDir(dir / "full");
    ProbeZip zip;
    ASSERT_TRUE(zip.Unzip(archive.c_str(), (dir / "full\\").c_str(), false));
    EXPECT_EQ((std::vector<std::string>{"root.txt", "top", "top\\small.txt", "top\\sub",
                                        "top\\sub\\big.bin"}),
              Tree(dir / "full"));
    EXPECT_EQ(big, ReadFileBytes(dir / "full\\top\\sub\\big.bin"));
    EXPECT_EQ(4u, zip.progress.size());

    // The entry's DOS time (local) is the file's last-write time.
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir / "full\\root.txt").c_str(), &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    FindClose(h);
    FILETIME local;
    WORD date, time;
    FileTimeToLocalFileTime(&fd.ftLastWriteTime, &local);
    FileTimeToDosDateTime(&local, &date, &time);
    EXPECT_EQ(0x58A16000u, ((uint32_t)date << 16) | time);

    MakeDir(dir / "flat");
    ProbeZip flat;
    ASSERT_TRUE(flat.Unzip(archive.c_str(), (dir / "flat").c_str(), true));
    EXPECT_EQ((std::vector<std::string>{"big.bin", "root.txt", "small.txt"}), Tree(dir / "flat"));
}

TEST_F(ZipClass, RefusedOverwriteOrCancelStopsTheExtraction)
{
    std::string archive = dir / "o.zip";
    ASSERT_TRUE(ziptest::WriteArchive(
        archive, {Item{"a.txt", "new a"}, Item{"b.txt", "new b"}, Item{"c.txt", "new c"}}, nullptr));
    MakeDir(dir / "t");
    WriteFileBytes(dir / "t\\b.txt", "old b");
    ProbeZip refuse;
    refuse.overwrite = false;
    EXPECT_FALSE(refuse.Unzip(archive.c_str(), (dir / "t").c_str(), false));
    EXPECT_EQ("old b", ReadFileBytes(dir / "t\\b.txt"));
    EXPECT_EQ("new a", ReadFileBytes(dir / "t\\a.txt"));
    EXPECT_FALSE(Exists(dir / "t\\c.txt"));

    ProbeZip allow;
    ASSERT_TRUE(allow.Unzip(archive.c_str(), (dir / "t").c_str(), false));
    EXPECT_EQ("new b", ReadFileBytes(dir / "t\\b.txt"));
    EXPECT_EQ((std::vector<std::string>{"a.txt", "b.txt", "c.txt"}), Tree(dir / "t"));

    MakeDir(dir / "cancel");
    ProbeZip cancel;
    cancel.stopAt = 2;
    EXPECT_FALSE(cancel.Unzip(archive.c_str(), (dir / "cancel").c_str(), false));
    EXPECT_EQ(std::vector<std::string>{"a.txt"}, Tree(dir / "cancel"));
}

TEST_F(ZipClass, HostileOrDamagedArchivesFailAndLeaveNothingBehind)
{
    std::string big = tvtest::PatternBytes(150000, 8);
    auto flip = [](const std::string& path, const std::string& name) {
        std::string bytes = ReadFileBytes(path);
        size_t at = ziptest::DataOffset(bytes, name);
        bytes[at + 40000] ^= 0x01;
        WriteFileBytes(path, bytes);
    };
    auto cut = [](const std::string& path, const std::string&) {
        std::string bytes = ReadFileBytes(path);
        WriteFileBytes(path, bytes.substr(0, bytes.size() - 200));
    };
    struct Row {
        const char* what;
        std::string name;
        std::function<void(const std::string&, const std::string&)> damage;
    } rows[] = {
        {"parent", "../evil.txt", nullptr},
        {"parent inside", "ok/../../evil.txt", nullptr},
        {"drive", "C:\\evil.txt", nullptr},
        {"drive slash", "C:/evil.txt", nullptr},
        {"backslash root", "\\evil.txt", nullptr},
        {"slash root", "/evil.txt", nullptr},
        {"stream", "evil.txt:hidden", nullptr},
        {"dot", "./evil.txt", nullptr},
        {"dots and blank", "sub/.. /evil.txt", nullptr},
        {"long name", std::string(300, 'L'), nullptr},
        {"crc", "data.bin", flip},
        {"stored crc", "stored.bin", flip},
        {"truncated", "data.bin", cut},
    };
    for (bool dropFolders : {false, true}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.what) + (dropFolders ? " (flat)" : ""));
            std::string root = dir / tvtest::UniqueName("h");
            MakeDir(root + "\\target");
            std::string archive = root + "\\h.zip";
            int method = std::string(row.what) == "stored crc" ? 0 : 8;
            ASSERT_TRUE(ziptest::WriteArchive(
                archive, {Item{"first.txt", "first"}, Item{row.name, big, "", method}}, nullptr));
            if (row.damage)
                row.damage(archive, row.name);

            ClearLastError();
            ProbeZip zip;
            EXPECT_FALSE(zip.Unzip(archive.c_str(), (root + "\\target").c_str(), dropFolders));
            // Only the good first entry may have been written (a cut archive opens not at all).
            std::vector<std::string> left = Tree(root + "\\target");
            EXPECT_TRUE(left.empty() || left == std::vector<std::string>{"first.txt"});
            EXPECT_EQ((std::vector<std::string>{"h.zip", "target"}), [&] {
                auto t = Tree(root);
                t.erase(std::remove_if(t.begin(), t.end(),
                                       [](const std::string& s) { return s.rfind("target\\", 0) == 0; }),
                        t.end());
                return t;
            }());
            EXPECT_FALSE(Exists("C:\\evil.txt"));
            EXPECT_FALSE(Exists(dir / "evil.txt"));
            EXPECT_NE(std::string::npos,
                      HeldError().find(std::string(row.what) == "truncated"
                                           ? "This ZIP - file could not be opened! (zip)"
                                           : "This ZIP - file could not be read! (zip)"));
        }
    }
}

// The method field of the entry's headers (local and central) set to another
// value: an entry the library cannot unpack.
void SetMethod(const std::string& path, const std::string& name, uint16_t method)
{
    std::string bytes = ReadFileBytes(path);
    struct Header {
        const char* signature;
        size_t methodAt, nameAt;
    } headers[] = {{"PK\x03\x04", 8, 30}, {"PK\x01\x02", 10, 46}};
    for (const Header& h : headers) {
        for (size_t at = bytes.find(h.signature, 0, 4); at != std::string::npos;
             at = bytes.find(h.signature, at + 4, 4)) {
            if (bytes.compare(at + h.nameAt, name.size(), name) != 0)
                continue;
            bytes[at + h.methodAt] = static_cast<char>(method & 0xFF);
            bytes[at + h.methodAt + 1] = static_cast<char>(method >> 8);
        }
    }
    WriteFileBytes(path, bytes);
}

TEST_F(ZipClass, ARefusedEntryIsNamedWithItsCauseAndNoStaleSystemError)
{
    std::string big = tvtest::PatternBytes(150000, 5);
    struct Row {
        const char* what;
        std::string name;
        const char* cause;  // what the held failure says after the entry's name
        int32_t code;
    } rows[] = {
        {"parent", "../evil.txt", "'../evil.txt' lies outside the target folder!", ERROR_INVALID_NAME},
        {"drive", "C:/evil.txt", "'C:/evil.txt' lies outside the target folder!", ERROR_INVALID_NAME},
        {"long name", std::string(300, 'L'), "has a name that is too long!",
         ERROR_FILENAME_EXCED_RANGE},
        {"crc", "data.bin", "'data.bin' is damaged!", 0},
        {"method", "packed.bin", "'packed.bin' is encrypted or packed by a method that is not supported!", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::string root = dir / tvtest::UniqueName("n");
        MakeDir(root + "\\target");
        std::string archive = root + "\\n.zip";
        ASSERT_TRUE(ziptest::WriteArchive(
            archive, {Item{"first.txt", "first"}, Item{row.name, big, "", row.code == 0 ? 0 : 8}},
            nullptr));
        if (std::string(row.what) == "crc") {
            std::string bytes = ReadFileBytes(archive);
            bytes[ziptest::DataOffset(bytes, row.name) + 40000] ^= 0x01;
            WriteFileBytes(archive, bytes);
        }
        if (std::string(row.what) == "method")
            SetMethod(archive, row.name, 12);

        ClearLastError();
        ProbeZip zip;
        SetLastError(ERROR_ACCESS_DENIED);  // left by some earlier call
        EXPECT_FALSE(zip.Unzip(archive.c_str(), (root + "\\target").c_str(), false));
        int32_t code = -1;
        std::string held = tvtest::TakeError(&code);
        EXPECT_TRUE(tvtest::Contains(held, "This ZIP - file could not be read! (zip) - (")) << held;
        EXPECT_TRUE(tvtest::Contains(held, row.cause)) << held;
        EXPECT_FALSE(tvtest::Contains(held, "first.txt")) << held;
        EXPECT_FALSE(tvtest::Contains(held, "(0x5)")) << held;
        EXPECT_EQ(code, row.code) << held;
    }
}


TEST_F(ZipClass, AnEntryThatRunsOutOfDiskSpaceIsNamedAndLeavesNothing)
{
    std::string target = tvtest::FullDiskFolder("full-disk-zip");
    if (target.empty())
        GTEST_SKIP() << "no small file system to fill here";
    std::string archive = dir / "big.zip";
    ASSERT_TRUE(ziptest::WriteArchive(
        archive, {Item{"small.txt", "small"}, Item{"big.bin", tvtest::PatternBytes(400000, 3)}},
        nullptr));
    ProbeZip zip;
    EXPECT_FALSE(zip.Unzip(archive.c_str(), target.c_str(), false));
    int32_t code = 0;
    std::string held = tvtest::TakeError(&code);
    EXPECT_TRUE(tvtest::Contains(held, "('big.bin' could not be written!)")) << held;
    EXPECT_EQ(ERROR_DISK_FULL, code) << held;
    EXPECT_FALSE(Exists(target + "\\big.bin"));
    EXPECT_EQ(std::vector<std::string>{"small.txt"}, Tree(target));
    DeleteFileA((target + "\\small.txt").c_str());

    // Packing onto the full disk fails with the disk's code too.
    std::string source = dir / "big-source.bin";
    WriteFileBytes(source, tvtest::PatternBytes(400000, 4));
    std::string packed = target + "\\packed.zip";
    ClearLastError();
    SetLastError(ERROR_ALREADY_EXISTS);  // left by some earlier call
    EXPECT_FALSE(ZipPaths(zip, dir.path(), packed, {source}));
    held = tvtest::TakeError(&code);
    EXPECT_EQ(ERROR_DISK_FULL, code) << held;
    EXPECT_FALSE(tvtest::Contains(held, "(0xb7)")) << held;
    DeleteFileA(packed.c_str());
}

TEST_F(ZipClass, AnArchiveThatCannotBeOpenedIsNamed)
{
    std::string missing = dir / "missing.zip";
    std::string garbage = dir / "garbage.zip";
    WriteFileBytes(garbage, "this is no archive at all");
    MakeDir(dir / "t");
    for (const std::string& archive : {missing, garbage}) {
        SCOPED_TRACE(archive);
        ClearLastError();
        ProbeZip zip;
        SetLastError(ERROR_ALREADY_EXISTS);
        EXPECT_FALSE(zip.Unzip(archive.c_str(), (dir / "t").c_str(), false));
        std::string held = HeldError();
        EXPECT_TRUE(tvtest::Contains(held, "This ZIP - file could not be opened! (zip) - ('" +
                                               archive + "')"))
            << held;
        EXPECT_FALSE(tvtest::Contains(held, "(0xb7)")) << held;
    }
    ProbeZip zip;
    EXPECT_FALSE(zip.Unzip(garbage.c_str(), (dir / "no-such-folder").c_str(), false));
    EXPECT_TRUE(tvtest::Contains(HeldError(), "('" + dir / "no-such-folder" + "')"));
}

TEST_F(ZipClass, AFailedOverwriteKeepsTheOldFile)
{
    std::string archive = dir / "k.zip";
    std::string big = tvtest::PatternBytes(150000, 2);
    ASSERT_TRUE(ziptest::WriteArchive(archive, {Item{"f.bin", big}}, nullptr));
    std::string bytes = ReadFileBytes(archive);
    bytes[ziptest::DataOffset(bytes, "f.bin") + 60000] ^= 0x04;
    WriteFileBytes(archive, bytes);
    MakeDir(dir / "t");
    WriteFileBytes(dir / "t\\f.bin", "precious");
    ProbeZip zip;
    EXPECT_FALSE(zip.Unzip(archive.c_str(), (dir / "t").c_str(), false));
    EXPECT_EQ(1u, zip.overwriteAsked.size());
    EXPECT_EQ(std::vector<std::string>{"f.bin"}, Tree(dir / "t"));
    EXPECT_EQ("precious", ReadFileBytes(dir / "t\\f.bin"));
}

// The other program lets go of its file once the user agreed to replace it.
class ReleasingZip : public ProbeZip {
public:
    HANDLE hold = INVALID_HANDLE_VALUE;
    bool OnUnzipOverwrite(const char* target) override
    {
        bool answer = ProbeZip::OnUnzipOverwrite(target);
        if (answer && hold != INVALID_HANDLE_VALUE) {
            CloseHandle(hold);
            hold = INVALID_HANDLE_VALUE;
        }
        return answer;
    }
};

TEST_F(ZipClass, AnExistingTargetThatCannotBeReadIsAskedAboutAndNeverLost)
{
    std::string archive = dir / "u.zip";
    ASSERT_TRUE(ziptest::WriteArchive(archive, {Item{"f.bin", "new"}}, nullptr));
    MakeDir(dir / "t");
    struct Row {
        const char* what;
        bool overwrite;
    } rows[] = {{"declined", false}, {"replaced", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFileBytes(dir / "t\\f.bin", "precious");
        ReleasingZip zip;
        zip.overwrite = row.overwrite;
        // Another program holds it without read sharing (it may still be removed).
        zip.hold = CreateFileA((dir / "t\\f.bin").c_str(), GENERIC_READ, FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, zip.hold);
        bool ok = zip.Unzip(archive.c_str(), (dir / "t").c_str(), false);
        if (zip.hold != INVALID_HANDLE_VALUE)
            CloseHandle(zip.hold);
        EXPECT_EQ(row.overwrite, ok) << HeldError();
        EXPECT_EQ(1u, zip.overwriteAsked.size());
        EXPECT_EQ(row.overwrite ? "new" : "precious", ReadFileBytes(dir / "t\\f.bin"));
        EXPECT_EQ(std::vector<std::string>{"f.bin"}, Tree(dir / "t"));
    }
}

TEST_F(ZipClass, TargetPathsLongerThan255AreRefused)
{
    // 240 characters of target folder and a name that makes the path longer than 255.
    std::string target = dir.path();
    while (target.size() < 230)
        target += "\\" + std::string(std::min<size_t>(40, 229 - target.size()), 'd');
    MakeDir(target);
    ASSERT_TRUE(Exists(target));
    std::string archive = dir / "l.zip";
    std::string name(255 - target.size(), 'n');  // target + "\" + name = 256 characters
    ASSERT_TRUE(ziptest::WriteArchive(archive, {Item{name, "x"}}, nullptr));
    ProbeZip zip;
    EXPECT_FALSE(zip.Unzip(archive.c_str(), target.c_str(), false));
    EXPECT_TRUE(Tree(target).empty());
    ASSERT_TRUE(ziptest::WriteArchive(archive, {Item{name.substr(1), "x"}}, nullptr));
    ProbeZip fits;
    EXPECT_TRUE(fits.Unzip(archive.c_str(), target.c_str(), false));
    EXPECT_EQ(1u, Tree(target).size());
}

TEST_F(ZipClass, RemoveEntryKeepsTheOthersAndReopensTheArchive)
{
    WriteFileBytes(dir / "a.txt", "a");
    WriteFileBytes(dir / "b.txt", "b");
    WriteFileBytes(dir / "c.txt", "c");
    std::string archive = dir / "rm.zip";
    ProbeZip zip;
    ASSERT_TRUE(zip.OpenArchive(dir.path().c_str(), archive.c_str(), true, -1));
    ASSERT_TRUE(zip.Zip(archive.c_str(), (dir / "a.txt").c_str(), "ca", 3, false, false));
    ASSERT_TRUE(zip.Zip(archive.c_str(), (dir / "b.txt").c_str(), "cb", 3, false, false));
    ASSERT_TRUE(zip.RemoveEntry(archive.c_str(), "a.txt"));
    EXPECT_EQ(2u, zip.Count());
    ASSERT_TRUE(zip.Zip(archive.c_str(), (dir / "c.txt").c_str(), "cc", 3, false, false));
    ASSERT_TRUE(zip.CloseArchive("the archive"));
    std::vector<ReadItem> items = ReadBack(archive);
    ASSERT_EQ((std::vector<std::string>{"b.txt", "c.txt"}), ziptest::Names(items));
    EXPECT_EQ("cb", items[0].comment);
    EXPECT_EQ("cc", items[1].comment);
}

// The directory of the archive no longer fits on the disk: the close fails
// and says so, and neither the archive nor its temporary file stays.
TEST_F(ZipClass, AFailedCloseIsReported)
{
    std::string target = tvtest::FullDiskFolder("full-disk-zip");
    if (target.empty())
        GTEST_SKIP() << "no small file system to fill here";
    // The disk is filled up, and one page of it is given back.
    std::string filler = target + "\\filler.bin";
    HANDLE fill = CreateFileA(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, fill);
    std::string page(4096, 'f');
    DWORD written = 0;
    while (WriteFile(fill, page.data(), 4096, &written, nullptr) && written == 4096) {
    }
    LARGE_INTEGER size{}, end{};
    GetFileSizeEx(fill, &size);
    end.QuadPart = size.QuadPart / 4096 * 4096 - 4096;
    ASSERT_GT(end.QuadPart, 0);
    SetFilePointerEx(fill, end, nullptr, FILE_BEGIN);
    SetEndOfFile(fill);
    CloseHandle(fill);
    // An entry whose local header and data fill that page exactly, stored:
    // the directory after it needs a page that is not there.
    std::string source = dir / "a.bin";
    WriteFileBytes(source, tvtest::PatternBytes(4096 - 30 - 5, 6));
    std::string archive = target + "\\c.zip";
    ProbeZip zip;
    ASSERT_TRUE(zip.OpenArchive(dir.path().c_str(), archive.c_str(), true, 0));
    EXPECT_TRUE(zip.Zip(archive.c_str(), source.c_str(), nullptr, 1, false, false)) << HeldError();
    ClearLastError();
    EXPECT_FALSE(zip.CloseArchive("comment"));
    int32_t code = 0;
    std::string held = tvtest::TakeError(&code);
    EXPECT_NE(std::string::npos, held.find("This ZIP - file could not be closed! (zip)")) << held;
    EXPECT_EQ(ERROR_DISK_FULL, code) << held;
    EXPECT_EQ(std::vector<std::string>{"filler.bin"}, Tree(target));
    EXPECT_EQ(tvtest::PatternBytes(4096 - 30 - 5, 6), ReadFileBytes(source));
    DeleteFileA(filler.c_str());
}

// --- new archives and extracted files get their names only when whole -------

// Looks at the archive's name after each entry's data were written (where a
// kill could strike) and can make a file appear there.
class WatchedZip : public ProbeZip {
public:
    std::string archive;
    bool plant = false;
    bool planted = false;
    int looks = 0;
    int named = 0;  // looks at which the name held a file
    bool OnZipProgress(const char* path, uint32_t number, uint32_t total) override
    {
        ++looks;
        if (Exists(archive))
            ++named;
        if (plant && !planted && !Exists(archive)) {
            WriteFileBytes(archive, "SQUATTER");
            planted = true;
        }
        return ProbeZip::OnZipProgress(path, number, total);
    }
};

TEST_F(ZipClass, ANewArchiveGetsItsNameOnlyWhenWholeAndNeverInPlaceOfAnother)
{
    MakeDir(dir / "src\\sub");
    WriteFileBytes(dir / "src\\a.txt", tvtest::PatternBytes(70000, 1));
    WriteFileBytes(dir / "src\\sub\\b.txt", "b");
    struct Row {
        const char* what;
        bool plant;  // a file appears at the name while the archive is written
    } rows[] = {{"closed", false}, {"a file appears at the name", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::string out = dir / (std::string("out-") + (row.plant ? "p" : "c"));
        MakeDir(out);
        WatchedZip zip;
        zip.archive = out + "\\new.zip";
        zip.plant = row.plant;
        ASSERT_TRUE(zip.OpenArchive(dir.path().c_str(), zip.archive.c_str(), true, -1));
        ASSERT_TRUE(zip.Zip(zip.archive.c_str(), (dir / "src").c_str(), "c", 2, false, false));
        EXPECT_EQ(2, zip.looks);
        EXPECT_EQ(row.plant ? 1 : 0, zip.named) << "the archive had its name while it was written";
        EXPECT_EQ(!row.plant, zip.CloseArchive("global"));
        std::string held = HeldError();
        if (row.plant) {
            EXPECT_TRUE(zip.planted);
            EXPECT_TRUE(tvtest::Contains(held, "new.zip' could not be written! - (File already exists!)"))
                << held;
            EXPECT_EQ("SQUATTER", ReadFileBytes(zip.archive));
        } else {
            EXPECT_EQ("", held);
            EXPECT_EQ((std::vector<std::string>{"src/a.txt", "src/sub/", "src/sub/b.txt"}),
                      [&] {
                          auto n = ziptest::Names(ReadBack(zip.archive));
                          std::sort(n.begin(), n.end());
                          return n;
                      }());
        }
        EXPECT_EQ(std::vector<std::string>{"new.zip"}, Tree(out)) << "no stray file";
    }
}

TEST_F(ZipClass, AnExtractedFileGetsItsNameOnlyWhenWholeAndNeverInPlaceOfAnother)
{
    std::string archive = dir / "x.zip";
    std::string big = tvtest::PatternBytes(200000, 8);  // several reads of the extraction
    ASSERT_TRUE(ziptest::WriteArchive(archive, {Item{"one.bin", big}, Item{"two.txt", "two"}}, nullptr));
    struct Row {
        const char* what;
        bool plant;  // one.bin appears as the extraction starts to write
    } rows[] = {{"extracted", false}, {"a file appears at the name", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::string target = dir / (std::string("t-") + (row.plant ? "p" : "e"));
        MakeDir(target);
        std::string one = target + "\\one.bin";
        std::vector<std::string> atNames;
        bool planted = false;
        bool ok = false;
        ProbeZip zip;
        {
            tvtest::WriteWatch watch([&](tvtest::WriteWatch::Event event, const std::string& path) {
                std::string name = tvtest::BaseName(path);
                if (name == "one.bin" || name == "two.txt")
                    atNames.push_back(name);
                if (row.plant && !planted && event == tvtest::WriteWatch::Event::Create) {
                    planted = !Exists(one);
                    WriteFileBytes(one, "SQUATTER");
                }
            });
            ASSERT_TRUE(watch.ok());
            ok = zip.Unzip(archive.c_str(), target.c_str(), false);
        }
        std::string held = HeldError();
        EXPECT_TRUE(atNames.empty()) << "written under its name: " << atNames[0];
        if (row.plant) {
            EXPECT_TRUE(planted);
            EXPECT_FALSE(ok);
            EXPECT_TRUE(tvtest::Contains(held, "one.bin' could not be written! - (File already exists!)"))
                << held;
            EXPECT_EQ("SQUATTER", ReadFileBytes(one));
            EXPECT_EQ(std::vector<std::string>{"one.bin"}, Tree(target)) << "no stray file";
        } else {
            EXPECT_TRUE(ok) << held;
            EXPECT_TRUE(big == ReadFileBytes(one));
            EXPECT_EQ((std::vector<std::string>{"one.bin", "two.txt"}), Tree(target));
        }
    }
}

// --- what the object leaves behind is wiped as it was told ------------------

// An extracted file whose name was taken meanwhile, and a new archive still
// open when the object goes, are removed; with wipe they are overwritten
// first, three passes over the same temporary file, as every other file.
TEST_F(ZipClass, WhatTheObjectLeavesBehindIsOverwrittenFirstWhenItWipes)
{
    std::string archive = dir / "x.zip";
    ASSERT_TRUE(ziptest::WriteArchive(archive, {Item{"one.bin", tvtest::PatternBytes(1000, 4)}}, nullptr));
    WriteFileBytes(dir / "src.txt", tvtest::PatternBytes(5000, 2));
    auto onlyTemporary = [](const std::vector<std::string>& writes, const std::string& name) {
        for (const std::string& written : writes)
            EXPECT_EQ(written, writes[0]);
        EXPECT_NE(writes[0], name);
    };
    for (bool wipe : {false, true}) {
        SCOPED_TRACE(wipe ? "wiped" : "not wiped");
        std::string target = dir / (std::string("t-") + (wipe ? "w" : "n"));
        MakeDir(target);
        std::string one = target + "\\one.bin";
        std::vector<std::string> writes;  // the names written, at each write
        {
            ProbeZip zip;
            zip.WipeLeftovers(wipe);
            tvtest::WriteWatch watch([&](tvtest::WriteWatch::Event event, const std::string& path) {
                if (event == tvtest::WriteWatch::Event::Write)
                    writes.push_back(tvtest::BaseName(path));
                else if (!Exists(one))
                    WriteFileBytes(one, "SQUATTER");
            });
            ASSERT_TRUE(watch.ok());
            EXPECT_FALSE(zip.Unzip(archive.c_str(), target.c_str(), false));
        }
        HeldError();
        EXPECT_EQ("SQUATTER", ReadFileBytes(one));
        EXPECT_EQ(std::vector<std::string>{"one.bin"}, Tree(target)) << "no stray file";
        // The entry's data once, then the wipe.
        ASSERT_EQ(writes.size(), wipe ? 4u : 1u);
        onlyTemporary(writes, "one.bin");

        std::string out = dir / (std::string("a-") + (wipe ? "w" : "n"));
        MakeDir(out);
        std::string fresh = out + "\\new.zip";
        writes.clear();
        auto zip = std::make_unique<ProbeZip>();
        ASSERT_TRUE(zip->OpenArchive(dir.path().c_str(), fresh.c_str(), true, -1));
        ASSERT_TRUE(zip->Zip(fresh.c_str(), (dir / "src.txt").c_str(), "c", 1, false, wipe));
        {
            tvtest::WriteWatch watch([&](tvtest::WriteWatch::Event event, const std::string& path) {
                if (event == tvtest::WriteWatch::Event::Write)
                    writes.push_back(tvtest::BaseName(path));
            });
            ASSERT_TRUE(watch.ok());
            zip.reset();
        }
        EXPECT_TRUE(Tree(out).empty()) << "no stray file";
        ASSERT_EQ(writes.size(), wipe ? 3u : 0u);
        if (wipe)
            onlyTemporary(writes, "new.zip");
    }
}

}  // namespace
