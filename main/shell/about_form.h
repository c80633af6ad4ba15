// frmAbout: the program's title, version and product page, and a way to System Information.
#pragma once
#include <memory>
#include <optional>
#include <string>

#include "main/shell/launcher.h"
#include "shared/forms.h"
#include "shared/html_view_browser.h"

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

    // browsers: where the page's browser control comes from; empty: the system's.
    explicit AboutForm(Launcher& launcher, BrowserFactory browsers = {});
    ~AboutForm() override;

    // Form_Load: creates the window, fills it, places it and shows it (no owner), all at once;
    // the page fills in when the browser's document has loaded (or its text, where none loads).
    bool Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();

    // What the page area shows: the browser, or the page's text where there is no browser.
    bool PageInBrowser() const;
    std::wstring PageText() const;
    bool PageLoading() const;  // the page still waits for the browser's document

protected:
    void OnCommand(int id, int notifyCode) override;

private:
    Launcher& launcher_;
    BrowserFactory browsers_;
    std::unique_ptr<HtmlView> page_;
};

}  // namespace tovra::shell
