// The browser sink: the pop-up rule, the forward-history probe, the back/forward state and the
// reports, driven through fake browsers and documents as Internet Explorer would raise them.
#include <gtest/gtest.h>
#include <windows.h>
#include <docobj.h>

#include "main/popup/browser_sink.h"
#include "main/popup/popup_blocker.h"
#include "main/popup/tests/popup_fixture.h"
#include "shared/message_box.h"

namespace tovra::popup::test {
namespace {

constexpr SHORT kDown = static_cast<SHORT>(0x8000);
constexpr SHORT kPressedSince = 0x0001;  // up now, pressed since the last query

class SinkTest : public PopupTest {};

TEST_F(SinkTest, NewWindowRule) {
    struct Case {
        SHORT ctrl;
        bool blockerOn;
        bool cancelBefore;
        bool cancelAfter;
    };
    const Case cases[] = {
        {0, true, false, true},              // blocker runs: the window is refused
        {kDown, true, false, false},         // Ctrl held: it opens
        {kPressedSince, true, false, false}, // Ctrl pressed since the last query counts as held
        {0, false, false, false},            // blocker stopped: it opens
        {kDown, false, false, false},
        {kDown, true, true, true},           // an allowed window leaves Cancel as the browser set it
        {0, false, true, true},
    };
    ScriptedMessageBoxes boxes;
    ComPtr<FakeBrowser> b = NewBrowser(0x1234);
    StartWatcher();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "ctrl=" << c.ctrl << " blocker=" << c.blockerOn
                                        << " cancelBefore=" << c.cancelBefore);
        input_->keys[VK_CONTROL] = c.ctrl;
        blocker_->Set(c.blockerOn);
        rec_.events.clear();
        EXPECT_EQ(b->FireNewWindow2(c.cancelBefore), c.cancelAfter);
        EXPECT_EQ(b->lastNewWindowDisp, nullptr);  // ppDisp untouched
        EXPECT_TRUE(rec_.events.empty());          // no report, no trace
    }
    EXPECT_TRUE(boxes.calls().empty());
}

// Through the blocker the main window owns: its button's toggle reaches every sink of its watcher.
TEST_F(SinkTest, StoppedBlockerLetsWindowsOpenAndSinksGoOnReporting) {
    ComPtr<FakeBrowser> b = NewBrowser(77);
    PopupBlocker blocker(shell_->Factory(), input_);
    blocker.Start();
    blocker.WatchBrowsers();
    ASSERT_TRUE(blocker.Watcher());
    blocker.Watcher()->AddListener(&rec_);
    blocker.Toggle();
    ASSERT_FALSE(blocker.Running());
    EXPECT_FALSE(b->FireNewWindow2());
    b->FireDownloadBegin();
    b->FireDownloadComplete();
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"DownloadBegin 77", L"DownloadComplete 77"}));
    blocker.Toggle();
    ASSERT_TRUE(blocker.Running());
    EXPECT_TRUE(b->FireNewWindow2());
}

TEST_F(SinkTest, ProbeWithoutForwardHistoryEndsAtOnce) {
    ComPtr<FakeBrowser> b = NewBrowser(10);
    StartWatcher();
    EXPECT_EQ(b->goForwardCalls, 1);
    EXPECT_TRUE(b->execCalls.empty());
    EXPECT_FALSE(watcher_->SuppressNext());
    EXPECT_FALSE(watcher_->Sink(1)->CanGoForward());
    // The next navigation goes ahead.
    EXPECT_FALSE(b->FireBeforeNavigate2(Disp(b), L"http://example.invalid/next"));
    EXPECT_EQ(rec_.events.back(), L"NavigationBegin 10 disp=1 url=http://example.invalid/next flags=0 cancel=0");
}

TEST_F(SinkTest, ProbeWithForwardHistoryStopsAndCancelsTheNavigation) {
    ComPtr<FakeBrowser> b = NewBrowser(11);
    b->forwardHistory = true;
    StartWatcher();
    EXPECT_EQ(b->goForwardCalls, 1);
    ASSERT_EQ(b->execCalls.size(), 1u);
    EXPECT_EQ(b->execCalls[0].first, OLECMDID_STOPDOWNLOAD);  // 30
    EXPECT_EQ(b->execCalls[0].second, OLECMDEXECOPT_DONTPROMPTUSER);  // 2
    EXPECT_TRUE(watcher_->SuppressNext());
    EXPECT_FALSE(watcher_->Sink(1)->CanGoForward());

    // The probe's navigation starts later, as it does in a browser of another process.
    EXPECT_TRUE(b->FireBeforeNavigate2(Disp(b), L"http://example.invalid/forward"));
    EXPECT_FALSE(watcher_->SuppressNext());
    // Listeners get the report first, with the browser's Cancel as it was.
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{
                               L"NavigationBegin 11 disp=1 url=http://example.invalid/forward flags=0 cancel=0"}));
    // Only that one start is cancelled.
    EXPECT_FALSE(b->FireBeforeNavigate2(Disp(b), L"http://example.invalid/user"));
}

TEST_F(SinkTest, ProbeWhoseNavigationStartsWithinGoForward) {
    ComPtr<FakeBrowser> b = NewBrowser(12);
    b->forwardHistory = true;
    bool cancelled = false;
    b->onGoForward = [&] { cancelled = b->FireBeforeNavigate2(Disp(b), L"http://example.invalid/forward"); };
    StartWatcher();
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(b->execCalls.size(), 1u);  // stopped all the same
    EXPECT_FALSE(watcher_->SuppressNext());
}

TEST_F(SinkTest, ProbeAnsweredByAContextMenu) {
    ComPtr<FakeBrowser> b = NewBrowser(13);
    b->forwardHistory = true;
    StartWatcher();
    ASSERT_TRUE(watcher_->SuppressNext());

    VARIANT first = DocumentOf(b)->FireContextMenu();
    EXPECT_EQ(first.vt, VT_BOOL);
    EXPECT_EQ(first.boolVal, VARIANT_FALSE);  // suppressed
    EXPECT_FALSE(watcher_->SuppressNext());
    VARIANT second = DocumentOf(b)->FireContextMenu();
    EXPECT_EQ(second.vt, VT_BOOL);
    EXPECT_EQ(second.boolVal, VARIANT_TRUE);  // shown
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"ContextMenu 13", L"ContextMenu 13"}));
    // The flag is used up: the navigation is no longer cancelled.
    EXPECT_FALSE(b->FireBeforeNavigate2(Disp(b), L"http://example.invalid/forward"));
}

TEST_F(SinkTest, ProbeFlagIsSharedByAllWindows) {
    ComPtr<FakeBrowser> plain = NewBrowser(20);
    ComPtr<FakeBrowser> withHistory = NewBrowser(21);  // attached last, so its probe is the one pending
    withHistory->forwardHistory = true;
    StartWatcher();
    ASSERT_TRUE(watcher_->SuppressNext());
    EXPECT_TRUE(plain->FireBeforeNavigate2(Disp(plain), L"http://example.invalid/elsewhere"));
    EXPECT_FALSE(withHistory->FireBeforeNavigate2(Disp(withHistory), L"http://example.invalid/forward"));
}

TEST_F(SinkTest, CommandStateChangeTracksBackAndForward) {
    struct Step {
        LONG command;
        bool enable;
        bool forward, back;
    };
    const Step steps[] = {
        {3, true, false, false},  // any other command changes neither
        {1, true, true, false},   // CSC_NAVIGATEFORWARD
        {2, true, true, true},    // CSC_NAVIGATEBACK
        {1, false, false, true},
        {-1, true, false, true},  // CSC_UPDATECOMMANDS
        {2, false, false, false},
    };
    ComPtr<FakeBrowser> b = NewBrowser(30);
    StartWatcher();
    std::shared_ptr<BrowserSink> sink = watcher_->Sink(L"30");
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "command " << s.command << " enable " << s.enable);
        rec_.events.clear();
        b->FireCommandStateChange(s.command, s.enable);
        EXPECT_EQ(sink->CanGoForward(), s.forward);
        EXPECT_EQ(sink->CanGoBack(), s.back);
        // Reported for every command.
        EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"CommandStateChange 30 command=" +
                                                          std::to_wstring(s.command) + L" enable=" +
                                                          std::to_wstring(s.enable)}));
    }
}

TEST_F(SinkTest, OnlyTheTopLevelDocumentCompleteIsReported) {
    ComPtr<FakeBrowser> b = NewBrowser(40);
    ComPtr<FakeBrowser> frame = NewBrowser(0, false, false);
    StartWatcher();
    b->FireNavigateComplete2(Disp(frame), L"http://example.invalid/frame");
    b->FireDocumentComplete(Disp(frame), L"http://example.invalid/frame");
    b->FireNavigateComplete2(Disp(b), L"http://example.invalid/");
    b->FireDocumentComplete(Disp(b), L"http://example.invalid/");
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{
                               L"NavigationComplete 40 url=http://example.invalid/frame",
                               L"NavigationComplete 40 url=http://example.invalid/",
                               L"DocumentComplete 40 url=http://example.invalid/",
                           }));
}

TEST_F(SinkTest, MouseReportsButtonShiftAndClientPosition) {
    // A real window, so the cursor is converted to its client area as in a browser.
    HWND w = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 100, 200, 300, 300, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(w, nullptr);
    POINT origin{0, 0};
    ::ClientToScreen(w, &origin);
    const LONG handle = static_cast<LONG>(reinterpret_cast<LONG_PTR>(w));
    ComPtr<FakeBrowser> b = NewBrowser(static_cast<SHANDLE_PTR>(handle));
    StartWatcher();
    input_->cursor = {origin.x + 30, origin.y + 50};
    const std::wstring at = L" x=30 y=50";
    const std::wstring h = std::to_wstring(handle);

    struct Case {
        const char* what;
        std::map<int, SHORT> keys;
        int button, shift;
    };
    const Case cases[] = {
        {"left", {{VK_LBUTTON, kDown}}, 1, 0},
        {"middle", {{VK_MBUTTON, kDown}}, 2, 0},
        {"right", {{VK_RBUTTON, kDown}}, 2, 0},
        {"left released since", {{VK_LBUTTON, kPressedSince}}, 2, 0},
        {"shift", {{VK_LBUTTON, kDown}, {VK_SHIFT, kDown}}, 1, 1},
        {"ctrl", {{VK_LBUTTON, kDown}, {VK_CONTROL, kDown}}, 1, 2},
        {"shift+ctrl", {{VK_SHIFT, kDown}, {VK_CONTROL, kDown}}, 2, 2},
        {"ctrl+alt", {{VK_CONTROL, kDown}, {VK_MENU, kDown}}, 2, 4},
        {"shift+alt", {{VK_SHIFT, kPressedSince}, {VK_MENU, kPressedSince}}, 2, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        input_->keys = c.keys;
        rec_.events.clear();
        DocumentOf(b)->FireMouseDown();
        EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"MouseDown " + h + L" button=" + std::to_wstring(c.button) +
                                                          L" shift=" + std::to_wstring(c.shift) + at}));
        // The release reports the button that the press was taken as.
        input_->keys.clear();
        DocumentOf(b)->FireMouseUp();
        EXPECT_EQ(rec_.events.back(), L"MouseUp " + h + L" button=" + std::to_wstring(c.button) + L" shift=0" + at);
    }
    // A release without a press of the left button reads as the other button.
    DocumentOf(b)->FireMouseUp();
    EXPECT_EQ(rec_.events.back(), L"MouseUp " + h + L" button=2 shift=0" + at);
    ::DestroyWindow(w);
}

TEST_F(SinkTest, SinkWithoutBrowserOrDocumentStillExists) {
    ComPtr<FakeBrowser> noHandle = NewBrowser(50);
    noHandle->hwndResult = E_FAIL;
    ComPtr<FakeBrowser> noDocument = NewBrowser(51, true, false);
    StartWatcher();
    ASSERT_EQ(watcher_->Count(), 2);
    std::shared_ptr<BrowserSink> first = watcher_->Sink(L"0");
    EXPECT_TRUE(first->SubscribedToBrowser());
    EXPECT_TRUE(first->SubscribedToDocument());
    std::shared_ptr<BrowserSink> second = watcher_->Sink(L"51");
    EXPECT_TRUE(second->SubscribedToBrowser());
    EXPECT_FALSE(second->SubscribedToDocument());
    EXPECT_FALSE(second->Document());
    // Both still refuse pop-ups.
    EXPECT_TRUE(noHandle->FireNewWindow2());
    EXPECT_TRUE(noDocument->FireNewWindow2());
}

TEST_F(SinkTest, ReleasedSinkEndsItsSubscriptions) {
    ComPtr<FakeBrowser> b = NewBrowser(60);
    ComPtr<FakeDocument> doc = DocumentOf(b);
    const ULONG browserRefs = b->refs();
    const ULONG documentRefs = doc->refs();
    {
        std::shared_ptr<BrowserSink> sink = BrowserSink::Create();
        sink->Attach(Disp(b));
        EXPECT_EQ(sink->WindowHandle(), 60);
        EXPECT_TRUE(SameObject(sink->Browser().get(), Unk(b)));
        EXPECT_EQ(b->events().connections(), 1u);
        EXPECT_EQ(doc->events().connections(), 1u);
        EXPECT_GT(b->refs(), browserRefs);
    }
    EXPECT_EQ(b->events().connections(), 0u);
    EXPECT_EQ(doc->events().connections(), 0u);
    EXPECT_EQ(b->refs(), browserRefs);
    EXPECT_EQ(doc->refs(), documentRefs);
    // A browser that still calls finds nobody and is not harmed.
    EXPECT_FALSE(b->FireNewWindow2());
}

// The production key state: GetAsyncKeyState, with Ctrl pressed the way a user's keyboard would.
TEST_F(SinkTest, RealCtrlKeyLetsTheWindowOpen) {
    struct CtrlUp {
        ~CtrlUp() { ::keybd_event(VK_CONTROL, 0x1d, KEYEVENTF_KEYUP, 0); }
    } ctrlUp;
    ComPtr<FakeBrowser> b = NewBrowser(70);
    StartWatcher(SystemInputState());
    ::GetAsyncKeyState(VK_CONTROL);  // forget earlier presses
    EXPECT_TRUE(b->FireNewWindow2());
    ::keybd_event(VK_CONTROL, 0x1d, 0, 0);
    EXPECT_NE(::GetAsyncKeyState(VK_CONTROL) & 0x8000, 0) << "Ctrl could not be pressed here";
    EXPECT_FALSE(b->FireNewWindow2());
}

}  // namespace
}  // namespace tovra::popup::test
