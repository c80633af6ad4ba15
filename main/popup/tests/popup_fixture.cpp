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

void Recorder::WindowRegistered() {
    Add(watcher ? L"Registered count=" + std::to_wstring(watcher->Count()) : L"Registered");
}

void Recorder::WindowRevoked() {
    Add(watcher ? L"Revoked count=" + std::to_wstring(watcher->Count()) : L"Revoked");
}

void Recorder::NavigationBegin(LONG hwnd, IDispatch* browser, const VARIANT& url, const VARIANT& flags,
                               const VARIANT& targetFrame, const VARIANT& postData, const VARIANT& headers,
                               bool cancel) {
    std::wostringstream s;
    s << L"NavigationBegin " << hwnd << L" disp=" << (browser ? 1 : 0) << L" url=" << VariantText(url)
      << L" flags=" << VariantText(flags) << L" cancel=" << cancel;
    Add(s.str());
}

void Recorder::NavigationComplete(LONG hwnd, IDispatch*, const VARIANT& url) {
    Add(L"NavigationComplete " + std::to_wstring(hwnd) + L" url=" + VariantText(url));
}

void Recorder::DocumentComplete(LONG hwnd, IDispatch*, const VARIANT& url) {
    Add(L"DocumentComplete " + std::to_wstring(hwnd) + L" url=" + VariantText(url));
}

void Recorder::DownloadBegin(LONG hwnd) { Add(L"DownloadBegin " + std::to_wstring(hwnd)); }
void Recorder::DownloadComplete(LONG hwnd) { Add(L"DownloadComplete " + std::to_wstring(hwnd)); }
void Recorder::ContextMenu(LONG hwnd) { Add(L"ContextMenu " + std::to_wstring(hwnd)); }

namespace {
std::wstring Mouse(const wchar_t* name, LONG hwnd, SHORT button, SHORT shift, float x, float y) {
    std::wostringstream s;
    s << name << L' ' << hwnd << L" button=" << button << L" shift=" << shift << L" x=" << x << L" y=" << y;
    return s.str();
}
}  // namespace

void Recorder::MouseDown(LONG hwnd, SHORT button, SHORT shift, float x, float y) {
    Add(Mouse(L"MouseDown", hwnd, button, shift, x, y));
}

void Recorder::MouseUp(LONG hwnd, SHORT button, SHORT shift, float x, float y) {
    Add(Mouse(L"MouseUp", hwnd, button, shift, x, y));
}

void Recorder::CommandStateChange(LONG hwnd, LONG command, bool enable) {
    Add(L"CommandStateChange " + std::to_wstring(hwnd) + L" command=" + std::to_wstring(command) +
        L" enable=" + std::to_wstring(enable));
}

SHORT ScriptedInput::AsyncKeyState(int vKey) {
    auto it = keys.find(vKey);
    return it == keys.end() ? 0 : it->second;
}

BOOL ScriptedInput::CursorPos(POINT* pt) {
    *pt = cursor;
    return TRUE;
}

void PopupTest::SetUp() {
    ASSERT_TRUE(SUCCEEDED(com_.result()));
    blocker_->Set(true);
}

void PopupTest::TearDown() {
    watcher_.reset();
    // Nothing may outlive the watcher: no sink, no subscription, no reference on the list.
    EXPECT_EQ(BrowserSink::LiveCount(), 0);
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

void PopupTest::StartWatcher(std::shared_ptr<InputState> input) {
    WatcherSetup setup = Setup();
    if (input) setup.input = std::move(input);
    watcher_ = BrowserWatcher::Create(std::move(setup));
    watcher_->AddListener(&rec_);
    rec_.watcher = watcher_.get();
}

}  // namespace tovra::popup::test
