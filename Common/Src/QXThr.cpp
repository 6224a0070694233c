#include "QXThr.h"

#include <cstring>

namespace {
const char kUnit[] = "QXThr";
}

CThr::CThr()
{
    memset(&record, 0, sizeof record);
    ClearLastError();
}

CThr::~CThr()
{
    if (record.running == 1)
        Kill();
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
            record.running = 1;
            SetThreadPriority(thread, record.params.priority);
            ResumeThread(thread);
            SetLastError(0);
            ok = true;
        }
    }
    return QXReport(ok, kUnit, 200, "CThr::Start");
}

bool CThr::End()
{
    record.running = 0;
    bool ok = false;
    if (record.thread) {
        ok = CloseHandle(record.thread) != FALSE;
        record.thread = nullptr;
    } else {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return QXReport(ok, kUnit, 237, "CThr::End");
}

bool CThr::Kill()
{
    bool ok = true;
    if (record.running == 1) {
        record.running = 0;
        ok = TerminateThread(record.thread, 0) != FALSE;
    }
    if (ok && record.thread)
        ok = CloseHandle(record.thread) != FALSE;
    record.thread = nullptr;
    return QXReport(ok, kUnit, 130, "CThr::Kill");
}
