// QXThr: CThr wraps one worker thread. The thread that starts a worker owns
// it: StartWorkerThread (or new CThr, Init, Start; on a failure delete it),
// then, once the work is done, End, which awaits the thread's end and closes
// its handle, and delete. A routine never ends or deletes its own CThr.
// Each thread holds a reference to the module of its routine from before it
// is created until its very last act, so a host may free that module while a
// worker still runs: the code stays mapped until the worker is gone.
#pragma once

#include <windows.h>
#include <atomic>
#include <cstdint>
#include <functional>

#include "QXTools.h"

struct ThreadRecord;
struct ThreadParams;

// The argument of a thread routine: its own record and that record's params.
struct TThrPrm {
    ThreadRecord* record;
    ThreadParams* params;
};

// The routine receives a TThrPrm*; its return value becomes the thread's exit
// code (an exception that escapes it ends the thread with
// 574, the system's code for an unhandled exception).
typedef DWORD(WINAPI* ThreadRoutine)(void* prm);

struct ThreadParams {
    char name[256];  // "ExeProzessThr%4.4d" etc.; kept here only
    int32_t reserved;
    int32_t number;
    ThreadRoutine routine;
    void* argument;    // the routine's argument, read through TThrPrm::params
    int32_t priority;  // for SetThreadPriority
};

struct ThreadRecord {
    HANDLE thread;                  // null when none is held
    std::atomic<uint8_t> running;   // 1 from Start until End or Kill
    DWORD threadId;                 // non-zero once a thread was created
    ThreadParams params;
    TThrPrm startArg;
};

class CThr {
public:
    CThr();
    // A thread still held is awaited (End), never terminated.
    ~CThr();
    CThr(const CThr&) = delete;
    CThr& operator=(const CThr&) = delete;

    bool Init(ThreadParams params);
    bool Start();  // at most one thread per CThr
    // Called by the owner: awaits the end of the thread (serving messages
    // sent to the calling thread meanwhile), closes its handle and clears
    // running. False when no thread is held.
    bool End();
    // Terminates a thread still marked as running: an explicit last resort,
    // never part of a normal end.
    bool Kill();
    // Waits up to milliseconds for the thread to end, serving messages sent
    // to the calling thread meanwhile. True when it has ended (or none is held).
    bool Wait(DWORD milliseconds);

    ThreadRecord record;
};

// The one start of a worker: a CThr with the name, number and routine given,
// argument for the routine, normal priority. holder (may be null) receives the
// CThr before the thread runs and is cleared again when the start fails. The
// caller owns the result: it awaits the thread (End) and deletes it. Null when
// the thread could not be started; nothing is left running then.
CThr* StartWorkerThread(const char* name, int32_t number, ThreadRoutine routine, void* argument,
                        CThr** holder);

// The wait of the thread that started a worker, which keeps that thread's
// windows served: each step runs eachStep (when given), pumps the thread's
// messages and waits up to stepMs for the worker's end. The wait ends when
// busy reads 0 (the worker clears it as its very last action) or the thread
// has ended; then the thread is awaited (End) and worker deleted. A null
// worker ends the wait after one step.
void AwaitWorker(CThr* worker, const std::atomic<uint8_t>& busy, DWORD stepMs,
                 const std::function<void()>& eachStep = nullptr);
