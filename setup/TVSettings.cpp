// The switches of the settings key and the two settings pages.
#include <cstring>

#include "QXReg.h"
#include "QXTools.h"
#include "TVSetup.h"

namespace {

// The ten switches, in the order in which they are loaded and saved.
struct Switch {
    const char* value;
    int control;
};
const Switch kSwitches[10] = {
    {"loeschequelldatei", IDC_SETUP_DELETE_SOURCE},
    {"addpubliczert", IDC_SETUP_ADD_PUBLIC},
    {"openfilesonly", IDC_SETUP_OPEN_ONLY},
    {"openfilessave", IDC_SETUP_OPEN_AND_SAVE},
    {"zipfile", IDC_SETUP_ZIP},
    {"unzipfile", IDC_SETUP_UNZIP},
    {"showpkcs12", IDC_SETUP_SHOW_PKCS12},
    {"smeviaemail", IDC_SETUP_SME_MAIL},
    {"asksmeemail", IDC_SETUP_ASK_SME_MAIL},
    {"delsecure", IDC_SETUP_DELETE_SECURELY},
};

// The settings program's own reading of a switch: on when the value,
// upper-cased, begins with "YES" ("Yes", "yes", "Yesterday"; not " Yes"). The
// other programs trim the value and take exactly "Yes" in any letter case
// (ReadRegSwitch).
bool SwitchIsOn(char* value) {
    char yes[4] = "Yes";
    CharUpperA(value);
    CharUpperA(yes);
    return strncmp(value, yes, 3) == 0;
}

}  // namespace

bool TTVSetupForm::LoadSettings() {
    const char* key = QX_REG_SETTINGS_KEY;
    bool readAll = true;
    for (const Switch& item : kSwitches) {
        char value[256];
        bool read = ReadRegString(HKEY_CURRENT_USER, key, item.value, value);
        if (read) SetChecked(item.control, SwitchIsOn(value));
        if (item.control == IDC_SETUP_ASK_SME_MAIL)
            EnableControl(IDC_SETUP_ASK_SME_MAIL, Checked(IDC_SETUP_SME_MAIL));
        if (!read) {
            readAll = false;
            break;
        }
        if (item.control == IDC_SETUP_DELETE_SECURELY)
            EnableControl(IDC_SETUP_DELETE_SECURELY, Checked(IDC_SETUP_DELETE_SOURCE));
    }
    return readAll;
}

bool TTVSetupForm::SaveSettings() {
    const char* key = QX_REG_SETTINGS_KEY;
    for (const Switch& item : kSwitches)
        if (!WriteRegString(HKEY_CURRENT_USER, key, item.value, Checked(item.control) ? "Yes" : "No"))
            return false;
    if (!HasPublicStore() && !WriteRegString(HKEY_CURRENT_USER, key, "pubstore", "My"))
        return false;
    // The three paths name files beside this program. A folder whose path
    // does not fit is never written cut: none of them is written then.
    char status[256], extension[256], clip[256];
    if (!ProgramFile("tvstatus.dll", status) || !ProgramFile("tvcryptc.dll", extension) ||
        !ProgramFile("secure.avi", clip))
        return false;
    return WriteRegString(HKEY_CURRENT_USER, key, "statusdll", status) &&
           WriteRegString(HKEY_CURRENT_USER, key, "tvcryptdll", extension) &&
           WriteRegString(HKEY_CURRENT_USER, key, "secureavi", clip) &&
           WriteRegString(HKEY_CURRENT_USER, key, "firsttime", "No");
}

bool TTVSetupForm::IsFirstTime() {
    const char* key = QX_REG_SETTINGS_KEY;
    char value[256];
    if (!ReadRegString(HKEY_CURRENT_USER, key, "firsttime", value)) return true;
    return lstrcmpiA(value, "No") != 0;
}

bool TTVSetupForm::SettingsPageChanged() {
    EnableControl(IDC_SETUP_DELETE_SECURELY, Checked(IDC_SETUP_DELETE_SOURCE));
    EnableControl(IDC_SETUP_SAVE_SETTINGS, true);
    EnableControl(IDC_SETUP_DEFAULT_SETTINGS, true);
    return true;
}

bool TTVSetupForm::OptionsPageChanged() {
    EnableControl(IDC_SETUP_ASK_SME_MAIL, Checked(IDC_SETUP_SME_MAIL));
    EnableControl(IDC_SETUP_SAVE_OPTIONS, true);
    EnableControl(IDC_SETUP_DEFAULT_OPTIONS, true);
    return true;
}

bool TTVSetupForm::SaveSettingsPage() {
    bool saved = SaveSettings();
    if (saved) DisableSaveSettings();
    return saved;
}

bool TTVSetupForm::SaveOptionsPage() {
    bool saved = SaveSettings();
    if (saved) DisableSaveOptions();
    return saved;
}

bool TTVSetupForm::DisableSaveSettings() {
    EnableControl(IDC_SETUP_SAVE_SETTINGS, false);
    return true;
}

bool TTVSetupForm::DisableSaveOptions() {
    EnableControl(IDC_SETUP_SAVE_OPTIONS, false);
    return true;
}

bool TTVSetupForm::DefaultSettingsPage() {
    SetChecked(IDC_SETUP_DELETE_SOURCE, true);
    SetChecked(IDC_SETUP_ZIP, true);
    SetChecked(IDC_SETUP_UNZIP, true);
    SetChecked(IDC_SETUP_DELETE_SECURELY, false);
    EnableControl(IDC_SETUP_DEFAULT_SETTINGS, false);
    return true;
}

bool TTVSetupForm::DefaultOptionsPage() {
    SetChecked(IDC_SETUP_ADD_PUBLIC, true);
    SetChecked(IDC_SETUP_OPEN_ONLY, false);
    SetChecked(IDC_SETUP_OPEN_AND_SAVE, true);
    SetChecked(IDC_SETUP_SHOW_PKCS12, false);
    SetChecked(IDC_SETUP_SME_MAIL, true);
    SetChecked(IDC_SETUP_ASK_SME_MAIL, false);
    EnableControl(IDC_SETUP_DEFAULT_OPTIONS, false);
    return true;
}
