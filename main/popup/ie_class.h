// IE_Class: the event sink attached to one browser window of the shell's list. It refuses new
// windows while the blocker runs (unless Ctrl is down), probes the forward history, tracks the
// back/forward state and reports what it sees to the watcher.
#pragma once
#include <windows.h>
#include <exdisp.h>

#include <memory>

#include "main/popup/com_events.h"

namespace tovra::popup {

class IE_Class : public std::enable_shared_from_this<IE_Class> {
public:
    // Sinks are shared: the watcher's collection and any caller of cIEWindows::IE hold them.
    static std::shared_ptr<IE_Class> Create();
    // Class_Terminate: ends both subscriptions and drops the browser and its document.
    ~IE_Class();
    IE_Class(const IE_Class&) = delete;
    IE_Class& operator=(const IE_Class&) = delete;

    // IEctl (set): attaches the sink to a browser object. Every failing step is skipped.
    void SetIEctl(IDispatch* browser);
    // IEctl (get): the attached browser object (empty when it is not a browser).
    ComPtr<IWebBrowser2> IEctl() const { return IE_; }
    LONG IEHandle() const { return nIEHandle_; }
    bool EnableForward() const { return EnableForward_; }
    bool EnableBack() const { return EnableBack_; }
    // The document the browser showed when the sink was attached (empty if it had none).
    ComPtr<IDispatch> IEDoc() const { return IEDoc_; }
    bool SubscribedToBrowser() const { return browserEvents_.connected(); }
    bool SubscribedToDocument() const { return documentEvents_.connected(); }

    // Sinks alive in this process, for leak checks.
    static long LiveCount();

private:
    IE_Class();

    HRESULT OnBrowserEvent(DISPID id, const DISPPARAMS* params);
    HRESULT OnDocumentEvent(DISPID id, VARIANT* result);

    void IE_BeforeNavigate2(const EventArgs& args);
    void IE_NavigateComplete2(const EventArgs& args);
    void IE_DocumentComplete(const EventArgs& args);
    void IE_DownloadBegin();
    void IE_DownloadComplete();
    void IE_CommandStateChange(const EventArgs& args);
    void IE_NewWindow2(const EventArgs& args);
    bool IEDoc_oncontextmenu();
    void IEDoc_onmousedown();
    void IEDoc_onmouseup();
    // Cursor in the browser window's client coordinates, as pixels.
    POINT ClientCursor() const;
    static SHORT ShiftState();

    ComPtr<IWebBrowser2> IE_;
    ComPtr<IDispatch> IEDoc_;
    LONG nIEHandle_ = 0;
    bool EnableForward_ = false;
    bool EnableBack_ = false;
    bool bLeftDown_ = false;
    bool bRightDown_ = false;

    ComPtr<DispatchEventSink> browserSink_;
    ComPtr<DispatchEventSink> documentSink_;
    EventConnection browserEvents_;
    EventConnection documentEvents_;
};

}  // namespace tovra::popup
