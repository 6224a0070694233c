// QXTools: the process-wide error record, the report step every library
// operation ends with, and the small helpers every unit uses.
#pragma once

#include <windows.h>
#include <cstdint>

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
