// The context-menu handler build/bin/tvcryptc.dll as the Explorer meets it:
// registered by regsvr32, loaded, driven and unloaded by build/tools/tvhost.exe
// in a process of its own, running real jobs with the real progress window.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "QXDialogIds.h"
#include "QXForms.h"
#include "QXHandles.h"
#include "QXMenuClass.h"
#include "TransferFixture.h"
#include "WindowDriver.h"

using tvtest::ReadFileBytes;
using tvtest::WriteFileBytes;

namespace tvhost {
namespace {

constexpr DWORD kProcessDeadlineMs = 120000;
constexpr char kSignatureCaption[] = "Tarvisto 2.11 - Signature Info!";

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(tolower(c)); });
    return text;
}

std::string DllPath() { return tvtransfer::BinDir() + "\\tvcryptc.dll"; }

// A finished child process: its exit code and what it wrote, line by line.
struct Outcome {
    int exitCode = -1;
    std::vector<std::string> lines;
    std::string output;

    bool Has(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    bool Contains(const std::string& text) const { return output.find(text) != std::string::npos; }
};

// Runs a program with the arguments in the folder, its standard output and
// error going to a file there; waits on the process handle up to the deadline.
Outcome RunChild(const std::string& program, const std::string& arguments,
                 const std::string& folder) {
    Outcome outcome;
    std::string outputPath = folder + "\\" + tvtest::UniqueName("child") + ".out";
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    qx::File output(CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) {
        ADD_FAILURE() << "cannot create " << outputPath;
        return outcome;
    }
    std::string line = "\"" + program + "\" " + arguments;
    std::vector<char> buffer(line.c_str(), line.c_str() + line.size() + 1);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(program.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        folder.c_str(), &startup, &info)) {
        ADD_FAILURE() << "cannot start " << line << " (" << GetLastError() << ")";
        return outcome;
    }
    qx::Kernel process(info.hProcess);
    qx::Kernel thread(info.hThread);
    output.reset();
    if (WaitForSingleObject(process.get(), kProcessDeadlineMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 10000);
        ADD_FAILURE() << line << " did not end within " << kProcessDeadlineMs / 1000 << " s";
    } else {
        DWORD code = 0;
        GetExitCodeProcess(process.get(), &code);
        outcome.exitCode = static_cast<int>(code);
    }
    outcome.output = ReadFileBytes(outputPath);
    DeleteFileA(outputPath.c_str());
    std::istringstream text(outcome.output);
    for (std::string row; std::getline(text, row);) {
        if (!row.empty() && row.back() == '\r') row.pop_back();
        outcome.lines.push_back(row);
    }
    return outcome;
}

Outcome RunHost(const std::string& arguments, const std::string& folder) {
    std::string host = tvtransfer::ExeDir() + "\\..\\tools\\tvhost.exe";
    char full[MAX_PATH] = {0};
    GetFullPathNameA(host.c_str(), sizeof(full), full, nullptr);
    return RunChild(full, arguments, folder);
}

// --- the registry rows of the server -------------------------------------------

// Every key and value below HKCR as "key" and "key|name=type:data" lines.
void CollectKeys(HKEY root, const std::string& path, std::set<std::string>* rows) {
    qx::RegKey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) return;
    rows->insert(Lower(path));
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameSize = sizeof(name);
        BYTE data[4096];
        DWORD dataSize = sizeof(data);
        DWORD type = 0;
        LONG rc = RegEnumValueA(key.get(), i, name, &nameSize, nullptr, &type, data, &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        std::string value = rc == ERROR_SUCCESS
                                ? std::string(reinterpret_cast<char*>(data), dataSize)
                                : std::string("(unreadable)");
        if (type == REG_SZ && !value.empty() && value.back() == 0) value.pop_back();
        rows->insert(Lower(path) + "|" + Lower(name) + "=" + std::to_string(type) + ":" +
                     (type == REG_SZ ? Lower(value) : value));
    }
    std::vector<std::string> children;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameSize = sizeof(name);
        if (RegEnumKeyExA(key.get(), i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        children.push_back(name);
    }
    for (const auto& child : children)
        CollectKeys(root, path.empty() ? child : path + "\\" + child, rows);
}

std::set<std::string> ClassesRows() {
    std::set<std::string> rows;
    CollectKeys(HKEY_CLASSES_ROOT, "", &rows);
    return rows;
}

// The server's own rows, removed again whatever the test saw.
class ServerRows {
public:
    ServerRows() {
        for (const char* key : kKeys) {
            qx::RegKey open;
            present_ = present_ ||
                       RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, open.out()) == ERROR_SUCCESS;
        }
    }
    ~ServerRows() {
        if (present_) return;  // not ours
        for (const char* key : kKeys) RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
    }
    bool present() const { return present_; }

private:
    static constexpr const char* kKeys[] = {"CLSID\\" QX_MENU_CLASS_TEXT, QX_MENU_PROGID};
    bool present_ = false;
};

class HostTest : public tvtransfer::TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        // Bob alone as recipient: the first of the menu's recipients (offset 7).
        bobOnly_ = certs_.NewStore("bobonly");
        ASSERT_TRUE(certs_.CopyPublic(kBob, bobStore, bobOnly_));
        Set("pubstore", bobOnly_);
    }

    std::string Folder(const std::string& name) {
        std::string folder = Work(name);
        tvtest::MakeDir(folder);
        return folder;
    }

    // Runs tvcrypte on a file of the folder, answering the signature
    // information of a job that shows it.
    int TransferIn(const std::string& folder, const std::string& arguments, bool signatureInfo) {
        tvtransfer::TransferProcess process(arguments, folder);
        EXPECT_TRUE(process.started()) << arguments;
        if (signatureInfo) {
            HWND box = tvtest::WaitForWindow([](HWND w) {
                return tvtest::ClassOf(w).compare(0, 14, "TQXDlgOkHilfe.") == 0 &&
                       tvtest::TextOf(w) == kSignatureCaption;
            });
            EXPECT_NE(box, nullptr) << "no signature information for " << arguments;
            if (box) tvtest::ClickChild(box, IDC_OKHELP_OK);
        }
        return process.Wait(kProcessDeadlineMs);
    }

    tvtest::CertFixture certs_;
    std::string bobOnly_;
};

TEST_F(HostTest, RegistrationWritesTheServerRowsAloneAndTheHostFindsTheClassThroughThem) {
    ServerRows rows;
    ASSERT_FALSE(rows.present()) << "the template prefix must not hold the class";
    std::set<std::string> before = ClassesRows();

    char system[MAX_PATH] = {0};
    GetSystemDirectoryA(system, sizeof(system));
    Outcome registration =
        RunChild(std::string(system) + "\\regsvr32.exe", "/s \"" + DllPath() + "\"", WorkFolder());
    ASSERT_EQ(registration.exitCode, 0) << registration.output;

    std::set<std::string> after = ClassesRows();
    std::vector<std::string> added, removed;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(added));
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                        std::back_inserter(removed));
    const std::string cls = Lower("clsid\\" QX_MENU_CLASS_TEXT);
    const std::string sz = "=" + std::to_string(REG_SZ) + ":";
    std::vector<std::string> expected = {
        cls,
        cls + "|" + sz + "tarvistomenu",
        cls + "\\inprocserver32",
        cls + "\\inprocserver32|" + sz + Lower(DllPath()),
        cls + "\\progid",
        cls + "\\progid|" + sz + "tarvistomenu",
        "tarvistomenu",
        "tarvistomenu|" + sz + "tarvistomenu",
        "tarvistomenu\\clsid",
        "tarvistomenu\\clsid|" + sz + Lower(QX_MENU_CLASS_TEXT),
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(added, expected) << "exactly the class key, its server and ProgID, and the "
                                  "ProgID's class key: no ThreadingModel, no handler rows";
    EXPECT_EQ(removed, std::vector<std::string>()) << "nothing else changes";

    // The host finds the library through the rows, as the Explorer does.
    WriteFileBytes(Work("r.txt"), "registered");
    Outcome host = RunHost("r.txt", WorkFolder());
    ASSERT_EQ(host.exitCode, 0) << host.output;
    EXPECT_EQ(Lower(host.lines.at(0)), Lower("library " + DllPath())) << host.output;
    EXPECT_TRUE(host.Has("initialize hr=0x00000000")) << host.output;
    EXPECT_TRUE(host.Contains("kind=string id=1001 bitmap=yes text=&Unpack Digital Envelope"))
        << host.output;
}

TEST_F(HostTest, AHostThatFreesTheLibraryTheMomentItMaySurvivesTheJob) {
    // A few rounds: the job's worker ends right around the moment the host
    // frees the library.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        std::string name = "free" + std::to_string(round) + ".txt";
        std::string original = tvtest::PatternBytes(4000 + 1000 * round, 20 + round);
        WriteFileBytes(Work(name), original);

        Outcome host = RunHost("--dll \"" + DllPath() + "\" --invoke 2 --free-at-end " + name,
                               WorkFolder());
        EXPECT_EQ(host.exitCode, 0) << host.output;
        EXPECT_TRUE(host.Has("invoke offset=2 hr=0x00000000")) << host.output;
        EXPECT_TRUE(host.Has("freed")) << host.output;
        ASSERT_EQ(host.lines.empty() ? "" : host.lines.back(), "host survived") << host.output;
        std::string content;
        ASSERT_TRUE(VerifiedContent(Work(name + ".sgn"), &content));
        EXPECT_EQ(content, original);
    }
}

// What a menu command makes is what tvcrypte makes of the same input with the
// same settings. Encryption is randomized: those outputs are compared by what
// decrypting them gives back (contents and names).
TEST_F(HostTest, MenuCommandsMakeTheFilesTheTransferProgramMakes) {
    struct Case {
        const char* what;
        int offset;
        std::string switches;
        const char* extension;
        bool randomized;
        bool bobOpens;  // an envelope: Bob, with his key, opens both
    };
    const Case cases[] = {
        {"sign", 2, "/SGN", ".sgn", false, false},
        {"encrypt", 4, "/CRP", ".crp", true, false},
        {"envelope", 7, "/SME \"" + std::string(kBob) + "\"", ".sme", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UseOwnCertificate(kAlice, aliceStore);
        std::string menu = Folder(std::string("menu-") + c.what);
        std::string cmd = Folder(std::string("cmd-") + c.what);
        std::string original = std::string(c.what) + " " + tvtest::PatternBytes(9000, 40);
        WriteFileBytes(menu + "\\in.txt", original);
        WriteFileBytes(cmd + "\\in.txt", original);

        Outcome host = RunHost("--dll \"" + DllPath() + "\" --invoke " +
                                   std::to_string(c.offset) + " in.txt",
                               menu);
        ASSERT_EQ(host.exitCode, 0) << host.output;
        ASSERT_TRUE(host.Has("invoke offset=" + std::to_string(c.offset) + " hr=0x00000000"))
            << host.output;
        if (c.bobOpens) {
            EXPECT_TRUE(host.Has("    item pos=0 kind=string id=1007 bitmap=no text=" +
                                 std::string(kBob)))
                << "Bob is the first recipient\n" << host.output;
        }
        ASSERT_EQ(TransferIn(cmd, "in.txt " + c.switches, false), 0);

        std::string made = "in.txt" + std::string(c.extension);
        EXPECT_EQ(FilesBelow(menu), FilesBelow(cmd));
        std::string menuBytes = ReadFileBytes(menu + "\\" + made);
        std::string cmdBytes = ReadFileBytes(cmd + "\\" + made);
        ASSERT_FALSE(menuBytes.empty());
        ASSERT_FALSE(cmdBytes.empty());
        if (!c.randomized) {
            EXPECT_EQ(menuBytes, cmdBytes) << "a signature of the same key and content";
            continue;
        }
        EXPECT_EQ(menuBytes.find(c.what), std::string::npos) << "encrypted";

        // Opened by their reader, each gives the input back under its name.
        if (c.bobOpens) UseOwnCertificate(kBob, bobStore);
        for (const std::string& folder : {menu, cmd}) {
            SCOPED_TRACE(folder);
            ASSERT_TRUE(DeleteFileA((folder + "\\in.txt").c_str()));
            ASSERT_EQ(TransferIn(folder, made, c.bobOpens), 0);
            EXPECT_EQ(ReadFileBytes(folder + "\\in.txt"), original);
        }
        EXPECT_EQ(FilesBelow(menu), FilesBelow(cmd));
    }
}

}  // namespace
}  // namespace tvhost
