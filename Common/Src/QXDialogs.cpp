// QXDialogs: the system's file, folder and message dialogs.
#include "QXDialogs.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "QXForms.h"
#include "QXHandles.h"
#include "QXTools.h"

namespace {

// The common file dialog, save or open. The filter is "Name (*.x)|*.x" pairs;
// a choice of more than 255 characters is refused, never cut (one that does
// not fit MAX_PATH fails in the dialog itself).
bool AskFileName(bool save, HWND owner, const char* filter, const char* initialDir,
                 const char* fileName, DWORD flags, char* result) {
    if (!result) return false;
    // "Name (*.x)|*.x" -> "Name (*.x)\0*.x\0\0"
    std::string pairs = filter ? filter : "";
    for (char& c : pairs)
        if (c == '|') c = '\0';
    pairs.push_back('\0');
    pairs.push_back('\0');
    char chosen[MAX_PATH + 1] = "";
    if (fileName && !CopyText(chosen, sizeof(chosen), fileName)) chosen[0] = '\0';
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = pairs.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = chosen;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrInitialDir = initialDir && *initialDir ? initialDir : nullptr;
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | flags;
    std::vector<HWND> disabled = owner ? std::vector<HWND>() : QXDisableThreadWindows(nullptr);
    BOOL ok = save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    QXEnableWindows(disabled);
    if (!ok || strlen(chosen) > 255) return false;
    strcpy(result, chosen);
    return true;
}

}  // namespace

bool QXAskSaveFileName(HWND owner, const char* filter, const char* initialDir,
                       const char* fileName, char* result) {
    return AskFileName(true, owner, filter, initialDir, fileName, 0, result);
}

bool QXAskOpenFileName(HWND owner, const char* filter, const char* initialDir, char* result) {
    return AskFileName(false, owner, filter, initialDir, nullptr,
                       OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST, result);
}

bool QXBrowseForFolder(HWND owner, const char* prompt, char* result) {
    if (!result) return false;
    qx::ComInit com;
    char display[MAX_PATH] = "";
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    // The desktop as the root, named by its own (empty) item list.
    qx::TaskMemory<ITEMIDLIST> desktop;
    SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, desktop.out());
    info.pidlRoot = desktop.get();
    info.pszDisplayName = display;
    info.lpszTitle = prompt;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    std::vector<HWND> disabled = QXDisableThreadWindows(nullptr);
    qx::TaskMemory<ITEMIDLIST> chosen(SHBrowseForFolderA(&info));
    QXEnableWindows(disabled);
    char folder[MAX_PATH + 1] = "";
    if (!chosen || !SHGetPathFromIDListA(chosen.get(), folder) || strlen(folder) > 255)
        return false;
    strcpy(result, folder);
    return true;
}

int QXMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    return MessageBoxA(owner, text ? text : "", caption ? caption : "", type);
}
