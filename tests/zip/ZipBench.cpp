// Throughput of the zip class over qxcpr32 (used by scripts/bench-zip.sh):
//   zip_bench pack ARCHIVE BASE LEVEL SOURCE   prints "pack SECONDS"
//   zip_bench unpack ARCHIVE TARGET            prints "unpack SECONDS"
//   zip_bench deflate LEVEL SOURCE             prints "deflate SECONDS"
// deflate is the yardstick of pack: the zlib that qxcpr32 is built with,
// deflating every file below SOURCE at the same level, raw, from memory (the
// clock runs only while it deflates).
#include "ZipAPI.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double Now()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart / (double)f.QuadPart;
}

// Reads every file below folder and deflates it; adds the seconds of the
// deflate calls to *seconds.
bool DeflateTree(const std::string& folder, z_stream& zs, std::vector<unsigned char>& out,
                 double* seconds)
{
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = folder + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ok = DeflateTree(path, zs, out, seconds);
            continue;
        }
        FILE* f = fopen(path.c_str(), "rb");
        if (!f) {
            ok = false;
            continue;
        }
        std::vector<unsigned char> data(entry.nFileSizeLow);
        ok = fread(data.data(), 1, data.size(), f) == data.size();
        fclose(f);
        double t0 = Now();
        deflateReset(&zs);
        zs.next_in = data.data();
        zs.avail_in = (uInt)data.size();
        int r;
        do {
            zs.next_out = out.data();
            zs.avail_out = (uInt)out.size();
            r = deflate(&zs, Z_FINISH);
        } while (r == Z_OK);
        *seconds += Now() - t0;
        ok = ok && r == Z_STREAM_END;
    } while (ok && FindNextFileA(listing, &entry));
    FindClose(listing);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && strcmp(argv[1], "pack") == 0) {
        double t0 = Now();
        TQXZip zip;
        bool ok = zip.OpenArchive(argv[3], argv[2], true, atoi(argv[4])) &&
                  zip.Zip(argv[2], argv[5], nullptr, 1, false, false);
        ok = zip.CloseArchive(nullptr) && ok;
        printf("pack %.3f\n", Now() - t0);
        return ok ? 0 : 2;
    }
    if (argc == 4 && strcmp(argv[1], "unpack") == 0) {
        double t0 = Now();
        TQXZip zip;
        bool ok = zip.Unzip(argv[2], argv[3], false);
        printf("unpack %.3f\n", Now() - t0);
        return ok ? 0 : 3;
    }
    if (argc == 4 && strcmp(argv[1], "deflate") == 0) {
        z_stream zs = {};
        if (deflateInit2(&zs, atoi(argv[2]), Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return 4;
        std::vector<unsigned char> out(1 << 16);
        double seconds = 0;
        bool ok = DeflateTree(argv[3], zs, out, &seconds);
        deflateEnd(&zs);
        printf("deflate %.3f\n", seconds);
        return ok ? 0 : 4;
    }
    fprintf(stderr, "usage: zip_bench pack ARCHIVE BASE LEVEL SOURCE | unpack ARCHIVE TARGET"
                    " | deflate LEVEL SOURCE\n");
    return 1;
}
