// Installation and uninstallation: registry values, folders and files, with their messages.
// Every step is tried whatever became of the ones before; nothing is rolled back.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "setup/firewall_exception.h"

namespace tovra::setup {

// Asks Windows for its version with the record size the installer has always used (148).
using VersionQuery = std::function<BOOL(OSVERSIONINFOA*)>;
BOOL QueryWindowsVersion(OSVERSIONINFOA* info);

// The folder of the running installer: the distribution medium it copies from.
std::wstring InstallerFolder();

// The message texts and titles.
inline constexpr wchar_t kVersionErrorText[] = L"Error Getting Version Information Software might not work..";
inline constexpr wchar_t kUnsupportedText[] =
    L"This version is not supported in this Operating System, it might not work";
inline constexpr wchar_t kErrorTitle[] = L"error";
inline constexpr wchar_t kInstalledText[] = L"Installation Completed";
inline constexpr wchar_t kInstalledTitle[] = L"Finished";
inline constexpr wchar_t kIncompleteText[] = L"Installation incomplete. These files could not be copied:";
// The firewall's refusal, after the files (or after the first sentence alone when none is missing).
inline constexpr wchar_t kIncompleteLeadText[] = L"Installation incomplete.";
inline constexpr wchar_t kFirewallRefusedText[] =
    L"Windows Firewall did not let tovra.exe accept connections from other computers:";
inline constexpr wchar_t kConfirmText[] = L"To Uninstall This Software you need Administrative power, Continue...";
inline constexpr wchar_t kConfirmTitle[] = L"Warning: ";
inline constexpr wchar_t kUninstalledText[] = L"Uninstallation completed";
inline constexpr wchar_t kUninstalledTitle[] = L"Completed";

class Installer {
public:
    // Without a firewall given, the system's Windows Firewall.
    explicit Installer(std::wstring mediumFolder, VersionQuery version = QueryWindowsVersion,
                       FirewallExceptions* firewall = nullptr);

    // Writes the registry values, asks for the Windows family, makes its folders, copies the
    // files and the Winsock control if it is missing, then lets the installed tovra.exe through
    // the firewall. Returns the source names of the program files (copies 1 to 6) that could not
    // be copied, in table order; the firewall's answer is FirewallResult().
    std::vector<std::wstring> Install(HWND owner);
    // "Installation Completed", or the names of the program files that are missing and the
    // firewall's refusal.
    void ReportInstall(HWND owner, const std::vector<std::wstring>& notCopied);

    // The Yes/No warning; true only for Yes.
    bool ConfirmUninstall(HWND owner);
    // Takes the firewall exception back, empties the registry values, deletes the files, removes
    // the empty folders. Files in use (the running installer) and a program folder left holding
    // only them go at the next restart. The firewall's answer is kept but not reported: the
    // uninstallation's failures stay silent.
    void Uninstall(HWND owner);
    void ReportUninstall(HWND owner);

    // What the last uninstallation left for the next restart, in the order it was scheduled.
    const std::vector<std::wstring>& ScheduledForRestart() const { return scheduled_; }
    // What the firewall answered the last installation or uninstallation.
    const FirewallChange& FirewallResult() const { return firewallResult_; }

private:
    DWORD AskPlatform(HWND owner);  // with its messages; 0 when the question fails

    std::wstring medium_;
    VersionQuery version_;
    std::vector<std::wstring> scheduled_;
    std::unique_ptr<FirewallExceptions> systemFirewall_;  // only when none was given
    FirewallExceptions* firewall_;
    FirewallChange firewallResult_;
};

}  // namespace tovra::setup
