// The watcher: rebuilds on the shell's notices, the collection's lookups, re-entrant notices, the
// road from a sink's report to the watcher's events, and the release of every sink.
#include <gtest/gtest.h>
#include <windows.h>

#include "main/popup/tests/popup_fixture.h"

namespace tovra::popup::test {
namespace {

class WatcherTest : public PopupTest {};

TEST_F(WatcherTest, RebuildsOnOpenAndClose) {
    ComPtr<FakeBrowser> a = NewBrowser(101);
    ComPtr<FakeBrowser> b = NewBrowser(102);
    StartWatcher();
    EXPECT_EQ(watcher_->Count(), 2);
    EXPECT_TRUE(watcher_->SubscribedToShell());
    EXPECT_TRUE(rec_.events.empty());  // the first build raises nothing

    ComPtr<FakeBrowser> c = NewBrowser(103, false);
    shell_->OpenWindow(Disp(c));
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"Registered count=3"}));
    EXPECT_EQ(watcher_->Count(), 3);
    EXPECT_EQ(BrowserSink::LiveCount(), 3);
    // Every window got a fresh sink; the old ones are gone and unsubscribed.
    for (const auto* x : {&a, &b, &c}) {
        EXPECT_EQ((*x)->events().connections(), 1u);
        EXPECT_EQ(DocumentOf(*x)->events().connections(), 1u);
    }
    EXPECT_EQ(a->events().advises(), 2);
    EXPECT_EQ(c->events().advises(), 1);
    EXPECT_EQ(a->goForwardCalls, 2);  // each new sink probes again

    shell_->CloseWindow(Disp(a));
    EXPECT_EQ(rec_.events.back(), L"Revoked count=2");
    EXPECT_EQ(a->events().connections(), 0u);
    EXPECT_EQ(DocumentOf(a)->events().connections(), 0u);
    EXPECT_THROW(watcher_->Sink(L"101"), NoSuchWindow);

    shell_->CloseWindow(Disp(b));
    shell_->CloseWindow(Disp(c));
    EXPECT_EQ(watcher_->Count(), 0);
    EXPECT_EQ(BrowserSink::LiveCount(), 0);
    // With no window left the watcher still hears of the next one.
    shell_->OpenWindow(Disp(a));
    EXPECT_EQ(rec_.events.back(), L"Registered count=1");
    EXPECT_EQ(watcher_->Sink(1)->WindowHandle(), 101);
    EXPECT_EQ(shell_->events().connections(), 1u);
}

TEST_F(WatcherTest, EmptyListStillReceivesTheFirstNotice) {
    StartWatcher();
    EXPECT_EQ(watcher_->Count(), 0);
    EXPECT_TRUE(watcher_->Sinks().empty());
    ComPtr<FakeBrowser> a = NewBrowser(5, false);
    shell_->OpenWindow(Disp(a));
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"Registered count=1"}));
}

TEST_F(WatcherTest, LooksUpSinksByHandleTextAndPosition) {
    ComPtr<FakeBrowser> a = NewBrowser(0x1234);
    ComPtr<FakeBrowser> b = NewBrowser(7);
    StartWatcher();
    std::shared_ptr<BrowserSink> byKey = watcher_->Sink(L"4660");
    EXPECT_EQ(byKey->WindowHandle(), 0x1234);
    EXPECT_TRUE(SameObject(byKey->Browser().get(), Unk(a)));
    EXPECT_EQ(watcher_->Sink(1), byKey);
    EXPECT_EQ(watcher_->Sink(2), watcher_->Sink(L"7"));
    std::vector<std::shared_ptr<BrowserSink>> all = watcher_->Sinks();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0], byKey);
    EXPECT_EQ(all[1]->WindowHandle(), 7);
    EXPECT_EQ(watcher_->Sink(Unk(b)), all[1]);

    ComPtr<FakeBrowser> unlisted = NewBrowser(8, false);
    EXPECT_THROW(watcher_->Sink(Unk(unlisted)), NoSuchWindow);
    EXPECT_THROW(watcher_->Sink(static_cast<IUnknown*>(nullptr)), NoSuchWindow);

    for (const wchar_t* missing : {L"", L"1234", L"0x1234", L"8", L"7 "}) {
        SCOPED_TRACE(testing::Message() << "key " << testing::PrintToString(std::wstring(missing)));
        EXPECT_THROW(watcher_->Sink(missing), NoSuchWindow);
    }
    for (long position : {0L, -1L, 3L}) {
        EXPECT_THROW(watcher_->Sink(position), NoSuchWindow);
    }
}

// Internet Explorer 7 to 11: every tab is a browser object of its own, and all of them report the
// frame window's handle.
TEST_F(WatcherTest, EveryTabOfAWindowGetsItsOwnSink) {
    ComPtr<FakeBrowser> tab1 = NewBrowser(16);
    ComPtr<FakeBrowser> tab2 = NewBrowser(16);
    ComPtr<FakeBrowser> other = NewBrowser(17);
    StartWatcher();
    EXPECT_EQ(watcher_->Count(), 3);
    EXPECT_EQ(BrowserSink::LiveCount(), 3);
    {
        // Held only here: a sink that a caller keeps stays subscribed past the next rebuild.
        std::shared_ptr<BrowserSink> sink1 = watcher_->Sink(Unk(tab1));
        std::shared_ptr<BrowserSink> sink2 = watcher_->Sink(Unk(tab2));
        EXPECT_NE(sink1, sink2);
        EXPECT_TRUE(SameObject(sink1->Browser().get(), Unk(tab1)));
        EXPECT_TRUE(SameObject(sink2->Browser().get(), Unk(tab2)));
        EXPECT_EQ(sink2->WindowHandle(), 16);
        EXPECT_EQ(watcher_->Sink(L"16"), sink1) << "the handle finds the first tab";
    }
    for (const auto* tab : {&tab1, &tab2}) {
        EXPECT_EQ((*tab)->events().connections(), 1u);
        EXPECT_EQ(DocumentOf(*tab)->events().connections(), 1u);
        EXPECT_EQ((*tab)->goForwardCalls, 1);
        EXPECT_TRUE((*tab)->FireNewWindow2()) << "a tab's pop-up got through";
    }
    // The reports still name the window.
    tab2->FireDownloadBegin();
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"DownloadBegin 16"}));

    // A new tab in the same window, then one closed: the others keep refusing.
    ComPtr<FakeBrowser> tab3 = NewBrowser(16, false);
    shell_->OpenWindow(Disp(tab3));
    EXPECT_EQ(rec_.events.back(), L"Registered count=4");
    shell_->CloseWindow(Disp(tab1));
    EXPECT_EQ(rec_.events.back(), L"Revoked count=3");
    EXPECT_EQ(tab1->events().connections(), 0u);
    EXPECT_THROW(watcher_->Sink(Unk(tab1)), NoSuchWindow);
    for (const auto* tab : {&tab2, &tab3}) {
        EXPECT_EQ((*tab)->events().connections(), 1u);
        EXPECT_TRUE((*tab)->FireNewWindow2());
    }
    EXPECT_FALSE(tab1->FireNewWindow2()) << "the closed tab still has a sink";
}

// COM identity: the pointer for IUnknown is the same through every interface of one object.
TEST_F(WatcherTest, TheSameBrowserThroughTwoPointersCountsOnce) {
    ComPtr<FakeBrowser> a = NewBrowser(21);
    ComPtr<FakeDispatchAlias> alias = FakeDispatchAlias::Create(Unk(a));
    ASSERT_NE(static_cast<IDispatch*>(alias.get()), Disp(a));
    shell_->OpenWindow(alias.get(), false);
    StartWatcher();
    EXPECT_EQ(watcher_->Count(), 1);
    EXPECT_EQ(BrowserSink::LiveCount(), 1);
    EXPECT_EQ(a->events().connections(), 1u);
    EXPECT_EQ(a->goForwardCalls, 1) << "probed once per listing";
    EXPECT_EQ(a->fullNameCalls, 1) << "a browser that has its sink is not asked again";
    EXPECT_EQ(watcher_->Sink(alias.get()), watcher_->Sink(Unk(a)));
    // Added again by hand, it keeps the sink it has.
    EXPECT_EQ(watcher_->Attach(alias.get()), watcher_->Sink(1));
    EXPECT_EQ(watcher_->Count(), 1);
    EXPECT_EQ(a->goForwardCalls, 1);
}

// File Explorer windows are on the shell's list too, with the browser's interface. Each such
// window is asked for its program only: no sink, no probe, no subscription. The probe of a browser
// with forward history leaves the suppress flag set until its navigation starts; a folder's never would.
TEST_F(WatcherTest, OnlyTheWebBrowsersWindowsGetASink) {
    ComPtr<FakeBrowser> browser = NewBrowser(40);
    ComPtr<FakeBrowser> window = NewBrowser(41);
    window->forwardHistory = true;
    StartWatcher();
    const struct {
        const wchar_t* fullName;
        HRESULT answer;
        bool browser;
    } cases[] = {
        {L"C:\\Program Files\\Internet Explorer\\iexplore.exe", S_OK, true},
        {L"C:\\PROGRA~1\\INTERN~1\\IEXPLORE.EXE", S_OK, true},
        {L"C:/Program Files/Internet Explorer/IExplore.exe", S_OK, true},
        {L"iexplore.exe", S_OK, true},
        {L"C:\\WINDOWS\\explorer.exe", S_OK, false},
        {L"C:\\Windows\\Explorer.EXE", S_OK, false},
        {L"C:\\Tools\\notiexplore.exe", S_OK, false},
        {L"C:\\Program Files\\Internet Explorer\\iexplore.exe.bak", S_OK, false},
        {L"C:\\iexplore.exe\\explorer.exe", S_OK, false},
        {L"", S_OK, false},
        {L"C:\\Program Files\\Internet Explorer\\iexplore.exe", E_FAIL, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << testing::PrintToString(std::wstring(c.fullName)) << " answer 0x"
                                        << std::hex << c.answer);
        window->fullName = c.fullName;
        window->fullNameResult = c.answer;
        window->fullNameCalls = window->goForwardCalls = window->stopCalls = 0;
        window->execCalls.clear();
        watcher_->SetSuppressNext(false);
        watcher_->Rebuild();

        EXPECT_EQ(window->fullNameCalls, 1);
        EXPECT_EQ(watcher_->Count(), c.browser ? 2 : 1);
        EXPECT_EQ(BrowserSink::LiveCount(), c.browser ? 2 : 1);
        EXPECT_EQ(window->events().connections(), c.browser ? 1u : 0u);
        EXPECT_EQ(DocumentOf(window)->events().connections(), c.browser ? 1u : 0u);
        EXPECT_EQ(window->goForwardCalls, c.browser ? 1 : 0);
        EXPECT_EQ(window->execCalls.size(), c.browser ? 1u : 0u);
        EXPECT_EQ(window->stopCalls, 0);
        if (c.browser) {
            EXPECT_TRUE(window->FireNewWindow2());
            EXPECT_TRUE(window->FireBeforeNavigate2(Disp(window), L"http://example.invalid/forward"));
        } else {
            EXPECT_THROW(watcher_->Sink(Unk(window)), NoSuchWindow);
            EXPECT_FALSE(watcher_->SuppressNext());
        }
        // Either way the user's next navigation goes ahead, and the browser still refuses pop-ups.
        EXPECT_FALSE(browser->FireBeforeNavigate2(Disp(browser), L"http://example.invalid/user"));
        EXPECT_TRUE(browser->FireNewWindow2());
    }
}

TEST_F(WatcherTest, WindowClosedWhileAskedForItsProgramIsNeverAttached) {
    ComPtr<FakeBrowser> a = NewBrowser(51);
    ComPtr<FakeBrowser> b = NewBrowser(52, false);
    StartWatcher();
    b->onGetFullName = [&] {
        b->onGetFullName = nullptr;
        shell_->CloseWindow(Disp(b));
    };
    shell_->OpenWindow(Disp(b));
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"Revoked count=1", L"Registered count=1"}));
    EXPECT_EQ(b->goForwardCalls, 0);
    EXPECT_EQ(b->events().advises(), 0);
    EXPECT_EQ(BrowserSink::LiveCount(), 1);
}

TEST_F(WatcherTest, ItemsThatAreNoBrowsersAreNotAdded) {
    ComPtr<FakeBrowser> a = NewBrowser(1);
    ComPtr<FakeDocument> notABrowser = FakeDocument::Create();
    shell_->OpenWindow(static_cast<IDispatch*>(notABrowser.get()), false);
    StartWatcher();
    EXPECT_EQ(watcher_->Count(), 1);
    EXPECT_EQ(notABrowser->events().connections(), 0u);
}

TEST_F(WatcherTest, NoticeDuringARebuildGetsACompleteRebuildOfItsOwn) {
    ComPtr<FakeBrowser> a = NewBrowser(201);
    StartWatcher();
    ComPtr<FakeBrowser> b = NewBrowser(202, false);
    ComPtr<FakeBrowser> c = NewBrowser(203, false);
    // While the next rebuild talks to window a, the shell registers window c.
    bool armed = true;
    a->onGetHwnd = [&] {
        if (!armed) return;
        armed = false;
        EXPECT_TRUE(watcher_->Rebuilding());
        shell_->OpenWindow(Disp(c));
    };
    shell_->OpenWindow(Disp(b));
    // The inner notice saw all three windows before its event went out; the outer one, whose
    // list was out of date, added nothing more.
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"Registered count=3", L"Registered count=3"}));
    EXPECT_FALSE(watcher_->Rebuilding());
    EXPECT_EQ(watcher_->Count(), 3);
    EXPECT_EQ(BrowserSink::LiveCount(), 3);
    for (const auto* x : {&a, &b, &c}) EXPECT_EQ((*x)->events().connections(), 1u);
    EXPECT_EQ(shell_->events().connections(), 1u);
    EXPECT_EQ(LiveFakeEnumerators(), 0);
    // The watcher goes on hearing notices.
    shell_->CloseWindow(Disp(c));
    EXPECT_EQ(rec_.events.back(), L"Revoked count=2");
}

TEST_F(WatcherTest, NoticeWhileTheListIsEnumerated) {
    ComPtr<FakeBrowser> a = NewBrowser(301);
    ComPtr<FakeBrowser> b = NewBrowser(302);
    StartWatcher();
    ComPtr<FakeBrowser> c = NewBrowser(303, false);
    bool armed = false;
    shell_->onNext = [&](size_t index) {
        if (!armed || index != 1) return;
        armed = false;
        shell_->CloseWindow(Disp(a));
    };
    armed = true;
    shell_->OpenWindow(Disp(c));
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"Revoked count=2", L"Registered count=2"}));
    EXPECT_EQ(watcher_->Count(), 2);
    EXPECT_EQ(a->events().connections(), 0u);  // the closed window keeps no sink
    EXPECT_THROW(watcher_->Sink(L"301"), NoSuchWindow);
    EXPECT_EQ(BrowserSink::LiveCount(), 2);
}

TEST_F(WatcherTest, WindowClosedWhileItsSinkIsBeingAttached) {
    ComPtr<FakeBrowser> a = NewBrowser(351);
    ComPtr<FakeBrowser> b = NewBrowser(352);
    StartWatcher();
    bool armed = true;
    b->onGetHwnd = [&] {
        if (!armed) return;
        armed = false;
        shell_->CloseWindow(Disp(b));
    };
    watcher_->OnWindowRegistered();
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"Revoked count=1", L"Registered count=1"}));
    EXPECT_EQ(watcher_->Count(), 1);
    EXPECT_THROW(watcher_->Sink(L"352"), NoSuchWindow);
    EXPECT_EQ(b->events().connections(), 0u);
    EXPECT_EQ(DocumentOf(b)->events().connections(), 0u);
    EXPECT_EQ(BrowserSink::LiveCount(), 1);
}

TEST_F(WatcherTest, LookupFromWithinARebuildIsReportedNotWaitedFor) {
    ComPtr<FakeBrowser> a = NewBrowser(401);
    StartWatcher();
    ComPtr<FakeBrowser> b = NewBrowser(402, false);
    b->forwardHistory = true;
    b->onGoForward = [&] { b->FireBeforeNavigate2(Disp(b), L"http://example.invalid/forward"); };
    std::wstring outcome;
    rec_.onEvent = [&](const std::wstring& line) {
        if (line.rfind(L"NavigationBegin", 0) != 0) return;
        try {
            watcher_->Sink(1);
            outcome = L"answered";
        } catch (const WatcherBusy&) {
            outcome = L"busy";
        }
    };
    shell_->OpenWindow(Disp(b));
    EXPECT_EQ(outcome, L"busy");
    EXPECT_EQ(watcher_->Sink(2)->WindowHandle(), 402);
}

TEST_F(WatcherTest, EverySinkIsReleasedAfterARebuildAndAtTheEnd) {
    ComPtr<FakeBrowser> a = NewBrowser(501);
    ComPtr<FakeBrowser> b = NewBrowser(502);
    const ULONG aRefs = a->refs(), bRefs = b->refs();
    const ULONG aDocRefs = DocumentOf(a)->refs(), bDocRefs = DocumentOf(b)->refs();
    StartWatcher();
    const ULONG aHeld = a->refs(), aDocHeld = DocumentOf(a)->refs();
    const long dispatchSinks = DispatchEventSink::LiveCount();
    EXPECT_EQ(dispatchSinks, 1 + 2 * 2);  // the shell's and a browser and a document sink per window
    for (int i = 0; i < 3; ++i) {
        watcher_->OnWindowRegistered();
        EXPECT_EQ(a->refs(), aHeld);
        EXPECT_EQ(DocumentOf(a)->refs(), aDocHeld);
        EXPECT_EQ(DispatchEventSink::LiveCount(), dispatchSinks);
        EXPECT_EQ(BrowserSink::LiveCount(), 2);
    }
    watcher_.reset();
    EXPECT_EQ(a->refs(), aRefs);
    EXPECT_EQ(b->refs(), bRefs);
    EXPECT_EQ(DocumentOf(a)->refs(), aDocRefs);
    EXPECT_EQ(DocumentOf(b)->refs(), bDocRefs);
    EXPECT_EQ(a->events().connections() + b->events().connections(), 0u);
    EXPECT_EQ(DocumentOf(a)->events().connections() + DocumentOf(b)->events().connections(), 0u);
    // TearDown checks the list itself and that no sink object is left.
}

// Tabs that share a handle, a browser listed through two pointers and a folder window: rebuilds
// and revokes leave no reference behind on any of them.
TEST_F(WatcherTest, TabsAliasesAndFoldersHoldNothingAfterRebuildsAndRevokes) {
    ComPtr<FakeBrowser> tab1 = NewBrowser(901);
    ComPtr<FakeBrowser> tab2 = NewBrowser(901);
    ComPtr<FakeBrowser> folder = NewBrowser(902);
    folder->fullName = L"C:\\WINDOWS\\explorer.exe";
    ComPtr<FakeDispatchAlias> alias = FakeDispatchAlias::Create(Unk(tab2));
    shell_->OpenWindow(alias.get(), false);
    const ComPtr<FakeBrowser>* windows[] = {&tab1, &tab2, &folder};
    std::vector<ULONG> listed, documents;
    for (const auto* w : windows) {
        listed.push_back((*w)->refs());
        documents.push_back(DocumentOf(*w)->refs());
    }
    StartWatcher();
    EXPECT_EQ(folder->refs(), listed[2]);
    const ULONG held1 = tab1->refs(), held2 = tab2->refs();
    const long dispatchSinks = DispatchEventSink::LiveCount();
    EXPECT_EQ(dispatchSinks, 1 + 2 * 2);  // the shell's, and a browser and a document sink per tab
    for (int i = 0; i < 3; ++i) {
        watcher_->OnWindowRegistered();
        EXPECT_EQ(tab1->refs(), held1);
        EXPECT_EQ(tab2->refs(), held2);
        EXPECT_EQ(folder->refs(), listed[2]);
        EXPECT_EQ(DispatchEventSink::LiveCount(), dispatchSinks);
        EXPECT_EQ(BrowserSink::LiveCount(), 2);
    }
    shell_->CloseWindow(Disp(tab1));
    EXPECT_EQ(tab1->refs(), listed[0] - 1) << "the shell's reference went, and so must the sink's";
    EXPECT_EQ(DocumentOf(tab1)->refs(), documents[0]);
    EXPECT_EQ(BrowserSink::LiveCount(), 1);
    watcher_.reset();
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ((*windows[i])->refs(), listed[i]);
        EXPECT_EQ(DocumentOf(*windows[i])->refs(), documents[i]);
        EXPECT_EQ((*windows[i])->events().connections(), 0u);
    }
}

TEST_F(WatcherTest, SinkKeptByACallerOutlivesTheWatcherHarmlessly) {
    ComPtr<FakeBrowser> a = NewBrowser(601);
    a->forwardHistory = true;  // the probe leaves the watcher's suppress flag set
    StartWatcher();
    std::shared_ptr<BrowserSink> kept = watcher_->Sink(1);
    EXPECT_EQ(kept->Watcher(), watcher_);
    ASSERT_TRUE(watcher_->SuppressNext());
    watcher_.reset();
    EXPECT_EQ(kept->Watcher(), nullptr);
    a->FireDownloadBegin();  // reports to nobody
    EXPECT_TRUE(a->FireNewWindow2());
    // The flag went with its watcher: nothing is cancelled or suppressed any more.
    EXPECT_FALSE(a->FireBeforeNavigate2(Disp(a), L"http://example.invalid/forward"));
    VARIANT menu = DocumentOf(a)->FireContextMenu();
    EXPECT_EQ(menu.vt, VT_BOOL);
    EXPECT_EQ(menu.boolVal, VARIANT_TRUE);
    // The switch is the blocker's, not the watcher's: the kept sink still obeys it.
    blocker_->Set(false);
    EXPECT_FALSE(a->FireNewWindow2());
    EXPECT_TRUE(rec_.events.empty());
    kept.reset();
    EXPECT_EQ(a->events().connections(), 0u);
}

// Two watchers in one process: window a has a sink of each, and each sink reports to the watcher
// that made it, never to the other.
TEST_F(WatcherTest, EachSinkReportsToTheWatcherThatMadeIt) {
    ComPtr<FakeBrowser> a = NewBrowser(701);
    StartWatcher();
    Recorder second;
    std::shared_ptr<BrowserWatcher> other = BrowserWatcher::Create(Setup());
    other->AddListener(&second);
    EXPECT_EQ(watcher_->Sink(1)->Watcher(), watcher_);
    EXPECT_EQ(other->Sink(1)->Watcher(), other);
    EXPECT_NE(watcher_->Sink(1), other->Sink(1));
    a->FireDownloadBegin();
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"DownloadBegin 701"}));
    EXPECT_EQ(second.events, (std::vector<std::wstring>{L"DownloadBegin 701"}));
    other.reset();
    a->FireDownloadComplete();
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"DownloadBegin 701", L"DownloadComplete 701"}));
    EXPECT_EQ(second.events, (std::vector<std::wstring>{L"DownloadBegin 701"}));
}

// A probe under way in one watcher's window cancels the next navigation of that watcher's windows
// only: the other watcher has a suppress flag of its own.
TEST_F(WatcherTest, TwoWatchersDoNotShareTheSuppressFlag) {
    ComPtr<FakeBrowser> plain = NewBrowser(720);
    StartWatcher();
    ComPtr<FakeShellWindows> otherShell = FakeShellWindows::Create();
    ComPtr<FakeBrowser> withHistory = NewBrowser(721, false);
    withHistory->forwardHistory = true;
    otherShell->OpenWindow(Disp(withHistory), false);
    WatcherSetup setup = Setup();
    setup.shellWindows = otherShell->Factory();
    std::shared_ptr<BrowserWatcher> other = BrowserWatcher::Create(std::move(setup));
    ASSERT_EQ(other->Count(), 1);
    EXPECT_TRUE(other->SuppressNext());
    EXPECT_FALSE(watcher_->SuppressNext());

    // The first watcher's window navigates and shows its menu as it likes; the probe still waits.
    EXPECT_FALSE(plain->FireBeforeNavigate2(Disp(plain), L"http://example.invalid/elsewhere"));
    VARIANT menu = DocumentOf(plain)->FireContextMenu();
    EXPECT_EQ(menu.boolVal, VARIANT_TRUE);
    EXPECT_TRUE(other->SuppressNext());
    // The probe's own navigation start is cancelled by the other watcher's sink.
    EXPECT_TRUE(withHistory->FireBeforeNavigate2(Disp(withHistory), L"http://example.invalid/forward"));
    EXPECT_FALSE(other->SuppressNext());
    EXPECT_FALSE(withHistory->FireBeforeNavigate2(Disp(withHistory), L"http://example.invalid/user"));

    // Setting one watcher's flag leaves the other's alone.
    watcher_->SetSuppressNext(true);
    EXPECT_FALSE(other->SuppressNext());
    EXPECT_FALSE(withHistory->FireBeforeNavigate2(Disp(withHistory), L"http://example.invalid/again"));
    EXPECT_TRUE(plain->FireBeforeNavigate2(Disp(plain), L"http://example.invalid/cancelled"));
    EXPECT_FALSE(watcher_->SuppressNext());

    other.reset();
    EXPECT_EQ(otherShell->events().connections(), 0u);
    EXPECT_EQ(otherShell->refs(), 1u);
    EXPECT_EQ(withHistory->events().connections(), 0u);
}

TEST_F(WatcherTest, RemovedListenerHearsNothingMore) {
    ComPtr<FakeBrowser> a = NewBrowser(801);
    StartWatcher();
    Recorder other;
    watcher_->AddListener(&other);
    // The first listener removes the second one during the same event.
    rec_.onEvent = [&](const std::wstring&) { watcher_->RemoveListener(&other); };
    a->FireDownloadBegin();
    EXPECT_EQ(rec_.events.size(), 1u);
    EXPECT_TRUE(other.events.empty());
}

TEST_F(WatcherTest, ReportsAreFittedAndConvertedToTheEventsTypes) {
    StartWatcher();
    struct Case {
        int code;
        std::vector<Variant> args;
        std::vector<std::wstring> expected;
    };
    Variant text;
    VARIANT* raw = text.put();
    raw->vt = VT_BSTR;
    raw->bstrVal = ::SysAllocString(L"3");
    std::vector<Case> cases;
    cases.push_back({static_cast<int>(BrowserReport::MouseDown), {text, Variant::Long(2), Variant::Long(12), Variant::Float(7.5f)},
                     {L"MouseDown 9 button=3 shift=2 x=12 y=7.5"}});
    cases.push_back({static_cast<int>(BrowserReport::MouseUp), {Variant::Float(1.0f)}, {L"MouseUp 9 button=1 shift=0 x=0 y=0"}});
    cases.push_back({static_cast<int>(BrowserReport::CommandStateChange), {Variant::Short(2), Variant::Long(-1)},
                     {L"CommandStateChange 9 command=2 enable=1"}});
    cases.push_back({static_cast<int>(BrowserReport::NavigationBegin), {}, {L"NavigationBegin 9 disp=0 url= flags= cancel=0"}});
    cases.push_back({static_cast<int>(BrowserReport::NavigationBegin),
                     {Variant(), text, Variant::Long(4), Variant(), Variant(), Variant(), Variant::Long(1), text},
                     {L"NavigationBegin 9 disp=0 url=3 flags=4 cancel=1"}});
    cases.push_back({static_cast<int>(BrowserReport::DownloadBegin), {Variant::Long(1)}, {L"DownloadBegin 9"}});
    cases.push_back({static_cast<int>(BrowserReport::ContextMenu), {}, {L"ContextMenu 9"}});
    cases.push_back({0, {Variant::Long(1)}, {}});
    cases.push_back({10, {}, {}});
    cases.push_back({-3, {}, {}});
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "code " << c.code);
        rec_.events.clear();
        watcher_->Report(static_cast<BrowserReport>(c.code), 9, c.args);
        EXPECT_EQ(rec_.events, c.expected);
    }
}

TEST_F(WatcherTest, EventlessListIsWatchedWithoutNotices) {
    shell_->eventless = true;  // as the shell's list under Wine
    ComPtr<FakeBrowser> a = NewBrowser(901);
    StartWatcher();
    EXPECT_EQ(watcher_->Count(), 1);
    EXPECT_FALSE(watcher_->SubscribedToShell());
    EXPECT_FALSE(watcher_->ShellList()) << "a list that offers no notices is not kept";
    EXPECT_TRUE(a->FireNewWindow2());
}

TEST_F(WatcherTest, ListThatCannotBeMadeLeavesTheWatcherEmpty) {
    int asked = 0;
    WatcherSetup setup = Setup();
    setup.shellWindows = [&](IShellWindows** out) {
        ++asked;
        *out = nullptr;
        return REGDB_E_CLASSNOTREG;
    };
    watcher_ = BrowserWatcher::Create(std::move(setup));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(watcher_->Count(), 0);
    EXPECT_FALSE(watcher_->ShellList());
    EXPECT_FALSE(watcher_->Rebuilding());
    watcher_->Rebuild();
    EXPECT_EQ(asked, 2);
    watcher_.reset();
}

}  // namespace
}  // namespace tovra::popup::test
