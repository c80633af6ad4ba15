// The view's page load with a double of the browser control: Load returns at once, the page goes
// into the document when the browser says it has completed, and the text shows where it never
// does; whatever happens to the view or its window while a load waits.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "shared/html_view.h"
#include "shared/html_view_text.h"
#include "shared/tests/browser_double.h"
#include "shared/tests/parent_window.h"

namespace {

using tovra::HtmlToText;
using tovra::HtmlView;
using tovra::test::FakeBrowser;
using tovra::test::FakeBrowsers;
using tovra::test::RunEventsFor;
using tovra::test::RunEventsUntil;

const wchar_t kPage[] = L"<html><body><i>Tovra</i> page.<br>Second line.</body></html>";
constexpr int kId = 7;
constexpr UINT kShortWaitMs = 300;

int Children(HWND parent) {
    int n = 0;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) ++n;
    return n;
}

std::wstring ClassOf(HWND h) {
    wchar_t buf[64] = {};
    GetClassNameW(h, buf, 64);
    return buf;
}

class PageLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        parent_ = window_.hwnd();
        ASSERT_NE(parent_, nullptr);
    }
    // A view whose browser is the double; true when it was made with it.
    bool MakeView(FakeBrowser::Options options = {}, UINT waitMs = HtmlView::kDocumentWaitMs) {
        browsers_ = std::make_unique<FakeBrowsers>(std::move(options));
        view_ = std::make_unique<HtmlView>(browsers_->Factory(), waitMs);
        return view_->Create(parent_, kId, RECT{10, 10, 300, 200}) && browsers_->made() == 1 &&
               view_->UsingBrowser();
    }
    FakeBrowser& browser() { return (*browsers_)[0]; }

    tovra::test::ParentWindow window_;
    HWND parent_ = nullptr;
    std::unique_ptr<FakeBrowsers> browsers_;
    std::unique_ptr<HtmlView> view_;
};

TEST_F(PageLoadTest, LoadReturnsAtOnceAndTheDocumentTakesThePageWhenItCompletes) {
    ASSERT_TRUE(MakeView());
    EXPECT_TRUE(browser().silent()) << "no dialogs from the page view";
    EXPECT_EQ(browser().sinks(), 1u) << "the view hears the browser's events";
    // A message waiting before the load must still wait after it: the load runs no window events.
    constexpr UINT kSentinel = WM_APP + 0x51;
    ASSERT_TRUE(PostMessageW(parent_, kSentinel, 0, 0));
    EXPECT_TRUE(view_->Load(kPage));
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, parent_, kSentinel, kSentinel, PM_REMOVE)) << "the load ran window events";

    EXPECT_TRUE(view_->Loading());
    EXPECT_EQ(browser().navigations(), 1);
    EXPECT_EQ(browser().lastUrl(), L"about:blank");
    EXPECT_EQ(browser().document().writes(), 0);
    HWND shown = view_->hwnd();
    EXPECT_EQ(shown, browsers_->window(0)) << "the browser's window is on show from the start";
    EXPECT_EQ(GetDlgCtrlID(shown), kId);
    EXPECT_TRUE(GetWindowLongW(shown, GWL_STYLE) & WS_VISIBLE);

    RunEventsFor(100);
    EXPECT_TRUE(view_->Loading()) << "nothing has come yet";
    browser().CompleteFrame();
    EXPECT_TRUE(view_->Loading()) << "a frame of the page is not the page";
    EXPECT_EQ(browser().document().writes(), 0);

    browser().Complete();
    EXPECT_FALSE(view_->Loading());
    EXPECT_EQ(browser().document().writes(), 1);
    EXPECT_EQ(browser().document().written(), kPage);
    EXPECT_TRUE(browser().document().closed());
    EXPECT_TRUE(view_->UsingBrowser());
    EXPECT_EQ(view_->ShownText(), L"");
    RunEventsFor(100);
    EXPECT_EQ(view_->hwnd(), shown);
    EXPECT_EQ(Children(parent_), 1) << "no text box besides the page";
    EXPECT_EQ(browser().document().writes(), 1);
}

// Every way a navigation can end, and what the view then shows.
TEST_F(PageLoadTest, HowEachEndingShows) {
    auto never = [](FakeBrowser&) {};
    struct Case {
        const char* name;
        FakeBrowser::Options options;
        std::function<void(FakeBrowser&)> then;  // what the browser does after the load began
        bool inBrowser;                          // the page in the document; otherwise its text
        bool waitsItsTime;                       // nothing ends the wait before its time
    } cases[] = {
        {"fails", {}, [](FakeBrowser& b) { b.Fail(); }, false, false},
        {"never completes", {}, never, false, true},
        {"never completes, but a document is there", {.documentEarly = true}, never, true, true},
        {"completes with a document that takes no HTML", {.takesHtml = false}, [](FakeBrowser& b) { b.Complete(); },
         false, false},
        {"offers no events; its ready state completes", {.events = false},
         [](FakeBrowser& b) { b.CompleteQuietly(); }, true, false},
        {"completes from within the navigation", {.duringNavigate = [](FakeBrowser& b) { b.Complete(); }}, never,
         true, false},
        {"fails from within the navigation", {.duringNavigate = [](FakeBrowser& b) { b.Fail(); }}, never, false,
         false},
        {"refuses to navigate", {.navigateResult = E_FAIL}, never, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(MakeView(c.options, kShortWaitMs));
        HWND host = browsers_->window(0);
        DWORD start = GetTickCount();
        EXPECT_TRUE(view_->Load(kPage));
        c.then(browser());
        ASSERT_TRUE(RunEventsUntil([&] { return !view_->Loading(); }, kShortWaitMs + 3000));
        DWORD took = GetTickCount() - start;
        RunEventsFor(50);  // nothing more comes after the end

        if (c.inBrowser) {
            EXPECT_TRUE(view_->UsingBrowser());
            EXPECT_EQ(view_->hwnd(), host);
            EXPECT_EQ(browser().document().writes(), 1);
            EXPECT_EQ(browser().document().written(), kPage);
            EXPECT_EQ(view_->ShownText(), L"");
        } else {
            EXPECT_FALSE(view_->UsingBrowser());
            EXPECT_FALSE(IsWindow(host)) << "the browser's window stays beside the text";
            HWND text = view_->hwnd();
            ASSERT_NE(text, nullptr);
            EXPECT_EQ(_wcsicmp(ClassOf(text).c_str(), L"Edit"), 0);
            EXPECT_EQ(GetDlgCtrlID(text), kId);
            EXPECT_TRUE(GetWindowLongW(text, GWL_STYLE) & ES_READONLY);
            EXPECT_EQ(view_->ShownText(), HtmlToText(kPage));
            EXPECT_EQ(browser().sinks(), 0u) << "still listening to a browser that has gone";
            EXPECT_EQ(browser().references(), 1u) << "the view kept the browser it no longer shows";
        }
        EXPECT_EQ(Children(parent_), 1);
        if (c.waitsItsTime) {
            EXPECT_GE(took + 20, kShortWaitMs) << "the view gave up before its time";  // a tick's leeway
        } else {
            EXPECT_LT(took, kShortWaitMs) << "the view waited out its time for an ending it had heard";
        }
        view_.reset();
        EXPECT_EQ(Children(parent_), 0) << "the view left a window behind";
    }
}

// What may happen to the view or its window while a load waits, and what the browser then does.
TEST_F(PageLoadTest, WhileALoadWaits) {
    struct Case {
        const char* name;
        std::function<void()> meanwhile;
        std::function<void(FakeBrowser&)> then;
    } cases[] = {
        {"the view is released; the document completes", [this] { view_.reset(); },
         [](FakeBrowser& b) { b.Complete(); }},
        {"the view is released; the navigation fails", [this] { view_.reset(); },
         [](FakeBrowser& b) { b.Fail(); }},
        {"the parent is destroyed; the document completes", [this] { DestroyWindow(parent_); },
         [](FakeBrowser& b) { b.Complete(); }},
        {"the parent is destroyed; the navigation fails", [this] { DestroyWindow(parent_); },
         [](FakeBrowser& b) { b.Fail(); }},
        {"the parent is destroyed; nothing ever comes", [this] { DestroyWindow(parent_); },
         [](FakeBrowser&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tovra::test::ParentWindow window;
        parent_ = window.hwnd();
        ASSERT_TRUE(MakeView({}, kShortWaitMs));
        HWND host = browsers_->window(0);
        ASSERT_TRUE(view_->Load(kPage));
        ASSERT_TRUE(view_->Loading());

        c.meanwhile();
        EXPECT_FALSE(IsWindow(host)) << "the browser's window outlived its view";
        EXPECT_EQ(browser().sinks(), 0u) << "still listening to the browser";
        c.then(browser());
        RunEventsFor(kShortWaitMs + 200);  // past the end of the wait, too

        EXPECT_EQ(browser().document().writes(), 0) << "the page went into a browser no longer shown";
        EXPECT_EQ(browser().references(), 1u) << "the browser was kept";
        if (IsWindow(parent_)) {
            EXPECT_EQ(Children(parent_), 0) << "a window was left behind";
        } else {
            ASSERT_TRUE(view_);
            EXPECT_FALSE(view_->Loading());
            EXPECT_EQ(view_->hwnd(), nullptr);
            EXPECT_FALSE(view_->Load(kPage)) << "a load without a window";
            EXPECT_EQ(view_->hwnd(), nullptr) << "a window was made for a parent that has gone";
            EXPECT_EQ(browsers_->made(), 1u);
        }
        view_.reset();  // and the view still goes away cleanly
    }
}

TEST_F(PageLoadTest, ALoadWhileOneWaitsShowsTheNewestPageAndALaterOneLoadsAgain) {
    ASSERT_TRUE(MakeView());
    ASSERT_TRUE(view_->Load(L"first"));
    ASSERT_TRUE(view_->Load(L"second"));
    EXPECT_EQ(browser().navigations(), 1) << "the navigation under way serves both";
    browser().Complete();
    EXPECT_FALSE(view_->Loading());
    EXPECT_EQ(browser().document().writes(), 1);
    EXPECT_EQ(browser().document().written(), L"second");

    ASSERT_TRUE(view_->Load(L"third"));
    EXPECT_TRUE(view_->Loading());
    EXPECT_EQ(browser().navigations(), 2);
    browser().Complete();
    EXPECT_EQ(browser().document().writes(), 2);
    EXPECT_EQ(browser().document().written(), L"third");
}

TEST_F(PageLoadTest, WithoutAControlTheTextShowsAtOnce) {
    int asked = 0;
    HtmlView view([&](HWND, int, const RECT&) {
        ++asked;
        return tovra::BrowserControl{};
    });
    ASSERT_TRUE(view.Create(parent_, kId, RECT{0, 0, 100, 100}));
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(view.UsingBrowser());
    EXPECT_TRUE(view.Load(kPage));
    EXPECT_FALSE(view.Loading());
    EXPECT_EQ(view.ShownText(), HtmlToText(kPage));
    EXPECT_EQ(Children(parent_), 1);
}

}  // namespace
