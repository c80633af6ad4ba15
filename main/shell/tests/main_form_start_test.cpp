// The main window's start and the browser watcher: the watcher's first rebuild talks to the shell's
// own process, so it runs from the message loop once the window is shown, never inside the load.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <vector>

#include "main/popup/popup_blocker.h"
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
    MainForm::Seams seams = QuietSeams();
    seams.createWatcher = [&](HWND h) { calls.push_back({h, IsWindowVisible(h) != FALSE, popup::bBlockerOn}); };
    popup::bBlockerOn = false;
    MainForm form(std::move(seams));
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
    form.cmdPBlocker_Click();
    EXPECT_EQ(form.Text(lblPBlocker), L"Stopped");
}

// With the platform's own shell list (under Wine: served by the desktop process, without notices).
TEST(MainFormStartTest, TheRealWatcherStartsFromTheMessageLoop) {
    popup::ReleaseWatcher();
    {
        MainForm form(QuietSeams());
        ASSERT_TRUE(form.Load());
        EXPECT_FALSE(popup::Watcher()) << "made inside the load";
        tovra::forms::DoEvents();
        std::shared_ptr<popup::cIEWindows> watcher = popup::Watcher();
        ASSERT_TRUE(watcher);
        EXPECT_FALSE(watcher->bRefreshing());
        // A list that offers no notices is not kept.
        if (!watcher->SubscribedToShell()) {
            EXPECT_FALSE(watcher->winShell());
        }
        EXPECT_TRUE(form.created());
    }
    popup::ReleaseWatcher();
}

}  // namespace
