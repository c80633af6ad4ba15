// Connection-point plumbing without ATL: an IDispatch sink that forwards to a C++ handler, an
// RAII subscription, a self-clearing VARIANT and a reader for event arguments.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <functional>

#include "shared/win_handles.h"

namespace tovra::popup {

// A VARIANT that clears itself. Copies from a by-reference VARIANT take the referenced value.
class Variant {
public:
    Variant() { ::VariantInit(&v_); }
    explicit Variant(const VARIANT& src);
    Variant(const Variant& o) : Variant(o.v_) {}
    Variant(Variant&& o) noexcept : v_(o.v_) { ::VariantInit(&o.v_); }
    Variant& operator=(const Variant& o);
    Variant& operator=(Variant&& o) noexcept;
    ~Variant() { ::VariantClear(&v_); }

    static Variant Short(SHORT value);
    static Variant Long(LONG value);
    static Variant Float(float value);
    static Variant Bool(bool value);
    static Variant Dispatch(IDispatch* value);  // AddRefs

    const VARIANT& get() const { return v_; }
    VARIANT* put() { ::VariantClear(&v_); return &v_; }
    VARTYPE vt() const { return v_.vt; }

private:
    VARIANT v_;
};

// Conversions as an automation caller would make them; a value that does not convert reads as
// 0 / false. By-reference sources are followed.
SHORT VariantToShort(const VARIANT& v);
LONG VariantToLong(const VARIANT& v);
float VariantToFloat(const VARIANT& v);
bool VariantToBool(const VARIANT& v);
// The object a VT_DISPATCH (or VT_UNKNOWN, or a reference to either) carries; empty otherwise.
ComPtr<IDispatch> VariantToDispatch(const VARIANT& v);

// Positional arguments of an IDispatch call in declaration order (the caller stores them last to
// first). Named arguments are not used by the events we take.
class EventArgs {
public:
    explicit EventArgs(const DISPPARAMS* params) : params_(params) {}
    UINT count() const;
    // The i-th declared argument as passed (possibly VT_BYREF), or nullptr when it is missing.
    VARIANT* raw(UINT i) const;
    // The same, with a VT_BYREF|VT_VARIANT followed to the VARIANT it points at.
    VARIANT* value(UINT i) const;

private:
    const DISPPARAMS* params_;
};

// Writes a by-reference Boolean argument (VT_BYREF|VT_BOOL, or a VT_BYREF|VT_VARIANT holding
// one); false when the argument cannot take it.
bool SetByRefBool(VARIANT* arg, bool value);

// An event sink: answers QueryInterface for IUnknown, IDispatch and the event interface it was
// made for, and hands every Invoke to its handler. Disconnect() makes later calls do nothing,
// for sources that still hold the sink after its owner has gone.
class DispatchEventSink final : public IDispatch {
public:
    using Handler = std::function<HRESULT(DISPID id, const DISPPARAMS* params, VARIANT* result)>;
    static ComPtr<DispatchEventSink> Create(REFIID events, Handler handler);
    void Disconnect();

    // Sinks alive in this process, for leak checks.
    static long LiveCount();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override;

private:
    DispatchEventSink(REFIID events, Handler handler);
    ~DispatchEventSink();

    LONG refs_ = 1;
    IID events_;
    Handler handler_;
};

// One subscription of a sink to a source's connection point; ended by Disconnect or destruction.
class EventConnection {
public:
    EventConnection() = default;
    EventConnection(const EventConnection&) = delete;
    EventConnection& operator=(const EventConnection&) = delete;
    EventConnection(EventConnection&& o) noexcept;
    EventConnection& operator=(EventConnection&& o) noexcept;
    ~EventConnection() { Disconnect(); }

    // Finds the source's connection point for the event interface and advises the sink.
    HRESULT Connect(IUnknown* source, REFIID events, IUnknown* sink);
    void Disconnect();
    bool connected() const { return static_cast<bool>(point_); }

private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// COM identity: both pointers lead to the same object.
bool SameObject(IUnknown* a, IUnknown* b);

}  // namespace tovra::popup
