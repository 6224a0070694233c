#include "QXReg.h"

#include "QXHandles.h"

#include <cstring>

TQXReg::TQXReg() { ClearLastError(); }
TQXReg::~TQXReg() = default;

bool ReadRegString(HKEY root, const char* path, const char* name, char* buffer)
{
    const char* message = "This registry entry could not be read!";
    bool ok = false;
    if (buffer) {
        memset(buffer, 0, 256);
        qx::RegKey key;
        LONG rc = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, key.out());
        if (rc == ERROR_SUCCESS) {
            DWORD size = 256;
            rc = RegQueryValueExA(key.get(), name, nullptr, nullptr,
                                  reinterpret_cast<BYTE*>(buffer), &size);
            key.reset();
            // Data that fill all 256 bytes without a terminator would be read
            // past their end: such a value is not a text of this system.
            ok = rc == ERROR_SUCCESS && memchr(buffer, 0, 256) != nullptr;
        }
        if (!ok)
            memset(buffer, 0, 256);
    }
    // The report carries the thread's last error, as every report does; the
    // registry calls return their codes without setting it.
    return QXReport(ok, "QXReg", 143, message);
}

bool WriteRegString(HKEY root, const char* subkey, const char* valueName, const char* data)
{
    const char* message = "This registry entry could not be created!";
    bool ok = false;
    LONG rc = ERROR_INVALID_PARAMETER;
    if (subkey && data) {
        qx::RegKey key;
        DWORD disposition = 0;
        rc = RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_WRITE, nullptr, key.out(),
                             &disposition);
        if (rc == ERROR_SUCCESS) {
            rc = RegSetValueExA(key.get(), valueName, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(data),
                                static_cast<DWORD>(strlen(data) + 1));
            bool closed = key.close();
            ok = rc == ERROR_SUCCESS && closed;
        }
    }
    // The registry returns its code without setting the thread's error.
    if (!ok && rc != ERROR_SUCCESS)
        SetLastError(static_cast<DWORD>(rc));
    return QXReport(ok, "QXReg", 99, message);
}

bool DeleteRegKey(HKEY root, const char* subkey)
{
    const char* message = "This registry entry could not be removed!";
    LONG rc = ERROR_INVALID_PARAMETER;
    if (subkey && *subkey)
        rc = RegDeleteKeyA(root, subkey);
    if (rc != ERROR_SUCCESS)
        SetLastError(static_cast<DWORD>(rc));
    return QXReport(rc == ERROR_SUCCESS, "QXReg", 162, message);
}

bool BuildRegKeyPath(char* destination, const char* subkey)
{
    if (!destination || !subkey)
        return false;
    char path[512];
    FormatText(path, sizeof path, "%s%s", QX_REG_ROOT, subkey);
    return CopyText(destination, 256, path);
}

bool ReadRegSwitch(const char* valueName, bool* on)
{
    if (on)
        *on = false;
    char path[256];
    char value[256];
    if (!on || !BuildRegKeyPath(path, QX_REG_SETTINGS) ||
        !ReadRegString(HKEY_CURRENT_USER, path, valueName, value))
        return false;
    CharUpperA(value);
    Trim(value);
    *on = strcmp(value, "YES") == 0;
    return true;
}
