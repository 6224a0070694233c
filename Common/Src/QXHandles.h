// QXHandles: owners of the handles the system opens. Each owner is move-only
// and releases its handle exactly once, on every path; the traits of a kind
// give its invalid value and its release call.
//
//   qx::File file(CreateFileA(...));      // closed when `file` goes
//   if (!file) ...                        // INVALID_HANDLE_VALUE
//   WriteFile(file.get(), ...);
//   ok = file.close() && ok;              // a checked close, where it matters
//
// Releasing in the destructor or in reset() keeps the thread's last error (and
// errno), so that clean-up never changes what a failed step reported.
// The stdio owner is portable: the zip core is built for the host too.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>
#endif

namespace qx {

// Keeps the thread's error codes across a release.
class KeptError {
public:
    KeptError() : errno_(errno)
#ifdef _WIN32
        , code_(GetLastError())
#endif
    {}
    ~KeptError()
    {
        errno = errno_;
#ifdef _WIN32
        SetLastError(code_);
#endif
    }
    KeptError(const KeptError&) = delete;
    KeptError& operator=(const KeptError&) = delete;

private:
    int errno_;
#ifdef _WIN32
    DWORD code_;
#endif
};

// Traits: static T invalid(); static bool close(T) (true when released).
template <typename T, typename Traits>
class Owned {
public:
    Owned() = default;
    explicit Owned(T value) : value_(value) {}
    ~Owned() { reset(); }
    Owned(Owned&& other) noexcept : value_(other.release()) {}
    Owned& operator=(Owned&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    T get() const { return value_; }
    // For calls that hand a handle out through a pointer; a held one goes first.
    T* out()
    {
        reset();
        return &value_;
    }
    explicit operator bool() const { return value_ != Traits::invalid(); }
    // The handle is the caller's from now on.
    T release()
    {
        T held = value_;
        value_ = Traits::invalid();
        return held;
    }
    // Releases the held handle, keeping the thread's error codes, and takes
    // value; the handle it holds already is kept, not released.
    void reset(T value = Traits::invalid()) noexcept
    {
        if (value_ != Traits::invalid() && value_ != value) {
            KeptError kept;
            Traits::close(value_);
        }
        value_ = value;
    }
    // Releases the held handle now. False when the release itself failed; the
    // thread's error then is that of the release. Nothing held: true.
    bool close()
    {
        T held = release();
        return held == Traits::invalid() || Traits::close(held);
    }

private:
    T value_ = Traits::invalid();
};

struct StdFileTraits {
    static FILE* invalid() { return nullptr; }
    static bool close(FILE* f) { return fclose(f) == 0; }
};
using StdFile = Owned<FILE*, StdFileTraits>;

template <typename T>
struct MallocTraits {
    static T* invalid() { return nullptr; }
    static bool close(T* p)
    {
        free(p);
        return true;
    }
};

#ifdef _WIN32

// Memory from malloc, as the message calls hand it out.
using Memory = Owned<BYTE*, MallocTraits<BYTE>>;

template <typename T>
struct TaskMemoryTraits {
    static T* invalid() { return nullptr; }
    static bool close(T* p)
    {
        CoTaskMemFree(p);
        return true;
    }
};
// Memory from the COM task allocator, as the shell hands out its item lists:
//   qx::TaskMemory<ITEMIDLIST> chosen(SHBrowseForFolderA(&info));
template <typename T>
using TaskMemory = Owned<T*, TaskMemoryTraits<T>>;

// The calling thread's COM initialisation (CoInitialize), undone when the
// owner goes and only when it took (S_OK, or S_FALSE for a thread that had
// it already): a thread in another apartment is left as it was.
class ComInit {
public:
    ComInit() : result_(CoInitialize(nullptr)) {}
    ~ComInit()
    {
        if (SUCCEEDED(result_)) {
            KeptError kept;
            CoUninitialize();
        }
    }
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;

    explicit operator bool() const { return SUCCEEDED(result_); }
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

struct FileTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static bool close(HANDLE h) { return CloseHandle(h) != FALSE; }
};
// A file opened by CreateFile: INVALID_HANDLE_VALUE when none.
using File = Owned<HANDLE, FileTraits>;

struct KernelTraits {
    static HANDLE invalid() { return nullptr; }
    static bool close(HANDLE h) { return CloseHandle(h) != FALSE; }
};
// A process, thread or event handle: null when none.
using Kernel = Owned<HANDLE, KernelTraits>;

struct FindTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static bool close(HANDLE h) { return FindClose(h) != FALSE; }
};
// A listing opened by FindFirstFile.
using Find = Owned<HANDLE, FindTraits>;

struct RegKeyTraits {
    static HKEY invalid() { return nullptr; }
    static bool close(HKEY key)
    {
        // The registry returns its code without setting the thread's error.
        LONG rc = RegCloseKey(key);
        if (rc != ERROR_SUCCESS)
            SetLastError(static_cast<DWORD>(rc));
        return rc == ERROR_SUCCESS;
    }
};
using RegKey = Owned<HKEY, RegKeyTraits>;

struct ModuleTraits {
    static HMODULE invalid() { return nullptr; }
    static bool close(HMODULE module) { return FreeLibrary(module) != FALSE; }
};
// A library loaded by LoadLibrary. Not for a library whose windows may outlive
// its owner: their window procedure lives in it.
using Module = Owned<HMODULE, ModuleTraits>;

template <typename T>
struct GdiTraits {
    static T invalid() { return nullptr; }
    static bool close(T object) { return DeleteObject(object) != FALSE; }
};
// A font, brush, pen or bitmap made by this module (never a stock object).
template <typename T>
using Gdi = Owned<T, GdiTraits<T>>;
using Font = Gdi<HFONT>;
using Brush = Gdi<HBRUSH>;
using Bitmap = Gdi<HBITMAP>;
using Pen = Gdi<HPEN>;

struct MemoryDcTraits {
    static HDC invalid() { return nullptr; }
    static bool close(HDC dc) { return DeleteDC(dc) != FALSE; }
};
// A device context made by CreateCompatibleDC.
using MemoryDc = Owned<HDC, MemoryDcTraits>;

// A device context from GetDC(window), given back to the same window: the
// screen's (GetDC(nullptr)) has none.
//   qx::WindowDc dc(GetDC(window), window);
class WindowDc {
public:
    WindowDc() = default;
    explicit WindowDc(HDC dc, HWND window = nullptr) : window_(window), dc_(dc) {}
    ~WindowDc() { reset(); }
    WindowDc(WindowDc&& other) noexcept : window_(other.window_), dc_(other.release()) {}
    WindowDc& operator=(WindowDc&& other) noexcept
    {
        if (this != &other) {
            reset();
            window_ = other.window_;
            dc_ = other.release();
        }
        return *this;
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const { return dc_; }
    HWND window() const { return window_; }
    explicit operator bool() const { return dc_ != nullptr; }
    // The context is the caller's from now on.
    HDC release()
    {
        HDC held = dc_;
        dc_ = nullptr;
        return held;
    }
    // Gives the context back, keeping the thread's error codes.
    void reset() noexcept
    {
        if (dc_) {
            KeptError kept;
            ReleaseDC(window_, dc_);
        }
        dc_ = nullptr;
    }

private:
    HWND window_ = nullptr;
    HDC dc_ = nullptr;
};
// The screen's device context from GetDC(nullptr).
using ScreenDc = WindowDc;

struct ImageListTraits {
    static HIMAGELIST invalid() { return nullptr; }
    static bool close(HIMAGELIST list) { return ImageList_Destroy(list) != FALSE; }
};
using ImageList = Owned<HIMAGELIST, ImageListTraits>;

struct MenuTraits {
    static HMENU invalid() { return nullptr; }
    static bool close(HMENU menu) { return DestroyMenu(menu) != FALSE; }
};
// A menu made by this module that no window holds as its menu bar.
using Menu = Owned<HMENU, MenuTraits>;

struct AcceleratorTraits {
    static HACCEL invalid() { return nullptr; }
    static bool close(HACCEL table) { return DestroyAcceleratorTable(table) != FALSE; }
};
using Accelerators = Owned<HACCEL, AcceleratorTraits>;

struct IconTraits {
    static HICON invalid() { return nullptr; }
    static bool close(HICON icon) { return DestroyIcon(icon) != FALSE; }
};
// An icon made by this module (never a shared one from LoadIcon).
using Icon = Owned<HICON, IconTraits>;

// The storage medium that IDataObject::GetData fills, released once with
// ReleaseStgMedium (which frees its handle or calls its pUnkForRelease).
class StorageMedium {
public:
    StorageMedium() = default;
    ~StorageMedium() { reset(); }
    StorageMedium(StorageMedium&& other) noexcept : medium_(other.medium_)
    {
        other.medium_ = STGMEDIUM{};
    }
    StorageMedium& operator=(StorageMedium&& other) noexcept
    {
        if (this != &other) {
            reset();
            medium_ = other.medium_;
            other.medium_ = STGMEDIUM{};
        }
        return *this;
    }
    StorageMedium(const StorageMedium&) = delete;
    StorageMedium& operator=(const StorageMedium&) = delete;

    // GetData into this owner, a held medium going first; only a call that
    // succeeded leaves a medium to release.
    HRESULT Get(IDataObject* data, FORMATETC* format)
    {
        reset();
        HRESULT result = data->GetData(format, &medium_);
        if (FAILED(result))
            medium_ = STGMEDIUM{};
        return result;
    }
    const STGMEDIUM& get() const { return medium_; }
    // A medium with no storage may still hold its pUnkForRelease.
    explicit operator bool() const
    {
        return medium_.tymed != TYMED_NULL || medium_.pUnkForRelease != nullptr;
    }
    // Releases the held medium, keeping the thread's error codes.
    void reset() noexcept
    {
        if (*this) {
            KeptError kept;
            ReleaseStgMedium(&medium_);
        }
        medium_ = STGMEDIUM{};
    }

private:
    STGMEDIUM medium_ = {};
};

struct ProviderTraits {
    static HCRYPTPROV invalid() { return 0; }
    static bool close(HCRYPTPROV provider) { return CryptReleaseContext(provider, 0) != FALSE; }
};
using Provider = Owned<HCRYPTPROV, ProviderTraits>;

struct CryptKeyTraits {
    static HCRYPTKEY invalid() { return 0; }
    static bool close(HCRYPTKEY key) { return CryptDestroyKey(key) != FALSE; }
};
using CryptKey = Owned<HCRYPTKEY, CryptKeyTraits>;

struct CryptHashTraits {
    static HCRYPTHASH invalid() { return 0; }
    static bool close(HCRYPTHASH hash) { return CryptDestroyHash(hash) != FALSE; }
};
using CryptHash = Owned<HCRYPTHASH, CryptHashTraits>;

struct StoreTraits {
    static HCERTSTORE invalid() { return nullptr; }
    static bool close(HCERTSTORE store) { return CertCloseStore(store, 0) != FALSE; }
};
using Store = Owned<HCERTSTORE, StoreTraits>;

struct CertTraits {
    static PCCERT_CONTEXT invalid() { return nullptr; }
    static bool close(PCCERT_CONTEXT certificate)
    {
        return CertFreeCertificateContext(certificate) != FALSE;
    }
};
using Cert = Owned<PCCERT_CONTEXT, CertTraits>;

struct MsgTraits {
    static HCRYPTMSG invalid() { return nullptr; }
    static bool close(HCRYPTMSG msg) { return CryptMsgClose(msg) != FALSE; }
};
using Msg = Owned<HCRYPTMSG, MsgTraits>;

struct ChainTraits {
    static PCCERT_CHAIN_CONTEXT invalid() { return nullptr; }
    static bool close(PCCERT_CHAIN_CONTEXT chain)
    {
        CertFreeCertificateChain(chain);
        return true;
    }
};
// A chain built by CertGetCertificateChain.
using Chain = Owned<PCCERT_CHAIN_CONTEXT, ChainTraits>;

// A certificate store and the provider it was opened with (a store opened with
// CERT_STORE_NO_CRYPT_RELEASE_FLAG). The store must not outlive the provider:
// it is closed first, whichever way the owner goes.
class ProviderStore {
public:
    ProviderStore() = default;
    ProviderStore(HCERTSTORE store, HCRYPTPROV provider) : provider_(provider), store_(store) {}
    ProviderStore(ProviderStore&&) noexcept = default;
    ProviderStore& operator=(ProviderStore&& other) noexcept
    {
        if (this != &other) {
            reset();
            provider_ = std::move(other.provider_);
            store_ = std::move(other.store_);
        }
        return *this;
    }

    HCERTSTORE get() const { return store_.get(); }
    HCRYPTPROV provider() const { return provider_.get(); }
    explicit operator bool() const { return static_cast<bool>(store_); }
    // Closes the store, then releases the provider.
    void reset()
    {
        store_.reset();
        provider_.reset();
    }

private:
    // Members go in the reverse order of their declaration: the provider is
    // declared first so that it is released last.
    Provider provider_;
    Store store_;
};

#endif  // _WIN32

}  // namespace qx
