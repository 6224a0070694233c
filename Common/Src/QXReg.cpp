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
