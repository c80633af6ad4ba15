#include "shared/forms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "shared/message_box.h"

namespace {

using tovra::forms::ControlSpec;
using tovra::forms::Form;
using tovra::forms::FormSpec;
using tovra::forms::Kind;
using tovra::forms::kDefaultColor;
using tovra::forms::MenuSpec;

const ControlSpec kControls[] = {
    {Kind::Frame, 10, L"fra", L"", 240, 240, 3000, 1500},
    {Kind::Label, 11, L"lbl", L"Hello", 120, 120, 1095, 255, 10, {L"Tahoma", 9.75, true}, RGB(192, 64, 0)},
    {Kind::Button, 12, L"cmd", L"&Start", 1440, 0, 1440, 375},
    {Kind::CheckBox, 13, L"chk", L"C", 0, 1440, 615, 255},
    {Kind::TextBox, 14, L"txt", L"Text1", 0, 0, 100, 100, 0, {}, kDefaultColor, kDefaultColor, false},
};
const MenuSpec kMenu[] = {
    {0, L"mnuFile", L"&File", true},
    {201, L"mnuOn", L"On"},
    {202, L"mnuOff", L"Off", false, true},
};
const FormSpec kSpec{
    .name = L"frmTest",
    .caption = L"Forms test",
    .clientWidth = 4620,
    .clientHeight = 2130,
    .back = RGB(128, 128, 0),
    .font = {L"Tahoma", 8.25},
    .controls = kControls,
    .menu = kMenu,
};

class TestForm : public Form {
public:
    std::vector<std::pair<int, int>> commands;
    int resizes = 0;

protected:
    void OnCommand(int id, int code) override { commands.emplace_back(id, code); }
    void OnResize() override { ++resizes; }
};

RECT ClientRectOf(HWND parent, HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TEST(FormsTest, TwipsFollowTheScreenDpi) {
    HDC dc = GetDC(nullptr);
    int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(nullptr, dc);
    EXPECT_EQ(tovra::forms::TwipsToPixelsX(1440), dpi);
    EXPECT_EQ(tovra::forms::TwipsToPixelsX(0), 0);
    EXPECT_DOUBLE_EQ(tovra::forms::PixelsToTwipsX(dpi), 1440.0);
    EXPECT_DOUBLE_EQ(tovra::forms::ScreenWidthTwips(), GetSystemMetrics(SM_CXSCREEN) * 1440.0 / dpi);
}

TEST(FormsTest, BuildsTheDeclaredWindow) {
    TestForm form;
    ASSERT_TRUE(form.Create(kSpec));
    HWND h = form.hwnd();
    EXPECT_EQ(form.Caption(), L"Forms test");
    RECT client{};
    GetClientRect(h, &client);
    EXPECT_EQ(client.right, tovra::forms::TwipsToPixelsX(4620));
    EXPECT_EQ(client.bottom, tovra::forms::TwipsToPixelsY(2130));

    // A frame's child is placed relative to the frame.
    RECT lbl = ClientRectOf(h, form.Control(11));
    EXPECT_EQ(lbl.left, tovra::forms::TwipsToPixelsX(360));
    EXPECT_EQ(lbl.top, tovra::forms::TwipsToPixelsY(360));
    EXPECT_EQ(form.Text(11), L"Hello");
    EXPECT_EQ(form.Text(12), L"&Start");
    EXPECT_FALSE(form.ControlVisible(14));
    EXPECT_TRUE(form.ControlVisible(12));

    // Fonts: the control's own, or the form's.
    LOGFONTW lf{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(form.Control(11), WM_GETFONT, 0, 0)), sizeof lf, &lf);
    EXPECT_STREQ(lf.lfFaceName, L"Tahoma");
    EXPECT_EQ(lf.lfWeight, FW_BOLD);
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(form.Control(12), WM_GETFONT, 0, 0)), sizeof lf, &lf);
    EXPECT_EQ(lf.lfWeight, FW_NORMAL);

    // Tab order is table order.
    EXPECT_EQ(GetNextDlgTabItem(h, form.Control(12), FALSE), form.Control(13));

    // Labels paint in their declared colour on the form's background.
    HDC dc = GetDC(form.Control(11));
    SendMessageW(h, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(form.Control(11)));
    EXPECT_EQ(GetTextColor(dc), RGB(192, 64, 0));
    EXPECT_EQ(GetBkColor(dc), RGB(128, 128, 0));
    ReleaseDC(form.Control(11), dc);
}

TEST(FormsTest, MenusCarryTheirCheckMarks) {
    TestForm form;
    ASSERT_TRUE(form.Create(kSpec));
    HMENU bar = GetMenu(form.hwnd());
    ASSERT_EQ(GetMenuItemCount(bar), 1);
    HMENU file = GetSubMenu(bar, 0);
    ASSERT_EQ(GetMenuItemCount(file), 2);
    EXPECT_FALSE(form.MenuChecked(201));
    EXPECT_TRUE(form.MenuChecked(202));
    form.SetMenuChecked(201, true);
    form.SetMenuChecked(202, false);
    EXPECT_TRUE(GetMenuState(file, 201, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_FALSE(form.MenuChecked(202));
    EXPECT_FALSE(form.MenuChecked(999));  // a missing entry is not "checked"
}

TEST(FormsTest, ClicksReachTheHandlers) {
    TestForm form;
    ASSERT_TRUE(form.Create(kSpec));
    SendMessageW(form.Control(12), BM_CLICK, 0, 0);
    SendMessageW(form.Control(13), BM_CLICK, 0, 0);
    SendMessageW(form.hwnd(), WM_COMMAND, 201, 0);  // a menu entry
    ASSERT_EQ(form.commands.size(), 3u);
    EXPECT_EQ(form.commands[0], std::make_pair(12, static_cast<int>(BN_CLICKED)));
    EXPECT_EQ(form.commands[1].first, 13);
    EXPECT_TRUE(form.Checked(13));
    EXPECT_EQ(form.commands[2], std::make_pair(201, 0));
}

TEST(FormsTest, PlacesAndCentresInTwips) {
    TestForm form;
    ASSERT_TRUE(form.Create(kSpec));
    form.CenterOnScreen();
    double expectLeft = (tovra::forms::ScreenWidthTwips() - form.WidthTwips()) / 2;
    double expectTop = (tovra::forms::ScreenHeightTwips() - form.HeightTwips()) / 2;
    EXPECT_NEAR(form.LeftTwips(), expectLeft, 15);
    EXPECT_NEAR(form.TopTwips(), expectTop, 15);
    form.PlaceTwips(12, 0, 0, -500, -10);  // negative sizes clamp to nothing, no failure
    RECT r{};
    GetWindowRect(form.Control(12), &r);
    EXPECT_EQ(r.right - r.left, 0);
}

TEST(FormsTest, DoEventsRunsPendingMessagesAndKeepsQuit) {
    TestForm form;
    ASSERT_TRUE(form.Create(kSpec));
    PostMessageW(form.hwnd(), WM_COMMAND, 201, 0);
    EXPECT_TRUE(tovra::forms::DoEvents());
    EXPECT_EQ(form.commands.size(), 1u);
    PostQuitMessage(3);
    EXPECT_FALSE(tovra::forms::DoEvents());
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // posted again
    EXPECT_EQ(msg.wParam, 3u);
}

// Catches this thread's debug output as OutputDebugString raises it (as a debugger would hear it).
class DebugOutput {
public:
    DebugOutput() : handler_(AddVectoredExceptionHandler(1, Hear)) { heard_ = &lines_; }
    ~DebugOutput() {
        if (handler_) RemoveVectoredExceptionHandler(handler_);
        heard_ = nullptr;
    }
    bool listening() const { return handler_ != nullptr; }
    bool Heard(const std::wstring& text) const {
        for (const std::wstring& line : lines_)
            if (line.find(text) != std::wstring::npos) return true;
        return false;
    }
    std::string All() const {
        std::string all;
        for (const std::wstring& line : lines_)
            for (wchar_t c : line) all += c < 128 ? static_cast<char>(c) : '?';
        return all;
    }

private:
    static LONG CALLBACK Hear(EXCEPTION_POINTERS* info) {
        const EXCEPTION_RECORD* r = info->ExceptionRecord;
        if (!heard_ || r->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
        if (r->ExceptionCode == 0x4001000A) {  // DBG_PRINTEXCEPTION_WIDE_C: length, wide text
            heard_->push_back(reinterpret_cast<const wchar_t*>(r->ExceptionInformation[1]));
        } else if (r->ExceptionCode == 0x40010006) {  // DBG_PRINTEXCEPTION_C: length, ANSI text
            const char* text = reinterpret_cast<const char*>(r->ExceptionInformation[1]);
            heard_->push_back(std::wstring(text, text + lstrlenA(text)));
        }
        return EXCEPTION_CONTINUE_SEARCH;
    }
    static inline std::vector<std::wstring>* heard_ = nullptr;
    std::vector<std::wstring> lines_;
    PVOID handler_;
};

class ThrowingForm : public Form {
public:
    int handled = 0;

protected:
    void OnCommand(int id, int) override {
        if (id == 1) throw std::runtime_error("the handler's own words");
        if (id == 2) throw 42;
        ++handled;
    }
};

TEST(FormsTest, AHandlerThatThrowsIsLoggedAndTheFormGoesOn) {
    const FormSpec layout{.name = L"frmThrowing", .caption = L"Throwing", .clientWidth = 1440, .clientHeight = 1440};
    struct Case {
        int id;
        const wchar_t* logged;
    } cases[] = {
        {1, L"Tovra: form frmThrowing: the handler of message 0x0111 threw: the handler's own words\n"},
        {2, L"Tovra: form frmThrowing: the handler of message 0x0111 threw: an exception of unknown type\n"},
    };
    ThrowingForm form;
    ASSERT_TRUE(form.Create(layout));
    for (const Case& c : cases) {
        DebugOutput output;
        ASSERT_TRUE(output.listening());
        SendMessageW(form.hwnd(), WM_COMMAND, MAKEWPARAM(c.id, BN_CLICKED), 0);  // never unwinds into Windows
        EXPECT_TRUE(output.Heard(c.logged)) << "heard: " << output.All();
        EXPECT_TRUE(form.created());
        SendMessageW(form.hwnd(), WM_COMMAND, MAKEWPARAM(3, BN_CLICKED), 0);
    }
    EXPECT_EQ(form.handled, 2) << "the form stopped handling its messages";
}

TEST(MessageBoxSeamTest, RecordsAndAnswersFromTheScript) {
    tovra::ScriptedMessageBoxes boxes({IDNO});
    EXPECT_EQ(tovra::ShowMessageBox(nullptr, L"Sure?", L"Title", MB_YESNO), IDNO);
    EXPECT_EQ(tovra::ShowMessageBox(nullptr, L"Next", L"T2", MB_YESNO | MB_ICONHAND), IDYES);
    EXPECT_EQ(tovra::ShowMessageBox(nullptr, L"Done", L"T3", MB_OK), IDOK);
    ASSERT_EQ(boxes.calls().size(), 3u);
    EXPECT_EQ(boxes.calls()[0].text, L"Sure?");
    EXPECT_EQ(boxes.calls()[1].icon(), static_cast<UINT>(MB_ICONHAND));
    EXPECT_EQ(boxes.calls()[2].buttons(), static_cast<UINT>(MB_OK));
}

}  // namespace
