#include "DSelectDir.h"

#include "QXDialogs.h"
#include "QXTools.h"

char* TDSelectDir::AskDirectory(char* path) {
    if (!path) return nullptr;
    char prompt[256];
    FormatText(prompt, sizeof(prompt), "Please select a Directory to unzip '%s'!", path);
    if (!QXBrowseForFolder(nullptr, prompt, path)) return nullptr;
    return path;
}
