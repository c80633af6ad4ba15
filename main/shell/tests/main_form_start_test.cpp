// The main window's start and the browser watcher: the watcher's first rebuild talks to the shell's
// own process, so it runs from the message loop once the window is shown, never inside the load.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <vector>

#include "main/popup/tests/fakes.h"
#include "main/shell/main_form.h"
#include "main/shell/main_ids.h"
#include "shared/forms.h"

namespace {

using namespace tovra::shell;
namespace popup = tovra::popup;

MainForm::Seams QuietSeams() {
    MainForm::Seams seams;
    seams.endProgram = [] {};
    seams.trayNotify = [](DWORD, TrayRecord&) { return TRUE; };
    return seams;
}

TEST(MainFormStartTest, TheWatcherComesOnceTheWindowIsShownAndOnlyOnce) {
    struct Call {
        HWND hwnd;
        bool visible;
        bool blockerOn;
    };
    std::vector<Call> calls;
    MainForm* made = nullptr;
    MainForm::Seams seams = QuietSeams();
    seams.createWatcher = [&](HWND h) {
        calls.push_back({h, IsWindowVisible(h) != FALSE, made && made->Blocker().Running()});
    };
    MainForm form(std::move(seams));
    made = &form;
    EXPECT_FALSE(form.Blocker().Running());
    ASSERT_TRUE(form.Load());
    EXPECT_TRUE(calls.empty()) << "the watcher was made inside the load";
    EXPECT_TRUE(form.Visible());

    tovra::forms::DoEvents();
    ASSERT_EQ(calls.size(), 1u) << "the watcher did not come from the message loop";
    EXPECT_EQ(calls[0].hwnd, form.hwnd());
    EXPECT_TRUE(calls[0].visible) << "made before the window was shown";
    EXPECT_TRUE(calls[0].blockerOn) << "the switch goes on first";

    // One watcher for the window's life, whatever arrives later.
    PostMessageW(form.hwnd(), kStartWatcherMessage, 0, 0);
    tovra::forms::DoEvents();
    EXPECT_EQ(calls.size(), 1u);
}

TEST(MainFormStartTest, AWatcherThatFailsLeavesTheWindowWorking) {
    MainForm::Seams seams = QuietSeams();
    seams.createWatcher = [](HWND) { throw std::runtime_error("no shell"); };
    MainForm form(std::move(seams));
    ASSERT_TRUE(form.Load());
    tovra::forms::DoEvents();
    EXPECT_TRUE(form.created());
    EXPECT_EQ(form.Text(lblPBlocker), L"Running");
    EXPECT_FALSE(form.Blocker().Watcher());
    form.OnBlockerButton();
    EXPECT_EQ(form.Text(lblPBlocker), L"Stopped");
    EXPECT_FALSE(form.Blocker().Running());
}

// With the platform's own shell list (under Wine: served by the desktop process, without notices).
TEST(MainFormStartTest, TheRealWatcherStartsFromTheMessageLoop) {
    MainForm form(QuietSeams());
    ASSERT_TRUE(form.Load());
    EXPECT_FALSE(form.Blocker().Watcher()) << "made inside the load";
    tovra::forms::DoEvents();
    std::shared_ptr<popup::BrowserWatcher> watcher = form.Blocker().Watcher();
    ASSERT_TRUE(watcher);
    EXPECT_FALSE(watcher->Rebuilding());
    // A list that offers no notices is not kept.
    if (!watcher->SubscribedToShell()) {
        EXPECT_FALSE(watcher->ShellList());
    }
    EXPECT_TRUE(form.created());
}

// The window owns its watcher: made over the list it is given, obeying the window's own blocker,
// and released with the window, sinks and subscriptions and all.
TEST(MainFormStartTest, TheWindowsWatcherIsItsOwnAndGoesWithIt) {
    namespace fake = tovra::popup::test;
    tovra::ComScope com;
    tovra::ComPtr<fake::FakeShellWindows> shell = fake::FakeShellWindows::Create();
    tovra::ComPtr<fake::FakeBrowser> browser = fake::FakeBrowser::Create(4242);
    shell->OpenWindow(static_cast<IWebBrowser2*>(browser.get()), false);
    const ULONG browserRefs = browser->refs();
    // No key down, so the pop-up rule goes by the blocker alone.
    struct KeysUp final : popup::InputState {
        SHORT AsyncKeyState(int) override { return 0; }
        BOOL CursorPos(POINT* pt) override {
            *pt = POINT{};
            return TRUE;
        }
    };
    {
        MainForm::Seams seams = QuietSeams();
        seams.shellWindows = shell->Factory();
        seams.input = std::make_shared<KeysUp>();
        MainForm form(std::move(seams));
        ASSERT_TRUE(form.Load());
        tovra::forms::DoEvents();
        std::shared_ptr<popup::BrowserWatcher> watcher = form.Blocker().Watcher();
        ASSERT_TRUE(watcher);
        EXPECT_EQ(watcher->Count(), 1);
        EXPECT_TRUE(watcher->SubscribedToShell());
        EXPECT_EQ(watcher->Sink(1)->Watcher(), watcher);
        watcher.reset();
        EXPECT_TRUE(browser->FireNewWindow2()) << "the running blocker let a pop-up through";
        form.OnBlockerButton();
        EXPECT_FALSE(browser->FireNewWindow2()) << "the stopped blocker refused a window";
        form.OnBlockerButton();
        EXPECT_TRUE(browser->FireNewWindow2());
    }
    EXPECT_EQ(browser->events().connections(), 0u);
    EXPECT_EQ(shell->events().connections(), 0u);
    EXPECT_EQ(browser->refs(), browserRefs);
    EXPECT_EQ(shell->refs(), 1u);
    EXPECT_EQ(popup::BrowserSink::LiveCount(), 0);
    EXPECT_FALSE(browser->FireNewWindow2()) << "a sink outlived the window";
}

}  // namespace
