#include "StatusLibrary.h"

#include <cstring>
#include <functional>

namespace tvtest {

namespace {
const char* kSettingsKey = "software\\Quorvex\\Tarvisto";
}

std::string BinDir() {
    char exe[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, exe, sizeof(exe));
    std::string folder(exe);
    folder.erase(folder.find_last_of('\\'));
    std::string relative = folder + "\\..\\bin";
    char full[MAX_PATH] = "";
    GetFullPathNameA(relative.c_str(), sizeof(full), full, nullptr);
    return full;
}

bool StatusLibrary::Load() {
    module = LoadLibraryA((BinDir() + "\\tvstatus.dll").c_str());
    if (!module) return false;
    open = reinterpret_cast<OpenQXStatusFn>(GetProcAddress(module, "OpenQXStatus"));
    update = reinterpret_cast<UpdateQXStatusFn>(GetProcAddress(module, "UpdateQXStatus"));
    close = reinterpret_cast<CloseQXStatusFn>(GetProcAddress(module, "CloseQXStatus"));
    askReadOnly = reinterpret_cast<QXAskYesNoAllReadOnlyFn>(
        GetProcAddress(module, "QXAskYesNoAllReadOnly"));
    askFileExist = reinterpret_cast<QXAskYesNoAllFileExistFn>(
        GetProcAddress(module, "QXAskYesNoAllFileExist"));
    askSaveAs = reinterpret_cast<QXAskFileSaveAsFn>(GetProcAddress(module, "QXAskFileSaveAs"));
    askSelectDir = reinterpret_cast<QXAskSelectDirFn>(GetProcAddress(module, "QXAskSelectDir"));
    showSigInfo = reinterpret_cast<ShowSigInfoFn>(GetProcAddress(module, "ShowSigInfo"));
    return open && update && close && askReadOnly && askFileExist && askSaveAs && askSelectDir &&
           showSigInfo;
}

void StatusLibrary::Unload() {
    if (module) FreeLibrary(module);
    module = nullptr;
    open = nullptr;
    update = nullptr;
    close = nullptr;
    askReadOnly = nullptr;
    askFileExist = nullptr;
    askSaveAs = nullptr;
    askSelectDir = nullptr;
    showSigInfo = nullptr;
}

ClipSetting::ClipSetting(const std::string& path) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    char value[1024] = "";
    DWORD size = sizeof(value) - 1, type = 0;
    hadValue_ = RegQueryValueExA(key, "secureavi", nullptr, &type,
                                 reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
    old_ = value;
    RegSetValueExA(key, "secureavi", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>(path.size() + 1));
    RegCloseKey(key);
}

ClipSetting::~ClipSetting() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    if (hadValue_)
        RegSetValueExA(key, "secureavi", 0, REG_SZ, reinterpret_cast<const BYTE*>(old_.c_str()),
                       static_cast<DWORD>(old_.size() + 1));
    else
        RegDeleteValueA(key, "secureavi");
    RegCloseKey(key);
}

StatusRecord MakeRecord(int8_t kind, const char* fileName, const char* subFolder,
                        uint32_t current, uint32_t total, const char* operationText,
                        const char* detail) {
    StatusRecord record;
    memset(&record, 0, sizeof(record));
    record.displayKind = kind;
    strncpy(record.fileName, fileName, sizeof(record.fileName) - 1);
    strncpy(record.subFolder, subFolder, sizeof(record.subFolder) - 1);
    strncpy(record.detail, detail, sizeof(record.detail) - 1);
    record.current = current;
    record.total = total;
    record.operationText = operationText;
    return record;
}

}  // namespace tvtest
