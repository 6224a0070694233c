// QXReg: reading the system's REG_SZ settings.
#pragma once

#include <windows.h>

#include "QXTools.h"

// Keys below HKEY_CURRENT_USER: QX_REG_ROOT joined with a subkey ("%s%s").
#define QX_REG_ROOT "software\\Quorvex\\"
#define QX_REG_SETTINGS "Tarvisto"
#define QX_REG_OWN_CERTIFICATES "Own Certificates"
// The two keys in full.
#define QX_REG_SETTINGS_KEY QX_REG_ROOT QX_REG_SETTINGS
#define QX_REG_OWN_CERTIFICATES_KEY QX_REG_ROOT QX_REG_OWN_CERTIFICATES

class TQXReg {
public:
    TQXReg();
    ~TQXReg();
};

// Reads a value into a buffer of 256 bytes (zeroed first). False (and an empty
// buffer) when the key or value is missing, or the data need more than 255
// characters and the terminator (reporting).
bool ReadRegString(HKEY root, const char* path, const char* name, char* buffer);
// Writes a REG_SZ value with its terminator, creating every missing key along
// the subkey path; a null or empty name is the key's default value. Only the
// settings program writes (reporting).
bool WriteRegString(HKEY root, const char* subkey, const char* valueName, const char* data);
// Deletes the key when it has no subkeys (its values go with it); a key that
// still has subkeys, or that does not exist, stays. Only the settings program
// removes keys (reporting).
bool DeleteRegKey(HKEY root, const char* subkey);
// "software\Quorvex\" + subkey into 256 characters.
bool BuildRegKeyPath(char* destination, const char* subkey);
// A yes/no switch of the settings key: on when the value, trimmed, is "Yes" in
// any letter case. False (and off) when the value could not be read.
bool ReadRegSwitch(const char* valueName, bool* on);
