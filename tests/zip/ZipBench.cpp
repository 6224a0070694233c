// Throughput of the zip class over qxcpr32 (used by scripts/bench-zip.sh):
//   zip_bench pack ARCHIVE BASE LEVEL SOURCE   prints "pack SECONDS"
//   zip_bench unpack ARCHIVE TARGET            prints "unpack SECONDS"
#include "ZipAPI.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

double Now()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart / (double)f.QuadPart;
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
    fprintf(stderr, "usage: zip_bench pack ARCHIVE BASE LEVEL SOURCE | unpack ARCHIVE TARGET\n");
    return 1;
}
