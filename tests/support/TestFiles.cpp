#include "TestFiles.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

namespace tvtest {

namespace {
// Test programs that run at once each have a Wine prefix of their own, where
// process ids repeat; the run's number (scripts/wine/wine-test.sh) tells them apart
// in the folders they share.
std::string RunTag()
{
    char run[32] = "";
    DWORD n = GetEnvironmentVariableA("TV_TEST_RUN", run, sizeof run);
    if (n == 0 || n >= sizeof run) return "";
    return std::string(run) + "_";
}
}  // namespace

std::string UniqueName(const std::string& prefix)
{
    static const std::string run = RunTag();
    static std::atomic<unsigned> counter{0};
    char buf[64];
    snprintf(buf, sizeof buf, "%lu_%u", GetCurrentProcessId(), ++counter);
    return prefix + run + buf;
}

TempDir::TempDir(const std::string& tag)
{
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    path_ = std::string(tmp) + UniqueName(tag + "_");
    MakeDir(path_);
}

TempDir::~TempDir() { RemoveTree(path_); }

std::string TempDir::operator/(const std::string& relative) const
{
    return path_ + "\\" + relative;
}

std::vector<std::string> ListNames(const std::string& folder, const std::string& pattern,
                                   bool filesOnly)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\" + pattern).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = entry.cFileName;
        bool folderEntry = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (name != "." && name != ".." && !(filesOnly && folderEntry))
            names.push_back(name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}

std::string FullDiskFolder(const std::string& name)
{
    char exe[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string folder = exe;
    folder = folder.substr(0, folder.find_last_of('\\')) + "\\" + name;
    ULARGE_INTEGER available{}, total{}, free{};
    if (!GetDiskFreeSpaceExA((folder + "\\").c_str(), &available, &total, &free) ||
        total.QuadPart == 0 || total.QuadPart > (1u << 20))
        return "";
    return folder;
}

void RemoveTree(const std::string& path)
{
    DWORD attr = GetFileAttributesA(path.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL | (attr & FILE_ATTRIBUTE_DIRECTORY));
    if (!(attr & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(path.c_str());
        return;
    }
    if (!(attr & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((path + "\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::string name = fd.cFileName;
                if (name != "." && name != "..")
                    RemoveTree(path + "\\" + name);
            } while (FindNextFileA(h, &fd));
            FindClose(h);
        }
    }
    RemoveDirectoryA(path.c_str());
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return;
    if (!bytes.empty())
        fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

std::string ReadFileBytes(const std::string& path)
{
    std::string out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeDir(const std::string& path)
{
    if (path.empty() || Exists(path))
        return;
    size_t cut = path.find_last_of('\\');
    if (cut != std::string::npos && cut > 2)
        MakeDir(path.substr(0, cut));
    CreateDirectoryA(path.c_str(), nullptr);
}

std::string PatternBytes(size_t size, unsigned seed)
{
    std::string out(size, '\0');
    unsigned x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = static_cast<char>(x >> 16);
    }
    return out;
}

}  // namespace tvtest
