#include "main/popup/ie_windows.h"

#include <exdispid.h>

#include <algorithm>

#include "main/popup/events.h"
#include "shared/compat.h"

namespace tovra::popup {

namespace {
constexpr CLSID kCLSID_ShellWindows = {0x9ba05972, 0xf6a8, 0x11cf, {0xa4, 0x42, 0x00, 0xa0, 0xc9, 0x0a, 0x8f, 0x39}};
constexpr IID kIID_IShellWindows = {0x85cb6900, 0x4d95, 0x11cf, {0x96, 0x0c, 0x00, 0x80, 0xc7, 0xf4, 0xee, 0x85}};
constexpr IID kDShellWindowsEvents = {0xfe4106e0, 0x399a, 0x11d0, {0xa4, 0x8c, 0x00, 0xa0, 0xc9, 0x0a, 0x8f, 0x39}};

// Hands the old collection's sinks to a local before releasing them: a sink's release may let
// events in (its browser lives in another process) that start a rebuild of their own.
template <typename Collection>
void ReleaseSinks(Collection& col) {
    auto old = std::move(col);
    col.clear();
    old.clear();
}

class OwnedBstr {
public:
    OwnedBstr() = default;
    OwnedBstr(const OwnedBstr&) = delete;
    OwnedBstr& operator=(const OwnedBstr&) = delete;
    ~OwnedBstr() { ::SysFreeString(s_); }
    BSTR* put() { ::SysFreeString(s_); s_ = nullptr; return &s_; }
    std::wstring_view view() const { return s_ ? std::wstring_view(s_, ::SysStringLen(s_)) : std::wstring_view(); }

private:
    BSTR s_ = nullptr;
};
}  // namespace

ComPtr<IUnknown> BrowserIdentity(IUnknown* browser) {
    ComPtr<IUnknown> identity;
    if (browser) browser->QueryInterface(IID_IUnknown, identity.put_void());
    return identity;
}

bool IsWebBrowserProgram(std::wstring_view fullName) {
    constexpr std::wstring_view kBrowser = L"iexplore.exe";
    const size_t slash = fullName.find_last_of(L"\\/");
    const std::wstring_view file = slash == std::wstring_view::npos ? fullName : fullName.substr(slash + 1);
    return compat::CompareNoCase(file.data(), file.size(), kBrowser.data(), kBrowser.size()) == 0;
}

bool IsWebBrowserWindow(IWebBrowser2* window) {
    if (!window) return false;
    OwnedBstr name;
    return SUCCEEDED(window->get_FullName(name.put())) && IsWebBrowserProgram(name.view());
}

bool ShellWindowsServedByWineDesktop() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

DWORD ShellWindowsClassContext() {
    // Windows serves the list from the shell's process, which is where it must come from.
    // Wine serves it from its desktop process without notices or items (get_Count and _NewEnum
    // E_NOTIMPL, no IConnectionPointContainer), and an out-of-process request there was measured
    // to end the desktop process seconds later, taking every window of the program with it. So
    // under Wine only an in-process list would do; Wine has none (CLASS_E_CLASSNOTAVAILABLE).
    return ShellWindowsServedByWineDesktop() ? CLSCTX_INPROC_SERVER : CLSCTX_ALL;
}

HRESULT CreateShellWindows(IShellWindows** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return ::CoCreateInstance(kCLSID_ShellWindows, nullptr, ShellWindowsClassContext(), kIID_IShellWindows,
                              reinterpret_cast<void**>(out));
}

cIEWindows::cIEWindows(ShellWindowsFactory factory) : factory_(std::move(factory)) {}

std::shared_ptr<cIEWindows> cIEWindows::Create(ShellWindowsFactory factory) {
    std::shared_ptr<cIEWindows> watcher(new cIEWindows(std::move(factory)));
    lWatcherPtr = watcher;
    const std::weak_ptr<cIEWindows> weak = watcher;
    watcher->shellSink_ = DispatchEventSink::Create(kDShellWindowsEvents, [weak](DISPID id, const DISPPARAMS* p, VARIANT*) {
        // Held for the call: a listener of the notice may let the watcher go.
        std::shared_ptr<cIEWindows> self = weak.lock();
        return self ? self->OnShellEvent(id, p) : S_OK;
    });
    watcher->RefreshWindows();
    return watcher;
}

cIEWindows::~cIEWindows() {
    if (shellSink_) shellSink_->Disconnect();
    ReleaseSinks(colWindows_);
    shellEvents_.Disconnect();
    winShell_.reset();
}

void cIEWindows::WaitForRebuild(const char* what) const {
    // On this one thread a running rebuild is always beneath the caller and cannot go on until
    // the caller returns: report it rather than wait forever on a half-built collection.
    if (bRefreshing_) throw WatcherBusy(std::string(what) + ": the browser windows are being rebuilt");
}

std::shared_ptr<IE_Class> cIEWindows::SinkOf(IUnknown* identity) const {
    if (!identity) return nullptr;
    for (const Window& w : colWindows_) {
        if (w.identity.get() == identity) return w.sink;
    }
    return nullptr;
}

std::shared_ptr<IE_Class> cIEWindows::IE(IUnknown* browser) const {
    WaitForRebuild("IE");
    const ComPtr<IUnknown> identity = BrowserIdentity(browser);
    if (std::shared_ptr<IE_Class> sink = SinkOf(identity.get())) return sink;
    throw NoSuchWindow("IE: that browser has no sink");
}

std::shared_ptr<IE_Class> cIEWindows::IE(std::wstring_view handle) const {
    WaitForRebuild("IE");
    for (const Window& w : colWindows_) {
        if (std::to_wstring(w.sink->IEHandle()) == handle) return w.sink;
    }
    throw NoSuchWindow("IE: no browser window with that handle");
}

std::shared_ptr<IE_Class> cIEWindows::IE(long position) const {
    WaitForRebuild("IE");
    if (position < 1 || position > Count()) throw NoSuchWindow("IE: no browser window at that position");
    return colWindows_[static_cast<size_t>(position - 1)].sink;
}

std::vector<std::shared_ptr<IE_Class>> cIEWindows::NewEnum() const {
    std::vector<std::shared_ptr<IE_Class>> sinks;
    sinks.reserve(colWindows_.size());
    for (const Window& w : colWindows_) sinks.push_back(w.sink);
    return sinks;
}

void cIEWindows::AddListener(IEWindowsEvents* listener) {
    if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
        listeners_.push_back(listener);
}

void cIEWindows::RemoveListener(IEWindowsEvents* listener) {
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void cIEWindows::FireIEEvent(int code, LONG hwnd, const std::vector<Variant>& given) {
    std::vector<Variant> args = given;
    args.resize(IEEventArgCount(code));
    // Listeners removed by an earlier listener of the same event are not called.
    for (IEWindowsEvents* l : ListenersSnapshot()) {
        if (std::find(listeners_.begin(), listeners_.end(), l) == listeners_.end()) continue;
        switch (code) {
            case ieNavigationBegin:
                l->IENavigationBegin(hwnd, VariantToDispatch(args[0].get()).get(), args[1].get(), args[2].get(),
                                     args[3].get(), args[4].get(), args[5].get(), VariantToBool(args[6].get()));
                break;
            case ieNavigationComplete:
                l->IENavigationComplete(hwnd, VariantToDispatch(args[0].get()).get(), args[1].get());
                break;
            case ieDocumentComplete:
                l->IEDocumentComplete(hwnd, VariantToDispatch(args[0].get()).get(), args[1].get());
                break;
            case ieDownloadBegin: l->IEDownloadBegin(hwnd); break;
            case ieDownloadComplete: l->IEDownloadComplete(hwnd); break;
            case ieOnContextMenu: l->IEOnContextMenu(hwnd); break;
            case ieMouseDown:
                l->IEMouseDown(hwnd, VariantToShort(args[0].get()), VariantToShort(args[1].get()),
                               VariantToFloat(args[2].get()), VariantToFloat(args[3].get()));
                break;
            case ieMouseUp:
                l->IEMouseUp(hwnd, VariantToShort(args[0].get()), VariantToShort(args[1].get()),
                             VariantToFloat(args[2].get()), VariantToFloat(args[3].get()));
                break;
            case ieCommandStateChange:
                l->IECommandStateChange(hwnd, VariantToLong(args[0].get()), VariantToBool(args[1].get()));
                break;
            default: return;
        }
    }
}

std::shared_ptr<IE_Class> cIEWindows::AddIEWindow(IDispatch* ie) { return AddIEWindow(ie, generation_); }

std::shared_ptr<IE_Class> cIEWindows::AddIEWindow(IDispatch* ie, unsigned generation) {
    // Keyed by identity, not by window handle: the tabs of one window share the handle, and each
    // needs a sink of its own or its pop-ups get through.
    ComPtr<IUnknown> identity = BrowserIdentity(ie);
    if (!identity) return nullptr;
    if (std::shared_ptr<IE_Class> existing = SinkOf(identity.get())) return existing;

    // Web browsers only. A File Explorer window would be probed too, and a probe whose cancelled
    // navigation never comes leaves bSuppressNext set to swallow the user's next one.
    ComPtr<IWebBrowser2> window;
    ie->QueryInterface(IID_IWebBrowser2, window.put_void());
    const bool browser = IsWebBrowserWindow(window.get());
    // Each call into the browser's process may let a newer rebuild in: its collection stands.
    if (!browser || generation != generation_) return nullptr;

    std::shared_ptr<IE_Class> sink = IE_Class::Create();
    sink->SetIEctl(ie);
    if (generation != generation_) return sink;
    if (std::shared_ptr<IE_Class> existing = SinkOf(identity.get())) return existing;
    colWindows_.push_back({std::move(identity), sink});
    return sink;
}

void cIEWindows::RefreshWindows() {
    const unsigned generation = ++generation_;
    bRefreshing_ = true;
    try {
        ReleaseSinks(colWindows_);

        ComPtr<IShellWindows> windows;
        if (generation == generation_ && factory_ && FAILED(factory_(windows.put()))) windows.reset();
        ComPtr<IEnumVARIANT> items;
        if (windows && generation == generation_) {
            ComPtr<IUnknown> unknown;
            if (SUCCEEDED(windows->_NewEnum(unknown.put())) && unknown)
                items = unknown.As<IEnumVARIANT>(IID_IEnumVARIANT);
        }
        while (items && generation == generation_) {
            Variant item;
            ULONG fetched = 0;
            if (items->Next(1, item.put(), &fetched) != S_OK || fetched != 1) break;
            if (generation != generation_) break;
            // An item that cannot be taken as a browser is not added.
            ComPtr<IDispatch> disp = VariantToDispatch(item.get());
            ComPtr<IWebBrowser2> browser = disp.As<IWebBrowser2>(IID_IWebBrowser2);
            if (browser) AddIEWindow(browser.get(), generation);
        }
        items.reset();
        SetWinShell(std::move(windows), generation);
    } catch (...) {
        // Every failure of the rebuild is ignored; what was built so far stays.
    }
    if (generation == generation_) bRefreshing_ = false;
}

void cIEWindows::SetWinShell(ComPtr<IShellWindows> windows, unsigned generation) {
    if (generation != generation_) return;
    shellEvents_.Disconnect();
    winShell_.reset();
    // Each of these calls may let a newer rebuild in, which then holds the subscription itself.
    if (generation != generation_ || !windows) return;
    EventConnection connection;
    connection.Connect(windows.get(), kDShellWindowsEvents, shellSink_.get());
    if (generation != generation_) return;
    // A list that offers no notices tells of no new window; holding it would only keep the
    // shell's process serving a proxy for nothing. The next rebuild asks for a new one anyway.
    if (!connection.connected()) return;
    winShell_ = std::move(windows);
    shellEvents_ = std::move(connection);
}

HRESULT cIEWindows::OnShellEvent(DISPID id, const DISPPARAMS* params) {
    const EventArgs args(params);
    const VARIANT* cookie = args.value(0);
    const LONG lCookie = cookie ? VariantToLong(*cookie) : 0;
    if (id == DISPID_WINDOWREGISTERED) winShell_WindowRegistered(lCookie);
    else if (id == DISPID_WINDOWREVOKED) winShell_WindowRevoked(lCookie);
    return S_OK;
}

// The rebuild run here is the newest one, so its collection is complete when the event goes out;
// a rebuild that this notice interrupted has been superseded and stores nothing more.
void cIEWindows::winShell_WindowRegistered(LONG) {
    RefreshWindows();
    for (IEWindowsEvents* l : ListenersSnapshot()) {
        if (std::find(listeners_.begin(), listeners_.end(), l) != listeners_.end()) l->IEWindowRegistered();
    }
}

void cIEWindows::winShell_WindowRevoked(LONG) {
    RefreshWindows();
    for (IEWindowsEvents* l : ListenersSnapshot()) {
        if (std::find(listeners_.begin(), listeners_.end(), l) != listeners_.end()) l->IEWindowRevoked();
    }
}

}  // namespace tovra::popup
