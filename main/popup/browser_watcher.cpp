#include "main/popup/browser_watcher.h"

#include <exdispid.h>

#include <algorithm>

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

DWORD ShellWindowsClassContext() {
    // Windows serves the list from the shell's process, which is where it must come from.
    // Wine serves it from its desktop process without notices or items (get_Count and _NewEnum
    // E_NOTIMPL, no IConnectionPointContainer), and an out-of-process request there was measured
    // to end the desktop process seconds later, taking every window of the program with it. So
    // under Wine only an in-process list would do; Wine has none (CLASS_E_CLASSNOTAVAILABLE).
    return compat::RunsUnderWine() ? CLSCTX_INPROC_SERVER : CLSCTX_ALL;
}

HRESULT CreateShellWindows(IShellWindows** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return ::CoCreateInstance(kCLSID_ShellWindows, nullptr, ShellWindowsClassContext(), kIID_IShellWindows,
                              reinterpret_cast<void**>(out));
}

BrowserWatcher::BrowserWatcher(WatcherSetup setup) : setup_(std::move(setup)) {
    if (!setup_.input) setup_.input = SystemInputState();
}

std::shared_ptr<BrowserWatcher> BrowserWatcher::Create(WatcherSetup setup) {
    std::shared_ptr<BrowserWatcher> watcher(new BrowserWatcher(std::move(setup)));
    const std::weak_ptr<BrowserWatcher> weak = watcher;
    watcher->shellSink_ = DispatchEventSink::Create(kDShellWindowsEvents, [weak](DISPID id, const DISPPARAMS*, VARIANT*) {
        // Held for the call: a listener of the notice may let the watcher go.
        std::shared_ptr<BrowserWatcher> self = weak.lock();
        return self ? self->OnShellEvent(id) : S_OK;
    });
    watcher->Rebuild();
    return watcher;
}

BrowserWatcher::~BrowserWatcher() {
    if (shellSink_) shellSink_->Disconnect();
    ReleaseSinks(windows_);
    shellEvents_.Disconnect();
    shellList_.reset();
}

void BrowserWatcher::RefuseDuringRebuild(const char* what) const {
    // On this one thread a running rebuild is always beneath the caller and cannot go on until
    // the caller returns: report it rather than wait forever on a half-built collection.
    if (rebuilding_) throw WatcherBusy(std::string(what) + ": the browser windows are being rebuilt");
}

std::shared_ptr<BrowserSink> BrowserWatcher::SinkOf(IUnknown* identity) const {
    if (!identity) return nullptr;
    for (const Window& w : windows_) {
        if (w.identity.get() == identity) return w.sink;
    }
    return nullptr;
}

std::shared_ptr<BrowserSink> BrowserWatcher::Sink(IUnknown* browser) const {
    RefuseDuringRebuild("Sink");
    const ComPtr<IUnknown> identity = BrowserIdentity(browser);
    if (std::shared_ptr<BrowserSink> sink = SinkOf(identity.get())) return sink;
    throw NoSuchWindow("Sink: that browser has no sink");
}

std::shared_ptr<BrowserSink> BrowserWatcher::Sink(std::wstring_view handle) const {
    RefuseDuringRebuild("Sink");
    for (const Window& w : windows_) {
        if (std::to_wstring(w.sink->WindowHandle()) == handle) return w.sink;
    }
    throw NoSuchWindow("Sink: no browser window with that handle");
}

std::shared_ptr<BrowserSink> BrowserWatcher::Sink(long position) const {
    RefuseDuringRebuild("Sink");
    if (position < 1 || position > Count()) throw NoSuchWindow("Sink: no browser window at that position");
    return windows_[static_cast<size_t>(position - 1)].sink;
}

std::vector<std::shared_ptr<BrowserSink>> BrowserWatcher::Sinks() const {
    std::vector<std::shared_ptr<BrowserSink>> sinks;
    sinks.reserve(windows_.size());
    for (const Window& w : windows_) sinks.push_back(w.sink);
    return sinks;
}

void BrowserWatcher::AddListener(BrowserWatcherEvents* listener) {
    if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
        listeners_.push_back(listener);
}

void BrowserWatcher::RemoveListener(BrowserWatcherEvents* listener) {
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

template <typename Call>
void BrowserWatcher::TellListeners(Call call) {
    // Listeners removed by an earlier listener of the same event are not called.
    const std::vector<BrowserWatcherEvents*> snapshot = listeners_;
    for (BrowserWatcherEvents* l : snapshot) {
        if (std::find(listeners_.begin(), listeners_.end(), l) != listeners_.end()) call(*l);
    }
}

void BrowserWatcher::Report(BrowserReport report, LONG hwnd, std::vector<Variant> args) {
    if (report < BrowserReport::NavigationBegin || report > BrowserReport::CommandStateChange) return;
    args.resize(ReportArgCount(report));
    switch (report) {
        case BrowserReport::NavigationBegin: {
            const bool cancel = VariantToBool(args[6].get());
            TellListeners([&](BrowserWatcherEvents& l) {
                l.NavigationBegin(hwnd, VariantToDispatch(args[0].get()).get(), args[1].get(), args[2].get(),
                                  args[3].get(), args[4].get(), args[5].get(), cancel);
            });
            break;
        }
        case BrowserReport::NavigationComplete:
            TellListeners([&](BrowserWatcherEvents& l) {
                l.NavigationComplete(hwnd, VariantToDispatch(args[0].get()).get(), args[1].get());
            });
            break;
        case BrowserReport::DocumentComplete:
            TellListeners([&](BrowserWatcherEvents& l) {
                l.DocumentComplete(hwnd, VariantToDispatch(args[0].get()).get(), args[1].get());
            });
            break;
        case BrowserReport::DownloadBegin: TellListeners([&](BrowserWatcherEvents& l) { l.DownloadBegin(hwnd); }); break;
        case BrowserReport::DownloadComplete:
            TellListeners([&](BrowserWatcherEvents& l) { l.DownloadComplete(hwnd); });
            break;
        case BrowserReport::ContextMenu: TellListeners([&](BrowserWatcherEvents& l) { l.ContextMenu(hwnd); }); break;
        case BrowserReport::MouseDown:
        case BrowserReport::MouseUp: {
            const SHORT button = VariantToShort(args[0].get());
            const SHORT shift = VariantToShort(args[1].get());
            const float x = VariantToFloat(args[2].get());
            const float y = VariantToFloat(args[3].get());
            if (report == BrowserReport::MouseDown)
                TellListeners([&](BrowserWatcherEvents& l) { l.MouseDown(hwnd, button, shift, x, y); });
            else
                TellListeners([&](BrowserWatcherEvents& l) { l.MouseUp(hwnd, button, shift, x, y); });
            break;
        }
        case BrowserReport::CommandStateChange: {
            const LONG command = VariantToLong(args[0].get());
            const bool enable = VariantToBool(args[1].get());
            TellListeners([&](BrowserWatcherEvents& l) { l.CommandStateChange(hwnd, command, enable); });
            break;
        }
        default: break;
    }
}

std::shared_ptr<BrowserSink> BrowserWatcher::Attach(IDispatch* browser) { return Attach(browser, generation_); }

std::shared_ptr<BrowserSink> BrowserWatcher::Attach(IDispatch* browser, unsigned generation) {
    // Keyed by identity, not by window handle: the tabs of one window share the handle, and each
    // needs a sink of its own or its pop-ups get through.
    ComPtr<IUnknown> identity = BrowserIdentity(browser);
    if (!identity) return nullptr;
    if (std::shared_ptr<BrowserSink> existing = SinkOf(identity.get())) return existing;

    // Web browsers only. A File Explorer window would be probed too, and a probe whose cancelled
    // navigation never comes leaves the suppress flag set to swallow the user's next one.
    ComPtr<IWebBrowser2> window;
    browser->QueryInterface(IID_IWebBrowser2, window.put_void());
    const bool isBrowser = IsWebBrowserWindow(window.get());
    // Each call into the browser's process may let a newer rebuild in: its collection stands.
    if (!isBrowser || generation != generation_) return nullptr;

    std::shared_ptr<BrowserSink> sink = BrowserSink::Create({weak_from_this(), setup_.blocker, setup_.input});
    sink->Attach(browser);
    if (generation != generation_) return sink;
    if (std::shared_ptr<BrowserSink> existing = SinkOf(identity.get())) return existing;
    windows_.push_back({std::move(identity), sink});
    return sink;
}

void BrowserWatcher::Rebuild() {
    const unsigned generation = ++generation_;
    rebuilding_ = true;
    try {
        ReleaseSinks(windows_);

        ComPtr<IShellWindows> list;
        if (generation == generation_ && setup_.shellWindows && FAILED(setup_.shellWindows(list.put()))) list.reset();
        ComPtr<IEnumVARIANT> items;
        if (list && generation == generation_) {
            ComPtr<IUnknown> unknown;
            if (SUCCEEDED(list->_NewEnum(unknown.put())) && unknown)
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
            if (browser) Attach(browser.get(), generation);
        }
        items.reset();
        KeepShellList(std::move(list), generation);
    } catch (...) {
        // Every failure of the rebuild is ignored; what was built so far stays.
    }
    if (generation == generation_) rebuilding_ = false;
}

void BrowserWatcher::KeepShellList(ComPtr<IShellWindows> list, unsigned generation) {
    if (generation != generation_) return;
    shellEvents_.Disconnect();
    shellList_.reset();
    // Each of these calls may let a newer rebuild in, which then holds the subscription itself.
    if (generation != generation_ || !list) return;
    EventConnection connection;
    connection.Connect(list.get(), kDShellWindowsEvents, shellSink_.get());
    if (generation != generation_) return;
    // A list that offers no notices tells of no new window; holding it would only keep the
    // shell's process serving a proxy for nothing. The next rebuild asks for a new one anyway.
    if (!connection.connected()) return;
    shellList_ = std::move(list);
    shellEvents_ = std::move(connection);
}

HRESULT BrowserWatcher::OnShellEvent(DISPID id) {
    // The notices' cookie names the window in the shell's list; the rebuild reads the whole list.
    if (id == DISPID_WINDOWREGISTERED) OnWindowRegistered();
    else if (id == DISPID_WINDOWREVOKED) OnWindowRevoked();
    return S_OK;
}

// The rebuild run here is the newest one, so its collection is complete when the event goes out;
// a rebuild that this notice interrupted has been superseded and stores nothing more.
void BrowserWatcher::OnWindowRegistered() {
    Rebuild();
    TellListeners([](BrowserWatcherEvents& l) { l.WindowRegistered(); });
}

void BrowserWatcher::OnWindowRevoked() {
    Rebuild();
    TellListeners([](BrowserWatcherEvents& l) { l.WindowRevoked(); });
}

}  // namespace tovra::popup
