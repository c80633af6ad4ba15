#include "shared/html_view.h"

#include <commctrl.h>
#include <oleauto.h>

#include <algorithm>
#include <utility>

#include "shared/html_view_text.h"

namespace tovra {
namespace {

constexpr UINT_PTR kHostSubclassId = 0x48564857;  // 'HVHW'
// Timers on the browser's host window, so they go with it.
constexpr UINT_PTR kWaitTimer = 0x4856;   // the wait is over (or was cut short): show the page now
constexpr UINT_PTR kReadyTimer = 0x4857;  // a browser without events: ask its ready state
constexpr UINT kReadyStatePollMs = 100;

}  // namespace

struct HtmlView::Impl final : NavigationEvents::Listener {
    Impl(BrowserFactory f, UINT waitMs) : browsers(std::move(f)), waitMs(waitMs) {}

    std::unique_ptr<ComScope> ole;  // first in, last out: every COM reference below goes before it
    BrowserFactory browsers;
    UINT waitMs;
    HWND parent = nullptr;
    int id = 0;
    RECT rc{};
    HWND host = nullptr;  // the window holding the browser
    ComPtr<IWebBrowser2> browser;
    std::unique_ptr<NavigationEvents> events;
    TextPane text;
    std::wstring page;     // what the view is to show
    bool loading = false;  // the page waits for the browser's document

    bool HostBrowser();
    bool Navigate();
    void Settle();
    void ShowText();
    void StopTimers();
    void DestroyHost();
    void HostClosing();

    // NavigationEvents::Listener
    void DocumentComplete() override;
    void NavigateError() override;

    static LRESULT CALLBACK HostSubclass(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data);
};

bool HtmlView::Impl::HostBrowser() {
    BrowserControl made = browsers ? browsers(parent, id, rc) : HostBrowserControl(parent, id, rc);
    if (!made.window || !made.browser) {
        if (made.window) DestroyWindow(made.window);
        return false;
    }
    host = made.window;
    browser = std::move(made.browser);
    SetWindowSubclass(host, HostSubclass, kHostSubclassId, reinterpret_cast<DWORD_PTR>(this));
    browser->put_Silent(VARIANT_TRUE);  // no script error or download dialogs from the page view
    events = std::make_unique<NavigationEvents>(browser.get(), *this);
    return true;
}

bool HtmlView::Impl::Navigate() {
    loading = true;
    SetTimer(host, kWaitTimer, waitMs, nullptr);
    if (!events || !events->connected()) SetTimer(host, kReadyTimer, std::min(waitMs, kReadyStatePollMs), nullptr);
    // Held for the call: an engine may send its events from within it.
    ComPtr<IWebBrowser2> web = browser;
    BSTR blank = SysAllocString(L"about:blank");
    VARIANT empty;
    VariantInit(&empty);
    HRESULT hr = web->Navigate(blank, &empty, &empty, &empty, &empty);
    SysFreeString(blank);
    if (SUCCEEDED(hr) || !loading) return true;
    StopTimers();
    loading = false;
    return false;
}

// The end of the wait: the document there is takes the page, or the page's words show instead.
void HtmlView::Impl::Settle() {
    StopTimers();
    loading = false;
    ComPtr<IWebBrowser2> web = browser;
    if (!WriteDocument(web.get(), page)) ShowText();
}

void HtmlView::Impl::ShowText() {
    loading = false;
    DestroyHost();
    if (text.Create(parent, id, rc)) text.SetText(HtmlToText(page));
}

void HtmlView::Impl::DocumentComplete() {
    if (!loading) return;
    loading = false;  // the write may raise events of its own
    ComPtr<IWebBrowser2> web = browser;
    if (WriteDocument(web.get(), page)) {
        StopTimers();
        return;
    }
    if (!host) return;  // the view went meanwhile
    // The text then, but not from within the browser's own event: the control goes with it.
    loading = true;
    SetTimer(host, kWaitTimer, USER_TIMER_MINIMUM, nullptr);
}

void HtmlView::Impl::NavigateError() {
    if (loading) SetTimer(host, kWaitTimer, USER_TIMER_MINIMUM, nullptr);
}

void HtmlView::Impl::StopTimers() {
    if (!host) return;
    KillTimer(host, kWaitTimer);
    KillTimer(host, kReadyTimer);
}

void HtmlView::Impl::DestroyHost() {
    if (!host) return;
    DestroyWindow(host);  // the host's WM_DESTROY lets go of the browser, WM_NCDESTROY of the window
    if (host) {           // not destroyed (another thread's window?): let go of it all the same
        HostClosing();
        RemoveWindowSubclass(host, HostSubclass, kHostSubclassId);
        host = nullptr;
    }
}

// The host window is going, with the view or with its parent: nothing more comes of the load.
void HtmlView::Impl::HostClosing() {
    StopTimers();
    loading = false;
    events.reset();
    browser.reset();
}

LRESULT CALLBACK HtmlView::Impl::HostSubclass(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                              DWORD_PTR data) {
    auto* view = reinterpret_cast<Impl*>(data);
    switch (msg) {
    case WM_TIMER:
        if (wp == kWaitTimer) {
            if (view->loading) view->Settle();
            else view->StopTimers();
            return 0;  // the host may be gone now
        }
        if (wp == kReadyTimer) {
            if (!view->loading) view->StopTimers();
            else if (ReadyStateOf(view->browser.get()) == READYSTATE_COMPLETE) view->Settle();
            return 0;
        }
        break;
    case WM_DESTROY:
        // Before the host itself lets go of the control.
        view->HostClosing();
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, HostSubclass, kHostSubclassId);
        if (view->host == hwnd) view->host = nullptr;
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

// ---- HtmlView ---------------------------------------------------------------------------------

HtmlView::HtmlView(BrowserFactory browsers, UINT documentWaitMs)
    : impl_(std::make_unique<Impl>(std::move(browsers), documentWaitMs)) {}

HtmlView::~HtmlView() {
    impl_->DestroyHost();
    impl_->text.Destroy();
    // OLE itself ends with the Impl, after every reference it holds.
}

bool HtmlView::Create(HWND parent, int id, const RECT& rc) {
    Impl& v = *impl_;
    if (v.host || v.text.hwnd()) return true;
    v.parent = parent;
    v.id = id;
    v.rc = rc;
    if (!parent || !IsWindow(parent)) return false;
    if (!v.ole) v.ole = std::make_unique<ComScope>(ComScope::Ole);
    // No OLE apartment (e.g. a multithreaded one): no control can be hosted.
    if (v.ole->ok() && v.HostBrowser()) return true;
    return v.text.Create(parent, id, rc);
}

bool HtmlView::Load(const std::wstring& html) {
    Impl& v = *impl_;
    if (!v.parent || !IsWindow(v.parent)) return false;
    v.page = html;
    if (v.host) {
        // A navigation under way shows the newest page when it ends.
        if (v.loading || v.Navigate()) return true;
        v.ShowText();  // no navigation at all: the page's words at once
        return v.text.hwnd() != nullptr;
    }
    // No HTML engine, no document or no control at all: the page's words, never an empty view.
    if (!v.text.Create(v.parent, v.id, v.rc)) return false;
    v.text.SetText(HtmlToText(html));
    return true;
}

bool HtmlView::Loading() const { return impl_->loading; }

void HtmlView::Move(const RECT& rc) {
    impl_->rc = rc;
    if (HWND h = hwnd()) MoveWindow(h, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
}

bool HtmlView::UsingBrowser() const { return impl_->browser && impl_->host; }

HWND HtmlView::hwnd() const { return impl_->host ? impl_->host : impl_->text.hwnd(); }

std::wstring HtmlView::ShownText() const { return impl_->host ? std::wstring() : impl_->text.Text(); }

}  // namespace tovra
