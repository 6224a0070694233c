// The actions of the certificate page: removing a certificate, importing a
// PKCS#12 file, switching the Explorer integration on and off, and the
// first-run welcome.
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "CryptAPI.h"
#include "PfxImport.h"
#include "QXDlgOkHilfe.h"
#include "QXReg.h"
#include "QXTools.h"
#include "TVSetup.h"

namespace {

const char kImportFilter[] = "Certificates Files [PKCS#12] (*.pfx, *.p12)|*.pfx;*.p12";
const char kErrorCaption[] = QX_ERROR_CAPTION;
constexpr UINT kFocusPassword = WM_APP + 1;

// The question for the password of a PKCS#12 file.
class TTVPasswordForm : public QXForm {
public:
    TTVPasswordForm(HWND owner, const char* file) {
        if (!Create("TTVPasswordForm", false, TV_SETUP_CAPTION, 420, 118, true, owner)) return;
        std::string text = std::string("Password of the certificate file\r\n") + file;
        AddLabel(IDC_PASSWORD_TEXT, text.c_str(), 12, 10, 396, 36);
        HWND edit = AddEdit(IDC_PASSWORD_EDIT, "", 12, 52, 396, 22, false);
        SendMessageA(edit, EM_SETPASSWORDCHAR, '*', 0);
        SendMessageA(edit, EM_LIMITTEXT, 255, 0);
        AddButton(IDC_PASSWORD_OK, "OK", 226, 86, 88, 24);
        AddButton(IDC_PASSWORD_CANCEL, "Cancel", 320, 86, 88, 24);
        SetDefaultButton(IDC_PASSWORD_OK);
        CenterOver(owner);
    }
    ~TTVPasswordForm() override {
        SecureZeroMemory(password_, sizeof(password_));
        Destroy();
    }
    // True when the user gave a password (OK), which is then in password().
    bool Ask() {
        if (!Handle()) return false;
        // The focus goes to the edit once the modal loop runs.
        PostMessageA(Handle(), kFocusPassword, 0, 0);
        return ShowModal() == 1;
    }
    const char* password() const { return password_; }

protected:
    void OnCommand(int id) override {
        if (id == IDC_PASSWORD_OK) {
            GetWindowTextA(Control(IDC_PASSWORD_EDIT), password_, sizeof(password_));
            SetWindowTextA(Control(IDC_PASSWORD_EDIT), "");
            EndModal(1);
        } else if (id == IDC_PASSWORD_CANCEL) {
            EndModal(0);
        }
    }
    void OnEscape() override { EndModal(0); }
    bool OnMessage(UINT message, WPARAM, LPARAM, LRESULT* result) override {
        if (message != kFocusPassword) return false;
        SetFocus(Control(IDC_PASSWORD_EDIT));
        *result = 0;
        return true;
    }

private:
    char password_[256] = "";
};

// Whether the system has an "add" action for files of the path's extension.
bool HasAddAction(const char* path) {
    char extension[256] = "";
    if (!SplitPath(path, nullptr, nullptr, extension) || !extension[0]) return false;
    char type[256];
    std::string key;
    if (ReadRegString(HKEY_CLASSES_ROOT, extension, nullptr, type) && type[0])
        key = std::string(type) + "\\shell\\add\\command";
    qx::RegKey handle;
    bool found = !key.empty() && RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ,
                                               handle.out()) == ERROR_SUCCESS;
    if (!found) {
        key = std::string(extension) + "\\shell\\add\\command";
        found = RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, handle.out()) ==
                ERROR_SUCCESS;
    }
    ClearLastError();  // a missing action is no failure
    return found;
}

void ShowError(HWND owner, const char* text) {
    ErrorRecord record;
    GetLastErrorInfo(&record);
    std::string message = text;
    if (record.set) message += std::string("\r\n\r\n") + record.text;
    ClearLastError();
    QXMessageBox(owner, message.c_str(), kErrorCaption, MB_OK | MB_ICONERROR);
}

}  // namespace

// --- removal ------------------------------------------------------------------

bool TTVSetupForm::DeleteSelectedCertificate() {
    HWND tree = Control(IDC_SETUP_TREE);
    HTREEITEM node = TreeSelection(tree);
    bool ok = node && (IsOwnCertSelected() || IsCertSelected());
    // Exactly the selected certificate of the node's own store: its twin of
    // the same name stays.
    char store[256] = "";
    BYTE thumbprint[kThumbprintSize];
    std::string subject = ok ? TreeText(tree, node) : std::string();
    ok = ok && NodeStoreName(node, store) && NodeThumbprint(node, thumbprint) &&
         CryptHelper->RemoveCertificateFromSystemStore(store, subject.c_str(), thumbprint);
    if (ok) {
        TreeDelete(tree, node);
        CertTreeViewPopUp.Enable(IDM_SETUP_REMOVE, false);
        EnableControl(IDC_SETUP_REMOVE, false);
        return true;
    }
    MessageBeep(0);
    return false;
}

// --- import --------------------------------------------------------------------

bool TTVSetupForm::ImportCertificate() {
    if (importOpen_) return true;
    importOpen_ = true;
    char folder[256] = "";
    char initial[256] = "";
    if (ProgramFolder(folder)) {
        char joined[600];
        FormatText(joined, sizeof(joined), "%s\\%s", folder, "Beispielzertifikate");
        CopyText(initial, sizeof(initial), joined);
    }
    char file[256] = "";
    // A name that does not fit 255 characters is refused by the dialog, never cut.
    if (QXAskOpenFileName(Handle(), kImportFilter, initial, file)) {
        EnableWindow(Handle(), FALSE);
        if (HasAddAction(file))
            ShellExecuteWait(Handle(), file, "add", nullptr, true);
        else
            ImportWithOwnDialog(file);
        EnableWindow(Handle(), TRUE);
        SetForegroundWindow(Handle());
        RefreshCertTree();
    }
    importOpen_ = false;
    return true;
}

bool TTVSetupForm::ImportWithOwnDialog(const char* file) {
    TTVPasswordForm question(Handle(), file);
    if (!question.Ask()) return false;
    ClearLastError();
    PfxImportResult result;
    bool ok = ImportPfxFile(file, question.password(), "My", &result);
    if (!ok) ShowError(Handle(), "The certificate file could not be imported!");
    return ok;
}

// --- activation ------------------------------------------------------------------

bool TTVSetupForm::ActivateShellExtension() {
    SetControlText(IDC_SETUP_ACTIVATE, "&Deactivate");
    EnableControl(IDC_SETUP_ACTIVATE, true);
    SaveSettings();
    char subject[256];
    if (!ReadOwnCertificate(subject)) {
        // Nothing to register for: the button says what is there.
        UnregisterShellExtension();
        ShowActivationState();
        return true;
    }
    ClearLastError();
    if (RegisterShellExtension()) return true;
    // Nothing of it stays written and what was there before is back: the
    // button says what that is (an earlier registration can still be
    // deactivated), and a box says that this one failed.
    ShowActivationState();
    ShowError(Handle(), "The Explorer integration could not be registered!");
    return false;
}

bool TTVSetupForm::ShowActivationState() {
    bool registered = IsShellExtensionRegistered();
    SetControlText(IDC_SETUP_ACTIVATE, registered ? "&Deactivate" : "&Activate");
    return registered;
}

bool TTVSetupForm::ToggleActivation() {
    EnableControl(IDC_SETUP_ACTIVATE, false);
    char caption[64] = "";
    GetWindowTextA(Control(IDC_SETUP_ACTIVATE), caption, sizeof(caption));
    if (lstrcmpiA(caption, "&Deactivate") != 0) {
        AcceptSelection();
        return true;
    }
    uint8_t answer = AnswerCancel;
    if (QXDlgOkHilfe)
        answer = QXDlgOkHilfe->AskYesNoCancel(
            TV_SETUP_CAPTION,
            WithLineBreaks("Computer has to be restarted before you can remove Tarvisto from "
                           "your system!\nProceed?")
                .c_str());
    if (answer != AnswerYes) {
        EnableControl(IDC_SETUP_ACTIVATE, true);
        return true;
    }
    UnregisterShellExtension();
    SetControlText(IDC_SETUP_ACTIVATE, "&Activate");
    EnableControl(IDC_SETUP_ACTIVATE, IsWindowEnabled(Control(IDC_SETUP_SELECT)) != FALSE);
    Sleep(500);
    LogOffUser();
    Sleep(500);
    ExitProcess(0);
    return true;
}

bool TTVSetupForm::EnableActivateButton(bool enable) {
    char caption[64] = "";
    GetWindowTextA(Control(IDC_SETUP_ACTIVATE), caption, sizeof(caption));
    bool activate = lstrcmpiA(caption, "&Activate") == 0;
    if (activate) EnableControl(IDC_SETUP_ACTIVATE, enable);
    return activate;
}

// --- welcome ---------------------------------------------------------------------

bool TTVSetupForm::ShowWelcome() {
    static const char kFormat[] =
        "Hello %s! Tarvisto is successfull installed! Please click 'Yes' to close Tarvisto or "
        "click 'No or Cancel' to change the settings. Thank you for useing Tarvisto!";
    size_t size = sizeof(kFormat) + 257;
    std::unique_ptr<char[]> text(new (std::nothrow) char[size]);
    if (!text) return false;
    char user[64] = "";
    if (!GetCurrentUserName(user)) CopyText(user, sizeof(user), TV_DEFAULT_USER);
    FormatText(text.get(), size, kFormat, user);
    uint8_t answer = AnswerCancel;
    if (QXDlgOkHilfe) answer = QXDlgOkHilfe->AskYesNoCancel(TV_SETUP_CAPTION, text.get());
    text.reset();
    if (answer == AnswerYes) {
        AcceptSelection();
        CloseSetup();
    }
    return true;
}
