// Drives the zip class and qxcpr32 from a script that checks the results
// with other zip tools on the host:
//   pack ARCHIVE BASE LEVEL COMMENT SOURCE...   new archive, entry comment "entry comment"
//   unpack ARCHIVE TARGET                       extracts with folders
//   remove ARCHIVE NAME                         drops one entry
// Exit code 0 on success.
#include "ZipAPI.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc >= 7 && strcmp(argv[1], "pack") == 0) {
        TQXZip zip;
        if (!zip.OpenArchive(argv[3], argv[2], true, atoi(argv[4])))
            return 2;
        bool ok = true;
        for (int i = 6; i < argc; ++i)
            ok = zip.Zip(argv[2], argv[i], "entry comment", (uint32_t)(argc - 6), false, false) && ok;
        ok = zip.CloseArchive(argv[5]) && ok;
        ErrorRecord r;
        GetLastErrorInfo(&r);
        if (r.set)
            fprintf(stderr, "%s\n", r.text);
        return ok ? 0 : 3;
    }
    if (argc == 4 && strcmp(argv[1], "unpack") == 0) {
        TQXZip zip;
        bool ok = zip.Unzip(argv[2], argv[3], false);
        ErrorRecord r;
        GetLastErrorInfo(&r);
        if (r.set)
            fprintf(stderr, "%s\n", r.text);
        return ok ? 0 : 4;
    }
    if (argc == 4 && strcmp(argv[1], "remove") == 0) {
        zipFile z = zipOpen(argv[2], 1, argv[3]);
        if (!z)
            return 5;
        return zipClose(z, nullptr) == ZIP_OK ? 0 : 6;
    }
    fprintf(stderr, "usage: pack|unpack|remove ...\n");
    return 1;
}
