// QXMenu: the "&Tarvisto" context menu and the jobs it starts.
#include "QXMenu.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "CryptAPI.h"
#include "QXMenuServer.h"
#include "QXProgressWindow.h"
#include "QXReg.h"
#include "QXTools.h"
#include "QXVersion.h"

namespace {

constexpr char kUnit[] = "QXtools";
constexpr int kInitializeLocation = 4101;
constexpr int kQueryLocation = 4102;
constexpr int kInvokeLocation = 4103;
constexpr int kCommandStringLocation = 4104;

// The picture of the "&Tarvisto" popup; the operations have their own.
constexpr int kBitmapTarvisto = 104;

// The operations with an entry of their own in the popup, in the table's
// order; the envelope has a submenu of recipients instead.
constexpr bool OnPopup(const OperationTraits& operation) {
    return operation.menuText != nullptr && !operation.takesRecipient;
}

constexpr UINT LastPopupOffset() {
    UINT last = 0;
    for (const OperationTraits& operation : kOperationTable)
        if (OnPopup(operation) && operation.menuOffset > last) last = operation.menuOffset;
    return last;
}
constexpr UINT kLastPopupOffset = LastPopupOffset();
static_assert(kLastPopupOffset < QX_MENU_FIRST_RECIPIENT, "the recipients follow the operations");

// The operation of a popup entry's offset; null for any other offset.
const OperationTraits* PopupOperation(UINT offset) {
    for (const OperationTraits& operation : kOperationTable)
        if (OnPopup(operation) && operation.menuOffset == offset) return &operation;
    return nullptr;
}

// The envelope's submenu and its picture.
constexpr const OperationTraits& kEnvelope = *FindOperation(OpPackEnvelope);

// The box is owned by the progress window of a job of this process, if one is
// open: a window in another process must never own it, its thread would be
// tied to ours.
void ShowInvalidArguments() {
    MessageBoxA(FindProgressWindowOfProcess(), QX_INVALID_ARGUMENTS, QX_CAPTION_VERSION, MB_ICONERROR);
}

// The path of a drop list as ANSI text of at most 255 characters, exactly: no
// character may be cut, replaced by a default character or mapped to a
// look-alike (a '?' would be a wildcard to the tree walk, a cut or mapped
// name could name another file).
bool FetchDroppedPath(HDROP drop, UINT index, TQXSelFil entry) {
    UINT length = DragQueryFileW(drop, index, nullptr, 0);
    if (length == 0 || length >= sizeof(TQXSelFil)) return false;
    wchar_t wide[sizeof(TQXSelFil)] = {0};
    if (DragQueryFileW(drop, index, wide, length + 1) != length) return false;
    BOOL usedDefault = FALSE;
    int written = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, static_cast<int>(length),
                                      entry, sizeof(TQXSelFil) - 1, nullptr, &usedDefault);
    if (written <= 0 || usedDefault) {
        memset(entry, 0, sizeof(TQXSelFil));
        return false;
    }
    entry[written] = 0;
    // The reverse conversion must give the same text back.
    wchar_t back[sizeof(TQXSelFil)] = {0};
    int read = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, entry, written, back,
                                   sizeof(TQXSelFil) - 1);
    if (read != static_cast<int>(length) || wmemcmp(back, wide, length) != 0) {
        memset(entry, 0, sizeof(TQXSelFil));
        return false;
    }
    return true;
}

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

}  // namespace

// ---------------------------------------------------------------------------
// Settings and pictures

bool ReadPublicStoreName(char* name) {
    if (name == nullptr) return false;
    char key[256];
    if (!BuildRegKeyPath(key, QX_REG_SETTINGS)) {
        name[0] = 0;
        return false;
    }
    return ReadRegString(HKEY_CURRENT_USER, key, "pubstore", name);
}

bool ReadShowPkcs12Setting(bool* flag) {
    if (flag == nullptr) return false;
    *flag = false;
    return ReadRegSwitch("showpkcs12", flag);
}

HBITMAP ScaleMenuBitmap(HWND window, HBITMAP source, int width, int height) {
    if (source == nullptr) return nullptr;
    LONG dimensions = GetMenuCheckMarkDimensions();
    int targetWidth = LOWORD(dimensions);
    int targetHeight = HIWORD(dimensions);
    qx::WindowDc screen(GetDC(window), window);
    if (screen.get() == nullptr) return nullptr;
    qx::MemoryDc from(CreateCompatibleDC(screen.get()));
    qx::MemoryDc to(CreateCompatibleDC(screen.get()));
    if (!from || !to) return nullptr;
    qx::Gdi<HBITMAP> scaled(CreateCompatibleBitmap(screen.get(), targetWidth, targetHeight));
    if (!scaled) return nullptr;
    HGDIOBJ fromBefore = SelectObject(from.get(), source);
    HGDIOBJ toBefore = SelectObject(to.get(), scaled.get());
    bool drawn = fromBefore != nullptr && toBefore != nullptr;
    if (drawn) {
        SetStretchBltMode(to.get(), COLORONCOLOR);
        drawn = StretchBlt(to.get(), 0, 0, targetWidth, targetHeight, from.get(), 0, 0, width,
                           height, SRCCOPY) != FALSE;
    }
    // Both bitmaps leave their contexts before the contexts go.
    if (fromBefore != nullptr) SelectObject(from.get(), fromBefore);
    if (toBefore != nullptr) SelectObject(to.get(), toBefore);
    return drawn ? scaled.release() : nullptr;
}

bool TQXMenuBitmaps::Make(HWND window) {
    if (made_) return true;
    HMODULE module = ThisModule();
    bool all = true;
    for (int i = 0; i < kCount; ++i) {
        int resource = kFirst + i;
        int size = resource == kBitmapTarvisto ? 32 : 16;
        // The loaded picture is only the source of the scaled one.
        qx::Gdi<HBITMAP> loaded(LoadBitmapA(module, MAKEINTRESOURCEA(resource)));
        scaled_[i].reset(ScaleMenuBitmap(window, loaded.get(), size, size));
        all = all && static_cast<bool>(scaled_[i]);
    }
    made_ = true;
    return all;
}

HBITMAP TQXMenuBitmaps::Get(int resource) const {
    if (!made_ || resource < kFirst || resource >= kFirst + kCount) return nullptr;
    return scaled_[resource - kFirst].get();
}

// ---------------------------------------------------------------------------
// The object and its reference count

CQXMenu::CQXMenu()
    : fileCount(0),
      selectionValid(true),
      insertedItems(0),
      menuExt_(this),
      shellInit_(this),
      references_(1) {
    memset(recipientNameTable, 0, sizeof(recipientNameTable));
    QXMenuServer::ObjectCreated();
}

CQXMenu::~CQXMenu() {
    QXMenuServer::ObjectDestroyed();
}

HRESULT CQXMenu::ExternalQueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IContextMenu)) {
        *object = static_cast<IContextMenu*>(&menuExt_);
    } else if (IsEqualIID(iid, IID_IShellExtInit)) {
        *object = static_cast<IShellExtInit*>(&shellInit_);
    } else {
        return E_NOINTERFACE;
    }
    ExternalAddRef();
    return S_OK;
}

ULONG CQXMenu::ExternalAddRef() { return ++references_; }

ULONG CQXMenu::ExternalRelease() {
    ULONG left = --references_;
    if (left == 0) OnFinalRelease();
    return left;
}

void CQXMenu::OnFinalRelease() {
    fileList.reset();
    fileCount = 0;
    delete this;
}

// Both parts forward to the object.
STDMETHODIMP CQXMenu::XMenuExt::QueryInterface(REFIID iid, void** object) {
    return owner_->ExternalQueryInterface(iid, object);
}
STDMETHODIMP_(ULONG) CQXMenu::XMenuExt::AddRef() { return owner_->ExternalAddRef(); }
STDMETHODIMP_(ULONG) CQXMenu::XMenuExt::Release() { return owner_->ExternalRelease(); }

STDMETHODIMP CQXMenu::XShellInit::QueryInterface(REFIID iid, void** object) {
    return owner_->ExternalQueryInterface(iid, object);
}
STDMETHODIMP_(ULONG) CQXMenu::XShellInit::AddRef() { return owner_->ExternalAddRef(); }
STDMETHODIMP_(ULONG) CQXMenu::XShellInit::Release() { return owner_->ExternalRelease(); }

// ---------------------------------------------------------------------------
// IShellExtInit

STDMETHODIMP CQXMenu::XShellInit::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) {
    CQXMenu* menu = owner_;
    return CatchAtBoundary(kUnit, kInitializeLocation, "CQXMenu::XShellInit::Initialize",
                           E_FAIL, [menu, data] { return menu->TakeSelection(data); });
}

HRESULT CQXMenu::TakeSelection(IDataObject* data) {
    if (data == nullptr) return E_FAIL;
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    qx::StorageMedium medium;
    if (FAILED(medium.Get(data, &format))) return E_FAIL;
    if (medium.get().tymed != TYMED_HGLOBAL || medium.get().hGlobal == nullptr) {
        return E_FAIL;
    }
    HDROP drop = static_cast<HDROP>(medium.get().hGlobal);
    UINT dropped = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);

    fileList.reset();
    fileCount = 0;
    selectionValid = true;
    if (dropped == 0 || dropped > 0x7FFFFFFF - 100) return E_FAIL;

    // Room for every path and an empty entry after the last one.
    fileList.reset(new (std::nothrow) TQXSelFil[dropped + 100]());
    if (!fileList) return E_FAIL;
    fileCount = static_cast<int>(dropped);
    for (UINT i = 0; i < dropped; ++i) {
        if (!FetchDroppedPath(drop, i, fileList[i])) selectionValid = false;
    }
    return S_OK;
}

// ---------------------------------------------------------------------------
// IContextMenu

STDMETHODIMP CQXMenu::XMenuExt::QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst,
                                                 UINT idCmdLast, UINT flags) {
    CQXMenu* object = owner_;
    return CatchAtBoundary(kUnit, kQueryLocation, "CQXMenu::XMenuExt::QueryContextMenu",
                           E_FAIL, [=] {
                               return object->BuildMenu(menu, indexMenu, idCmdFirst, idCmdLast,
                                                        flags);
                           });
}

HRESULT CQXMenu::BuildMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                           UINT flags) {
    insertedItems = 0;
    // Only the default item is asked for, or there is no room for the five
    // operations: nothing is added, and the recipients of the menu built
    // before (which may be the one on screen) stay.
    if ((flags & CMF_DEFAULTONLY) != 0 || !IsMenu(menu) || idCmdLast < idCmdFirst ||
        idCmdLast - idCmdFirst < kLastPopupOffset) {
        return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 0);
    }
    memset(recipientNameTable, 0, sizeof(recipientNameTable));

    HMENU toolPopup = CreatePopupMenu();
    if (toolPopup == nullptr) return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 0);
    if (!InsertMenuA(menu, indexMenu, MF_BYPOSITION | MF_SEPARATOR, 0, "")) {
        DestroyMenu(toolPopup);
        return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 0);
    }
    ++insertedItems;

    bitmaps_.Make(GetActiveWindow());

    if (!InsertMenuA(menu, indexMenu, MF_BYPOSITION | MF_POPUP | MF_STRING,
                     reinterpret_cast<UINT_PTR>(toolPopup), "&Tarvisto")) {
        DestroyMenu(toolPopup);
        return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, insertedItems);
    }
    ++insertedItems;
    for (const OperationTraits& command : kOperationTable) {
        if (!OnPopup(command)) continue;
        AppendMenuA(toolPopup, MF_STRING, idCmdFirst + command.menuOffset, command.menuText);
        ++insertedItems;
    }

    bool envelope = BuildEnvelopeSubmenu(toolPopup, 0, idCmdFirst + QX_MENU_FIRST_RECIPIENT - 1,
                                         idCmdLast);

    HBITMAP tarvisto = bitmaps_.Get(kBitmapTarvisto);
    SetMenuItemBitmaps(menu, indexMenu, MF_BYPOSITION, tarvisto, tarvisto);
    UINT position = 0;
    if (envelope) {
        HBITMAP picture = bitmaps_.Get(kEnvelope.menuPicture);
        SetMenuItemBitmaps(toolPopup, position++, MF_BYPOSITION, picture, picture);
    }
    for (const OperationTraits& command : kOperationTable) {
        if (!OnPopup(command)) continue;
        HBITMAP picture = bitmaps_.Get(command.menuPicture);
        SetMenuItemBitmaps(toolPopup, position++, MF_BYPOSITION, picture, picture);
    }

    if (envelope) ++insertedItems;
    return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, insertedItems);
}

bool CQXMenu::BuildEnvelopeSubmenu(HMENU toolPopup, UINT position, UINT idBase, UINT idCmdLast) {
    memset(recipientNameTable, 0, sizeof(recipientNameTable));
    char storeName[256] = {0};
    if (!ReadPublicStoreName(storeName)) return false;

    TQXCrypt crypt;
    qx::ProviderStore opened = OpenWithProvider(crypt, storeName);
    if (!opened) return false;
    HCERTSTORE store = opened.get();

    HMENU envelope = nullptr;
    UINT listed = 0;
    CertificateInfo info = {};
    PCCERT_CONTEXT previous = nullptr;
    for (UINT seen = 0; seen < QX_MENU_MAX_RECIPIENTS &&
                        crypt.GetNextCertificate(store, previous, &info);
         ++seen) {
        previous = info.certificate;
        UINT offset = QX_MENU_FIRST_RECIPIENT + listed;
        UINT id = idBase + 1 + listed;
        // No identifier beyond the host's range.
        if (id < idBase || id > idCmdLast) break;

        bool showOwn = false;
        ReadShowPkcs12Setting(&showOwn);
        if (crypt.HasPrivateKey(info.certificate) && !showOwn) continue;
        // A recipient whose certificate is out of its validity period, or
        // whose subject reads empty, is not offered.
        if (!crypt.IsTimeValid(info.certificate) || info.subject[0] == 0) continue;

        if (envelope == nullptr) {
            envelope = CreatePopupMenu();
            if (envelope == nullptr) break;
            if (!InsertMenuA(toolPopup, position, MF_BYPOSITION | MF_POPUP | MF_STRING,
                             reinterpret_cast<UINT_PTR>(envelope), kEnvelope.menuText)) {
                DestroyMenu(envelope);
                envelope = nullptr;
                break;
            }
        }
        if (!AppendMenuA(envelope, MF_STRING, id, info.subject)) break;
        CopyText(recipientNameTable[offset], sizeof(recipientNameTable[offset]), info.subject);
        ++listed;
        ++insertedItems;
    }
    // A walk stopped before its end still holds its last certificate; it goes
    // before the store and its provider.
    crypt.FreeCertificate(info.certificate);
    opened.reset();
    return envelope != nullptr;
}

STDMETHODIMP CQXMenu::XMenuExt::InvokeCommand(CMINVOKECOMMANDINFO* info) {
    CQXMenu* object = owner_;
    return CatchAtBoundary(kUnit, kInvokeLocation, "CQXMenu::XMenuExt::InvokeCommand", E_FAIL,
                           [object, info] { return object->RunCommand(info); });
}

HRESULT CQXMenu::RunCommand(const CMINVOKECOMMANDINFO* info) {
    if (info == nullptr) return E_INVALIDARG;
    // A verb is a command offset only as a value that fits 16 bits; anything
    // larger is a pointer to a verb string, which no command of ours has.
    UINT_PTR verb = reinterpret_cast<UINT_PTR>(info->lpVerb);
    if (verb > 0xFFFF || !selectionValid) {
        ShowInvalidArguments();
        return E_FAIL;
    }
    UINT offset = static_cast<UINT>(verb);
    uint32_t op = 0;
    const char* recipient = nullptr;
    if (const OperationTraits* command = PopupOperation(offset)) {
        op = command->kind;
        recipient = recipientNameTable[offset];  // always empty
    } else if (offset >= QX_MENU_FIRST_RECIPIENT && offset <= QX_MENU_LAST_OFFSET &&
               recipientNameTable[offset][0] != 0) {
        op = OpPackEnvelope;
        recipient = recipientNameTable[offset];
    } else {
        return E_FAIL;
    }

    // The host may release us while the job runs (its messages are served
    // meanwhile): the object stays until the job has ended.
    ExternalAddRef();
    struct Hold {
        CQXMenu* object;
        ~Hold() { object->ExternalRelease(); }
    } hold{this};

    // The job runs over a copy of the selection: a later Initialize of this
    // object, which may come while the job runs, replaces the object's list,
    // never the one under the job.
    std::unique_ptr<TQXSelFil[]> files;
    if (fileList != nullptr && fileCount > 0) {
        size_t count = static_cast<size_t>(fileCount);
        files.reset(new (std::nothrow) TQXSelFil[count + 1]());
        if (!files) return E_FAIL;
        memcpy(files.get(), fileList.get(), count * sizeof(TQXSelFil));
    }

    std::unique_ptr<TQXOleThr> job(new (std::nothrow) TQXOleThr());
    if (!job) return E_FAIL;
    bool started = job->DoExecuteTarvisto(op, static_cast<uint32_t>(fileCount), files.get(),
                                          recipient);
    return started ? S_OK : E_FAIL;
}

STDMETHODIMP CQXMenu::XMenuExt::GetCommandString(UINT_PTR, UINT flags, UINT*, LPSTR name,
                                                 UINT size) {
    // No command has a verb or a help text: an asked-for text is empty, in
    // the width the caller asked for.
    return CatchAtBoundary(kUnit, kCommandStringLocation, "CQXMenu::XMenuExt::GetCommandString",
                           E_FAIL, [flags, name, size] {
                               bool validate = (flags & ~GCS_UNICODE) == GCS_VALIDATEA;
                               if (!validate && name != nullptr && size > 0) {
                                   if ((flags & GCS_UNICODE) != 0) {
                                       reinterpret_cast<wchar_t*>(name)[0] = 0;
                                   } else {
                                       name[0] = 0;
                                   }
                               }
                               return S_OK;
                           });
}
