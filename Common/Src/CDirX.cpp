#include "CDirX.h"

#include "QXHandles.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

CDirX::CDirX() : mask{}
{
    Reset();
    ClearLastError();
}

CDirX::~CDirX() = default;

void CDirX::Reset() { ClearLastError(); }

void CDirX::In(const char* name) { printf("\nIn :%s", name); }
void CDirX::Out(const char* name) { printf("\nOut:%s", name); }
void CDirX::At(const char* path) { printf("\nAt: %s", path); }

bool CDirX::WalkTree(WalkRecord record)
{
    char folder[256];
    memcpy(folder, record.folder, sizeof folder);
    folder[sizeof folder - 1] = 0;
    Trim(folder);
    StripTrailingBackslash(folder);
    if (!folder[0])
        return false;

    char pattern[512];
    FormatText(pattern, sizeof pattern, "%s\\*.*", folder);
    if (strlen(pattern) > 255)
        return false;
    record.mask[sizeof record.mask - 1] = 0;
    CopyText(mask, sizeof mask, record.mask[0] ? record.mask : "*.*");

    std::unique_ptr<WalkRecord> level(new (std::nothrow) WalkRecord);
    if (!level)
        return false;
    memset(level.get(), 0, sizeof *level);
    // The listing is closed however the walk below ends.
    qx::Find listing(FindFirstFileA(pattern, &level->entry));
    if (!listing)
        return false;
    level->find = listing.get();
    memcpy(level->folder, folder, sizeof level->folder);
    memcpy(level->mask, record.mask, sizeof level->mask);
    return WalkLevel(this, level.get());
}

bool WalkLevel(CDirX* walker, WalkRecord* record)
{
    if (!walker || !record)
        return false;
    bool ok = true;
    for (;;) {
        const WIN32_FIND_DATAA& entry = record->entry;
        bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        char path[512];
        FormatText(path, sizeof path, "%s\\%s", record->folder, entry.cFileName);
        if (isFolder && entry.cFileName[0] == '.') {
            // ".", ".." and hidden dot-folders are passed over.
        } else if (strlen(path) > 255) {
            // A path that does not fit is never cut: the entry is skipped and
            // the walk reports the loss.
            ok = false;
        } else if (isFolder && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            // Junctions and links are not followed: they may lead outside the
            // tree or back into it.
        } else if (isFolder) {
            walker->walkEntry = &entry;
            walker->In(entry.cFileName);
            walker->walkEntry = nullptr;
            WalkRecord sub;
            memset(&sub, 0, sizeof sub);
            memcpy(sub.folder, path, 256);
            memcpy(sub.mask, record->mask, sizeof sub.mask);
            if (!walker->WalkTree(sub))
                ok = false;
            walker->Out(entry.cFileName);
        } else {
            walker->walkEntry = &entry;
            walker->At(path);
            walker->walkEntry = nullptr;
        }
        if (!FindNextFileA(record->find, &record->entry)) {
            if (GetLastError() != ERROR_NO_MORE_FILES)
                ok = false;
            break;
        }
    }
    return ok;
}
