// The settings program's certificate tree and its actions, in this process:
// the stores and their certificates, the selection by mouse and keyboard,
// accepting an own certificate or a store, removal, the import through our
// own dialog, the shell rows and their removal, and the activation button.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CertFixture.h"
#include "PfxImport.h"
#include "CryptAPI.h"
#include "OwnWindows.h"
#include "QXDialogIds.h"
#include "QXDlgOkHilfe.h"
#include "QXForms.h"
#include "QXMenuClass.h"
#include "QXTools.h"
#include "SetupFixture.h"
#include "TVSetup.h"
#include "TestErrors.h"
#include "TestFiles.h"
#include "TestProcess.h"
#include "WindowDriver.h"

using namespace tvtest;
using namespace tvsetuptest;

// This program's own slots of two imports: every call of its code goes through them.
extern "C" {
extern decltype(&::RegCreateKeyExA) __imp_RegCreateKeyExA;
extern decltype(&::RegDeleteKeyA) __imp_RegDeleteKeyA;
}

namespace {

// The keys below HKEY_CLASSES_ROOT that this program's code creates (or
// opens) to write in, and deletes, in order, while an object lives.
class ClassKeyCalls {
public:
    ClassKeyCalls() {
        self_ = this;
        ok_ = Patch(&__imp_RegCreateKeyExA, &Create, &create_) &&
              Patch(&__imp_RegDeleteKeyA, &Delete, &delete_);
    }
    ~ClassKeyCalls() {
        if (create_) Patch(&__imp_RegCreateKeyExA, create_, static_cast<decltype(create_)*>(nullptr));
        if (delete_) Patch(&__imp_RegDeleteKeyA, delete_, static_cast<decltype(delete_)*>(nullptr));
        self_ = nullptr;
    }
    bool ok() const { return ok_; }
    std::vector<std::string> written, deleted;

private:
    template <typename Function>
    static bool Patch(Function* slot, Function value, Function* previous) {
        DWORD old = 0;
        if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return false;
        if (previous) *previous = *slot;
        *slot = value;
        VirtualProtect(slot, sizeof *slot, old, &old);
        return true;
    }
    static LONG WINAPI Create(HKEY root, LPCSTR key, DWORD reserved, LPSTR type, DWORD options,
                              REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY out,
                              LPDWORD disposition) {
        if (root == HKEY_CLASSES_ROOT && key) self_->written.push_back(key);
        return self_->create_(root, key, reserved, type, options, access, security, out, disposition);
    }
    static LONG WINAPI Delete(HKEY root, LPCSTR key) {
        if (root == HKEY_CLASSES_ROOT && key) self_->deleted.push_back(key);
        return self_->delete_(root, key);
    }
    static ClassKeyCalls* self_;
    bool ok_ = false;
    decltype(&::RegCreateKeyExA) create_ = nullptr;
    decltype(&::RegDeleteKeyA) delete_ = nullptr;
};
ClassKeyCalls* ClassKeyCalls::self_ = nullptr;

const char kWelcome[] =
    "Hello %s! Tarvisto is successfull installed! Please click 'Yes' to close Tarvisto or "
    "click 'No or Cancel' to change the settings. Thank you for useing Tarvisto!";

// A store of the current user under exactly this (wide) name, removed again.
class NamedStore {
public:
    explicit NamedStore(const std::wstring& name) : name_(name) {
        HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                         CERT_SYSTEM_STORE_CURRENT_USER, name.c_str());
        ok_ = store != nullptr;
        if (store) CertCloseStore(store, 0);
    }
    ~NamedStore() {
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_DELETE_FLAG, name_.c_str());
        std::wstring key = L"Software\\Microsoft\\SystemCertificates\\" + name_;
        RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    }
    bool ok() const { return ok_; }

private:
    std::wstring name_;
    bool ok_ = false;
};

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

class CertTree : public SetupTest {
protected:
    void SetUp() override {
        SetupTest::SetUp();
        RemoveShellRows();
        ClearLastError();
    }
    void TearDown() override {
        form_.reset();
        delete QXDlgOkHilfe;
        QXDlgOkHilfe = nullptr;
        RemoveShellRows();
        ClearLastError();
        SetupTest::TearDown();
    }

    // What the start-up showed besides the main window.
    struct Seen {
        int imports = 0;
        int passwords = 0;
        int abouts = 0;
        std::vector<std::string> questions;
    };
    // The main window with its start-up run. Whatever comes up meanwhile is
    // answered: the import's file dialog by importFile (empty: Cancel), its
    // password question by password, a question (the welcome) by No, the
    // About window by "&Go On".
    TTVSetupForm& Start(Seen* seen = nullptr, const std::string& importFile = "",
                        const std::string& password = "") {
        form_.reset();
        delete QXDlgOkHilfe;
        QXDlgOkHilfe = nullptr;
        form_ = std::make_unique<TTVSetupForm>(nullptr);
        EXPECT_TRUE(form_->Created());
        QXDlgOkHilfe = new TQXDlgOkHilfe(form_->Handle());
        form_->ShowModeless();
        Seen local;
        Seen& out = seen ? *seen : local;
        std::atomic<bool> done{false};
        TTVSetupForm* form = form_.get();
        bool started = WhileDriving(
            [&] {
                while (!done) {
                    HWND window = nullptr;
                    WaitUntil([&] {
                        if (done) return true;
                        if ((window = WaitForSaveAsDialog(0))) return true;
                        auto visible = [](const char* prefix) -> HWND {
                            for (HWND w : TopWindowsByPrefix(prefix))
                                if (IsWindowVisible(w) && IsWindowEnabled(w)) return w;
                            return nullptr;
                        };
                        return (window = visible("TTVPasswordForm")) ||
                               (window = visible("TQXDlgOkHilfe")) ||
                               (window = visible("TAboutTarvistoForm"));
                    });
                    if (!window) continue;
                    std::string cls = ClassOf(window);
                    if (cls.rfind("TTVPasswordForm", 0) == 0) {
                        ++out.passwords;
                        SendMessageA(Child(window, IDC_PASSWORD_EDIT), WM_SETTEXT, 0,
                                     reinterpret_cast<LPARAM>(password.c_str()));
                        ClickChild(window, IDC_PASSWORD_OK);
                    } else if (cls.rfind("TQXDlgOkHilfe", 0) == 0) {
                        out.questions.push_back(ChildText(window, IDC_OKHELP_TEXT));
                        ClickChild(window, IDC_OKHELP_HELP);  // "No"
                    } else if (cls.rfind("TAboutTarvistoForm", 0) == 0) {
                        ++out.abouts;
                        ClickChild(window, IDC_ABOUT_GO_ON);
                    } else {
                        ++out.imports;
                        if (importFile.empty() || out.imports > 1)
                            AnswerDialog(window, IDCANCEL);
                        else
                            AnswerSaveAs(window, importFile);
                    }
                    WaitGone(window);
                }
            },
            [&] {
                bool ok = WaitUntil([&] {
                    PumpOwn();
                    return form->StartedUp() && !form->TimerArmed(kDoShowAboutTimer) &&
                           !form->ImportOpen() && !form->AboutForm;
                });
                done = true;
                return ok;
            });
        EXPECT_TRUE(started) << "the start-up did not end";
        return *form_;
    }

    HWND Tree() { return form_->Control(IDC_SETUP_TREE); }
    std::string Text(int id) { return TextOf(form_->Control(id)); }
    bool On(int id) { return IsWindowEnabled(form_->Control(id)) != 0; }

    // The child of parent whose text is text (null: none).
    HTREEITEM ChildNode(HTREEITEM parent, const std::string& text) {
        HWND tree = Tree();
        for (HTREEITEM node = QXForm::TreeNext(tree, nullptr); node;
             node = QXForm::TreeNext(tree, node))
            if (QXForm::TreeParent(tree, node) == parent && QXForm::TreeText(tree, node) == text)
                return node;
        return nullptr;
    }
    std::vector<std::string> ChildTexts(HTREEITEM parent) {
        std::vector<std::string> texts;
        HWND tree = Tree();
        for (HTREEITEM node = QXForm::TreeNext(tree, nullptr); node;
             node = QXForm::TreeNext(tree, node))
            if (QXForm::TreeParent(tree, node) == parent)
                texts.push_back(QXForm::TreeText(tree, node));
        return texts;
    }
    HTREEITEM StoreNode(bool own, const std::string& store) {
        return ChildNode(own ? form_->OwnCertNode : form_->OtherCertNode,
                         store + " (" + StoreDescription(store.c_str()) + ")");
    }

    // The controls that follow the selection, as one text.
    std::string SelectionState() {
        return (form_->ControlVisible(IDC_SETUP_SELECT) ? "shown|" : "hidden|") +
               Text(IDC_SETUP_SELECT) + "|" + Text(IDC_SETUP_SELECTION) + "|" +
               (On(IDC_SETUP_REMOVE) ? "remove" : "-");
    }

    // An own certificate of that name stored as the user's, a later run, and
    // the extension registered.
    void RegisteredOwner(CertFixture& certs, const std::string& name) {
        std::string own = certs.NewStore("own");
        ASSERT_TRUE(certs.MakePerson(name, own));
        Set(LoginName(), name, kOwnKey);
        Set("firsttime", "No");
        TTVSetupForm registrar(nullptr);
        ASSERT_TRUE(registrar.RegisterShellExtension());
    }
    // Clicks the activation button and answers its question No; the
    // question's caption and text.
    std::string DeactivateAnsweringNo() {
        std::string question;
        WhileDriving(
            [&] {
                HWND box = WaitForClassPrefix("TQXDlgOkHilfe");
                ASSERT_NE(box, nullptr) << "no deactivation question";
                question = TextOf(box) + "|" + ChildText(box, IDC_OKHELP_TEXT);
                ClickChild(box, IDC_OKHELP_HELP);  // "No"
            },
            [&] {
                form_->BDeaktivierenClick();
                return 0;
            });
        return question;
    }

    std::unique_ptr<TTVSetupForm> form_;
};

const char kDeactivationQuestion[] =
    "Tarvisto 2.11 - Setup!|Computer has to be restarted before you can remove Tarvisto from your "
    "system!\r\nProceed?";

// A click at the middle of the node's label, as the mouse gives it.
void ClickNode(HWND tree, HTREEITEM node) {
    SendMessageA(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(node));
    RECT rect = {};
    memcpy(&rect, &node, sizeof(node));  // the node goes in, its rectangle comes out
    ASSERT_TRUE(SendMessageA(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rect)));
    LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    PostMessageA(tree, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(tree, WM_LBUTTONUP, 0, at);
}

}  // namespace

TEST_F(CertTree, StoresAndCertificatesShowUnderTheirBranchesByTheirRealNames) {
    CertFixture certs;
    std::string own = certs.NewStore("own");
    ASSERT_TRUE(certs.MakePerson("Tree Own", own));
    std::string dated = certs.NewStore("dated");
    ASSERT_TRUE(certs.MakeDatedPerson("Tree Expired", dated, -30, -1));
    ASSERT_TRUE(certs.MakeDatedPerson("Tree Future", dated, 10, 40));
    ASSERT_TRUE(certs.CopyPublic("Tree Own", own, dated));
    NamedStore backup(L"Backup (old)");
    ASSERT_TRUE(backup.ok());
    ASSERT_TRUE(certs.CopyPublic("Tree Expired", dated, "Backup (old)"));
    // Names that are no store of this system's: one that does not convert
    // to ANSI exactly, one too long for the table; one that just fits.
    NamedStore cyrillic(L"\x0417\x0430\x043f\x0430\x0441");
    NamedStore polish(L"\x0141odz");
    std::string longest(64, 'x'), tooLong(65, 'y');
    NamedStore fits(Wide(longest)), tooLongStore(Wide(tooLong));
    ASSERT_TRUE(cyrillic.ok() && polish.ok() && fits.ok() && tooLongStore.ok());

    Set(LoginName(), "Tree Own", kOwnKey);
    Seen seen;
    Start(&seen);
    EXPECT_EQ(seen.imports, 0);
    HWND tree = Tree();

    std::vector<std::string> ownStores = ChildTexts(form_->OwnCertNode);
    std::vector<std::string> otherStores = ChildTexts(form_->OtherCertNode);
    EXPECT_EQ(ownStores, otherStores);
    EXPECT_EQ(static_cast<int>(ownStores.size()), form_->StoreCount);
    for (const std::string& text : ownStores) {
        EXPECT_EQ(text.find("Lodz"), std::string::npos) << "a best-fit name: " << text;
        EXPECT_EQ(text.find('?'), std::string::npos) << "a replaced name: " << text;
        EXPECT_EQ(text.find(tooLong), std::string::npos) << "a cut or too long name";
    }
    EXPECT_NE(StoreNode(true, longest), nullptr) << "a name of 64 characters fits";
    EXPECT_EQ(std::string(StoreDescription("my")), "Private Certificates");
    EXPECT_EQ(std::string(StoreDescription("Root")), "Trusted Root Certification Authorities");

    struct Row {
        bool ownBranch;
        std::string store, subject;
        int image;
    } rows[] = {
        {true, own, "Tree Own", 2},
        {true, dated, "Tree Expired", 1},
        {true, dated, "Tree Future", 1},
        {false, dated, "Tree Own", 3},
        {false, "Backup (old)", "Tree Expired", 1},
    };
    for (const Row& row : rows) {
        HTREEITEM store = StoreNode(row.ownBranch, row.store);
        ASSERT_NE(store, nullptr) << row.store;
        HTREEITEM node = ChildNode(store, row.subject);
        ASSERT_NE(node, nullptr) << row.store << "/" << row.subject;
        EXPECT_EQ(QXForm::TreeImage(tree, node), row.image) << row.subject;
        char name[256];
        EXPECT_TRUE(form_->NodeStoreName(node, name));
        EXPECT_EQ(std::string(name), row.store);
    }
    EXPECT_TRUE(ChildTexts(StoreNode(false, own)).empty());
    EXPECT_TRUE(ChildTexts(StoreNode(true, "Backup (old)")).empty());

    // The stored own certificate is selected: the one with its key.
    HTREEITEM selected = QXForm::TreeSelection(tree);
    EXPECT_EQ(selected, ChildNode(StoreNode(true, own), "Tree Own"));
    EXPECT_EQ(SelectionState(), "shown|Accept &private Certificate|Tree Own|remove");
    EXPECT_FALSE(form_->NoOwnCert);

    // "Backup (old)" under the other branch, accepted: its real name.
    HTREEITEM backupNode = StoreNode(false, "Backup (old)");
    ASSERT_TRUE(QXForm::TreeSelect(tree, backupNode));
    EXPECT_EQ(SelectionState(),
              "shown|Accept public certificates &store|Backup (old) (Unknown)|-");
    SendMessageA(form_->Control(IDC_SETUP_SELECT), BM_CLICK, 0, 0);
    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, kSettingsKey)["pubstore"], "Backup (old)");
    EXPECT_FALSE(On(IDC_SETUP_SELECT));
}

TEST_F(CertTree, TheStoredOwnCertificateIsFoundAmongCertificatesExactNameFirst) {
    CertFixture certs;
    std::string own = certs.NewStore("own");
    ASSERT_TRUE(certs.MakePerson("Pre", own));
    ASSERT_TRUE(certs.MakePerson("Pre Longer", own));
    NamedStore backup(L"Backup (old)");
    // A name that only a store node begins with names no certificate: the
    // first own certificate is taken instead, never the store.
    Set(LoginName(), "Backup", kOwnKey);
    Seen seen;
    Start(&seen);
    HWND tree = Tree();
    EXPECT_TRUE(form_->IsCertificateNode(QXForm::TreeSelection(tree)));
    std::string accepted = ReadValues(HKEY_CURRENT_USER, kOwnKey)[LoginName()];
    EXPECT_TRUE(accepted == "Pre" || accepted == "Pre Longer") << accepted;
    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, kSettingsKey)["ownstore"], own);

    // The exact name wins over one that only begins with it.
    Set(LoginName(), "Pre", kOwnKey);
    Start(&seen);
    tree = Tree();
    EXPECT_EQ(QXForm::TreeText(tree, QXForm::TreeSelection(tree)), "Pre");
    EXPECT_FALSE(form_->NoOwnCert);
    EXPECT_EQ(SelectionState(), "shown|Accept &private Certificate|Pre|remove");
}

TEST_F(CertTree, StoresPastTheTableAreSkippedAndAMissingStoreListIsEmpty) {
    std::vector<std::unique_ptr<NamedStore>> stores;
    for (int i = 0; i < 130; ++i) {
        char name[32];
        wsprintfA(name, "tvt-many-%03d", i);
        stores.push_back(std::make_unique<NamedStore>(Wide(name)));
    }
    TQXCrypt crypt;
    auto table = std::make_unique<StoreTable>();
    ASSERT_TRUE(crypt.EnumSystemStores(table.get()));
    int count = 0;
    while (count <= kStoreTableSlots && table->names[count][0]) ++count;
    EXPECT_EQ(count, kStoreTableSlots);
    Start();
    EXPECT_EQ(form_->StoreCount, 128);
    EXPECT_EQ(ChildTexts(form_->OwnCertNode).size(), 128u);
    EXPECT_EQ(ChildTexts(form_->OtherCertNode).size(), 128u);
    form_.reset();
    stores.clear();

    // A profile that has never had a store: no list yet, no stores, the
    // import is offered.
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Microsoft\\SystemCertificates");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Microsoft\\SystemCertificates");
    EXPECT_TRUE(crypt.EnumSystemStores(table.get())) << TakeError();
    EXPECT_EQ(table->names[0][0], '\0');
    delete QXDlgOkHilfe;
    QXDlgOkHilfe = nullptr;
    Seen seen;
    Start(&seen);
    EXPECT_EQ(seen.imports, 1);
    EXPECT_TRUE(form_->NoOwnCert);
}

TEST_F(CertTree, TheSelectionControlsFollowTheMouseAndTheKeyboard) {
    CertFixture certs;
    std::string own = certs.NewStore("own");
    ASSERT_TRUE(certs.MakePerson("Follow Own", own));
    NamedStore backup(L"Backup (old)");
    Set(LoginName(), "Follow Own", kOwnKey);
    Start();
    HWND tree = Tree();
    HTREEITEM ownNode = ChildNode(StoreNode(true, own), "Follow Own");
    ASSERT_EQ(QXForm::TreeSelection(tree), ownNode);

    // The mouse: a store under the other branch.
    HTREEITEM store = StoreNode(false, "Backup (old)");
    ASSERT_NE(store, nullptr);
    ClickNode(tree, store);
    ASSERT_TRUE(WaitUntil([&] {
        PumpOwn();
        return QXForm::TreeSelection(tree) == store;
    })) << "the click selected nothing";
    EXPECT_EQ(SelectionState(),
              "shown|Accept public certificates &store|Backup (old) (Unknown)|-");

    // The keyboard: from the own certificate one down, to what follows it.
    ASSERT_TRUE(QXForm::TreeSelect(tree, ownNode));
    EXPECT_EQ(SelectionState(), "shown|Accept &private Certificate|Follow Own|remove");
    SetFocus(tree);
    ASSERT_TRUE(WaitForFocus(tree));
    PostMessageA(tree, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(tree, WM_KEYUP, VK_DOWN, 0xC0000000);
    ASSERT_TRUE(WaitUntil([&] {
        PumpOwn();
        return QXForm::TreeSelection(tree) != ownNode;
    })) << "the key moved nothing";
    EXPECT_FALSE(form_->IsCertificateNode(QXForm::TreeSelection(tree)));
    EXPECT_EQ(SelectionState(), "hidden||Please select and accept!|-");
    // Back up: the own certificate again.
    PostMessageA(tree, WM_KEYDOWN, VK_UP, 0);
    PostMessageA(tree, WM_KEYUP, VK_UP, 0xC0000000);
    ASSERT_TRUE(WaitUntil([&] {
        PumpOwn();
        return QXForm::TreeSelection(tree) == ownNode;
    }));
    EXPECT_EQ(SelectionState(), "shown|Accept &private Certificate|Follow Own|remove");
}

TEST_F(CertTree, TheFirstRunWelcomesAcceptsTheFirstOwnCertificateAndWritesTheRows) {
    CertFixture certs;
    std::string own = certs.NewStore("own");
    ASSERT_TRUE(certs.MakePerson("First Own", own));
    // An empty stored subject names no certificate.
    Set(LoginName(), "", kOwnKey);
    Seen seen;
    Start(&seen);
    ASSERT_EQ(seen.questions.size(), 1u);
    char text[512];
    wsprintfA(text, kWelcome, LoginName().c_str());
    EXPECT_EQ(seen.questions[0], text);
    EXPECT_EQ(seen.imports, 0);
    // The first run shows no About window, also after the acceptance below
    // has saved the settings.
    EXPECT_EQ(seen.abouts, 0);

    // Answered No: accepted all the same, with its real store.
    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, kOwnKey)[LoginName()], "First Own");
    auto settings = ReadValues(HKEY_CURRENT_USER, kSettingsKey);
    EXPECT_EQ(settings["ownstore"], own);
    EXPECT_EQ(settings["pubstore"], "My");
    EXPECT_EQ(settings["firsttime"], "No");
    EXPECT_EQ(Text(IDC_SETUP_ACTIVATE), "&Deactivate");
    EXPECT_TRUE(On(IDC_SETUP_ACTIVATE));
    for (const ShellRow& row : ShellRows(ExeDir()))
        EXPECT_EQ(ReadClassValue(row.key, row.name), row.data)
            << row.key << " " << (row.name ? row.name : "(default)");
    EXPECT_TRUE(form_->IsShellExtensionRegistered());
}

TEST_F(CertTree, RemovalTakesExactlyTheSelectedCertificateAndPersists) {
    CertFixture certs;
    std::string own = certs.NewStore("own");
    ASSERT_TRUE(certs.MakePerson("Twin", own));
    // A keyless twin: another certificate of the same name in the same store.
    std::string elsewhere = certs.NewStore("elsewhere");
    ASSERT_TRUE(certs.MakePerson("Twin", elsewhere));
    ASSERT_TRUE(certs.CopyPublic("Twin", elsewhere, own));
    ASSERT_EQ(certs.CountCertificates(own), 2);
    Set(LoginName(), "Twin", kOwnKey);
    Set("ownstore", own);
    Start();
    HWND tree = Tree();
    HTREEITEM twin = ChildNode(StoreNode(false, own), "Twin");
    ASSERT_NE(twin, nullptr);

    // A store node: nothing to remove.
    ASSERT_TRUE(QXForm::TreeSelect(tree, StoreNode(false, own)));
    EXPECT_FALSE(form_->DeleteSelectedCertificate());
    EXPECT_EQ(certs.CountCertificates(own), 2);

    // The shortcut Ctrl+L acts only while the tree has the focus.
    ASSERT_TRUE(QXForm::TreeSelect(tree, twin));
    EXPECT_TRUE(form_->CertTreeViewPopUp.Enabled(IDM_SETUP_REMOVE));
    SetFocus(form_->Control(IDC_SETUP_HELP_CERTS));
    SendMessageA(form_->Handle(), WM_COMMAND, MAKEWPARAM(IDM_SETUP_REMOVE, 1), 0);
    EXPECT_EQ(certs.CountCertificates(own), 2) << "the shortcut acted off the tree";
    SetFocus(tree);
    ASSERT_EQ(GetFocus(), tree);
    SendMessageA(form_->Handle(), WM_COMMAND, MAKEWPARAM(IDM_SETUP_REMOVE, 1), 0);
    EXPECT_EQ(certs.CountCertificates(own), 1);
    EXPECT_EQ(ChildNode(StoreNode(false, own), "Twin"), nullptr);
    EXPECT_FALSE(On(IDC_SETUP_REMOVE));
    EXPECT_FALSE(form_->CertTreeViewPopUp.Enabled(IDM_SETUP_REMOVE));
    // The one that is left is the own certificate, with its key.
    PCCERT_CONTEXT left = certs.Certificate("Twin", own);
    ASSERT_NE(left, nullptr);
    DWORD size = 0;
    EXPECT_TRUE(CertGetCertificateContextProperty(left, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    CertFreeCertificateContext(left);

    // A disabled entry's shortcut does nothing: a store node is selected.
    ASSERT_TRUE(QXForm::TreeSelect(tree, StoreNode(true, own)));
    SetFocus(tree);
    SendMessageA(form_->Handle(), WM_COMMAND, MAKEWPARAM(IDM_SETUP_REMOVE, 1), 0);
    EXPECT_EQ(certs.CountCertificates(own), 1);

    // "&Update" rebuilds from the stores, and so does a new start.
    form_->PopUpAktualisierenClick();
    EXPECT_EQ(ChildNode(StoreNode(false, own), "Twin"), nullptr);
    EXPECT_NE(ChildNode(StoreNode(true, own), "Twin"), nullptr);
    form_.reset();
    delete QXDlgOkHilfe;
    QXDlgOkHilfe = nullptr;
    Start();
    EXPECT_EQ(ChildNode(StoreNode(false, own), "Twin"), nullptr);
    EXPECT_EQ(QXForm::TreeSelection(Tree()), ChildNode(StoreNode(true, own), "Twin"));
}

// The public part of the exchange key in the user's default key container
// (empty: none).
std::vector<BYTE> DefaultExchangeKey() {
    std::vector<BYTE> key;
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, 0)) return key;
    DWORD size = 0;
    if (CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, X509_ASN_ENCODING, nullptr, &size)) {
        std::vector<BYTE> info(size);
        auto* publicKey = reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(info.data());
        if (CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, X509_ASN_ENCODING, publicKey, &size))
            key.assign(publicKey->PublicKey.pbData,
                       publicKey->PublicKey.pbData + publicKey->PublicKey.cbData);
    }
    CryptReleaseContext(provider, 0);
    return key;
}

TEST_F(CertTree, OurOwnImportMakesAnOwnCertificateThatSigns) {
    std::string file = CertFixture::DataDir() + "\\carol-modern.p12";
    // A key in the user's default container, which the import must not touch.
    {
        HCRYPTPROV provider = 0;
        bool opened = CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, 0) ||
                      CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL,
                                           CRYPT_NEWKEYSET);
        ASSERT_TRUE(opened);
        HCRYPTKEY key = 0;
        ASSERT_TRUE(CryptGenKey(provider, AT_KEYEXCHANGE, (1024 << 16) | CRYPT_EXPORTABLE, &key));
        CryptDestroyKey(key);
        CryptReleaseContext(provider, 0);
    }
    std::vector<BYTE> defaultKey = DefaultExchangeKey();
    ASSERT_FALSE(defaultKey.empty());
    // A wrong password: a clear error, nothing stored.
    CertFixture certs;
    {
        std::atomic<bool> answered{false};
        Seen seen;
        std::thread box([&] {
            HWND error = WaitForCaption("Tarvisto 2.11 - Error!");
            if (error) {
                AnswerDialog(error, IDOK);
                answered = true;
            }
        });
        Start(&seen, file, "wrong");
        box.join();
        EXPECT_TRUE(answered) << "no error for a wrong password";
        // Still no own certificate: the rebuilt tree offers the import again.
        EXPECT_EQ(seen.imports, 2);
        EXPECT_TRUE(form_->NoOwnCert);
    }
    PCCERT_CONTEXT none = certs.Certificate("Carol Interop", "My");
    EXPECT_EQ(none, nullptr);
    if (none) CertFreeCertificateContext(none);
    form_.reset();
    delete QXDlgOkHilfe;
    QXDlgOkHilfe = nullptr;

    Seen seen;
    Start(&seen, file, "test");
    EXPECT_EQ(seen.imports, 1);
    ASSERT_EQ(seen.questions.size(), 1u) << "no welcome after the import";
    EXPECT_FALSE(form_->NoOwnCert);
    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, kOwnKey)[LoginName()], "Carol Interop");
    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, kSettingsKey)["ownstore"], "My");

    PCCERT_CONTEXT carol = certs.Certificate("Carol Interop", "My");
    ASSERT_NE(carol, nullptr) << "not in My";
    // Its key lives in a container of its own, not the user's default one.
    DWORD size = 0;
    ASSERT_TRUE(CertGetCertificateContextProperty(carol, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    std::vector<BYTE> buffer(size);
    ASSERT_TRUE(CertGetCertificateContextProperty(carol, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(),
                                                  &size));
    std::wstring container = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buffer.data())->pwszContainerName;
    EXPECT_EQ(container.rfind(L"Tarvisto-", 0), 0u);
    EXPECT_TRUE(PrivateKeySigns(carol));
    EXPECT_TRUE(DefaultExchangeKey() == defaultKey) << "the default container's key was replaced";

    TQXCrypt crypt;
    const BYTE data[] = "signed by the imported certificate";
    BYTE* signedData = nullptr;
    uint32_t length = 0;
    EXPECT_TRUE(crypt.SignBuffer("My", "Carol Interop", data, sizeof(data), &signedData, &length))
        << TakeError();
    BYTE* content = nullptr;
    uint32_t contentLength = 0;
    EXPECT_TRUE(crypt.VerifyBuffer(signedData, length, &content, &contentLength, nullptr, false));
    EXPECT_EQ(contentLength, sizeof(data));
    crypt.FreeBuffer(signedData);
    crypt.FreeBuffer(content);

    // Clean up what the import made: the certificate and its container.
    form_.reset();
    HCERTSTORE my = OpenUserStore("My");
    PCCERT_CONTEXT found = CertFindCertificateInStore(my, X509_ASN_ENCODING, 0,
                                                      CERT_FIND_EXISTING, carol, nullptr);
    if (found) CertDeleteCertificateFromStore(found);
    CertControlStore(my, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(my, 0);
    CertFreeCertificateContext(carol);
    HCRYPTPROV provider = 0;
    CryptAcquireContextW(&provider, container.c_str(), nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

TEST_F(CertTree, WhereTheSystemHasAnAddActionItRunsAndIsAwaited) {
    // A system whose "add" for .p12 files is a program of its own.
    TempDir work("add");
    std::string log = work / "add.log";
    SetEnvironmentVariableA("TV_VIEWER_LOG", log.c_str());
    SetClassValue(".p12", nullptr, "TarvistoTestPkcs12");
    SetClassValue("TarvistoTestPkcs12\\shell\\add\\command", nullptr,
                  "\"" + ExeDir() + "\\tv_testviewer.exe\" \"%1\"");
    std::string file = CertFixture::DataDir() + "\\carol-modern.p12";
    Seen seen;
    Start(&seen, file, "test");
    SetEnvironmentVariableA("TV_VIEWER_LOG", nullptr);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "TarvistoTestPkcs12");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ".p12");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "TarvistoTestPkcs12");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, ".p12");
    std::string opened = ReadFileBytes(log);
    EXPECT_EQ(opened.rfind(file + "|", 0), 0u) << opened;
    EXPECT_EQ(seen.passwords, 0) << "our own import ran beside the system's";
    // The stand-in imported nothing: the rebuilt tree offers the import again.
    EXPECT_EQ(seen.imports, 2);
    EXPECT_TRUE(form_->NoOwnCert);
}

TEST_F(CertTree, RegistrationRowsAreWrittenWholeOrNotAtAllAndRemovalSparesOthers) {
    TTVSetupForm form(nullptr);  // never pumped: no start-up
    std::string folder = ExeDir();
    ASSERT_TRUE(form.RegisterShellExtension()) << TakeError();
    for (const ShellRow& row : ShellRows(folder))
        EXPECT_EQ(ReadClassValue(row.key, row.name), row.data) << row.key;

    // Another program took ".crp" over and put a verb below "Tarvisto".
    SetClassValue(".crp", nullptr, "OtherCrypt");
    SetClassValue("Tarvisto\\shell\\print\\command", nullptr, "other.exe \"%1\"");
    EXPECT_TRUE(form.UnregisterShellExtension());
    EXPECT_FALSE(form.IsShellExtensionRegistered());
    for (const char* gone : {"*\\shellex\\ContextMenuHandlers\\Tarvisto",
                             "Directory\\shellex\\ContextMenuHandlers\\Tarvisto",
                             "Drive\\shellex\\ContextMenuHandlers\\Tarvisto", ".sgn", ".sme",
                             "Tarvisto\\shell\\open", "Tarvisto\\DefaultIcon"})
        EXPECT_FALSE(ClassKeyExists(gone)) << gone;
    EXPECT_FALSE(ClassKeyExists(std::string("CLSID\\") + QX_MENU_CLASS_TEXT));
    EXPECT_EQ(ReadClassValue(".crp", nullptr), "OtherCrypt");
    EXPECT_EQ(ReadClassValue("Tarvisto\\shell\\print\\command", nullptr), "other.exe \"%1\"");
    EXPECT_TRUE(ClassKeyExists("*\\shellex\\ContextMenuHandlers"));
    RemoveShellRows();
    ClearLastError();

    // A write that fails half-way (below a volatile key no lasting key can
    // be made) leaves everything as it was before, an overwritten value too.
    std::string classKey = std::string("CLSID\\") + QX_MENU_CLASS_TEXT;
    SetClassValue(".sgn", nullptr, "Before");
    SetClassValue(classKey, nullptr, "Old", REG_OPTION_VOLATILE);
    EXPECT_FALSE(form.RegisterShellExtension());
    EXPECT_FALSE(TakeError().empty()) << "the failure was not recorded";
    ClearLastError();
    for (const char* gone : {"*\\shellex\\ContextMenuHandlers\\Tarvisto",
                             "Directory\\shellex\\ContextMenuHandlers\\Tarvisto",
                             "Drive\\shellex\\ContextMenuHandlers\\Tarvisto", "Tarvisto", ".crp",
                             ".sme"})
        EXPECT_FALSE(ClassKeyExists(gone)) << gone;
    EXPECT_EQ(ReadClassValue(classKey, nullptr), "Old");
    EXPECT_FALSE(ClassKeyExists(classKey + "\\InprocServer32"));
    EXPECT_EQ(ReadClassValue(".sgn", nullptr), "Before");
    EXPECT_TRUE(ClassKeyExists("*\\shellex\\ContextMenuHandlers"));
}

// The rows are written, and their keys deleted, each in its table's order;
// the file types are written .sgn, .crp, .sme and deleted .crp, .sgn, .sme.
TEST_F(CertTree, RegistrationWritesAndRemovesItsKeysInTheirOrder) {
    TTVSetupForm form(nullptr);  // never pumped: no start-up
    const std::string g = QX_MENU_CLASS_TEXT;
    const std::string handlers[] = {"*\\shellex\\ContextMenuHandlers\\Tarvisto",
                                    "Directory\\shellex\\ContextMenuHandlers\\Tarvisto",
                                    "Drive\\shellex\\ContextMenuHandlers\\Tarvisto"};
    const std::string server = "CLSID\\" + g + "\\InprocServer32";
    const std::vector<std::string> written = {
        handlers[0], handlers[1], handlers[2], "CLSID\\" + g, server, server,
        "Tarvisto\\shell\\open\\command\\", "Tarvisto\\DefaultIcon", "Tarvisto", ".sgn", ".crp", ".sme"};
    const std::vector<std::string> deleted = {
        handlers[0], handlers[1], handlers[2], "Tarvisto\\shell\\open\\command\\",
        "Tarvisto\\shell\\open", "Tarvisto\\shell", "Tarvisto\\DefaultIcon", "Tarvisto", ".crp", ".sgn",
        ".sme", server, "CLSID\\" + g};
    {
        ClassKeyCalls calls;
        ASSERT_TRUE(calls.ok());
        ASSERT_TRUE(form.RegisterShellExtension()) << TakeError();
        EXPECT_TRUE(form.UnregisterShellExtension());
        EXPECT_EQ(calls.written, written);
        EXPECT_EQ(calls.deleted, deleted);
    }
    EXPECT_FALSE(form.IsShellExtensionRegistered());
    RemoveShellRows();
    ClearLastError();
}

TEST_F(CertTree, DeactivationAnsweredNoKeepsEverything) {
    CertFixture certs;
    ASSERT_NO_FATAL_FAILURE(RegisteredOwner(certs, "Keep Own"));
    Seen seen;
    Start(&seen);
    EXPECT_EQ(seen.abouts, 1);
    ASSERT_EQ(Text(IDC_SETUP_ACTIVATE), "&Deactivate");
    ASSERT_TRUE(On(IDC_SETUP_ACTIVATE));
    EXPECT_EQ(DeactivateAnsweringNo(), kDeactivationQuestion);
    EXPECT_EQ(Text(IDC_SETUP_ACTIVATE), "&Deactivate");
    EXPECT_TRUE(On(IDC_SETUP_ACTIVATE));
    for (const ShellRow& row : ShellRows(ExeDir()))
        EXPECT_EQ(ReadClassValue(row.key, row.name), row.data) << row.key;
    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, kOwnKey)[LoginName()], "Keep Own");
}

TEST_F(CertTree, AFailedRegistrationOverAnEarlierOneLeavesDeactivationReachable) {
    CertFixture certs;
    // An earlier registration whose class key is now one below which no
    // lasting key can be made: the next registration fails half-way and puts
    // back what was there.
    ASSERT_NO_FATAL_FAILURE(RegisteredOwner(certs, "Again Own"));
    std::string classKey = std::string("CLSID\\") + QX_MENU_CLASS_TEXT;
    RegDeleteTreeA(HKEY_CLASSES_ROOT, classKey.c_str());
    SetClassValue(classKey, nullptr, "Tarvisto", REG_OPTION_VOLATILE);
    Start();
    ASSERT_EQ(Text(IDC_SETUP_ACTIVATE), "&Deactivate");
    ASSERT_EQ(Text(IDC_SETUP_SELECT), "Accept &private Certificate");

    std::string box;
    bool accepted = WhileDriving(
        [&] {
            HWND error = WaitForMessageBox(kWaitMs, "Tarvisto 2.11 - Error!");
            ASSERT_NE(error, nullptr) << "the failed registration was not said";
            box = MessageBoxText(error);
            AnswerDialog(error, IDOK);
        },
        [&] { return form_->AcceptSelection(); });
    EXPECT_FALSE(accepted);
    EXPECT_EQ(box.rfind("The Explorer integration could not be registered!", 0), 0u) << box;
    ClearLastError();
    // The earlier rows are there again, and the button says so.
    ASSERT_TRUE(form_->IsShellExtensionRegistered());
    ASSERT_EQ(Text(IDC_SETUP_ACTIVATE), "&Deactivate");
    ASSERT_TRUE(On(IDC_SETUP_ACTIVATE));

    // So the button leads to the deactivation's question (answered No here).
    EXPECT_EQ(DeactivateAnsweringNo(), kDeactivationQuestion);
    EXPECT_TRUE(form_->IsShellExtensionRegistered());
}
