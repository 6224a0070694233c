// The certificate tree of the settings program: the user's system stores
// under two branches and their certificates, what is selected, the accept
// button that follows the selection, and the own certificate found again on
// every rebuild.
#include <cstring>
#include <memory>
#include <new>

#include "CryptAPI.h"
#include "QXHandles.h"
#include "QXReg.h"
#include "QXTools.h"
#include "TVSetup.h"

namespace {

const char kOwnBranch[] = "Own Certificates (PKCS#12)";
const char kOtherBranch[] = "Other Certificates (PKCS#7)";
const char kAcceptOwn[] = "Accept &private Certificate";
const char kAcceptStore[] = "Accept public certificates &store";

std::string OwnKey() { return QX_REG_OWN_CERTIFICATES_KEY; }

std::string SettingsKey() { return QX_REG_SETTINGS_KEY; }

}  // namespace

const char* StoreDescription(const char* storeName) {
    struct Row {
        const char* key;
        const char* description;
    };
    static const Row kRows[] = {
        {"MY", "Private Certificates"},
        {"ROOT", "Trusted Root Certification Authorities"},
        {"TRUST", "Trusted Organization"},
        {"CA", "Intermediate Certification Authorities"},
        {"ACRS", "Active Directory - User Objekt"},
    };
    char upper[kStoreNameSize] = "";
    if (storeName) CopyText(upper, sizeof(upper), storeName);
    CharUpperA(upper);
    for (const Row& row : kRows)
        if (strcmp(upper, row.key) == 0) return row.description;
    return "Unknown";
}

// --- node data ----------------------------------------------------------------

LPARAM TTVSetupForm::AddNodeData(int store, const BYTE* thumbprint) {
    NodeData data = {};
    data.store = store;
    data.certificate = thumbprint != nullptr;
    if (thumbprint) memcpy(data.thumbprint, thumbprint, sizeof(data.thumbprint));
    nodeData_.push_back(data);
    return static_cast<LPARAM>(nodeData_.size());
}

const TTVSetupForm::NodeData* TTVSetupForm::DataOf(HTREEITEM node) {
    if (!node) return nullptr;
    LPARAM value = QXForm::TreeValue(Control(IDC_SETUP_TREE), node);
    if (value <= 0 || static_cast<size_t>(value) > nodeData_.size()) return nullptr;
    return &nodeData_[static_cast<size_t>(value - 1)];
}

bool TTVSetupForm::NodeStoreName(HTREEITEM node, char* storeName) {
    if (!storeName) return false;
    storeName[0] = '\0';
    const NodeData* data = DataOf(node);
    if (!data || data->store < 0 || static_cast<size_t>(data->store) >= storeNames_.size())
        return false;
    return CopyText(storeName, 256, storeNames_[static_cast<size_t>(data->store)].c_str());
}

bool TTVSetupForm::NodeThumbprint(HTREEITEM node, BYTE* thumbprint) {
    const NodeData* data = DataOf(node);
    if (!data || !data->certificate || !thumbprint) return false;
    memcpy(thumbprint, data->thumbprint, sizeof(data->thumbprint));
    return true;
}

bool TTVSetupForm::IsCertificateNode(HTREEITEM node) {
    const NodeData* data = DataOf(node);
    return data && data->certificate;
}

// --- building -------------------------------------------------------------------

bool TTVSetupForm::RefreshCertTree() {
    bool ok = ClearCertTree();
    if (ok) ok = AddRootNodes();
    if (ok) ok = AddStoreNodes();
    if (ok) ok = AddCertificateNodes();
    if (ok) SelectCurrentCertificate();
    return ok;
}

bool TTVSetupForm::ClearCertTree() {
    StoreCount = 0;
    SelectedNode = OwnCertNode = OtherCertNode = nullptr;
    for (HTREEITEM& node : StoreNodes) node = nullptr;
    TreeClear(Control(IDC_SETUP_TREE));
    storeNames_.clear();
    nodeData_.clear();
    return true;
}

bool TTVSetupForm::AddRootNodes() {
    HWND tree = Control(IDC_SETUP_TREE);
    char text[256];
    FormatText(text, sizeof(text), "%s: %s", "Current User", UserName);
    HTREEITEM root = TreeAdd(tree, nullptr, text, 9);
    OwnCertNode = TreeAdd(tree, root, kOwnBranch, 8);
    OtherCertNode = TreeAdd(tree, root, kOtherBranch, 7);
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
    return root && OwnCertNode && OtherCertNode;
}

bool TTVSetupForm::AddStoreNodes() {
    StoreCount = 0;
    if (!OwnCertNode || !OtherCertNode) return false;
    std::unique_ptr<StoreTable> table(new (std::nothrow) StoreTable);
    if (!table) return false;
    table->names[0][0] = '\0';
    bool ok = CryptHelper->EnumSystemStores(table.get());
    HWND tree = Control(IDC_SETUP_TREE);
    for (int slot = 0; ok && slot < kStoreTableSlots && table->names[slot][0] &&
                       StoreCount < kStoreTableSlots;
         ++slot) {
        const char* name = table->names[slot];
        char text[256];
        FormatText(text, sizeof(text), "%s (%s)", name, StoreDescription(name));
        storeNames_.push_back(name);
        int store = static_cast<int>(storeNames_.size()) - 1;
        StoreNodes[StoreCount] = TreeAdd(tree, OwnCertNode, text, 6, AddNodeData(store, nullptr));
        StoreNodes[StoreCount + 128] =
            TreeAdd(tree, OtherCertNode, text, 6, AddNodeData(store, nullptr));
        ++StoreCount;
    }
    return ok;
}

bool TTVSetupForm::AddCertificateNodes() {
    HWND tree = Control(IDC_SETUP_TREE);
    for (int i = 0; i < kStoreTableSlots && StoreNodes[i] && StoreNodes[i + 128]; ++i) {
        const NodeData* storeData = DataOf(StoreNodes[i]);
        if (!storeData) continue;
        int store = storeData->store;
        const std::string name = storeNames_[static_cast<size_t>(store)];
        qx::ProviderStore owned = OpenWithProvider(*CryptHelper, name.c_str());
        HCERTSTORE handle = owned.get();
        if (handle) {
            CertificateInfo info;
            PCCERT_CONTEXT previous = nullptr;
            while (CryptHelper->GetNextCertificate(handle, previous, &info)) {
                previous = info.certificate;
                bool own = CryptHelper->HasPrivateKey(info.certificate);
                bool valid = CryptHelper->IsTimeValid(info.certificate);
                BYTE thumbprint[kThumbprintSize] = {};
                CryptHelper->GetThumbprint(info.certificate, thumbprint);
                int image = valid ? (own ? 2 : 3) : 1;
                TreeAdd(tree, StoreNodes[own ? i : i + 128], info.subject, image,
                        AddNodeData(store, thumbprint));
            }
        }
    }
    return true;
}

// --- what is selected --------------------------------------------------------------

bool TTVSetupForm::IsOwnCertSelected() {
    HWND tree = Control(IDC_SETUP_TREE);
    HTREEITEM node = TreeSelection(tree);
    HTREEITEM parent = TreeParent(tree, node);
    return node && parent && OwnCertNode && TreeParent(tree, parent) == OwnCertNode &&
           IsCertificateNode(node);
}

bool TTVSetupForm::IsCertSelected() {
    HWND tree = Control(IDC_SETUP_TREE);
    HTREEITEM node = TreeSelection(tree);
    HTREEITEM parent = TreeParent(tree, node);
    HTREEITEM grand = TreeParent(tree, parent);
    return node && parent && grand && (grand == OwnCertNode || grand == OtherCertNode) &&
           IsCertificateNode(node);
}

bool TTVSetupForm::IsOtherStoreSelected() {
    HWND tree = Control(IDC_SETUP_TREE);
    HTREEITEM node = TreeSelection(tree);
    HTREEITEM parent = TreeParent(tree, node);
    return node && parent && parent == OtherCertNode && DataOf(node) && !IsCertificateNode(node);
}

bool TTVSetupForm::ReadOwnCertificate(char* subject) {
    if (!subject) return false;
    // An empty subject names no certificate.
    return ReadRegString(HKEY_CURRENT_USER, OwnKey().c_str(), UserName, subject) && subject[0];
}

bool TTVSetupForm::ReadPublicStore(char* store) {
    if (!store) return false;
    return ReadRegString(HKEY_CURRENT_USER, SettingsKey().c_str(), "pubstore", store);
}

bool TTVSetupForm::HasPublicStore() {
    char store[256];
    return ReadPublicStore(store);
}

bool TTVSetupForm::SelectCurrentCertificate() {
    HWND tree = Control(IDC_SETUP_TREE);
    char subject[256];
    if (ReadOwnCertificate(subject)) {
        // Among the certificate nodes: a subject that is exactly the stored
        // one before one that only begins with it, one with its key before
        // one without, the stored own store before others, then tree order.
        char ownStore[256] = "";
        ReadRegString(HKEY_CURRENT_USER, SettingsKey().c_str(), "ownstore", ownStore);
        size_t length = strlen(subject);
        HTREEITEM best = nullptr;
        int bestScore = -1;
        for (HTREEITEM node = TreeNext(tree, nullptr); node; node = TreeNext(tree, node)) {
            if (!IsCertificateNode(node)) continue;
            std::string text = TreeText(tree, node);
            if (text.compare(0, length, subject) != 0 || text.size() < length) continue;
            char store[256] = "";
            NodeStoreName(node, store);
            int score = (text.size() == length ? 4 : 0) +
                        (TreeParent(tree, TreeParent(tree, node)) == OwnCertNode ? 2 : 0) +
                        (ownStore[0] && strcmp(store, ownStore) == 0 ? 1 : 0);
            if (score > bestScore) {
                best = node;
                bestScore = score;
            }
        }
        if (best) {
            SetFocus(tree);
            TreeSelect(tree, best);
            UpdateSelectionControls();
            NoOwnCert = false;
            return true;
        }
    }
    // Else the first own certificate in tree order.
    SetFocus(tree);
    HTREEITEM found = nullptr;
    HTREEITEM last = nullptr;
    for (HTREEITEM node = TreeNext(tree, nullptr); node; node = TreeNext(tree, node)) {
        last = node;
        if (IsCertificateNode(node) && TreeParent(tree, TreeParent(tree, node)) == OwnCertNode) {
            found = node;
            break;
        }
    }
    if (found) {
        TreeSelect(tree, found);
        UpdateSelectionControls();
        if (IsFirstTime()) ShowWelcome();
        AcceptSelection();
    } else if (last) {
        TreeSelect(tree, last);
    }
    EnableActivateButton(false);
    ShowControl(IDC_SETUP_SELECTION, false);
    ShowControl(IDC_SETUP_SELECT, false);
    EnableControl(IDC_SETUP_SELECT, false);
    NoOwnCert = found == nullptr;
    if (!found)
        StartOneShotTimer(kDoShowAboutTimer, kSetupTimerMs, [this] { DoShowAboutTimerTimer(); });
    return found != nullptr;
}

bool TTVSetupForm::UpdateSelectionControls() {
    HWND tree = Control(IDC_SETUP_TREE);
    SelectedNode = TreeSelection(tree);
    bool otherStore = IsOtherStoreSelected();
    bool own = IsOwnCertSelected();
    bool certificate = own || IsCertSelected();

    CertTreeViewPopUp.Enable(IDM_SETUP_REMOVE, certificate);
    EnableControl(IDC_SETUP_REMOVE, certificate);
    CertTreeViewPopUp.Enable(IDM_SETUP_SELECT, own);
    EnableControl(IDC_SETUP_SELECT, own);
    CertTreeViewPopUp.Enable(IDM_SETUP_IMPORT, true);
    EnableControl(IDC_SETUP_IMPORT, true);
    EnableActivateButton(own);

    if (own) {
        CertTreeViewPopUp.Show(IDM_SETUP_SELECT, true);
        ShowControl(IDC_SETUP_SELECT, true);
        ShowControl(IDC_SETUP_SELECTION, true);
        CertTreeViewPopUp.Enable(IDM_SETUP_SELECT, true);
        EnableControl(IDC_SETUP_SELECT, true);
        CertTreeViewPopUp.SetText(IDM_SETUP_SELECT, kAcceptOwn);
        SetControlText(IDC_SETUP_SELECT, kAcceptOwn);
        SetControlText(IDC_SETUP_SELECTION, TreeText(tree, SelectedNode).c_str());
        return true;
    }
    EnableActivateButton(false);
    CertTreeViewPopUp.Show(IDM_SETUP_SELECT, false);
    CertTreeViewPopUp.Enable(IDM_SETUP_SELECT, false);
    ShowControl(IDC_SETUP_SELECT, false);
    EnableControl(IDC_SETUP_SELECT, false);
    ShowControl(IDC_SETUP_SELECTION, false);
    CertTreeViewPopUp.SetText(IDM_SETUP_SELECT, "");
    SetControlText(IDC_SETUP_SELECT, "");
    SetControlText(IDC_SETUP_SELECTION, "Please select and accept!");
    if (otherStore) {
        EnableActivateButton(false);
        CertTreeViewPopUp.Show(IDM_SETUP_SELECT, true);
        CertTreeViewPopUp.Enable(IDM_SETUP_SELECT, true);
        ShowControl(IDC_SETUP_SELECT, true);
        EnableControl(IDC_SETUP_SELECT, true);
        ShowControl(IDC_SETUP_SELECTION, true);
        CertTreeViewPopUp.SetText(IDM_SETUP_SELECT, kAcceptStore);
        SetControlText(IDC_SETUP_SELECT, kAcceptStore);
        SetControlText(IDC_SETUP_SELECTION, TreeText(tree, SelectedNode).c_str());
    }
    return true;
}

bool TTVSetupForm::AcceptSelection() {
    HWND tree = Control(IDC_SETUP_TREE);
    bool ok = ControlVisible(IDC_SETUP_SELECT) && ControlVisible(IDC_SETUP_SELECTION);
    char caption[64] = "";
    if (ok) GetWindowTextA(Control(IDC_SETUP_SELECT), caption, sizeof(caption));
    if (ok && strcmp(caption, kAcceptOwn) == 0) {
        ok = SelectedNode != nullptr;
        if (ok) {
            TreeSelect(tree, SelectedNode);
            ok = IsOwnCertSelected();
        }
        // The node's certificate and its store, never names parsed from texts.
        std::string subject = ok ? TreeText(tree, SelectedNode) : std::string();
        char store[256] = "";
        ok = ok && !subject.empty() && NodeStoreName(SelectedNode, store) && store[0];
        ok = ok && WriteRegString(HKEY_CURRENT_USER, OwnKey().c_str(), UserName, subject.c_str());
        ok = ok && WriteRegString(HKEY_CURRENT_USER, SettingsKey().c_str(), "ownstore", store);
        ok = ok && ActivateShellExtension();
    } else if (ok && strcmp(caption, kAcceptStore) == 0) {
        char store[256] = "";
        ok = SelectedNode && TreeSelection(tree) == SelectedNode && IsOtherStoreSelected() &&
             NodeStoreName(SelectedNode, store) && store[0] &&
             WriteRegString(HKEY_CURRENT_USER, SettingsKey().c_str(), "pubstore", store);
    } else {
        ok = false;
    }
    if (!ok) {
        MessageBeep(0);
        return false;
    }
    EnableActivateButton(false);
    CertTreeViewPopUp.Enable(IDM_SETUP_SELECT, false);
    EnableControl(IDC_SETUP_SELECT, false);
    return true;
}

// --- tree events --------------------------------------------------------------------

void TTVSetupForm::OnTreeChanging(int tree, HTREEITEM, HTREEITEM) {
    if (tree == IDC_SETUP_TREE) CertTreeViewChanging();
}

void TTVSetupForm::OnTreeChanged(int tree, HTREEITEM) {
    if (tree == IDC_SETUP_TREE) CertTreeViewChanged();
}

void TTVSetupForm::OnTreeClick(int tree) {
    if (tree == IDC_SETUP_TREE) CertTreeViewClick();
}
