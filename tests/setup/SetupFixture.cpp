#include "SetupFixture.h"

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

}  // namespace tvsetuptest
