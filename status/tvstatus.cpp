// tvstatus: the dialogs library of a running job. The eight entry points are
// bound by name; the handle they pass around is the job's progress window.
#include <windows.h>

#include <memory>

#include "DSaveAs.h"
#include "DSelectDir.h"
#include "DYesNoAll.h"
#include "QXForms.h"
#include "QXProgress.h"
#include "QXTools.h"
#include "QXVersion.h"
#include "StatusRecord.h"

#define TVSTATUS_API extern "C" __declspec(dllexport)

namespace {

TQXProgress* Window(QXStatusHandle handle) { return static_cast<TQXProgress*>(handle); }

// Every entry point is a boundary: what is thrown inside becomes the entry
// point's failure value and an entry of this library's error record, at the
// location 2700 + the entry point's ordinal.
constexpr char kUnit[] = "tvstatus";
constexpr int kEntryLocation = 2700;

// Steps 1 and 3 of every question: the animation stops, the window comes
// forward and the user gets a moment to see it.
void BeforeQuestion(TQXProgress* progress) {
    if (progress->aviAvailable) progress->StopAnimation();
}

void RaiseBeforeQuestion(TQXProgress* progress) {
    progress->BringForward();
    Sleep(1000);
}

uint8_t AskYesNoAll(QXStatusHandle handle, const char* question) {
    TQXProgress* progress = Window(handle);
    if (!progress) return AnswerCancel;  // at once: no pause, no window
    BeforeQuestion(progress);
    std::unique_ptr<TDYesNoAll> dialog(new TDYesNoAll(nullptr, QX_WARNING_CAPTION));
    if (!dialog->Created()) return AnswerCancel;
    RaiseBeforeQuestion(progress);
    uint8_t answer = dialog->Ask(question);
    dialog.reset();
    if (progress->aviAvailable) progress->StartAnimation();
    return answer;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // Our window classes must not outlive the library: a later loading at
    // another address would find them pointing into the void.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) QXFormsUnregisterClasses();
    return TRUE;
}

TVSTATUS_API bool WINAPI OpenQXStatus(QXStatusHandle* out) {
    return CatchAtBoundary<bool>(kUnit, kEntryLocation + 1, "OpenQXStatus", false, [&]() -> bool {
        if (!out) return false;  // a window nobody could close again
        std::unique_ptr<TQXProgress> progress(new TQXProgress(nullptr));
        if (!progress->Created()) return false;
        progress->ShowModeless();
        PumpMessages(nullptr, 0, 0);
        Sleep(200);
        *out = progress.release();
        return true;
    });
}

TVSTATUS_API bool WINAPI UpdateQXStatus(QXStatusHandle handle, StatusRecord* record) {
    return CatchAtBoundary<bool>(kUnit, kEntryLocation + 2, "UpdateQXStatus", false, [&]() -> bool {
        if (!handle) return false;
        return Window(handle)->UpdateStatus(record);
    });
}

TVSTATUS_API bool WINAPI CloseQXStatus(QXStatusHandle handle) {
    return CatchAtBoundary<bool>(kUnit, kEntryLocation + 3, "CloseQXStatus", false, [&]() -> bool {
        if (!handle) return false;
        std::unique_ptr<TQXProgress> progress(Window(handle));  // goes whatever happens
        progress->FormClose();
        return true;
    });
}

TVSTATUS_API uint8_t WINAPI QXAskYesNoAllReadOnly(QXStatusHandle handle, StatusRecord* record) {
    return CatchAtBoundary<uint8_t>(kUnit, kEntryLocation + 4, "QXAskYesNoAllReadOnly",
                                    AnswerCancel, [&]() -> uint8_t {
        if (!handle || !record) return AnswerCancel;
        char question[1024];
        FormatText(question, sizeof(question),
                   "Should the write - protected file '%s' really be %s?", record->fileName,
                   record->doneText ? record->doneText : "");
        return AskYesNoAll(handle, question);
    });
}

TVSTATUS_API uint8_t WINAPI QXAskYesNoAllFileExist(QXStatusHandle handle, StatusRecord* record) {
    return CatchAtBoundary<uint8_t>(kUnit, kEntryLocation + 5, "QXAskYesNoAllFileExist",
                                    AnswerCancel, [&]() -> uint8_t {
        if (!handle || !record) return AnswerCancel;
        char question[1024];
        FormatText(question, sizeof(question), "Should the file '%s' really be overwritten?",
                   record->fileName);
        return AskYesNoAll(handle, question);
    });
}

TVSTATUS_API bool WINAPI QXAskFileSaveAs(QXStatusHandle handle, StatusRecord* record) {
    return CatchAtBoundary<bool>(kUnit, kEntryLocation + 6, "QXAskFileSaveAs",
                                 false, [&]() -> bool {
        TQXProgress* progress = Window(handle);
        if (!progress || !record) return false;
        BeforeQuestion(progress);
        TDSaveAs dialog;
        RaiseBeforeQuestion(progress);
        bool chosen = dialog.AskSaveAs(record->path) != nullptr;
        if (chosen && progress->aviAvailable) progress->StartAnimation();
        return chosen;
    });
}

TVSTATUS_API bool WINAPI QXAskSelectDir(QXStatusHandle handle, StatusRecord* record) {
    return CatchAtBoundary<bool>(kUnit, kEntryLocation + 7, "QXAskSelectDir", false, [&]() -> bool {
        TQXProgress* progress = Window(handle);
        if (!progress || !record) return false;
        BeforeQuestion(progress);
        TDSelectDir dialog;
        RaiseBeforeQuestion(progress);
        bool chosen = dialog.AskDirectory(record->path) != nullptr;
        if (chosen && progress->aviAvailable) progress->StartAnimation();
        return chosen;
    });
}

TVSTATUS_API bool WINAPI ShowSigInfo(QXStatusHandle handle) {
    return CatchAtBoundary<bool>(kUnit, kEntryLocation + 8, "ShowSigInfo", false, [&]() -> bool {
        TQXProgress* progress = Window(handle);
        if (!progress) return false;
        BeforeQuestion(progress);
        bool shown = progress->ShowSignatureInfo();
        if (shown && progress->aviAvailable) progress->StartAnimation();
        return shown;
    });
}
