#include "setup/wizard.h"

#include "setup/licence.h"

namespace tovra::setup {
namespace {

using forms::ControlSpec;
using forms::FontSpec;
using forms::FormSpec;
using forms::Kind;

constexpr FontSpec kFormFont{L"MS Sans Serif", 8.25};
constexpr FontSpec kChoiceFont{L"MS Sans Serif", 9.75};
constexpr COLORREF kPageGreen = RGB(128, 255, 128);

const ControlSpec kSelectionControls[] = {
    {Kind::Frame, SelectionForm::frmSelection, L"frmSelection", L"Tovra Internet Security Setup", 240, 240, 4215,
     1695},
    {Kind::OptionButton, SelectionForm::optInstall, L"optInstall", L"Install Tovra Internet Security", 360, 360,
     3255, 255, SelectionForm::frmSelection, kChoiceFont, forms::kDefaultColor, forms::kDefaultColor, true,
     WS_GROUP},
    {Kind::OptionButton, SelectionForm::optUninstall, L"optUninstall", L"Uninstall Tovra Internet Security", 360,
     840, 3255, 255, SelectionForm::frmSelection, kChoiceFont},
    {Kind::Button, SelectionForm::cmdStart, L"cmdStart", L"Start", 840, 1200, 1215, 255, SelectionForm::frmSelection},
    {Kind::Button, SelectionForm::cmdEndS, L"cmdEndS", L"Exit", 2160, 1200, 1215, 255, SelectionForm::frmSelection},
    {Kind::Label, SelectionForm::lblagreement, L"lblagreement", L"Read End User License Agreement", 240, 2040, 4095,
     255, 0, kChoiceFont, RGB(0, 0, 255)},
};
const FormSpec kSelectionForm{
    .name = L"frmMain",
    .caption = L"Tovra Internet Security Setup",
    .clientWidth = 4680,
    .clientHeight = 3195,
    .back = RGB(255, 255, 255),
    .font = kFormFont,
    .controls = kSelectionControls,
};

// The browser's area is not a control of the table: the HTML view makes its own window there.
constexpr double kBrowserLeft = 120, kBrowserTop = 120, kBrowserWidth = 6960, kBrowserHeight = 4560;
const ControlSpec kAgreeControls[] = {
    {Kind::Button, AgreeForm::cmdExitA, L"cmdExitA", L"Exit", 5865, 4800, 1215, 375},
};
const FormSpec kAgreeForm{
    .name = L"frmAgree",
    .caption = L"End User License Agreement",
    .clientWidth = 7200,
    .clientHeight = 5400,
    .font = kFormFont,
    .controls = kAgreeControls,
};

// Table order is the tab order: Next, Exit, then the two choices.
const ControlSpec kInstallControls[] = {
    {Kind::Button, InstallPage::cmdNext, L"cmdNext", L"Next", 1080, 1080, 1455, 375},
    {Kind::Button, InstallPage::cmdExit, L"cmdExit", L"Exit", 3600, 1080, 1455, 375},
    {Kind::OptionButton, InstallPage::optAgree, L"optAgree", L"I agree", 1560, 360, 3255, 255, 0, {},
     forms::kDefaultColor, forms::kDefaultColor, true, WS_GROUP},
    {Kind::OptionButton, InstallPage::optDisagree, L"optDisagree", L"I disagree", 1560, 720, 3255, 255},
};
const FormSpec kInstallPage{
    .name = L"frmOne",
    .caption = L"Tovra Internet Security Setup - Install",
    .clientWidth = 6195,
    .clientHeight = 1575,
    .style = WS_POPUP,  // no title bar, no border
    .back = kPageGreen,
    .font = kFormFont,
    .controls = kInstallControls,
};

const ControlSpec kUninstallControls[] = {
    {Kind::Button, UninstallPage::cmdNext, L"cmdNext", L"Next", 1080, 1080, 1455, 375},
    {Kind::Button, UninstallPage::cmdExit, L"cmdExit", L"Exit", 3600, 1080, 1455, 375},
};
const FormSpec kUninstallPage{
    .name = L"frmTwo",
    .caption = L"Tovra Internet Security Setup - Uninstall",
    .clientWidth = 6195,
    .clientHeight = 1575,
    .style = WS_POPUP,
    .back = kPageGreen,
    .font = kFormFont,
    .controls = kUninstallControls,
};

}  // namespace

// ---- frmMain ----------------------------------------------------------------------------------
const FormSpec& SelectionForm::Layout() { return kSelectionForm; }

void SelectionForm::Form_Load() {
    // The first choice in tab order holds the focus and so is the one selected.
    SetChecked(optInstall, true);
    SetFocus(Control(optInstall));
}

void SelectionForm::cmdStart_Click() {
    SetEnabled(optInstall, false);
    SetEnabled(optUninstall, false);
    SetEnabled(cmdStart, false);
    SetEnabled(cmdEndS, false);
    Enable(false);
    if (Checked(optInstall)) {
        wizard_.ShowInstallPage();
    } else {
        wizard_.ShowUninstallPage();
    }
}

void SelectionForm::cmdEndS_Click() { wizard_.End(); }

void SelectionForm::lblagreement_Click() { wizard_.ShowLicence(); }

void SelectionForm::OnCommand(int id, int notifyCode) {
    if (id == lblagreement && notifyCode == STN_CLICKED) lblagreement_Click();
    if (notifyCode != BN_CLICKED) return;
    if (id == cmdStart) cmdStart_Click();
    if (id == cmdEndS) cmdEndS_Click();
}

bool SelectionForm::OnClose() {
    // Closing the window leaves the installer as Exit does.
    cmdEndS_Click();
    return false;
}

bool SelectionForm::OnMessage(UINT msg, WPARAM wp, LPARAM, LRESULT* result) {
    // The blue label is a link: show the hand over it.
    if (msg == WM_SETCURSOR && reinterpret_cast<HWND>(wp) == Control(lblagreement)) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        *result = TRUE;
        return true;
    }
    return false;
}

// ---- frmAgree ---------------------------------------------------------------------------------
const FormSpec& AgreeForm::Layout() { return kAgreeForm; }

bool AgreeForm::Form_Load() {
    RECT area{forms::TwipsToPixelsX(kBrowserLeft), forms::TwipsToPixelsY(kBrowserTop),
              forms::TwipsToPixelsX(kBrowserLeft + kBrowserWidth), forms::TwipsToPixelsY(kBrowserTop + kBrowserHeight)};
    return view_.Create(hwnd(), brwWebBrowser, area) && view_.Load(LicenceHtml());
}

void AgreeForm::cmdExitA_Click() { Hide(); }

void AgreeForm::OnCommand(int id, int notifyCode) {
    if (id == cmdExitA && notifyCode == BN_CLICKED) cmdExitA_Click();
}

bool AgreeForm::OnClose() {
    // Stays loaded, like its Exit: showing it again shows the same page.
    cmdExitA_Click();
    return false;
}

// ---- frmOne -----------------------------------------------------------------------------------
const FormSpec& InstallPage::Layout() { return kInstallPage; }

void InstallPage::Form_Load() {
    CenterOnScreen();
    SetEnabled(cmdNext, false);
}

void InstallPage::optAgree_Click() { SetEnabled(cmdNext, true); }
void InstallPage::optDisagree_Click() { SetEnabled(cmdNext, false); }

void InstallPage::cmdNext_Click() {
    Installer& installer = wizard_.installer();
    Outcome outcome = installer.Install(hwnd());
    SetEnabled(cmdNext, false);  // never twice
    installer.ReportInstall(hwnd(), outcome);
    wizard_.End();
}

void InstallPage::cmdExit_Click() {
    wizard_.selection().Enable(true);
    wizard_.End();
}

void InstallPage::OnCommand(int id, int notifyCode) {
    if (notifyCode != BN_CLICKED) return;
    switch (id) {
    case optAgree: optAgree_Click(); break;
    case optDisagree: optDisagree_Click(); break;
    case cmdNext: cmdNext_Click(); break;
    case cmdExit: cmdExit_Click(); break;
    default: break;
    }
}

bool InstallPage::OnClose() {
    cmdExit_Click();
    return false;
}

// ---- frmTwo -----------------------------------------------------------------------------------
const FormSpec& UninstallPage::Layout() { return kUninstallPage; }

void UninstallPage::Form_Load() {
    SetEnabled(cmdNext, true);
    CenterOnScreen();
}

void UninstallPage::cmdNext_Click() {
    Installer& installer = wizard_.installer();
    if (!installer.ConfirmUninstall(hwnd())) {
        wizard_.End();
        return;
    }
    installer.Uninstall(hwnd());
    installer.ReportUninstall(hwnd());
    wizard_.End();
}

void UninstallPage::cmdExit_Click() {
    wizard_.selection().Enable(true);
    wizard_.End();
}

void UninstallPage::OnCommand(int id, int notifyCode) {
    if (notifyCode != BN_CLICKED) return;
    if (id == cmdNext) cmdNext_Click();
    if (id == cmdExit) cmdExit_Click();
}

bool UninstallPage::OnClose() {
    cmdExit_Click();
    return false;
}

// ---- The wizard -------------------------------------------------------------------------------
SetupWizard::SetupWizard(Installer& installer, std::function<void()> onEnd, BrowserFactory browsers)
    : installer_(installer),
      onEnd_(std::move(onEnd)),
      selection_(*this),
      agree_(std::move(browsers)),
      installPage_(*this),
      uninstallPage_(*this) {}

SetupWizard::~SetupWizard() {
    selection_.Destroy();
    installPage_.Destroy();
    uninstallPage_.Destroy();
    agree_.Destroy();
}

bool SetupWizard::Start() {
    if (!selection_.Create(SelectionForm::Layout())) return false;
    selection_.Show();
    selection_.Form_Load();
    return true;
}

void SetupWizard::ShowLicence() {
    if (ended_) return;  // a late request: the licence never outlives the setup
    if (!agree_.created()) {
        if (!agree_.Create(AgreeForm::Layout())) return;
        agree_.CenterOnScreen();
        agree_.Form_Load();  // the window comes even where no view could be made for the page
    }
    agree_.Show();
    SetFocus(agree_.Control(AgreeForm::cmdExitA));
}

void SetupWizard::ShowInstallPage() {
    if (ended_) return;
    if (!installPage_.created()) {
        if (!installPage_.Create(InstallPage::Layout())) return;
        installPage_.Form_Load();
    }
    installPage_.Show();
    // Next is disabled, so the focus goes to Exit.
    SetFocus(installPage_.Control(InstallPage::cmdExit));
}

void SetupWizard::ShowUninstallPage() {
    if (ended_) return;
    if (!uninstallPage_.created()) {
        if (!uninstallPage_.Create(UninstallPage::Layout())) return;
        uninstallPage_.Form_Load();
    }
    uninstallPage_.Show();
    SetFocus(uninstallPage_.Control(UninstallPage::cmdNext));
}

void SetupWizard::End() {
    if (ended_) return;
    ended_ = true;
    selection_.Destroy();
    installPage_.Destroy();
    uninstallPage_.Destroy();
    agree_.Destroy();
    if (onEnd_) onEnd_();
}

}  // namespace tovra::setup
