#include "main/shell/main_form.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <winsock2.h>

#include <string>
#include <vector>

#include "main/shell/main_ids.h"
#include "main/shell/placement.h"
#include "main/shell/service_captions.h"
#include "main/shell/tests/fake_shell.h"
#include "shared/message_box.h"

namespace {

using namespace tovra::shell;

struct FakeLauncher : Launcher {
    struct Call {
        std::wstring what;
        int show;
    };
    std::vector<Call> started, opened;
    bool result = true;
    bool Start(const std::wstring& commandLine, int show) override {
        started.push_back({commandLine, show});
        return result;
    }
    bool Open(const std::wstring& target, int show) override {
        opened.push_back({target, show});
        return result;
    }
};

struct MainFormTest : ::testing::Test {
    FakeLauncher launcher;
    std::vector<std::string> events;  // tray messages and the end, in order
    std::unique_ptr<MainForm> form;

    void SetUp() override {
        MainForm::Seams seams;
        seams.launcher = &launcher;
        seams.endProgram = [this] { events.push_back("end"); };
        seams.trayNotify = [this](DWORD m, TrayRecord&) {
            events.push_back(m == NIM_ADD ? "add" : m == NIM_DELETE ? "delete" : "modify");
            return TRUE;
        };
        form = std::make_unique<MainForm>(std::move(seams));
        EXPECT_FALSE(form->Blocker().Running()) << "switched on before the load";
        ASSERT_TRUE(form->Load());
    }
    void TearDown() override { form.reset(); }

    void Command(int id) { SendMessageW(form->hwnd(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }
    void Click(int id) { SendMessageW(form->Control(id), BM_CLICK, 0, 0); }

    struct Firewall {
        bool running;  // the port watch's own state
        std::wstring button, status;
        bool enable, disable;
        size_t listening4, listening6;  // watchers listening on IPv4, on IPv6
        bool operator==(const Firewall&) const = default;
    };
    Firewall FirewallState() {
        return {form->FirewallRunning(), form->Text(cmdFireWall), form->Text(lblFireWall),
                form->MenuChecked(mnuEFire), form->MenuChecked(mnuDFire),
                form->PortWatch()->ListeningCount(tovra::portwatch::kIpv4),
                form->PortWatch()->ListeningCount(tovra::portwatch::kIpv6)};
    }
};

std::wstring MenuText(HMENU menu, int pos) {
    wchar_t text[128] = {};
    GetMenuStringW(menu, pos, text, 128, MF_BYPOSITION);
    return text;
}

TEST_F(MainFormTest, TheWindowAsDesigned) {
    EXPECT_EQ(form->Caption(), L"Tovra Internet Security 1.0");
    EXPECT_TRUE(form->Visible());
    struct {
        int id;
        const wchar_t* text;
    } controls[] = {
        {lblHide, L"Hide Me"},      {lblend, L"Exit"},          {Label1, L"Services"},     {Label2, L"Status"},
        {Label3, L"Pop-up Blocker"}, {Label4, L"Firewall"},     {Label6, L"IE Washer"},    {lblPBlocker, L"Running"},
        {lblFireWall, L"Stopped"},  {lblWasher, L"Stopped"},    {cmdPBlocker, L"Stop"},    {cmdFireWall, L"Start"},
        {cmdWasher, L"Start"},
    };
    for (auto& c : controls) {
        EXPECT_EQ(form->Text(c.id), c.text) << c.id;
        EXPECT_TRUE(form->ControlVisible(c.id)) << c.id;
    }
    RECT client{};
    GetClientRect(form->hwnd(), &client);
    EXPECT_EQ(client.right, tovra::forms::TwipsToPixelsX(4620));
    EXPECT_EQ(client.bottom, tovra::forms::TwipsToPixelsY(2130));
    // The pop-up blocker runs from the load on; the firewall and the washer do not.
    EXPECT_TRUE(form->Blocker().Running());
    EXPECT_FALSE(form->FirewallRunning());
    EXPECT_FALSE(form->PortWatch()->Running());
    EXPECT_EQ(form->PortWatch()->ListeningCount(), 0u);
    EXPECT_EQ(form->FirewallTip(), L"");
}

TEST_F(MainFormTest, TheMenusInOrderWithTheirCheckMarks) {
    struct Entry {
        const wchar_t* caption;
        int id;
        bool checked;
    };
    struct Title {
        const wchar_t* caption;
        std::vector<Entry> entries;
    } titles[] = {
        {L"&File", {{L"Hide", mnuHide, false}, {L"Exit", mnuExit, false}}},
        {L"&Settings", {{L"IE Default", mnuIEDefault, false}, {L"IE Properties", mnuIEProperties, false}}},
        {L"&Firewall", {{L"Enable Firewall", mnuEFire, false}, {L"Disable Firewall", mnuDFire, true}}},
        {L"&ScanVirus", {{L"Scan", mnuScan, false}, {L"Update Virus List", mnuUpdate, false}}},
        {L"IE &Washer", {{L"Clean", mnuClean, false}}},
        {L"&Help", {{L"About", mnuAbout, false}}},
    };
    HMENU bar = GetMenu(form->hwnd());
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(GetMenuItemCount(bar), 6);
    for (int t = 0; t < 6; ++t) {
        EXPECT_EQ(MenuText(bar, t), titles[t].caption);
        HMENU sub = GetSubMenu(bar, t);
        ASSERT_NE(sub, nullptr);
        ASSERT_EQ(GetMenuItemCount(sub), static_cast<int>(titles[t].entries.size())) << t;
        for (size_t e = 0; e < titles[t].entries.size(); ++e) {
            const Entry& want = titles[t].entries[e];
            EXPECT_EQ(MenuText(sub, static_cast<int>(e)), want.caption);
            EXPECT_EQ(static_cast<int>(GetMenuItemID(sub, static_cast<int>(e))), want.id);
            UINT state = GetMenuState(sub, static_cast<UINT>(e), MF_BYPOSITION);
            EXPECT_EQ((state & MF_CHECKED) != 0, want.checked) << want.caption;
        }
    }
}

TEST_F(MainFormTest, TopmostAtTheRightEdgeATenthOfTheFreeHeightDown) {
    EXPECT_TRUE(GetWindowLongW(form->hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    RECT r{};
    GetWindowRect(form->hwnd(), &r);
    EXPECT_EQ(r.right, GetSystemMetrics(SM_CXSCREEN));
    double freeHeight = tovra::forms::ScreenHeightTwips() - form->HeightTwips();
    EXPECT_NEAR(r.top, tovra::forms::TwipsToPixelsY(freeHeight / 10), 1);
    EXPECT_GT(r.top, 0);
}

TEST(ServiceCaptionsTest, TheButtonSaysWhatItDoesNextAndTheLabelWhatRuns) {
    EXPECT_EQ(std::wstring(CaptionsOf(true).button), L"Stop");
    EXPECT_EQ(std::wstring(CaptionsOf(true).status), L"Running");
    EXPECT_EQ(std::wstring(CaptionsOf(false).button), L"Start");
    EXPECT_EQ(std::wstring(CaptionsOf(false).status), L"Stopped");
}

TEST_F(MainFormTest, TheBlockerButtonTogglesTheBlockerAndItsCaptionsFollow) {
    ASSERT_TRUE(form->Blocker().Running());
    Click(cmdPBlocker);
    EXPECT_FALSE(form->Blocker().Running());
    EXPECT_EQ(form->Text(cmdPBlocker), L"Start");
    EXPECT_EQ(form->Text(lblPBlocker), L"Stopped");
    Click(cmdPBlocker);
    EXPECT_TRUE(form->Blocker().Running());
    EXPECT_EQ(form->Text(cmdPBlocker), L"Stop");
    EXPECT_EQ(form->Text(lblPBlocker), L"Running");
    // The blocker decides, not the caption: whatever the button reads, the click flips the switch
    // and the captions are drawn afresh from it.
    form->SetText(cmdPBlocker, L"Start");
    Click(cmdPBlocker);
    EXPECT_FALSE(form->Blocker().Running());
    EXPECT_EQ(form->Text(cmdPBlocker), L"Start");
    EXPECT_EQ(form->Text(lblPBlocker), L"Stopped");
    form->SetText(cmdPBlocker, L"stop");
    Click(cmdPBlocker);
    EXPECT_TRUE(form->Blocker().Running());
    EXPECT_EQ(form->Text(cmdPBlocker), L"Stop");
    EXPECT_EQ(form->Text(lblPBlocker), L"Running");
}

TEST_F(MainFormTest, FirewallFromTheButtonAndTheMenu) {
    const Firewall stopped{false, L"Start", L"Stopped", false, true, 0, 0};
    const Firewall running{true, L"Stop", L"Running", true, false, 19, 19};
    EXPECT_EQ(FirewallState(), stopped);
    Click(cmdFireWall);
    ASSERT_EQ(FirewallState(), running) << "the fixed ports must be free to bind (run as root, own network)";
    Click(cmdFireWall);
    EXPECT_EQ(FirewallState(), stopped);
    Command(mnuEFire);
    EXPECT_EQ(FirewallState(), running);
    Command(mnuEFire);  // again while running: still running, every watcher listening
    EXPECT_EQ(FirewallState(), running);
    Command(mnuDFire);
    EXPECT_EQ(FirewallState(), stopped);
    Command(mnuDFire);
    EXPECT_EQ(FirewallState(), stopped);
    // The port watch decides, not the caption: whatever the button reads, the click turns the
    // state over and the captions and check marks are drawn afresh from it.
    form->SetText(cmdFireWall, L"Stop");
    Click(cmdFireWall);
    EXPECT_EQ(FirewallState(), running);
    form->SetText(cmdFireWall, L"start");
    Click(cmdFireWall);
    EXPECT_EQ(FirewallState(), stopped);
}

// After each command the captions, check marks and tooltip are those of the services' models,
// whatever the command and whatever the state before it.
TEST_F(MainFormTest, TheCaptionsFollowTheModelsAfterEachCommand) {
    struct Step {
        const char* what;
        int id;
        bool button;  // a button click, else a menu command
    };
    const Step steps[] = {
        {"firewall button", cmdFireWall, true},   {"blocker button", cmdPBlocker, true},
        {"enable menu", mnuEFire, false},         {"enable menu again", mnuEFire, false},
        {"blocker button", cmdPBlocker, true},    {"disable menu", mnuDFire, false},
        {"disable menu again", mnuDFire, false},  {"firewall button", cmdFireWall, true},
        {"firewall button", cmdFireWall, true},   {"blocker button", cmdPBlocker, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.button) Click(step.id);
        else Command(step.id);
        const ServiceCaptions blocker = CaptionsOf(form->Blocker().Running());
        EXPECT_EQ(form->Text(cmdPBlocker), blocker.button);
        EXPECT_EQ(form->Text(lblPBlocker), blocker.status);
        const bool firewall = form->PortWatch()->Running();
        EXPECT_EQ(form->FirewallRunning(), firewall);
        const ServiceCaptions captions = CaptionsOf(firewall);
        EXPECT_EQ(form->Text(cmdFireWall), captions.button);
        EXPECT_EQ(form->Text(lblFireWall), captions.status);
        EXPECT_EQ(form->MenuChecked(mnuEFire), firewall);
        EXPECT_EQ(form->MenuChecked(mnuDFire), !firewall);
        EXPECT_EQ(form->FirewallTip(), form->PortWatch()->UnwatchedTip());
    }
    // Where the steps end: blocker stopped, firewall stopped.
    EXPECT_FALSE(form->Blocker().Running());
    EXPECT_FALSE(form->FirewallRunning());
}

// Two main windows in one process: each owns its blocker and its port watch, and the commands of
// one change nothing of the other.
TEST_F(MainFormTest, TwoWindowsDoNotShareTheirServices) {
    MainForm::Seams seams;
    seams.launcher = &launcher;
    seams.endProgram = [] {};
    seams.trayNotify = [](DWORD, TrayRecord&) { return TRUE; };
    seams.createWatcher = [](HWND) {};
    MainForm other(std::move(seams));
    ASSERT_TRUE(other.Load());
    EXPECT_NE(&other.Blocker(), &form->Blocker());
    EXPECT_NE(other.PortWatch(), form->PortWatch());

    Click(cmdPBlocker);
    EXPECT_FALSE(form->Blocker().Running());
    EXPECT_TRUE(other.Blocker().Running());
    EXPECT_EQ(other.Text(cmdPBlocker), L"Stop");
    EXPECT_EQ(other.Text(lblPBlocker), L"Running");

    SendMessageW(other.hwnd(), WM_COMMAND, MAKEWPARAM(mnuDFire, 0), 0);
    SendMessageW(other.Control(cmdPBlocker), BM_CLICK, 0, 0);
    EXPECT_FALSE(other.Blocker().Running());
    Click(cmdPBlocker);
    EXPECT_TRUE(form->Blocker().Running());
    EXPECT_FALSE(other.Blocker().Running());
    EXPECT_EQ(form->Text(lblPBlocker), L"Running");
    EXPECT_EQ(other.Text(lblPBlocker), L"Stopped");

    Command(mnuEFire);
    EXPECT_TRUE(form->FirewallRunning());
    EXPECT_FALSE(other.FirewallRunning());
    EXPECT_EQ(other.Text(lblFireWall), L"Stopped");
    EXPECT_TRUE(other.MenuChecked(mnuDFire));
    EXPECT_EQ(other.PortWatch()->ListeningCount(), 0u);
    Click(cmdFireWall);
    EXPECT_FALSE(form->FirewallRunning());
    EXPECT_FALSE(other.FirewallRunning());
}

TEST_F(MainFormTest, PortsThatCannotBeWatchedAreNamedInTheStatusTooltip) {
    WSADATA d;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &d), 0);
    SOCKET other = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(145);
    ASSERT_EQ(bind(other, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(other, 1), 0);

    Command(mnuEFire);
    EXPECT_EQ(form->Text(lblFireWall), L"Running");  // the status word stays as it always was
    EXPECT_EQ(form->PortWatch()->ListeningCount(tovra::portwatch::kIpv4), 18u);
    EXPECT_EQ(form->PortWatch()->ListeningCount(tovra::portwatch::kIpv6), 19u);  // IPv6 has its own
    EXPECT_EQ(form->FirewallTip(), L"Port not watched: 145");
    Command(mnuDFire);
    EXPECT_EQ(form->FirewallTip(), L"");
    closesocket(other);
    Command(mnuEFire);
    EXPECT_EQ(form->FirewallTip(), L"");
    WSACleanup();
}

TEST_F(MainFormTest, HideMinimisesAndLeavesTheIcon) {
    events.clear();
    for (int id : {static_cast<int>(mnuHide), static_cast<int>(lblHide)}) {
        if (id == lblHide) SendMessageW(form->hwnd(), WM_COMMAND, MAKEWPARAM(lblHide, STN_CLICKED),
                                        reinterpret_cast<LPARAM>(form->Control(lblHide)));
        else Command(id);
        EXPECT_TRUE(IsIconic(form->hwnd())) << id;
        EXPECT_TRUE(IsWindowVisible(form->hwnd()));
        EXPECT_TRUE(form->Tray().Shown());
        ShowWindow(form->hwnd(), SW_RESTORE);
    }
    EXPECT_TRUE(events.empty());
}

TEST_F(MainFormTest, TheLoadShowsTheIconAfterClearingAnOldOne) {
    EXPECT_EQ(events, (std::vector<std::string>{"delete", "add"}));
    EXPECT_TRUE(form->Tray().Shown());
    EXPECT_EQ(form->Tray().Record().hWnd, form->hwnd());
}

TEST_F(MainFormTest, EveryWayOutRemovesTheIconFirst) {
    enum Way { ExitMenu, ExitLabel, CloseWindow };
    for (Way way : {ExitMenu, ExitLabel, CloseWindow}) {
        if (way != ExitMenu) SetUp();
        events.clear();
        switch (way) {
        case ExitMenu: Command(mnuExit); break;
        case ExitLabel:
            SendMessageW(form->hwnd(), WM_COMMAND, MAKEWPARAM(lblend, STN_CLICKED),
                         reinterpret_cast<LPARAM>(form->Control(lblend)));
            break;
        case CloseWindow: SendMessageW(form->hwnd(), WM_CLOSE, 0, 0); break;
        }
        EXPECT_EQ(events, (std::vector<std::string>{"delete", "end"})) << way;
        EXPECT_FALSE(form->Tray().Shown());
        form.reset();
    }
}

// The one box that says the scanner could not be started, owned by the main window.
void ExpectScannerBox(const tovra::ScriptedMessageBoxes& boxes, HWND owner) {
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].title, L"Tovra Internet Security 1.0");
    EXPECT_EQ(boxes.calls()[0].text, L"The virus scanner could not be started:\r\nC:\\Program Files\\Tovra\\tovraa.exe");
    EXPECT_EQ(boxes.calls()[0].buttons(), static_cast<UINT>(MB_OK));
    EXPECT_EQ(boxes.calls()[0].owner, owner);
}

TEST_F(MainFormTest, ScanStartsTheScannerOrSaysWhyNot) {
    Command(mnuScan);
    ASSERT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(launcher.started[0].what, L"\"C:\\Program Files\\Tovra\\tovraa.exe\"");
    EXPECT_EQ(launcher.started[0].show, SW_SHOWNORMAL);

    launcher.result = false;
    tovra::ScriptedMessageBoxes boxes;
    Command(mnuScan);
    ExpectScannerBox(boxes, form->hwnd());
    EXPECT_TRUE(IsWindow(form->hwnd()));
    EXPECT_TRUE(events.size() == 2) << "the program goes on";
}

TEST_F(MainFormTest, TheRealLauncherReportsAMissingScanner) {
    // Nothing is installed in the test prefix: the real start fails and the box names the path.
    ASSERT_EQ(GetFileAttributesW(ScannerPath().c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(SystemLauncher().Start(Quoted(ScannerPath()), SW_SHOWNORMAL));

    // The same through the window, which starts it with the system's own launcher.
    form.reset();
    MainForm::Seams seams;
    seams.endProgram = [this] { events.push_back("end"); };
    seams.trayNotify = [](DWORD, TrayRecord&) { return TRUE; };
    form = std::make_unique<MainForm>(std::move(seams));
    ASSERT_TRUE(form->Load());
    tovra::ScriptedMessageBoxes boxes;
    Command(mnuScan);
    ExpectScannerBox(boxes, form->hwnd());
    EXPECT_TRUE(launcher.started.empty()) << "the fake launcher is not asked";
    EXPECT_TRUE(IsWindow(form->hwnd())) << "the program goes on";
}

TEST_F(MainFormTest, UpdateOpensTheDownloadAddressWhereTheUserSeesIt) {
    Command(mnuUpdate);
    ASSERT_EQ(launcher.opened.size(), 1u);
    EXPECT_EQ(launcher.opened[0].what, L"http:\\\\www.quorelsoft.com\\utovraa.exe");
    EXPECT_EQ(launcher.opened[0].show, SW_SHOWNORMAL);
}

TEST_F(MainFormTest, IEPropertiesStartsTheControlPanelMinimised) {
    Command(mnuIEProperties);
    ASSERT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(launcher.started[0].what, L"control.exe INETCPL.CPL");
    EXPECT_EQ(launcher.started[0].show, SW_SHOWMINIMIZED);
    // A failure to start it is ignored.
    launcher.result = false;
    tovra::ScriptedMessageBoxes boxes;
    Command(mnuIEProperties);
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(MainFormTest, AboutShowsTheBoxWithoutOwnerAndAgainAfterItWasClosed) {
    Command(mnuAbout);
    AboutForm* about = form->About();
    ASSERT_NE(about, nullptr);
    ASSERT_TRUE(about->created());
    EXPECT_TRUE(about->Visible());
    EXPECT_EQ(about->Caption(), L"About Tovra");
    EXPECT_EQ(GetWindow(about->hwnd(), GW_OWNER), nullptr);
    Command(mnuAbout);  // a second click shows the same box
    EXPECT_EQ(form->About(), about);
    about->cmdOK_Click();
    EXPECT_FALSE(about->created());
    Command(mnuAbout);
    ASSERT_NE(form->About(), nullptr);
    EXPECT_TRUE(form->About()->Visible());
}

// The main window against a shell that can be missing, restarted or slow, with a quick retry timer.
struct MainFormTrayTest : ::testing::Test {
    static constexpr UINT kRetryMs = 30;
    tovra::shell::test::FakeShell shell;
    FakeLauncher launcher;
    int ends = 0;
    std::unique_ptr<MainForm> form;

    void Load() {
        MainForm::Seams seams;
        seams.launcher = &launcher;
        seams.endProgram = [this] { ++ends; };
        seams.trayNotify = shell.Notify();
        seams.trayRetryMs = kRetryMs;
        seams.createWatcher = [](HWND) {};  // the messages pumped here must not reach the shell's browsers
        form = std::make_unique<MainForm>(std::move(seams));
        ASSERT_TRUE(form->Load());
    }
    void TearDown() override { form.reset(); }

    // Runs the window's messages, timers included, until cond holds or the time is up.
    static bool PumpUntil(const std::function<bool()>& cond, DWORD ms) {
        const DWORD start = GetTickCount();
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (cond()) return true;
            if (GetTickCount() - start > ms) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    }
    static void PumpFor(DWORD ms) { PumpUntil([] { return false; }, ms); }
    void SendTaskbarCreated() {
        SendMessageW(form->hwnd(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    }
};

TEST_F(MainFormTrayTest, AnIconTheShellRefusesAtTheStartIsOfferedAgainUntilItIsTaken) {
    shell.missingForAdds = 3;  // the taskbar is not there yet at logon
    Load();
    EXPECT_TRUE(form->Tray().Shown());
    EXPECT_FALSE(form->Tray().Added());
    EXPECT_EQ(shell.Count(NIM_ADD), 1u) << "the load does not wait for the taskbar";
    ASSERT_TRUE(PumpUntil([&] { return form->Tray().Added(); }, 5000)) << "the icon was not offered again";
    EXPECT_TRUE(shell.Has(form->hwnd()));
    EXPECT_EQ(shell.Count(NIM_ADD), 4u);
    PumpFor(10 * kRetryMs);
    EXPECT_EQ(shell.Count(NIM_ADD), 4u) << "offered again after the shell took it";

    SendMessageW(form->hwnd(), WM_COMMAND, MAKEWPARAM(mnuExit, 0), 0);
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(shell.Has(form->hwnd())) << "the way out leaves the icon behind";
    EXPECT_EQ(shell.sent().back().message, static_cast<DWORD>(NIM_DELETE));
}

TEST_F(MainFormTrayTest, WithoutATaskbarTheTriesEndAndTaskbarCreatedAddsTheIcon) {
    shell.down = true;
    Load();
    ASSERT_TRUE(PumpUntil([&] { return !form->Tray().WantsRetry(); }, (kTrayAddTries + 20) * kRetryMs * 4))
        << "the tries do not end";
    PumpFor(10 * kRetryMs);
    EXPECT_EQ(shell.Count(NIM_ADD), static_cast<size_t>(1 + kTrayAddTries));

    // The taskbar comes, and says so.
    shell.down = false;
    SendTaskbarCreated();
    EXPECT_TRUE(form->Tray().Added());
    EXPECT_TRUE(shell.Has(form->hwnd()));
    EXPECT_EQ(shell.sent().back().record.hWnd, form->hwnd());
    EXPECT_EQ(std::string(shell.sent().back().record.szTip), "Tovra Internet Security 1.0");
}

TEST_F(MainFormTrayTest, ExplorersRestartBringsTheIconBack) {
    Load();
    ASSERT_TRUE(shell.Has(form->hwnd()));
    shell.Restart();
    SendTaskbarCreated();
    EXPECT_TRUE(shell.Has(form->hwnd()));
    EXPECT_EQ(shell.sent().back().message, static_cast<DWORD>(NIM_ADD));

    // The taskbar says it is there before it takes icons: the timer carries on from there.
    shell.Restart();
    shell.missingForAdds = 2;
    SendTaskbarCreated();
    EXPECT_FALSE(shell.Has(form->hwnd()));
    ASSERT_TRUE(PumpUntil([&] { return shell.Has(form->hwnd()); }, 5000)) << "the icon did not come back";

    // Said while the icon is still there: it stays, and nothing is tried again.
    const size_t adds = shell.Count(NIM_ADD);
    SendTaskbarCreated();
    PumpFor(10 * kRetryMs);
    EXPECT_TRUE(shell.Has(form->hwnd()));
    EXPECT_EQ(shell.Count(NIM_ADD), adds + 1);

    SendMessageW(form->hwnd(), WM_CLOSE, 0, 0);
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(shell.Has(form->hwnd()));
}

TEST_F(MainFormTrayTest, ClicksOnTheIconDoNothing) {
    Load();
    tovra::ScriptedMessageBoxes boxes;
    auto windows = [] {
        int n = 0;
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND, LPARAM count) -> BOOL {
                ++*reinterpret_cast<int*>(count);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&n));
        return n;
    };
    const int before = windows();
    const size_t sent = shell.sent().size();
    for (bool minimised : {false, true}) {
        if (minimised) ShowWindow(form->hwnd(), SW_MINIMIZE);
        for (UINT mouse : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN, WM_RBUTTONUP,
                           WM_RBUTTONDBLCLK, WM_MBUTTONDOWN, WM_MBUTTONUP}) {
            SendMessageW(form->hwnd(), kTrayCallbackMessage, 1, mouse);
        }
        PumpFor(50);
        EXPECT_EQ(IsIconic(form->hwnd()) != FALSE, minimised) << "the window is restored from the taskbar only";
        EXPECT_TRUE(IsWindowVisible(form->hwnd()));
    }
    EXPECT_EQ(windows(), before) << "a window or menu opened";
    EXPECT_TRUE(boxes.calls().empty());
    EXPECT_TRUE(launcher.started.empty());
    EXPECT_TRUE(launcher.opened.empty());
    EXPECT_EQ(shell.sent().size(), sent);
    EXPECT_EQ(ends, 0);
}

}  // namespace
