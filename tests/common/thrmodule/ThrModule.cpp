// A library that starts one worker the way the engine does, for the host test
// that frees the library while that worker still runs. The thread that calls
// StartHeldWorker owns the worker and ends it with EndHeldWorker.
#include <windows.h>

#include "QXThr.h"

namespace {

struct HeldWork {
    HANDLE started;  // set by the worker once it runs
    HANDLE release;  // the worker goes on once it is set
};

HeldWork g_work;
CThr* g_worker = nullptr;

// Runs code of this library both before and after its release, so a library
// unmapped meanwhile would fault here.
DWORD WINAPI HeldRoutine(void* arg)
{
    TThrPrm* prm = static_cast<TThrPrm*>(arg);
    HeldWork* work = static_cast<HeldWork*>(prm->params->argument);
    SetEvent(work->started);
    if (WaitForSingleObject(work->release, 120000) != WAIT_OBJECT_0)
        return 1;
    volatile DWORD sum = 0;
    for (DWORD i = 0; i < 1000; ++i)
        sum = sum + i;
    return sum == 499500 ? 7 : 2;
}

}  // namespace

// Starts the worker; watch receives a handle of the caller's own on its thread.
extern "C" BOOL WINAPI StartHeldWorker(HANDLE started, HANDLE release, HANDLE* watch)
{
    try {
        if (g_worker || !watch)
            return FALSE;
        *watch = nullptr;
        g_work.started = started;
        g_work.release = release;
        CThr* worker = StartWorkerThread("ExeProzessThr0001", 1, &HeldRoutine, &g_work, nullptr);
        if (!worker)
            return FALSE;
        g_worker = worker;
        return DuplicateHandle(GetCurrentProcess(), worker->record.thread, GetCurrentProcess(),
                               watch, SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0);
    } catch (...) {
        return FALSE;
    }
}

// The owner's end: awaits the worker and deletes its CThr.
extern "C" BOOL WINAPI EndHeldWorker()
{
    try {
        if (!g_worker)
            return FALSE;
        bool ok = g_worker->End();
        delete g_worker;
        g_worker = nullptr;
        return ok;
    } catch (...) {
        return FALSE;
    }
}
