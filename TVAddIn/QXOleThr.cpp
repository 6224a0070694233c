// QXOleThr: one job per call on a worker thread of its own; the calling thread
// pumps its messages meanwhile and raises the progress window on request.
#include "QXOleThr.h"

#include <cstring>
#include <memory>
#include <new>

#include "QXCryptDir.h"  // NextThreadNumber, shared with the crypt worker
#include "QXOleAPI.h"
#include "QXProgressWindow.h"

namespace {

constexpr char kUnit[] = "tvCryptIF";
constexpr int kThreadRoutineLocation = 2610;
constexpr int kRunLocation = 2611;
constexpr DWORD kWaitStepMs = 100;
constexpr int kWindowSearchTries = 20;

// The entries of a list must each end within their 256 characters.
bool ListIsTerminated(uint32_t count, const TQXSelFil* files) {
    for (uint32_t i = 0; i < count; ++i) {
        if (memchr(files[i], 0, sizeof(TQXSelFil)) == nullptr) return false;
    }
    return true;
}

// Sleeps in steps, keeping the calling thread's windows served.
void PumpingSleep(DWORD ms) {
    PumpMessages(nullptr, 0, 0);
    Sleep(ms);
}

}  // namespace

bool BringProgressWindowToFront(DWORD workerThreadId) {
    // The job's own window first: the class-name search of the whole desktop
    // may find another job's progress window.
    HWND window = FindProgressWindowOfThread(workerThreadId);
    for (int i = 0; window == nullptr && i < kWindowSearchTries; ++i) {
        window = FindWindowA(QX_PROGRESS_CLASS, nullptr);
        PumpingSleep(kWaitStepMs);
    }
    if (window == nullptr) return false;
    RaiseWindow(window);
    return true;
}

uint32_t OperationForExtension(const char* path) {
    char extension[256] = {0};
    if (path == nullptr || !SplitPath(path, nullptr, nullptr, extension)) return 0;
    CharLowerA(extension);
    for (const OperationTraits& operation : kOperationTable) {
        if (OpensOnDoubleClick(operation) && strcmp(extension, operation.extension) == 0)
            return operation.kind;
    }
    return 0;
}

TQXOleThr::TQXOleThr() : threadRecord(nullptr), request(nullptr) {
    ClearLastError();
    BringToFrontRequest = 0;
}

TQXOleThr::~TQXOleThr() = default;

bool TQXOleThr::DoExecuteTarvisto(uint32_t op, uint32_t count, TQXSelFil* files,
                                  const char* recipient) {
    threadRecord = nullptr;
    request = nullptr;
    if (op == 0 || count == 0 || files == nullptr || recipient == nullptr) return false;
    if (!ListIsTerminated(count, files)) return false;

    // The recipient must fit its 256 characters whole: never cut.
    char recipientCopy[256];
    if (!CopyText(recipientCopy, sizeof(recipientCopy), recipient)) return false;

    // The loop works on its own pointers: a caller that is called in again
    // while it waits (its windows stay responsive) cannot pull them away.
    TExeProzessThr* record = new (std::nothrow) TExeProzessThr();
    TDoExecuteThrRec* job = new (std::nothrow) TDoExecuteThrRec();
    threadRecord = record;
    request = job;
    bool started = false;
    if (record != nullptr && job != nullptr) {
        job->op = op;
        job->count = count;
        job->files = files;
        job->recipient = recipientCopy;
        job->runner = nullptr;
        record->request = job;
        started = StartThr(QX_THR_KIND_RUN, record);
    }

    if (started) {
        // The worker's thread ends the loop too: a worker that dies before
        // its last action cannot keep the caller waiting. The thread that
        // started the worker awaits it and deletes its CThr: nothing of the
        // job runs on once this call returns.
        AwaitWorker(record->thread, record->running, kWaitStepMs, [record] {
            if (BringToFrontRequest.exchange(0) != 0) {
                BringProgressWindowToFront(record->workerThreadId.load());
                Sleep(kWaitStepMs);
            }
        });
        record->thread = nullptr;
    }

    delete job;
    delete record;
    request = nullptr;
    threadRecord = nullptr;
    return started;
}

bool TQXOleThr::DoExecuteFile(uint32_t count, const TQXSelFil* files, const char* recipient) {
    if (files == nullptr || count == 0) return false;
    TQXSelFil* work = new (std::nothrow) TQXSelFil[1];
    if (work == nullptr) return false;

    char recipientCopy[256] = {0};
    bool result = true;
    if (recipient != nullptr && !CopyText(recipientCopy, sizeof(recipientCopy), recipient)) {
        result = false;
    }

    for (uint32_t i = 0; i < count && result; ++i) {
        // Each entry gets the operation of its own extension; an entry with
        // none of the three ends the run like a first one would.
        uint32_t op = 0;
        if (memchr(files[i], 0, sizeof(TQXSelFil)) == nullptr) {
            result = false;
            break;
        }
        op = OperationForExtension(files[i]);
        memcpy(work[0], files[i], sizeof(TQXSelFil));
        result = DoExecuteTarvisto(op, 1, work, recipientCopy);
    }

    delete[] work;
    return result;
}

bool TQXOleThr::StartThr(uint32_t kind, TExeProzessThr* record) {
    if (record == nullptr) return false;
    int32_t number = NextThreadNumber();
    record->running.store(1, std::memory_order_release);
    record->owner = this;
    record->kind = kind;
    if (InitExeProzessThr(number, record) == nullptr) {
        record->running.store(0, std::memory_order_release);
        return false;
    }
    return true;
}

CThr* TQXOleThr::InitExeProzessThr(int32_t number, TExeProzessThr* record) {
    if (number <= 0 || record == nullptr) return nullptr;
    char name[256];
    FormatText(name, sizeof(name), "ExeProzessThr%4.4d", number);
    return StartWorkerThread(name, number, &TQXOleThr::ExeProzessThr, record, &record->thread);
}

DWORD WINAPI TQXOleThr::ExeProzessThr(void* start) {
    TThrPrm* block = static_cast<TThrPrm*>(start);
    TExeProzessThr* record = nullptr;
    if (block != nullptr && block->params != nullptr) {
        record = static_cast<TExeProzessThr*>(block->params->argument);
    }
    if (record != nullptr) record->workerThreadId.store(GetCurrentThreadId());
    Sleep(20);

    if (record != nullptr && record->kind == QX_THR_KIND_RUN) {
        CatchAtBoundary(kUnit, kThreadRoutineLocation, "ExeProzessThr", false,
                        [record] { return DoExecuteTarvistoViaThr(record->request); });
    }
    // The very last action: afterwards the caller may free the record. The
    // thread's CThr belongs to the caller, which awaits the thread.
    if (record != nullptr) record->running.store(0, std::memory_order_release);
    return 0;
}

bool TQXOleThr::DoExecuteTarvistoViaThr(TDoExecuteThrRec* request) {
    if (request == nullptr || request->op == 0 || request->count == 0 ||
        request->files == nullptr || request->recipient == nullptr) {
        return false;
    }
    // The runner opens the job's progress window on this thread and closes it
    // again when it goes, also when the job is left by an exception.
    return CatchAtBoundary(kUnit, kRunLocation, "DoExecuteTarvistoViaThr", false, [request] {
        std::unique_ptr<TQXOleAPI> runner;
        struct RunnerSlot {  // cleared before the runner goes
            TDoExecuteThrRec* held;
            ~RunnerSlot() { held->runner = nullptr; }
        } slot{request};
        runner.reset(new TQXOleAPI());
        request->runner = runner.get();
        return runner->Run(request->op, request->count, request->files, request->recipient);
    });
}
