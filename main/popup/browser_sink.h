// The event sink attached to one browser window of the shell's list. It refuses new windows while
// the blocker runs (unless Ctrl is down), probes the forward history, tracks the back/forward
// state and reports what it sees to the watcher that made it.
#pragma once
#include <windows.h>
#include <exdisp.h>

#include <memory>
#include <vector>

#include "main/popup/blocker_switch.h"
#include "main/popup/com_events.h"
#include "main/popup/input_state.h"

namespace tovra::popup {

class BrowserWatcher;

// What a sink reports; the watcher turns each into one of its events.
enum class BrowserReport : int {
    NavigationBegin = 1,     // BeforeNavigate2: browser, url, flags, target frame, post data, headers, cancel
    NavigationComplete = 2,  // NavigateComplete2: browser, url
    DownloadBegin = 3,
    DownloadComplete = 4,
    DocumentComplete = 5,    // DocumentComplete of the top-level page: browser, url
    MouseDown = 6,           // button, shift, x, y
    MouseUp = 7,             // button, shift, x, y
    ContextMenu = 8,
    CommandStateChange = 9,  // command, enable
};

// How many arguments the watcher's event for a report takes (0 for a code outside the list).
size_t ReportArgCount(BrowserReport report);

// What a sink is given by the watcher that makes it.
struct SinkLinks {
    // Where the reports go and the suppress flag that all of that watcher's sinks share. Never
    // owning: no sink keeps its watcher alive, and one that outlives it reports to nobody.
    std::weak_ptr<BrowserWatcher> watcher;
    // Refuses new windows while on; empty: never refuses.
    std::shared_ptr<const BlockerSwitch> blocker;
    // Empty: the system's keyboard and cursor.
    std::shared_ptr<InputState> input;
};

class BrowserSink : public std::enable_shared_from_this<BrowserSink> {
public:
    // Sinks are shared: the watcher's collection and any caller of BrowserWatcher::Sink hold them.
    static std::shared_ptr<BrowserSink> Create(SinkLinks links = {});
    // Ends both subscriptions and drops the browser and its document.
    ~BrowserSink();
    BrowserSink(const BrowserSink&) = delete;
    BrowserSink& operator=(const BrowserSink&) = delete;

    // Attaches the sink to a browser object: subscribes to it and its document, reads its window
    // and probes its forward history. Every failing step is skipped.
    void Attach(IDispatch* browser);
    // The attached browser object (empty when it is not a browser).
    ComPtr<IWebBrowser2> Browser() const { return browser_; }
    // The browser's top-level window, as the reports name it.
    LONG WindowHandle() const { return windowHandle_; }
    bool CanGoForward() const { return canGoForward_; }
    bool CanGoBack() const { return canGoBack_; }
    // The document the browser showed when the sink was attached (empty if it had none).
    ComPtr<IDispatch> Document() const { return document_; }
    bool SubscribedToBrowser() const { return browserEvents_.connected(); }
    bool SubscribedToDocument() const { return documentEvents_.connected(); }
    // The watcher this sink reports to; empty once that watcher has gone.
    std::shared_ptr<BrowserWatcher> Watcher() const { return links_.watcher.lock(); }

    // Sinks alive in this process, for leak checks.
    static long LiveCount();

private:
    explicit BrowserSink(SinkLinks links);

    HRESULT OnBrowserEvent(DISPID id, const DISPPARAMS* params);
    HRESULT OnDocumentEvent(DISPID id, VARIANT* result);

    void OnBeforeNavigate(const EventArgs& args);
    void OnNavigateComplete(const EventArgs& args);
    void OnDocumentComplete(const EventArgs& args);
    void OnCommandStateChange(const EventArgs& args);
    void OnNewWindow(const EventArgs& args);
    bool OnContextMenu();
    void OnMouseDown();
    void OnMouseUp();

    void Report(BrowserReport report, std::vector<Variant> args = {}) const;
    // Reads the watcher's suppress flag and clears it; false without a watcher.
    bool TakeSuppressNext() const;
    void SetSuppressNext(bool on) const;
    bool BlockerOn() const { return links_.blocker && links_.blocker->on(); }
    // Cursor in the browser window's client coordinates, as pixels.
    POINT ClientCursor() const;
    SHORT ShiftState() const;

    SinkLinks links_;
    ComPtr<IWebBrowser2> browser_;
    ComPtr<IDispatch> document_;
    LONG windowHandle_ = 0;
    bool canGoForward_ = false;
    bool canGoBack_ = false;
    // The last press was taken as the left (or the other) button, and its release is to come.
    bool leftDown_ = false;
    bool rightDown_ = false;

    ComPtr<DispatchEventSink> browserSink_;
    ComPtr<DispatchEventSink> documentSink_;
    EventConnection browserEvents_;
    EventConnection documentEvents_;
};

}  // namespace tovra::popup
