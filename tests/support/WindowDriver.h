// WindowDriver: drives the system's windows from a test, from a second thread
// of the test process or from another process, while the code under test
// blocks in a window or dialog of its own.
//
// Finding windows (every wait polls every 20 ms and returns null on timeout;
// other tests may show windows of the same classes at the same time, so a
// test narrows the search to one process or thread):
//   void SetProcessFilter(pid)                  waits and TopWindows see only that
//                                                process's windows (0: every process)
//   HWND ThreadWindow(cls, threadId)             the thread's top-level window of a class
//   HWND WaitForWindow(match, timeoutMs)        any visible top-level window
//   HWND WaitForClass(cls, timeoutMs)            exact window class ("TQXProgress")
//   HWND WaitForClassPrefix(prefix, timeoutMs)   class names of our forms are made
//                                                unique per module as "<name>.<module>":
//                                                WaitForClassPrefix("TDYesNoAll")
//   HWND WaitForCaption(caption, timeoutMs)      exact caption, visible
//   bool WaitGone(window, timeoutMs)             destroyed or hidden
//   std::vector<HWND> TopWindows(cls)            all top-level windows of a class
// Reading:
//   std::string ClassOf(w), TextOf(w)            class name, WM_GETTEXT
//   HWND Child(parent, id); std::string ChildText(parent, id)
//   bool Enabled(w), Visible(w)                  Visible: the window's own style
//   std::string StatusBarText(bar, part = 0)     works across processes
//   int ProgressPosition(bar), ProgressMaximum(bar)
// Acting (posted, so a click that opens a modal window does not block us):
//   void Click(button); void ClickChild(parent, id)
//   void PressKey(window, vk)                    to the window's focused control
//   void PressEscape(window), PressEnter(window)
//   void CloseByBox(window)                      the close box (SC_CLOSE)
//   void PostClose(window)                       a plain WM_CLOSE (Alt+F4, the shell)
// System dialogs:
//   HWND WaitForMessageBox(timeoutMs, caption = nullptr)   class #32770 with static 65535
//   std::string MessageBoxText(box)
//   void AnswerDialog(dlg, buttonId)             IDOK, IDCANCEL, IDYES ...
//   HWND WaitForSaveAsDialog(timeoutMs)          the common save-file dialog
//   std::string SaveAsFileName(dlg), SaveAsFolder(dlg)
//   void AnswerSaveAs(dlg, path)                 types the name and presses Save
//   HWND WaitForFolderBrowser(timeoutMs)         the shell's folder browser
//   std::string FolderBrowserTexts(dlg)          its static texts (the prompt), joined by '\n'
//   void AnswerFolderBrowser(dlg, folder)        selects the folder and presses OK
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace tvtest {

void SetProcessFilter(DWORD processId);
HWND ThreadWindow(const char* cls, DWORD threadId);
HWND WaitForWindow(const std::function<bool(HWND)>& match, DWORD timeoutMs = 10000);
HWND WaitForClass(const char* cls, DWORD timeoutMs = 10000);
HWND WaitForClassPrefix(const char* prefix, DWORD timeoutMs = 10000);
HWND WaitForCaption(const char* caption, DWORD timeoutMs = 10000);
bool WaitGone(HWND window, DWORD timeoutMs = 10000);
std::vector<HWND> TopWindows(const char* cls);

std::string ClassOf(HWND window);
std::string TextOf(HWND window);
HWND Child(HWND parent, int id);
std::string ChildText(HWND parent, int id);
bool Enabled(HWND window);
bool Visible(HWND window);
std::string StatusBarText(HWND bar, int part = 0);
int ProgressPosition(HWND bar);
int ProgressMaximum(HWND bar);

void Click(HWND button);
void ClickChild(HWND parent, int id);
void PressKey(HWND window, UINT vk);
void PressEscape(HWND window);
void PressEnter(HWND window);
void CloseByBox(HWND window);
void PostClose(HWND window);

HWND WaitForMessageBox(DWORD timeoutMs = 10000, const char* caption = nullptr);
std::string MessageBoxText(HWND box);
void AnswerDialog(HWND dialog, int buttonId);
HWND WaitForSaveAsDialog(DWORD timeoutMs = 10000);
std::string SaveAsFileName(HWND dialog);
std::string SaveAsFolder(HWND dialog);
void AnswerSaveAs(HWND dialog, const std::string& path);
HWND WaitForFolderBrowser(DWORD timeoutMs = 10000);
std::string FolderBrowserTexts(HWND dialog);
void AnswerFolderBrowser(HWND dialog, const std::string& folder);

}  // namespace tvtest
