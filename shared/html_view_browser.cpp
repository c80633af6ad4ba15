#include "shared/html_view_browser.h"

#include <exdispid.h>
#include <mshtml.h>
#include <oleauto.h>

#include "shared/compat.h"

namespace tovra {
namespace {

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

// The identity of a COM object, to tell the top-level browser from the frames in its events.
IUnknown* IdentityOf(IUnknown* object) {
    if (!object) return nullptr;
    IUnknown* identity = nullptr;
    if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity))) || !identity)
        return nullptr;
    identity->Release();  // only compared, never called
    return identity;
}

}  // namespace

BrowserControl HostBrowserControl(HWND parent, int id, const RECT& rc) {
    UniqueModule atl(compat::LoadSystemLibrary(L"atl.dll"));
    if (!atl) return {};
    auto init =
        reinterpret_cast<AtlAxWinInitFn>(reinterpret_cast<void*>(GetProcAddress(atl.get(), "AtlAxWinInit")));
    auto getControl =
        reinterpret_cast<AtlAxGetControlFn>(reinterpret_cast<void*>(GetProcAddress(atl.get(), "AtlAxGetControl")));
    if (!init || !getControl) return {};  // not the library we need: let it go again
    // Once initialised, atl.dll stays loaded for the life of the process: its window class keeps
    // pointing into it.
    HMODULE atlModule = atl.release();
    // Wine's AtlAxWinInit fails once the host's class is registered (Windows' answers TRUE), which
    // left every view after the first in a process without a browser.
    auto registered = [atlModule] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        return GetClassInfoExW(atlModule, L"AtlAxWin", &wc) || GetClassInfoExW(nullptr, L"AtlAxWin", &wc) ||
               GetClassInfoExW(GetModuleHandleW(nullptr), L"AtlAxWin", &wc);
    };
    if (!init() && !registered()) return {};
    BrowserControl made;
    made.window = CreateWindowExW(0, L"AtlAxWin", L"Shell.Explorer.2", WS_CHILD | WS_VISIBLE | WS_TABSTOP, rc.left,
                                  rc.top, rc.right - rc.left, rc.bottom - rc.top, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                  nullptr);
    if (!made.window) return {};
    ComPtr<IUnknown> control;
    if (SUCCEEDED(getControl(made.window, control.put())) && control) {
        made.browser = control.As<IWebBrowser2>(IID_IWebBrowser2);
    }
    if (!made.browser) {
        DestroyWindow(made.window);
        return {};
    }
    return made;
}

// ---- NavigationEvents -------------------------------------------------------------------------

class NavigationEvents::Sink final : public IDispatch {
public:
    Sink(Listener& listener, IUnknown* browser) : listener_(&listener), browser_(IdentityOf(browser)) {}
    void Forget() { listener_ = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID_DWebBrowserEvents2) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (!listener_ || !OfTheTopLevel(params)) return S_OK;
        if (id == DISPID_DOCUMENTCOMPLETE) listener_->DocumentComplete();
        else if (id == DISPID_NAVIGATEERROR) listener_->NavigateError();
        return S_OK;
    }

private:
    // Both events name the window they are about first (the last argument, as DISPPARAMS hold
    // them in reverse); a frame's own document must not count as the page's.
    bool OfTheTopLevel(const DISPPARAMS* params) const {
        if (!params || params->cArgs == 0) return true;
        const VARIANT& first = params->rgvarg[params->cArgs - 1];
        IUnknown* window = nullptr;
        if (first.vt == VT_DISPATCH) window = first.pdispVal;
        else if (first.vt == (VT_DISPATCH | VT_BYREF) && first.ppdispVal) window = *first.ppdispVal;
        else return true;  // not named: taken as the browser itself
        return !browser_ || IdentityOf(window) == browser_;
    }

    ULONG refs_ = 1;
    Listener* listener_;
    IUnknown* browser_;  // identity only: a counted reference would keep the browser and the sink in a ring
};

NavigationEvents::NavigationEvents(IWebBrowser2* browser, Listener& listener)
    : sink_(new Sink(listener, browser)) {
    if (!browser) return;
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(browser->QueryInterface(IID_IConnectionPointContainer, container.put_void())) || !container) return;
    if (FAILED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point_.put())) || !point_) return;
    if (FAILED(point_->Advise(sink_, &cookie_))) {
        cookie_ = 0;
        point_.reset();
    }
}

NavigationEvents::~NavigationEvents() {
    sink_->Forget();  // the browser may still hold the sink a while, or call it once more
    if (point_ && cookie_) point_->Unadvise(cookie_);
    sink_->Release();
}

// ---- The document -----------------------------------------------------------------------------

READYSTATE ReadyStateOf(IWebBrowser2* browser) {
    READYSTATE state = READYSTATE_UNINITIALIZED;
    if (!browser || FAILED(browser->get_ReadyState(&state))) return READYSTATE_UNINITIALIZED;
    return state;
}

bool WriteDocument(IWebBrowser2* browser, const std::wstring& html) {
    if (!browser) return false;
    ComPtr<IDispatch> document;
    // Without an HTML engine the browser answers S_FALSE and no document.
    if (FAILED(browser->get_Document(document.put())) || !document) return false;
    ComPtr<IHTMLDocument2> doc = document.As<IHTMLDocument2>(IID_IHTMLDocument2);
    if (!doc) return false;
    SAFEARRAY* lines = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    if (!lines) return false;
    VARIANT* item = nullptr;
    bool ok = false;
    if (SUCCEEDED(SafeArrayAccessData(lines, reinterpret_cast<void**>(&item)))) {
        item->vt = VT_BSTR;
        item->bstrVal = SysAllocStringLen(html.data(), static_cast<UINT>(html.size()));
        SafeArrayUnaccessData(lines);
        ok = item->bstrVal && SUCCEEDED(doc->write(lines));
        doc->close();
    }
    SafeArrayDestroy(lines);  // frees the string too
    return ok;
}

}  // namespace tovra
