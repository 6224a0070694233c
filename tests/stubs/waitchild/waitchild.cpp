// A child process for tests that start a program and wait for it.
//   tv_waitchild.exe [milliseconds [exit code [marker file]]]
// Sleeps the given time (default 0), writes "done" to the marker file when one
// is named (after the sleep, just before it ends), and exits with the given
// code (default 0; 259 reads like STILL_ACTIVE to a polling parent). Extra
// arguments (a document path handed over by a file-type association) are ignored.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    DWORD ms = argc > 1 ? static_cast<DWORD>(strtoul(argv[1], nullptr, 10)) : 0;
    UINT code = argc > 2 ? static_cast<UINT>(strtoul(argv[2], nullptr, 10)) : 0;
    Sleep(ms);
    if (argc > 3) {
        FILE* f = fopen(argv[3], "wb");
        if (f) {
            fputs("done", f);
            fclose(f);
        }
    }
    ExitProcess(code);
}
