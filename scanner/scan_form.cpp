#include "scanner/scan_form.h"

#include <commctrl.h>

#include "scanner/list_file.h"
#include "shared/message_box.h"

namespace tovra::scanner {
namespace {

using forms::ControlSpec;
using forms::Kind;

// In tab order.
const ControlSpec kControls[] = {
    {Kind::TextBox, ScanForm::txtNamed, L"txtNamed", L"", 360, 0, 1320, 285, 0, {}, forms::kDefaultColor,
     forms::kDefaultColor, false},
    {Kind::TextBox, ScanForm::txtLookIn, L"txtLookIn", L"", 3000, 0, 2760, 285, 0, {}, forms::kDefaultColor,
     forms::kDefaultColor, false},
    {Kind::Button, ScanForm::cmdFind, L"cmdFind", L"&Scan Now", 840, 1080, 1305, 375},
    {Kind::Button, ScanForm::cmdExit, L"cmdExit", L"E&xit", 2520, 1080, 1305, 375},
    {Kind::ListView, ScanForm::LstResults, L"LstResults", L"", 0, 1680, 0, 0},
    {Kind::StatusBar, ScanForm::StatusBar, L"StatusBar", L"", 0, 0, 0, 375},
    {Kind::Frame, ScanForm::frmDrive, L"frmDrive", L"Select Drive Letter To Scan (Default C)", 240, 360, 4215, 615},
    {Kind::CheckBox, ScanForm::optA, L"optA", L"A", 360, 600, 615, 255},
    {Kind::CheckBox, ScanForm::optB, L"optB", L"B", 1080, 600, 615, 255},
    {Kind::CheckBox, ScanForm::optC, L"optC", L"C", 1800, 600, 615, 255},
    {Kind::CheckBox, ScanForm::optD, L"optD", L"D", 2400, 600, 615, 255},
    {Kind::CheckBox, ScanForm::optE, L"optE", L"E", 3120, 600, 615, 255},
    {Kind::CheckBox, ScanForm::optF, L"optF", L"F", 3720, 600, 615, 255},
};

const forms::FormSpec kForm{
    .name = L"frmSearch",
    .caption = ScanForm::kCaption,
    .clientWidth = 4575,
    .clientHeight = 2175,
    .style = WS_OVERLAPPEDWINDOW,
    .controls = kControls,
};

struct Column {
    const wchar_t* caption;
    double widthTwips;
    int format;
};
const Column kColumns[] = {
    {L"Name", 2 * 1440, LVCFMT_LEFT},
    {L"In Folder", 2 * 1440, LVCFMT_LEFT},
    {L"Size", 1440, LVCFMT_RIGHT},
    {L"Modified", 1440, LVCFMT_LEFT},
};

// The engine's view of the window: the results list, the status bar and the message pump.
class WindowSearchView : public SearchView {
public:
    WindowSearchView(HWND list, HWND status, std::function<void()> onQuit)
        : list_(list), status_(status), onQuit_(std::move(onQuit)) {}

    void AddRow(const std::wstring& name, const std::wstring& folder, const std::wstring& size,
                const std::wstring& modified) override {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = RowCount();
        item.pszText = const_cast<wchar_t*>(name.c_str());
        int row = static_cast<int>(SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (row < 0) return;
        const std::wstring* cells[] = {&folder, &size, &modified};
        for (int sub = 1; sub <= 3; ++sub) {
            LVITEMW cell{};
            cell.iSubItem = sub;
            cell.pszText = const_cast<wchar_t*>(cells[sub - 1]->c_str());
            SendMessageW(list_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
        }
    }
    int RowCount() const override { return static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0)); }
    void SetStatus(const std::wstring& text) override {
        SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    bool DoEvents() override {
        if (forms::DoEvents()) return true;
        onQuit_();
        return false;
    }

private:
    HWND list_, status_;
    std::function<void()> onQuit_;
};

}  // namespace

const forms::FormSpec& ScanForm::Layout() { return kForm; }

ScanForm::ScanForm(std::wstring listPath) : listPath_(std::move(listPath)) {}

bool ScanForm::Load() {
    if (!Create(kForm)) return false;
    HWND list = Control(LstResults);
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
        col.fmt = kColumns[i].format;
        col.cx = forms::TwipsToPixelsX(kColumns[i].widthTwips);
        col.pszText = const_cast<wchar_t*>(kColumns[i].caption);
        col.iSubItem = i;
        SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&col));
    }
    SetChecked(optC, true);
    Form_Resize();
    Show();
    return true;
}

void ScanForm::cmdFind_Click() {
    if (scanning_) return;
    std::optional<std::vector<std::wstring>> names = ReadListFile(listPath_);
    if (!names) {
        ShowMessageBox(hwnd(), L"The virus list " + listPath_ + L" could not be read. Nothing was scanned.",
                       kCaption, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    scanning_ = true;
    stopRequested_ = false;
    {
        ScanScope scope(engine_);
        WindowSearchView view(Control(LstResults), Control(StatusBar), [this] {
            stopRequested_ = true;  // the program is ending
        });
        for (int drive = 0; drive < 6 && !stopRequested_; ++drive) {
            if (!Checked(optA + drive)) continue;
            const std::wstring root{static_cast<wchar_t>(L'A' + drive), L':', L'\\'};
            SetText(txtLookIn, root);
            for (const std::wstring& name : *names) {
                if (stopRequested_) break;
                SetEnabled(cmdFind, false);
                SetText(txtNamed, name);
                if (root[0] == L'F') ListView_DeleteAllItems(Control(LstResults));
                // An entry with a wildcard is refused: it would delete files it does not name. The
                // others are searched as exactly the names they spell, also those without an extension.
                if (!name.empty() && !HasWildcard(name)) {
                    if (onSearch) onSearch(name, root);
                    view.SetStatus(engine_.SearchFiles(name, root, view, NameRule::ExactName));
                }
                SetEnabled(cmdFind, true);
            }
        }
    }
    scanning_ = false;
    if (closeRequested_) End();
}

void ScanForm::cmdExit_Click() {
    if (scanning_) {
        // Inside the scan's events: stop at once, close once the scan has unwound.
        stopRequested_ = true;
        closeRequested_ = true;
        engine_.Stop();
        return;
    }
    End();
}

void ScanForm::Form_Resize() {
    if (!hwnd() || IsIconic(hwnd())) return;  // a minimised window keeps its layout
    HWND status = Control(StatusBar);
    if (!status) return;
    RECT bar{};
    GetWindowRect(status, &bar);
    double width = WidthTwips(), height = HeightTwips();
    double barHeight = forms::PixelsToTwipsY(bar.bottom - bar.top);
    PlaceTwips(LstResults, 0, 1680, width - 200, height - barHeight - 1680 - 300);
    int parts[1] = {forms::TwipsToPixelsX(width)};
    SendMessageW(status, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));
}

void ScanForm::OnCommand(int id, int notifyCode) {
    if (notifyCode != BN_CLICKED) return;
    if (id == cmdFind) cmdFind_Click();
    if (id == cmdExit) cmdExit_Click();
}

void ScanForm::OnResize() { Form_Resize(); }

bool ScanForm::OnClose() {
    cmdExit_Click();
    return false;  // End() has destroyed the window, or will once the scan has stopped
}

void ScanForm::End() {
    if (ended_) return;
    ended_ = true;
    Destroy();
    PostQuitMessage(0);
}

}  // namespace tovra::scanner
