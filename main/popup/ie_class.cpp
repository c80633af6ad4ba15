#include "main/popup/ie_class.h"

#include <docobj.h>
#include <exdispid.h>
#include <mshtmdid.h>
#include <olectl.h>  // DISPID_MOUSEDOWN / DISPID_MOUSEUP, which the document events reuse

#include <atomic>
#include <utility>
#include <vector>

#include "main/popup/events.h"
#include "main/popup/popup_blocker.h"

namespace tovra::popup {

namespace {
// The event interfaces, spelled out so no import library has to carry them.
constexpr IID kDWebBrowserEvents2 = {0x34a715a0, 0x6587, 0x11d0, {0x92, 0x4a, 0x00, 0x20, 0xaf, 0xc7, 0xac, 0x4d}};
constexpr IID kHTMLDocumentEvents = {0x3050f260, 0x98b5, 0x11cf, {0xbb, 0x82, 0x00, 0xaa, 0x00, 0xbd, 0xce, 0x0b}};

constexpr LONG kCscNavigateForward = 1;  // CSC_NAVIGATEFORWARD
constexpr LONG kCscNavigateBack = 2;     // CSC_NAVIGATEBACK

std::atomic<long> g_liveSinks{0};

HWND ToHwnd(LONG handle) { return reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle)); }
}  // namespace

std::shared_ptr<IE_Class> IE_Class::Create() { return std::shared_ptr<IE_Class>(new IE_Class()); }

IE_Class::IE_Class() { ++g_liveSinks; }

IE_Class::~IE_Class() {
    // Late calls from a source that still holds a sink must find nobody home.
    if (browserSink_) browserSink_->Disconnect();
    if (documentSink_) documentSink_->Disconnect();
    browserEvents_.Disconnect();
    documentEvents_.Disconnect();
    IE_.reset();
    IEDoc_.reset();
    --g_liveSinks;
}

long IE_Class::LiveCount() { return g_liveSinks.load(); }

void IE_Class::SetIEctl(IDispatch* browser) {
    // A second attach replaces the first one's subscriptions.
    browserEvents_.Disconnect();
    documentEvents_.Disconnect();
    IE_.reset();
    IEDoc_.reset();
    nIEHandle_ = 0;

    const std::weak_ptr<IE_Class> weak = weak_from_this();
    if (!browserSink_) {
        browserSink_ = DispatchEventSink::Create(kDWebBrowserEvents2, [weak](DISPID id, const DISPPARAMS* p, VARIANT*) {
            std::shared_ptr<IE_Class> self = weak.lock();
            return self ? self->OnBrowserEvent(id, p) : S_OK;
        });
    }
    if (!documentSink_) {
        documentSink_ = DispatchEventSink::Create(kHTMLDocumentEvents, [weak](DISPID id, const DISPPARAMS*, VARIANT* r) {
            std::shared_ptr<IE_Class> self = weak.lock();
            return self ? self->OnDocumentEvent(id, r) : S_OK;
        });
    }

    // 1. The browser and its events.
    if (browser) browser->QueryInterface(IID_IWebBrowser2, IE_.put_void());
    if (IE_) browserEvents_.Connect(IE_.get(), kDWebBrowserEvents2, browserSink_.get());

    // 2. The browser's top-level window.
    if (IE_) {
        SHANDLE_PTR hwnd = 0;
        if (SUCCEEDED(IE_->get_HWND(&hwnd))) nIEHandle_ = static_cast<LONG>(hwnd);
    }

    // 3. The document it shows now, and its events.
    if (IE_) {
        ComPtr<IDispatch> doc;
        if (SUCCEEDED(IE_->get_Document(doc.put())) && doc) {
            IEDoc_ = doc;
            documentEvents_.Connect(doc.get(), kHTMLDocumentEvents, documentSink_.get());
        }
    }

    // 4-6. Probe the forward history: a browser that can go forward is sent there and stopped at
    // once; bSuppressNext then cancels the navigation's start so the browser keeps its page.
    bSuppressNext = true;
    const HRESULT hr = IE_ ? IE_->GoForward() : E_POINTER;
    if (FAILED(hr)) {
        EnableForward_ = false;
        bSuppressNext = false;
    } else if (IE_) {
        IE_->ExecWB(OLECMDID_STOPDOWNLOAD, OLECMDEXECOPT_DONTPROMPTUSER, nullptr, nullptr);
    }
}

HRESULT IE_Class::OnBrowserEvent(DISPID id, const DISPPARAMS* params) {
    const EventArgs args(params);
    switch (id) {
        case DISPID_BEFORENAVIGATE2: IE_BeforeNavigate2(args); break;
        case DISPID_NAVIGATECOMPLETE2: IE_NavigateComplete2(args); break;
        case DISPID_DOCUMENTCOMPLETE: IE_DocumentComplete(args); break;
        case DISPID_DOWNLOADBEGIN: IE_DownloadBegin(); break;
        case DISPID_DOWNLOADCOMPLETE: IE_DownloadComplete(); break;
        case DISPID_COMMANDSTATECHANGE: IE_CommandStateChange(args); break;
        case DISPID_NEWWINDOW2: IE_NewWindow2(args); break;
        default: break;
    }
    return S_OK;
}

HRESULT IE_Class::OnDocumentEvent(DISPID id, VARIANT* result) {
    switch (id) {
        case DISPID_HTMLDOCUMENTEVENTS_ONMOUSEDOWN: IEDoc_onmousedown(); break;
        case DISPID_HTMLDOCUMENTEVENTS_ONMOUSEUP: IEDoc_onmouseup(); break;
        case DISPID_HTMLDOCUMENTEVENTS_ONCONTEXTMENU: {
            const bool show = IEDoc_oncontextmenu();
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
void IE_Class::IE_NewWindow2(const EventArgs& args) {
    if (AsyncKeyState(VK_CONTROL) != 0) return;
    if (bBlockerOn) SetByRefBool(args.raw(1), true);
}

void IE_Class::IE_BeforeNavigate2(const EventArgs& args) {
    std::vector<Variant> report;
    report.reserve(7);
    for (UINT i = 0; i < 6; ++i) {
        const VARIANT* v = args.raw(i);
        report.push_back(v ? Variant(*v) : Variant());
    }
    VARIANT* cancel = args.raw(6);
    report.push_back(Variant::Bool(cancel && VariantToBool(*cancel)));
    RaiseIEEvent(ieNavigationBegin, nIEHandle_, std::move(report));

    if (bSuppressNext) {
        SetByRefBool(cancel, true);
        bSuppressNext = false;
    }
}

namespace {
std::vector<Variant> DispAndUrl(const EventArgs& args) {
    std::vector<Variant> report;
    for (UINT i = 0; i < 2; ++i) {
        const VARIANT* v = args.raw(i);
        report.push_back(v ? Variant(*v) : Variant());
    }
    return report;
}
}  // namespace

void IE_Class::IE_NavigateComplete2(const EventArgs& args) {
    RaiseIEEvent(ieNavigationComplete, nIEHandle_, DispAndUrl(args));
}

void IE_Class::IE_DocumentComplete(const EventArgs& args) {
    // Frames complete too; only the top-level page (the browser itself) counts.
    const VARIANT* pDisp = args.raw(0);
    if (!pDisp || !IE_) return;
    ComPtr<IDispatch> disp = VariantToDispatch(*pDisp);
    if (!SameObject(disp.get(), IE_.get())) return;
    RaiseIEEvent(ieDocumentComplete, nIEHandle_, DispAndUrl(args));
}

void IE_Class::IE_DownloadBegin() { RaiseIEEvent(ieDownloadBegin, nIEHandle_, {}); }

void IE_Class::IE_DownloadComplete() { RaiseIEEvent(ieDownloadComplete, nIEHandle_, {}); }

void IE_Class::IE_CommandStateChange(const EventArgs& args) {
    const VARIANT* command = args.value(0);
    const VARIANT* enable = args.value(1);
    const LONG cmd = command ? VariantToLong(*command) : 0;
    const bool on = enable && VariantToBool(*enable);
    if (cmd == kCscNavigateForward) EnableForward_ = on;
    else if (cmd == kCscNavigateBack) EnableBack_ = on;
    std::vector<Variant> report;
    report.push_back(Variant::Long(cmd));
    report.push_back(Variant::Bool(on));
    RaiseIEEvent(ieCommandStateChange, nIEHandle_, std::move(report));
}

bool IE_Class::IEDoc_oncontextmenu() {
    RaiseIEEvent(ieOnContextMenu, nIEHandle_, {});
    const bool show = !bSuppressNext;
    bSuppressNext = false;
    return show;
}

POINT IE_Class::ClientCursor() const {
    POINT pt{};
    if (CursorPos(&pt)) ::ScreenToClient(ToHwnd(nIEHandle_), &pt);
    return pt;
}

// A single value, never a sum: each key read overwrites the last, so Alt wins over Ctrl over Shift.
SHORT IE_Class::ShiftState() {
    SHORT shift = 0;
    if (AsyncKeyState(VK_SHIFT) != 0) shift = 1;
    if (AsyncKeyState(VK_CONTROL) != 0) shift = 2;
    if (AsyncKeyState(VK_MENU) != 0) shift = 4;
    return shift;
}

namespace {
std::vector<Variant> MouseReport(SHORT button, SHORT shift, POINT pt) {
    std::vector<Variant> report;
    report.push_back(Variant::Short(button));
    report.push_back(Variant::Short(shift));
    report.push_back(Variant::Float(static_cast<float>(pt.x)));
    report.push_back(Variant::Float(static_cast<float>(pt.y)));
    return report;
}
}  // namespace

void IE_Class::IEDoc_onmousedown() {
    const POINT pt = ClientCursor();
    SHORT button;
    if (AsyncKeyState(VK_LBUTTON) & 0x8000) {
        button = 1;
        bLeftDown_ = true;
    } else {
        // Right, middle and any other button alike.
        button = 2;
        bRightDown_ = true;
    }
    const SHORT shift = ShiftState();
    RaiseIEEvent(ieMouseDown, nIEHandle_, MouseReport(button, shift, pt));
}

void IE_Class::IEDoc_onmouseup() {
    const POINT pt = ClientCursor();
    SHORT button;
    if (bLeftDown_) {
        button = 1;
        bLeftDown_ = false;
    } else {
        button = 2;
        bRightDown_ = false;
    }
    const SHORT shift = ShiftState();
    RaiseIEEvent(ieMouseUp, nIEHandle_, MouseReport(button, shift, pt));
}

}  // namespace tovra::popup
