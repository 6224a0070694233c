#include "TestProcess.h"

#include <cstring>
#include <vector>

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

}  // namespace tvtest
