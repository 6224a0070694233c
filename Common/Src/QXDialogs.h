// QXDialogs: the system's file, folder and message dialogs, as the window
// layer (QXForms.h) shows them.
#pragma once

#include <windows.h>

// The open-file dialog. filter as for QXAskSaveFileName; the chosen file must
// exist. False when cancelled or when the name does not fit 255 characters.
bool QXAskOpenFileName(HWND owner, const char* filter, const char* initialDir, char* result);

// The save-file dialog. filter in the form "ZIP Files (*.zip)|*.zip"; the
// chosen full name goes to result (256 characters). False when cancelled or
// when the chosen name does not fit 255 characters (result then unchanged).
// The calling thread's other windows are disabled while it is open.
bool QXAskSaveFileName(HWND owner, const char* filter, const char* initialDir,
                       const char* fileName, char* result);
// The shell's folder browser (file-system folders, root the desktop, nothing
// preselected), the prompt above the tree. False when cancelled or when the
// folder does not fit 255 characters (result then unchanged).
bool QXBrowseForFolder(HWND owner, const char* prompt, char* result);
int QXMessageBox(HWND owner, const char* text, const char* caption, UINT type);
