// frmMain: the main program's window. It shows the three services with their status and button,
// carries the menus, and owns the tray icon, the port watch, the washer and the About box.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "main/portwatch/port_watch.h"
#include "main/shell/about_form.h"
#include "main/shell/launcher.h"
#include "main/shell/tray.h"
#include "main/washer/washer.h"
#include "shared/forms.h"

namespace tovra::shell {

class MainForm : public forms::Form, public washer::WasherView {
public:
    static const forms::FormSpec& Layout();

    struct Seams {
        Launcher* launcher = nullptr;       // nullptr: the system's
        std::function<void()> endProgram;   // empty: end the process at once
        clsTray::NotifyFn trayNotify;       // empty: the shell's
        UINT trayRetryMs = 0;               // 0: kTrayRetryMs
        std::function<void(HWND)> createWatcher;  // empty: the pop-up blocker's watcher of the shell
        BrowserFactory browsers;            // empty: the system's browser control, for the About page
    };
    MainForm();
    explicit MainForm(Seams seams);
    ~MainForm() override;

    // Creates the window, runs Form_Load and shows it.
    bool Load();

    // Handlers, named after the control and the event.
    void cmdPBlocker_Click();
    void cmdFireWall_Click();
    void mnuEFire_Click();
    void mnuDFire_Click();
    void cmdWasher_Click();
    void mnuClean_Click();
    void mnuIEDefault_Click();
    void mnuIEProperties_Click();
    void mnuHide_Click();
    void lblHide_Click();
    void mnuExit_Click();
    void lblend_Click();
    void mnuScan_Click();
    void mnuUpdate_Click();
    void mnuAbout_Click();
    void Navigate(const std::wstring& NavTo);

    // WasherView.
    HWND Owner() const override { return hwnd(); }
    void SetWasherButtonEnabled(bool enabled) override;
    void SetWasherStatus(const std::wstring& text) override;
    void SetLabel1(const std::wstring& text) override;

    clsTray& Tray() { return tray_; }
    // The shell's registered "TaskbarCreated" message, as this window receives it.
    UINT TaskbarCreatedMessage() const { return taskbarCreated_; }
    portwatch::PortWatch* PortWatch() { return portWatch_.get(); }
    AboutForm* About() { return about_.get(); }
    // The firewall status label's tooltip: the ports that are not watched.
    std::wstring FireWallTip() const;

protected:
    void OnCommand(int id, int notifyCode) override;
    void OnTimer(UINT_PTR timerId) override;
    bool OnClose() override;
    void OnDestroyed() override;
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;

private:
    void Form_Load();
    void StartWatcher();
    void FireWallStart();
    void FireWallStop();
    void UpdateFireWallTip();
    void KeepTrayIcon();
    void EndProgram();

    Launcher& launcher_;
    std::function<void()> endProgram_;
    std::function<void(HWND)> createWatcher_;
    BrowserFactory browsers_;
    bool watcherStarted_ = false;
    clsTray tray_;
    UINT trayRetryMs_;
    UINT taskbarCreated_;
    std::unique_ptr<portwatch::PortWatch> portWatch_;
    washer::Washer washer_;
    std::unique_ptr<AboutForm> about_;
    HWND tip_ = nullptr;
    std::wstring tipText_;
    bool ended_ = false;
};

}  // namespace tovra::shell
