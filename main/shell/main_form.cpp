#include "main/shell/main_form.h"

#include <commctrl.h>

#include "main/shell/main_ids.h"
#include "main/shell/placement.h"
#include "main/shell/service_captions.h"
#include "shared/compat.h"
#include "shared/message_box.h"

namespace tovra::shell {
namespace {

using forms::ControlSpec;
using forms::FontSpec;
using forms::Kind;
using forms::MenuSpec;

constexpr COLORREF kOlive = RGB(128, 128, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kOrange = RGB(192, 64, 0);
constexpr COLORREF kDarkRed = RGB(192, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kNone = forms::kDefaultColor;
const FontSpec kHeading{L"Tahoma", 9.75, true};

const ControlSpec kControls[] = {
    {Kind::Label, lblHide, L"lblHide", L"Hide Me", 360, 0, 855, 255, 0, {}, kGreen},
    {Kind::Label, lblend, L"lblend", L"Exit", 1080, 0, 855, 255, 0, {}, kGreen},
    {Kind::Frame, frmFrame1, L"frmFrame1", L"", 240, 240, 4095, 1695},
    {Kind::Label, Label1, L"Label1", L"Services", 240, 120, 1095, 255, frmFrame1, kHeading, kOrange},
    {Kind::Label, Label2, L"Label2", L"Status", 1560, 120, 1095, 255, frmFrame1, kHeading, kOrange},
    {Kind::Label, Label3, L"Label3", L"Pop-up Blocker", 240, 480, 1215, 255, frmFrame1},
    {Kind::Label, Label4, L"Label4", L"Firewall", 240, 840, 1215, 255, frmFrame1},
    {Kind::Label, Label6, L"Label6", L"IE Washer", 240, 1200, 1215, 255, frmFrame1},
    {Kind::Label, lblPBlocker, L"lblPBlocker", L"Running", 1560, 480, 1215, 255, frmFrame1, {}, kDarkRed, kWhite},
    {Kind::Label, lblFireWall, L"lblFireWall", L"Stopped", 1560, 840, 1215, 255, frmFrame1, {}, kDarkRed, kWhite},
    {Kind::Label, lblWasher, L"lblWasher", L"Stopped", 1560, 1200, 1215, 255, frmFrame1, {}, kDarkRed, kWhite},
    {Kind::Button, cmdPBlocker, L"cmdPBlocker", L"Stop", 3120, 480, 855, 255, frmFrame1},
    {Kind::Button, cmdFireWall, L"cmdFireWall", L"Start", 3120, 840, 855, 255, frmFrame1},
    {Kind::Button, cmdWasher, L"cmdWasher", L"Start", 3120, 1200, 855, 255, frmFrame1},
};

const MenuSpec kMenu[] = {
    {0, L"mnuFile", L"&File", true},
    {mnuHide, L"mnuHide", L"Hide"},
    {mnuExit, L"mnuExit", L"Exit"},
    {0, L"mnuSettings", L"&Settings", true},
    {mnuIEDefault, L"mnuIEDefault", L"IE Default"},
    {mnuIEProperties, L"mnuIEProperties", L"IE Properties"},
    {0, L"mnuFireWall", L"&Firewall", true},
    {mnuEFire, L"mnuEFire", L"Enable Firewall", false, false},
    {mnuDFire, L"mnuDFire", L"Disable Firewall", false, true},
    {0, L"mnuAntiVirus", L"&ScanVirus", true},
    {mnuScan, L"mnuScan", L"Scan"},
    {mnuUpdate, L"mnuUpdate", L"Update Virus List"},
    {0, L"mnuWasher", L"IE &Washer", true},
    {mnuClean, L"mnuClean", L"Clean"},
    {0, L"mnuHelp", L"&Help", true},
    {mnuAbout, L"mnuAbout", L"About"},
};

const forms::FormSpec kForm{
    .name = L"frmMain",
    .caption = kMainTitle,
    .clientWidth = 4620,
    .clientHeight = 2130,
    .back = kOlive,
    .font = {L"Tahoma", 8.25, false},
    .controls = kControls,
    .menu = kMenu,
};

// Each step of the load runs on its own: one that fails must not keep the next from running.
template <typename F>
void Step(F&& f) {
    try {
        f();
    } catch (...) {
    }
}

}  // namespace

const forms::FormSpec& MainForm::Layout() { return kForm; }

MainForm::MainForm() : MainForm(Seams{}) {}

MainForm::MainForm(Seams seams)
    : launcher_(seams.launcher ? *seams.launcher : SystemLauncher()),
      endProgram_(std::move(seams.endProgram)),
      createWatcher_(std::move(seams.createWatcher)),
      browsers_(std::move(seams.browsers)),
      tray_(std::move(seams.trayNotify)),
      trayRetryMs_(seams.trayRetryMs ? seams.trayRetryMs : kTrayRetryMs),
      taskbarCreated_(RegisterWindowMessageW(kTaskbarCreatedName)),
      blocker_(std::move(seams.shellWindows), std::move(seams.input)),
      washer_(*this, washer::WasherSeams{}, kWasherJobMessage) {}

MainForm::~MainForm() {
    ended_ = true;  // a form released by its owner ends nothing
    about_.reset();
    if (tray_.Shown() && hwnd()) tray_.RemoveIcon(hwnd());
    // The sinks hold browsers of other processes: they go while COM is still there.
    blocker_.StopWatching();
    portWatch_.reset();
    if (tip_) DestroyWindow(tip_);
    Destroy();
}

bool MainForm::Load() {
    if (!Create(kForm)) return false;
    RunLoadSteps();
    Show();
    return true;
}

void MainForm::RunLoadSteps() {
    Step([this] {
        blocker_.Start();
        ShowBlockerState();
    });
    // The watcher's first rebuild asks the shell's own process for its window list and attaches
    // to browsers in other processes. It runs from the message loop once the window is shown, so
    // neither the load nor the window's first appearance waits on another process.
    Step([this] { PostMessageW(hwnd(), kStartWatcherMessage, 0, 0); });
    Step([this] { SetWindowPos(hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); });
    Step([this] {
        tray_.RemoveIcon(hwnd());
        tray_.ShowIcon(hwnd());
        // Explorer's restart must reach the window also when this program runs elevated.
        if (taskbarCreated_) compat::AllowMessageFromShell(hwnd(), taskbarCreated_);
        KeepTrayIcon();
    });
    Step([this] {
        Position p = MainWindowPosition(forms::ScreenWidthTwips(), forms::ScreenHeightTwips(), WidthTwips(),
                                        HeightTwips());
        MoveTwips(p.left, p.top);
    });
    // The watchers get their ports; none listens until the user starts the firewall.
    Step([this] { portWatch_ = std::make_unique<portwatch::PortWatch>(hwnd(), kSocketMessage); });
    Step([this] {
        tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        if (!tip_) return;
        TOOLINFOW ti{sizeof ti};
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = hwnd();
        ti.uId = reinterpret_cast<UINT_PTR>(Control(lblFireWall));
        ti.lpszText = const_cast<wchar_t*>(L"");
        SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    });
}

// ---- Pop-up blocker ------------------------------------------------------------------------

void MainForm::OnBlockerButton() {
    // The switch changes before the captions.
    blocker_.Toggle();
    ShowBlockerState();
}

void MainForm::ShowBlockerState() {
    const ServiceCaptions captions = CaptionsOf(blocker_.Running());
    SetText(cmdPBlocker, captions.button);
    SetText(lblPBlocker, captions.status);
}

// ---- Firewall -------------------------------------------------------------------------------

void MainForm::OnFirewallButton() {
    if (FirewallRunning()) StopFirewall();
    else StartFirewall();
}

// Again while running starts every watcher that does not listen; again while stopped closes all.
void MainForm::OnEnableFirewallMenu() { StartFirewall(); }
void MainForm::OnDisableFirewallMenu() { StopFirewall(); }

void MainForm::StartFirewall() {
    if (portWatch_) portWatch_->Start();
    ShowFirewallState();
}

void MainForm::StopFirewall() {
    if (portWatch_) portWatch_->Stop();
    ShowFirewallState();
}

void MainForm::ShowFirewallState() {
    // "Running" follows the command even where no port could be had; the tooltip names those.
    const bool running = FirewallRunning();
    const ServiceCaptions captions = CaptionsOf(running);
    SetText(cmdFireWall, captions.button);
    SetText(lblFireWall, captions.status);
    SetMenuChecked(mnuEFire, running);
    SetMenuChecked(mnuDFire, !running);
    UpdateFirewallTip();
}

void MainForm::UpdateFirewallTip() {
    tipText_ = portWatch_ ? portWatch_->UnwatchedTip() : std::wstring();
    if (!tip_) return;
    TOOLINFOW ti{sizeof ti};
    ti.uFlags = TTF_IDISHWND;
    ti.hwnd = hwnd();
    ti.uId = reinterpret_cast<UINT_PTR>(Control(lblFireWall));
    ti.lpszText = tipText_.data();
    SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

std::wstring MainForm::FirewallTip() const {
    if (!tip_) return {};
    wchar_t text[512] = {};
    TOOLINFOW ti{sizeof ti};
    ti.uFlags = TTF_IDISHWND;
    ti.hwnd = hwnd();
    ti.uId = reinterpret_cast<UINT_PTR>(Control(lblFireWall));
    ti.lpszText = text;
    SendMessageW(tip_, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&ti));
    return text;
}

// ---- Washer ---------------------------------------------------------------------------------

void MainForm::OnWasherButton() { washer_.Run(); }
void MainForm::OnCleanMenu() { washer_.Run(); }
void MainForm::OnBrowserDefaultsMenu() { washer_.IEDefault(); }

void MainForm::SetWasherButtonEnabled(bool enabled) { SetEnabled(cmdWasher, enabled); }
void MainForm::SetWasherStatus(const std::wstring& text) { SetText(lblWasher, text); }
void MainForm::SetLabel1(const std::wstring& text) { SetText(Label1, text); }

// ---- Shell commands -------------------------------------------------------------------------

void MainForm::OnInternetOptionsMenu() { launcher_.Start(kInternetOptionsCommand, SW_SHOWMINIMIZED); }

void MainForm::OnHideMenu() { ShowWindow(hwnd(), SW_MINIMIZE); }
void MainForm::OnHideLabel() { OnHideMenu(); }

void MainForm::OnExitMenu() { EndProgram(); }
void MainForm::OnExitLabel() { EndProgram(); }

void MainForm::OnScanMenu() {
    if (!launcher_.Start(Quoted(ScannerPath()), SW_SHOWNORMAL)) {
        ShowMessageBox(hwnd(), std::wstring(L"The virus scanner could not be started:\r\n") + ScannerPath(),
                       kMainTitle, MB_OK);
    }
}

void MainForm::Navigate(const std::wstring& target) { launcher_.Open(target, SW_SHOWNORMAL); }

void MainForm::OnUpdateVirusListMenu() { Navigate(kUpdateAddress); }

void MainForm::OnAboutMenu() {
    // Unloaded since: load it afresh.
    if (about_ && !about_->created()) about_.reset();
    if (!about_) about_ = std::make_unique<AboutForm>(launcher_, browsers_);
    about_->Load();
}

// ---- Tray icon ------------------------------------------------------------------------------

void MainForm::KeepTrayIcon() {
    // Offered again from the message loop until the shell takes it; nothing waits for the shell.
    if (tray_.WantsRetry()) SetTimer(hwnd(), kTrayRetryTimerId, trayRetryMs_, nullptr);
    else KillTimer(hwnd(), kTrayRetryTimerId);
}

void MainForm::OnTimer(UINT_PTR timerId) {
    if (timerId != kTrayRetryTimerId) return;
    tray_.RetryAdd(hwnd());
    if (!tray_.WantsRetry()) KillTimer(hwnd(), kTrayRetryTimerId);
}

// ---- Ways out -------------------------------------------------------------------------------

void MainForm::EndProgram() {
    // The icon goes first, so none is left behind however the process ends.
    if (hwnd()) {
        tray_.RemoveIcon(hwnd());
        KillTimer(hwnd(), kTrayRetryTimerId);
    }
    ended_ = true;
    // A washing run ends at its next file: nothing more is deleted, and no thread is cut off
    // in the middle of a call while the process ends.
    washer_.Stop();
    if (endProgram_) endProgram_();
    else ExitProcess(0);
}

bool MainForm::OnClose() {
    EndProgram();
    return true;
}

void MainForm::OnDestroyed() {
    // Destroyed other than by a way out: the program has nothing left to show.
    if (!ended_) EndProgram();
}

void MainForm::OnCommand(int id, int notifyCode) {
    switch (id) {
    case cmdPBlocker: OnBlockerButton(); break;
    case cmdFireWall: OnFirewallButton(); break;
    case cmdWasher: OnWasherButton(); break;
    case lblHide: OnHideLabel(); break;
    case lblend: OnExitLabel(); break;
    case mnuHide: OnHideMenu(); break;
    case mnuExit: OnExitMenu(); break;
    case mnuIEDefault: OnBrowserDefaultsMenu(); break;
    case mnuIEProperties: OnInternetOptionsMenu(); break;
    case mnuEFire: OnEnableFirewallMenu(); break;
    case mnuDFire: OnDisableFirewallMenu(); break;
    case mnuScan: OnScanMenu(); break;
    case mnuUpdate: OnUpdateVirusListMenu(); break;
    case mnuClean: OnCleanMenu(); break;
    case mnuAbout: OnAboutMenu(); break;
    default: break;
    }
}

void MainForm::StartWatchingBrowsers() {
    if (watcherStarted_) return;  // one watcher for the window's life
    watcherStarted_ = true;
    Step([this] {
        if (createWatcher_) createWatcher_(hwnd());
        else blocker_.WatchBrowsers();
    });
}

bool MainForm::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
    if (msg == kStartWatcherMessage) {
        StartWatchingBrowsers();
        *result = 0;
        return true;
    }
    if (msg == kWasherJobMessage) {
        washer_.RunTasks();
        *result = 0;
        return true;
    }
    if (taskbarCreated_ && msg == taskbarCreated_) {
        tray_.TaskbarCreated(hwnd());
        KeepTrayIcon();
        *result = 0;
        return true;
    }
    if (msg == kSocketMessage) {
        if (portWatch_) portWatch_->OnSocketMessage(wp, lp);
        *result = 0;
        return true;
    }
    return false;
}

}  // namespace tovra::shell
