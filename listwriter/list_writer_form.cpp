#include "listwriter/list_writer_form.h"

#include "listwriter/virus_list.h"
#include "shared/message_box.h"
#include "shared/suite.h"

namespace tovra {
namespace {

using forms::ControlSpec;
using forms::Kind;

const ControlSpec kControls[] = {
    {Kind::Button, ListWriterForm::cmdWrite, L"cmdWrite", L"Update Now", 120, 360, 1575, 375},
    {Kind::Button, ListWriterForm::cmdExit, L"cmdExit", L"Later", 2280, 360, 1455, 375},
};

const forms::FormSpec kForm{
    .name = L"frmMain",
    .caption = L"MainForm",
    .clientWidth = 3855,
    .clientHeight = 975,
    .style = WS_POPUP,  // no border, no title bar
    .back = RGB(255, 0, 0),
    .controls = kControls,
};

}  // namespace

const forms::FormSpec& ListWriterForm::Layout() { return kForm; }

ListWriterForm::ListWriterForm(std::wstring listPath) : listPath_(std::move(listPath)) {}

bool ListWriterForm::Load() {
    if (!Create(kForm)) return false;
    CenterOnScreen();
    Show();
    return true;
}

void ListWriterForm::cmdWrite_Click() {
    if (WriteVirusListFile(listPath_, VirusListFileImage(VirusNames()))) {
        ShowMessageBox(hwnd(), L"Completed", suite::kMakerName, MB_OK);
    } else {
        ShowMessageBox(hwnd(), L"The virus list could not be written to " + listPath_, suite::kMakerName, MB_OK);
    }
    End();
}

void ListWriterForm::cmdExit_Click() { End(); }

void ListWriterForm::OnCommand(int id, int notifyCode) {
    if (notifyCode != BN_CLICKED) return;
    if (id == cmdWrite) cmdWrite_Click();
    if (id == cmdExit) cmdExit_Click();
}

bool ListWriterForm::OnClose() {
    End();
    return true;
}

void ListWriterForm::End() {
    if (ended_) return;
    ended_ = true;
    PostQuitMessage(0);
}

}  // namespace tovra
