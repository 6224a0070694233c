// The record a job hands to the dialogs library with every update and
// question, the texts of an operation (from the table of QXOperations.h), the
// answers of the dialogs and the function types of the library's eight entry
// points.
// Shared by the crypt engine and tvstatus, which are built separately: the
// layout below is fixed and checked at compile time.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

#include "QXOperations.h"

// What an update asks the progress window to do.
enum StatusDisplayKind : int8_t {
    StatusError = 0,         // a file failed: show the error box
    StatusFileProgress = 1,  // file counter and progress bar
    StatusSignatureValid = 2,// collect the signer's line
    StatusLine = 3,          // new status line only
    StatusPumpOnly = 4,      // only process pending messages
};

// The answers of the dialogs; the yes/no/all questions give 0, 1, 2, 3 or 6.
enum AnswerCode : uint8_t {
    AnswerYes = 0,
    AnswerYesAll = 1,
    AnswerNo = 2,
    AnswerNoAll = 3,
    AnswerOK = 4,
    AnswerHelp = 5,
    AnswerCancel = 6,
};

#pragma pack(push, 8)
struct StatusRecord {
    uint8_t showAnimation;       // 1: animation instead of the progress bar
    uint8_t reserved1[3];
    uint32_t current;            // files started so far
    uint32_t total;              // files of the job (0 in a plain status line)
    char fileName[256];          // name and extension of the current file
    char subFolder[256];         // last component of the current file's folder
    char path[256];              // in and out of the save-as and folder questions
    char detail[1024];           // signer (kind 2) or error text (kind 0)
    const char* operationText;   // status text, or error-dialog text in kind 0
    const char* doneText;        // verb of the operation
    int8_t displayKind;          // StatusDisplayKind
    uint8_t reserved2[7];
};
#pragma pack(pop)

static_assert(offsetof(StatusRecord, showAnimation) == 0, "StatusRecord layout");
static_assert(offsetof(StatusRecord, current) == 4, "StatusRecord layout");
static_assert(offsetof(StatusRecord, total) == 8, "StatusRecord layout");
static_assert(offsetof(StatusRecord, fileName) == 12, "StatusRecord layout");
static_assert(offsetof(StatusRecord, subFolder) == 268, "StatusRecord layout");
static_assert(offsetof(StatusRecord, path) == 524, "StatusRecord layout");
static_assert(offsetof(StatusRecord, detail) == 780, "StatusRecord layout");
#ifdef _WIN64
static_assert(offsetof(StatusRecord, operationText) == 1808, "StatusRecord layout");
static_assert(offsetof(StatusRecord, doneText) == 1816, "StatusRecord layout");
static_assert(offsetof(StatusRecord, displayKind) == 1824, "StatusRecord layout");
static_assert(sizeof(StatusRecord) == 1832, "StatusRecord layout");
#else
static_assert(offsetof(StatusRecord, operationText) == 1804, "StatusRecord layout");
static_assert(offsetof(StatusRecord, doneText) == 1808, "StatusRecord layout");
static_assert(offsetof(StatusRecord, displayKind) == 1812, "StatusRecord layout");
static_assert(sizeof(StatusRecord) == 1816, "StatusRecord layout");
#endif

// Texts of an operation. The pointers go into a StatusRecord and stay valid
// while the module that returned them is loaded (they are literals).
inline const char* OperationStatusText(uint32_t kind) {
    const OperationTraits* operation = FindOperation(kind);
    return operation ? operation->statusText : kUnknownOperationText;
}

inline const char* OperationDoneText(uint32_t kind) {
    const OperationTraits* operation = FindOperation(kind);
    return operation ? operation->doneText : kUnknownOperationText;
}

// Text of the error box for the operations that work on files; null otherwise.
inline const char* OperationErrorText(uint32_t kind) {
    const OperationTraits* operation = FindFileOperation(kind);
    return operation ? operation->errorText : nullptr;
}

// The window class of the progress window, found by other threads and processes.
#define QX_PROGRESS_CLASS "TQXProgress"

// The entry points of tvstatus, bound by name. The handle is opaque; null means
// no window. Every result is one byte.
typedef void* QXStatusHandle;
typedef bool(WINAPI* OpenQXStatusFn)(QXStatusHandle* out);
typedef bool(WINAPI* UpdateQXStatusFn)(QXStatusHandle handle, StatusRecord* record);
typedef bool(WINAPI* CloseQXStatusFn)(QXStatusHandle handle);
typedef uint8_t(WINAPI* QXAskYesNoAllReadOnlyFn)(QXStatusHandle handle, StatusRecord* record);
typedef uint8_t(WINAPI* QXAskYesNoAllFileExistFn)(QXStatusHandle handle, StatusRecord* record);
typedef bool(WINAPI* QXAskFileSaveAsFn)(QXStatusHandle handle, StatusRecord* record);
typedef bool(WINAPI* QXAskSelectDirFn)(QXStatusHandle handle, StatusRecord* record);
typedef bool(WINAPI* ShowSigInfoFn)(QXStatusHandle handle);
