// The view's load waits for the browser's blank page and lets window events run meanwhile: what a
// handler inside that wait may do to the view and its window.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>

#include "shared/html_view.h"
#include "shared/tests/parent_window.h"

namespace {

using tovra::HtmlView;

const wchar_t kPage[] = L"<html><body><i>Tovra</i> page.</body></html>";

class WaitTest : public ::testing::Test {
protected:
    void SetUp() override {
        parent_ = window_.hwnd();
        ASSERT_NE(parent_, nullptr);
        view_ = std::make_unique<HtmlView>();
        ASSERT_TRUE(view_->Create(parent_, 7, RECT{10, 10, 300, 200}));
        if (!view_->UsingBrowser()) GTEST_FAIL() << "no browser control could be hosted, so the load never waits";
    }
    void TearDown() override {
        HtmlView::SetWaitHook(nullptr);
        view_.reset();
    }
    // Runs the handler once, where the load lets events in.
    void DuringTheWait(std::function<void()> handler) {
        HtmlView::SetWaitHook([this, handler] {
            ++waits_;
            if (waits_ == 1) handler();
        });
    }
    int Children() const {
        int n = 0;
        for (HWND c = GetWindow(parent_, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) ++n;
        return n;
    }

    tovra::test::ParentWindow window_;
    HWND parent_ = nullptr;
    std::unique_ptr<HtmlView> view_;
    int waits_ = 0;
};

TEST_F(WaitTest, ViewReleasedInsideItsOwnLoad) {
    HtmlView* view = view_.get();
    DuringTheWait([this] { view_.reset(); });
    EXPECT_FALSE(view->Load(kPage));  // the object has gone; the load must touch nothing of it
    EXPECT_EQ(waits_, 1);
    EXPECT_EQ(Children(), 0) << "the view left a window behind";
}

TEST_F(WaitTest, ParentDestroyedInsideTheLoad) {
    DuringTheWait([this] { DestroyWindow(parent_); });
    EXPECT_FALSE(view_->Load(kPage));
    EXPECT_EQ(waits_, 1);
    EXPECT_FALSE(IsWindow(parent_));
    EXPECT_EQ(view_->hwnd(), nullptr) << "a window was made for a parent that has gone";
    view_.reset();  // and the view still goes away cleanly
}

TEST_F(WaitTest, NothingInsideTheWaitShowsThePageAsUsual) {
    DuringTheWait([] {});
    EXPECT_TRUE(view_->Load(kPage));
    EXPECT_EQ(waits_, 1);
    ASSERT_NE(view_->hwnd(), nullptr);
    EXPECT_TRUE(GetWindowLongW(view_->hwnd(), GWL_STYLE) & WS_VISIBLE);
    if (!view_->UsingBrowser()) {
        EXPECT_EQ(view_->ShownText(), L"Tovra page.");
    }
}

}  // namespace
