#include "shared/tests/browser_double.h"

#include <exdispid.h>
#include <oleauto.h>

#include <algorithm>

namespace tovra::test {

// ---- FakeDocument -----------------------------------------------------------------------------

HRESULT FakeDocument::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || (takesHtml_ && (iid == IID_IHTMLDocument ||
                                                                       iid == IID_IHTMLDocument2))) {
        *out = static_cast<IHTMLDocument2*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG FakeDocument::Release() {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT FakeDocument::write(SAFEARRAY* lines) {
    if (!lines) return E_POINTER;
    ++writes_;
    written_.clear();
    VARIANT* items = nullptr;
    if (FAILED(SafeArrayAccessData(lines, reinterpret_cast<void**>(&items)))) return E_FAIL;
    for (ULONG i = 0; i < lines->rgsabound[0].cElements; ++i) {
        if (items[i].vt == VT_BSTR && items[i].bstrVal)
            written_.append(items[i].bstrVal, SysStringLen(items[i].bstrVal));
    }
    SafeArrayUnaccessData(lines);
    return S_OK;
}

HRESULT FakeDocument::close() {
    closed_ = true;
    return S_OK;
}

// ---- FakeBrowser ------------------------------------------------------------------------------

FakeBrowser::FakeBrowser(Options options)
    : options_(std::move(options)), document_(new FakeDocument(options_.takesHtml)) {}

FakeBrowser::~FakeBrowser() { document_->Release(); }

HRESULT FakeBrowser::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IWebBrowser || iid == IID_IWebBrowserApp ||
        iid == IID_IWebBrowser2) {
        *out = static_cast<IWebBrowser2*>(this);
    } else if (options_.events && iid == IID_IConnectionPointContainer) {
        *out = static_cast<IConnectionPointContainer*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG FakeBrowser::Release() {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT FakeBrowser::Navigate(BSTR url, VARIANT*, VARIANT*, VARIANT*, VARIANT*) {
    ++navigations_;
    lastUrl_ = url ? url : L"";
    completed_ = false;
    ready_ = READYSTATE_LOADING;
    if (FAILED(options_.navigateResult)) return options_.navigateResult;
    if (options_.duringNavigate) options_.duringNavigate(*this);
    return S_OK;
}

HRESULT FakeBrowser::get_Document(IDispatch** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    // As without an HTML engine: no document, S_FALSE.
    if (!completed_ && !options_.documentEarly) return S_FALSE;
    document_->AddRef();
    *out = document_;
    return S_OK;
}

HRESULT FakeBrowser::get_ReadyState(READYSTATE* state) {
    if (!state) return E_POINTER;
    *state = ready_;
    return S_OK;
}

HRESULT FakeBrowser::put_Silent(VARIANT_BOOL silent) {
    silent_ = silent != VARIANT_FALSE;
    return S_OK;
}

HRESULT FakeBrowser::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != DIID_DWebBrowserEvents2) return CONNECT_E_NOCONNECTION;
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

HRESULT FakeBrowser::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = DIID_DWebBrowserEvents2;
    return S_OK;
}

HRESULT FakeBrowser::GetConnectionPointContainer(IConnectionPointContainer** out) {
    if (!out) return E_POINTER;
    *out = static_cast<IConnectionPointContainer*>(this);
    AddRef();
    return S_OK;
}

HRESULT FakeBrowser::Advise(IUnknown* sink, DWORD* cookie) {
    if (!sink || !cookie) return E_POINTER;
    ComPtr<IDispatch> events;
    if (FAILED(sink->QueryInterface(DIID_DWebBrowserEvents2, events.put_void())) || !events)
        return CONNECT_E_CANNOTCONNECT;
    *cookie = nextCookie_++;
    sinks_.push_back({*cookie, events});
    return S_OK;
}

HRESULT FakeBrowser::Unadvise(DWORD cookie) {
    auto it = std::find_if(sinks_.begin(), sinks_.end(), [cookie](const Connection& c) { return c.cookie == cookie; });
    if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    sinks_.erase(it);
    return S_OK;
}

size_t FakeBrowser::sinks() const { return sinks_.size(); }

void FakeBrowser::Fire(DISPID id, DISPPARAMS& params) {
    // A sink may leave while it hears the event: call the ones there when it began.
    std::vector<Connection> now = sinks_;
    for (Connection& c : now) c.sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                              nullptr, nullptr);
}

void FakeBrowser::Complete() {
    completed_ = true;
    ready_ = READYSTATE_COMPLETE;
    VARIANT url;
    VariantInit(&url);
    url.vt = VT_BSTR;
    url.bstrVal = SysAllocString(lastUrl_.c_str());
    VARIANT args[2];
    args[1].vt = VT_DISPATCH;  // the window that completed: this browser
    args[1].pdispVal = static_cast<IWebBrowser2*>(this);
    args[0].vt = VT_VARIANT | VT_BYREF;
    args[0].pvarVal = &url;
    DISPPARAMS params{args, nullptr, 2, 0};
    ComPtr<FakeBrowser> self(this);  // a sink may release the view, and the view its browser
    Fire(DISPID_DOCUMENTCOMPLETE, params);
    VariantClear(&url);
}

void FakeBrowser::CompleteQuietly() {
    completed_ = true;
    ready_ = READYSTATE_COMPLETE;
}

void FakeBrowser::CompleteFrame() {
    ComPtr<FakeDocument> frame = ComPtr<FakeDocument>::Attach(new FakeDocument(true));
    VARIANT url;
    VariantInit(&url);
    url.vt = VT_BSTR;
    url.bstrVal = SysAllocString(L"about:frame");
    VARIANT args[2];
    args[1].vt = VT_DISPATCH;
    args[1].pdispVal = static_cast<IHTMLDocument2*>(frame.get());
    args[0].vt = VT_VARIANT | VT_BYREF;
    args[0].pvarVal = &url;
    DISPPARAMS params{args, nullptr, 2, 0};
    ComPtr<FakeBrowser> self(this);
    Fire(DISPID_DOCUMENTCOMPLETE, params);
    VariantClear(&url);
}

void FakeBrowser::Fail() {
    VARIANT url, frame, status;
    VariantInit(&url);
    VariantInit(&frame);
    VariantInit(&status);
    url.vt = VT_BSTR;
    url.bstrVal = SysAllocString(lastUrl_.c_str());
    frame.vt = VT_BSTR;
    frame.bstrVal = SysAllocString(L"");
    status.vt = VT_I4;
    status.lVal = static_cast<LONG>(0x800C0005);  // INET_E_RESOURCE_NOT_FOUND
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT args[5];
    args[4].vt = VT_DISPATCH;
    args[4].pdispVal = static_cast<IWebBrowser2*>(this);
    args[3].vt = VT_VARIANT | VT_BYREF;
    args[3].pvarVal = &url;
    args[2].vt = VT_VARIANT | VT_BYREF;
    args[2].pvarVal = &frame;
    args[1].vt = VT_VARIANT | VT_BYREF;
    args[1].pvarVal = &status;
    args[0].vt = VT_BOOL | VT_BYREF;
    args[0].pboolVal = &cancel;
    DISPPARAMS params{args, nullptr, 5, 0};
    ComPtr<FakeBrowser> self(this);
    Fire(DISPID_NAVIGATEERROR, params);
    VariantClear(&url);
    VariantClear(&frame);
}

// ---- FakeBrowsers -----------------------------------------------------------------------------

BrowserFactory FakeBrowsers::Factory() {
    return [this](HWND parent, int id, const RECT& rc) {
        BrowserControl made;
        made.window = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, rc.left, rc.top,
                                      rc.right - rc.left, rc.bottom - rc.top, parent,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                      nullptr);
        if (!made.window) return made;
        ComPtr<FakeBrowser> browser = ComPtr<FakeBrowser>::Attach(new FakeBrowser(options_));
        made_.push_back({made.window, browser});
        made.browser = ComPtr<IWebBrowser2>(browser.get());
        return made;
    };
}

// ---- Window events ----------------------------------------------------------------------------

bool RunEventsUntil(const std::function<bool()>& done, DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done && done()) return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(20, ms - elapsed), QS_ALLINPUT);
    }
}

void RunEventsFor(DWORD ms) { RunEventsUntil(nullptr, ms); }

}  // namespace tovra::test
