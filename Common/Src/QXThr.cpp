#include "QXThr.h"

#include "QXBoundary.h"

#include <cstring>
#include <new>

namespace {
const char kUnit[] = "QXThr";

// Waits for the handle up to milliseconds (INFINITE: without limit). Messages
// sent to this thread by other threads are served meanwhile, so that a worker
// that sends to one of our windows cannot stall its own end; posted messages
// stay queued for the owner's own loop.
bool AwaitHandle(HANDLE handle, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD left = milliseconds;
        if (milliseconds != INFINITE) {
            DWORD spent = GetTickCount() - start;
            left = spent >= milliseconds ? 0 : milliseconds - spent;
        }
        DWORD r = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0)
            return true;
        if (r != WAIT_OBJECT_0 + 1)
            return false;  // time is up, or the handle is unusable
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// What a new thread gets from its starter: the routine with its argument, and
// the reference to the routine's module that the thread gives back last.
struct ThreadStart {
    ThreadRoutine routine;
    TThrPrm* prm;
    HMODULE module;  // null when the routine lies in no module
};

// A reference to the module that holds the routine, taken for a new thread so
// that a host that frees the module meanwhile never unmaps code under it.
HMODULE TakeModuleOf(ThreadRoutine routine)
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(routine), &module))
        module = nullptr;
    return module;
}

// The system's code 574, "unhandled exception", which the headers here lack.
const DWORD kRoutineThrew = 574;

// Every worker runs here: the routine, then, as the thread's very last act,
// the module reference goes back and the thread ends in one call that does
// not return into the module. This unit is compiled into the module of the
// routines it starts, so this code lies in the module that is held.
DWORD WINAPI ThreadEntry(void* arg)
{
    ThreadStart start = *static_cast<ThreadStart*>(arg);
    delete static_cast<ThreadStart*>(arg);
    // A routine that throws ends its thread with kRoutineThrew.
    DWORD code = qx::AtBoundary(kRoutineThrew, [&start] { return start.routine(start.prm); });
    if (start.module)
        FreeLibraryAndExitThread(start.module, code);
    return code;
}
}  // namespace

CThr::CThr()
{
    record.thread = nullptr;
    record.running.store(0);
    record.threadId = 0;
    memset(&record.params, 0, sizeof record.params);
    record.startArg.record = nullptr;
    record.startArg.params = nullptr;
    ClearLastError();
}

CThr::~CThr()
{
    if (record.thread)
        End();
}

bool CThr::Init(ThreadParams params)
{
    bool ok = params.routine != nullptr;
    if (ok) {
        params.name[sizeof params.name - 1] = 0;
        record.params = params;
    }
    return QXReportCode(ok, kUnit, 100, "CThr::Init", 0);
}

bool CThr::Start()
{
    bool ok = false;
    if (record.threadId != 0 || !record.params.routine) {
        SetLastError(ERROR_INVALID_FUNCTION);
    } else {
        record.startArg.record = &record;
        record.startArg.params = &record.params;
        DWORD id = 0;
        HANDLE thread = nullptr;
        ThreadStart* start = new (std::nothrow) ThreadStart;
        if (!start) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        } else {
            start->routine = record.params.routine;
            start->prm = &record.startArg;
            start->module = TakeModuleOf(record.params.routine);
            thread = CreateThread(nullptr, 0, &ThreadEntry, start, CREATE_SUSPENDED, &id);
            if (!thread) {
                DWORD error = GetLastError();
                if (start->module)
                    FreeLibrary(start->module);
                delete start;
                SetLastError(error);
            }
        }
        if (thread) {
            // The record is complete before the routine can look at it.
            record.threadId = id;
            record.thread = thread;
            record.running.store(1);
            SetThreadPriority(thread, record.params.priority);
            ResumeThread(thread);
            SetLastError(0);
            ok = true;
        }
    }
    return QXReport(ok, kUnit, 200, "CThr::Start");
}

bool CThr::Wait(DWORD milliseconds)
{
    if (!record.thread || record.threadId == GetCurrentThreadId())
        return true;  // nothing to wait for; a thread cannot await itself
    return AwaitHandle(record.thread, milliseconds);
}

bool CThr::End()
{
    bool ok = false;
    if (record.thread) {
        Wait(INFINITE);
        ok = CloseHandle(record.thread) != FALSE;
        record.thread = nullptr;
    } else {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    record.running.store(0);
    return QXReport(ok, kUnit, 237, "CThr::End");
}

// A terminated thread never gives its module reference back: the module then
// stays loaded for the rest of the process, never unmapped under other code.
bool CThr::Kill()
{
    bool ok = true;
    if (record.running.exchange(0) == 1)
        ok = TerminateThread(record.thread, 0) != FALSE;
    if (ok && record.thread)
        ok = CloseHandle(record.thread) != FALSE;
    record.thread = nullptr;
    return QXReport(ok, kUnit, 130, "CThr::Kill");
}

CThr* StartWorkerThread(const char* name, int32_t number, ThreadRoutine routine, void* argument,
                        CThr** holder)
{
    if (holder)
        *holder = nullptr;
    ThreadParams params;
    memset(&params, 0, sizeof params);
    if (name)
        CopyText(params.name, sizeof params.name, name);
    params.reserved = 0;
    params.number = number;
    params.routine = routine;
    params.argument = argument;
    params.priority = 0;

    CThr* thread = new (std::nothrow) CThr;
    if (!thread)
        return nullptr;
    if (!thread->Init(params)) {
        delete thread;
        return nullptr;
    }
    if (holder)
        *holder = thread;
    if (!thread->Start()) {
        if (holder)
            *holder = nullptr;
        delete thread;
        return nullptr;
    }
    return thread;
}

void AwaitWorker(CThr* worker, const std::atomic<uint8_t>& busy, DWORD stepMs,
                 const std::function<void()>& eachStep)
{
    while (busy.load(std::memory_order_acquire) != 0) {
        if (eachStep)
            eachStep();
        PumpMessages(nullptr, 0, 0);
        if (!worker || worker->Wait(stepMs))
            break;
    }
    if (worker) {
        worker->End();
        delete worker;
    }
}
