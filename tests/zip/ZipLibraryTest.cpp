// qxcpr32 through its exported entry points: round trips, appending, entry
// removal, lookup, and the checks that keep damaged data from passing.
#include "TestFiles.h"
#include "ZipTestUtil.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

using ziptest::Item;
using ziptest::ReadItem;
using tvtest::TempDir;

namespace {

std::vector<Item> SampleItems()
{
    Item folder{"dir/", "", "", 0};
    Item text{"dir/text.txt", std::string(5000, 'x') + "end", "a comment", 8};
    Item random{"random.bin", tvtest::PatternBytes(200000, 7), "", 8};
    Item stored{"Stored.DAT", tvtest::PatternBytes(70000, 3), "", 0};
    text.dosDate = 0x4A2F7C9E;
    return {folder, text, random, stored};
}

TEST(ZipLibrary, RoundTripKeepsNamesBytesTimesCommentsAndMethods)
{
    TempDir dir("zl");
    std::string path = dir / "a.zip";
    std::vector<Item> items = SampleItems();
    ASSERT_TRUE(ziptest::WriteArchive(path, items, "global comment"));

    std::vector<ReadItem> read;
    unsigned long commentSize = 0;
    ASSERT_TRUE(ziptest::ReadArchive(path, &read, &commentSize));
    ASSERT_EQ(items.size(), read.size());
    EXPECT_EQ(strlen("global comment"), commentSize);
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].name, read[i].name);
        EXPECT_EQ(items[i].data, read[i].data) << items[i].name;
        EXPECT_EQ(items[i].comment, read[i].comment);
        EXPECT_EQ(items[i].dosDate, read[i].dosDate);
        EXPECT_EQ((unsigned long)items[i].method, read[i].method);
    }
}

// Writes one entry at the level, its data in pieces of `piece` bytes (0: in
// one write).
bool WriteEntry(zipFile z, const std::string& name, const std::string& data, int level,
                size_t piece)
{
    zip_fileinfo info = {};
    info.dosDate = 0x58A16000;
    if (zipOpenNewFileInZip(z, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, 8, level) !=
        ZIP_OK)
        return false;
    size_t step = piece ? piece : data.size();
    for (size_t at = 0; at < data.size(); at += step) {
        size_t n = data.size() - at < step ? data.size() - at : step;
        if (zipWriteInFileInZip(z, data.data() + at, (unsigned)n) < 0)
            return false;
    }
    return zipCloseFileInZip(z) == ZIP_OK;
}

// The entries of one archive deflate as if each were alone in an archive of
// its own and written in one piece: the same local header and data, byte for
// byte, whatever the levels before them and however their data came.
TEST(ZipLibrary, EntriesDeflateAsIfEachWereAloneAndWrittenWhole)
{
    TempDir dir("zl");
    std::string text;
    for (int i = 0; text.size() < 400000; ++i)
        text += "line " + std::to_string(i * 7919 % 1000) + " of some text\r\n";
    struct Row {
        const char* name;
        std::string data;
        int level;
        size_t piece;
    } rows[] = {
        {"a.txt", text, 6, 1000},
        {"b.bin", tvtest::PatternBytes(150000, 9), 6, 65536 + 3},
        {"c.txt", text.substr(0, 5000), 9, 7},
        {"d.txt", text.substr(1000, 90000), 1, 0},
        {"e.txt", text, -1, 200000},
    };
    std::string all = dir / "all.zip";
    zipFile z = zipOpen(all.c_str(), 0, nullptr);
    ASSERT_NE(nullptr, z);
    for (const Row& row : rows)
        ASSERT_TRUE(WriteEntry(z, row.name, row.data, row.level, row.piece)) << row.name;
    ASSERT_EQ(ZIP_OK, zipClose(z, nullptr));
    const std::string allBytes = tvtest::ReadFileBytes(all);

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string one = dir / "one.zip";
        z = zipOpen(one.c_str(), 0, nullptr);
        ASSERT_NE(nullptr, z);
        ASSERT_TRUE(WriteEntry(z, row.name, row.data, row.level, 0));
        ASSERT_EQ(ZIP_OK, zipClose(z, nullptr));
        const std::string oneBytes = tvtest::ReadFileBytes(one);
        // The single entry's local part ends where the directory begins.
        size_t directory = oneBytes.find("PK\x01\x02");
        ASSERT_NE(std::string::npos, directory);
        size_t at = ziptest::DataOffset(allBytes, row.name) - ziptest::DataOffset(oneBytes, row.name);
        EXPECT_TRUE(allBytes.compare(at, directory, oneBytes, 0, directory) == 0);
    }
}

TEST(ZipLibrary, DateFieldsAreUsedWhenDosDateIsZero)
{
    TempDir dir("zl");
    std::string path = dir / "t.zip";
    zipFile z = zipOpen(path.c_str(), 0, nullptr);
    ASSERT_NE(nullptr, z);
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    info.tmz_date = {58, 30, 13, 24, 11, 2023};  // 2023-12-24 13:30:58
    ASSERT_EQ(ZIP_OK, zipOpenNewFileInZip(z, "d.txt", &info, nullptr, 0, nullptr, 0, nullptr, 8, 6));
    ASSERT_EQ(ZIP_OK, zipWriteInFileInZip(z, "abc", 3));
    ASSERT_EQ(ZIP_OK, zipCloseFileInZip(z));
    ASSERT_EQ(ZIP_OK, zipClose(z, nullptr));

    unzFile u = unzOpen(path.c_str());
    ASSERT_NE(nullptr, u);
    unz_file_info fi;
    char name[256];
    ASSERT_EQ(UNZ_OK, unzGetCurrentFileInfo(u, &fi, name, sizeof name, nullptr, 0, nullptr, 0));
    EXPECT_EQ(2023u, fi.tmu_date.tm_year);
    EXPECT_EQ(11u, fi.tmu_date.tm_mon);
    EXPECT_EQ(24u, fi.tmu_date.tm_mday);
    EXPECT_EQ(13u, fi.tmu_date.tm_hour);
    EXPECT_EQ(30u, fi.tmu_date.tm_min);
    EXPECT_EQ(58u, fi.tmu_date.tm_sec);
    unzClose(u);
}

TEST(ZipLibrary, AppendKeepsEveryEntryAndBothKindsOfComment)
{
    TempDir dir("zl");
    std::string path = dir / "a.zip";
    std::vector<Item> items = SampleItems();
    ASSERT_TRUE(ziptest::WriteArchive(path, items, "keep me"));

    // Append without a comment: the old one stays. Lookups see old and new entries.
    zipFile z = zipOpen(path.c_str(), 1, nullptr);
    ASSERT_NE(nullptr, z);
    int found = 0;
    ASSERT_EQ(ZIP_OK, IsInZipFileInZip(z, "stored.dat", 0, &found));
    EXPECT_EQ(1, found);
    ASSERT_EQ(ZIP_OK, IsInZipFileInZip(z, "stored.dat", 1, &found));
    EXPECT_EQ(0, found);
    ASSERT_EQ(ZIP_OK, IsInZipFileInZip(z, "new.txt", 0, &found));
    EXPECT_EQ(0, found);
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    info.dosDate = 0x58A16000;
    ASSERT_EQ(ZIP_OK, zipOpenNewFileInZip(z, "new.txt", &info, nullptr, 0, nullptr, 0, "c2", 8, 9));
    ASSERT_EQ(ZIP_OK, zipWriteInFileInZip(z, "new data", 8));
    ASSERT_EQ(ZIP_OK, zipCloseFileInZip(z));
    ASSERT_EQ(ZIP_OK, IsInZipFileInZip(z, "NEW.TXT", 0, &found));
    EXPECT_EQ(1, found);
    ASSERT_EQ(ZIP_OK, zipClose(z, nullptr));

    std::vector<ReadItem> read;
    unsigned long commentSize = 0;
    ASSERT_TRUE(ziptest::ReadArchive(path, &read, &commentSize));
    ASSERT_EQ(items.size() + 1, read.size());
    EXPECT_EQ(strlen("keep me"), commentSize);
    for (size_t i = 0; i < items.size(); ++i)
        EXPECT_EQ(items[i].data, read[i].data);
    EXPECT_EQ("a comment", read[1].comment);
    EXPECT_EQ("new data", read.back().data);
    EXPECT_EQ("c2", read.back().comment);

    // An append session that adds nothing leaves the file as it was.
    std::string before = tvtest::ReadFileBytes(path);
    z = zipOpen(path.c_str(), 1, nullptr);
    ASSERT_NE(nullptr, z);
    ASSERT_EQ(ZIP_OK, zipClose(z, nullptr));
    EXPECT_EQ(before, tvtest::ReadFileBytes(path));
}

TEST(ZipLibrary, OpeningWithANameDropsThatEntryAndKeepsTheRest)
{
    TempDir dir("zl");
    std::string path = dir / "a.zip";
    std::vector<Item> items = SampleItems();
    ASSERT_TRUE(ziptest::WriteArchive(path, items, "global"));

    zipFile z = zipOpen(path.c_str(), 1, "RANDOM.bin");  // found without regard to case
    ASSERT_NE(nullptr, z);
    int found = 1;
    ASSERT_EQ(ZIP_OK, IsInZipFileInZip(z, "random.bin", 0, &found));
    EXPECT_EQ(0, found);
    ASSERT_EQ(ZIP_OK, zipClose(z, nullptr));
    EXPECT_FALSE(tvtest::Exists(path + ".qx~"));

    std::vector<ReadItem> read;
    unsigned long commentSize = 0;
    ASSERT_TRUE(ziptest::ReadArchive(path, &read, &commentSize));
    EXPECT_EQ((std::vector<std::string>{"dir/", "dir/text.txt", "Stored.DAT"}), ziptest::Names(read));
    EXPECT_EQ(strlen("global"), commentSize);
    EXPECT_EQ("a comment", read[1].comment);
    EXPECT_EQ(items[1].data, read[1].data);
    EXPECT_EQ(items[3].data, read[2].data);
    EXPECT_EQ(items[1].dosDate, read[1].dosDate);

    // A name the archive does not hold changes nothing.
    std::string before = tvtest::ReadFileBytes(path);
    z = zipOpen(path.c_str(), 1, "absent.txt");
    ASSERT_NE(nullptr, z);
    zipClose(z, nullptr);
    EXPECT_EQ(before, tvtest::ReadFileBytes(path));
}

TEST(ZipLibrary, AnEntryLeftOpenIsDiscardedNotRecordedTruncated)
{
    TempDir dir("zl");
    std::string path = dir / "a.zip";
    zipFile z = zipOpen(path.c_str(), 0, nullptr);
    ASSERT_NE(nullptr, z);
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    info.dosDate = 0x58A16000;
    std::string big = tvtest::PatternBytes(300000, 9);
    ASSERT_EQ(ZIP_OK, zipOpenNewFileInZip(z, "half.bin", &info, nullptr, 0, nullptr, 0, nullptr, 0, 0));
    ASSERT_EQ(ZIP_OK, zipWriteInFileInZip(z, big.data(), (unsigned)big.size()));
    // The next entry starts while half.bin is open.
    ASSERT_EQ(ZIP_OK, zipOpenNewFileInZip(z, "whole.txt", &info, nullptr, 0, nullptr, 0, nullptr, 8, -1));
    ASSERT_EQ(ZIP_OK, zipWriteInFileInZip(z, "whole", 5));
    ASSERT_EQ(ZIP_OK, zipCloseFileInZip(z));
    ASSERT_EQ(ZIP_OK, zipOpenNewFileInZip(z, "open-at-close.txt", &info, nullptr, 0, nullptr, 0, nullptr, 8, -1));
    ASSERT_EQ(ZIP_OK, zipWriteInFileInZip(z, big.data(), 1000));
    ASSERT_EQ(ZIP_OK, zipClose(z, nullptr));

    std::vector<ReadItem> read;
    ASSERT_TRUE(ziptest::ReadArchive(path, &read));
    EXPECT_EQ(std::vector<std::string>{"whole.txt"}, ziptest::Names(read));
    // The discarded data do not stay behind in the file either.
    EXPECT_LT(tvtest::ReadFileBytes(path).size(), 1000u);
}

TEST(ZipLibrary, DamagedDataAreAnErrorNotAnEnd)
{
    TempDir dir("zl");
    struct Row {
        const char* what;
        int method;
        size_t size;
    } rows[] = {{"stored", 0, 100000}, {"deflated", 8, 100000}, {"small stored", 0, 10}};
    for (const Row& row : rows) {
        std::string path = dir / tvtest::UniqueName("d") + ".zip";
        Item it{"f.bin", tvtest::PatternBytes(row.size, 5), "", row.method};
        ASSERT_TRUE(ziptest::WriteArchive(path, {it}, nullptr));
        std::string bytes = tvtest::ReadFileBytes(path);
        size_t at = ziptest::DataOffset(bytes, "f.bin");
        ASSERT_NE(std::string::npos, at);
        // Stored: a flipped byte leaves the length; deflated: flip a byte late in the
        // stream where it still decodes or fails to decode; both must be caught.
        bytes[at + (row.method ? 50 : row.size / 2)] ^= 0x20;
        tvtest::WriteFileBytes(path, bytes);
        std::vector<ReadItem> read;
        EXPECT_FALSE(ziptest::ReadArchive(path, &read)) << row.what;
        if (!read.empty()) {
            EXPECT_LT(read.back().readResult, 0) << row.what;
        }
    }
}

TEST(ZipLibrary, ANameThatDoesNotFitTheBufferIsAnError)
{
    TempDir dir("zl");
    std::string path = dir / "n.zip";
    std::string longName(300, 'n');
    ASSERT_TRUE(ziptest::WriteArchive(path, {Item{longName, "x", "", 8}}, nullptr));
    unzFile u = unzOpen(path.c_str());
    ASSERT_NE(nullptr, u);
    unz_file_info info;
    char name[256];
    memset(name, 'q', sizeof name);
    EXPECT_NE(UNZ_OK, unzGetCurrentFileInfo(u, &info, name, sizeof name, nullptr, 0, nullptr, 0));
    char wide[301];
    EXPECT_NE(UNZ_OK, unzGetCurrentFileInfo(u, &info, wide, 300, nullptr, 0, nullptr, 0));
    EXPECT_EQ(UNZ_OK, unzGetCurrentFileInfo(u, &info, wide, 301, nullptr, 0, nullptr, 0));
    EXPECT_EQ(longName, std::string(wide));
    unzClose(u);
}

TEST(ZipLibrary, BrokenArchivesDoNotOpen)
{
    TempDir dir("zl");
    std::string good = dir / "g.zip";
    ASSERT_TRUE(ziptest::WriteArchive(good, SampleItems(), "c"));
    std::string bytes = tvtest::ReadFileBytes(good);
    struct Row {
        const char* what;
        std::string content;
    } rows[] = {
        {"empty", ""},
        {"not a zip", std::string(1000, 'z')},
        {"tail cut", bytes.substr(0, bytes.size() - 30)},
        {"head only", bytes.substr(0, 200)},
    };
    for (const Row& row : rows) {
        std::string path = dir / tvtest::UniqueName("b");
        tvtest::WriteFileBytes(path, row.content);
        EXPECT_EQ(nullptr, unzOpen(path.c_str())) << row.what;
        EXPECT_EQ(nullptr, zipOpen(path.c_str(), 1, nullptr)) << row.what;
    }
    EXPECT_EQ(nullptr, unzOpen((dir / "missing.zip").c_str()));
    EXPECT_EQ(nullptr, zipOpen((dir / "missing.zip").c_str(), 1, nullptr));
    EXPECT_FALSE(tvtest::Exists(dir / "missing.zip"));
}

TEST(ZipLibrary, AFailedWriteIsReportedByZipClose)
{
    // Wine maps the host's /dev/full as Z:\dev\full: every write fails with a full disk.
    const char* full = "Z:\\dev\\full";
    FILE* probe = fopen(full, "wb");
    if (!probe)
        GTEST_SKIP() << "no full device";
    fclose(probe);
    zipFile z = zipOpen(full, 0, nullptr);
    ASSERT_NE(nullptr, z);
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    zipOpenNewFileInZip(z, "x.txt", &info, nullptr, 0, nullptr, 0, nullptr, 8, -1);
    zipWriteInFileInZip(z, "abc", 3);
    zipCloseFileInZip(z);
    EXPECT_NE(ZIP_OK, zipClose(z, "comment"));
}

}  // namespace
