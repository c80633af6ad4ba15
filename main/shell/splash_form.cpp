#include "main/shell/splash_form.h"

#include "main/shell/main_ids.h"
#include "main/shell/placement.h"
#include "main/shell/splash_counter.h"

namespace tovra::shell {
namespace {

using forms::ControlSpec;
using forms::Kind;

const ControlSpec kControls[] = {
    {Kind::Frame, Frame1, L"Frame1", L"", 150, 60, 7080, 2955},
    {Kind::Label, lblCompanyProduct, L"lblCompanyProduct", L"Tovra Internet Security", 1440, 705, 4185, 435, Frame1,
     {L"Arial", 18, true}},
    {Kind::Label, lblVersion, L"lblVersion", L"Version 1.0", 4680, 1920, 1395, 285, Frame1, {L"Arial", 12, true}},
    {Kind::Label, lblCompany, L"lblCompany", L"Company:Quorelsoft", 4800, 2400, 1815, 255, Frame1,
     {L"Arial", 8.25, false}},
    {Kind::Label, lblstatus, L"lblstatus", L"Please wait .......", 2880, 1320, 1575, 255, Frame1},
    {Kind::Label, lblTime, L"lblTime", L"", 240, 360, 615, 375, Frame1},
};

const forms::FormSpec kForm{
    .name = L"frmSplash",
    .caption = L"",
    .clientWidth = 7380,
    .clientHeight = 3330,
    .style = WS_POPUP | WS_BORDER,  // a fixed border and no title bar
    .controls = kControls,
};

}  // namespace

const forms::FormSpec& SplashForm::Layout() { return kForm; }

SplashForm::SplashForm(std::function<void()> showMain) : showMain_(std::move(showMain)) {}

bool SplashForm::Load() {
    if (!Create(kForm)) return false;
    Position p = CentredPosition(forms::ScreenWidthTwips(), forms::ScreenHeightTwips(), WidthTwips(), HeightTwips());
    MoveTwips(p.left, p.top);
    SetText(lblTime, SplashCounter::InitialText());
    timerOn_ = SetTimer(hwnd(), kSplashTimerId, kSplashTimerMs, nullptr) != 0;
    Show();
    return true;
}

void SplashForm::OnClockTick() {
    if (!timerOn_) return;  // a tick already queued when the clock stopped
    std::wstring now = SplashCounter::Next(Text(lblTime));
    SetText(lblTime, now);
    if (!SplashCounter::Done(now)) return;
    Hide();
    KillTimer(hwnd(), kSplashTimerId);
    timerOn_ = false;
    if (showMain_) showMain_();
}

void SplashForm::OnTimer(UINT_PTR timerId) {
    if (timerId == kSplashTimerId) OnClockTick();
}

}  // namespace tovra::shell
