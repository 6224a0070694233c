#include "DSaveAs.h"

#include "QXDialogs.h"
#include "QXTools.h"

char* TDSaveAs::AskSaveAs(char* path) {
    if (!path) return nullptr;
    char folder[256] = "", name[256] = "";
    if (!SplitPath(path, folder, name, nullptr)) return nullptr;
    StripTrailingBackslash(folder);
    if (!QXAskSaveFileName(nullptr, "ZIP Files (*.zip)|*.zip", folder, name, path)) return nullptr;
    return path;
}
