#include "setup/installer.h"

#include <cstring>

#include "setup/install_layout.h"
#include "shared/file_system.h"
#include "shared/message_box.h"
#include "shared/registry.h"
#include "shared/win_handles.h"

namespace tovra::setup {
namespace {

// Failures of these steps are part of the design (the other family's folders do not exist,
// a folder is already there or still holds a file): the names say that they may fail.
bool TryCopyFile(const std::wstring& from, const std::wstring& to);

// Both names lead to one file (the installer started from the installed folder copies its
// files onto themselves).
bool SameFile(const std::wstring& a, const std::wstring& b) {
    auto identity = [](const std::wstring& path, BY_HANDLE_FILE_INFORMATION* info) {
        UniqueHandle h(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        return h && GetFileInformationByHandle(h.get(), info);
    };
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (!identity(a, &ia) || !identity(b, &ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

bool TryCopyFile(const std::wstring& from, const std::wstring& to) {
    // A file copied onto itself is already where it belongs; copying would at best fail and
    // at worst truncate it.
    if (SameFile(from, to)) return true;
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}
void TryCreateFolder(const wchar_t* path) { CreateDirectoryW(path, nullptr); }
bool TryRemoveFolder(const std::wstring& path) { return RemoveDirectoryW(path.c_str()) != FALSE; }

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring WithoutTrailingSlash(std::wstring path) {
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

std::wstring ParentOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// A file that is there and could be deleted but for another program holding it open or
// running from it. A read-only file or a folder is not "in use" and is left alone.
bool InUse(const std::wstring& path, DWORD error) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
    if (error != ERROR_ACCESS_DENIED) return false;
    DWORD attrs = GetFileAttributesW(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

// The installed main program and the name its firewall exception goes by.
std::wstring InstalledMainProgram() { return fs::JoinPath(kProgramFolder, suite::kMainProgramName); }
std::wstring FirewallExceptionName() { return std::wstring(kProductName, kProductName + strlen(kProductName)); }

bool ScheduleRemovalAtRestart(const std::wstring& path) {
    return MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

// True when everything left in the folder is among the scheduled files (so the folder will be
// empty once they are gone).
bool HoldsOnly(const std::wstring& folder, const std::vector<std::wstring>& scheduled) {
    WIN32_FIND_DATAW fd;
    UniqueFind find(FindFirstFileW(fs::JoinPath(folder, L"*").c_str(), &fd));
    if (!find) return false;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring full = fs::JoinPath(folder, name);
        bool listed = false;
        for (const std::wstring& s : scheduled) listed = listed || fs::SamePath(s, full);
        if (!listed) return false;
    } while (FindNextFileW(find.get(), &fd));
    return true;
}

}  // namespace

BOOL QueryWindowsVersion(OSVERSIONINFOA* info) {
    info->dwOSVersionInfoSize = 148;
    return GetVersionExA(info);
}

std::wstring InstallerFolder() {
    std::wstring path = fs::OwnPath();
    return path.empty() ? L"." : ParentOf(path);
}

Installer::Installer(std::wstring mediumFolder, VersionQuery version, FirewallExceptions* firewall)
    : medium_(WithoutTrailingSlash(std::move(mediumFolder))),
      version_(std::move(version)),
      systemFirewall_(firewall ? nullptr : std::make_unique<WindowsFirewall>()),
      firewall_(firewall ? firewall : systemFirewall_.get()) {}

DWORD Installer::AskPlatform(HWND owner) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = 148;
    if (!version_ || !version_(&info)) {
        ShowMessageBox(owner, kVersionErrorText, kErrorTitle, MB_OK);
        return VER_PLATFORM_WIN32s;
    }
    DWORD id = info.dwPlatformId;
    if (id != VER_PLATFORM_WIN32s && id != VER_PLATFORM_WIN32_WINDOWS && id != VER_PLATFORM_WIN32_NT) {
        ShowMessageBox(owner, kUnsupportedText, kErrorTitle, MB_OK);
    }
    return id;
}

std::vector<std::wstring> Installer::Install(HWND owner) {
    for (const RegistryValue& v : InstallValues()) {
        if (v.root == HKEY_CURRENT_USER) {
            SaveSettingCurrent(v.key, v.name, v.data);
        } else {
            SaveSetting(v.key, v.name, v.data);
        }
    }

    Folders folders = FoldersFor(AskPlatform(owner));
    TryCreateFolder(folders.program);
    TryCreateFolder(folders.startMenu);

    std::vector<std::wstring> notCopied;
    size_t index = 0;
    for (const FileCopy& copy : InstallCopies()) {
        bool copied = TryCopyFile(fs::JoinPath(medium_, copy.source), copy.destination);
        // Shortcut copies into the other family's folders fail by design; only the programs count.
        if (!copied && index < kProgramFileCount) notCopied.emplace_back(copy.source);
        ++index;
    }

    if (!Exists(kOcxDestination)) TryCopyFile(fs::JoinPath(medium_, kOcxSource), kOcxDestination);

    // After the copies, so the firewall is told about a program that is there.
    firewallResult_ = firewall_->Allow(InstalledMainProgram(), FirewallExceptionName());
    return notCopied;
}

void Installer::ReportInstall(HWND owner, const std::vector<std::wstring>& notCopied) {
    if (notCopied.empty() && !firewallResult_.refused()) {
        ShowMessageBox(owner, kInstalledText, kInstalledTitle, MB_OK);
        return;
    }
    std::wstring text = notCopied.empty() ? kIncompleteLeadText : kIncompleteText;
    for (const std::wstring& name : notCopied) text += L"\n" + name;
    if (firewallResult_.refused()) {
        text += L"\n" + std::wstring(kFirewallRefusedText) + L"\n" + firewallResult_.Describe();
    }
    ShowMessageBox(owner, text, kErrorTitle, MB_OK);
}

bool Installer::ConfirmUninstall(HWND owner) {
    return ShowMessageBox(owner, kConfirmText, kConfirmTitle, MB_YESNO) == IDYES;
}

void Installer::Uninstall(HWND owner) {
    scheduled_.clear();
    // While tovra.exe is still there: the firewall may want to find the program it is told of.
    firewallResult_ = firewall_->Remove(InstalledMainProgram(), FirewallExceptionName());
    for (const RegistryValue& v : UninstallValues()) SaveSetting(v.key, v.name, v.data);

    for (const wchar_t* file : UninstallFiles()) {
        // Only the file itself: a link put in its place is not followed to what it points to.
        if (fs::DeletePlainFile(file)) continue;
        DWORD error = GetLastError();
        // Missing files and files that cannot be deleted for other reasons are skipped.
        if (InUse(file, error) && ScheduleRemovalAtRestart(file)) scheduled_.emplace_back(file);
    }

    Folders folders = FoldersFor(AskPlatform(owner));
    std::wstring program = WithoutTrailingSlash(folders.program);
    if (!TryRemoveFolder(program) && !scheduled_.empty() && Exists(program) && HoldsOnly(program, scheduled_)) {
        // Queued after its files, so it is empty by the time its turn comes.
        if (ScheduleRemovalAtRestart(program)) scheduled_.push_back(program);
    }
    TryRemoveFolder(folders.startMenu);
}

void Installer::ReportUninstall(HWND owner) {
    ShowMessageBox(owner, kUninstalledText, kUninstalledTitle, MB_OK);
}

}  // namespace tovra::setup
