// WindowDriver: drives the system's windows from a test, from a second thread
// of the test process or from another process, while the code under test
// blocks in a window or dialog of its own.
//
// Every wait is on a state (a window, a focus, a selection) and polls every
// 20 ms up to a deadline, which is generous for a busy machine (kWaitMs);
// nothing waits a fixed time before a key or a read.
//
// Driving:
//   WhileDriving(driver, call[, deadlineMs])     runs driver on a second thread while
//                                                call blocks on this one; returns call's
//                                                result. A watchdog: should call not have
//                                                returned by the deadline, the process's
//                                                windows are closed (so call returns) and
//                                                the test fails with a message.
//
//   bool WaitUntil(condition, timeoutMs)        polls condition until it holds
//
// Finding windows (null on timeout; a test may narrow the search to one
// process or thread):
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
//   std::vector<HWND> TopWindowsByPrefix(prefix) ... whose class name begins with prefix
// Reading:
//   std::string ClassOf(w), TextOf(w)            class name, WM_GETTEXT
//   HWND Child(parent, id); std::string ChildText(parent, id)
//   bool Enabled(w), Visible(w)                  Visible: the window's own style
//   std::string StatusBarText(bar, part = 0)     works across processes
//   int ProgressPosition(bar), ProgressMaximum(bar)
// Acting (posted, so a click that opens a modal window does not block us):
//   void Click(button); void ClickChild(parent, id)
//   bool HasFocus(control)                       the focus of its thread is on it
//   bool WaitForFocus(control, timeoutMs)
//   bool PressKeyOn(control, vk)                 waits until control has the focus, then
//                                                posts the key to it; a failed test (and
//                                                no key) when the focus does not come
//   bool PressKey(window, vk)                    the same for whichever control of the
//                                                window (or the window) has the focus, or
//                                                the window itself when it is active and
//                                                no control has the focus
//   bool PressEscape(window), PressEnter(window)
//   void CloseByBox(window)                      the close box (SC_CLOSE)
//   void PostClose(window)                       a plain WM_CLOSE (Alt+F4, the shell)
// System dialogs:
//   HWND WaitForMessageBox(timeoutMs, caption = nullptr)   class #32770 with static 65535
//   std::string MessageBoxText(box)
//   void AnswerDialog(dlg, buttonId)             IDOK, IDCANCEL, IDYES ...
//   bool AnswerBoxOver(window, timeoutMs)        once the window's thread takes messages
//                                                again: a message box it shows over the
//                                                window (a platform's box after a Help
//                                                click) is answered OK, until none is left
//   HWND WaitForSaveAsDialog(timeoutMs)          the common save-file dialog
//   std::string SaveAsFileName(dlg), SaveAsFolder(dlg)
//   void AnswerSaveAs(dlg, path)                 types the name and presses Save
//   HWND WaitForFolderBrowser(timeoutMs)         the shell's folder browser
//   std::string FolderBrowserTexts(dlg)          its static texts (the prompt), joined by '\n'
//   bool AnswerFolderBrowser(dlg, folder)        selects the folder and presses OK once
//                                                it is the selection; when it does not
//                                                become the selection, a failed test and
//                                                Cancel (never OK with another folder)
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tvtest {

// How long a wait for a window, a focus or a selection lasts before it fails.
constexpr DWORD kWaitMs = 30000;
// How long a call driven by WhileDriving may block before the watchdog ends it.
constexpr DWORD kDriveDeadlineMs = 120000;

// The watchdog of one WhileDriving: starts the driver, and at the deadline
// closes the windows of this process until the call has returned.
class DrivingWatch {
public:
    DrivingWatch(std::function<void()> driver, DWORD deadlineMs);
    ~DrivingWatch();  // joins the driver, reports a deadline or a driver's exception
    DrivingWatch(const DrivingWatch&) = delete;
    DrivingWatch& operator=(const DrivingWatch&) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};

template <class Call>
auto WhileDriving(std::function<void()> driver, Call call, DWORD deadlineMs = kDriveDeadlineMs)
    -> decltype(call()) {
    DrivingWatch watch(std::move(driver), deadlineMs);
    return call();
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kWaitMs);
void SetProcessFilter(DWORD processId);
HWND ThreadWindow(const char* cls, DWORD threadId);
HWND WaitForWindow(const std::function<bool(HWND)>& match, DWORD timeoutMs = kWaitMs);
HWND WaitForClass(const char* cls, DWORD timeoutMs = kWaitMs);
HWND WaitForClassPrefix(const char* prefix, DWORD timeoutMs = kWaitMs);
HWND WaitForCaption(const char* caption, DWORD timeoutMs = kWaitMs);
bool WaitGone(HWND window, DWORD timeoutMs = kWaitMs);
std::vector<HWND> TopWindows(const char* cls);
std::vector<HWND> TopWindowsByPrefix(const char* prefix);

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
bool HasFocus(HWND control);
bool WaitForFocus(HWND control, DWORD timeoutMs = kWaitMs);
bool PressKeyOn(HWND control, UINT vk, DWORD timeoutMs = kWaitMs);
bool PressKey(HWND window, UINT vk, DWORD timeoutMs = kWaitMs);
bool PressEscape(HWND window);
bool PressEnter(HWND window);
void CloseByBox(HWND window);
void PostClose(HWND window);

HWND WaitForMessageBox(DWORD timeoutMs = kWaitMs, const char* caption = nullptr);
std::string MessageBoxText(HWND box);
void AnswerDialog(HWND dialog, int buttonId);
bool AnswerBoxOver(HWND window, DWORD timeoutMs = kWaitMs);
HWND WaitForSaveAsDialog(DWORD timeoutMs = kWaitMs);
std::string SaveAsFileName(HWND dialog);
std::string SaveAsFolder(HWND dialog);
void AnswerSaveAs(HWND dialog, const std::string& path);
HWND WaitForFolderBrowser(DWORD timeoutMs = kWaitMs);
std::string FolderBrowserTexts(HWND dialog);
bool AnswerFolderBrowser(HWND dialog, const std::string& folder, DWORD timeoutMs = kWaitMs);

}  // namespace tvtest
