// Small RAII owners for the Win32 handle kinds the suite uses.
#pragma once
// Winsock 2 before <windows.h>, as it wants; the suite builds lean, so windows.h brings no winsock.h.
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <ole2.h>
#include <utility>

namespace tovra {

// Owns a kernel handle; NULL and INVALID_HANDLE_VALUE both mean "none".
template <typename Traits>
class UniqueHandleT {
public:
    using handle_type = typename Traits::handle_type;
    UniqueHandleT() = default;
    explicit UniqueHandleT(handle_type h) : h_(h) {}
    UniqueHandleT(const UniqueHandleT&) = delete;
    UniqueHandleT& operator=(const UniqueHandleT&) = delete;
    UniqueHandleT(UniqueHandleT&& o) noexcept : h_(std::exchange(o.h_, Traits::invalid())) {}
    UniqueHandleT& operator=(UniqueHandleT&& o) noexcept {
        if (this != &o) reset(std::exchange(o.h_, Traits::invalid()));
        return *this;
    }
    ~UniqueHandleT() { reset(); }

    handle_type get() const { return h_; }
    bool valid() const { return Traits::valid(h_); }
    explicit operator bool() const { return valid(); }
    handle_type release() { return std::exchange(h_, Traits::invalid()); }
    void reset(handle_type h = Traits::invalid()) {
        if (Traits::valid(h_)) Traits::close(h_);
        h_ = h;
    }
    handle_type* put() { reset(); return &h_; }

private:
    handle_type h_ = Traits::invalid();
};

struct KernelHandleTraits {
    using handle_type = HANDLE;
    static HANDLE invalid() { return nullptr; }
    static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { ::CloseHandle(h); }
};
struct FindHandleTraits {
    using handle_type = HANDLE;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { ::FindClose(h); }
};
struct RegKeyTraits {
    using handle_type = HKEY;
    static HKEY invalid() { return nullptr; }
    static bool valid(HKEY h) { return h != nullptr; }
    static void close(HKEY h) { ::RegCloseKey(h); }
};
// Typed, so that a font or a brush comes back as what it is.
template <typename T>
struct GdiTraits {
    using handle_type = T;
    static T invalid() { return nullptr; }
    static bool valid(T h) { return h != nullptr; }
    static void close(T h) { ::DeleteObject(h); }
};
using GdiObjectTraits = GdiTraits<HGDIOBJ>;
// A library loaded at run time; a module that must stay loaded is released on purpose.
struct ModuleTraits {
    using handle_type = HMODULE;
    static HMODULE invalid() { return nullptr; }
    static bool valid(HMODULE h) { return h != nullptr; }
    static void close(HMODULE h) { ::FreeLibrary(h); }
};
// 0 is a valid socket; only INVALID_SOCKET means "none".
struct SocketTraits {
    using handle_type = SOCKET;
    static SOCKET invalid() { return INVALID_SOCKET; }
    static bool valid(SOCKET s) { return s != INVALID_SOCKET; }
    static void close(SOCKET s) { ::closesocket(s); }
};

using UniqueHandle = UniqueHandleT<KernelHandleTraits>;
using UniqueFind = UniqueHandleT<FindHandleTraits>;
using UniqueKey = UniqueHandleT<RegKeyTraits>;
using UniqueGdiObject = UniqueHandleT<GdiObjectTraits>;
using UniqueFont = UniqueHandleT<GdiTraits<HFONT>>;
using UniqueBrush = UniqueHandleT<GdiTraits<HBRUSH>>;
using UniqueModule = UniqueHandleT<ModuleTraits>;
using UniqueSocket = UniqueHandleT<SocketTraits>;

// Counted COM pointer: AddRef/Release live here and nowhere else.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(const ComPtr& o) { ComPtr(o).swap(*this); return *this; }
    ComPtr& operator=(ComPtr&& o) noexcept { ComPtr(std::move(o)).swap(*this); return *this; }
    ~ComPtr() { reset(); }

    static ComPtr Attach(T* p) { ComPtr c; c.p_ = p; return c; }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() { if (p_) std::exchange(p_, nullptr)->Release(); }
    T** put() { reset(); return &p_; }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    T* detach() { return std::exchange(p_, nullptr); }
    void swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

    template <typename U>
    ComPtr<U> As(REFIID iid) const {
        ComPtr<U> out;
        if (p_) p_->QueryInterface(iid, out.put_void());
        return out;
    }

private:
    T* p_ = nullptr;
};

// Initialises COM on this thread for the scope; balanced only if it succeeded. The OLE flavour
// (OleInitialize: a single-threaded apartment plus drag and drop, the clipboard and in-place
// activation, which a hosted browser control needs) is balanced by OleUninitialize.
class ComScope {
public:
    enum Flavour { Com, Ole };
    explicit ComScope(DWORD model = COINIT_APARTMENTTHREADED)
        : flavour_(Com), hr_(::CoInitializeEx(nullptr, model)) {}
    explicit ComScope(Flavour flavour)
        : flavour_(flavour),
          hr_(flavour == Ole ? ::OleInitialize(nullptr) : ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (FAILED(hr_)) return;
        if (flavour_ == Ole) ::OleUninitialize();
        else ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    HRESULT result() const { return hr_; }
    bool ok() const { return SUCCEEDED(hr_); }

private:
    Flavour flavour_;
    HRESULT hr_;
};

}  // namespace tovra
