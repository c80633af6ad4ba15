// Control, menu and message ids of the main program's windows. The end-to-end tests include this
// header to address the same controls the program creates.
#pragma once
#include <windows.h>

namespace tovra::shell {

// frmMain: controls.
enum MainControl : int {
    lblHide = 1001,
    lblend = 1002,
    frmFrame1 = 1003,
    Label1 = 1004,
    Label2 = 1005,
    Label3 = 1006,
    Label4 = 1007,
    Label6 = 1008,
    lblPBlocker = 1009,
    lblFireWall = 1010,
    lblWasher = 1011,
    cmdPBlocker = 1012,
    cmdFireWall = 1013,
    cmdWasher = 1014,
};

// frmMain: menu entries.
enum MainMenu : int {
    mnuHide = 2001,
    mnuExit = 2002,
    mnuIEDefault = 2011,
    mnuIEProperties = 2012,
    mnuEFire = 2021,
    mnuDFire = 2022,
    mnuScan = 2031,
    mnuUpdate = 2032,
    mnuClean = 2041,
    mnuAbout = 2051,
};

// frmSplash.
enum SplashControl : int {
    Frame1 = 3001,
    lblCompanyProduct = 3002,
    lblVersion = 3003,
    lblCompany = 3004,
    lblstatus = 3005,
    lblTime = 3006,
};
constexpr UINT_PTR kSplashTimerId = 1;
constexpr UINT kSplashTimerMs = 100;

// frmAbout. OK carries IDOK so Enter and Esc (IDCANCEL) reach it through the dialog keys.
enum AboutControl : int {
    cmdOK = IDOK,
    lblTitle = 4001,
    lblAboutVersion = 4002,
    brwWebBrowser = 4003,
    Line1_0 = 4004,
    Line1_1 = 4005,
    cmdSysInfo = 4006,
};

// Window messages of frmMain.
constexpr UINT kSocketMessage = WM_APP + 1;  // the port watch's socket notices
constexpr UINT kStartWatcherMessage = WM_APP + 2;  // posted by the load: create the browser watcher
constexpr UINT kWasherJobMessage = WM_APP + 3;     // the washing run has something to show
constexpr UINT kTrayCallbackMessage = WM_MOUSEMOVE;  // the tray icon reports mouse activity so
constexpr UINT_PTR kTrayRetryTimerId = 1;  // offers the tray icon again until the shell takes it

// Window titles.
constexpr const wchar_t* kMainTitle = L"Tovra Internet Security 1.0";
constexpr const wchar_t* kAboutTitle = L"About Tovra";

}  // namespace tovra::shell
