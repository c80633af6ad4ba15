#include "main/popup/com_events.h"

#include <atomic>
#include <utility>

namespace tovra::popup {

// ---- Variant ----------------------------------------------------------------------------------
Variant::Variant(const VARIANT& src) {
    ::VariantInit(&v_);
    if (FAILED(::VariantCopyInd(&v_, const_cast<VARIANT*>(&src)))) ::VariantInit(&v_);
}

Variant& Variant::operator=(const Variant& o) {
    if (this != &o) {
        Variant copy(o);
        std::swap(v_, copy.v_);
    }
    return *this;
}

Variant& Variant::operator=(Variant&& o) noexcept {
    if (this != &o) {
        ::VariantClear(&v_);
        v_ = o.v_;
        ::VariantInit(&o.v_);
    }
    return *this;
}

Variant Variant::Short(SHORT value) {
    Variant v;
    v.v_.vt = VT_I2;
    v.v_.iVal = value;
    return v;
}

Variant Variant::Long(LONG value) {
    Variant v;
    v.v_.vt = VT_I4;
    v.v_.lVal = value;
    return v;
}

Variant Variant::Float(float value) {
    Variant v;
    v.v_.vt = VT_R4;
    v.v_.fltVal = value;
    return v;
}

Variant Variant::Bool(bool value) {
    Variant v;
    v.v_.vt = VT_BOOL;
    v.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

Variant Variant::Dispatch(IDispatch* value) {
    Variant v;
    v.v_.vt = VT_DISPATCH;
    v.v_.pdispVal = value;
    if (value) value->AddRef();
    return v;
}

namespace {
// Converts a copy with the references followed; false when the value has no such form.
bool ConvertTo(const VARIANT& src, VARTYPE vt, Variant& out) {
    Variant direct(src);
    return SUCCEEDED(::VariantChangeType(out.put(), const_cast<VARIANT*>(&direct.get()), 0, vt));
}
}  // namespace

SHORT VariantToShort(const VARIANT& v) {
    Variant out;
    return ConvertTo(v, VT_I2, out) ? out.get().iVal : 0;
}

LONG VariantToLong(const VARIANT& v) {
    Variant out;
    return ConvertTo(v, VT_I4, out) ? out.get().lVal : 0;
}

float VariantToFloat(const VARIANT& v) {
    Variant out;
    return ConvertTo(v, VT_R4, out) ? out.get().fltVal : 0.0f;
}

bool VariantToBool(const VARIANT& v) {
    Variant out;
    return ConvertTo(v, VT_BOOL, out) && out.get().boolVal != VARIANT_FALSE;
}

ComPtr<IDispatch> VariantToDispatch(const VARIANT& v) {
    Variant direct(v);
    const VARIANT& d = direct.get();
    if (d.vt == VT_DISPATCH) return ComPtr<IDispatch>(d.pdispVal);
    if (d.vt == VT_UNKNOWN && d.punkVal) {
        ComPtr<IDispatch> disp;
        d.punkVal->QueryInterface(IID_IDispatch, disp.put_void());
        return disp;
    }
    return {};
}

// ---- EventArgs --------------------------------------------------------------------------------
UINT EventArgs::count() const {
    return params_ && params_->rgvarg ? params_->cArgs : 0;
}

VARIANT* EventArgs::raw(UINT i) const {
    const UINT n = count();
    if (i >= n) return nullptr;
    return &params_->rgvarg[n - 1 - i];
}

VARIANT* EventArgs::value(UINT i) const {
    VARIANT* v = raw(i);
    if (v && v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) return v->pvarVal;
    return v;
}

bool SetByRefBool(VARIANT* arg, bool value) {
    if (!arg) return false;
    const VARIANT_BOOL b = value ? VARIANT_TRUE : VARIANT_FALSE;
    if (arg->vt == (VT_BYREF | VT_BOOL) && arg->pboolVal) {
        *arg->pboolVal = b;
        return true;
    }
    if (arg->vt == (VT_BYREF | VT_VARIANT) && arg->pvarVal) {
        VARIANT* inner = arg->pvarVal;
        if (inner->vt == (VT_BYREF | VT_BOOL) && inner->pboolVal) {
            *inner->pboolVal = b;
            return true;
        }
        if (inner->vt == VT_BOOL) {
            inner->boolVal = b;
            return true;
        }
    }
    return false;
}

// ---- DispatchEventSink ------------------------------------------------------------------------
namespace {
std::atomic<long> g_liveSinks{0};
}

ComPtr<DispatchEventSink> DispatchEventSink::Create(REFIID events, Handler handler) {
    return ComPtr<DispatchEventSink>::Attach(new DispatchEventSink(events, std::move(handler)));
}

DispatchEventSink::DispatchEventSink(REFIID events, Handler handler)
    : events_(events), handler_(std::move(handler)) {
    ++g_liveSinks;
}

DispatchEventSink::~DispatchEventSink() { --g_liveSinks; }

long DispatchEventSink::LiveCount() { return g_liveSinks.load(); }

void DispatchEventSink::Disconnect() { handler_ = nullptr; }

STDMETHODIMP DispatchEventSink::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, events_)) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) DispatchEventSink::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) DispatchEventSink::Release() {
    const LONG n = ::InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

STDMETHODIMP DispatchEventSink::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

STDMETHODIMP DispatchEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo) *ppTInfo = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP DispatchEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

STDMETHODIMP DispatchEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                       EXCEPINFO*, UINT*) {
    // The handler may end the subscription (and so the source's reference to us, and the owner
    // that holds the handler): keep both alive until the call is over.
    ComPtr<DispatchEventSink> self(this);
    Handler handler = handler_;
    if (!handler) return S_OK;
    try {
        return handler(id, params, result);
    } catch (...) {
        // Nothing may unwind into the event source.
        return S_OK;
    }
}

// ---- EventConnection --------------------------------------------------------------------------
EventConnection::EventConnection(EventConnection&& o) noexcept
    : point_(std::move(o.point_)), cookie_(std::exchange(o.cookie_, 0)) {}

EventConnection& EventConnection::operator=(EventConnection&& o) noexcept {
    if (this != &o) {
        Disconnect();
        point_ = std::move(o.point_);
        cookie_ = std::exchange(o.cookie_, 0);
    }
    return *this;
}

HRESULT EventConnection::Connect(IUnknown* source, REFIID events, IUnknown* sink) {
    Disconnect();
    if (!source || !sink) return E_POINTER;
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.put_void());
    if (FAILED(hr) || !container) return FAILED(hr) ? hr : E_NOINTERFACE;
    ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(events, point.put());
    if (FAILED(hr) || !point) return FAILED(hr) ? hr : E_NOINTERFACE;
    DWORD cookie = 0;
    hr = point->Advise(sink, &cookie);
    if (FAILED(hr)) return hr;
    point_ = std::move(point);
    cookie_ = cookie;
    return S_OK;
}

void EventConnection::Disconnect() {
    // Cleared before the call: Unadvise may let events in that end up here again.
    ComPtr<IConnectionPoint> point = std::move(point_);
    const DWORD cookie = std::exchange(cookie_, 0);
    if (point) point->Unadvise(cookie);
}

bool SameObject(IUnknown* a, IUnknown* b) {
    if (!a || !b) return false;
    ComPtr<IUnknown> ua, ub;
    a->QueryInterface(IID_IUnknown, ua.put_void());
    b->QueryInterface(IID_IUnknown, ub.put_void());
    return ua && ua.get() == ub.get();
}

}  // namespace tovra::popup
