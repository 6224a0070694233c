#include "SetupFixture.h"

#include "QXMenuClass.h"
#include "QXTools.h"

namespace tvsetuptest {

std::map<std::string, std::string> ReadValues(HKEY root, const std::string& key) {
    std::map<std::string, std::string> values;
    HKEY handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return values;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof(name);
        BYTE data[1024];
        DWORD dataLength = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueA(handle, index, name, &nameLength, nullptr, &type, data, &dataLength) !=
            ERROR_SUCCESS)
            break;
        std::string text(reinterpret_cast<char*>(data), dataLength);
        if (!text.empty() && text.back() == '\0') text.pop_back();
        values[name] = type == REG_SZ ? text : "(type " + std::to_string(type) + ")";
    }
    RegCloseKey(handle);
    return values;
}

void RemoveQuorvexKey() {
    RegDeleteTreeA(HKEY_CURRENT_USER, "software\\Quorvex");
    RegDeleteKeyA(HKEY_CURRENT_USER, "software\\Quorvex");
}

std::string LoginName() {
    char name[64] = "";
    return GetCurrentUserName(name) ? name : "DefUsr";
}

void SetupTest::Set(const std::string& name, const std::string& value, const std::string& key) {
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &handle, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
}

std::vector<ShellRow> ShellRows(const std::string& folder) {
    std::string g = QX_MENU_CLASS_TEXT;
    return {
        {"*\\shellex\\ContextMenuHandlers\\Tarvisto", nullptr, g},
        {"Directory\\shellex\\ContextMenuHandlers\\Tarvisto", nullptr, g},
        {"Drive\\shellex\\ContextMenuHandlers\\Tarvisto", nullptr, g},
        {"CLSID\\" + g, nullptr, "Tarvisto"},
        {"CLSID\\" + g + "\\InprocServer32", nullptr, folder + "\\tvcryptc.dll"},
        {"CLSID\\" + g + "\\InprocServer32", "ThreadingModel", "Apartment"},
        {"Tarvisto\\shell\\open\\command", nullptr, "\"" + folder + "\\tvcrypte.exe\" \"%1\""},
        {"Tarvisto\\DefaultIcon", nullptr, folder + "\\tvcrypte.exe,0"},
        {"Tarvisto", nullptr, "Tarvisto 2.11 - File"},
        {".sgn", nullptr, "Tarvisto"},
        {".crp", nullptr, "Tarvisto"},
        {".sme", nullptr, "Tarvisto"},
    };
}

void RemoveShellRows() {
    for (const char* key :
         {"*\\shellex\\ContextMenuHandlers\\Tarvisto", "Directory\\shellex\\ContextMenuHandlers\\Tarvisto",
          "Drive\\shellex\\ContextMenuHandlers\\Tarvisto", "Tarvisto", ".sgn", ".crp", ".sme"})
        RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + QX_MENU_CLASS_TEXT).c_str());
}

std::string ReadClassValue(const std::string& key, const char* name) {
    auto values = ReadValues(HKEY_CLASSES_ROOT, key);
    auto found = values.find(name ? name : "");
    return found == values.end() ? "(missing)" : found->second;
}

bool ClassKeyExists(const std::string& key) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

void SetClassValue(const std::string& key, const char* name, const std::string& data,
                   DWORD options) {
    HKEY handle;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, options, KEY_WRITE,
                              nullptr, &handle, nullptr),
              ERROR_SUCCESS)
        << key;
    RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
    RegCloseKey(handle);
}

}  // namespace tvsetuptest
