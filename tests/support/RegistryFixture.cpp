#include "RegistryFixture.h"

namespace tvtest {

namespace {

bool KeyExists(HKEY root, const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool SetDefault(HKEY root, const std::string& path, const std::string& value)
{
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

}  // namespace

RegistryValues::RegistryValues(HKEY root, const std::string& keyPath)
    : root_(root), keyPath_(keyPath)
{
    // Remember every level that is new, outermost first.
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = keyPath_.find('\\', pos + 1);
        std::string level = keyPath_.substr(0, pos);
        if (!KeyExists(root_, level)) {
            HKEY key;
            if (RegCreateKeyExA(root_, level.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                nullptr) == ERROR_SUCCESS) {
                RegCloseKey(key);
                created_.push_back(level);
            }
        }
    }
}

RegistryValues::~RegistryValues()
{
    for (const std::string& name : values_)
        Remove(name);
    for (auto it = created_.rbegin(); it != created_.rend(); ++it)
        RegDeleteKeyA(root_, it->c_str());  // fails, as wanted, when not empty
}

bool RegistryValues::SetRaw(const std::string& name, DWORD type, const std::string& bytes)
{
    HKEY key;
    if (RegOpenKeyExA(root_, keyPath_.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(key, name.c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
    if (rc == ERROR_SUCCESS)
        values_.push_back(name);
    return rc == ERROR_SUCCESS;
}

bool RegistryValues::SetString(const std::string& name, const std::string& value)
{
    return SetRaw(name, REG_SZ, std::string(value.c_str(), value.size() + 1));
}

bool RegistryValues::Remove(const std::string& name)
{
    HKEY key;
    if (RegOpenKeyExA(root_, keyPath_.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    LONG rc = RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

ScopedFileType::ScopedFileType(const std::string& extension, const std::string& progId,
                               const std::string& openCommand)
    : extension_(extension), progId_(progId)
{
    ok_ = SetDefault(HKEY_CLASSES_ROOT, extension_, progId_) &&
          SetDefault(HKEY_CLASSES_ROOT, progId_ + "\\shell\\open\\command", openCommand);
}

ScopedFileType::~ScopedFileType()
{
    RegDeleteTreeA(HKEY_CLASSES_ROOT, progId_.c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, progId_.c_str());
    RegDeleteTreeA(HKEY_CLASSES_ROOT, extension_.c_str());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, extension_.c_str());
}

}  // namespace tvtest
