// TTVSetupForm: the settings program's main window. Three pages (the
// certificate database, the settings and the options) with their buttons,
// the start-up that fills the window 50 ms after it was created, the
// switches of the settings key, the help pages and the About window.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "QXForms.h"
#include "QXHandles.h"
#include "QXVersion.h"
#include "TVSetupIds.h"

class TQXCrypt;
class TQXDlgOkHilfe;
class TAboutTarvistoForm;

#define TV_SETUP_TITLE "Tarvisto Setup"
#define TV_SETUP_CAPTION QX_SETUP_CAPTION
#define TV_WARNING_CAPTION QX_WARNING_CAPTION
#define TV_ABOUT_CAPTION "About " QX_PRODUCT_VERSION
#define TV_DEFAULT_USER "DefUsr"

// The timers of the form's design, 50 ms each.
enum TVSetupTimer { kDoStartUpTimer = 1, kDoShowAboutTimer = 2 };
constexpr UINT kSetupTimerMs = 50;

class TTVSetupForm : public QXForm {
public:
    explicit TTVSetupForm(HWND owner);
    ~TTVSetupForm() override;
    bool Created() const { return Handle() != nullptr; }

    // Start-up.
    void DoStartUpTimerTimer();
    void DoShowAboutTimerTimer();
    bool StartUp();
    bool InitControls();
    // Whether the start-up has run (the About timer waits for it).
    bool StartedUp() const { return startedUp_; }

    // Settings.
    bool LoadSettings();
    bool SaveSettings();
    bool IsFirstTime();
    bool SaveSettingsPage();
    bool SaveOptionsPage();
    bool DefaultSettingsPage();
    bool DefaultOptionsPage();
    bool SettingsPageChanged();
    bool OptionsPageChanged();
    bool DisableSaveSettings();
    bool DisableSaveOptions();

    // Certificate tree: the root, the two branches, a node per system store
    // under each and the stores' certificates under those.
    bool RefreshCertTree();
    bool ClearCertTree();
    bool AddRootNodes();
    bool AddStoreNodes();
    bool AddCertificateNodes();
    bool IsOwnCertSelected();
    bool IsCertSelected();
    bool IsOtherStoreSelected();
    bool ReadOwnCertificate(char* subject);
    bool ReadPublicStore(char* store);
    bool HasPublicStore();
    bool SelectCurrentCertificate();
    bool UpdateSelectionControls();
    bool AcceptSelection();
    // The real name of the store a store node stands for, or of the store of
    // a certificate node (never parsed back from the node's text); false for
    // any other node.
    bool NodeStoreName(HTREEITEM node, char* storeName);
    // The thumbprint of the certificate a certificate node stands for.
    bool NodeThumbprint(HTREEITEM node, BYTE* thumbprint);
    bool IsCertificateNode(HTREEITEM node);

    // Certificate actions.
    bool DeleteSelectedCertificate();
    // The import: the system's "add" action for the chosen file where there
    // is one, else our own (password question, keys into containers of
    // their own, "My").
    bool ImportCertificate();
    bool ImportOpen() const { return importOpen_; }

    // Shell registration and activation.
    bool RegisterShellExtension();
    bool UnregisterShellExtension();
    bool IsShellExtensionRegistered();
    bool ActivateShellExtension();
    bool ToggleActivation();
    bool EnableActivateButton(bool enable);
    // The activation button's caption from what the registry holds:
    // "&Deactivate" while the extension is registered, else "&Activate".
    // Returns whether it is registered.
    bool ShowActivationState();
    // The first-run welcome.
    bool ShowWelcome();
    // Ends the process when an own certificate is stored or the user agrees;
    // returns (true) only when the program stays open.
    bool CloseSetup();

    // Help pages and the About window.
    bool OpenHelpPage(const char* page, const char* anchor);
    bool OpenFeedback();
    bool ShowAbout();
    TAboutTarvistoForm* AboutForm = nullptr;

    // Handlers of the controls.
    void FormClose();
    void BBeendenClick() { CloseSetup(); }
    void BFeedbackClick() { OpenFeedback(); }
    void BHilfeZertifikatsdatenbankClick();
    void BHilfeEinstellungenClick();
    void BHilfeOptionenClick();
    void TarvistoImageZertifikatsdatenbankClick() { ShowAbout(); }
    void TarvistoImageEinstellungenClick() { ShowAbout(); }
    void AboutQuorvex1Click() { ShowAbout(); }
    void PopUpAktualisierenClick() { InitControls(); }
    void BSpeichernEinstellungenClick() { SaveSettingsPage(); }
    void BDefaultEinstellungenClick() { DefaultSettingsPage(); }
    void BSpeichernOptionenClick() { SaveOptionsPage(); }
    void BDefaultOptionenClick() { DefaultOptionsPage(); }
    void BImportierenClick() { ImportCertificate(); }
    void PopUpImportierenClick() { ImportCertificate(); }
    void BLoeschenClick() { DeleteSelectedCertificate(); }
    void PopUpLoeschenClick() { DeleteSelectedCertificate(); }
    void BSelectClick() { AcceptSelection(); }
    void PopUpSelectClick() { AcceptSelection(); }
    void BDeaktivierenClick() { ToggleActivation(); }
    void CertTreeViewChanging() { UpdateSelectionControls(); }
    void CertTreeViewClick() { UpdateSelectionControls(); }
    // After the change: the controls follow the node now selected.
    void CertTreeViewChanged() { UpdateSelectionControls(); }

    // Fields shared with the certificate tree and its actions.
    int StoreCount = 0;
    bool NoOwnCert = false;
    HTREEITEM SelectedNode = nullptr;
    HTREEITEM OwnCertNode = nullptr;
    HTREEITEM OtherCertNode = nullptr;
    HTREEITEM StoreNodes[256] = {};
    std::unique_ptr<TQXCrypt> CryptHelper;
    char UserName[64] = "";

    QXPopupMenu CertTreeViewPopUp;
    HIMAGELIST ImageList1() const { return images_.get(); }

protected:
    void OnCommand(int id) override;
    void OnCloseRequest() override { FormClose(); }
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    void OnTreeChanging(int tree, HTREEITEM from, HTREEITEM to) override;
    void OnTreeChanged(int tree, HTREEITEM node) override;
    void OnTreeClick(int tree) override;

private:
    void CreateControls();
    // What a store or certificate node stands for (the node's value is its
    // index + 1).
    struct NodeData {
        int store;  // index into storeNames_
        bool certificate;
        BYTE thumbprint[20];
    };
    const NodeData* DataOf(HTREEITEM node);
    LPARAM AddNodeData(int store, const BYTE* thumbprint);
    // Our own import of the PKCS#12 file; false when it imported nothing.
    bool ImportWithOwnDialog(const char* file);
    qx::ImageList images_;
    bool startedUp_ = false;
    // Whether this run is the first (no About window): decided once, when the
    // program starts, so that settings saved meanwhile do not make it a later run.
    bool firstRun_ = false;
    bool importOpen_ = false;
    std::vector<std::string> storeNames_;
    std::vector<NodeData> nodeData_;
};

// The program's two windows: the main form and the one question dialog that
// every question of the program uses.
extern TTVSetupForm* TVSetupForm;
extern TQXDlgOkHilfe* QXDlgOkHilfe;

// The folder of the running program (its module file name, drive and folder,
// no trailing backslash). False when the module path does not fit 256
// characters: a cut path would name another folder.
bool ProgramFolder(char* folder);
// That folder, "\" and the name into 256 characters; false when it does not fit.
// (Also used for the registration rows, which are never written cut.)
bool ProgramFile(const char* name, char* path);
// The address of a help page: "file:///", the program folder, "\", the page
// and the anchor, into 256 characters; false (never cut) when it does not fit.
bool HelpPageAddress(const char* page, const char* anchor, char* address);
// The questions' memo breaks lines at CR LF: every lone "\n" becomes "\r\n".
std::string WithLineBreaks(const char* text);
// The description shown behind a store's name.
const char* StoreDescription(const char* storeName);
