// ShellHost: what a program needs that hands files to a context-menu handler
// the way the Explorer does (the host tool and the tests that load the
// handler into their own process): an interface owner and the selection as a
// data object serving CF_HDROP with wide paths.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "QXHandles.h"

namespace tvhost {

// A COM interface pointer, released once.
template <typename T>
class Ref {
public:
    Ref() = default;
    ~Ref() { reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    void** out() {
        reset();
        return reinterpret_cast<void**>(&ptr_);
    }
    void reset() {
        if (ptr_) ptr_->Release();
        ptr_ = nullptr;
    }

private:
    T* ptr_ = nullptr;
};

struct GlobalTraits {
    static HGLOBAL invalid() { return nullptr; }
    static bool close(HGLOBAL memory) { return GlobalFree(memory) == nullptr; }
};
using Global = qx::Owned<HGLOBAL, GlobalTraits>;

// CF_HDROP in an HGLOBAL: a DROPFILES with wide paths, each terminated, and
// one more terminator after the last.
HGLOBAL MakeDropList(const std::vector<std::wstring>& paths) {
    size_t chars = 1;
    for (const auto& path : paths) chars += path.size() + 1;
    size_t size = sizeof(DROPFILES) + chars * sizeof(wchar_t);
    Global memory(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size));
    if (!memory) return nullptr;
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory.get()));
    if (drop == nullptr) return nullptr;
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    auto* text = reinterpret_cast<wchar_t*>(reinterpret_cast<BYTE*>(drop) + sizeof(DROPFILES));
    for (const auto& path : paths) {
        memcpy(text, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        text += path.size() + 1;
    }
    *text = 0;
    GlobalUnlock(memory.get());
    return memory.release();
}

// A data object that serves the selection as CF_HDROP in an HGLOBAL and
// nothing else; each GetData hands out a fresh copy that the caller releases.
class DropData final : public IDataObject {
public:
    explicit DropData(std::vector<std::wstring> paths) : paths_(std::move(paths)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDataObject)) {
            *out = static_cast<IDataObject*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    // The host owns the object on its stack; the count only has to balance.
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&refs_); }

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        try {
            if (format == nullptr || medium == nullptr) return E_INVALIDARG;
            HRESULT offered = QueryGetData(format);
            if (offered != S_OK) return offered;
            HGLOBAL memory = MakeDropList(paths_);
            if (memory == nullptr) return E_OUTOFMEMORY;
            medium->tymed = TYMED_HGLOBAL;
            medium->hGlobal = memory;
            medium->pUnkForRelease = nullptr;
            return S_OK;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
        if (format == nullptr) return E_INVALIDARG;
        if (format->cfFormat != CF_HDROP) return DV_E_FORMATETC;
        if ((format->tymed & TYMED_HGLOBAL) == 0) return DV_E_TYMED;
        if (format->dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        if (out) out->ptd = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** out) override {
        if (out) *out = nullptr;
        return OLE_E_ADVISENOTSUPPORTED;
    }

private:
    std::vector<std::wstring> paths_;
    LONG refs_ = 1;
};

}  // namespace tvhost
