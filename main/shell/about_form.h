// frmAbout: the program's title, version and product page, and a way to System Information.
#pragma once
#include <memory>
#include <optional>
#include <string>

#include "main/shell/launcher.h"
#include "shared/forms.h"

namespace tovra {
class HtmlView;
}

namespace tovra::shell {

constexpr const wchar_t* kAppTitle = L"Tovra";
constexpr const wchar_t* kSupportAddress = L"support@quorelsoft.com";

struct ProgramVersion {
    unsigned major = 0, minor = 0, revision = 0;
};
// The version in a program's VERSIONINFO resource (its first three numbers), if it has one.
std::optional<ProgramVersion> ReadProgramVersion(const std::wstring& exePath);
// This program's version; the build's own numbers where the resource cannot be read.
ProgramVersion OwnVersion();
std::wstring VersionLabel(const ProgramVersion& v);  // "Version 1.0.0"

// The page the About box shows, one line of HTML.
std::wstring AboutPage();

class AboutForm : public forms::Form {
public:
    static const forms::FormSpec& Layout();

    explicit AboutForm(Launcher& launcher);
    ~AboutForm() override;

    // Form_Load: creates the window, fills it, places it and shows it (no owner). The page's load
    // lets window events run; a box closed meanwhile is not shown, and one closed and opened again
    // meanwhile is shown by the load that opened it again.
    bool Load();
    // A Load is waiting for the page: the form must not be released from within it.
    bool Loading() const { return loading_ > 0; }
    void cmdOK_Click();
    void cmdSysInfo_Click();

    // What the page area shows: the browser, or the page's text where there is no browser.
    bool PageInBrowser() const;
    std::wstring PageText() const;

protected:
    void OnCommand(int id, int notifyCode) override;

private:
    Launcher& launcher_;
    std::shared_ptr<HtmlView> page_;
    int loading_ = 0;      // Loads under way, nested ones included
    unsigned windows_ = 0;  // counts the windows created, so a load knows its own
};

}  // namespace tovra::shell
