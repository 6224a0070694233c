// What the transfer tests share: the settings of a quiet job (the real
// tvstatus.dll and animation of build/bin, no zipping, no mail, originals
// kept), two people with keys (Alice, the own certificate, and Bob) and a
// public store holding both, a work folder outside the temporary folder,
// starting build/bin/tvcrypte.exe and reading signed messages.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CertFixture.h"
#include "RegistryFixture.h"
#include "TestFiles.h"
#include "TestProcess.h"

namespace tvtransfer {

using tvtest::BinDir;
using tvtest::ExeDir;

// A running tvcrypte.exe.
class TransferProcess : public tvtest::ProgramProcess {
public:
    // Starts BinDir()\tvcrypte.exe with the arguments (as written after the
    // program name) in the folder.
    TransferProcess(const std::string& arguments, const std::string& folder)
        : ProgramProcess(BinDir() + "\\tvcrypte.exe", arguments, folder) {}
};

class TransferTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    void Set(const std::string& name, const std::string& value);
    // The own certificate and the store it lies in (Alice by default).
    void UseOwnCertificate(const std::string& subject, const std::string& store);

    // Runs tvcrypte with the arguments in the work folder (or the given one)
    // and waits for its end; the exit code, -1 after the time limit.
    int RunTransfer(const std::string& arguments, DWORD timeoutMs = 60000);
    std::string Work(const std::string& relative) const { return work_ + "\\" + relative; }
    const std::string& WorkFolder() const { return work_; }

    // The content of a signed message when its signature is valid; false otherwise.
    static bool VerifiedContent(const std::string& signedPath, std::string* content);
    // The files below a folder, as paths relative to it, sorted.
    static std::vector<std::string> FilesBelow(const std::string& folder);

    static const char* const kAlice;  // "Alice Transfer"
    static const char* const kBob;    // "Bob Transfer"
    static std::string aliceStore;    // Alice's certificate with its key
    static std::string bobStore;      // Bob's certificate with its key
    static std::string pubStore;      // both certificates without keys

    std::unique_ptr<tvtest::RegistryValues> settings;
    std::unique_ptr<tvtest::RegistryValues> ownCertificates;

private:
    static std::unique_ptr<tvtest::CertFixture> certs_;
    std::string work_;
};

// Answers the dialogs of a job that runs in this process, from a thread of its
// own: the signature information with OK, the yes/no/all questions with the
// given button; records the captions and texts it saw.
class DialogAnswerer {
public:
    explicit DialogAnswerer(int yesNoAllButton);
    ~DialogAnswerer();
    // "caption: text" of every dialog answered so far.
    std::vector<std::string> Seen();

private:
    void Loop();
    int yesNoAllButton_;
    std::mutex mutex_;
    std::vector<std::string> seen_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace tvtransfer
