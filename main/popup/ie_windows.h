// cIEWindows: the watcher of the shell's browser windows. Keeps one IE_Class sink on every web
// browser of the shell's ShellWindows list, rebuilds them all on each registered or revoked notice,
// and turns the sinks' reports into eleven events for its listeners.
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

#include "main/popup/com_events.h"
#include "main/popup/ie_class.h"

namespace tovra::popup {

// The watcher's events. Every argument is a copy: nothing a listener does reaches a sink.
class IEWindowsEvents {
public:
    virtual ~IEWindowsEvents() = default;
    virtual void IEWindowRegistered() {}
    virtual void IEWindowRevoked() {}
    virtual void IENavigationBegin(LONG hwnd, IDispatch* pDisp, const VARIANT& URL, const VARIANT& Flags,
                                   const VARIANT& TargetFrameName, const VARIANT& PostData, const VARIANT& Headers,
                                   bool Cancel) {}
    virtual void IENavigationComplete(LONG hwnd, IDispatch* pDisp, const VARIANT& URL) {}
    virtual void IEDocumentComplete(LONG hwnd, IDispatch* pDisp, const VARIANT& URL) {}
    virtual void IEDownloadBegin(LONG hwnd) {}
    virtual void IEDownloadComplete(LONG hwnd) {}
    virtual void IEOnContextMenu(LONG hwnd) {}
    virtual void IEMouseDown(LONG hwnd, SHORT Button, SHORT Shift, float x, float y) {}
    virtual void IEMouseUp(LONG hwnd, SHORT Button, SHORT Shift, float x, float y) {}
    virtual void IECommandStateChange(LONG hwnd, LONG Command, bool Enable) {}
};

// IE(key) or IE(position) named no sink of the collection.
class NoSuchWindow : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

// IE was called from within a rebuild (a listener of an event that the rebuild itself caused).
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
bool ShellWindowsServedByWineDesktop();

// The browser's COM identity (the pointer QueryInterface gives for IUnknown), the same through any
// of its interfaces; empty when it has none. The watcher tells its windows apart by it: every tab
// of an Internet Explorer 7 to 11 window reports the window's handle, so handles repeat.
ComPtr<IUnknown> BrowserIdentity(IUnknown* browser);
// Whether a program's full path names the web browser: its file name is iexplore.exe, in any case.
bool IsWebBrowserProgram(std::wstring_view fullName);
// Whether a window of the shell's list runs in the web browser's program (get_FullName). File
// Explorer windows share the list and the interface, and answer with explorer.exe.
bool IsWebBrowserWindow(IWebBrowser2* window);

class cIEWindows : public std::enable_shared_from_this<cIEWindows> {
public:
    // Class_Initialize: takes over lWatcherPtr and builds the first set of sinks. Never throws
    // for a failing platform; the list it cannot read is simply empty.
    static std::shared_ptr<cIEWindows> Create(ShellWindowsFactory factory = CreateShellWindows);
    // Class_Terminate: releases every sink, then the window list and its subscription.
    ~cIEWindows();
    cIEWindows(const cIEWindows&) = delete;
    cIEWindows& operator=(const cIEWindows&) = delete;

    // The sink of a browser, reached through any of its interfaces. Throws NoSuchWindow for a
    // browser that has none, WatcherBusy when called from within the rebuild.
    std::shared_ptr<IE_Class> IE(IUnknown* browser) const;
    // The first sink, in collection order, whose browser window has this handle as decimal text.
    // The tabs of one window share its handle: IE(browser) tells them apart. Errors as above.
    std::shared_ptr<IE_Class> IE(std::wstring_view handle) const;
    // The sink at a position counting from 1; errors as above.
    std::shared_ptr<IE_Class> IE(long position) const;
    long Count() const { return static_cast<long>(colWindows_.size()); }
    // The sinks in collection order; a snapshot, so a rebuild during the loop does no harm.
    std::vector<std::shared_ptr<IE_Class>> NewEnum() const;

    void AddListener(IEWindowsEvents* listener);
    void RemoveListener(IEWindowsEvents* listener);

    // Used inside the subsystem: raises the event that the code stands for (nothing for a code
    // outside 1 to 9) with the arguments converted to the event's types.
    void FireIEEvent(int code, LONG hwnd, const std::vector<Variant>& args);
    // Attaches a new sink to a web browser and stores it under the browser's identity. A browser
    // that already has a sink keeps it (and gets it back); a window that is no web browser, or has
    // no identity, gets none (empty).
    std::shared_ptr<IE_Class> AddIEWindow(IDispatch* ie);
    // The rebuild: every sink is released and each listed window gets a new one.
    void RefreshWindows();
    // The shell's notices; the cookie is not used.
    void winShell_WindowRegistered(LONG lCookie);
    void winShell_WindowRevoked(LONG lCookie);

    bool bRefreshing() const { return bRefreshing_; }
    // The window list whose notices reach this watcher (none when it offered no notices: such a
    // list is not kept), and whether it offered them.
    ComPtr<IShellWindows> winShell() const { return winShell_; }
    bool SubscribedToShell() const { return shellEvents_.connected(); }

private:
    explicit cIEWindows(ShellWindowsFactory factory);
    std::shared_ptr<IE_Class> AddIEWindow(IDispatch* ie, unsigned generation);
    void SetWinShell(ComPtr<IShellWindows> windows, unsigned generation);
    std::shared_ptr<IE_Class> SinkOf(IUnknown* identity) const;
    HRESULT OnShellEvent(DISPID id, const DISPPARAMS* params);
    void WaitForRebuild(const char* what) const;
    std::vector<IEWindowsEvents*> ListenersSnapshot() const { return listeners_; }

    ShellWindowsFactory factory_;
    // colWindows: one sink per browser, keyed by the browser's identity. The key holds a reference,
    // so no other object can take the same address while the entry stands.
    struct Window {
        ComPtr<IUnknown> identity;
        std::shared_ptr<IE_Class> sink;
    };
    std::vector<Window> colWindows_;
    ComPtr<IShellWindows> winShell_;
    ComPtr<DispatchEventSink> shellSink_;
    EventConnection shellEvents_;
    bool bRefreshing_ = false;
    // Each rebuild takes a number; one entered again from within it supersedes it, and the older
    // one then stores nothing more, so the collection is always that of the newest rebuild.
    unsigned generation_ = 0;
    std::vector<IEWindowsEvents*> listeners_;
};

}  // namespace tovra::popup
