// QXThr: CThr wraps one worker thread. Owner: new CThr, Init, Start (on a
// failure delete it). The routine ends with End on its own CThr and deletes it.
#pragma once

#include <windows.h>
#include <cstdint>

#include "QXTools.h"

struct ThreadRecord;
struct ThreadParams;

// The argument of a thread routine: its own record and that record's params.
struct TThrPrm {
    ThreadRecord* record;
    ThreadParams* params;
};

// The routine receives a TThrPrm*; its return value is not used.
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
    HANDLE thread;              // null when none is held
    volatile uint8_t running;   // 1 from Start until End or Kill
    DWORD threadId;             // non-zero once a thread was created
    ThreadParams params;
    TThrPrm startArg;
};

class CThr {
public:
    CThr();
    ~CThr();  // kills a thread still marked as running
    CThr(const CThr&) = delete;
    CThr& operator=(const CThr&) = delete;

    bool Init(ThreadParams params);
    bool Start();  // at most one thread per CThr
    bool End();    // called by the routine on its own thread
    bool Kill();

    ThreadRecord record;
};
