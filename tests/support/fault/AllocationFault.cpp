#include "AllocationFault.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> g_armed{false};
std::atomic<bool> g_fired{false};
std::atomic<DWORD> g_thread{0};
std::atomic<bool> g_onThatThread{false};  // else: on any other thread
}  // namespace

namespace tvtest {

void FailNextAllocationOffThisThread()
{
    g_fired = false;
    g_thread = GetCurrentThreadId();
    g_onThatThread = false;
    g_armed = true;
}

void FailNextAllocationOnThisThread()
{
    g_fired = false;
    g_thread = GetCurrentThreadId();
    g_onThatThread = true;
    g_armed = true;
}

bool AllocationFaultFired()
{
    g_armed = false;
    return g_fired.exchange(false);
}

}  // namespace tvtest

void* operator new(std::size_t size)
{
    if (g_armed.load(std::memory_order_relaxed) &&
        (GetCurrentThreadId() == g_thread.load()) == g_onThatThread.load() &&
        g_armed.exchange(false)) {
        g_fired = true;
        throw std::bad_alloc();
    }
    void* p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
