#include "WriteWatch.h"

#include <mutex>

// The program's own slots of the two imports: every call of this program
// goes through them.
extern "C" {
extern decltype(&::CreateFileA) __imp_CreateFileA;
extern decltype(&::WriteFile) __imp_WriteFile;
}

namespace {

decltype(&::CreateFileA) g_createFile = nullptr;
decltype(&::WriteFile) g_writeFile = nullptr;
std::recursive_mutex g_mutex;
tvtest::WriteWatch::Watcher g_watcher;
thread_local bool t_inWatcher = false;

void Notify(tvtest::WriteWatch::Event event, const std::string& path)
{
    if (t_inWatcher || path.empty())
        return;
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    if (!g_watcher)
        return;
    DWORD code = GetLastError();
    t_inWatcher = true;
    g_watcher(event, path);
    t_inWatcher = false;
    SetLastError(code);
}

HANDLE WINAPI WatchedCreateFileA(LPCSTR name, DWORD access, DWORD share,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                 HANDLE model)
{
    bool writes = (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA)) != 0;
    bool makes = disposition == CREATE_NEW || disposition == CREATE_ALWAYS ||
                 disposition == OPEN_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (name && writes && makes)
        Notify(tvtest::WriteWatch::Event::Create, name);
    return g_createFile(name, access, share, security, disposition, flags, model);
}

BOOL WINAPI WatchedWriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD written,
                             LPOVERLAPPED overlapped)
{
    if (!t_inWatcher) {
        char path[MAX_PATH * 2] = {0};
        DWORD n = GetFinalPathNameByHandleA(file, path, sizeof path,
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n > 0 && n < sizeof path) {
            std::string shown = path;
            if (shown.compare(0, 4, "\\\\?\\") == 0)
                shown.erase(0, 4);
            Notify(tvtest::WriteWatch::Event::Write, shown);
        }
    }
    return g_writeFile(file, data, length, written, overlapped);
}

template <typename Function>
bool Patch(Function* slot, Function value, Function* previous)
{
    DWORD old = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old))
        return false;
    if (previous)
        *previous = *slot;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
    return true;
}

}  // namespace

namespace tvtest {

WriteWatch::WriteWatch(Watcher watcher)
{
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    if (g_createFile)
        return;  // one watch at a time
    g_watcher = std::move(watcher);
    bool creates = Patch(&__imp_CreateFileA, &WatchedCreateFileA, &g_createFile);
    ok_ = creates && Patch(&__imp_WriteFile, &WatchedWriteFile, &g_writeFile);
    if (creates && !ok_)
        Patch(&__imp_CreateFileA, g_createFile, static_cast<decltype(g_createFile)*>(nullptr));
    if (!ok_) {
        g_createFile = nullptr;
        g_watcher = nullptr;
    }
}

WriteWatch::~WriteWatch()
{
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    if (!ok_)
        return;
    Patch(&__imp_WriteFile, g_writeFile, static_cast<decltype(g_writeFile)*>(nullptr));
    Patch(&__imp_CreateFileA, g_createFile, static_cast<decltype(g_createFile)*>(nullptr));
    g_createFile = nullptr;
    g_writeFile = nullptr;
    g_watcher = nullptr;
}

std::string BaseName(const std::string& path)
{
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace tvtest
