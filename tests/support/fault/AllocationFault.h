// A failing allocation on demand, for the boundaries of exports and worker
// threads: the test program that compiles AllocationFault.cpp in gets a global
// operator new that throws std::bad_alloc once, on the first allocation made
// by the thread chosen when it was armed.
#pragma once

#include <windows.h>

namespace tvtest {

// Arms the fault for the next allocation off the calling thread.
void FailNextAllocationOffThisThread();
// Arms the fault for the next allocation of the calling thread.
void FailNextAllocationOnThisThread();
// Disarms it again; true when it had fired.
bool AllocationFaultFired();

}  // namespace tvtest
