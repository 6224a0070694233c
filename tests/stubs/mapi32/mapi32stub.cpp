// A stand-in for the Simple MAPI library, for tests. Put beside a test program
// (tests-bin) it is loaded instead of the system's MAPI32.DLL (the harness
// sets WINEDLLOVERRIDES=mapi32=n,b).
//
// MAPISendMail records the message it is given and returns a scripted code:
//   TV_MAPI_LOG     path of the record file; default "mapi32-log.txt" beside
//                   this DLL. Each call rewrites the file.
//   TV_MAPI_RESULT  the code to return, decimal; default 0 (SUCCESS_SUCCESS).
// The record is lines of "key=value" (absent texts are written as "(null)"):
//   calls=<n>                    calls in this process so far
//   flags=<flags, decimal>
//   subject=<text>
//   note=<text>
//   recipients=<count>
//   recipient=<class>|<name>|<address>        one line per recipient
//   files=<count>
//   file=<position, decimal>|<path>|<name>    one line per attachment
//   result=<returned code>
#include <windows.h>
#include <mapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

LONG g_calls = 0;

const char* Text(const char* s) { return s ? s : "(null)"; }

void LogPath(char* path, DWORD size)
{
    DWORD n = GetEnvironmentVariableA("TV_MAPI_LOG", path, size);
    if (n > 0 && n < size)
        return;
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&LogPath), &self);
    n = GetModuleFileNameA(self, path, size);
    char* slash = n ? strrchr(path, '\\') : nullptr;
    if (slash && static_cast<size_t>(slash - path) + 16 < size)
        strcpy(slash + 1, "mapi32-log.txt");
    else
        strcpy(path, "mapi32-log.txt");
}

ULONG ScriptedResult()
{
    char value[32];
    DWORD n = GetEnvironmentVariableA("TV_MAPI_RESULT", value, sizeof value);
    if (n == 0 || n >= sizeof value)
        return SUCCESS_SUCCESS;
    return static_cast<ULONG>(strtoul(value, nullptr, 10));
}

}  // namespace

extern "C" ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR uiParam, lpMapiMessage message,
                                     FLAGS flags, ULONG reserved)
{
    LONG calls = InterlockedIncrement(&g_calls);
    ULONG result = ScriptedResult();
    char path[MAX_PATH];
    LogPath(path, sizeof path);
    FILE* f = fopen(path, "wb");
    if (!f)
        return result;
    fprintf(f, "calls=%ld\n", calls);
    fprintf(f, "flags=%lu\n", static_cast<unsigned long>(flags));
    if (message) {
        fprintf(f, "subject=%s\n", Text(message->lpszSubject));
        fprintf(f, "note=%s\n", Text(message->lpszNoteText));
        fprintf(f, "recipients=%lu\n", static_cast<unsigned long>(message->nRecipCount));
        for (ULONG i = 0; message->lpRecips && i < message->nRecipCount; ++i) {
            const MapiRecipDesc& r = message->lpRecips[i];
            fprintf(f, "recipient=%lu|%s|%s\n", static_cast<unsigned long>(r.ulRecipClass),
                    Text(r.lpszName), Text(r.lpszAddress));
        }
        fprintf(f, "files=%lu\n", static_cast<unsigned long>(message->nFileCount));
        for (ULONG i = 0; message->lpFiles && i < message->nFileCount; ++i) {
            const MapiFileDesc& d = message->lpFiles[i];
            fprintf(f, "file=%lu|%s|%s\n", static_cast<unsigned long>(d.nPosition),
                    Text(d.lpszPathName), Text(d.lpszFileName));
        }
    }
    fprintf(f, "result=%lu\n", static_cast<unsigned long>(result));
    fclose(f);
    return result;
}
