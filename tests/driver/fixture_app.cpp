// A window with one control of every kind the driver works, for the driver's own tests.
// Whatever the window receives is written into lblResult, where the test reads it back.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "shared/forms.h"

namespace {

using tovra::forms::ControlSpec;
using tovra::forms::Kind;
using tovra::forms::MenuSpec;

enum : int {
    cmdAsk = 110, cmdWarn, cmdStop, cmdInfo, cmdPlain,
    cmdDisabled = 120, cmdHidden,
    lblResult = 130, lblClick, lblArgs, lblDir, lblPlain,
    chkOption = 140, optA, optB,
    txtName = 150,
    lvwRows = 160,
    staBar = 170,
    mnuOpenBox = 1001, mnuExit, mnuChecked = 1101, mnuGreyed, mnuToggle, mnuFish,
};

struct Box {
    int button;
    const wchar_t* text;
    const wchar_t* title;
    UINT type;
};
const Box kBoxes[] = {
    {cmdAsk, L"Proceed?\nSecond line", L"Fixture Question", MB_YESNO | MB_ICONQUESTION},
    {cmdWarn, L"Careful", L"Fixture Warning", MB_OKCANCEL | MB_ICONEXCLAMATION},
    {cmdStop, L"Stopped", L"Fixture Stop", MB_ABORTRETRYIGNORE | MB_ICONHAND},
    {cmdInfo, L"For your information", L"Fixture Info", MB_OK | MB_ICONASTERISK},
    {cmdPlain, L"Completed", L"Fixture Plain", MB_OK},
};

const ControlSpec kControls[] = {
    {Kind::Button, cmdAsk, L"cmdAsk", L"Ask", 120, 120, 1200, 375},
    {Kind::Button, cmdWarn, L"cmdWarn", L"Warn", 1440, 120, 1200, 375},
    {Kind::Button, cmdStop, L"cmdStop", L"Stop", 2760, 120, 1200, 375},
    {Kind::Button, cmdInfo, L"cmdInfo", L"Info", 4080, 120, 1200, 375},
    {Kind::Button, cmdPlain, L"cmdPlain", L"Plain", 5400, 120, 1200, 375},
    {Kind::Button, cmdDisabled, L"cmdDisabled", L"Disabled", 120, 600, 1200, 375},
    {Kind::Button, cmdHidden, L"cmdHidden", L"Hidden", 1440, 600, 1200, 375, 0, {}, tovra::forms::kDefaultColor,
     tovra::forms::kDefaultColor, false},
    {Kind::Label, lblResult, L"lblResult", L"Nothing yet", 2760, 600, 3840, 255},
    {Kind::Label, lblClick, L"lblClick", L"Click me", 120, 1080, 1200, 255},
    {Kind::Label, lblArgs, L"lblArgs", L"", 1440, 1080, 2400, 255},
    {Kind::Label, lblDir, L"lblDir", L"", 3960, 1080, 3000, 255},
    // A label that does not notify: a click on it reaches nobody.
    {Kind::Label, lblPlain, L"lblPlain", L"Plain label", 120, 1440, 1200, 255, 0, {}, tovra::forms::kDefaultColor,
     tovra::forms::kDefaultColor, true, 0},
    {Kind::CheckBox, chkOption, L"chkOption", L"Option", 1440, 1440, 1200, 255},
    {Kind::OptionButton, optA, L"optA", L"Choice A", 2760, 1440, 1200, 255},
    {Kind::OptionButton, optB, L"optB", L"Choice B", 4080, 1440, 1200, 255},
    {Kind::TextBox, txtName, L"txtName", L"Initial text", 120, 1800, 2400, 315},
    {Kind::ListView, lvwRows, L"lvwRows", L"", 120, 2280, 6600, 1800},
    {Kind::StatusBar, staBar, L"staBar", L"", 0, 0, 0, 0},
};

const MenuSpec kMenu[] = {
    {0, L"mnuFile", L"&File", true},
    {mnuOpenBox, L"mnuOpenBox", L"&Open Box"},
    {mnuExit, L"mnuExit", L"E&xit\tAlt+F4"},
    {0, L"mnuOptions", L"&Options", true},
    {mnuChecked, L"mnuChecked", L"&Checked Entry", false, true},
    {mnuGreyed, L"mnuGreyed", L"&Greyed Entry"},
    {mnuToggle, L"mnuToggle", L"&Toggle"},
    {mnuFish, L"mnuFish", L"Fish && Chips"},
};

const tovra::forms::FormSpec kForm{
    .name = L"frmFixture",
    .caption = L"Driver Fixture",
    .clientWidth = 6840,
    .clientHeight = 4680,
    .controls = kControls,
    .menu = kMenu,
};

// The command line without the program's own (possibly quoted) path.
std::wstring CommandTail() {
    const wchar_t* p = GetCommandLineW();
    if (*p == L'"') {
        for (++p; *p && *p != L'"'; ++p) {}
        if (*p) ++p;
    } else {
        while (*p && *p != L' ') ++p;
    }
    while (*p == L' ') ++p;
    return p;
}

class FixtureForm : public tovra::forms::Form {
protected:
    void OnCreate() override {
        SetEnabled(cmdDisabled, false);
        SetChecked(optA, true);
        SetText(lblArgs, L"Args: " + CommandTail());
        wchar_t dir[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, dir);
        SetText(lblDir, dir);
        EnableMenuItem(Menu(), mnuGreyed, MF_BYCOMMAND | MF_GRAYED);
        SetWindowLongW(Control(lblPlain), GWL_STYLE, GetWindowLongW(Control(lblPlain), GWL_STYLE) & ~SS_NOTIFY);

        HWND list = Control(lvwRows);
        const wchar_t* columns[] = {L"Name", L"Folder", L"Size"};
        for (int i = 0; i < 3; ++i) {
            LVCOLUMNW col{LVCF_TEXT | LVCF_WIDTH};
            col.pszText = const_cast<wchar_t*>(columns[i]);
            col.cx = 120;
            ListView_InsertColumn(list, i, &col);
        }
        const wchar_t* rows[][3] = {
            {L"alpha.exe", L"C:\\one", L"10"},
            {L"Gr\u00f6\u00dfe.txt", L"", L"2048"},
            {L"third", L"D:\\x y", L"0"},
        };
        for (int r = 0; r < 3; ++r) {
            LVITEMW item{LVIF_TEXT};
            item.iItem = r;
            item.pszText = const_cast<wchar_t*>(rows[r][0]);
            ListView_InsertItem(list, &item);
            for (int c = 1; c < 3; ++c) ListView_SetItemText(list, r, c, const_cast<wchar_t*>(rows[r][c]));
        }

        HWND bar = Control(staBar);
        int edges[] = {200, -1};
        SendMessageW(bar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(edges));
        SendMessageW(bar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L"Ready"));
        SendMessageW(bar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(L"3 rows"));
    }

    void OnCommand(int id, int notifyCode) override {
        for (const Box& box : kBoxes) {
            if (id == box.button && notifyCode == BN_CLICKED) {
                int answer = MessageBoxW(hwnd(), box.text, box.title, box.type);
                SetText(lblResult, std::wstring(box.title) + L" " + std::to_wstring(answer));
                return;
            }
        }
        switch (id) {
        case cmdDisabled: SetText(lblResult, L"Disabled clicked"); break;
        case cmdHidden: SetText(lblResult, L"Hidden clicked"); break;
        case lblClick:
            if (notifyCode == STN_CLICKED) SetText(lblResult, L"Label clicked " + std::to_wstring(++labelClicks_));
            break;
        case lblPlain: SetText(lblResult, L"Plain label clicked"); break;
        case mnuOpenBox:
            SetText(lblResult, L"Menu box " + std::to_wstring(MessageBoxW(hwnd(), L"Opened from the menu",
                                                                         L"Fixture Menu", MB_OK)));
            break;
        case mnuExit:
            PostQuitMessage(7);
            break;
        case mnuGreyed: SetText(lblResult, L"Greyed chosen"); break;
        case mnuToggle:
            SetMenuChecked(mnuChecked, !MenuChecked(mnuChecked));
            SetText(lblResult, L"Toggled");
            break;
        case mnuFish: SetText(lblResult, L"Fish chosen"); break;
        default: break;
        }
    }

    bool OnClose() override {
        PostQuitMessage(0);
        return true;
    }

private:
    int labelClicks_ = 0;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    tovra::forms::InitCommonControls();
    FixtureForm form;
    if (!form.Create(kForm)) return 1;
    form.Show();
    return tovra::forms::RunMessageLoop();
}
