// Test doubles of the platform objects the pop-up blocker talks to: the shell's window list with
// its registered/revoked notices, browsers with DWebBrowserEvents2 and documents with
// HTMLDocumentEvents. Their connection points call the sinks' Invoke with the DISPIDs and argument
// layouts the real objects use (arguments last to first, Cancel as VT_BYREF|VT_BOOL, URL and
// friends as VT_BYREF|VT_VARIANT, ppDisp as VT_BYREF|VT_DISPATCH). Every double counts the
// references held on it, so tests can prove that nothing is leaked or kept in a cycle.
#pragma once
#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "shared/win_handles.h"

namespace tovra::popup::test {

extern const IID kDWebBrowserEvents2;
extern const IID kHTMLDocumentEvents;
extern const IID kDShellWindowsEvents;

// One connection point of a double; its references count on the owner, as COM requires.
class FakeConnectionPoint final : public IConnectionPoint {
public:
    FakeConnectionPoint(IUnknown* owner, IConnectionPointContainer* container, REFIID events)
        : owner_(owner), container_(container), events_(events) {}

    size_t connections() const { return sinks_.size(); }
    int advises() const { return advises_; }
    // Calls Invoke on every connected sink; args in declaration order.
    void Fire(DISPID id, std::vector<VARIANT> args, VARIANT* result = nullptr);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** pp) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** pp) override;

private:
    IUnknown* owner_;
    IConnectionPointContainer* container_;
    IID events_;
    std::vector<std::pair<DWORD, ComPtr<IDispatch>>> sinks_;
    DWORD nextCookie_ = 1;
    int advises_ = 0;
};

// A counted IUnknown base for the doubles.
class FakeObject {
public:
    ULONG refs() const { return static_cast<ULONG>(refs_); }

protected:
    virtual ~FakeObject() = default;
    ULONG AddRefImpl() { return static_cast<ULONG>(++refs_); }
    ULONG ReleaseImpl() {
        const long n = --refs_;
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    long refs_ = 1;
};

// A document: IDispatch with HTMLDocumentEvents.
class FakeDocument final : public FakeObject, public IDispatch, public IConnectionPointContainer {
public:
    static ComPtr<FakeDocument> Create() { return ComPtr<FakeDocument>::Attach(new FakeDocument()); }
    FakeConnectionPoint& events() { return events_; }

    void FireMouseDown();
    void FireMouseUp();
    // The handler's result: VT_EMPTY if the sink set none, else its VT_BOOL.
    VARIANT FireContextMenu();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** pp) override;

private:
    FakeDocument() : events_(static_cast<IDispatch*>(this), this, kHTMLDocumentEvents) {}
    FakeConnectionPoint events_;
};

// A browser window: IWebBrowser2 with DWebBrowserEvents2.
class FakeBrowser final : public FakeObject, public IWebBrowser2, public IConnectionPointContainer {
public:
    static ComPtr<FakeBrowser> Create(SHANDLE_PTR hwnd) {
        ComPtr<FakeBrowser> b = ComPtr<FakeBrowser>::Attach(new FakeBrowser());
        b->hwnd = hwnd;
        return b;
    }
    FakeConnectionPoint& events() { return events_; }

    // What the browser shows and answers. FullName is the program the window runs in: Internet
    // Explorer unless a test makes it a File Explorer window.
    SHANDLE_PTR hwnd = 0;
    HRESULT hwndResult = S_OK;
    std::wstring fullName = L"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE";
    HRESULT fullNameResult = S_OK;
    ComPtr<IDispatch> document;
    bool forwardHistory = false;
    // Runs inside GoForward / get_HWND / get_FullName, as calls into another process can let
    // events in.
    std::function<void()> onGoForward;
    std::function<void()> onGetHwnd;
    std::function<void()> onGetFullName;

    // What was asked of it.
    int fullNameCalls = 0;
    int goForwardCalls = 0;
    int stopCalls = 0;
    std::vector<std::pair<OLECMDID, OLECMDEXECOPT>> execCalls;

    // Events as Internet Explorer raises them; each returns the Cancel flag the sinks left.
    bool FireBeforeNavigate2(IDispatch* pDisp, const std::wstring& url, bool cancel = false);
    bool FireNewWindow2(bool cancel = false);
    void FireNavigateComplete2(IDispatch* pDisp, const std::wstring& url);
    void FireDocumentComplete(IDispatch* pDisp, const std::wstring& url);
    void FireDownloadBegin();
    void FireDownloadComplete();
    void FireCommandStateChange(LONG command, bool enable);
    // The pointer a NewWindow2 sink left in ppDisp (must stay untouched).
    IDispatch* lastNewWindowDisp = nullptr;

    // IUnknown / IDispatch
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** pp) override;

    // What the sink uses.
    STDMETHODIMP GoForward() override;
    STDMETHODIMP Stop() override { ++stopCalls; return S_OK; }
    STDMETHODIMP get_Document(IDispatch** pp) override;
    STDMETHODIMP get_HWND(SHANDLE_PTR* p) override;
    STDMETHODIMP ExecWB(OLECMDID cmd, OLECMDEXECOPT opt, VARIANT*, VARIANT*) override {
        execCalls.emplace_back(cmd, opt);
        return S_OK;
    }

    // The rest of IWebBrowser2 is not used.
    STDMETHODIMP GoBack() override { return E_NOTIMPL; }
    STDMETHODIMP GoHome() override { return E_NOTIMPL; }
    STDMETHODIMP GoSearch() override { return E_NOTIMPL; }
    STDMETHODIMP Navigate(BSTR, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP Refresh() override { return E_NOTIMPL; }
    STDMETHODIMP Refresh2(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Application(IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Parent(IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Container(IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_TopLevelContainer(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Type(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Left(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Left(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_Top(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Top(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_Width(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Width(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_Height(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Height(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_LocationName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_LocationURL(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Busy(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP Quit() override { return E_NOTIMPL; }
    STDMETHODIMP ClientToWindow(int*, int*) override { return E_NOTIMPL; }
    STDMETHODIMP PutProperty(BSTR, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP GetProperty(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Name(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_FullName(BSTR* name) override;
    STDMETHODIMP get_Path(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Visible(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Visible(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_StatusBar(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_StatusBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_StatusText(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_StatusText(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_ToolBar(int*) override { return E_NOTIMPL; }
    STDMETHODIMP put_ToolBar(int) override { return E_NOTIMPL; }
    STDMETHODIMP get_MenuBar(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_MenuBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_FullScreen(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_FullScreen(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP Navigate2(VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryStatusWB(OLECMDID, OLECMDF*) override { return E_NOTIMPL; }
    STDMETHODIMP ShowBrowserBar(VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP get_ReadyState(READYSTATE*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Offline(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Offline(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_Silent(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Silent(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_RegisterAsBrowser(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_RegisterAsBrowser(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_RegisterAsDropTarget(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_RegisterAsDropTarget(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_TheaterMode(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_TheaterMode(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_AddressBar(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_AddressBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_Resizable(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Resizable(VARIANT_BOOL) override { return E_NOTIMPL; }

private:
    FakeBrowser() : events_(static_cast<IWebBrowser2*>(this), this, kDWebBrowserEvents2) {}
    FakeConnectionPoint events_;
};

// Another IDispatch pointer to an object, as a tear-off or a second proxy hands out: its own
// IDispatch, every other interface (IUnknown included, so the identity) from the object itself.
class FakeDispatchAlias final : public IDispatch {
public:
    static ComPtr<FakeDispatchAlias> Create(IUnknown* object) {
        return ComPtr<FakeDispatchAlias>::Attach(new FakeDispatchAlias(object));
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    // Counted on the object, as COM requires of an interface of it.
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

private:
    explicit FakeDispatchAlias(IUnknown* object) : object_(object) { object_->AddRef(); }
    IUnknown* object_;
    long ownRefs_ = 1;
};

// The shell's window list: IShellWindows with DShellWindowsEvents.
class FakeShellWindows final : public FakeObject, public IShellWindows, public IConnectionPointContainer {
public:
    static ComPtr<FakeShellWindows> Create() { return ComPtr<FakeShellWindows>::Attach(new FakeShellWindows()); }
    FakeConnectionPoint& events() { return events_; }

    // Offers no IConnectionPointContainer, as the list under Wine does not.
    bool eventless = false;
    // Runs inside the enumerator's Next before it hands out item `index`.
    std::function<void(size_t index)> onNext;
    int enumerations = 0;

    // Lists a window and raises WindowRegistered (or takes it off and raises WindowRevoked).
    void OpenWindow(IDispatch* window, bool notify = true);
    void CloseWindow(IDispatch* window, bool notify = true);
    size_t size() const { return windows_.size(); }
    // A factory for the watcher that hands out this list.
    std::function<HRESULT(IShellWindows**)> Factory();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** pp) override;

    STDMETHODIMP get_Count(LONG* count) override;
    STDMETHODIMP Item(VARIANT index, IDispatch** folder) override;
    STDMETHODIMP _NewEnum(IUnknown** ppunk) override;
    STDMETHODIMP Register(IDispatch*, LONG, int, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP RegisterPending(LONG, VARIANT*, VARIANT*, int, LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP Revoke(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP OnNavigate(LONG, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP OnActivated(LONG, VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP FindWindowSW(VARIANT*, VARIANT*, int, LONG*, int, IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP OnCreated(LONG, IUnknown*) override { return E_NOTIMPL; }
    STDMETHODIMP ProcessAttachDetach(VARIANT_BOOL) override { return E_NOTIMPL; }

private:
    FakeShellWindows() : events_(static_cast<IShellWindows*>(this), this, kDShellWindowsEvents) {}
    FakeConnectionPoint events_;
    std::vector<ComPtr<IDispatch>> windows_;
    LONG nextCookie_ = 100;
};

// Enumerators handed out by FakeShellWindows and not yet released.
long LiveFakeEnumerators();

}  // namespace tovra::popup::test
