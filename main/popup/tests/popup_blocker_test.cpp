// What the main window owns of the pop-up blocker: its switch with the button's toggle, and the
// watcher's creation and release, both over the real shell window list of this system and over a
// list of our own.
#include "main/popup/popup_blocker.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "main/popup/tests/fakes.h"
#include "main/popup/tests/popup_fixture.h"
#include "shared/message_box.h"
#include "shared/compat.h"

namespace tovra::popup::test {
namespace {

TEST(BlockerButtonTest, TheToggleFlipsTheSwitchAndStartAndStopSetIt) {
    enum class Do { Toggle, Start, Stop };
    struct Case {
        bool before;
        Do action;
        bool after;
    };
    const Case cases[] = {
        {true, Do::Toggle, false},
        {false, Do::Toggle, true},
        {true, Do::Start, true},   // again while running: still running
        {false, Do::Start, true},
        {true, Do::Stop, false},
        {false, Do::Stop, false},  // again while stopped: still stopped
    };
    PopupBlocker blocker;
    EXPECT_FALSE(blocker.Running()) << "a new blocker is switched off until the main window's load";
    EXPECT_FALSE(blocker.Watcher()) << "and watches nothing";
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "from " << c.before << " action " << static_cast<int>(c.action));
        if (c.before) blocker.Start();
        else blocker.Stop();
        ASSERT_EQ(blocker.Running(), c.before);
        switch (c.action) {
        case Do::Toggle: blocker.Toggle(); break;
        case Do::Start: blocker.Start(); break;
        case Do::Stop: blocker.Stop(); break;
        }
        EXPECT_EQ(blocker.Running(), c.after);
    }
}

BOOL CALLBACK CollectVisibleOfThisProcess(HWND w, LPARAM p) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(w, &pid);
    if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(w)) reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
    return TRUE;
}

std::vector<HWND> VisibleWindowsOfThisProcess() {
    std::vector<HWND> found;
    ::EnumWindows(CollectVisibleOfThisProcess, reinterpret_cast<LPARAM>(&found));
    return found;
}

// What the system's window list offers, asked for where the watcher asks for it: whether it can
// be made, whether it offers its notices, and how many of the windows it lists are browsers.
struct ShellListOffer {
    bool made = false;
    bool notices = false;
    long browsers = 0;
};

ShellListOffer SystemShellList() {
    ShellListOffer offer;
    ComPtr<IShellWindows> list;
    if (FAILED(CreateShellWindows(list.put())) || !list) {
        return offer;
    }
    offer.made = true;
    if (auto container = list.As<IConnectionPointContainer>(IID_IConnectionPointContainer)) {
        ComPtr<IConnectionPoint> point;
        offer.notices = SUCCEEDED(container->FindConnectionPoint(DIID_DShellWindowsEvents, point.put())) && point;
    }
    ComPtr<IUnknown> unknown;
    ComPtr<IEnumVARIANT> items;
    if (SUCCEEDED(list->_NewEnum(unknown.put())) && unknown) items = unknown.As<IEnumVARIANT>(IID_IEnumVARIANT);
    while (items) {
        VARIANT item;
        VariantInit(&item);
        ULONG fetched = 0;
        if (items->Next(1, &item, &fetched) != S_OK || fetched != 1) break;
        if (item.vt == VT_DISPATCH && item.pdispVal) {
            ComPtr<IWebBrowser2> browser;
            if (SUCCEEDED(item.pdispVal->QueryInterface(IID_IWebBrowser2, browser.put_void())) && browser)
                ++offer.browsers;
        }
        VariantClear(&item);
    }
    return offer;
}

// The platform's own window list (under Wine it lists nothing and raises no notices): the main
// window's start must go through quietly and leave the blocker's switch working.
TEST(CreateWatcherTest, RealShellWindowListStartsQuietly) {
    ScriptedMessageBoxes boxes;
    HWND main = ::CreateWindowExW(0, L"STATIC", L"frmMain", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(main, nullptr);
    const std::vector<HWND> before = VisibleWindowsOfThisProcess();

    PopupBlocker blocker;
    blocker.Start();
    const ULONGLONG start = tovra::compat::TickCount64();
    blocker.WatchBrowsers();
    const ULONGLONG took = tovra::compat::TickCount64() - start;

    EXPECT_LT(took, 30000u);
    std::shared_ptr<BrowserWatcher> watcher = blocker.Watcher();
    ASSERT_TRUE(watcher);
    EXPECT_FALSE(watcher->Rebuilding());
    // The watcher holds what the system's own list offers: the list where it offers notices, one
    // sink per browser window it lists.
    const ShellListOffer offer = SystemShellList();
    EXPECT_EQ(static_cast<bool>(watcher->ShellList()), offer.made && offer.notices);
    EXPECT_EQ(watcher->SubscribedToShell(), offer.notices);
    EXPECT_EQ(watcher->Count(), offer.browsers);
    EXPECT_TRUE(blocker.Running());
    blocker.Toggle();
    EXPECT_FALSE(blocker.Running());
    blocker.Toggle();
    EXPECT_TRUE(blocker.Running());
    watcher.reset();

    blocker.StopWatching();
    EXPECT_FALSE(blocker.Watcher());
    EXPECT_TRUE(boxes.calls().empty());
    EXPECT_EQ(VisibleWindowsOfThisProcess(), before);
    ::DestroyWindow(main);
}

TEST(CreateWatcherTest, WatcherOverAListOfOurOwnIsReleasedWhole) {
    ComPtr<FakeShellWindows> shell = FakeShellWindows::Create();
    ComPtr<FakeBrowser> browser = FakeBrowser::Create(42);
    shell->OpenWindow(static_cast<IWebBrowser2*>(browser.get()), false);
    const ULONG browserRefs = browser->refs();

    PopupBlocker blocker(shell->Factory(), std::make_shared<ScriptedInput>());
    blocker.Start();
    blocker.WatchBrowsers();
    ASSERT_TRUE(blocker.Watcher());
    EXPECT_EQ(blocker.Watcher()->Count(), 1);
    EXPECT_TRUE(browser->FireNewWindow2());
    // A second start replaces the watcher: still one sink per window.
    blocker.WatchBrowsers();
    EXPECT_EQ(browser->events().connections(), 1u);
    EXPECT_EQ(shell->events().connections(), 1u);

    blocker.StopWatching();
    EXPECT_FALSE(blocker.Watcher());
    EXPECT_EQ(browser->events().connections(), 0u);
    EXPECT_EQ(shell->events().connections(), 0u);
    EXPECT_EQ(browser->refs(), browserRefs);
    EXPECT_EQ(shell->refs(), 1u);
    EXPECT_EQ(BrowserSink::LiveCount(), 0);
    EXPECT_EQ(DispatchEventSink::LiveCount(), 0);
    // Released: no sink refuses anything any more.
    EXPECT_FALSE(browser->FireNewWindow2());
}

// Two blockers in one process, each over its own list with its own browser: each switch reaches
// its own watcher's sinks only, and each watcher hears its own browser only.
TEST(CreateWatcherTest, TwoBlockersDoNotShareTheirSwitchOrTheirWatcher) {
    ComScope com;
    struct World {
        ComPtr<FakeShellWindows> shell = FakeShellWindows::Create();
        ComPtr<FakeBrowser> browser;
        std::unique_ptr<PopupBlocker> blocker;
        Recorder heard;
    } worlds[2];
    for (int i = 0; i < 2; ++i) {
        World& w = worlds[i];
        w.browser = FakeBrowser::Create(1000 + i);
        w.shell->OpenWindow(static_cast<IWebBrowser2*>(w.browser.get()), false);
        w.blocker = std::make_unique<PopupBlocker>(w.shell->Factory(), std::make_shared<ScriptedInput>());
        w.blocker->WatchBrowsers();
        ASSERT_TRUE(w.blocker->Watcher());
        w.blocker->Watcher()->AddListener(&w.heard);
    }
    World& first = worlds[0];
    World& second = worlds[1];
    EXPECT_NE(first.blocker->Watcher(), second.blocker->Watcher());

    first.blocker->Start();
    EXPECT_TRUE(first.blocker->Running());
    EXPECT_FALSE(second.blocker->Running());
    EXPECT_TRUE(first.browser->FireNewWindow2());
    EXPECT_FALSE(second.browser->FireNewWindow2());

    second.blocker->Start();
    first.blocker->Toggle();
    EXPECT_FALSE(first.blocker->Running());
    EXPECT_TRUE(second.blocker->Running());
    EXPECT_FALSE(first.browser->FireNewWindow2());
    EXPECT_TRUE(second.browser->FireNewWindow2());

    first.browser->FireDownloadBegin();
    second.browser->FireDownloadComplete();
    EXPECT_EQ(first.heard.events, (std::vector<std::wstring>{L"DownloadBegin 1000"}));
    EXPECT_EQ(second.heard.events, (std::vector<std::wstring>{L"DownloadComplete 1001"}));

    // Releasing one leaves the other watching.
    first.blocker->StopWatching();
    EXPECT_FALSE(first.blocker->Watcher());
    EXPECT_EQ(first.browser->events().connections(), 0u);
    EXPECT_EQ(second.browser->events().connections(), 1u);
    EXPECT_TRUE(second.browser->FireNewWindow2());
    for (World& w : worlds) w.blocker.reset();
    EXPECT_EQ(second.browser->events().connections(), 0u);
    EXPECT_EQ(BrowserSink::LiveCount(), 0);
}

}  // namespace
}  // namespace tovra::popup::test
