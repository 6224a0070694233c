// The transfer program's command line: splitting into the table and
// interpreting it as one request, without a window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CmdLine.h"

namespace {

std::vector<std::string> Split(const std::string& line) {
    TQXArgTable table;
    SplitCommandLine(line.c_str(), "C:\\bin\\tvcrypte.exe", &table);
    std::vector<std::string> out;
    for (int i = 0; i < table.argc; ++i) {
        out.push_back(table.overlong[i] ? std::string("<overlong>") : table.entries[i]);
    }
    return out;
}

TransferRequest Interpret(const std::string& line, const char* folder = "D:\\work") {
    TQXArgTable table;
    SplitCommandLine(line.c_str(), "C:\\bin\\tvcrypte.exe", &table);
    TransferRequest request;
    InterpretArguments(table, folder, &request);
    return request;
}

struct SplitRow {
    const char* line;
    std::vector<std::string> tokens;  // after the program path
};

TEST(CmdLineSplit, Table) {
    const std::vector<SplitRow> rows = {
        {"", {}},
        {"a.txt", {"a.txt"}},
        {"a.txt /SGN", {"a.txt", "/SGN"}},
        {"   a.txt     /SGN   ", {"a.txt", "/SGN"}},
        {"\"D:\\my files\\a.txt.sgn\"", {"\"D:\\my files\\a.txt.sgn\""}},
        {"a.txt /SME \"Test Recipient\"", {"a.txt", "/SME", "\"Test Recipient\""}},
        // An unterminated quote runs to the end and still gets its closing quote.
        {"\"D:\\open end", {"\"D:\\open end\""}},
        // A quote inside an unquoted token is an ordinary character.
        {"ab\"c d", {"ab\"c", "d"}},
        // A quoted token ends at its closing quote; what follows is a new token.
        {"\"x y\"z", {"\"x y\"", "z"}},
        {"\"\" /SGN", {"\"\"", "/SGN"}},
        // Tabs are no separators.
        {"a\tb", {"a\tb"}},
    };
    for (const SplitRow& row : rows) {
        std::vector<std::string> expected = {"C:\\bin\\tvcrypte.exe"};
        expected.insert(expected.end(), row.tokens.begin(), row.tokens.end());
        EXPECT_EQ(Split(row.line), expected) << "line: " << row.line;
    }
}

TEST(CmdLineSplit, AtMostTenEntriesWithTheProgramPath) {
    std::vector<std::string> tokens = Split("1 2 3 4 5 6 7 8 9 10 11 12");
    ASSERT_EQ(tokens.size(), 10u);
    EXPECT_EQ(tokens[9], "9");
}

TEST(CmdLineSplit, OverlongTokensAreMarkedNotCut) {
    std::string name(255, 'n');
    EXPECT_EQ(Split(name + " x"), (std::vector<std::string>{"C:\\bin\\tvcrypte.exe", name, "x"}));
    EXPECT_EQ(Split("\"" + name + "\" x"),
              (std::vector<std::string>{"C:\\bin\\tvcrypte.exe", "\"" + name + "\"", "x"}));
    EXPECT_EQ(Split(name + "n x"),
              (std::vector<std::string>{"C:\\bin\\tvcrypte.exe", "<overlong>", "x"}));
    EXPECT_EQ(Split("\"" + name + "n\" x"),
              (std::vector<std::string>{"C:\\bin\\tvcrypte.exe", "<overlong>", "x"}));
}

TEST(CmdLineStripQuotes, Table) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"\"a b\"", "a b"},
        {"  \"a b\"  ", "a b"},
        {"plain", "plain"},
        {"\"\"", ""},
        {"\"", ""},
        {"\"abc", "ab"},  // the last remaining character goes, whatever it is
        {" \t x \r\n", "x"},
    };
    for (const auto& row : rows) {
        char text[300];
        snprintf(text, sizeof(text), "%s", row.first.c_str());
        EXPECT_TRUE(StripQuotes(text));
        EXPECT_EQ(std::string(text), row.second) << "input: " << row.first;
    }
    EXPECT_FALSE(StripQuotes(nullptr));
}

TEST(CmdLineMakeFullPath, Table) {
    struct Row {
        const char* folder;
        const char* path;
        bool ok;
        const char* result;
    };
    const std::vector<Row> rows = {
        {"D:\\work", "a.txt", true, "D:\\work\\a.txt"},
        {"D:\\work\\", "a.txt", true, "D:\\work\\a.txt"},
        {"C:", "a.txt", true, "C:\\a.txt"},
        {"D:\\work", "  a.txt ", true, "D:\\work\\a.txt"},
        {"D:\\work", "E:\\x\\a.txt", true, "E:\\x\\a.txt"},
        {"D:\\work", "sub\\a.txt", true, "sub\\a.txt"},
        {"", "a.txt", false, ""},
    };
    for (const Row& row : rows) {
        char path[256];
        snprintf(path, sizeof(path), "%s", row.path);
        EXPECT_EQ(MakeFullPath(row.folder, path), row.ok) << row.folder << " + " << row.path;
        if (row.ok) {
            EXPECT_STREQ(path, row.result);
        }
    }
    // A joined path that does not fit 255 characters is refused, not cut.
    std::string folder = "D:\\" + std::string(240, 'f');
    char path[256] = "a-rather-long-name.txt";
    EXPECT_FALSE(MakeFullPath(folder.c_str(), path));
}

TEST(CmdLineInterpret, Table) {
    struct Row {
        const char* line;
        TransferAction action;
        uint32_t op;
        const char* file;
        const char* recipient;
    };
    const TransferAction F = TransferAction::ExecuteFile;
    const TransferAction C = TransferAction::ExecuteCommand;
    const TransferAction N = TransferAction::Nothing;
    const TransferAction E = TransferAction::InvalidArguments;
    const std::vector<Row> rows = {
        {"", N, 0, "", ""},
        {"a.txt.sgn", F, 0, "D:\\work\\a.txt.sgn", ""},
        {"\"D:\\my files\\a.txt.sgn\"", F, 0, "D:\\my files\\a.txt.sgn", ""},
        {"a.txt /sgn", C, 2, "D:\\work\\a.txt", ""},
        {"a.txt /SGN", C, 2, "D:\\work\\a.txt", ""},
        {"a.txt /CRP", C, 4, "D:\\work\\a.txt", ""},
        {"a.txt /CRPX", C, 4, "D:\\work\\a.txt", ""},   // four characters compared
        {"a.txt \"/crp\"", C, 4, "D:\\work\\a.txt", ""},
        {"a.txt /CR", N, 0, "D:\\work\\a.txt", ""},
        {"a.txt /XYZ", N, 0, "D:\\work\\a.txt", ""},
        {"a.txt /SME \"Test Recipient\"", C, 7, "D:\\work\\a.txt", "Test Recipient"},
        {"a.txt /SME Bob", C, 7, "D:\\work\\a.txt", "Bob"},
        {"a.txt /SME", E, 0, "", ""},
        {"a.txt /SME \"\"", E, 0, "", ""},
        {"a.txt /SME \"  \"", E, 0, "", ""},
        // Empty after the quotes are stripped: refused, nothing is walked.
        {"\"\" /SGN", E, 0, "", ""},
        {"\"\"", E, 0, "", ""},
        {"\"   \" /CRP", E, 0, "", ""},
        {"a.txt \"\"", E, 0, "", ""},
        // Only the first nine arguments are read; later ones do not matter.
        {"a.txt /SGN 3 4 5 6 7 8 9 10 11", C, 2, "D:\\work\\a.txt", ""},
    };
    for (const Row& row : rows) {
        TransferRequest request = Interpret(row.line);
        EXPECT_EQ(request.action, row.action) << "line: " << row.line;
        if (request.action == row.action && row.action != E && row.action != N) {
            EXPECT_EQ(request.op, row.op) << "line: " << row.line;
            EXPECT_STREQ(request.file, row.file) << "line: " << row.line;
            EXPECT_STREQ(request.recipient, row.recipient) << "line: " << row.line;
        }
    }
}

TEST(CmdLineInterpret, OverlongArgumentsAreRefused) {
    std::string longName = "D:\\" + std::string(253, 'x');  // 256 characters
    EXPECT_EQ(Interpret("\"" + longName + "\" /SGN").action, TransferAction::InvalidArguments);
    EXPECT_EQ(Interpret(longName).action, TransferAction::InvalidArguments);
    std::string longRecipient(256, 'r');
    EXPECT_EQ(Interpret("a.txt /SME \"" + longRecipient + "\"").action,
              TransferAction::InvalidArguments);
    // Exactly 255 characters are taken whole.
    std::string name255 = "D:\\" + std::string(252, 'x');
    TransferRequest request = Interpret("\"" + name255 + "\" /SGN");
    EXPECT_EQ(request.action, TransferAction::ExecuteCommand);
    EXPECT_EQ(std::string(request.file), name255);
    std::string recipient255(255, 'r');
    request = Interpret("a.txt /SME " + recipient255);
    EXPECT_EQ(request.action, TransferAction::ExecuteCommand);
    EXPECT_EQ(std::string(request.recipient), recipient255);
    // A relative name that the current folder would push past 255 characters.
    std::string folder = "D:\\" + std::string(250, 'f');
    EXPECT_EQ(Interpret("abcdefgh.txt /SGN", folder.c_str()).action,
              TransferAction::InvalidArguments);
}

}  // namespace
