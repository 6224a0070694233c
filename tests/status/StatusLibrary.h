// The dialogs library as a job binds it: loaded by path from the folder of
// the deliverables, the eight entry points resolved by name.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

#include "StatusRecord.h"

namespace tvtest {

// The deliverables' folder: ..\bin beside the test programs' folder.
std::string BinDir();

struct StatusLibrary {
    HMODULE module = nullptr;
    OpenQXStatusFn open = nullptr;
    UpdateQXStatusFn update = nullptr;
    CloseQXStatusFn close = nullptr;
    QXAskYesNoAllReadOnlyFn askReadOnly = nullptr;
    QXAskYesNoAllFileExistFn askFileExist = nullptr;
    QXAskFileSaveAsFn askSaveAs = nullptr;
    QXAskSelectDirFn askSelectDir = nullptr;
    ShowSigInfoFn showSigInfo = nullptr;

    bool Load();  // true when loaded and all eight were found
    void Unload();
    ~StatusLibrary() { Unload(); }
};

// Sets the clip setting "secureavi" for the test's life; the old value is
// put back (or the value removed) at the end.
class ClipSetting {
public:
    explicit ClipSetting(const std::string& path);
    ~ClipSetting();

private:
    bool hadValue_ = false;
    std::string old_;
};

// A record as the engine fills it.
StatusRecord MakeRecord(int8_t kind, const char* fileName = "", const char* subFolder = "",
                        uint32_t current = 0, uint32_t total = 0, const char* operationText = nullptr,
                        const char* detail = "");

}  // namespace tvtest
