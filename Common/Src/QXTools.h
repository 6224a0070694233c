// QXTools: the process-wide error record, the report step every library
// operation ends with, and the small helpers every unit uses.
#pragma once

#include <windows.h>
#include <cstdint>
#include <utility>

#include "QXBoundary.h"

// The first failure since the record was last cleared.
struct ErrorRecord {
    uint8_t set;      // 1 while a failure is held
    int32_t code;     // system error code at the time of the report
    char text[1024];  // message, a blank, the context line
};

void StoreLastError(const ErrorRecord* candidate);
void ReportResult(bool ok, const char* context, int32_t code, const char* message);
void GetLastErrorInfo(ErrorRecord* destination);
void ClearLastError();
// -1 stands for the thread's current last-error code. The text is "%s (0x%x)"
// of the system's message; empty for 0 or when there is none.
const char* SystemErrorText(int32_t code);

// The report step: sets the unit name, reads GetLastError, builds the context
// line "%s [%d %s %d]" and hands it to ReportResult. Returns ok.
bool QXReport(bool ok, const char* unit, int location, const char* message);
// The same with a code given by the caller instead of GetLastError.
bool QXReportCode(bool ok, const char* unit, int location, const char* message, int32_t code);

// The boundary of an exported function, a window procedure, a timer callback
// or a thread routine: nothing thrown may leave it. ReportException records
// what was caught as the failure of where ("Unexpected failure in %s: %s")
// with the unit and location given, and code 0: a system error left over
// from an earlier call says nothing about the exception.
void ReportException(const char* unit, int location, const char* where, const char* what) noexcept;

// Runs body and returns its result. An exception that would leave body is
// caught, reported through ReportException and gives failure instead.
template <typename Result, typename Body>
Result CatchAtBoundary(const char* unit, int location, const char* where, Result failure,
                       Body&& body) noexcept
{
    return qx::AtBoundary(failure, std::forward<Body>(body), [&](const char* what) noexcept {
        ReportException(unit, location, where, what);
    });
}

// The same for a body without a result: true when it ran to its end.
template <typename Body>
bool RunAtBoundary(const char* unit, int location, const char* where, Body&& body) noexcept
{
    return CatchAtBoundary(unit, location, where, false, [&body]() {
        std::forward<Body>(body)();
        return true;
    });
}

// The name the QXTools unit reports under ("QXTools"; the Explorer extension
// sets "QXtools").
void SetToolsUnitName(const char* name);
const char* ToolsUnitName();

// The context line and unit name of the last report step (for diagnostics).
const char* LastContextLine();
const char* LastUnitName();

// Bounded formatting into a fixed buffer: never overruns, always terminated.
void FormatText(char* dest, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Copies src into a buffer of size bytes; false (dest emptied) when it does not fit.
bool CopyText(char* dest, size_t size, const char* src);

// Constructing one clears the held failure and the thread's last-error code.
class TQXTools {
public:
    TQXTools();
    ~TQXTools();
};

// ---------------------------------------------------------------------------
// Text, path, process and mail utilities. Texts are zero-terminated ANSI;
// output buffers hold 256 characters unless said otherwise. Inputs that do not
// fit their buffers are refused (false), never cut.

// A path in a fixed 256-character buffer (one entry of a selection list).
typedef char QXPath[256];

// Cuts white space (blank, \t, \n, \v, \f, \r) at the end, then moves the text
// past its leading white space to the front. length -1: measure it. Returns text.
char* Trim(char* text, int length = -1);
// Cuts one trailing '\'; false for null or empty.
bool StripTrailingBackslash(char* text);
// Every '/' becomes '\' (and the reverse); false only for null.
bool SlashToBackslash(char* text);
bool BackslashToSlash(char* text);
// folder = drive + directory (with its trailing '\'), name = name + extension,
// extension with its '.'; each output (256 characters) may be null.
// False for a null path or one longer than 255 characters.
bool SplitPath(const char* path, char* folder, char* name, char* extension);
// Dispatches every waiting message of the thread in the range (0, 0: all),
// then the same for the window when one is given. A quit message is put back
// for the thread's own loop and ends the pumping. Returns true.
bool PumpMessages(HWND window, UINT lowest, UINT highest);
// Starts a document or program through the shell ("open", "add", ...). With
// wait: sleeps one second, then, when a process came back, pumps the thread's
// messages until that process has ended. The result is the start's success.
bool ShellExecuteWait(HWND owner, const char* file, const char* verb, const char* parameters,
                      bool wait);
// The network user name into a destination of 64 characters.
bool GetCurrentUserName(char* destination);
// Logs the current user off (every program of the user is asked to close);
// true when the log-off was started. Only the settings program uses it.
bool LogOffUser();
// The mail address (the word around the first '@', delimited by blank, ',',
// '"' or ';') into destination; false and empty when there is none.
bool ExtractMailAddress(const char* text, char* destination);
// Whether the path lies in the temporary, system or Windows folder (case-insensitive).
bool IsInTempDir(const char* path);
bool IsInSystemDir(const char* path);
bool IsInWindowsDir(const char* path);
// Hands the file to the mail program through Simple MAPI (MAPI32.DLL loaded at
// run time, the mail program's dialog shown). An empty address leaves the
// recipient to the user. True only when MAPISendMail returned SUCCESS_SUCCESS;
// mapiCode (optional) receives its return value (unchanged when it was not called).
bool SendMailWithAttachment(const char* address, const char* subject, const char* noteText,
                            const char* attachmentPath, ULONG* mapiCode = nullptr);
// The base folder of a selection: the longest common ancestor of the entries'
// parent folders, without a trailing '\' ("D:\a", a drive as "D:").
bool CommonBaseDir(int count, const QXPath* list, char* destination);
// The name of an output made from a selection, suffix appended: one folder or
// one file gives its own path, a drive root D:\ gives D:\D, several entries the
// folder of the first. folder receives the folder the output lies in (empty
// for one file).
bool BuildTargetName(int count, const QXPath* list, const char* suffix, char* name,
                     char* folder);

// The free part of the process's virtual address space, in bytes.
uint64_t GetAvailVirtual();
// Tests only: replaces the memory query of GetAvailVirtual (null restores it).
typedef uint64_t (*AvailVirtualQuery)();
void SetAvailVirtualQuery(AvailVirtualQuery query);
