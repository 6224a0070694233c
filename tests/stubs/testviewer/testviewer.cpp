// A viewer for tests, registered as the "open" command of a test file type.
//   tv_testviewer.exe <document>
// Scripted through the environment it inherits from the test:
//   TV_VIEWER_LOG   file to which one line is appended per start:
//                   "<document>|<content as it was opened>"
//   TV_VIEWER_MODE  "keep" (default): leaves the document as it is;
//                   "change": replaces the document's content by TV_VIEWER_TEXT
//                   (default "changed by the viewer").
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string Env(const char* name)
{
    char value[1024];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

std::string ReadAll(const char* path)
{
    std::string data;
    FILE* f = fopen(path, "rb");
    if (!f) return data;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
    fclose(f);
    return data;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return 2;
    const char* document = argv[1];
    std::string log = Env("TV_VIEWER_LOG");
    if (!log.empty()) {
        FILE* f = fopen(log.c_str(), "ab");
        if (f) {
            std::string line = std::string(document) + "|" + ReadAll(document) + "\n";
            fwrite(line.data(), 1, line.size(), f);
            fclose(f);
        }
    }
    if (Env("TV_VIEWER_MODE") == "change") {
        std::string text = Env("TV_VIEWER_TEXT");
        if (text.empty()) text = "changed by the viewer";
        Sleep(50);  // a last-write time that differs from the copy's
        FILE* f = fopen(document, "wb");
        if (!f) return 3;
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
    return 0;
}
