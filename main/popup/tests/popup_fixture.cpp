#include "main/popup/tests/popup_fixture.h"

#include <sstream>

namespace tovra::popup::test {

std::wstring VariantText(const VARIANT& v) {
    Variant copy(v);
    if (copy.vt() == VT_EMPTY) return L"";
    Variant text;
    if (FAILED(::VariantChangeType(text.put(), const_cast<VARIANT*>(&copy.get()), 0, VT_BSTR))) return L"?";
    return text.get().bstrVal ? std::wstring(text.get().bstrVal, ::SysStringLen(text.get().bstrVal)) : L"";
}

void Recorder::Add(const std::wstring& line) {
    events.push_back(line);
    if (onEvent) onEvent(line);
}

void Recorder::IEWindowRegistered() {
    Add(watcher ? L"Registered count=" + std::to_wstring(watcher->Count()) : L"Registered");
}

void Recorder::IEWindowRevoked() {
    Add(watcher ? L"Revoked count=" + std::to_wstring(watcher->Count()) : L"Revoked");
}

void Recorder::IENavigationBegin(LONG hwnd, IDispatch* pDisp, const VARIANT& URL, const VARIANT& Flags,
                                 const VARIANT& TargetFrameName, const VARIANT& PostData, const VARIANT& Headers,
                                 bool Cancel) {
    std::wostringstream s;
    s << L"NavigationBegin " << hwnd << L" disp=" << (pDisp ? 1 : 0) << L" url=" << VariantText(URL)
      << L" flags=" << VariantText(Flags) << L" cancel=" << Cancel;
    Add(s.str());
}

void Recorder::IENavigationComplete(LONG hwnd, IDispatch* pDisp, const VARIANT& URL) {
    Add(L"NavigationComplete " + std::to_wstring(hwnd) + L" url=" + VariantText(URL));
}

void Recorder::IEDocumentComplete(LONG hwnd, IDispatch* pDisp, const VARIANT& URL) {
    Add(L"DocumentComplete " + std::to_wstring(hwnd) + L" url=" + VariantText(URL));
}

void Recorder::IEDownloadBegin(LONG hwnd) { Add(L"DownloadBegin " + std::to_wstring(hwnd)); }
void Recorder::IEDownloadComplete(LONG hwnd) { Add(L"DownloadComplete " + std::to_wstring(hwnd)); }
void Recorder::IEOnContextMenu(LONG hwnd) { Add(L"ContextMenu " + std::to_wstring(hwnd)); }

namespace {
std::wstring Mouse(const wchar_t* name, LONG hwnd, SHORT button, SHORT shift, float x, float y) {
    std::wostringstream s;
    s << name << L' ' << hwnd << L" button=" << button << L" shift=" << shift << L" x=" << x << L" y=" << y;
    return s.str();
}
}  // namespace

void Recorder::IEMouseDown(LONG hwnd, SHORT Button, SHORT Shift, float x, float y) {
    Add(Mouse(L"MouseDown", hwnd, Button, Shift, x, y));
}

void Recorder::IEMouseUp(LONG hwnd, SHORT Button, SHORT Shift, float x, float y) {
    Add(Mouse(L"MouseUp", hwnd, Button, Shift, x, y));
}

void Recorder::IECommandStateChange(LONG hwnd, LONG Command, bool Enable) {
    Add(L"CommandStateChange " + std::to_wstring(hwnd) + L" command=" + std::to_wstring(Command) +
        L" enable=" + std::to_wstring(Enable));
}

void PopupTest::SetUp() {
    ASSERT_TRUE(SUCCEEDED(com_.result()));
    bBlockerOn = true;
    bSuppressNext = false;
    SetKeyStateSource([this](int vk) -> SHORT {
        auto it = keys_.find(vk);
        return it == keys_.end() ? 0 : it->second;
    });
    SetCursorPosSource([this](POINT* pt) -> BOOL {
        *pt = cursor_;
        return TRUE;
    });
}

void PopupTest::TearDown() {
    watcher_.reset();
    SetKeyStateSource(nullptr);
    SetCursorPosSource(nullptr);
    // Nothing may outlive the watcher: no sink, no subscription, no reference on the list.
    EXPECT_EQ(IE_Class::LiveCount(), 0);
    EXPECT_EQ(DispatchEventSink::LiveCount(), 0);
    EXPECT_EQ(LiveFakeEnumerators(), 0);
    EXPECT_EQ(shell_->events().connections(), 0u);
    EXPECT_EQ(shell_->refs(), 1u);
}

ComPtr<FakeBrowser> PopupTest::NewBrowser(SHANDLE_PTR hwnd, bool listed, bool withDocument) {
    ComPtr<FakeBrowser> b = FakeBrowser::Create(hwnd);
    if (withDocument) {
        ComPtr<FakeDocument> doc = FakeDocument::Create();
        b->document = ComPtr<IDispatch>(static_cast<IDispatch*>(doc.get()));
    }
    if (listed) shell_->OpenWindow(Disp(b), false);
    return b;
}

ComPtr<FakeDocument> PopupTest::DocumentOf(const ComPtr<FakeBrowser>& b) {
    return ComPtr<FakeDocument>(static_cast<FakeDocument*>(b->document.get()));
}

void PopupTest::StartWatcher() {
    watcher_ = cIEWindows::Create(shell_->Factory());
    watcher_->AddListener(&rec_);
    rec_.watcher = watcher_.get();
}

}  // namespace tovra::popup::test
