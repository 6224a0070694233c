// Ends the test program with a message when a call does not come back in
// time, instead of hanging until the test runner gives up.
#pragma once

#include <windows.h>

#include <cstdio>

namespace tvtest {

class Watchdog {
public:
    Watchdog(const char* what, DWORD ms) : what_(what), ms_(ms)
    {
        done_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, &Watchdog::Watch, this, 0, nullptr);
    }
    ~Watchdog()
    {
        SetEvent(done_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(done_);
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    static DWORD WINAPI Watch(void* arg)
    {
        Watchdog* self = static_cast<Watchdog*>(arg);
        if (WaitForSingleObject(self->done_, self->ms_) == WAIT_TIMEOUT) {
            fprintf(stderr, "FAILED: %s did not come back within %lu ms\n", self->what_,
                    static_cast<unsigned long>(self->ms_));
            fflush(stderr);
            ExitProcess(3);
        }
        return 0;
    }
    const char* what_;
    DWORD ms_;
    HANDLE done_;
    HANDLE thread_;
};

}  // namespace tvtest
