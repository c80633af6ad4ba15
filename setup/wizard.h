// The installer's four windows: the selection window, the licence window and the install and
// uninstall pages, and the way between them.
#pragma once
#include <functional>
#include <memory>
#include <utility>

#include "setup/installer.h"
#include "shared/forms.h"
#include "shared/html_view.h"

namespace tovra::setup {

class SetupWizard;

// frmMain: install or uninstall.
class SelectionForm : public forms::Form {
public:
    enum : int { frmSelection = 101, optInstall, optUninstall, cmdStart, cmdEndS, lblagreement };
    static const forms::FormSpec& Layout();
    explicit SelectionForm(SetupWizard& wizard) : wizard_(wizard) {}

    void Form_Load();
    void cmdStart_Click();
    void cmdEndS_Click();
    void lblagreement_Click();

protected:
    void OnCommand(int id, int notifyCode) override;
    bool OnClose() override;
    bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) override;

private:
    SetupWizard& wizard_;
};

// frmAgree: the licence in the embedded browser (or its text).
class AgreeForm : public forms::Form {
public:
    enum : int { brwWebBrowser = 201, cmdExitA };
    static const forms::FormSpec& Layout();
    // browsers: where the licence's browser control comes from; empty: the system's.
    explicit AgreeForm(BrowserFactory browsers = {}) : view_(std::move(browsers)) {}

    // Puts the licence into the view: into the browser's document once it has loaded (or its
    // text where none loads); returns at once. False when there is no view for it.
    bool Form_Load();
    void cmdExitA_Click();
    const HtmlView& browser() const { return view_; }

protected:
    void OnCommand(int id, int notifyCode) override;
    bool OnClose() override;

private:
    HtmlView view_;
};

// frmOne: "I agree" / "I disagree", then Next installs.
class InstallPage : public forms::Form {
public:
    enum : int { cmdNext = 301, cmdExit, optAgree, optDisagree };
    static const forms::FormSpec& Layout();
    explicit InstallPage(SetupWizard& wizard) : wizard_(wizard) {}

    void Form_Load();
    void optAgree_Click();
    void optDisagree_Click();
    void cmdNext_Click();
    void cmdExit_Click();

protected:
    void OnCommand(int id, int notifyCode) override;
    bool OnClose() override;

private:
    SetupWizard& wizard_;
};

// frmTwo: Next uninstalls.
class UninstallPage : public forms::Form {
public:
    enum : int { cmdNext = 301, cmdExit };
    static const forms::FormSpec& Layout();
    explicit UninstallPage(SetupWizard& wizard) : wizard_(wizard) {}

    void Form_Load();
    void cmdNext_Click();
    void cmdExit_Click();

protected:
    void OnCommand(int id, int notifyCode) override;
    bool OnClose() override;

private:
    SetupWizard& wizard_;
};

class SetupWizard {
public:
    // onEnd runs once when the installer ends; the program posts its quit message there.
    // browsers: where the licence window's browser control comes from; empty: the system's.
    SetupWizard(Installer& installer, std::function<void()> onEnd, BrowserFactory browsers = {});
    ~SetupWizard();
    SetupWizard(const SetupWizard&) = delete;
    SetupWizard& operator=(const SetupWizard&) = delete;

    // Opens the selection window with Install chosen.
    bool Start();

    SelectionForm& selection() { return selection_; }
    AgreeForm& agree() { return agree_; }
    InstallPage& installPage() { return installPage_; }
    UninstallPage& uninstallPage() { return uninstallPage_; }
    Installer& installer() { return installer_; }

    void ShowLicence();     // loads the licence window the first time, then shows it
    void ShowInstallPage();
    void ShowUninstallPage();
    // Ends the installer at once: every window goes, the licence window too.
    void End();
    bool ended() const { return ended_; }

private:
    Installer& installer_;
    std::function<void()> onEnd_;
    SelectionForm selection_;
    AgreeForm agree_;
    InstallPage installPage_;
    UninstallPage uninstallPage_;
    bool ended_ = false;
};

}  // namespace tovra::setup
