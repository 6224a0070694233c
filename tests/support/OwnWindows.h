// For test programs whose window searches must see only their own windows
// (other programs may show windows of the same classes meanwhile): including
// this registers, once per program, an environment that sets the process
// filter of the window driver to this process.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "WindowDriver.h"

namespace tvtest {

class OwnWindowsOnly : public ::testing::Environment {
public:
    void SetUp() override { SetProcessFilter(GetCurrentProcessId()); }
};
inline ::testing::Environment* const kOwnWindowsOnly =
    ::testing::AddGlobalTestEnvironment(new OwnWindowsOnly);

// Translates and dispatches the messages waiting for the calling thread.
inline void PumpOwn() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace tvtest
