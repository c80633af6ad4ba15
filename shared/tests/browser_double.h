// In-process doubles of the web browser control and its document, handed to an HtmlView through
// its browser factory. The double navigates nowhere: the test says when the navigation ends and
// how (the document completes, the navigation fails, or nothing ever comes).
#pragma once
#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>
#include <ocidl.h>

#include <functional>
#include <string>
#include <vector>

#include "shared/html_view_browser.h"
#include "shared/tests/browser_stubs.h"
#include "shared/win_handles.h"

namespace tovra::test {

// What the document double was given.
class FakeDocument final : public HtmlDocumentStub {
public:
    explicit FakeDocument(bool takesHtml) : takesHtml_(takesHtml) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE write(SAFEARRAY* lines) override;
    HRESULT STDMETHODCALLTYPE close() override;

    const std::wstring& written() const { return written_; }  // by the last write
    int writes() const { return writes_; }
    bool closed() const { return closed_; }

private:
    ULONG refs_ = 1;
    bool takesHtml_;
    std::wstring written_;
    int writes_ = 0;
    bool closed_ = false;
};

class FakeBrowser final : public WebBrowserStub, public IConnectionPointContainer, public IConnectionPoint {
public:
    struct Options {
        bool events = true;         // offers DWebBrowserEvents2
        bool takesHtml = true;      // its document is an HTML document
        bool documentEarly = false; // get_Document gives the document before it has completed
        HRESULT navigateResult = S_OK;
        // Called from within Navigate, as an engine that sends its events at once would.
        std::function<void(FakeBrowser&)> duringNavigate;
    };
    explicit FakeBrowser(Options options);

    // The test's side.
    void Complete();       // the document is there and complete: DocumentComplete to every sink
    void CompleteQuietly();  // the same, without an event: only the ready state tells
    void Fail();           // NavigateError to every sink
    void CompleteFrame();  // DocumentComplete for a frame of the page, not the page itself
    void SetReadyState(READYSTATE state) { ready_ = state; }
    int navigations() const { return navigations_; }
    const std::wstring& lastUrl() const { return lastUrl_; }
    bool silent() const { return silent_; }
    size_t sinks() const;
    const FakeDocument& document() const { return *document_; }
    ULONG references() const { return refs_; }

    // IUnknown, once for every interface.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override;

    // IWebBrowser2, what the view uses.
    HRESULT STDMETHODCALLTYPE Navigate(BSTR url, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override;
    HRESULT STDMETHODCALLTYPE get_Document(IDispatch** out) override;
    HRESULT STDMETHODCALLTYPE get_ReadyState(READYSTATE* state) override;
    HRESULT STDMETHODCALLTYPE put_Silent(VARIANT_BOOL silent) override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;
    // IConnectionPoint
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

private:
    ~FakeBrowser() override;
    void Fire(DISPID id, DISPPARAMS& params);

    ULONG refs_ = 1;
    Options options_;
    FakeDocument* document_;  // one reference of ours
    READYSTATE ready_ = READYSTATE_UNINITIALIZED;
    bool completed_ = false;
    int navigations_ = 0;
    std::wstring lastUrl_;
    bool silent_ = false;
    struct Connection {
        DWORD cookie;
        ComPtr<IDispatch> sink;
    };
    std::vector<Connection> sinks_;
    DWORD nextCookie_ = 1;
};

// A browser factory that makes a FakeBrowser in a child window for every view, and keeps them
// for the test to drive.
class FakeBrowsers {
public:
    explicit FakeBrowsers(FakeBrowser::Options options = {}) : options_(std::move(options)) {}
    FakeBrowsers(const FakeBrowsers&) = delete;
    FakeBrowsers& operator=(const FakeBrowsers&) = delete;

    BrowserFactory Factory();
    size_t made() const { return made_.size(); }
    FakeBrowser& operator[](size_t i) { return *made_.at(i).browser.get(); }
    FakeBrowser& last() { return *made_.back().browser.get(); }
    HWND window(size_t i) const { return made_.at(i).window; }

private:
    struct Made {
        HWND window;
        ComPtr<FakeBrowser> browser;
    };
    FakeBrowser::Options options_;
    std::vector<Made> made_;
};

// Lets this thread's window events run until done() holds or ms have passed; true when it held.
bool RunEventsUntil(const std::function<bool()>& done, DWORD ms);
// Lets this thread's window events run for ms.
void RunEventsFor(DWORD ms);

}  // namespace tovra::test
