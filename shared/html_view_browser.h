// The web browser control behind an HTML view: the control hosted in a child window, the events
// that tell how its navigation ends, and writing a page into its document.
#pragma once
#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>

#include <functional>
#include <string>

#include "shared/win_handles.h"

namespace tovra {

// A browser control in a child window: the window holds the control, the pointer drives it.
struct BrowserControl {
    HWND window = nullptr;
    ComPtr<IWebBrowser2> browser;
};

// Makes a browser control as a child window of parent at rc (client pixels) with the given
// control id; both members empty when no control can be had. The view owns the window from then
// on and destroys it. Tests hand in doubles of the control here.
using BrowserFactory = std::function<BrowserControl(HWND parent, int id, const RECT& rc)>;

// The system's web browser control ("Shell.Explorer.2") in atl.dll's host window.
BrowserControl HostBrowserControl(HWND parent, int id, const RECT& rc);

// Hears, while it lives, how the navigations of one browser end (its DWebBrowserEvents2).
class NavigationEvents {
public:
    class Listener {
    public:
        virtual void DocumentComplete() = 0;  // the top-level document has loaded
        virtual void NavigateError() = 0;     // the top-level navigation failed

    protected:
        ~Listener() = default;
    };

    NavigationEvents(IWebBrowser2* browser, Listener& listener);
    ~NavigationEvents();  // from here on the listener hears nothing, even from a late event
    NavigationEvents(const NavigationEvents&) = delete;
    NavigationEvents& operator=(const NavigationEvents&) = delete;

    // False when the browser offers no events: then only its ready state tells.
    bool connected() const { return cookie_ != 0; }

private:
    class Sink;
    ComPtr<IConnectionPoint> point_;
    Sink* sink_ = nullptr;  // one reference of ours
    DWORD cookie_ = 0;
};

// The browser's ready state; READYSTATE_UNINITIALIZED where it cannot tell.
READYSTATE ReadyStateOf(IWebBrowser2* browser);

// Writes the page into the browser's current document as one string and closes the document.
// False when there is no document or it takes no HTML.
bool WriteDocument(IWebBrowser2* browser, const std::wstring& html);

}  // namespace tovra
