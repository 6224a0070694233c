// QXMenu: the Explorer's context-menu handler. CQXMenu takes the selection
// through IShellExtInit, adds the "&Tarvisto" popup with the five operations
// and the recipients of the public store through IContextMenu, and runs the
// chosen job inside the host's process through TQXOleThr.
//
// The object has two interface parts, XMenuExt (IContextMenu) and XShellInit
// (IShellExtInit), which share the object's one reference count. All methods
// run on the thread that created the object (apartment model); none lets an
// exception out.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <memory>

#include "QXHandles.h"
#include "QXOleThr.h"
#include "QXOperations.h"

// The command offsets of the menu (command identifier minus idCmdFirst) are
// the operations' own (QXOperations.h); the recipients of the envelope
// submenu follow from the first one on.
constexpr UINT QX_MENU_FIRST_RECIPIENT = FindOperation(OpPackEnvelope)->menuOffset;
// At most this many certificates of the public store are looked at per menu.
constexpr UINT QX_MENU_MAX_RECIPIENTS = 34;
constexpr UINT QX_MENU_LAST_OFFSET = QX_MENU_FIRST_RECIPIENT + QX_MENU_MAX_RECIPIENTS - 1;

// The pictures of the menu, scaled to the check-mark size. Made on the first
// menu build of an object and kept until the object goes: the menu shows them
// as long as the host keeps it.
class TQXMenuBitmaps {
public:
    bool Make(HWND window);
    // The scaled picture of a resource (100 to 106), or null.
    HBITMAP Get(int resource) const;

private:
    static constexpr int kFirst = 100;
    static constexpr int kCount = 7;
    qx::Gdi<HBITMAP> scaled_[kCount];
    bool made_ = false;
};

class CQXMenu {
public:
    CQXMenu();
    ~CQXMenu();
    CQXMenu(const CQXMenu&) = delete;
    CQXMenu& operator=(const CQXMenu&) = delete;

    // The object's own reference count, shared by both interface parts. The
    // object is created with a count of 1 for its creator.
    HRESULT ExternalQueryInterface(REFIID iid, void** object);
    ULONG ExternalAddRef();
    ULONG ExternalRelease();

    struct XMenuExt : public IContextMenu {
        explicit XMenuExt(CQXMenu* owner) : owner_(owner) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
        STDMETHODIMP QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst,
                                      UINT idCmdLast, UINT flags) override;
        STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
        STDMETHODIMP GetCommandString(UINT_PTR command, UINT flags, UINT* reserved,
                                      LPSTR name, UINT size) override;

    private:
        CQXMenu* owner_;
    };

    struct XShellInit : public IShellExtInit {
        explicit XShellInit(CQXMenu* owner) : owner_(owner) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
        STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY key) override;

    private:
        CQXMenu* owner_;
    };

    // The work behind the interface methods (exceptions are caught by the
    // methods that call these).
    HRESULT TakeSelection(IDataObject* data);
    HRESULT BuildMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT flags);
    HRESULT RunCommand(const CMINVOKECOMMANDINFO* info);
    // Adds the "Digital E&nvelope for..." submenu at `position` of the tool
    // popup when the public store holds a certificate to list; identifiers
    // are idBase + 1 + k for the k-th listed recipient, and none above
    // idCmdLast is used. Returns whether the submenu was made.
    bool BuildEnvelopeSubmenu(HMENU toolPopup, UINT position, UINT idBase, UINT idCmdLast);

    // Called when the count falls to zero: frees the file list, then the object.
    void OnFinalRelease();

    // The selection: (fileCount + 100) entries, the one after the last path
    // empty. Null until the first successful Initialize.
    std::unique_ptr<TQXSelFil[]> fileList;
    int fileCount;
    // False when a path of the selection could not be taken exactly (too
    // long, or not expressible in the ANSI code page); no command runs then.
    bool selectionValid;

    // The recipients of this object's last menu: the subject name of the
    // certificate whose entry has command offset o, at entry o.
    char recipientNameTable[QX_MENU_LAST_OFFSET + 1][256];
    // The items the last menu build inserted (its result).
    int insertedItems;

private:
    XMenuExt menuExt_;
    XShellInit shellInit_;
    std::atomic<ULONG> references_;
    TQXMenuBitmaps bitmaps_;
};

// The settings that the menu reads from the settings key.
bool ReadPublicStoreName(char* name);
bool ReadShowPkcs12Setting(bool* flag);
// A new bitmap of the menu check-mark size holding the source stretched to it.
HBITMAP ScaleMenuBitmap(HWND window, HBITMAP source, int width, int height);
