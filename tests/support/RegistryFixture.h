// Registry values and keys that a test makes for itself and removes again.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tvtest {

// Values under one key (HKCU\software\Quorvex\Tarvisto unless told). Keys that
// did not exist are created and, when empty at the end, removed again; every
// value set through the object is deleted by its destructor.
class RegistryValues {
public:
    explicit RegistryValues(HKEY root = HKEY_CURRENT_USER,
                            const std::string& keyPath = "software\\Quorvex\\Tarvisto");
    ~RegistryValues();
    RegistryValues(const RegistryValues&) = delete;
    RegistryValues& operator=(const RegistryValues&) = delete;

    const std::string& keyPath() const { return keyPath_; }
    // REG_SZ with its terminator.
    bool SetString(const std::string& name, const std::string& value);
    // Any type, the bytes exactly as given (no terminator added).
    bool SetRaw(const std::string& name, DWORD type, const std::string& bytes);
    bool Remove(const std::string& name);

private:
    HKEY root_;
    std::string keyPath_;
    std::vector<std::string> created_;  // keys made here, innermost last
    std::vector<std::string> values_;
};

// A file type under HKEY_CLASSES_ROOT (Wine's shell looks only there):
// ".ext" -> progId, progId\shell\open\command = command. Removed again.
class ScopedFileType {
public:
    ScopedFileType(const std::string& extension, const std::string& progId,
                   const std::string& openCommand);
    ~ScopedFileType();
    ScopedFileType(const ScopedFileType&) = delete;
    ScopedFileType& operator=(const ScopedFileType&) = delete;
    bool ok() const { return ok_; }

private:
    std::string extension_, progId_;
    bool ok_ = false;
};

}  // namespace tvtest
