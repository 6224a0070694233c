#include "QXThr.h"

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
        HANDLE thread = CreateThread(nullptr, 0, record.params.routine, &record.startArg,
                                     CREATE_SUSPENDED, &id);
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
