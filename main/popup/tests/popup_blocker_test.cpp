// What the main window uses: the blocker's button, and the watcher's creation and release, both
// over the real shell window list of this system and over a list of our own.
#include "main/popup/popup_blocker.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "main/popup/events.h"
#include "main/popup/tests/fakes.h"
#include "shared/message_box.h"
#include "shared/compat.h"

namespace tovra::popup::test {
namespace {

TEST(BlockerButtonTest, CaptionDecidesTheNewStateAndTheFlag) {
    struct Case {
        const wchar_t* caption;
        bool flagBefore;
        bool flagAfter;
        const wchar_t* button;
        const wchar_t* status;
    };
    const Case cases[] = {
        {L"Stop", true, false, L"Start", L"Stopped"},
        {L"Start", false, true, L"Stop", L"Running"},
        // Anything but exactly "Stop" starts the blocker, whatever the flag said.
        {L"stop", true, true, L"Stop", L"Running"},
        {L"Stop ", false, true, L"Stop", L"Running"},
        {L"", false, true, L"Stop", L"Running"},
        {L"Stop", false, false, L"Start", L"Stopped"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "caption '" << testing::PrintToString(std::wstring(c.caption)) << "'");
        bBlockerOn = c.flagBefore;
        BlockerCaptions next = ToggleBlocker(c.caption);
        EXPECT_EQ(bBlockerOn, c.flagAfter);
        EXPECT_EQ(std::wstring(next.button), c.button);
        EXPECT_EQ(std::wstring(next.status), c.status);
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

    bBlockerOn = true;
    const ULONGLONG start = tovra::compat::TickCount64();
    CreateWatcher(main);
    const ULONGLONG took = tovra::compat::TickCount64() - start;

    EXPECT_LT(took, 30000u);
    std::shared_ptr<cIEWindows> watcher = Watcher();
    ASSERT_TRUE(watcher);
    EXPECT_FALSE(watcher->bRefreshing());
    // The watcher holds what the system's own list offers: the list where it offers notices, one
    // sink per browser window it lists.
    const ShellListOffer offer = SystemShellList();
    EXPECT_EQ(static_cast<bool>(watcher->winShell()), offer.made && offer.notices);
    EXPECT_EQ(watcher->SubscribedToShell(), offer.notices);
    EXPECT_EQ(watcher->Count(), offer.browsers);
    EXPECT_TRUE(bBlockerOn);
    EXPECT_EQ(ToggleBlocker(L"Stop").button, std::wstring(L"Start"));
    EXPECT_FALSE(bBlockerOn);
    EXPECT_EQ(ToggleBlocker(L"Start").button, std::wstring(L"Stop"));
    EXPECT_TRUE(bBlockerOn);
    watcher.reset();

    ReleaseWatcher();
    EXPECT_FALSE(Watcher());
    EXPECT_TRUE(boxes.calls().empty());
    EXPECT_EQ(VisibleWindowsOfThisProcess(), before);
    ::DestroyWindow(main);
}

TEST(CreateWatcherTest, WatcherOverAListOfOurOwnIsReleasedWhole) {
    SetKeyStateSource([](int) -> SHORT { return 0; });
    ComPtr<FakeShellWindows> shell = FakeShellWindows::Create();
    ComPtr<FakeBrowser> browser = FakeBrowser::Create(42);
    shell->OpenWindow(static_cast<IWebBrowser2*>(browser.get()), false);
    const ULONG browserRefs = browser->refs();

    bBlockerOn = true;
    CreateWatcher(nullptr, shell->Factory());
    ASSERT_TRUE(Watcher());
    EXPECT_EQ(Watcher()->Count(), 1);
    EXPECT_TRUE(browser->FireNewWindow2());
    // A second start replaces the watcher: still one sink per window.
    CreateWatcher(nullptr, shell->Factory());
    EXPECT_EQ(browser->events().connections(), 1u);
    EXPECT_EQ(shell->events().connections(), 1u);

    ReleaseWatcher();
    EXPECT_FALSE(Watcher());
    EXPECT_EQ(browser->events().connections(), 0u);
    EXPECT_EQ(shell->events().connections(), 0u);
    EXPECT_EQ(browser->refs(), browserRefs);
    EXPECT_EQ(shell->refs(), 1u);
    EXPECT_EQ(IE_Class::LiveCount(), 0);
    EXPECT_EQ(DispatchEventSink::LiveCount(), 0);
    // Released: no sink refuses anything any more.
    EXPECT_FALSE(browser->FireNewWindow2());
    SetKeyStateSource(nullptr);
}

}  // namespace
}  // namespace tovra::popup::test
