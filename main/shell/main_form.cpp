#include "main/shell/main_form.h"

#include <commctrl.h>

#include "main/popup/popup_blocker.h"
#include "main/shell/main_ids.h"
#include "main/shell/placement.h"
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
      washer_(*this, washer::WasherSeams{}, kWasherJobMessage) {}

MainForm::~MainForm() {
    ended_ = true;  // a form released by its owner ends nothing
    about_.reset();
    if (tray_.bRunningInTray && hwnd()) tray_.RemoveIcon(hwnd());
    portWatch_.reset();
    if (tip_) DestroyWindow(tip_);
    Destroy();
}

bool MainForm::Load() {
    if (!Create(kForm)) return false;
    Form_Load();
    Show();
    return true;
}

void MainForm::Form_Load() {
    Step([] { popup::bBlockerOn = true; });
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

void MainForm::cmdPBlocker_Click() {
    if (Text(cmdPBlocker) != L"Stop") {
        popup::bBlockerOn = true;
        SetText(cmdPBlocker, L"Stop");
        SetText(lblPBlocker, L"Running");
    } else {
        popup::bBlockerOn = false;
        SetText(cmdPBlocker, L"Start");
        SetText(lblPBlocker, L"Stopped");
    }
}

// ---- Firewall -------------------------------------------------------------------------------

void MainForm::cmdFireWall_Click() {
    if (Text(cmdFireWall) == L"Start") FireWallStart();
    else FireWallStop();
}

void MainForm::mnuEFire_Click() { FireWallStart(); }
void MainForm::mnuDFire_Click() { FireWallStop(); }

void MainForm::FireWallStart() {
    SetText(cmdFireWall, L"Stop");
    SetText(lblFireWall, L"Running");
    SetMenuChecked(mnuEFire, true);
    SetMenuChecked(mnuDFire, false);
    if (portWatch_) portWatch_->Start();
    UpdateFireWallTip();
}

void MainForm::FireWallStop() {
    SetText(cmdFireWall, L"Start");
    SetText(lblFireWall, L"Stopped");
    SetMenuChecked(mnuEFire, false);
    SetMenuChecked(mnuDFire, true);
    if (portWatch_) portWatch_->Stop();
    UpdateFireWallTip();
}

void MainForm::UpdateFireWallTip() {
    // "Running" stays even when some ports could not be had; the tooltip names them.
    tipText_ = portWatch_ ? portWatch_->UnwatchedTip() : std::wstring();
    if (!tip_) return;
    TOOLINFOW ti{sizeof ti};
    ti.uFlags = TTF_IDISHWND;
    ti.hwnd = hwnd();
    ti.uId = reinterpret_cast<UINT_PTR>(Control(lblFireWall));
    ti.lpszText = tipText_.data();
    SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

std::wstring MainForm::FireWallTip() const {
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

void MainForm::cmdWasher_Click() { washer_.Run(); }
void MainForm::mnuClean_Click() { washer_.Run(); }
void MainForm::mnuIEDefault_Click() { washer_.IEDefault(); }

void MainForm::SetWasherButtonEnabled(bool enabled) { SetEnabled(cmdWasher, enabled); }
void MainForm::SetWasherStatus(const std::wstring& text) { SetText(lblWasher, text); }
void MainForm::SetLabel1(const std::wstring& text) { SetText(Label1, text); }

// ---- Shell commands -------------------------------------------------------------------------

void MainForm::mnuIEProperties_Click() { launcher_.Start(kInternetOptionsCommand, SW_SHOWMINIMIZED); }

void MainForm::mnuHide_Click() { ShowWindow(hwnd(), SW_MINIMIZE); }
void MainForm::lblHide_Click() { mnuHide_Click(); }

void MainForm::mnuExit_Click() { EndProgram(); }
void MainForm::lblend_Click() { EndProgram(); }

void MainForm::mnuScan_Click() {
    if (!launcher_.Start(Quoted(ScannerPath()), SW_SHOWNORMAL)) {
        ShowMessageBox(hwnd(), std::wstring(L"The virus scanner could not be started:\r\n") + ScannerPath(),
                       kMainTitle, MB_OK);
    }
}

void MainForm::Navigate(const std::wstring& NavTo) { launcher_.Open(NavTo, SW_SHOWNORMAL); }

void MainForm::mnuUpdate_Click() { Navigate(kUpdateAddress); }

void MainForm::mnuAbout_Click() {
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
    case cmdPBlocker: cmdPBlocker_Click(); break;
    case cmdFireWall: cmdFireWall_Click(); break;
    case cmdWasher: cmdWasher_Click(); break;
    case lblHide: lblHide_Click(); break;
    case lblend: lblend_Click(); break;
    case mnuHide: mnuHide_Click(); break;
    case mnuExit: mnuExit_Click(); break;
    case mnuIEDefault: mnuIEDefault_Click(); break;
    case mnuIEProperties: mnuIEProperties_Click(); break;
    case mnuEFire: mnuEFire_Click(); break;
    case mnuDFire: mnuDFire_Click(); break;
    case mnuScan: mnuScan_Click(); break;
    case mnuUpdate: mnuUpdate_Click(); break;
    case mnuClean: mnuClean_Click(); break;
    case mnuAbout: mnuAbout_Click(); break;
    default: break;
    }
}

void MainForm::StartWatcher() {
    if (watcherStarted_) return;  // one watcher for the window's life
    watcherStarted_ = true;
    Step([this] {
        if (createWatcher_) createWatcher_(hwnd());
        else popup::CreateWatcher(hwnd());
    });
}

bool MainForm::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
    if (msg == kStartWatcherMessage) {
        StartWatcher();
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
