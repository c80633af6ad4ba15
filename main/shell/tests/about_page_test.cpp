// The About box and its page, with a double of the browser control: the box shows at once, the
// page fills in when the browser's document completes, and OK, Esc, the close box and the About
// menu may all come while the page still waits.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "main/shell/about_form.h"
#include "main/shell/main_form.h"
#include "main/shell/main_ids.h"
#include "shared/forms.h"
#include "shared/tests/browser_double.h"

namespace {

using namespace tovra::shell;
using tovra::test::FakeBrowsers;
using tovra::test::RunEventsFor;

struct NoLauncher : Launcher {
    bool Start(const std::wstring&, int) override { return true; }
    bool Open(const std::wstring&, int) override { return true; }
};

struct AboutBoxes {
    std::vector<HWND> windows;
};
BOOL CALLBACK CollectAbout(HWND w, LPARAM lp) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t title[64] = {};
    GetWindowTextW(w, title, 64);
    if (pid == GetCurrentProcessId() && std::wstring(title) == kAboutTitle)
        reinterpret_cast<AboutBoxes*>(lp)->windows.push_back(w);
    return TRUE;
}
std::vector<HWND> AboutWindows() {
    AboutBoxes boxes;
    EnumWindows(CollectAbout, reinterpret_cast<LPARAM>(&boxes));
    return boxes.windows;
}

// The browser's document completes long after the box has come (or its page fails, or nothing
// comes): then it shows the page, or nothing where the box has gone.
void EveryEnding(tovra::test::FakeBrowser& browser) {
    browser.Complete();
    browser.Fail();
    RunEventsFor(100);
}

TEST(AboutPageTest, TheBoxShowsAtOnceAndThePageFillsInWhenItsDocumentCompletes) {
    NoLauncher launcher;
    FakeBrowsers browsers;
    AboutForm about(launcher, browsers.Factory());
    ASSERT_TRUE(about.Load());
    // All that the box shows but the page, before the browser has done anything.
    EXPECT_TRUE(about.Visible());
    EXPECT_EQ(about.Caption(), L"About Tovra");
    EXPECT_EQ(about.Text(lblTitle), L"Tovra Pop-ups Killer");
    EXPECT_EQ(about.Text(lblAboutVersion), L"Version 1.0.0");
    EXPECT_EQ(GetFocus(), about.Control(cmdOK));
    ASSERT_EQ(browsers.made(), 1u);
    EXPECT_EQ(GetDlgItem(about.hwnd(), brwWebBrowser), browsers.window(0)) << "the browser stands in the page area";
    EXPECT_TRUE(about.PageLoading());
    EXPECT_TRUE(about.PageInBrowser());
    EXPECT_EQ(browsers[0].lastUrl(), L"about:blank");
    EXPECT_EQ(browsers[0].document().writes(), 0);

    browsers[0].Complete();
    EXPECT_FALSE(about.PageLoading());
    EXPECT_EQ(browsers[0].document().written(), AboutPage());
    EXPECT_TRUE(about.PageInBrowser());
    EXPECT_TRUE(about.Visible());
    about.cmdOK_Click();
    EXPECT_TRUE(AboutWindows().empty());
}

// OK, Esc and the close box while the page waits close the box; nothing comes of that page, and
// the next load shows a page of its own.
TEST(AboutPageTest, ClosedWhileThePageLoads) {
    struct Way {
        const char* name;
        std::function<void(AboutForm&)> close;
    } ways[] = {
        {"OK", [](AboutForm& a) { SendMessageW(a.Control(cmdOK), BM_CLICK, 0, 0); }},
        {"Esc", [](AboutForm& a) {
             PostMessageW(a.hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
             tovra::forms::DoEvents();
         }},
        {"close box", [](AboutForm& a) { SendMessageW(a.hwnd(), WM_CLOSE, 0, 0); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        NoLauncher launcher;
        FakeBrowsers browsers;
        AboutForm about(launcher, browsers.Factory());
        ASSERT_TRUE(about.Load());
        ASSERT_TRUE(about.PageLoading());
        way.close(about);
        EXPECT_FALSE(about.created());
        EXPECT_TRUE(AboutWindows().empty());
        EXPECT_FALSE(IsWindow(browsers.window(0)));
        EXPECT_EQ(browsers[0].sinks(), 0u) << "the closed box still listens to its browser";

        EveryEnding(browsers[0]);
        EXPECT_EQ(browsers[0].document().writes(), 0);
        EXPECT_TRUE(AboutWindows().empty()) << "the box came back";
        EXPECT_FALSE(about.PageLoading());

        ASSERT_TRUE(about.Load());
        EXPECT_TRUE(about.Visible());
        ASSERT_EQ(browsers.made(), 2u);
        EXPECT_TRUE(about.PageLoading());
        browsers[1].Complete();
        EXPECT_EQ(browsers[1].document().written(), AboutPage());
        EXPECT_EQ(AboutWindows().size(), 1u);
        about.cmdOK_Click();
    }
}

struct MainWithAbout : ::testing::Test {
    NoLauncher launcher;
    FakeBrowsers browsers;
    std::unique_ptr<MainForm> form;
    void SetUp() override {
        MainForm::Seams seams;
        seams.launcher = &launcher;
        seams.endProgram = [] {};
        seams.trayNotify = [](DWORD, TrayRecord&) { return TRUE; };
        seams.createWatcher = [](HWND) {};
        seams.browsers = browsers.Factory();
        form = std::make_unique<MainForm>(std::move(seams));
        ASSERT_TRUE(form->Load());
    }
    void TearDown() override { form.reset(); }
    void About() { SendMessageW(form->hwnd(), WM_COMMAND, MAKEWPARAM(mnuAbout, 0), 0); }
};

// Closed and opened again from the menu while the first page still loads, several times: one box,
// and only the last page's document shows anything.
TEST_F(MainWithAbout, ClosedAndOpenedAgainWhileThePageLoads) {
    About();
    for (int round = 0; round < 3; ++round) {
        ASSERT_NE(form->About(), nullptr);
        ASSERT_TRUE(form->About()->PageLoading());
        form->About()->cmdOK_Click();
        EXPECT_TRUE(AboutWindows().empty());
        About();
        EXPECT_EQ(AboutWindows().size(), 1u);
    }
    ASSERT_EQ(browsers.made(), 4u);
    for (size_t i = 0; i < 3; ++i) EveryEnding(browsers[i]);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(browsers[i].document().writes(), 0) << i;
    AboutForm* about = form->About();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->Visible());
    EXPECT_TRUE(about->PageLoading());
    browsers[3].Complete();
    EXPECT_EQ(browsers[3].document().written(), AboutPage());
    EXPECT_EQ(AboutWindows().size(), 1u);
    // And it closes and comes again as usual.
    about->cmdOK_Click();
    EXPECT_TRUE(AboutWindows().empty());
    About();
    EXPECT_EQ(AboutWindows().size(), 1u);
}

// A second About click while the first page loads shows the same box, once, with one page.
TEST_F(MainWithAbout, SecondClickWhileThePageLoads) {
    About();
    AboutForm* first = form->About();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(first->PageLoading());
    About();
    EXPECT_EQ(form->About(), first);
    EXPECT_EQ(browsers.made(), 1u);
    EXPECT_EQ(browsers[0].navigations(), 1);
    EXPECT_EQ(AboutWindows().size(), 1u);
    browsers[0].Complete();
    EXPECT_TRUE(first->Visible());
    EXPECT_EQ(browsers[0].document().written(), AboutPage());
    EXPECT_EQ(browsers[0].document().writes(), 1);
}

// The main window goes (its owner releases it) while the About page waits: no box stays.
TEST_F(MainWithAbout, MainWindowReleasedWhileThePageLoads) {
    About();
    ASSERT_TRUE(form->About() && form->About()->PageLoading());
    form.reset();
    EXPECT_TRUE(AboutWindows().empty());
    EveryEnding(browsers[0]);
    EXPECT_EQ(browsers[0].document().writes(), 0);
    EXPECT_TRUE(AboutWindows().empty());
}

}  // namespace
