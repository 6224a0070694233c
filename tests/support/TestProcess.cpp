#include "TestProcess.h"

#include <cstring>
#include <vector>

#include "TestFiles.h"

namespace tvtest {

std::string ExeDir() {
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, path, sizeof(path));
    char* slash = strrchr(path, '\\');
    if (slash) *slash = 0;
    return path;
}

std::string BinDir() {
    std::string relative = ExeDir() + "\\..\\bin";
    char full[MAX_PATH] = {0};
    GetFullPathNameA(relative.c_str(), sizeof(full), full, nullptr);
    return full;
}

ProgramProcess::ProgramProcess(const std::string& program, const std::string& arguments,
                               const std::string& folder) {
    std::string line = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessA(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        processId_ = info.dwProcessId;
    }
}

ProgramProcess::~ProgramProcess() {
    if (process_) {
        if (Running()) {
            TerminateProcess(process_, 1);
            WaitForSingleObject(process_, 5000);
        }
        CloseHandle(process_);
    }
}

bool ProgramProcess::Running() const {
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

int ProgramProcess::Wait(DWORD timeoutMs) {
    if (!process_) return -1;
    // On the handle itself: an exit code of 259 reads like STILL_ACTIVE.
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 5000);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
}

HeldByOtherProgram::HeldByOtherProgram(const std::string& path, DWORD share) {
    std::string event = UniqueName("tvhold");
    ready_ = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
    if (!ready_) {
        why_ = "the event could not be made";
        return;
    }
    program_ = std::make_unique<ProgramProcess>(
        ExeDir() + "\\tv_holdfile.exe",
        "\"" + path + "\" " + std::to_string(share) + " " + event, "");
    if (!program_->started()) {
        why_ = "tv_holdfile.exe did not start";
        return;
    }
    // Until the program says it holds the file, or has ended without it.
    const DWORD deadlineMs = 60000;
    DWORD start = GetTickCount();
    while (WaitForSingleObject(ready_, 20) == WAIT_TIMEOUT) {
        if (!program_->Running()) {
            why_ = "tv_holdfile.exe ended with " + std::to_string(program_->Wait(0)) +
                   " before it held " + path;
            return;
        }
        if (GetTickCount() - start >= deadlineMs) {
            why_ = "tv_holdfile.exe did not hold " + path + " within 60 s";
            return;
        }
    }
    holding_ = true;
}

HeldByOtherProgram::~HeldByOtherProgram() {
    Release();
    if (ready_) CloseHandle(ready_);
}

void HeldByOtherProgram::Release() {
    program_.reset();  // ended and awaited: its handles are closed
    holding_ = false;
}

}  // namespace tvtest
