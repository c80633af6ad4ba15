// The view with the system's browser control: under Wine, without an HTML engine, the text.
#include "shared/html_view.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <thread>

#include "shared/html_view_text.h"
#include "shared/tests/browser_double.h"
#include "shared/tests/parent_window.h"

namespace {

using tovra::HtmlToText;
using tovra::HtmlView;
using tovra::test::RunEventsUntil;

// The longest a test lets the window events run for a page to settle: the view's own wait, and
// some time for a slow machine.
constexpr DWORD kSettleMs = HtmlView::kDocumentWaitMs + 3000;

struct TextCase {
    const wchar_t* html;
    const wchar_t* text;
};

const TextCase kTextCases[] = {
    {L"", L""},
    {L"plain words", L"plain words"},
    {L"<html><title>About</title><body><i>Tovra</i> is   here.</body></html>", L"Tovra is here."},
    {L"one<br>two<br><br>three", L"one\r\ntwo\r\n\r\nthree"},
    {L"<p>first</p><p>second</p>", L"first\r\n\r\nsecond"},
    {L"text<p>closing", L"text\r\n\r\nclosing"},
    {L"<P ALIGN=\"center\">Up</P>\n\n  <BR>down", L"Up\r\n\r\n\r\ndown"},
    {L"line\r\n  broken\tin source", L"line broken in source"},
    {L"<ul><li>a</li><li>b</li></ul>after", L"a\r\nb\r\n\r\nafter"},
    {L"&lt;b&gt; &amp; &quot;q&quot; &#65;&#x42; &copy; &unknown; & alone", L"<b> & \"q\" AB \u00A9 &unknown; & alone"},
    {L"a&nbsp;&nbsp;b", L"a\u00A0\u00A0b"},
    {L"&#x1F600;", L"\U0001F600"},
    {L"&#0;&#x110000;", L"\uFFFD\uFFFD"},
    {L"x <!-- hidden <b>tags</b> --> y", L"x y"},
    {L"<script>var a = '<p>';</script><style>p{}</style>shown", L"shown"},
    {L"<a href=\"x>y\" title='>'>link</a>", L"link"},
    {L"a < b and c<3", L"a < b and c<3"},
    {L"<head><meta charset=utf-8><title>T</title></head><body>B</body>", L"B"},
    {L"cut <b", L"cut"},
    {L"<table><tr><td>1</td><td>2</td></tr><tr><td>3</td></tr></table>", L"1 2\r\n3"},
};

TEST(HtmlToTextTest, DropsTagsBreaksLinesAndDecodesEntities) {
    for (const TextCase& c : kTextCases) {
        EXPECT_EQ(HtmlToText(c.html), c.text) << "html: " << std::string(c.html, c.html + wcslen(c.html));
    }
}

using tovra::test::ParentWindow;

std::wstring ClassOf(HWND h) {
    wchar_t buf[64] = {};
    GetClassNameW(h, buf, 64);
    return buf;
}

RECT RectIn(HWND parent, HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

const wchar_t kPage[] =
    L"<html><title>Page</title><body><i>Tovra Internet Security</i> keeps you safe.<br>Second line.<p>"
    L"Closing &amp; more.</body></html>";

TEST(HtmlViewTest, ShowsThePageOrItsTextNeverAnEmptyView) {
    ParentWindow parent;
    ASSERT_TRUE(parent.hwnd());
    HtmlView view;
    ASSERT_TRUE(view.Create(parent.hwnd(), 77, RECT{10, 20, 210, 120}));
    // Wine hosts the control too, though it loads no page: the real load is what runs here.
    ASSERT_TRUE(view.UsingBrowser()) << "no browser control could be hosted";
    EXPECT_EQ(ClassOf(view.hwnd()), L"AtlAxWin");
    DWORD start = GetTickCount();
    EXPECT_TRUE(view.Load(kPage));
    DWORD took = GetTickCount() - start;
    EXPECT_LT(took, 1000u) << "the load waited for the page";
    ASSERT_TRUE(RunEventsUntil([&] { return !view.Loading(); }, kSettleMs));
    DWORD settled = GetTickCount() - start;
    // A missing engine reports its failure, which ends the wait at once.
    EXPECT_LT(settled, HtmlView::kDocumentWaitMs);
    std::printf("load returned after %lu ms, the page settled after %lu ms (%s)\n", took, settled,
                view.UsingBrowser() ? "browser" : "text");

    HWND shown = view.hwnd();
    ASSERT_TRUE(shown);
    EXPECT_EQ(GetParent(shown), parent.hwnd());
    EXPECT_EQ(GetDlgCtrlID(shown), 77);
    EXPECT_TRUE(GetWindowLongW(shown, GWL_STYLE) & WS_VISIBLE);
    RECT r = RectIn(parent.hwnd(), shown);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right, 210);
    EXPECT_EQ(r.bottom, 120);

    if (view.UsingBrowser()) {
        EXPECT_EQ(ClassOf(shown), L"AtlAxWin");
        EXPECT_EQ(view.ShownText(), L"");
    } else {
        // Wine has no HTML engine: the words of the page, read-only, on several lines.
        EXPECT_EQ(_wcsicmp(ClassOf(shown).c_str(), L"Edit"), 0);
        LONG style = GetWindowLongW(shown, GWL_STYLE);
        EXPECT_TRUE(style & ES_READONLY);
        EXPECT_TRUE(style & ES_MULTILINE);
        EXPECT_EQ(view.ShownText(), HtmlToText(kPage));
        EXPECT_EQ(view.ShownText(),
                  L"Tovra Internet Security keeps you safe.\r\nSecond line.\r\n\r\nClosing & more.");
        // Only one child: the browser host that could not show the page is gone.
        EXPECT_EQ(GetWindow(shown, GW_HWNDNEXT), nullptr);
        EXPECT_EQ(GetWindow(shown, GW_HWNDPREV), nullptr);
    }

    view.Move(RECT{0, 0, 100, 50});
    r = RectIn(parent.hwnd(), view.hwnd());
    EXPECT_EQ(r.right, 100);
    EXPECT_EQ(r.bottom, 50);

    EXPECT_TRUE(view.Load(L"<p>Another page</p>"));
    ASSERT_TRUE(RunEventsUntil([&] { return !view.Loading(); }, kSettleMs));
    if (!view.UsingBrowser()) {
        EXPECT_EQ(view.ShownText(), L"Another page");
    }
}

TEST(HtmlViewTest, GoesAwayWithItsObject) {
    ParentWindow parent;
    HWND child = nullptr;
    {
        HtmlView view;
        ASSERT_TRUE(view.Create(parent.hwnd(), 5, RECT{0, 0, 50, 50}));
        view.Load(L"x");
        ASSERT_TRUE(RunEventsUntil([&] { return !view.Loading(); }, kSettleMs));
        child = view.hwnd();
        ASSERT_TRUE(IsWindow(child));
    }
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(GetWindow(parent.hwnd(), GW_CHILD), nullptr);
}

TEST(HtmlViewTest, ShowsTheTextWhereNoControlCanBeHosted) {
    // A multithreaded apartment cannot host the browser control.
    std::wstring shown;
    bool usedBrowser = true;
    std::thread worker([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            ParentWindow parent;
            HtmlView view;
            if (view.Create(parent.hwnd(), 9, RECT{0, 0, 100, 100})) {
                view.Load(L"<b>Licence</b><br>text");
                EXPECT_FALSE(view.Loading()) << "no browser, so nothing to wait for";
                shown = view.ShownText();
                usedBrowser = view.UsingBrowser();
            }
        }
        CoUninitialize();
    });
    worker.join();
    EXPECT_FALSE(usedBrowser);
    EXPECT_EQ(shown, L"Licence\r\ntext");
}

}  // namespace
