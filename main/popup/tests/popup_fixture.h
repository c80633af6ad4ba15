// Shared set-up of the pop-up blocker's tests: a scripted keyboard and cursor, a recorder of the
// watcher's events, a blocker switch, and a small world of fake browser windows listed by a fake
// shell.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "main/popup/blocker_switch.h"
#include "main/popup/browser_watcher.h"
#include "main/popup/input_state.h"
#include "main/popup/tests/fakes.h"
#include "shared/win_handles.h"

namespace tovra::popup::test {

inline IDispatch* Disp(const ComPtr<FakeBrowser>& b) { return static_cast<IWebBrowser2*>(b.get()); }
inline IUnknown* Unk(const ComPtr<FakeBrowser>& b) { return static_cast<IWebBrowser2*>(b.get()); }

// A VARIANT as text ("" for empty), for readable expectations.
std::wstring VariantText(const VARIANT& v);

// A keyboard and cursor that answer from a script.
class ScriptedInput final : public InputState {
public:
    std::map<int, SHORT> keys;  // virtual key -> GetAsyncKeyState answer; 0 for the others
    POINT cursor{0, 0};

    SHORT AsyncKeyState(int vKey) override;
    BOOL CursorPos(POINT* pt) override;
};

// Writes every event of the watcher as one line of text.
class Recorder : public BrowserWatcherEvents {
public:
    std::vector<std::wstring> events;
    BrowserWatcher* watcher = nullptr;  // when set, the notices also record the Count they see
    std::function<void(const std::wstring&)> onEvent;

    void WindowRegistered() override;
    void WindowRevoked() override;
    void NavigationBegin(LONG hwnd, IDispatch* browser, const VARIANT& url, const VARIANT& flags,
                         const VARIANT& targetFrame, const VARIANT& postData, const VARIANT& headers,
                         bool cancel) override;
    void NavigationComplete(LONG hwnd, IDispatch* browser, const VARIANT& url) override;
    void DocumentComplete(LONG hwnd, IDispatch* browser, const VARIANT& url) override;
    void DownloadBegin(LONG hwnd) override;
    void DownloadComplete(LONG hwnd) override;
    void ContextMenu(LONG hwnd) override;
    void MouseDown(LONG hwnd, SHORT button, SHORT shift, float x, float y) override;
    void MouseUp(LONG hwnd, SHORT button, SHORT shift, float x, float y) override;
    void CommandStateChange(LONG hwnd, LONG command, bool enable) override;

private:
    void Add(const std::wstring& line);
};

class PopupTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A browser with a document; listed by the shell unless said otherwise (without a notice).
    ComPtr<FakeBrowser> NewBrowser(SHANDLE_PTR hwnd, bool listed = true, bool withDocument = true);
    ComPtr<FakeDocument> DocumentOf(const ComPtr<FakeBrowser>& b);
    // Creates the watcher over the fake shell, with the fixture's switch and scripted input (or
    // the given input), and subscribes the recorder.
    void StartWatcher(std::shared_ptr<InputState> input = nullptr);
    // What the fixture's watchers are made with.
    WatcherSetup Setup() const { return {shell_->Factory(), blocker_, input_}; }

    ComScope com_;
    std::shared_ptr<ScriptedInput> input_ = std::make_shared<ScriptedInput>();
    std::shared_ptr<BlockerSwitch> blocker_ = std::make_shared<BlockerSwitch>();  // on from SetUp
    ComPtr<FakeShellWindows> shell_ = FakeShellWindows::Create();
    std::shared_ptr<BrowserWatcher> watcher_;
    Recorder rec_;
};

}  // namespace tovra::popup::test
