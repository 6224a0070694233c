#include "QXTools.h"

#include <mapi.h>
#include <shellapi.h>
#include <winnetwk.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "FileAPI.h"
#include "QXHandles.h"

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

void ReportException(const char* unit, int location, const char* where,
                     const char* what) noexcept
{
    char message[1024];
    if (what && *what)
        FormatText(message, sizeof message, "Unexpected failure in %s: %s", where ? where : "",
                   what);
    else
        FormatText(message, sizeof message, "Unexpected failure in %s", where ? where : "");
    QXReportCode(false, unit, location, message, 0);
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

// ---------------------------------------------------------------------------
// Text, path, process and mail utilities

namespace {

bool IsWhite(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsMailDelimiter(char c) { return c == ' ' || c == ',' || c == '"' || c == ';'; }

AvailVirtualQuery g_availVirtualQuery = nullptr;

uint64_t SystemAvailVirtual()
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status))
        return 0;
    return status.ullAvailVirtual;
}

// The path (at most 255 characters) upper-cased against a folder from the system.
bool PathBeginsWith(const char* path, UINT (WINAPI* folderQuery)(char*, UINT))
{
    char copy[256];
    if (!CopyText(copy, sizeof copy, path))
        return false;
    char folder[256];
    UINT n = folderQuery(folder, sizeof folder);
    if (n == 0 || n >= sizeof folder)
        return false;
    CharUpperA(copy);
    CharUpperA(folder);
    size_t flen = strlen(folder);
    return strncmp(copy, folder, flen) == 0;
}

UINT WINAPI TempPathQuery(char* buffer, UINT size) { return GetTempPathA(size, buffer); }
UINT WINAPI SystemDirQuery(char* buffer, UINT size) { return GetSystemDirectoryA(buffer, size); }
UINT WINAPI WindowsDirQuery(char* buffer, UINT size) { return GetWindowsDirectoryA(buffer, size); }

// The folder an entry of a selection stands for: a folder entry itself, a
// file entry its folder; both without a trailing '\' (a drive as "D:").
bool EntryFolder(const char* entry, bool* isFolder, char* folder)
{
    char copy[256];
    if (!CopyText(copy, sizeof copy, entry) || !copy[0])
        return false;
    *isFolder = IsDirectory(copy) || copy[strlen(copy) - 1] == '\\';
    if (*isFolder) {
        StripTrailingBackslash(copy);
        return CopyText(folder, 256, copy);
    }
    if (!SplitPath(copy, folder, nullptr, nullptr))
        return false;
    StripTrailingBackslash(folder);
    return true;
}

// The parent of a folder written without a trailing '\'; a drive is its own parent.
void ParentFolder(char* folder)
{
    if (IsDriveRoot(folder) || !folder[0])
        return;
    char* cut = strrchr(folder, '\\');
    if (!cut)
        folder[0] = 0;
    else if (cut == folder + 2 && folder[1] == ':')
        folder[2] = 0;  // D:\a -> D:
    else
        *cut = 0;
}

char UpperChar(char c)
{
    CharUpperBuffA(&c, 1);
    return c;
}

// Length of the common leading folders of a and b (whole components only,
// letter case ignored).
size_t CommonPrefix(const char* a, const char* b)
{
    size_t common = 0;
    for (size_t i = 0;; ++i) {
        char ca = UpperChar(a[i]), cb = UpperChar(b[i]);
        bool endA = ca == 0 || ca == '\\';
        bool endB = cb == 0 || cb == '\\';
        if (endA && endB) {
            common = i;
            if (ca == 0 || cb == 0)
                break;
            continue;
        }
        if (ca != cb)
            break;
    }
    return common;
}

}  // namespace

char* Trim(char* text, int length)
{
    if (!text)
        return text;
    size_t len = strlen(text);
    if (length >= 0 && static_cast<size_t>(length) < len)
        len = static_cast<size_t>(length);
    text[len] = 0;
    while (len > 0 && IsWhite(text[len - 1]))
        text[--len] = 0;
    size_t start = 0;
    while (start < len && IsWhite(text[start]))
        ++start;
    if (start > 0)
        memmove(text, text + start, len - start + 1);
    return text;
}

bool StripTrailingBackslash(char* text)
{
    if (!text || !text[0])
        return false;
    size_t len = strlen(text);
    if (text[len - 1] == '\\')
        text[len - 1] = 0;
    return true;
}

bool SlashToBackslash(char* text)
{
    if (!text)
        return false;
    for (char* p = text; *p; ++p)
        if (*p == '/')
            *p = '\\';
    return true;
}

bool BackslashToSlash(char* text)
{
    if (!text)
        return false;
    for (char* p = text; *p; ++p)
        if (*p == '\\')
            *p = '/';
    return true;
}

bool SplitPath(const char* path, char* folder, char* name, char* extension)
{
    if (!path || strnlen(path, 256) >= 256)
        return false;
    size_t len = strlen(path);
    // The folder part ends after the last separator, or after the drive.
    size_t nameStart = 0;
    for (size_t i = 0; i < len; ++i)
        if (path[i] == '\\' || path[i] == '/')
            nameStart = i + 1;
    if (nameStart == 0 && len >= 2 && path[1] == ':')
        nameStart = 2;
    const char* dot = strrchr(path + nameStart, '.');
    if (folder) {
        memcpy(folder, path, nameStart);
        folder[nameStart] = 0;
    }
    if (name)
        memcpy(name, path + nameStart, len - nameStart + 1);
    if (extension) {
        if (dot)
            memcpy(extension, dot, strlen(dot) + 1);
        else
            extension[0] = 0;
    }
    return true;
}

bool PumpMessages(HWND window, UINT lowest, UINT highest)
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, lowest, highest, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // The thread's own message loop must still see the quit (a window
            // closed while a job runs): put it back and stop here.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return true;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (window) {
        while (PeekMessageA(&msg, window, lowest, highest, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

bool ShellExecuteWait(HWND owner, const char* file, const char* verb, const char* parameters,
                      bool wait)
{
    char message[1024];
    FormatText(message, sizeof message, "This file '%s' could not be executed!",
               file ? file : "");
    bool ok = false;
    DWORD code = ERROR_INVALID_PARAMETER;
    qx::Kernel process;
    if (file && file[0] && strnlen(file, 256) < 256) {
        SHELLEXECUTEINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.hwnd = owner;
        info.lpVerb = verb;
        info.lpFile = file;
        info.lpParameters = parameters;
        info.nShow = SW_SHOWNORMAL;
        BOOL started = ShellExecuteExA(&info);
        code = GetLastError();
        ok = started && reinterpret_cast<INT_PTR>(info.hInstApp) > 32;
        process.reset(info.hProcess);
        if (ok)
            code = 0;
        else if (code == 0)
            code = ERROR_NO_ASSOCIATION;
    }
    if (wait) {
        Sleep(1000);
        // Wait on the handle itself: an exit code of 259 reads like
        // STILL_ACTIVE and must not keep the wait going.
        HANDLE waitFor = process.get();
        while (ok && waitFor) {
            PumpMessages(nullptr, 0, 0);
            DWORD w = MsgWaitForMultipleObjects(1, &waitFor, FALSE, 100, QS_ALLINPUT);
            if (w == WAIT_OBJECT_0 || w == WAIT_FAILED)
                break;
        }
    }
    process.reset();
    return QXReportCode(ok, ToolsUnitName(), 588, message, static_cast<int32_t>(code));
}

bool GetCurrentUserName(char* destination)
{
    const char* message = "The current user could not be determined!";
    if (!destination)
        return QXReportCode(false, ToolsUnitName(), 657, message, ERROR_INVALID_PARAMETER);
    DWORD length = 64;
    DWORD rc = WNetGetUserA(nullptr, destination, &length);
    if (rc != NO_ERROR)
        destination[0] = 0;
    return QXReportCode(rc == NO_ERROR, ToolsUnitName(), 657, message,
                        static_cast<int32_t>(rc));
}

bool LogOffUser()
{
    bool ok = ExitWindowsEx(EWX_LOGOFF, 0) != FALSE;
    return QXReport(ok, ToolsUnitName(), 718, "The current user could not be logged out!");
}

bool ExtractMailAddress(const char* text, char* destination)
{
    if (!destination)
        return false;
    destination[0] = 0;
    char copy[256];
    if (!CopyText(copy, sizeof copy, text))
        return false;
    char* at = strchr(copy, '@');
    if (!at)
        return false;
    char* begin = at;
    while (begin > copy && !IsMailDelimiter(begin[-1]))
        --begin;
    char* end = begin;
    while (*end && !IsMailDelimiter(*end))
        ++end;
    *end = 0;
    return CopyText(destination, 256, begin);
}

bool IsInTempDir(const char* path) { return PathBeginsWith(path, &TempPathQuery); }
bool IsInSystemDir(const char* path) { return PathBeginsWith(path, &SystemDirQuery); }
bool IsInWindowsDir(const char* path) { return PathBeginsWith(path, &WindowsDirQuery); }

bool SendMailWithAttachment(const char* address, const char* subject, const char* noteText,
                            const char* attachmentPath, ULONG* mapiCode)
{
    const char* message = "Your emailprogram could not be executed!";
    char to[256], title[1024], path[256], fileName[256];
    if (!address || !subject || !noteText || !attachmentPath ||
        !CopyText(to, sizeof to, address) || !CopyText(title, sizeof title, subject) ||
        !CopyText(path, sizeof path, attachmentPath) ||
        !SplitPath(path, nullptr, fileName, nullptr))
        return QXReportCode(false, ToolsUnitName(), 928, message, ERROR_INVALID_PARAMETER);

    qx::Module mapi(LoadLibraryA("MAPI32.DLL"));
    if (!mapi)
        return QXReport(false, ToolsUnitName(), 928, message);
    LPMAPISENDMAIL send =
        reinterpret_cast<LPMAPISENDMAIL>(GetProcAddress(mapi.get(), "MAPISendMail"));
    if (!send) {
        DWORD code = GetLastError();
        mapi.reset();
        return QXReportCode(false, ToolsUnitName(), 928, message, static_cast<int32_t>(code));
    }
    // The message lives on this call's stack: two threads may mail at once.
    MapiFileDesc attachment{};
    attachment.nPosition = 0xFFFFFFFF;
    attachment.lpszPathName = path;
    attachment.lpszFileName = fileName;
    MapiRecipDesc recipient{};
    MapiMessage mail{};
    mail.lpszSubject = title;
    mail.lpszNoteText = const_cast<char*>(noteText);
    mail.nFileCount = 1;
    mail.lpFiles = &attachment;
    if (to[0]) {
        recipient.ulRecipClass = MAPI_TO;
        recipient.lpszName = to;
        recipient.lpszAddress = to;
        mail.nRecipCount = 1;
        mail.lpRecips = &recipient;
    }
    SetLastError(0);
    ULONG rc = send(0, 0, &mail, MAPI_LOGON_UI | MAPI_DIALOG, 0);
    DWORD code = GetLastError();
    mapi.reset();
    if (mapiCode)
        *mapiCode = rc;
    return QXReportCode(rc == SUCCESS_SUCCESS, ToolsUnitName(), 928, message,
                        static_cast<int32_t>(code));
}

bool CommonBaseDir(int count, const QXPath* list, char* destination)
{
    if (count <= 0 || !list || !destination)
        return false;
    destination[0] = 0;
    char base[256];
    for (int i = 0; i < count; ++i) {
        bool isFolder = false;
        char folder[256];
        if (!EntryFolder(list[i], &isFolder, folder))
            return false;
        // Entry names keep the selected folder's own name: the base is its parent.
        if (isFolder)
            ParentFolder(folder);
        if (!folder[0])
            return false;
        if (i == 0) {
            memcpy(base, folder, sizeof base);
            continue;
        }
        size_t common = CommonPrefix(base, folder);
        base[common] = 0;
        if (!base[0])
            return false;  // different drives or servers share no folder
    }
    if (base[0] == '\\' && strspn(base, "\\") == strlen(base))
        return false;
    return CopyText(destination, 256, base);
}

bool BuildTargetName(int count, const QXPath* list, const char* suffix, char* name,
                     char* folder)
{
    if (count <= 0 || !list || !name || !folder)
        return false;
    name[0] = 0;
    folder[0] = 0;
    char first[256];
    if (!CopyText(first, sizeof first, list[0]) || !first[0])
        return false;
    char result[256];
    char where[256];
    bool isFolder = IsDirectory(first) || first[strlen(first) - 1] == '\\';
    if (!isFolder && count == 1) {
        memcpy(result, first, sizeof result);
        where[0] = 0;
    } else {
        if (isFolder) {
            StripTrailingBackslash(first);
            memcpy(where, first, sizeof where);
        } else {
            SplitPath(first, where, nullptr, nullptr);
            StripTrailingBackslash(where);
        }
        if (IsDriveRoot(where))
            FormatText(result, sizeof result, "%c:\\%c", where[0], where[0]);  // D:\ -> D:\D
        else
            memcpy(result, where, sizeof result);
    }
    char full[512];
    FormatText(full, sizeof full, "%s%s", result, suffix ? suffix : "");
    if (!CopyText(name, 256, full))
        return false;
    return CopyText(folder, 256, where);
}

void SetAvailVirtualQuery(AvailVirtualQuery query) { g_availVirtualQuery = query; }

uint64_t GetAvailVirtual()
{
    return g_availVirtualQuery ? g_availVirtualQuery() : SystemAvailVirtual();
}
