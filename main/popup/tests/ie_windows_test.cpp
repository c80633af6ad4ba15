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
    EXPECT_EQ(IE_Class::LiveCount(), 3);
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
    EXPECT_THROW(watcher_->IE(L"101"), NoSuchWindow);

    shell_->CloseWindow(Disp(b));
    shell_->CloseWindow(Disp(c));
    EXPECT_EQ(watcher_->Count(), 0);
    EXPECT_EQ(IE_Class::LiveCount(), 0);
    // With no window left the watcher still hears of the next one.
    shell_->OpenWindow(Disp(a));
    EXPECT_EQ(rec_.events.back(), L"Registered count=1");
    EXPECT_EQ(watcher_->IE(1)->IEHandle(), 101);
    EXPECT_EQ(shell_->events().connections(), 1u);
}

TEST_F(WatcherTest, EmptyListStillReceivesTheFirstNotice) {
    StartWatcher();
    EXPECT_EQ(watcher_->Count(), 0);
    EXPECT_TRUE(watcher_->NewEnum().empty());
    ComPtr<FakeBrowser> a = NewBrowser(5, false);
    shell_->OpenWindow(Disp(a));
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"Registered count=1"}));
}

TEST_F(WatcherTest, LooksUpSinksByHandleTextAndPosition) {
    ComPtr<FakeBrowser> a = NewBrowser(0x1234);
    ComPtr<FakeBrowser> b = NewBrowser(7);
    StartWatcher();
    std::shared_ptr<IE_Class> byKey = watcher_->IE(L"4660");
    EXPECT_EQ(byKey->IEHandle(), 0x1234);
    EXPECT_TRUE(SameObject(byKey->IEctl().get(), Unk(a)));
    EXPECT_EQ(watcher_->IE(1), byKey);
    EXPECT_EQ(watcher_->IE(2), watcher_->IE(L"7"));
    std::vector<std::shared_ptr<IE_Class>> all = watcher_->NewEnum();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0], byKey);
    EXPECT_EQ(all[1]->IEHandle(), 7);

    for (const wchar_t* missing : {L"", L"1234", L"0x1234", L"8", L"7 "}) {
        SCOPED_TRACE(testing::Message() << "key " << testing::PrintToString(std::wstring(missing)));
        EXPECT_THROW(watcher_->IE(missing), NoSuchWindow);
    }
    for (long position : {0L, -1L, 3L}) {
        EXPECT_THROW(watcher_->IE(position), NoSuchWindow);
    }
}

TEST_F(WatcherTest, SecondWindowWithTheSameHandleIsDropped) {
    ComPtr<FakeBrowser> a = NewBrowser(16);
    ComPtr<FakeBrowser> b = NewBrowser(16);
    StartWatcher();
    EXPECT_EQ(watcher_->Count(), 1);
    EXPECT_TRUE(SameObject(watcher_->IE(L"16")->IEctl().get(), Unk(a)));
    EXPECT_EQ(IE_Class::LiveCount(), 1);
    EXPECT_EQ(b->events().connections(), 0u);
    EXPECT_EQ(DocumentOf(b)->events().connections(), 0u);
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
        EXPECT_TRUE(watcher_->bRefreshing());
        shell_->OpenWindow(Disp(c));
    };
    shell_->OpenWindow(Disp(b));
    // The inner notice saw all three windows before its event went out; the outer one, whose
    // list was out of date, added nothing more.
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"Registered count=3", L"Registered count=3"}));
    EXPECT_FALSE(watcher_->bRefreshing());
    EXPECT_EQ(watcher_->Count(), 3);
    EXPECT_EQ(IE_Class::LiveCount(), 3);
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
    EXPECT_THROW(watcher_->IE(L"301"), NoSuchWindow);
    EXPECT_EQ(IE_Class::LiveCount(), 2);
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
    watcher_->winShell_WindowRegistered(0);
    EXPECT_EQ(rec_.events, (std::vector<std::wstring>{L"Revoked count=1", L"Registered count=1"}));
    EXPECT_EQ(watcher_->Count(), 1);
    EXPECT_THROW(watcher_->IE(L"352"), NoSuchWindow);
    EXPECT_EQ(b->events().connections(), 0u);
    EXPECT_EQ(DocumentOf(b)->events().connections(), 0u);
    EXPECT_EQ(IE_Class::LiveCount(), 1);
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
            watcher_->IE(1);
            outcome = L"answered";
        } catch (const WatcherBusy&) {
            outcome = L"busy";
        }
    };
    shell_->OpenWindow(Disp(b));
    EXPECT_EQ(outcome, L"busy");
    EXPECT_EQ(watcher_->IE(2)->IEHandle(), 402);
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
        watcher_->winShell_WindowRegistered(0);
        EXPECT_EQ(a->refs(), aHeld);
        EXPECT_EQ(DocumentOf(a)->refs(), aDocHeld);
        EXPECT_EQ(DispatchEventSink::LiveCount(), dispatchSinks);
        EXPECT_EQ(IE_Class::LiveCount(), 2);
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

TEST_F(WatcherTest, SinkKeptByACallerOutlivesTheWatcherHarmlessly) {
    ComPtr<FakeBrowser> a = NewBrowser(601);
    StartWatcher();
    std::shared_ptr<IE_Class> kept = watcher_->IE(1);
    watcher_.reset();
    EXPECT_TRUE(lWatcherPtr.expired());
    a->FireDownloadBegin();  // reports to nobody
    EXPECT_TRUE(a->FireNewWindow2());
    EXPECT_TRUE(rec_.events.empty());
    kept.reset();
    EXPECT_EQ(a->events().connections(), 0u);
}

TEST_F(WatcherTest, NewerWatcherTakesTheReportsOver) {
    ComPtr<FakeBrowser> a = NewBrowser(701);
    StartWatcher();
    Recorder second;
    std::shared_ptr<cIEWindows> other = cIEWindows::Create(shell_->Factory());
    other->AddListener(&second);
    a->FireDownloadBegin();  // both sinks of window a report to the newer watcher
    EXPECT_TRUE(rec_.events.empty());
    EXPECT_EQ(second.events, (std::vector<std::wstring>{L"DownloadBegin 701", L"DownloadBegin 701"}));
    other.reset();
    a->FireDownloadComplete();
    EXPECT_TRUE(rec_.events.empty());
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
    cases.push_back({ieMouseDown, {text, Variant::Long(2), Variant::Long(12), Variant::Float(7.5f)},
                     {L"MouseDown 9 button=3 shift=2 x=12 y=7.5"}});
    cases.push_back({ieMouseUp, {Variant::Float(1.0f)}, {L"MouseUp 9 button=1 shift=0 x=0 y=0"}});
    cases.push_back({ieCommandStateChange, {Variant::Short(2), Variant::Long(-1)},
                     {L"CommandStateChange 9 command=2 enable=1"}});
    cases.push_back({ieNavigationBegin, {}, {L"NavigationBegin 9 disp=0 url= flags= cancel=0"}});
    cases.push_back({ieNavigationBegin,
                     {Variant(), text, Variant::Long(4), Variant(), Variant(), Variant(), Variant::Long(1), text},
                     {L"NavigationBegin 9 disp=0 url=3 flags=4 cancel=1"}});
    cases.push_back({ieDownloadBegin, {Variant::Long(1)}, {L"DownloadBegin 9"}});
    cases.push_back({ieOnContextMenu, {}, {L"ContextMenu 9"}});
    cases.push_back({0, {Variant::Long(1)}, {}});
    cases.push_back({10, {}, {}});
    cases.push_back({-3, {}, {}});
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "code " << c.code);
        rec_.events.clear();
        RaiseIEEvent(c.code, 9, c.args);
        EXPECT_EQ(rec_.events, c.expected);
    }
}

TEST_F(WatcherTest, EventlessListIsWatchedWithoutNotices) {
    shell_->eventless = true;  // as the shell's list under Wine
    ComPtr<FakeBrowser> a = NewBrowser(901);
    StartWatcher();
    EXPECT_EQ(watcher_->Count(), 1);
    EXPECT_FALSE(watcher_->SubscribedToShell());
    EXPECT_FALSE(watcher_->winShell()) << "a list that offers no notices is not kept";
    EXPECT_TRUE(a->FireNewWindow2());
}

TEST_F(WatcherTest, ListThatCannotBeMadeLeavesTheWatcherEmpty) {
    int asked = 0;
    watcher_ = cIEWindows::Create([&](IShellWindows** out) {
        ++asked;
        *out = nullptr;
        return REGDB_E_CLASSNOTREG;
    });
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(watcher_->Count(), 0);
    EXPECT_FALSE(watcher_->winShell());
    EXPECT_FALSE(watcher_->bRefreshing());
    watcher_->RefreshWindows();
    EXPECT_EQ(asked, 2);
    watcher_.reset();
}

}  // namespace
}  // namespace tovra::popup::test
