// What the watcher keeps of the shell's window list, and where it asks for the list.
#include <gtest/gtest.h>
#include <windows.h>

#include "main/popup/tests/popup_fixture.h"
#include "shared/compat.h"

namespace tovra::popup::test {
namespace {

class ShellListTest : public PopupTest {};

// A list that delivers notices is kept for them; one that offers none is let go at once. Either
// way every listed window gets its sink, and the next rebuild asks for a new list.
TEST_F(ShellListTest, KeptOnlyWhenItOffersNotices) {
    const struct {
        bool eventless;
        bool kept;
    } cases[] = {{false, true}, {true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.eventless ? "without notices" : "with notices");
        ComPtr<FakeShellWindows> shell = FakeShellWindows::Create();
        shell->eventless = c.eventless;
        ComPtr<FakeBrowser> browser = FakeBrowser::Create(700);
        shell->OpenWindow(static_cast<IWebBrowser2*>(browser.get()), false);
        const ULONG before = shell->refs();

        WatcherSetup setup = Setup();
        setup.shellWindows = shell->Factory();
        std::shared_ptr<BrowserWatcher> watcher = BrowserWatcher::Create(std::move(setup));
        EXPECT_EQ(static_cast<bool>(watcher->ShellList()), c.kept);
        EXPECT_EQ(watcher->SubscribedToShell(), c.kept);
        if (c.kept) {
            EXPECT_GT(shell->refs(), before);
        } else {
            EXPECT_EQ(shell->refs(), before) << "the list is still held";
        }
        EXPECT_EQ(watcher->Count(), 1);
        EXPECT_EQ(browser->events().connections(), 1u);
        EXPECT_TRUE(browser->FireNewWindow2()) << "the pop-up was not refused";

        const int enumerations = shell->enumerations;
        watcher->Rebuild();
        EXPECT_EQ(shell->enumerations, enumerations + 1);
        EXPECT_EQ(watcher->Count(), 1);
        if (!c.kept) {
            EXPECT_EQ(shell->refs(), before);
        }

        watcher.reset();
        EXPECT_EQ(shell->refs(), before);
        EXPECT_EQ(browser->events().connections(), 0u);
    }
}

// Under Wine the list would come from the desktop process, which offers neither notices nor items
// and was seen to end after such a request, taking the program's windows along: the watcher asks
// for an in-process list only, which Wine does not have. On Windows the shell's own list comes.
TEST_F(ShellListTest, WhereTheListComesFrom) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const bool wine = ntdll && GetProcAddress(ntdll, "wine_get_version");
    EXPECT_EQ(compat::RunsUnderWine(), wine);
    EXPECT_EQ(ShellWindowsClassContext(), wine ? static_cast<DWORD>(CLSCTX_INPROC_SERVER)
                                               : static_cast<DWORD>(CLSCTX_ALL));
    IShellWindows* list = reinterpret_cast<IShellWindows*>(0x1);
    const HRESULT hr = CreateShellWindows(&list);
    if (wine) {
        EXPECT_EQ(hr, CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(list, nullptr);
    } else {
        EXPECT_EQ(hr, S_OK);
        EXPECT_NE(list, nullptr);
    }
    if (SUCCEEDED(hr) && list) list->Release();
    EXPECT_EQ(CreateShellWindows(nullptr), E_POINTER);
}

}  // namespace
}  // namespace tovra::popup::test
