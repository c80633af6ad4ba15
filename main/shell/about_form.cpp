#include "main/shell/about_form.h"

#include <utility>
#include <vector>

#include "main/shell/main_ids.h"
#include "main/shell/placement.h"
#include "main/shell/sys_info.h"
#include "shared/file_system.h"
#include "shared/html_view.h"

namespace tovra::shell {
namespace {

using forms::ControlSpec;
using forms::Kind;

const ControlSpec kControls[] = {
    // Table order is tab order: OK first, then System Info.
    {Kind::Button, cmdOK, L"cmdOK", L"OK", 2280, 2040, 1260, 345, 0, {}, forms::kDefaultColor,
     forms::kDefaultColor, true, BS_DEFPUSHBUTTON},
    {Kind::Button, cmdSysInfo, L"cmdSysInfo", L"&System Info...", 480, 2040, 1245, 345},
    {Kind::Label, lblTitle, L"lblTitle", L"Tovra Pop-ups Killer", 120, 0, 3885, 480, 0,
     {L"MS Sans Serif", 18, true}},
    {Kind::Label, lblAboutVersion, L"lblVersion", L"", 120, 480, 3885, 225},
    // The separator above the buttons: a grey line with a white one under it.
    {Kind::Label, Line1_1, L"Line1(1)", L"", 0, 1920, 4800, 15, 0, {}, forms::kDefaultColor, RGB(128, 128, 128)},
    {Kind::Label, Line1_0, L"Line1(0)", L"", 0, 1935, 4800, 15, 0, {}, forms::kDefaultColor, RGB(255, 255, 255)},
};

const forms::FormSpec kForm{
    .name = L"frmAbout",
    .caption = L"",
    .clientWidth = 4665,
    .clientHeight = 2475,
    .style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
    .exStyle = WS_EX_DLGMODALFRAME,
    .controls = kControls,
};

constexpr double kPageLeft = 240, kPageTop = 720, kPageWidth = 4215, kPageHeight = 1095;

using fs::OwnPath;

}  // namespace

std::optional<ProgramVersion> ReadProgramVersion(const std::wstring& exePath) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(exePath.c_str(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(exePath.c_str(), 0, size, data.data())) return std::nullopt;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &len) || !info ||
        len < sizeof(VS_FIXEDFILEINFO) || info->dwSignature != 0xFEEF04BD)
        return std::nullopt;
    return ProgramVersion{HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                          HIWORD(info->dwFileVersionLS)};
}

ProgramVersion OwnVersion() {
    if (auto v = ReadProgramVersion(OwnPath())) return *v;
    return {TOVRA_VERSION_MAJOR, TOVRA_VERSION_MINOR, TOVRA_VERSION_PATCH};
}

std::wstring VersionLabel(const ProgramVersion& v) {
    return L"Version " + std::to_wstring(v.major) + L"." + std::to_wstring(v.minor) + L"." +
           std::to_wstring(v.revision);
}

std::wstring AboutPage() {
    return std::wstring(
               L"<html><title>About Tovra Internet Security</title><body><i>Tovra Internet Security</i> provides "
               L"maximum security while you are online. It blocks all pop-up windows, protects you against "
               L"hackers, virus, and cleans unwanted temporay files and cookies.<br>Please visit Quorelsoft or "
               L"email us at ") +
           kSupportAddress +
           L" for more information about updates and new softwares.<p>Thank you for choosing Quorelsoft."
           L"</body></html>";
}

const forms::FormSpec& AboutForm::Layout() { return kForm; }

AboutForm::AboutForm(Launcher& launcher, BrowserFactory browsers)
    : launcher_(launcher), browsers_(std::move(browsers)) {}
AboutForm::~AboutForm() = default;

bool AboutForm::Load() {
    if (!created()) {
        if (!Create(kForm)) return false;
        SetCaption(std::wstring(L"About ") + kAppTitle);
        SetText(lblAboutVersion, VersionLabel(OwnVersion()));
        Position p = AboutBoxPosition(forms::ScreenWidthTwips(), forms::ScreenHeightTwips(), WidthTwips(),
                                      HeightTwips());
        MoveTwips(p.left, p.top);
        page_ = std::make_unique<HtmlView>(browsers_);
        RECT rc{forms::TwipsToPixelsX(kPageLeft), forms::TwipsToPixelsY(kPageTop),
                forms::TwipsToPixelsX(kPageLeft + kPageWidth), forms::TwipsToPixelsY(kPageTop + kPageHeight)};
        if (page_->Create(hwnd(), brwWebBrowser, rc)) page_->Load(AboutPage());
    }
    Show();
    SetForegroundWindow(hwnd());
    if (HWND ok = Control(cmdOK)) SetFocus(ok);
    return true;
}

void AboutForm::cmdOK_Click() {
    page_.reset();
    Destroy();
}

void AboutForm::cmdSysInfo_Click() { StartSysInfo(hwnd(), launcher_, kAppTitle); }

bool AboutForm::PageInBrowser() const { return page_ && page_->UsingBrowser(); }
std::wstring AboutForm::PageText() const { return page_ ? page_->ShownText() : std::wstring(); }
bool AboutForm::PageLoading() const { return page_ && page_->Loading(); }

void AboutForm::OnCommand(int id, int notifyCode) {
    if (notifyCode != BN_CLICKED) return;
    // Enter reaches the default button as IDOK, Esc arrives as IDCANCEL: both close the box.
    if (id == cmdOK || id == IDCANCEL) cmdOK_Click();
    else if (id == cmdSysInfo) cmdSysInfo_Click();
}

}  // namespace tovra::shell
