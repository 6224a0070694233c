// Programs that a test starts and awaits, and the folders they lie in.
#pragma once

#include <windows.h>

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

}  // namespace tvtest
