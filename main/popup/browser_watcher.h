// The watcher of the shell's browser windows. Keeps one BrowserSink on every web browser of the
// shell's ShellWindows list, rebuilds them all on each registered or revoked notice, and turns the
// sinks' reports into eleven events for its listeners.
#pragma once
#include <windows.h>
#include <exdisp.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "main/popup/blocker_switch.h"
#include "main/popup/browser_sink.h"
#include "main/popup/com_events.h"
#include "main/popup/input_state.h"

namespace tovra::popup {

// The watcher's events. Every argument is a copy: nothing a listener does reaches a sink. Each
// event but the first two names the browser's top-level window whose sink reported it.
class BrowserWatcherEvents {
public:
    virtual ~BrowserWatcherEvents() = default;
    virtual void WindowRegistered() {}
    virtual void WindowRevoked() {}
    virtual void NavigationBegin(LONG hwnd, IDispatch* browser, const VARIANT& url, const VARIANT& flags,
                                 const VARIANT& targetFrame, const VARIANT& postData, const VARIANT& headers,
                                 bool cancel) {}
    virtual void NavigationComplete(LONG hwnd, IDispatch* browser, const VARIANT& url) {}
    virtual void DocumentComplete(LONG hwnd, IDispatch* browser, const VARIANT& url) {}
    virtual void DownloadBegin(LONG hwnd) {}
    virtual void DownloadComplete(LONG hwnd) {}
    virtual void ContextMenu(LONG hwnd) {}
    virtual void MouseDown(LONG hwnd, SHORT button, SHORT shift, float x, float y) {}
    virtual void MouseUp(LONG hwnd, SHORT button, SHORT shift, float x, float y) {}
    virtual void CommandStateChange(LONG hwnd, LONG command, bool enable) {}
};

// Sink(key) or Sink(position) named no sink of the collection.
class NoSuchWindow : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

// Sink was called from within a rebuild (a listener of an event that the rebuild itself caused).
// The rebuild can only finish after the caller returns, so waiting for it would never end.
class WatcherBusy : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Makes the shell's window list; the watcher asks for a new one on every rebuild.
using ShellWindowsFactory = std::function<HRESULT(IShellWindows** out)>;
// CoCreateInstance(CLSID_ShellWindows) in the class context below.
HRESULT CreateShellWindows(IShellWindows** out);
// Where the shell's list may come from: anywhere (CLSCTX_ALL) on Windows; under Wine, whose
// desktop process serves a list without notices or items, in process only (see the .cpp).
DWORD ShellWindowsClassContext();

// The browser's COM identity (the pointer QueryInterface gives for IUnknown), the same through any
// of its interfaces; empty when it has none. The watcher tells its windows apart by it: every tab
// of an Internet Explorer 7 to 11 window reports the window's handle, so handles repeat.
ComPtr<IUnknown> BrowserIdentity(IUnknown* browser);
// Whether a program's full path names the web browser: its file name is iexplore.exe, in any case.
bool IsWebBrowserProgram(std::wstring_view fullName);
// Whether a window of the shell's list runs in the web browser's program (get_FullName). File
// Explorer windows share the list and the interface, and answer with explorer.exe.
bool IsWebBrowserWindow(IWebBrowser2* window);

// What a watcher is made with.
struct WatcherSetup {
    ShellWindowsFactory shellWindows = CreateShellWindows;
    // The blocker's switch that the sinks obey; empty: they refuse nothing.
    std::shared_ptr<const BlockerSwitch> blocker;
    // The keyboard and cursor the sinks read; empty: the system's.
    std::shared_ptr<InputState> input;
};

class BrowserWatcher : public std::enable_shared_from_this<BrowserWatcher> {
public:
    // Builds the first set of sinks. Never throws for a failing platform; the list it cannot read
    // is simply empty.
    static std::shared_ptr<BrowserWatcher> Create(WatcherSetup setup);
    // Releases every sink, then the window list and its subscription.
    ~BrowserWatcher();
    BrowserWatcher(const BrowserWatcher&) = delete;
    BrowserWatcher& operator=(const BrowserWatcher&) = delete;

    // The sink of a browser, reached through any of its interfaces. Throws NoSuchWindow for a
    // browser that has none, WatcherBusy when called from within the rebuild.
    std::shared_ptr<BrowserSink> Sink(IUnknown* browser) const;
    // The first sink, in collection order, whose browser window has this handle as decimal text.
    // The tabs of one window share its handle: Sink(browser) tells them apart. Errors as above.
    std::shared_ptr<BrowserSink> Sink(std::wstring_view handle) const;
    // The sink at a position counting from 1; errors as above.
    std::shared_ptr<BrowserSink> Sink(long position) const;
    long Count() const { return static_cast<long>(windows_.size()); }
    // The sinks in collection order; a snapshot, so a rebuild during the loop does no harm.
    std::vector<std::shared_ptr<BrowserSink>> Sinks() const;

    void AddListener(BrowserWatcherEvents* listener);
    void RemoveListener(BrowserWatcherEvents* listener);

    // Called by this watcher's sinks: fits the arguments to the report's list (missing ones
    // empty, extra ones dropped) and raises the report's event with them converted to the event's
    // types; nothing for a code outside the list.
    void Report(BrowserReport report, LONG hwnd, std::vector<Variant> args);
    // Set while one of this watcher's sinks probes its forward history: the next navigation
    // start in any of its sinks is cancelled, or else the next context menu suppressed; either
    // clears it. Other watchers' sinks neither see nor touch it.
    bool SuppressNext() const { return suppressNext_; }
    void SetSuppressNext(bool on) { suppressNext_ = on; }

    // Attaches a new sink to a web browser and stores it under the browser's identity. A browser
    // that already has a sink keeps it (and gets it back); a window that is no web browser, or has
    // no identity, gets none (empty).
    std::shared_ptr<BrowserSink> Attach(IDispatch* browser);
    // The rebuild: every sink is released and each listed window gets a new one.
    void Rebuild();
    // The shell's notices: each rebuilds, then tells the listeners.
    void OnWindowRegistered();
    void OnWindowRevoked();

    bool Rebuilding() const { return rebuilding_; }
    // The window list whose notices reach this watcher (none when it offered no notices: such a
    // list is not kept), and whether it offered them.
    ComPtr<IShellWindows> ShellList() const { return shellList_; }
    bool SubscribedToShell() const { return shellEvents_.connected(); }

private:
    explicit BrowserWatcher(WatcherSetup setup);
    std::shared_ptr<BrowserSink> Attach(IDispatch* browser, unsigned generation);
    void KeepShellList(ComPtr<IShellWindows> list, unsigned generation);
    std::shared_ptr<BrowserSink> SinkOf(IUnknown* identity) const;
    HRESULT OnShellEvent(DISPID id);
    void RefuseDuringRebuild(const char* what) const;
    template <typename Call>
    void TellListeners(Call call);

    WatcherSetup setup_;
    // One sink per browser, keyed by the browser's identity. The key holds a reference, so no
    // other object can take the same address while the entry stands.
    struct Window {
        ComPtr<IUnknown> identity;
        std::shared_ptr<BrowserSink> sink;
    };
    std::vector<Window> windows_;
    ComPtr<IShellWindows> shellList_;
    ComPtr<DispatchEventSink> shellSink_;
    EventConnection shellEvents_;
    bool rebuilding_ = false;
    bool suppressNext_ = false;
    // Each rebuild takes a number; one entered again from within it supersedes it, and the older
    // one then stores nothing more, so the collection is always that of the newest rebuild.
    unsigned generation_ = 0;
    std::vector<BrowserWatcherEvents*> listeners_;
};

}  // namespace tovra::popup
