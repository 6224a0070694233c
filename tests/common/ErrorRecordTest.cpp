#include "QXTools.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

class ErrorRecordTest : public ::testing::Test {
protected:
    void SetUp() override { ClearLastError(); }
    void TearDown() override { ClearLastError(); }

    static ErrorRecord Take()
    {
        ErrorRecord r;
        GetLastErrorInfo(&r);
        return r;
    }
};

TEST_F(ErrorRecordTest, FirstFailureWinsAndSuccessLeavesItAlone)
{
    SetLastError(5);
    QXReport(false, "FileAPI", 342, "first");
    SetLastError(2);
    QXReport(false, "FileAPI", 460, "second");
    QXReport(true, "FileAPI", 911, "fine");

    ErrorRecord r = Take();
    EXPECT_EQ(1, r.set);
    EXPECT_EQ(5, r.code);
    std::string text = r.text;
    EXPECT_EQ(0u, text.find("first "));
    EXPECT_NE(std::string::npos, text.find("[5 FileAPI 342]"));
    EXPECT_NE(std::string::npos, text.find("(0x5) [5"));
}

TEST_F(ErrorRecordTest, ReportWithoutCodeHasEmptySystemText)
{
    SetLastError(0);
    QXReport(false, "QXThr", 100, "CThr::Init");
    ErrorRecord r = Take();
    EXPECT_STREQ("CThr::Init  [0 QXThr 100]", r.text);
    EXPECT_EQ(0, r.code);
}

TEST_F(ErrorRecordTest, ReportResultStoresNothingWhenOkOrWithoutContext)
{
    ReportResult(true, "ctx", 1, "msg");
    ReportResult(false, nullptr, 1, "msg");
    EXPECT_EQ(0, Take().set);

    ReportResult(false, "ctx", 7, nullptr);
    ErrorRecord r = Take();
    EXPECT_STREQ("Error ctx", r.text);
    EXPECT_EQ(7, r.code);
}

TEST_F(ErrorRecordTest, GetLastErrorInfoHandsOutAndClears)
{
    SetLastError(1234);
    ErrorRecord empty = Take();
    EXPECT_EQ(0, empty.set);
    EXPECT_EQ(0, empty.code);
    EXPECT_EQ(0, empty.text[0]);
    EXPECT_EQ(1234u, GetLastError()) << "nothing held: the thread's code stays";

    ReportResult(false, "ctx", 3, "held");
    SetLastError(99);
    ErrorRecord r = Take();
    EXPECT_EQ(1, r.set);
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(0, Take().set);
    GetLastErrorInfo(nullptr);
}

TEST_F(ErrorRecordTest, StoreLastErrorIgnoresUnsetAndNull)
{
    StoreLastError(nullptr);
    ErrorRecord unset{};
    unset.code = 4;
    StoreLastError(&unset);
    EXPECT_EQ(0, Take().set);
}

TEST_F(ErrorRecordTest, SystemErrorText)
{
    SetLastError(77);
    EXPECT_STREQ("", SystemErrorText(0));
    EXPECT_EQ(77u, GetLastError()) << "code 0 leaves the thread's code alone";

    std::string text = SystemErrorText(5);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.size() - 6, text.rfind(" (0x5)"));
    EXPECT_EQ(std::string::npos, text.find('\n'));
    EXPECT_EQ(0u, GetLastError());

    SetLastError(2);
    std::string current = SystemErrorText(-1);
    EXPECT_NE(std::string::npos, current.find("(0x2)"));
}

TEST_F(ErrorRecordTest, LongTextsAreCutAt1023Characters)
{
    std::string message(1020, 'm');
    SetLastError(5);
    QXReport(false, "FileAPI", 1, message.c_str());
    ErrorRecord r = Take();
    EXPECT_EQ(1023u, strlen(r.text));
    EXPECT_EQ(message + " ", std::string(r.text, 1021));

    std::string huge(5000, 'h');
    QXReport(false, "FileAPI", 1, huge.c_str());
    EXPECT_EQ(1023u, strlen(Take().text));
}

TEST_F(ErrorRecordTest, ConstructingToolsClears)
{
    ReportResult(false, "ctx", 1, "x");
    SetLastError(8);
    TQXTools tools;
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(0, Take().set);
}

TEST_F(ErrorRecordTest, ConcurrentReportsKeepOneWholeRecord)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            std::string msg(600, static_cast<char>('a' + t));
            for (int i = 0; i < 200; ++i) {
                QXReportCode(false, "QXThr", t, msg.c_str(), t + 1);
                if (i % 7 == 0)
                    ClearLastError();
            }
        });
    }
    for (auto& th : threads)
        th.join();
    ErrorRecord r;
    GetLastErrorInfo(&r);
    if (r.set) {
        // Whoever won, the text belongs to that one report.
        char c = r.text[0];
        EXPECT_EQ(r.code, c - 'a' + 1);
        EXPECT_EQ(std::string(600, c), std::string(r.text, 600));
    }
}

}  // namespace
