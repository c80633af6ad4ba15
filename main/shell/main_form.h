// The main program's window. It shows the three services with their status and button, carries
// the menus, and owns the tray icon, the pop-up blocker with its browser watcher, the port watch,
// the washer and the About box.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "main/popup/popup_blocker.h"
#include "main/portwatch/port_watch.h"
#include "main/shell/about_form.h"
#include "main/shell/launcher.h"
#include "main/shell/tray_icon.h"
#include "main/washer/washer.h"
#include "shared/forms.h"

namespace tovra::shell {

class MainForm : public forms::Form, public washer::WasherView {
public:
    static const forms::FormSpec& Layout();

    struct Seams {
        Launcher* launcher = nullptr;       // nullptr: the system's
        std::function<void()> endProgram;   // empty: end the process at once
        TrayIcon::NotifyFn trayNotify;      // empty: the shell's
        UINT trayRetryMs = 0;               // 0: kTrayRetryMs
        // Runs in place of the blocker's watching the shell's browser windows; empty: it watches.
        std::function<void(HWND)> createWatcher;
        // The window list the blocker's watcher reads, and the keyboard and cursor its sinks
        // read; empty: the shell's, the system's.
        popup::ShellWindowsFactory shellWindows;
        std::shared_ptr<popup::InputState> input;
        BrowserFactory browsers;            // empty: the system's browser control, for the About page
    };
    MainForm();
    explicit MainForm(Seams seams);
    ~MainForm() override;

    // Creates the window, runs the load's steps and shows it.
    bool Load();

    // Handlers, named after what the user did.
    void OnBlockerButton();
    void OnFirewallButton();
    void OnEnableFirewallMenu();
    void OnDisableFirewallMenu();
    void OnWasherButton();
    void OnCleanMenu();
    void OnBrowserDefaultsMenu();
    void OnInternetOptionsMenu();
    void OnHideMenu();
    void OnHideLabel();
    void OnExitMenu();
    void OnExitLabel();
    void OnScanMenu();
    void OnUpdateVirusListMenu();
    void OnAboutMenu();
    // Hands a web address or document to the shell to open where the user sees it.
    void Navigate(const std::wstring& target);

    // WasherView.
    HWND Owner() const override { return hwnd(); }
    void SetWasherButtonEnabled(bool enabled) override;
    void SetWasherStatus(const std::wstring& text) override;
    void SetLabel1(const std::wstring& text) override;

    TrayIcon& Tray() { return tray_; }
    // The shell's registered "TaskbarCreated" message, as this window receives it.
    UINT TaskbarCreatedMessage() const { return taskbarCreated_; }
    popup::PopupBlocker& Blocker() { return blocker_; }
    portwatch::PortWatch* PortWatch() { return portWatch_.get(); }
    // Whether the firewall runs: the port watch's state (stopped while there is none).
    bool FirewallRunning() const { return portWatch_ && portWatch_->Running(); }
    AboutForm* About() { return about_.get(); }
    // The firewall status label's tooltip: the ports that are not watched.
    std::wstring FirewallTip() const;

protected:
    void OnCommand(int id, int notifyCode) override;
    void OnTimer(UINT_PTR timerId) override;
    bool OnClose() override;
    void OnDestroyed() override;
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;

private:
    void RunLoadSteps();
    void StartWatchingBrowsers();
    void StartFirewall();
    void StopFirewall();
    // Draw the captions, check marks and tooltip from the services' models.
    void ShowBlockerState();
    void ShowFirewallState();
    void UpdateFirewallTip();
    void KeepTrayIcon();
    void EndProgram();

    Launcher& launcher_;
    std::function<void()> endProgram_;
    std::function<void(HWND)> createWatcher_;
    BrowserFactory browsers_;
    bool watcherStarted_ = false;
    TrayIcon tray_;
    UINT trayRetryMs_;
    UINT taskbarCreated_;
    popup::PopupBlocker blocker_;
    std::unique_ptr<portwatch::PortWatch> portWatch_;
    washer::Washer washer_;
    std::unique_ptr<AboutForm> about_;
    HWND tip_ = nullptr;
    std::wstring tipText_;
    bool ended_ = false;
};

}  // namespace tovra::shell
