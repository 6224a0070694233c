// What the job-runner tests share: the job's settings, certificates, the
// scripted dialogs library loaded into this process, a work folder outside the
// temporary folder, a helper that answers the job's message boxes from a
// second thread, and one call that runs a job through the runner.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CertFixture.h"
#include "RegistryFixture.h"
#include "TestFiles.h"

namespace tvrun {

// A message box the job showed, as the answering thread saw it.
struct SeenBox {
    std::string caption;
    std::string text;
    bool ownerInProcess;  // no owner, or an owner window of this process
    int answer;
};

// Answers every message box of this process (class #32770 with a static text)
// from a thread of its own: the scripted answers in order, then the default.
class BoxAnswerer {
public:
    BoxAnswerer();
    ~BoxAnswerer();
    void Script(std::vector<int> answers, int fallback = IDNO);
    std::vector<SeenBox> Seen();
    void Clear();

private:
    void Loop();
    std::mutex mutex_;
    std::deque<int> answers_;
    int fallback_ = IDNO;
    std::vector<SeenBox> seen_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A folder outside the temporary folder (inputs there are not treated as
// temporary copies by the job), removed with all it holds.
class WorkDir {
public:
    explicit WorkDir(const std::string& root = "C:\\");
    ~WorkDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

private:
    std::string path_;
};

// The job environment of one test: settings with safe defaults, the scripted
// dialogs library, certificates (own: Alice with key; public store: Alice and
// Bob without keys) and a work folder.
class RunnerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // A value of the settings key ("Yes"/"No" for switches).
    void Set(const std::string& name, const std::string& value);
    void Unset(const std::string& name);
    // The subject of the own certificate the sign, encrypt and pack steps use.
    void SetOwnCertificate(const std::string& subject);
    // Script of the dialogs stand-in (see tests/stubs/scriptedstatus); the
    // progress window is a real hidden window of this thread.
    void Script(const std::string& script);
    std::string StatusLog();
    // Lines of the log that start with the call name ("Update", "AskFileSaveAs" ...).
    std::vector<std::string> LogLines(const std::string& call);

    // Runs one job through the runner on this thread.
    bool RunJob(uint32_t op, const std::vector<std::string>& paths,
                const std::string& recipient = "");

    // Protects a file directly with the engine's own operations (a one-file
    // job with the current settings); used to make inputs.
    bool Protect(uint32_t op, const std::string& path, const std::string& recipient = "");
    // What an envelope for the recipient holds, unpacked with his key from a
    // copy in the work folder (the current settings otherwise); "" when it
    // cannot be unpacked. The envelope itself stays as it is.
    std::string Unpacked(const std::string& envelope);

    static std::string TempFolder();  // without trailing backslash

    static std::string ownStore;
    static std::string pubStore;
    static std::string recipientStore;  // the recipient with his key
    static const char* const kOwnName;        // "Alice Runner"
    static const char* const kRecipientName;  // Bob, with a mail address in his name

    std::unique_ptr<tvtest::RegistryValues> settings;
    std::unique_ptr<tvtest::RegistryValues> ownCertificates;
    std::unique_ptr<WorkDir> work;
    BoxAnswerer boxes;

private:
    static std::unique_ptr<tvtest::CertFixture> certs_;
    static HMODULE status_;
};

// The folder of this test program.
std::string ExeDir();

}  // namespace tvrun
