#include "main/popup/browser_sink.h"

#include <docobj.h>
#include <exdispid.h>
#include <mshtmdid.h>
#include <olectl.h>  // DISPID_MOUSEDOWN / DISPID_MOUSEUP, which the document events reuse

#include <atomic>
#include <utility>
#include <vector>

#include "main/popup/browser_watcher.h"

namespace tovra::popup {

namespace {
// The event interfaces, spelled out so no import library has to carry them.
constexpr IID kDWebBrowserEvents2 = {0x34a715a0, 0x6587, 0x11d0, {0x92, 0x4a, 0x00, 0x20, 0xaf, 0xc7, 0xac, 0x4d}};
constexpr IID kHTMLDocumentEvents = {0x3050f260, 0x98b5, 0x11cf, {0xbb, 0x82, 0x00, 0xaa, 0x00, 0xbd, 0xce, 0x0b}};

constexpr LONG kCscNavigateForward = 1;  // CSC_NAVIGATEFORWARD
constexpr LONG kCscNavigateBack = 2;     // CSC_NAVIGATEBACK

std::atomic<long> g_liveSinks{0};

HWND ToHwnd(LONG handle) { return reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle)); }

std::vector<Variant> DispAndUrl(const EventArgs& args) {
    std::vector<Variant> report;
    for (UINT i = 0; i < 2; ++i) {
        const VARIANT* v = args.raw(i);
        report.push_back(v ? Variant(*v) : Variant());
    }
    return report;
}

std::vector<Variant> MouseReport(SHORT button, SHORT shift, POINT pt) {
    std::vector<Variant> report;
    report.push_back(Variant::Short(button));
    report.push_back(Variant::Short(shift));
    report.push_back(Variant::Float(static_cast<float>(pt.x)));
    report.push_back(Variant::Float(static_cast<float>(pt.y)));
    return report;
}
}  // namespace

size_t ReportArgCount(BrowserReport report) {
    switch (report) {
        case BrowserReport::NavigationBegin: return 7;
        case BrowserReport::NavigationComplete:
        case BrowserReport::DocumentComplete:
        case BrowserReport::CommandStateChange: return 2;
        case BrowserReport::MouseDown:
        case BrowserReport::MouseUp: return 4;
        default: return 0;
    }
}

std::shared_ptr<BrowserSink> BrowserSink::Create(SinkLinks links) {
    return std::shared_ptr<BrowserSink>(new BrowserSink(std::move(links)));
}

BrowserSink::BrowserSink(SinkLinks links) : links_(std::move(links)) {
    if (!links_.input) links_.input = SystemInputState();
    ++g_liveSinks;
}

BrowserSink::~BrowserSink() {
    // Late calls from a source that still holds a sink must find nobody home.
    if (browserSink_) browserSink_->Disconnect();
    if (documentSink_) documentSink_->Disconnect();
    browserEvents_.Disconnect();
    documentEvents_.Disconnect();
    browser_.reset();
    document_.reset();
    --g_liveSinks;
}

long BrowserSink::LiveCount() { return g_liveSinks.load(); }

void BrowserSink::Report(BrowserReport report, std::vector<Variant> args) const {
    // Held for the call only: a listener may let the watcher go.
    if (std::shared_ptr<BrowserWatcher> watcher = links_.watcher.lock())
        watcher->Report(report, windowHandle_, std::move(args));
}

bool BrowserSink::TakeSuppressNext() const {
    std::shared_ptr<BrowserWatcher> watcher = links_.watcher.lock();
    if (!watcher || !watcher->SuppressNext()) return false;
    watcher->SetSuppressNext(false);
    return true;
}

void BrowserSink::SetSuppressNext(bool on) const {
    if (std::shared_ptr<BrowserWatcher> watcher = links_.watcher.lock()) watcher->SetSuppressNext(on);
}

void BrowserSink::Attach(IDispatch* browser) {
    // A second attach replaces the first one's subscriptions.
    browserEvents_.Disconnect();
    documentEvents_.Disconnect();
    browser_.reset();
    document_.reset();
    windowHandle_ = 0;

    const std::weak_ptr<BrowserSink> weak = weak_from_this();
    if (!browserSink_) {
        browserSink_ = DispatchEventSink::Create(kDWebBrowserEvents2, [weak](DISPID id, const DISPPARAMS* p, VARIANT*) {
            std::shared_ptr<BrowserSink> self = weak.lock();
            return self ? self->OnBrowserEvent(id, p) : S_OK;
        });
    }
    if (!documentSink_) {
        documentSink_ = DispatchEventSink::Create(kHTMLDocumentEvents, [weak](DISPID id, const DISPPARAMS*, VARIANT* r) {
            std::shared_ptr<BrowserSink> self = weak.lock();
            return self ? self->OnDocumentEvent(id, r) : S_OK;
        });
    }

    // 1. The browser and its events.
    if (browser) browser->QueryInterface(IID_IWebBrowser2, browser_.put_void());
    if (browser_) browserEvents_.Connect(browser_.get(), kDWebBrowserEvents2, browserSink_.get());

    // 2. The browser's top-level window.
    if (browser_) {
        SHANDLE_PTR hwnd = 0;
        if (SUCCEEDED(browser_->get_HWND(&hwnd))) windowHandle_ = static_cast<LONG>(hwnd);
    }

    // 3. The document it shows now, and its events.
    if (browser_) {
        ComPtr<IDispatch> doc;
        if (SUCCEEDED(browser_->get_Document(doc.put())) && doc) {
            document_ = doc;
            documentEvents_.Connect(doc.get(), kHTMLDocumentEvents, documentSink_.get());
        }
    }

    // 4-6. Probe the forward history: a browser that can go forward is sent there and stopped at
    // once; the watcher's suppress flag then cancels the navigation's start so the browser keeps
    // its page. The watcher is looked up afresh after the call, which may let events in.
    SetSuppressNext(true);
    const HRESULT hr = browser_ ? browser_->GoForward() : E_POINTER;
    if (FAILED(hr)) {
        canGoForward_ = false;
        SetSuppressNext(false);
    } else if (browser_) {
        browser_->ExecWB(OLECMDID_STOPDOWNLOAD, OLECMDEXECOPT_DONTPROMPTUSER, nullptr, nullptr);
    }
}

HRESULT BrowserSink::OnBrowserEvent(DISPID id, const DISPPARAMS* params) {
    const EventArgs args(params);
    switch (id) {
        case DISPID_BEFORENAVIGATE2: OnBeforeNavigate(args); break;
        case DISPID_NAVIGATECOMPLETE2: OnNavigateComplete(args); break;
        case DISPID_DOCUMENTCOMPLETE: OnDocumentComplete(args); break;
        case DISPID_DOWNLOADBEGIN: Report(BrowserReport::DownloadBegin); break;
        case DISPID_DOWNLOADCOMPLETE: Report(BrowserReport::DownloadComplete); break;
        case DISPID_COMMANDSTATECHANGE: OnCommandStateChange(args); break;
        case DISPID_NEWWINDOW2: OnNewWindow(args); break;
        default: break;
    }
    return S_OK;
}

HRESULT BrowserSink::OnDocumentEvent(DISPID id, VARIANT* result) {
    switch (id) {
        case DISPID_HTMLDOCUMENTEVENTS_ONMOUSEDOWN: OnMouseDown(); break;
        case DISPID_HTMLDOCUMENTEVENTS_ONMOUSEUP: OnMouseUp(); break;
        case DISPID_HTMLDOCUMENTEVENTS_ONCONTEXTMENU: {
            const bool show = OnContextMenu();
            if (result) {
                ::VariantClear(result);
                result->vt = VT_BOOL;
                result->boolVal = show ? VARIANT_TRUE : VARIANT_FALSE;
            }
            break;
        }
        default: break;
    }
    return S_OK;
}

// The pop-up rule: the key state is the one at the moment the event is handled.
void BrowserSink::OnNewWindow(const EventArgs& args) {
    if (links_.input->AsyncKeyState(VK_CONTROL) != 0) return;
    if (BlockerOn()) SetByRefBool(args.raw(1), true);
}

void BrowserSink::OnBeforeNavigate(const EventArgs& args) {
    std::vector<Variant> report;
    report.reserve(7);
    for (UINT i = 0; i < 6; ++i) {
        const VARIANT* v = args.raw(i);
        report.push_back(v ? Variant(*v) : Variant());
    }
    VARIANT* cancel = args.raw(6);
    report.push_back(Variant::Bool(cancel && VariantToBool(*cancel)));
    Report(BrowserReport::NavigationBegin, std::move(report));

    if (TakeSuppressNext()) SetByRefBool(cancel, true);
}

void BrowserSink::OnNavigateComplete(const EventArgs& args) {
    Report(BrowserReport::NavigationComplete, DispAndUrl(args));
}

void BrowserSink::OnDocumentComplete(const EventArgs& args) {
    // Frames complete too; only the top-level page (the browser itself) counts.
    const VARIANT* pDisp = args.raw(0);
    if (!pDisp || !browser_) return;
    ComPtr<IDispatch> disp = VariantToDispatch(*pDisp);
    if (!SameObject(disp.get(), browser_.get())) return;
    Report(BrowserReport::DocumentComplete, DispAndUrl(args));
}

void BrowserSink::OnCommandStateChange(const EventArgs& args) {
    const VARIANT* command = args.value(0);
    const VARIANT* enable = args.value(1);
    const LONG cmd = command ? VariantToLong(*command) : 0;
    const bool on = enable && VariantToBool(*enable);
    if (cmd == kCscNavigateForward) canGoForward_ = on;
    else if (cmd == kCscNavigateBack) canGoBack_ = on;
    std::vector<Variant> report;
    report.push_back(Variant::Long(cmd));
    report.push_back(Variant::Bool(on));
    Report(BrowserReport::CommandStateChange, std::move(report));
}

bool BrowserSink::OnContextMenu() {
    Report(BrowserReport::ContextMenu);
    // Shown, except the first one after a probe whose navigation has not been cancelled yet.
    return !TakeSuppressNext();
}

POINT BrowserSink::ClientCursor() const {
    POINT pt{};
    if (links_.input->CursorPos(&pt)) ::ScreenToClient(ToHwnd(windowHandle_), &pt);
    return pt;
}

// A single value, never a sum: each key read overwrites the last, so Alt wins over Ctrl over Shift.
SHORT BrowserSink::ShiftState() const {
    InputState& input = *links_.input;
    SHORT shift = 0;
    if (input.AsyncKeyState(VK_SHIFT) != 0) shift = 1;
    if (input.AsyncKeyState(VK_CONTROL) != 0) shift = 2;
    if (input.AsyncKeyState(VK_MENU) != 0) shift = 4;
    return shift;
}

void BrowserSink::OnMouseDown() {
    const POINT pt = ClientCursor();
    SHORT button;
    if (links_.input->AsyncKeyState(VK_LBUTTON) & 0x8000) {
        button = 1;
        leftDown_ = true;
    } else {
        // Right, middle and any other button alike.
        button = 2;
        rightDown_ = true;
    }
    const SHORT shift = ShiftState();
    Report(BrowserReport::MouseDown, MouseReport(button, shift, pt));
}

void BrowserSink::OnMouseUp() {
    const POINT pt = ClientCursor();
    SHORT button;
    if (leftDown_) {
        button = 1;
        leftDown_ = false;
    } else {
        button = 2;
        rightDown_ = false;
    }
    const SHORT shift = ShiftState();
    Report(BrowserReport::MouseUp, MouseReport(button, shift, pt));
}

}  // namespace tovra::popup
