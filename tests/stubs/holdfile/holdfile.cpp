// Another program that holds a file open, for tests of what the system does
// with a file in use.
//   tv_holdfile.exe <file> <sharing> <event>
// Opens the file for reading with the given sharing (the FILE_SHARE_* bits as
// a number), then sets the named event and holds the file until it is ended.
// Exits with 2 when the file cannot be opened, 3 when the event is missing.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 4) return 1;
    DWORD share = static_cast<DWORD>(strtoul(argv[2], nullptr, 10));
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (!ready || !SetEvent(ready)) return 3;
    CloseHandle(ready);
    Sleep(INFINITE);
    CloseHandle(file);
    return 0;
}
