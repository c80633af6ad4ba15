#include "main/popup/tests/fakes.h"

#include <exdispid.h>
#include <mshtmdid.h>
#include <olectl.h>

#include <algorithm>

namespace tovra::popup::test {

const IID kDWebBrowserEvents2 = {0x34a715a0, 0x6587, 0x11d0, {0x92, 0x4a, 0x00, 0x20, 0xaf, 0xc7, 0xac, 0x4d}};
const IID kHTMLDocumentEvents = {0x3050f260, 0x98b5, 0x11cf, {0xbb, 0x82, 0x00, 0xaa, 0x00, 0xbd, 0xce, 0x0b}};
const IID kDShellWindowsEvents = {0xfe4106e0, 0x399a, 0x11d0, {0xa4, 0x8c, 0x00, 0xa0, 0xc9, 0x0a, 0x8f, 0x39}};

namespace {
VARIANT Make(VARTYPE vt) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = vt;
    return v;
}
VARIANT DispatchArg(IDispatch* d) {
    VARIANT v = Make(VT_DISPATCH);
    v.pdispVal = d;  // borrowed for the call, as the browser passes it
    return v;
}
VARIANT ByRefVariant(VARIANT* inner) {
    VARIANT v = Make(VT_BYREF | VT_VARIANT);
    v.pvarVal = inner;
    return v;
}
VARIANT ByRefBool(VARIANT_BOOL* b) {
    VARIANT v = Make(VT_BYREF | VT_BOOL);
    v.pboolVal = b;
    return v;
}
VARIANT Bstr(const std::wstring& s) {
    VARIANT v = Make(VT_BSTR);
    v.bstrVal = ::SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return v;
}
}  // namespace

// ---- FakeConnectionPoint ----------------------------------------------------------------------
void FakeConnectionPoint::Fire(DISPID id, std::vector<VARIANT> args, VARIANT* result) {
    std::reverse(args.begin(), args.end());
    DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    // A sink may unadvise (or advise) while we deliver; deliver to those connected at the start.
    std::vector<ComPtr<IDispatch>> targets;
    for (auto& s : sinks_) targets.push_back(s.second);
    for (auto& t : targets) t->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, nullptr);
}

STDMETHODIMP FakeConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP FakeConnectionPoint::GetConnectionInterface(IID* iid) {
    *iid = events_;
    return S_OK;
}

STDMETHODIMP FakeConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** pp) {
    *pp = container_;
    container_->AddRef();
    return S_OK;
}

STDMETHODIMP FakeConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!sink || !cookie) return E_POINTER;
    // Like the platform's points: the sink must answer for the event interface itself.
    ComPtr<IDispatch> disp;
    if (FAILED(sink->QueryInterface(events_, disp.put_void())) || !disp) return CONNECT_E_CANNOTCONNECT;
    *cookie = nextCookie_++;
    sinks_.emplace_back(*cookie, disp);
    ++advises_;
    return S_OK;
}

STDMETHODIMP FakeConnectionPoint::Unadvise(DWORD cookie) {
    auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s.first == cookie; });
    if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    ComPtr<IDispatch> released = std::move(it->second);
    sinks_.erase(it);
    return S_OK;
}

STDMETHODIMP FakeConnectionPoint::EnumConnections(IEnumConnections** pp) {
    *pp = nullptr;
    return E_NOTIMPL;
}

// ---- FakeDocument -----------------------------------------------------------------------------
STDMETHODIMP FakeDocument::QueryInterface(REFIID riid, void** ppv) {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
        *ppv = static_cast<IDispatch*>(this);
    } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
        *ppv = static_cast<IConnectionPointContainer*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP FakeDocument::FindConnectionPoint(REFIID riid, IConnectionPoint** pp) {
    if (!IsEqualIID(riid, kHTMLDocumentEvents)) {
        *pp = nullptr;
        return CONNECT_E_NOCONNECTION;
    }
    *pp = &events_;
    events_.AddRef();
    return S_OK;
}

void FakeDocument::FireMouseDown() { events_.Fire(DISPID_HTMLDOCUMENTEVENTS_ONMOUSEDOWN, {}); }
void FakeDocument::FireMouseUp() { events_.Fire(DISPID_HTMLDOCUMENTEVENTS_ONMOUSEUP, {}); }

VARIANT FakeDocument::FireContextMenu() {
    VARIANT result;
    ::VariantInit(&result);
    events_.Fire(DISPID_HTMLDOCUMENTEVENTS_ONCONTEXTMENU, {}, &result);
    return result;
}

// ---- FakeBrowser ------------------------------------------------------------------------------
STDMETHODIMP FakeBrowser::QueryInterface(REFIID riid, void** ppv) {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IWebBrowser) ||
        IsEqualIID(riid, IID_IWebBrowserApp) || IsEqualIID(riid, IID_IWebBrowser2)) {
        *ppv = static_cast<IWebBrowser2*>(this);
    } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
        *ppv = static_cast<IConnectionPointContainer*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP FakeBrowser::FindConnectionPoint(REFIID riid, IConnectionPoint** pp) {
    if (!IsEqualIID(riid, kDWebBrowserEvents2)) {
        *pp = nullptr;
        return CONNECT_E_NOCONNECTION;
    }
    *pp = &events_;
    events_.AddRef();
    return S_OK;
}

STDMETHODIMP FakeBrowser::GoForward() {
    ++goForwardCalls;
    // The browser's answer when there is no page to go forward to.
    if (!forwardHistory) return E_FAIL;
    if (onGoForward) onGoForward();
    return S_OK;
}

STDMETHODIMP FakeBrowser::get_Document(IDispatch** pp) {
    *pp = document.get();
    if (*pp) (*pp)->AddRef();
    return *pp ? S_OK : S_FALSE;
}

STDMETHODIMP FakeBrowser::get_FullName(BSTR* name) {
    ++fullNameCalls;
    if (onGetFullName) onGetFullName();
    *name = nullptr;
    if (FAILED(fullNameResult)) return fullNameResult;
    *name = ::SysAllocStringLen(fullName.data(), static_cast<UINT>(fullName.size()));
    return *name ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP FakeBrowser::get_HWND(SHANDLE_PTR* p) {
    if (onGetHwnd) onGetHwnd();
    if (FAILED(hwndResult)) return hwndResult;
    *p = hwnd;
    return S_OK;
}

bool FakeBrowser::FireBeforeNavigate2(IDispatch* pDisp, const std::wstring& url, bool cancel) {
    VARIANT vUrl = Bstr(url);
    VARIANT vFlags = Make(VT_I4);
    vFlags.lVal = 0;
    VARIANT vTarget = Bstr(L"");
    VARIANT vPost = Make(VT_EMPTY);
    VARIANT vHeaders = Bstr(L"");
    VARIANT_BOOL vCancel = cancel ? VARIANT_TRUE : VARIANT_FALSE;
    events_.Fire(DISPID_BEFORENAVIGATE2,
                 {DispatchArg(pDisp), ByRefVariant(&vUrl), ByRefVariant(&vFlags), ByRefVariant(&vTarget),
                  ByRefVariant(&vPost), ByRefVariant(&vHeaders), ByRefBool(&vCancel)});
    ::VariantClear(&vUrl);
    ::VariantClear(&vTarget);
    ::VariantClear(&vHeaders);
    return vCancel != VARIANT_FALSE;
}

bool FakeBrowser::FireNewWindow2(bool cancel) {
    IDispatch* ppDisp = nullptr;
    VARIANT vDisp = Make(VT_BYREF | VT_DISPATCH);
    vDisp.ppdispVal = &ppDisp;
    VARIANT_BOOL vCancel = cancel ? VARIANT_TRUE : VARIANT_FALSE;
    events_.Fire(DISPID_NEWWINDOW2, {vDisp, ByRefBool(&vCancel)});
    lastNewWindowDisp = ppDisp;
    return vCancel != VARIANT_FALSE;
}

void FakeBrowser::FireNavigateComplete2(IDispatch* pDisp, const std::wstring& url) {
    VARIANT vUrl = Bstr(url);
    events_.Fire(DISPID_NAVIGATECOMPLETE2, {DispatchArg(pDisp), ByRefVariant(&vUrl)});
    ::VariantClear(&vUrl);
}

void FakeBrowser::FireDocumentComplete(IDispatch* pDisp, const std::wstring& url) {
    VARIANT vUrl = Bstr(url);
    events_.Fire(DISPID_DOCUMENTCOMPLETE, {DispatchArg(pDisp), ByRefVariant(&vUrl)});
    ::VariantClear(&vUrl);
}

void FakeBrowser::FireDownloadBegin() { events_.Fire(DISPID_DOWNLOADBEGIN, {}); }
void FakeBrowser::FireDownloadComplete() { events_.Fire(DISPID_DOWNLOADCOMPLETE, {}); }

void FakeBrowser::FireCommandStateChange(LONG command, bool enable) {
    VARIANT vCommand = Make(VT_I4);
    vCommand.lVal = command;
    VARIANT vEnable = Make(VT_BOOL);
    vEnable.boolVal = enable ? VARIANT_TRUE : VARIANT_FALSE;
    events_.Fire(DISPID_COMMANDSTATECHANGE, {vCommand, vEnable});
}

// ---- FakeDispatchAlias ------------------------------------------------------------------------
STDMETHODIMP FakeDispatchAlias::QueryInterface(REFIID riid, void** ppv) {
    if (IsEqualIID(riid, IID_IDispatch)) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    return object_->QueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) FakeDispatchAlias::AddRef() {
    ++ownRefs_;
    return object_->AddRef();
}

// Every reference on the alias is one on the object, the first one taken at creation.
STDMETHODIMP_(ULONG) FakeDispatchAlias::Release() {
    const long own = --ownRefs_;
    const ULONG n = object_->Release();
    if (own == 0) delete this;
    return n;
}

// ---- FakeShellWindows -------------------------------------------------------------------------
namespace {
long g_liveEnumerators = 0;

class FakeEnum final : public IEnumVARIANT {
public:
    FakeEnum(std::vector<ComPtr<IDispatch>> items, std::function<void(size_t)> onNext)
        : items_(std::move(items)), onNext_(std::move(onNext)) {
        ++g_liveEnumerators;
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumVARIANT)) {
            *ppv = static_cast<IEnumVARIANT*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const long n = --refs_;
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    STDMETHODIMP Next(ULONG celt, VARIANT* out, ULONG* fetched) override {
        ULONG n = 0;
        while (n < celt && pos_ < items_.size()) {
            if (onNext_) onNext_(pos_);
            ::VariantInit(&out[n]);
            out[n].vt = VT_DISPATCH;
            out[n].pdispVal = items_[pos_].get();
            out[n].pdispVal->AddRef();
            ++n;
            ++pos_;
        }
        if (fetched) *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override {
        pos_ += celt;
        return pos_ <= items_.size() ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        pos_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumVARIANT** pp) override {
        *pp = nullptr;
        return E_NOTIMPL;
    }

private:
    ~FakeEnum() { --g_liveEnumerators; }
    long refs_ = 1;
    std::vector<ComPtr<IDispatch>> items_;
    std::function<void(size_t)> onNext_;
    size_t pos_ = 0;
};
}  // namespace

long LiveFakeEnumerators() { return g_liveEnumerators; }

STDMETHODIMP FakeShellWindows::QueryInterface(REFIID riid, void** ppv) {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IShellWindows)) {
        *ppv = static_cast<IShellWindows*>(this);
    } else if (IsEqualIID(riid, IID_IConnectionPointContainer) && !eventless) {
        *ppv = static_cast<IConnectionPointContainer*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP FakeShellWindows::FindConnectionPoint(REFIID riid, IConnectionPoint** pp) {
    if (!IsEqualIID(riid, kDShellWindowsEvents)) {
        *pp = nullptr;
        return CONNECT_E_NOCONNECTION;
    }
    *pp = &events_;
    events_.AddRef();
    return S_OK;
}

STDMETHODIMP FakeShellWindows::get_Count(LONG* count) {
    *count = static_cast<LONG>(windows_.size());
    return S_OK;
}

STDMETHODIMP FakeShellWindows::Item(VARIANT index, IDispatch** folder) {
    *folder = nullptr;
    if (index.vt != VT_I4 || index.lVal < 0 || static_cast<size_t>(index.lVal) >= windows_.size()) return S_FALSE;
    *folder = windows_[static_cast<size_t>(index.lVal)].get();
    (*folder)->AddRef();
    return S_OK;
}

STDMETHODIMP FakeShellWindows::_NewEnum(IUnknown** ppunk) {
    ++enumerations;
    *ppunk = new FakeEnum(windows_, onNext);
    return S_OK;
}

void FakeShellWindows::OpenWindow(IDispatch* window, bool notify) {
    windows_.emplace_back(window);
    if (!notify) return;
    VARIANT cookie = Make(VT_I4);
    cookie.lVal = nextCookie_++;
    events_.Fire(DISPID_WINDOWREGISTERED, {cookie});
}

void FakeShellWindows::CloseWindow(IDispatch* window, bool notify) {
    auto it = std::find_if(windows_.begin(), windows_.end(), [&](const ComPtr<IDispatch>& w) { return w.get() == window; });
    if (it != windows_.end()) windows_.erase(it);
    if (!notify) return;
    VARIANT cookie = Make(VT_I4);
    cookie.lVal = nextCookie_++;
    events_.Fire(DISPID_WINDOWREVOKED, {cookie});
}

std::function<HRESULT(IShellWindows**)> FakeShellWindows::Factory() {
    // The factory holds no reference of its own, so a test's count of references stays exact.
    FakeShellWindows* self = this;
    return [self](IShellWindows** out) {
        *out = self;
        self->AddRef();
        return S_OK;
    };
}

}  // namespace tovra::popup::test
