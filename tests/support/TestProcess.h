// Programs that a test starts and awaits, and the folders they lie in.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace tvtest {

// The folder of this test program (build/tests-bin).
std::string ExeDir();
// The deliverables' folder beside it (build/bin).
std::string BinDir();

// A running program, ended by the destructor when it still runs.
class ProgramProcess {
public:
    // Starts the program with the arguments (as written after its name) in
    // the folder (empty: the test's own).
    ProgramProcess(const std::string& program, const std::string& arguments,
                   const std::string& folder);
    ~ProgramProcess();
    ProgramProcess(const ProgramProcess&) = delete;
    ProgramProcess& operator=(const ProgramProcess&) = delete;

    bool started() const { return process_ != nullptr; }
    DWORD id() const { return processId_; }
    // The exit code; -1 when it did not end in time (it is then ended).
    int Wait(DWORD timeoutMs = 60000);
    bool Running() const;

private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
};

// A file that another program (tests-bin\tv_holdfile.exe) holds open for
// reading with the given sharing, until Release or the destructor ends it.
class HeldByOtherProgram {
public:
    HeldByOtherProgram(const std::string& path, DWORD share);
    ~HeldByOtherProgram();
    HeldByOtherProgram(const HeldByOtherProgram&) = delete;
    HeldByOtherProgram& operator=(const HeldByOtherProgram&) = delete;

    // The program holds the file; otherwise why() says what went wrong.
    bool holding() const { return holding_; }
    const std::string& why() const { return why_; }
    // Ends the program: the file is free again.
    void Release();

private:
    HANDLE ready_ = nullptr;
    std::unique_ptr<ProgramProcess> program_;
    bool holding_ = false;
    std::string why_;
};

}  // namespace tvtest
