// QXOleThr: the entry into the crypt engine for every caller. A caller hands
// TQXOleThr an operation, a list of paths and a recipient; the whole job runs
// on a worker thread of its own ("ExeProzessThr%4.4d") while the calling
// thread waits in a loop that pumps its messages every 100 ms and, when the
// job asks for it, raises the job's progress window.
//
// The class is exported from the transfer program; the Explorer extension
// compiles it too and may define TQXOLETHR_API itself before including this.
#pragma once

#include <windows.h>
#include <atomic>
#include <cstdint>

#include "QXThr.h"
#include "QXTools.h"

#ifndef TQXOLETHR_API
#define TQXOLETHR_API __declspec(dllexport)
#endif

// One entry of a selection list: a path of at most 255 characters and its
// terminator. A list is a contiguous array of such entries.
typedef QXPath TQXSelFil;

// The message of a call whose arguments the engine cannot take.
#define QX_INVALID_ARGUMENTS "Internal Error! - (Invalid Arguments)"

class TQXOleAPI;
class TQXOleThr;

// Kinds of TExeProzessThr.
constexpr uint32_t QX_THR_KIND_RUN = 1;

// The request of one job.
struct TDoExecuteThrRec {
    uint32_t op;                // OperationKind as the caller passes it
    uint32_t count;             // number of entries in files
    TQXSelFil* files;           // the caller's list (not copied)
    const char* recipient;      // the 256-character copy kept for the whole job
    TQXOleAPI* runner;          // the runner while the job runs, else null
};

// The record of the running job thread, shared by the calling thread and the
// worker. running is cleared by the worker as its very last action (release);
// the caller leaves its loop when it reads 0 (acquire) or when the thread has
// ended, awaits the thread and only then frees the record.
struct TExeProzessThr {
    std::atomic<uint8_t> running;
    uint32_t kind;
    CThr* thread;                 // set before the thread starts; the caller awaits and deletes it
    TQXOleThr* owner;
    TDoExecuteThrRec* request;
    std::atomic<DWORD> workerThreadId;  // written by the worker when it begins
};

// The bring-to-front byte (BringToFrontRequest) is set by the job runner at
// the start of each run step; the thread that waits for the job clears it and
// raises the progress window.

// Raises the job's progress window: first the window of class "TQXProgress"
// that belongs to the given worker thread (0: none), else the first window of
// that class found on the desktop (up to 20 tries, 100 ms apart). Returns
// whether a window was found.
bool BringProgressWindowToFront(DWORD workerThreadId = 0);

// The OperationKind that DoExecuteFile runs for a path: the operation that
// works on files with its extension (".sgn" verify, ".crp" decrypt, ".sme"
// unpack envelope), compared lower-cased on the part from the last dot of the
// file name on; 0 for anything else.
uint32_t OperationForExtension(const char* path);

class TQXOLETHR_API TQXOleThr {
public:
    TQXOleThr();
    ~TQXOleThr();
    TQXOleThr(const TQXOleThr&) = delete;
    TQXOleThr& operator=(const TQXOleThr&) = delete;

    // Runs one job over the list and returns when it has ended. The result
    // tells whether the worker was started, not how the job went.
    bool DoExecuteTarvisto(uint32_t op, uint32_t count, TQXSelFil* files, const char* recipient);
    // One job per entry, each with the operation its extension calls for;
    // stops at the first false result and returns the last result.
    bool DoExecuteFile(uint32_t count, const TQXSelFil* files, const char* recipient);
    bool StartThr(uint32_t kind, TExeProzessThr* record);

    static CThr* InitExeProzessThr(int32_t number, TExeProzessThr* record);
    // The thread routine; its argument is the TThrPrm start block of CThr.
    static DWORD WINAPI ExeProzessThr(void* start);
    static bool DoExecuteTarvistoViaThr(TDoExecuteThrRec* request);

private:
    TExeProzessThr* threadRecord;
    TDoExecuteThrRec* request;
};
