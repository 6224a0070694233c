// CDirX: a depth-first walk of a folder tree. Derived classes override In
// (entering a subfolder), Out (leaving it) and At (meeting a file).
#pragma once

#include <windows.h>

#include "QXTools.h"

// The state of one folder level. A caller zeroes one, fills folder and mask
// ("*.*"; empty stands for it) and hands it to WalkTree.
struct WalkRecord {
    HANDLE find;  // the open listing of the level; 0 in a caller's record
    char folder[256];
    char mask[256];
    WIN32_FIND_DATAA entry;
};

class CDirX {
public:
    CDirX();
    virtual ~CDirX();

    // Default operations write "\nIn :%s", "\nOut:%s" and "\nAt: %s" to stdout.
    virtual void In(const char* name);   // subfolder name only
    virtual void Out(const char* name);  // subfolder name only
    virtual void At(const char* path);   // folder + "\" + name

    void Reset();
    // Walks the folder and all its subfolders. False when a folder could not
    // be listed, a listing failed, or an entry's path did not fit 255 characters
    // (that entry is skipped; the walk goes on). Folders that are reparse points
    // (junctions, links) are not entered.
    bool WalkTree(WalkRecord record);

    char mask[256];
    // The listing's entry of the folder or file whose In or At runs now;
    // null outside those calls.
    const WIN32_FIND_DATAA* walkEntry = nullptr;

protected:
    TQXTools tools;
};

// The loop over one folder's entries (used by WalkTree).
bool WalkLevel(CDirX* walker, WalkRecord* record);

class CDirX1 : public CDirX {};
class CDirX2 : public CDirX {};
class CDirX3 : public CDirX {};
