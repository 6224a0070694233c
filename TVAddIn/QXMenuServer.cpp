// QXMenuServer: class factory, module counts, registration and the exports.
#include "QXMenuServer.h"

#include <olectl.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "QXHandles.h"
#include "QXMenu.h"
#include "QXMenuClass.h"
#include "QXOleThr.h"
#include "QXTools.h"

namespace {

constexpr char kUnit[] = "QXtools";
constexpr int kFactoryLocation = 4201;
constexpr int kRegisterLocation = 4202;
constexpr int kFileJobLocation = 4203;

std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};
HMODULE thisModule = nullptr;

// The one factory of the module. It lives as long as the module; a reference
// to it counts as a lock, so that the module stays while a host holds it.
class CQXMenuFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        QXMenuServer::Lock();
        return 2;
    }
    STDMETHODIMP_(ULONG) Release() override {
        QXMenuServer::Unlock();
        return 1;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        return CatchAtBoundary(kUnit, kFactoryLocation, "CQXMenuFactory::CreateInstance",
                               E_FAIL, [outer, &iid, object]() -> HRESULT {
                                   if (object == nullptr) return E_POINTER;
                                   *object = nullptr;
                                   if (outer != nullptr) return CLASS_E_NOAGGREGATION;
                                   CQXMenu* menu = new (std::nothrow) CQXMenu();
                                   if (menu == nullptr) return E_OUTOFMEMORY;
                                   // The creator's reference goes once the
                                   // asked-for one is taken (or refused).
                                   HRESULT result = menu->ExternalQueryInterface(iid, object);
                                   menu->ExternalRelease();
                                   return result;
                               });
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            QXMenuServer::Lock();
        } else {
            QXMenuServer::Unlock();
        }
        return S_OK;
    }
};

CQXMenuFactory factory;

// One row of the class's registration: the default value of a key below
// HKEY_CLASSES_ROOT.
bool WriteClassRow(const char* key, const char* value) {
    qx::RegKey handle;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, handle.out(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExA(handle.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                          static_cast<DWORD>(strlen(value) + 1)) == ERROR_SUCCESS;
}

bool RegisterClassRows() {
    char modulePath[MAX_PATH + 1] = {0};
    DWORD length = GetModuleFileNameA(thisModule, modulePath, sizeof(modulePath));
    // A cut path would name another file.
    if (length == 0 || length >= MAX_PATH) return false;

    const char* classKey = "CLSID\\" QX_MENU_CLASS_TEXT;
    return WriteClassRow(classKey, QX_MENU_PROGID) &&
           WriteClassRow("CLSID\\" QX_MENU_CLASS_TEXT "\\InprocServer32", modulePath) &&
           WriteClassRow("CLSID\\" QX_MENU_CLASS_TEXT "\\ProgID", QX_MENU_PROGID) &&
           WriteClassRow(QX_MENU_PROGID, QX_MENU_PROGID) &&
           WriteClassRow(QX_MENU_PROGID "\\CLSID", QX_MENU_CLASS_TEXT);
}

}  // namespace

namespace QXMenuServer {

void ObjectCreated() { ++liveObjects; }
void ObjectDestroyed() { --liveObjects; }
void Lock() { ++serverLocks; }
void Unlock() { --serverLocks; }
bool CanUnload() { return liveObjects.load() == 0 && serverLocks.load() == 0; }

}  // namespace QXMenuServer

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        thisModule = instance;
        SetToolsUnitName("QXtools");
    }
    return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(classId, CLSID_QXMenu)) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, object);
}

HRESULT WINAPI DllCanUnloadNow() { return QXMenuServer::CanUnload() ? S_OK : S_FALSE; }

HRESULT WINAPI DllRegisterServer() {
    return CatchAtBoundary(kUnit, kRegisterLocation, "DllRegisterServer", SELFREG_E_CLASS,
                           []() -> HRESULT { return RegisterClassRows() ? S_OK : SELFREG_E_CLASS; });
}

int WINAPI DllQXCrypt(const char* path) {
    return CatchAtBoundary(kUnit, kFileJobLocation, "DllQXCrypt", 0, [path]() -> int {
        if (path == nullptr) return 0;
        // The entry holds 255 characters: a longer path is refused, never cut.
        if (strnlen(path, sizeof(TQXSelFil)) >= sizeof(TQXSelFil)) return 0;
        std::unique_ptr<TQXOleThr> job(new (std::nothrow) TQXOleThr());
        std::unique_ptr<TQXSelFil[]> list(new (std::nothrow) TQXSelFil[1]());
        if (job == nullptr || list == nullptr) return 0;
        CopyText(list[0], sizeof(TQXSelFil), path);
        return job->DoExecuteFile(1, list.get(), nullptr) ? 1 : 0;
    });
}

}  // extern "C"
