// Shared set-up of the pop-up blocker's tests: a scripted keyboard and cursor, a recorder of the
// watcher's events, and a small world of fake browser windows listed by a fake shell.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "main/popup/events.h"
#include "main/popup/ie_windows.h"
#include "main/popup/popup_blocker.h"
#include "main/popup/tests/fakes.h"
#include "shared/win_handles.h"

namespace tovra::popup::test {

inline IDispatch* Disp(const ComPtr<FakeBrowser>& b) { return static_cast<IWebBrowser2*>(b.get()); }
inline IUnknown* Unk(const ComPtr<FakeBrowser>& b) { return static_cast<IWebBrowser2*>(b.get()); }

// A VARIANT as text ("" for empty), for readable expectations.
std::wstring VariantText(const VARIANT& v);

// Writes every event of the watcher as one line of text.
class Recorder : public IEWindowsEvents {
public:
    std::vector<std::wstring> events;
    cIEWindows* watcher = nullptr;  // when set, the notices also record the Count they see
    std::function<void(const std::wstring&)> onEvent;

    void IEWindowRegistered() override;
    void IEWindowRevoked() override;
    void IENavigationBegin(LONG hwnd, IDispatch* pDisp, const VARIANT& URL, const VARIANT& Flags,
                           const VARIANT& TargetFrameName, const VARIANT& PostData, const VARIANT& Headers,
                           bool Cancel) override;
    void IENavigationComplete(LONG hwnd, IDispatch* pDisp, const VARIANT& URL) override;
    void IEDocumentComplete(LONG hwnd, IDispatch* pDisp, const VARIANT& URL) override;
    void IEDownloadBegin(LONG hwnd) override;
    void IEDownloadComplete(LONG hwnd) override;
    void IEOnContextMenu(LONG hwnd) override;
    void IEMouseDown(LONG hwnd, SHORT Button, SHORT Shift, float x, float y) override;
    void IEMouseUp(LONG hwnd, SHORT Button, SHORT Shift, float x, float y) override;
    void IECommandStateChange(LONG hwnd, LONG Command, bool Enable) override;

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
    // Creates the watcher over the fake shell and subscribes the recorder.
    void StartWatcher();

    ComScope com_;
    std::map<int, SHORT> keys_;  // virtual key -> GetAsyncKeyState answer
    POINT cursor_{0, 0};
    ComPtr<FakeShellWindows> shell_ = FakeShellWindows::Create();
    std::shared_ptr<cIEWindows> watcher_;
    Recorder rec_;
};

}  // namespace tovra::popup::test
