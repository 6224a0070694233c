// The shell registration of the Explorer extension and of the message file
// types: the twelve rows under HKEY_CLASSES_ROOT, written as a whole or not
// at all, and removed again without touching what other programs own.
#include <cstring>
#include <string>
#include <vector>

#include "QXHandles.h"
#include "QXMenuClass.h"
#include "QXOperations.h"
#include "QXReg.h"
#include "QXTools.h"
#include "TVSetup.h"

namespace {

const char kFileType[] = "Tarvisto";
const char* const kHandlerPrefixes[] = {"*\\shellex\\ContextMenuHandlers\\",
                                        "Directory\\shellex\\ContextMenuHandlers\\",
                                        "Drive\\shellex\\ContextMenuHandlers\\"};

// The message file types, in the orders of their rows: written signed,
// encrypted, envelope; removed encrypted, signed, envelope. Each is named by
// the operation that a double-click on such a file runs.
constexpr uint32_t kTypesWritten[] = {OpVerify, OpDecrypt, OpUnpackEnvelope};
constexpr uint32_t kTypesRemoved[] = {OpDecrypt, OpVerify, OpUnpackEnvelope};

// Every operation that a double-click runs, once.
template <size_t N>
constexpr bool EveryDoubleClickOnce(const uint32_t (&kinds)[N]) {
    size_t opening = 0;
    for (const OperationTraits& row : kOperationTable) {
        if (!OpensOnDoubleClick(row)) continue;
        ++opening;
        size_t found = 0;
        for (uint32_t kind : kinds) found += kind == row.kind ? 1 : 0;
        if (found != 1) return false;
    }
    return opening == N;
}
static_assert(EveryDoubleClickOnce(kTypesWritten) && EveryDoubleClickOnce(kTypesRemoved),
              "a file type row for every operation a double-click runs");

struct Row {
    std::string key;
    const char* name;  // null: the key's default value
    std::string data;
};

// What a row's key and value were before it was written.
struct Before {
    bool hadValue = false;
    DWORD type = 0;
    std::vector<BYTE> bytes;
    std::vector<std::string> missingKeys;  // made by the write, outermost first
};

std::string ClassKey() { return std::string("CLSID\\") + QX_MENU_CLASS_TEXT; }
std::string ServerKey() { return ClassKey() + "\\InprocServer32"; }

bool KeyExists(const std::string& key) {
    qx::RegKey handle;
    return RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, handle.out()) ==
           ERROR_SUCCESS;
}

Before TakeBefore(const Row& row) {
    Before before;
    std::string path;
    size_t start = 0;
    while (start < row.key.size()) {
        size_t end = row.key.find('\\', start);
        if (end == std::string::npos) end = row.key.size();
        if (end > start) {
            path = row.key.substr(0, end);
            if (!KeyExists(path)) before.missingKeys.push_back(path);
        }
        start = end + 1;
    }
    qx::RegKey handle;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, row.key.c_str(), 0, KEY_QUERY_VALUE, handle.out()) ==
        ERROR_SUCCESS) {
        DWORD size = 0;
        if (RegQueryValueExA(handle.get(), row.name, nullptr, &before.type, nullptr, &size) ==
            ERROR_SUCCESS) {
            before.bytes.resize(size);
            before.hadValue =
                RegQueryValueExA(handle.get(), row.name, nullptr, &before.type,
                                 before.bytes.data(), &size) == ERROR_SUCCESS;
            before.bytes.resize(size);
        }
    }
    return before;
}

// Puts a row back as it was: the old value, or none, and no key it made.
void PutBack(const Row& row, const Before& before) {
    qx::KeptError kept;
    {
        qx::RegKey handle;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, row.key.c_str(), 0, KEY_SET_VALUE, handle.out()) ==
            ERROR_SUCCESS) {
            if (before.hadValue)
                RegSetValueExA(handle.get(), row.name, 0, before.type, before.bytes.data(),
                               static_cast<DWORD>(before.bytes.size()));
            else
                RegDeleteValueA(handle.get(), row.name);
        }
    }
    for (auto key = before.missingKeys.rbegin(); key != before.missingKeys.rend(); ++key)
        RegDeleteKeyA(HKEY_CLASSES_ROOT, key->c_str());
}

// The twelve rows with the paths of the programs beside this one; false
// (nothing to write) when a path does not fit 255 characters.
bool BuildRows(std::vector<Row>* rows) {
    char extension[256], transfer[256];
    if (!ProgramFile("tvcryptc.dll", extension) || !ProgramFile("tvcrypte.exe", transfer))
        return false;
    std::string command = std::string("\"") + transfer + "\" \"%1\"";
    std::string icon = std::string(transfer) + ",0";
    if (command.size() > 255 || icon.size() > 255)
        return QXReportCode(false, "TVSetup", 210, "The program's path is too long!",
                            ERROR_FILENAME_EXCED_RANGE);
    for (const char* prefix : kHandlerPrefixes)
        rows->push_back({std::string(prefix) + kFileType, nullptr, QX_MENU_CLASS_TEXT});
    rows->push_back({ClassKey(), nullptr, kFileType});
    rows->push_back({ServerKey(), nullptr, extension});
    rows->push_back({ServerKey(), "ThreadingModel", "Apartment"});
    rows->push_back({std::string(kFileType) + "\\shell\\open\\command\\", nullptr, command});
    rows->push_back({std::string(kFileType) + "\\DefaultIcon", nullptr, icon});
    rows->push_back({kFileType, nullptr, QX_PRODUCT_VERSION " - File"});
    for (uint32_t kind : kTypesWritten) rows->push_back({FindOperation(kind)->extension, "", kFileType});
    return true;
}

}  // namespace

bool TTVSetupForm::RegisterShellExtension() {
    std::vector<Row> rows;
    if (!BuildRows(&rows)) return false;
    std::vector<Before> before;
    bool ok = true;
    for (const Row& row : rows) {
        before.push_back(TakeBefore(row));
        if (!WriteRegString(HKEY_CLASSES_ROOT, row.key.c_str(), row.name, row.data.c_str())) {
            ok = false;
            break;
        }
    }
    if (ok) return true;
    // A registration half written is none: every row goes back as it was,
    // the failing one included, the last first.
    for (size_t i = before.size(); i-- > 0;) PutBack(rows[i], before[i]);
    return false;
}

bool TTVSetupForm::UnregisterShellExtension() {
    for (const char* prefix : kHandlerPrefixes)
        DeleteRegKey(HKEY_CLASSES_ROOT, (std::string(prefix) + kFileType).c_str());
    DeleteRegKey(HKEY_CLASSES_ROOT, (std::string(kFileType) + "\\shell\\open\\command\\").c_str());
    char key[256];
    FormatText(key, sizeof(key), "%s\\shell\\open", kFileType);
    DeleteRegKey(HKEY_CLASSES_ROOT, key);
    FormatText(key, sizeof(key), "%s\\shell", kFileType);
    DeleteRegKey(HKEY_CLASSES_ROOT, key);
    DeleteRegKey(HKEY_CLASSES_ROOT, (std::string(kFileType) + "\\DefaultIcon").c_str());
    DeleteRegKey(HKEY_CLASSES_ROOT, kFileType);
    // An extension that another program has taken over meanwhile is its own.
    for (uint32_t kind : kTypesRemoved) {
        const char* extension = FindOperation(kind)->extension;
        char type[256];
        if (ReadRegString(HKEY_CLASSES_ROOT, extension, nullptr, type) && strcmp(type, kFileType) == 0)
            DeleteRegKey(HKEY_CLASSES_ROOT, extension);
    }
    DeleteRegKey(HKEY_CLASSES_ROOT, ServerKey().c_str());
    DeleteRegKey(HKEY_CLASSES_ROOT, ClassKey().c_str());
    return true;
}

bool TTVSetupForm::IsShellExtensionRegistered() {
    char value[256];
    return ReadRegString(HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers\\Tarvisto", nullptr,
                         value);
}
