// Installation and uninstallation: registry values, folders and files, with their messages.
// Every step is tried whatever became of the ones before; nothing is rolled back.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include <memory>

#include "setup/firewall_exception.h"
#include "setup/install_layout.h"
#include "shared/registry.h"

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
inline constexpr wchar_t kIncompleteText[] = L"Installation incomplete.";
inline constexpr wchar_t kUninstallIncompleteText[] = L"Uninstallation incomplete.";
// A firewall that refused the exception, named with what it said.
inline constexpr wchar_t kFirewallRefusedText[] =
    L"Windows Firewall did not let tovra.exe accept connections from other computers: ";
inline constexpr wchar_t kFirewallKeptText[] =
    L"Windows Firewall kept the exception that let tovra.exe accept connections: ";
inline constexpr wchar_t kConfirmText[] = L"To Uninstall This Software you need Administrative power, Continue...";
inline constexpr wchar_t kConfirmTitle[] = L"Warning: ";
inline constexpr wchar_t kUninstalledText[] = L"Uninstallation completed";
inline constexpr wchar_t kUninstalledTitle[] = L"Completed";

// What an installation or uninstallation could not do, each list in table order.
struct Outcome {
    std::vector<std::wstring> files;   // installing: source names not copied; uninstalling: paths not deleted
    std::vector<std::wstring> values;  // "HKEY_LOCAL_MACHINE\key\name" not written (or not emptied)
    std::vector<std::wstring> other;   // any other step, by its name
    bool empty() const { return files.empty() && values.empty() && other.empty(); }
};

class Installer {
public:
    // `folders`: the NT family's system folders, the system's own unless a test gives others;
    // without a firewall given, the system's Windows Firewall.
    explicit Installer(std::wstring mediumFolder, VersionQuery version = QueryWindowsVersion,
                       const suite::SystemFolders& folders = suite::Folders(),
                       Registry& registry = SystemRegistry(), FirewallExceptions* firewall = nullptr);

    // Writes the registry values, asks for the Windows family, makes its folders, copies the
    // files and the Winsock control if it is missing, then lets the installed tovra.exe through
    // the firewall (where there is one). Returns what failed: the program files
    // (copies 1 to 6) and the family's shortcuts that could not be copied, and the registry
    // values that could not be written. A file the medium lacks and the other family's folders
    // are no failure of a shortcut copy.
    Outcome Install(HWND owner);
    // "Installation Completed" only when nothing failed; otherwise a message that names it all.
    void ReportInstall(HWND owner, const Outcome& outcome);

    // The Yes/No warning; true only for Yes.
    bool ConfirmUninstall(HWND owner);
    // Takes the firewall exception back (while tovra.exe is still there), empties the registry
    // values, deletes the files, removes the empty folders. Files in use
    // (the running installer) and a program folder left holding only them go at the next restart.
    // Returns the values that could not be emptied and the files that are there still, neither
    // missing nor waiting for the restart.
    Outcome Uninstall(HWND owner);
    // "Uninstallation completed" only when the last uninstallation left nothing undone.
    void ReportUninstall(HWND owner);

    const InstallLayout& layout() const { return layout_; }
    // What the firewall answered the last installation or uninstallation.
    const FirewallChange& FirewallResult() const { return firewallResult_; }

    // What the last uninstallation left for the next restart, in the order it was scheduled.
    const std::vector<std::wstring>& ScheduledForRestart() const { return scheduled_; }

private:
    DWORD AskPlatform(HWND owner);  // with its messages; 0 when the question fails

    std::wstring medium_;
    VersionQuery version_;
    InstallLayout layout_;
    Registry& registry_;
    std::unique_ptr<FirewallExceptions> systemFirewall_;  // only when none was given
    FirewallExceptions* firewall_;
    FirewallChange firewallResult_;
    std::vector<std::wstring> scheduled_;
    Outcome uninstalled_;
};

}  // namespace tovra::setup
