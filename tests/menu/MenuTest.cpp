// The Explorer extension loaded into this process the way the Explorer loads
// it (bin\tvcryptc.dll through its class factory): the real menu is read back
// item by item, and commands run real jobs with the real dialogs library.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CertFixture.h"
#include "QXMenuClass.h"
#include "RegistryFixture.h"
#include "ShellHost.h"
#include "TestFiles.h"
#include "TestProcess.h"
#include "WindowDriver.h"

namespace {

using tvtest::Exists;
using tvtest::WriteFileBytes;

using tvtest::BinDir;
using tvtest::ExeDir;
std::string CurrentUser() {
    char user[64] = {0};
    DWORD n = sizeof user;
    if (WNetGetUserA(nullptr, user, &n) != NO_ERROR || !user[0]) return "DefUsr";
    return user;
}

using tvhost::DropData;
using tvhost::Ref;

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());  // the tests' paths are ASCII
}

// One item of a menu as the host sees it.
struct Item {
    std::string kind;  // "string", "popup", "separator"
    UINT id = 0;
    std::string text;
    bool bitmap = false;
    HBITMAP picture = nullptr;
    std::vector<Item> items;  // of a popup
};

std::vector<Item> ReadMenu(HMENU menu) {
    std::vector<Item> out;
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[256] = {0};
        MENUITEMINFOA info = {sizeof info};
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING | MIIM_CHECKMARKS;
        info.dwTypeData = text;
        info.cch = sizeof text;
        GetMenuItemInfoA(menu, i, TRUE, &info);
        Item item;
        item.kind = (info.fType & MFT_SEPARATOR) ? "separator" : info.hSubMenu ? "popup" : "string";
        item.id = info.hSubMenu ? 0 : info.wID;
        item.text = text;
        item.bitmap = info.hbmpChecked != nullptr && info.hbmpUnchecked != nullptr;
        item.picture = info.hbmpChecked;
        if (info.hSubMenu) item.items = ReadMenu(info.hSubMenu);
        out.push_back(item);
    }
    return out;
}

std::vector<std::string> Texts(const std::vector<Item>& items) {
    std::vector<std::string> out;
    for (const Item& i : items) out.push_back(i.text);
    return out;
}

constexpr UINT kFirst = 1000;
const std::vector<std::string> kOperations = {"&Unpack Digital Envelope", "&Sign", "&Verifiy",
                                              "&Encrypt", "&Decrypt"};

// The server of this process, loaded once for the program.
struct Server {
    HMODULE module = nullptr;
    HRESULT(WINAPI* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(WINAPI* canUnloadNow)() = nullptr;
    int(WINAPI* fileJob)(const char*) = nullptr;

    Server() {
        std::string path = BinDir() + "\\tvcryptc.dll";
        module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!module) return;
        getClassObject = reinterpret_cast<decltype(getClassObject)>(
            GetProcAddress(module, "DllGetClassObject"));
        canUnloadNow = reinterpret_cast<decltype(canUnloadNow)>(GetProcAddress(module, "DllCanUnloadNow"));
        fileJob = reinterpret_cast<decltype(fileJob)>(GetProcAddress(module, "DllQXCrypt"));
    }
    bool ok() const { return getClassObject && canUnloadNow && fileJob; }
};

Server& TheServer() {
    static Server* server = new Server;  // stays loaded until the program ends
    return *server;
}

// The people of the program: Alice signs (key in the own store); Bob and
// Carol are recipients whose keys stay in a store of their own.
struct People {
    tvtest::CertFixture certs;
    std::string own, keys, pub;
    bool ok = false;
    People() {
        own = certs.NewStore("own");
        keys = certs.NewStore("keys");
        pub = certs.NewStore("pub");
        ok = certs.MakePerson("Alice Menu", own) && certs.MakePerson("Bob Menu", keys) &&
             certs.MakePerson("Carol Menu", keys) && certs.CopyPublic("Bob Menu", keys, pub) &&
             certs.CopyPublic("Carol Menu", keys, pub);
    }
};

class MenuTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { people = new People; }
    static void TearDownTestSuite() {
        delete people;
        people = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(TheServer().ok()) << "bin\\tvcryptc.dll with its exports";
        ASSERT_TRUE(people->ok);
        settings = std::make_unique<tvtest::RegistryValues>();
        ownCerts = std::make_unique<tvtest::RegistryValues>(HKEY_CURRENT_USER,
                                                            "software\\Quorvex\\Own Certificates");
        for (auto [name, value] : std::vector<std::pair<std::string, std::string>>{
                 {"statusdll", BinDir() + "\\tvstatus.dll"},
                 {"secureavi", BinDir() + "\\secure.avi"},
                 {"ownstore", people->own},
                 {"pubstore", people->pub},
                 {"showpkcs12", "No"},
                 {"zipfile", "No"},
                 {"unzipfile", "No"},
                 {"loeschequelldatei", "No"},
                 {"delsecure", "No"},
                 {"openfilessave", "Yes"},
                 {"addpubliczert", "No"},
                 {"smeviaemail", "No"},
                 {"openfilesonly", "No"}}) {
            Set(name, value);
        }
        ownCerts->SetString(CurrentUser(), "Alice Menu");
        ownCerts->SetString("DefUsr", "Alice Menu");
        work = ExeDir() + "\\" + tvtest::UniqueName("menu");
        tvtest::MakeDir(work);
    }
    void TearDown() override {
        tvtest::RemoveTree(work);
        settings.reset();
        ownCerts.reset();
    }
    void Set(const std::string& name, const std::string& value) {
        ASSERT_TRUE(settings->SetString(name, value)) << name;
    }

    // A new object of the class, initialized with the paths.
    struct Handler {
        Ref<IContextMenu> menu;
        Ref<IShellExtInit> init;
    };
    static std::unique_ptr<Handler> NewHandler() {
        auto handler = std::make_unique<Handler>();
        Ref<IClassFactory> factory;
        if (FAILED(TheServer().getClassObject(CLSID_QXMenu, IID_IClassFactory, factory.out())) ||
            FAILED(factory->CreateInstance(nullptr, IID_IContextMenu, handler->menu.out())) ||
            FAILED(handler->menu->QueryInterface(IID_IShellExtInit, handler->init.out()))) {
            return nullptr;
        }
        return handler;
    }
    static HRESULT Select(Handler& handler, const std::vector<std::wstring>& paths) {
        DropData data(paths);
        return handler.init->Initialize(nullptr, &data, nullptr);
    }

    // Builds the menu into a host menu of `own` items; returns the result count.
    static int Build(Handler& handler, HMENU host, int own, UINT index, UINT flags = CMF_NORMAL,
                     UINT last = 0x7FFF) {
        for (int i = 0; i < own; ++i) {
            AppendMenuA(host, MF_STRING, 1 + i, ("Host item " + std::to_string(i)).c_str());
        }
        HRESULT result = handler.menu->QueryContextMenu(host, index, kFirst, last, flags);
        EXPECT_TRUE(SUCCEEDED(result));
        return HRESULT_CODE(result);
    }

    static HRESULT Invoke(Handler& handler, LPCSTR verb) {
        CMINVOKECOMMANDINFO info = {sizeof info};
        info.lpVerb = verb;
        info.nShow = SW_SHOWNORMAL;
        return handler.menu->InvokeCommand(&info);
    }
    // Runs a command; a window the job leaves waiting fails the test at the
    // watchdog's deadline instead of holding it.
    static HRESULT InvokeOffset(Handler& handler, UINT offset) {
        return tvtest::WhileDriving([] {}, [&] { return Invoke(handler, MAKEINTRESOURCEA(offset)); });
    }

    // Invokes and answers the error box the command shows.
    struct Answered {
        HRESULT result;
        std::string box;
        bool ownerInProcess = true;
    };
    static Answered InvokeAnsweringBox(Handler& handler, LPCSTR verb) {
        Answered seen{E_UNEXPECTED, ""};
        seen.result = tvtest::WhileDriving(
            [&] {
                HWND box = tvtest::WaitForMessageBox(tvtest::kWaitMs, "Tarvisto Version 2.11");
                if (!box) return;
                seen.box = tvtest::MessageBoxText(box);
                HWND owner = GetWindow(box, GW_OWNER);
                DWORD process = GetCurrentProcessId();
                if (owner) GetWindowThreadProcessId(owner, &process);
                seen.ownerInProcess = process == GetCurrentProcessId();
                tvtest::AnswerDialog(box, IDOK);
            },
            [&] { return Invoke(handler, verb); });
        return seen;
    }

    // Whether the envelope's one recipient is the certificate of `name`.
    static bool EnvelopeIsFor(const std::string& sme, const std::string& name) {
        const DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
        std::string bytes = tvtest::ReadFileBytes(sme);
        CRYPT_VERIFY_MESSAGE_PARA verify = {sizeof verify, encoding};
        auto* data = reinterpret_cast<const BYTE*>(bytes.data());
        DWORD innerLength = static_cast<DWORD>(bytes.size());
        std::vector<BYTE> inner(innerLength);
        if (!CryptVerifyMessageSignature(&verify, 0, data, static_cast<DWORD>(bytes.size()),
                                         inner.data(), &innerLength, nullptr)) {
            return false;
        }
        HCRYPTMSG msg = CryptMsgOpenToDecode(encoding, 0, 0, 0, nullptr, nullptr);
        DWORD count = 0, size = sizeof count;
        bool ok = msg && CryptMsgUpdate(msg, inner.data(), innerLength, TRUE) &&
                  CryptMsgGetParam(msg, CMSG_RECIPIENT_COUNT_PARAM, 0, &count, &size) && count == 1;
        std::vector<BYTE> info;
        size = 0;
        ok = ok && CryptMsgGetParam(msg, CMSG_RECIPIENT_INFO_PARAM, 0, nullptr, &size);
        info.resize(size);
        ok = ok && CryptMsgGetParam(msg, CMSG_RECIPIENT_INFO_PARAM, 0, info.data(), &size);
        PCCERT_CONTEXT person = people->certs.Certificate(name, people->keys);
        ok = ok && person &&
             CertCompareCertificate(encoding, reinterpret_cast<CERT_INFO*>(info.data()),
                                    person->pCertInfo);
        if (person) CertFreeCertificateContext(person);
        if (msg) CryptMsgClose(msg);
        return ok;
    }

    // The simple names of a store's certificates in the store's own order.
    static std::vector<std::string> StoreOrder(const std::string& store) {
        std::vector<std::string> names;
        HCERTSTORE handle = tvtest::OpenUserStore(store);
        PCCERT_CONTEXT cert = nullptr;
        while (handle && (cert = CertEnumCertificatesInStore(handle, cert)) != nullptr) {
            char name[256] = {0};
            CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof name);
            names.push_back(name);
        }
        if (handle) CertCloseStore(handle, 0);
        return names;
    }

    static People* people;
    std::unique_ptr<tvtest::RegistryValues> settings;
    std::unique_ptr<tvtest::RegistryValues> ownCerts;
    std::string work;
};
People* MenuTest::people = nullptr;

// Runs a function on the thread that made the object, called from another
// thread through the messages that thread serves (as a host's window
// procedure would be called while a command pumps its messages).
class ThreadCall {
public:
    ThreadCall() {
        WNDCLASSA cls = {};
        cls.lpfnWndProc = &ThreadCall::Proc;
        cls.hInstance = GetModuleHandleA(nullptr);
        cls.lpszClassName = "TvMenuTestThreadCall";
        RegisterClassA(&cls);  // (once per program; later calls fail harmlessly)
        window_ = CreateWindowExA(0, cls.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  cls.hInstance, nullptr);
    }
    ~ThreadCall() {
        if (window_) DestroyWindow(window_);
    }
    ThreadCall(const ThreadCall&) = delete;
    ThreadCall& operator=(const ThreadCall&) = delete;
    // False when the thread did not take the call before the deadline.
    bool Run(std::function<void()>& call) {
        DWORD_PTR done = 0;
        return window_ &&
               SendMessageTimeoutA(window_, WM_APP, 0, reinterpret_cast<LPARAM>(&call),
                                   SMTO_NORMAL, tvtest::kWaitMs, &done) != 0 &&
               done == 1;
    }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != WM_APP) return DefWindowProcA(window, message, wParam, lParam);
        (*reinterpret_cast<std::function<void()>*>(lParam))();
        return 1;
    }
    HWND window_ = nullptr;
};

TEST_F(MenuTest, ThePopupStandsAtTheGivenPositionWithTheFiveOperations) {
    settings->Remove("pubstore");
    auto handler = NewHandler();
    ASSERT_TRUE(handler);
    ASSERT_EQ(Select(*handler, {Wide(work + "\\a.txt")}), S_OK);
    HMENU host = CreatePopupMenu();
    EXPECT_EQ(Build(*handler, host, 5, 3), 7);

    std::vector<Item> items = ReadMenu(host);
    ASSERT_EQ(items.size(), 7u);
    EXPECT_EQ(Texts(items), (std::vector<std::string>{"Host item 0", "Host item 1", "Host item 2",
                                                      "&Tarvisto", "", "Host item 3", "Host item 4"}));
    EXPECT_EQ(items[3].kind, "popup");
    EXPECT_TRUE(items[3].bitmap);
    EXPECT_EQ(items[4].kind, "separator");
    EXPECT_EQ(Texts(items[3].items), kOperations);
    for (size_t i = 0; i < items[3].items.size(); ++i) {
        EXPECT_EQ(items[3].items[i].id, kFirst + 1 + i);
        EXPECT_TRUE(items[3].items[i].bitmap) << items[3].items[i].text;
    }
    DestroyMenu(host);

    // A second build of the object shows the same pictures; they go with it.
    HBITMAP picture = items[3].picture;
    HMENU again = CreatePopupMenu();
    Build(*handler, again, 0, 0);
    EXPECT_EQ(ReadMenu(again)[0].picture, picture);
    DestroyMenu(again);
    EXPECT_EQ(GetObjectType(picture), static_cast<DWORD>(OBJ_BITMAP));

    // Only the default item asked for, or no room for the operations: nothing.
    for (auto [flags, last] : {std::pair<UINT, UINT>{CMF_DEFAULTONLY, 0x7FFF}, {CMF_NORMAL, kFirst + 4}}) {
        HMENU other = CreatePopupMenu();
        EXPECT_EQ(Build(*handler, other, 2, 0, flags, last), 0);
        EXPECT_EQ(GetMenuItemCount(other), 2);
        DestroyMenu(other);
    }
    handler.reset();
    EXPECT_EQ(GetObjectType(picture), 0u);
}

TEST_F(MenuTest, RecipientsOfThePublicStoreComeFirstAndACommandPacksForTheOneChosen) {
    auto handler = NewHandler();
    ASSERT_TRUE(handler);
    std::string file = work + "\\report.txt";
    WriteFileBytes(file, "for the second recipient");
    ASSERT_EQ(Select(*handler, {Wide(file)}), S_OK);
    HMENU host = CreatePopupMenu();
    EXPECT_EQ(Build(*handler, host, 0, 0), 10);
    std::vector<Item> tool = ReadMenu(host)[0].items;
    ASSERT_EQ(tool.size(), 6u);
    EXPECT_EQ(tool[0].text, "Digital E&nvelope for...");
    EXPECT_TRUE(tool[0].bitmap);
    std::vector<std::string> order = StoreOrder(people->pub);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(Texts(tool[0].items), order);
    EXPECT_EQ(tool[0].items[0].id, kFirst + 7);
    EXPECT_EQ(tool[0].items[1].id, kFirst + 8);

    // A later menu of another object over a store of one recipient does not
    // change what this one's entries stand for; nor does a query of this
    // object that adds nothing (only the default item asked for, or no room
    // for the operations).
    std::string otherStore = people->certs.NewStore("other");
    ASSERT_TRUE(people->certs.CopyPublic("Bob Menu", people->keys, otherStore));
    Set("pubstore", otherStore);
    auto later = NewHandler();
    HMENU laterHost = CreatePopupMenu();
    EXPECT_EQ(Build(*later, laterHost, 0, 0), 9);
    for (auto [flags, last] : {std::pair<UINT, UINT>{CMF_DEFAULTONLY, 0x7FFF}, {CMF_NORMAL, kFirst + 4}}) {
        HMENU nothing = CreatePopupMenu();
        EXPECT_EQ(Build(*handler, nothing, 0, 0, flags, last), 0);
        DestroyMenu(nothing);
    }
    Set("pubstore", people->pub);

    EXPECT_EQ(InvokeOffset(*handler, 8), S_OK);
    ASSERT_TRUE(Exists(file + ".sme"));
    EXPECT_TRUE(EnvelopeIsFor(file + ".sme", order[1]));
    EXPECT_FALSE(EnvelopeIsFor(file + ".sme", order[0]));
    DestroyMenu(host);
    DestroyMenu(laterHost);
}

// A second Initialize that arrives while a command of the object runs (the
// command serves the thread's messages meanwhile) takes the next selection;
// the running job goes on over the files it was started with.
TEST_F(MenuTest, ASelectionWhileACommandRunsLeavesTheRunningJobItsOwnFiles) {
    std::string stubPath = ExeDir() + "\\scriptedstatus.dll";
    HMODULE stub = LoadLibraryA(stubPath.c_str());  // keeps the script over the job's loading
    ASSERT_NE(stub, nullptr) << stubPath;
    auto reset = reinterpret_cast<void(WINAPI*)(const char*)>(
        GetProcAddress(stub, "ScriptedStatusReset"));
    auto log = reinterpret_cast<const char*(WINAPI*)()>(GetProcAddress(stub, "ScriptedStatusLog"));
    ASSERT_TRUE(reset && log);
    std::string hold = tvtest::UniqueName("menuhold");
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, (hold + "-held").c_str());
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, (hold + "-go").c_str());
    ASSERT_TRUE(held && go);
    // The first file's signature is there: the job asks whether to overwrite
    // it (Yes), and is held at that question.
    reset(("window=1;exist_default=0;hold=" + hold).c_str());
    Set("statusdll", stubPath);

    std::vector<std::wstring> first, second;
    for (const char* name : {"a.txt", "b.txt", "c.txt", "x.txt", "y.txt", "z.txt"}) {
        WriteFileBytes(work + "\\" + name, name);
        (name[0] < 'x' ? first : second).push_back(Wide(work + "\\" + name));
    }
    WriteFileBytes(work + "\\a.txt.sgn", "old signature");
    auto handler = NewHandler();
    ASSERT_TRUE(handler);
    ASSERT_EQ(Select(*handler, first), S_OK);
    HMENU host = CreatePopupMenu();
    Build(*handler, host, 0, 0);

    ThreadCall thread;
    HRESULT reselected = E_UNEXPECTED;
    std::function<void()> reselect = [&] { reselected = Select(*handler, second); };
    bool heldSeen = false, delivered = false;
    HRESULT result = tvtest::WhileDriving(
        [&] {
            heldSeen = WaitForSingleObject(held, tvtest::kWaitMs) == WAIT_OBJECT_0;
            if (heldSeen) delivered = thread.Run(reselect);
            SetEvent(go);
        },
        [&] { return Invoke(*handler, MAKEINTRESOURCEA(2)); });  // sign
    ASSERT_TRUE(heldSeen) << "the job never reached its question";
    ASSERT_TRUE(delivered) << "the command served no messages while its job ran";
    EXPECT_EQ(reselected, S_OK);
    EXPECT_EQ(result, S_OK);
    EXPECT_NE(tvtest::ReadFileBytes(work + "\\a.txt.sgn"), "old signature");
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        EXPECT_TRUE(Exists(work + "\\" + name + ".sgn")) << name << " of the running job\n" << log();
    for (const char* name : {"x.txt", "y.txt", "z.txt"})
        EXPECT_FALSE(Exists(work + "\\" + name + ".sgn")) << name << " of the later selection";

    // The next command runs over the later selection.
    EXPECT_EQ(InvokeOffset(*handler, 2), S_OK);
    for (const char* name : {"x.txt", "y.txt", "z.txt"})
        EXPECT_TRUE(Exists(work + "\\" + name + ".sgn")) << name;
    DestroyMenu(host);
    handler.reset();
    CloseHandle(held);
    CloseHandle(go);
    FreeLibrary(stub);
}

// Which certificates of the store are offered: keyless ones, own ones only
// with "showpkcs12", none out of its validity period or beyond 34 looked at.
TEST_F(MenuTest, TheListingTakesAtMost34CertificatesAndOffersOnlyUsableOnes) {
    tvtest::CertFixture& certs = people->certs;
    std::string scratch = certs.NewStore("scratch");
    std::string store = certs.NewStore("many");
    ASSERT_TRUE(certs.MakeDatedPerson("Expired Menu", scratch, -30, -1));
    ASSERT_TRUE(certs.MakeDatedPerson("Future Menu", scratch, 5, 30));
    ASSERT_TRUE(certs.CopyPublic("Expired Menu", scratch, store));
    ASSERT_TRUE(certs.CopyPublic("Future Menu", scratch, store));
    ASSERT_TRUE(certs.MakePerson("Own Menu", store, 512));  // with its key
    for (int i = 0; i < 37; ++i) {
        std::string name = "Person " + std::to_string(100 + i);
        ASSERT_TRUE(certs.MakePerson(name, scratch, 512));
        ASSERT_TRUE(certs.CopyPublic(name, scratch, store));
    }
    Set("pubstore", store);
    // The first 34 of the store's order are looked at; expired and future
    // ones are never offered, the own one only with "showpkcs12".
    std::vector<std::string> order = StoreOrder(store);
    ASSERT_EQ(order.size(), 40u);
    auto offered = [&](bool own) {
        std::vector<std::string> names;
        for (size_t i = 0; i < 34; ++i) {
            const std::string& name = order[i];
            if (name == "Expired Menu" || name == "Future Menu" || (name == "Own Menu" && !own)) continue;
            names.push_back(name);
        }
        return names;
    };

    struct Row {
        const char* showpkcs12;
        bool own;
    };
    for (Row row : {Row{"No", false}, Row{" yes ", true}}) {
        SCOPED_TRACE(row.showpkcs12);
        Set("showpkcs12", row.showpkcs12);
        auto handler = NewHandler();
        ASSERT_EQ(Select(*handler, {Wide(work + "\\a.txt")}), S_OK);
        HMENU host = CreatePopupMenu();
        std::vector<std::string> want = offered(row.own);
        EXPECT_EQ(Build(*handler, host, 0, 0), static_cast<int>(8 + want.size()));
        std::vector<Item> recipients = ReadMenu(host)[0].items[0].items;
        EXPECT_EQ(Texts(recipients), want);
        ASSERT_FALSE(recipients.empty());
        EXPECT_EQ(recipients.back().id, kFirst + 6 + want.size());
        DestroyMenu(host);
    }

    // A host range that ends early: no identifier beyond it.
    auto handler = NewHandler();
    HMENU host = CreatePopupMenu();
    Build(*handler, host, 0, 0, CMF_NORMAL, kFirst + 9);
    EXPECT_EQ(ReadMenu(host)[0].items[0].items.size(), 3u);
    DestroyMenu(host);
}

TEST_F(MenuTest, TheSelectionIsEveryPathOfTheLastInitializeAndAJobRunsOverAll) {
    auto handler = NewHandler();
    ASSERT_TRUE(handler);
    WriteFileBytes(work + "\\old.txt", "old");
    ASSERT_EQ(Select(*handler, {Wide(work + "\\old.txt")}), S_OK);
    std::vector<std::wstring> three;
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        WriteFileBytes(work + "\\" + name, name);
        three.push_back(Wide(work + "\\" + name));
    }
    ASSERT_EQ(Select(*handler, three), S_OK);
    HMENU host = CreatePopupMenu();
    Build(*handler, host, 0, 0);
    EXPECT_EQ(InvokeOffset(*handler, 2), S_OK);  // sign
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        EXPECT_TRUE(Exists(work + "\\" + name + ".sgn")) << name;
    }
    EXPECT_FALSE(Exists(work + "\\old.txt.sgn"));
    DestroyMenu(host);

    // Nothing to hand over: the selection is refused.
    auto none = NewHandler();
    EXPECT_EQ(none->init->Initialize(nullptr, nullptr, nullptr), E_FAIL);
}

// Commands that must not run a job: the box for what is invalid, a plain
// failure for offsets that stand for nothing.
TEST_F(MenuTest, InvalidCommandsAndSelectionsRunNoJob) {
    std::string file = work + "\\a.txt";
    WriteFileBytes(file, "a");
    auto handler = NewHandler();
    ASSERT_EQ(Select(*handler, {Wide(file)}), S_OK);
    HMENU host = CreatePopupMenu();
    Build(*handler, host, 0, 0);
    for (UINT offset : {0u, 6u, 9u, 41u}) {
        EXPECT_EQ(InvokeOffset(*handler, offset), E_FAIL) << offset;
    }
    EXPECT_EQ(handler->menu->InvokeCommand(nullptr), E_INVALIDARG);

    // A window of the progress window's class in another process never owns
    // the box.
    tvtest::ProgramProcess foreign(ExeDir() + "\\tv_foreignwindow.exe", "60000", "");
    ASSERT_TRUE(foreign.started());
    ASSERT_TRUE(tvtest::WaitUntil([] { return FindWindowA("TQXProgress", nullptr) != nullptr; }))
        << "the other process's window";
    Answered verb = InvokeAnsweringBox(*handler, "open");
    EXPECT_EQ(verb.result, E_FAIL);
    EXPECT_EQ(verb.box, "Internal Error! - (Invalid Arguments)");
    EXPECT_TRUE(verb.ownerInProcess);
    PostMessageA(FindWindowA("TQXProgress", nullptr), WM_CLOSE, 0, 0);
    EXPECT_EQ(foreign.Wait(tvtest::kWaitMs), 0);

    // Paths that cannot be taken exactly: 260 characters, and a name the ANSI
    // code page has no character for (a '?' in its place would be a wildcard).
    std::wstring longPath = Wide(work + "\\") + std::wstring(260, L'x');
    std::wstring unconvertible = Wide(work + "\\") + L"\x4e2d\x6587.txt";
    for (const std::wstring& path : {longPath, unconvertible}) {
        auto bad = NewHandler();
        ASSERT_EQ(Select(*bad, {Wide(file), path}), S_OK);
        HMENU menu = CreatePopupMenu();
        Build(*bad, menu, 0, 0);
        Answered seen = InvokeAnsweringBox(*bad, MAKEINTRESOURCEA(2));
        EXPECT_EQ(seen.result, E_FAIL);
        EXPECT_EQ(seen.box, "Internal Error! - (Invalid Arguments)");
        DestroyMenu(menu);
    }
    EXPECT_FALSE(Exists(file + ".sgn"));

    // No command has a verb or a help text: empty, in the width asked for.
    char ansi[8] = "x";
    wchar_t wide[8] = L"x";
    EXPECT_EQ(handler->menu->GetCommandString(2, GCS_VERBA, nullptr, ansi, 8), S_OK);
    EXPECT_EQ(handler->menu->GetCommandString(2, GCS_HELPTEXTW, nullptr,
                                              reinterpret_cast<LPSTR>(wide), 8), S_OK);
    EXPECT_EQ(ansi[0], 0);
    EXPECT_EQ(wide[0], 0);
    DestroyMenu(host);
}

TEST_F(MenuTest, TheModuleMayUnloadExactlyWhenNothingOfItLives) {
    Server& server = TheServer();
    EXPECT_EQ(server.canUnloadNow(), S_OK);
    Ref<IClassFactory> factory;
    ASSERT_EQ(server.getClassObject(CLSID_QXMenu, IID_IClassFactory, factory.out()), S_OK);
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);  // a held factory keeps it

    Ref<IUnknown> aggregate;
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory.get()), IID_IUnknown,
                                      aggregate.out()),
              CLASS_E_NOAGGREGATION);
    Ref<IShellExtInit> init;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, init.out()), S_OK);
    factory.reset();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);  // an object keeps it

    // Both interfaces are one object with one count.
    Ref<IContextMenu> menu;
    ASSERT_EQ(init->QueryInterface(IID_IContextMenu, menu.out()), S_OK);
    Ref<IUnknown> one, two;
    init->QueryInterface(IID_IUnknown, one.out());
    menu->QueryInterface(IID_IUnknown, two.out());
    EXPECT_EQ(one.get(), two.get());
    init.reset();
    one.reset();
    two.reset();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);
    menu.reset();
    EXPECT_EQ(server.canUnloadNow(), S_OK);

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(server.getClassObject(IID_IContextMenu, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(server.getClassObject(CLSID_QXMenu, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(MenuTest, TheFileEntryRunsTheJobOfTheExtension) {
    std::string file = work + "\\d.txt";
    WriteFileBytes(file, "to be decrypted");
    auto handler = NewHandler();
    ASSERT_EQ(Select(*handler, {Wide(file)}), S_OK);
    HMENU host = CreatePopupMenu();
    Build(*handler, host, 0, 0);
    ASSERT_EQ(InvokeOffset(*handler, 4), S_OK);  // encrypt
    DestroyMenu(host);
    ASSERT_TRUE(Exists(file + ".crp"));
    DeleteFileA(file.c_str());

    std::string crp = file + ".crp";
    EXPECT_EQ(tvtest::WhileDriving([] {}, [&] { return TheServer().fileJob(crp.c_str()); }), 1);
    EXPECT_EQ(tvtest::ReadFileBytes(file), "to be decrypted");
    EXPECT_EQ(TheServer().fileJob(nullptr), 0);
    std::string tooLong = work + "\\" + std::string(300, 'y') + ".crp";
    EXPECT_EQ(TheServer().fileJob(tooLong.c_str()), 0);
}

TEST(MenuClass, TheIdentifierAndItsRegistryTextAgree) {
    wchar_t text[64] = {0};
    ASSERT_GT(StringFromGUID2(CLSID_QXMenu, text, 64), 0);
    std::string lower;
    for (const wchar_t* c = text; *c; ++c) lower += static_cast<char>(towlower(*c));
    EXPECT_EQ(lower, QX_MENU_CLASS_TEXT);
}

}  // namespace
