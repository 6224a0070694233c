#include "QXReg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "RegistryFixture.h"
#include "TestErrors.h"
#include "TestFiles.h"

using tvtest::Contains;
using tvtest::TakeError;

namespace {

const char kSettings[] = "software\\Quorvex\\Tarvisto";

class RegTest : public ::testing::Test {
protected:
    void SetUp() override { ClearLastError(); }
    void TearDown() override { ClearLastError(); }
    tvtest::RegistryValues values;
    std::string Name(const char* tag) { return tvtest::UniqueName(std::string("tvtest_") + tag); }
};

TEST_F(RegTest, KeyPaths)
{
    char path[256];
    ASSERT_TRUE(BuildRegKeyPath(path, QX_REG_SETTINGS));
    EXPECT_STREQ("software\\Quorvex\\Tarvisto", path);
    ASSERT_TRUE(BuildRegKeyPath(path, QX_REG_OWN_CERTIFICATES));
    EXPECT_STREQ("software\\Quorvex\\Own Certificates", path);
    EXPECT_FALSE(BuildRegKeyPath(path, std::string(250, 'k').c_str()));
    EXPECT_FALSE(BuildRegKeyPath(nullptr, "x"));
}

TEST_F(RegTest, ReadRegString)
{
    struct Row {
        const char* tag;
        DWORD type;
        std::string data;  // stored exactly
        bool ok;
        std::string read;  // as a text
    } rows[] = {
        {"plain", REG_SZ, std::string("My", 3), true, "My"},
        {"len255", REG_SZ, std::string(255, 'a') + '\0', true, std::string(255, 'a')},
        {"len256", REG_SZ, std::string(256, 'b') + '\0', false, ""},
        // All 256 bytes used and no terminator: never handed out as a text.
        {"unterminated", REG_SZ, std::string(256, 'c'), false, ""},
        {"binary256", REG_BINARY, std::string(256, 'd'), false, ""},
        {"empty", REG_SZ, std::string(1, '\0'), true, ""},
        // The type is not examined: data that fit are copied unchanged.
        {"dword", REG_DWORD, std::string("\x41\x42\x00\x00", 4), true, "AB"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.tag);
        std::string name = Name(r.tag);
        ASSERT_TRUE(values.SetRaw(name, r.type, r.data));
        char buffer[256];
        memset(buffer, 'z', sizeof buffer);
        EXPECT_EQ(r.ok, ReadRegString(HKEY_CURRENT_USER, kSettings, name.c_str(), buffer));
        if (r.ok) {
            EXPECT_EQ(r.read, std::string(buffer));
            EXPECT_EQ("", TakeError());
        } else {
            EXPECT_EQ(std::string(256, '\0'), std::string(buffer, 256)) << "emptied";
            EXPECT_TRUE(Contains(TakeError(), "This registry entry could not be read!"));
        }
    }
}

TEST_F(RegTest, MissingValueOrKeyIsAReportedFailure)
{
    char buffer[256] = "junk";
    EXPECT_FALSE(ReadRegString(HKEY_CURRENT_USER, kSettings, "tvtest_no_such_value", buffer));
    EXPECT_EQ(0, buffer[0]);
    std::string error = TakeError();
    EXPECT_EQ(0u, error.find("This registry entry could not be read! ")) << error;
    EXPECT_TRUE(Contains(error, " QXReg 143]")) << error;

    strcpy(buffer, "junk");
    EXPECT_FALSE(ReadRegString(HKEY_CURRENT_USER, "software\\Quorvex\\tvtest no such key", "x",
                               buffer));
    EXPECT_EQ(0, buffer[0]);
    EXPECT_TRUE(Contains(TakeError(), "QXReg 143]"));

    // The first failure wins.
    ReadRegString(HKEY_CURRENT_USER, kSettings, "tvtest_first", buffer);
    EXPECT_FALSE(ReadRegString(HKEY_CURRENT_USER, kSettings, "tvtest_second", buffer));
    EXPECT_EQ(1, [] {
        ErrorRecord r;
        GetLastErrorInfo(&r);
        return r.set;
    }());
    EXPECT_FALSE(ReadRegString(HKEY_CURRENT_USER, kSettings, "x", nullptr));
    TakeError();
}

TEST_F(RegTest, Switches)
{
    struct Row {
        const char* value;
        bool on;
    } rows[] = {
        {"Yes", true},       {"yes", true},   {" yes", true},    {"YES\t", true},
        {"\tyEs  ", true},   {"No", false},   {"", false},       {"Yes please", false},
        {"Y", false},        {"yess", false}, {"1", false},
    };
    for (const Row& r : rows) {
        std::string name = Name("switch");
        ASSERT_TRUE(values.SetString(name, r.value));
        bool on = !r.on;
        EXPECT_TRUE(ReadRegSwitch(name.c_str(), &on)) << '"' << r.value << '"';
        EXPECT_EQ(r.on, on) << '"' << r.value << '"';
    }
    bool on = true;
    EXPECT_FALSE(ReadRegSwitch("tvtest_missing_switch", &on));
    EXPECT_FALSE(on);
    EXPECT_TRUE(Contains(TakeError(), "This registry entry could not be read!"));
    EXPECT_FALSE(ReadRegSwitch("x", nullptr));
}

TEST_F(RegTest, ConstructionClears)
{
    ReportResult(false, "ctx", 1, "held");
    SetLastError(5);
    TQXReg reg;
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ("", TakeError());
}

}  // namespace
