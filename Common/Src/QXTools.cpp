#include "QXTools.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// One lock per module guards the record and the texts of the report step:
// the job thread and the crypt worker both report.
class ErrorLock {
public:
    ErrorLock() { EnterCriticalSection(section()); }
    ~ErrorLock() { LeaveCriticalSection(section()); }
    ErrorLock(const ErrorLock&) = delete;
    ErrorLock& operator=(const ErrorLock&) = delete;

private:
    static CRITICAL_SECTION* section()
    {
        static CRITICAL_SECTION cs;
        static bool ready = [] { InitializeCriticalSection(&cs); return true; }();
        (void)ready;
        return &cs;
    }
};

ErrorRecord g_record;
char g_context[1024];
char g_unitName[256];
char g_toolsUnitName[256] = "QXTools";
thread_local char t_systemText[256];

}  // namespace

void FormatText(char* dest, size_t size, const char* format, ...)
{
    if (!dest || size == 0)
        return;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(dest, size, format, args);
    va_end(args);
    if (n < 0)
        dest[0] = 0;
    dest[size - 1] = 0;
}

bool CopyText(char* dest, size_t size, const char* src)
{
    if (!dest || size == 0)
        return false;
    dest[0] = 0;
    if (!src)
        return false;
    size_t len = strlen(src);
    if (len >= size)
        return false;
    memcpy(dest, src, len + 1);
    return true;
}

void StoreLastError(const ErrorRecord* candidate)
{
    if (!candidate || !candidate->set)
        return;
    ErrorLock lock;
    if (g_record.set)
        return;
    g_record = *candidate;
    g_record.set = 1;
    g_record.text[sizeof g_record.text - 1] = 0;
}

void ReportResult(bool ok, const char* context, int32_t code, const char* message)
{
    if (ok || !context)
        return;
    ErrorRecord candidate{};
    candidate.set = 1;
    candidate.code = code;
    FormatText(candidate.text, sizeof candidate.text, "%s %s", message ? message : "Error",
               context);
    StoreLastError(&candidate);
}

void GetLastErrorInfo(ErrorRecord* destination)
{
    if (!destination)
        return;
    memset(destination, 0, sizeof *destination);
    bool held;
    {
        ErrorLock lock;
        held = g_record.set != 0;
        if (held)
            *destination = g_record;
    }
    if (held)
        ClearLastError();
}

void ClearLastError()
{
    SetLastError(0);
    ErrorLock lock;
    memset(&g_record, 0, sizeof g_record);
}

const char* SystemErrorText(int32_t code)
{
    if (code == -1)
        code = static_cast<int32_t>(GetLastError());
    t_systemText[0] = 0;
    if (code == 0)
        return t_systemText;

    char* buffer = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(code), 0,
                             reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (n != 0 && buffer && n + 14 <= sizeof t_systemText) {
        // The system text ends with a carriage return and a line feed.
        buffer[n >= 2 ? n - 2 : 0] = 0;
        FormatText(t_systemText, sizeof t_systemText, "%s (0x%x)", buffer,
                   static_cast<unsigned>(code));
    }
    SetLastError(0);
    if (buffer)
        LocalFree(buffer);
    return t_systemText;
}

bool QXReportCode(bool ok, const char* unit, int location, const char* message, int32_t code)
{
    char context[1024];
    {
        ErrorLock lock;
        CopyText(g_unitName, sizeof g_unitName, unit ? unit : "");
        FormatText(g_context, sizeof g_context, "%s [%d %s %d]", SystemErrorText(code), code,
                   g_unitName, location);
        memcpy(context, g_context, sizeof context);
    }
    ReportResult(ok, context, code, message);
    return ok;
}

bool QXReport(bool ok, const char* unit, int location, const char* message)
{
    return QXReportCode(ok, unit, location, message, static_cast<int32_t>(GetLastError()));
}

void SetToolsUnitName(const char* name)
{
    ErrorLock lock;
    CopyText(g_toolsUnitName, sizeof g_toolsUnitName, name);
}

const char* ToolsUnitName() { return g_toolsUnitName; }
const char* LastContextLine() { return g_context; }
const char* LastUnitName() { return g_unitName; }

TQXTools::TQXTools() { ClearLastError(); }
TQXTools::~TQXTools() = default;
