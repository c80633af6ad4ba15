// The About box while its page loads: the load waits for the browser's blank page and lets window
// events run meanwhile, so OK, Esc and the About menu can all arrive inside it.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "main/shell/about_form.h"
#include "main/shell/main_form.h"
#include "main/shell/main_ids.h"
#include "shared/forms.h"
#include "shared/html_view.h"

namespace {

using namespace tovra::shell;

struct NoLauncher : Launcher {
    bool Start(const std::wstring&, int) override { return true; }
    bool Open(const std::wstring&, int) override { return true; }
};

// Runs the handler once, from within the first page load that waits.
class DuringTheWait {
public:
    explicit DuringTheWait(std::function<void()> handler) : handler_(std::move(handler)) {
        previous_ = tovra::HtmlView::SetWaitHook([this] {
            ++waits_;
            if (ran_) return;
            ran_ = true;
            handler_();
        });
    }
    ~DuringTheWait() { tovra::HtmlView::SetWaitHook(previous_); }
    bool ran() const { return ran_; }
    int waits() const { return waits_; }

private:
    std::function<void()> handler_;
    tovra::HtmlView::WaitHook previous_;
    bool ran_ = false;
    int waits_ = 0;
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

bool ShowsThePage(AboutForm& about) {
    if (about.PageInBrowser()) return true;
    return about.PageText().find(L"support@quorelsoft.com") != std::wstring::npos;
}

// OK and Esc inside the wait close the box; the load then shows nothing, and the next load works.
TEST(AboutWaitTest, ClosedWhileThePageLoads) {
    struct Way {
        const char* name;
        std::function<void(AboutForm&)> close;
    } ways[] = {
        {"OK", [](AboutForm& a) { a.cmdOK_Click(); }},
        {"Esc", [](AboutForm& a) {
             PostMessageW(a.hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
             tovra::forms::DoEvents();
         }},
    };
    for (const Way& way : ways) {
        NoLauncher launcher;
        AboutForm about(launcher);
        {
            DuringTheWait wait([&] { way.close(about); });
            EXPECT_FALSE(about.Load()) << way.name;
            EXPECT_TRUE(wait.ran()) << way.name << ": the load did not wait";
        }
        EXPECT_FALSE(about.created()) << way.name << ": shown after it was closed";
        EXPECT_FALSE(about.Loading());
        EXPECT_TRUE(AboutWindows().empty()) << way.name;
        ASSERT_TRUE(about.Load()) << way.name;
        EXPECT_TRUE(about.Visible());
        EXPECT_TRUE(ShowsThePage(about)) << way.name;
        about.cmdOK_Click();
    }
}

struct MainWithAbout : ::testing::Test {
    NoLauncher launcher;
    std::unique_ptr<MainForm> form;
    void SetUp() override {
        MainForm::Seams seams;
        seams.launcher = &launcher;
        seams.endProgram = [] {};
        seams.trayNotify = [](DWORD, TrayRecord&) { return TRUE; };
        seams.createWatcher = [](HWND) {};
        form = std::make_unique<MainForm>(std::move(seams));
        ASSERT_TRUE(form->Load());
    }
    void TearDown() override { form.reset(); }
    void About() { SendMessageW(form->hwnd(), WM_COMMAND, MAKEWPARAM(mnuAbout, 0), 0); }
};

// Closed and opened again from the menu while the first page still loads: one box, with its page.
TEST_F(MainWithAbout, ClosedAndOpenedAgainWhileThePageLoads) {
    DuringTheWait wait([&] {
        ASSERT_NE(form->About(), nullptr);
        form->About()->cmdOK_Click();
        About();
    });
    About();
    ASSERT_TRUE(wait.ran());
    EXPECT_GE(wait.waits(), 2) << "the second load did not load a page of its own";
    AboutForm* about = form->About();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->created());
    EXPECT_TRUE(about->Visible());
    EXPECT_FALSE(about->Loading());
    EXPECT_TRUE(ShowsThePage(*about));
    EXPECT_EQ(AboutWindows().size(), 1u);
    // And it closes and comes again as usual.
    about->cmdOK_Click();
    EXPECT_TRUE(AboutWindows().empty());
    About();
    EXPECT_EQ(AboutWindows().size(), 1u);
}

// A second About click while the first page loads shows the same box, once.
TEST_F(MainWithAbout, SecondClickWhileThePageLoads) {
    AboutForm* first = nullptr;
    DuringTheWait wait([&] {
        first = form->About();
        About();
    });
    About();
    ASSERT_TRUE(wait.ran());
    EXPECT_EQ(form->About(), first);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->Visible());
    EXPECT_TRUE(ShowsThePage(*first));
    EXPECT_EQ(AboutWindows().size(), 1u);
}

// Closed and opened again inside the wait of the load that opened it again, and once more.
TEST_F(MainWithAbout, ClosedAndOpenedAgainInsideNestedWaits) {
    int rounds = 0;
    tovra::HtmlView::WaitHook previous = tovra::HtmlView::SetWaitHook([&] {
        if (rounds >= 2) return;
        ++rounds;
        form->About()->cmdOK_Click();
        About();
    });
    About();
    tovra::HtmlView::SetWaitHook(previous);
    EXPECT_EQ(rounds, 2);
    ASSERT_NE(form->About(), nullptr);
    EXPECT_TRUE(form->About()->Visible());
    EXPECT_EQ(AboutWindows().size(), 1u);
}

}  // namespace
