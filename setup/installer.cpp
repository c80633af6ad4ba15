#include "setup/installer.h"

#include "setup/install_layout.h"
#include "setup/shortcut.h"
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
void TryCreateFolder(const std::wstring& path) { CreateDirectoryW(path.c_str(), nullptr); }
// Only a real folder: removing a link to a folder would (under Wine) remove the folder it points to.
bool TryRemoveFolder(const std::wstring& path) {
    DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    return RemoveDirectoryW(path.c_str()) != FALSE;
}

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

std::wstring ValueName(const RegistryValue& v) { return RootName(v.root) + L"\\" + v.key + L"\\" + v.name; }

bool Missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// "Installation incomplete. These files could not be copied:\na\nb" and so on, a section a list.
std::wstring IncompleteText(const wchar_t* lead, const Outcome& outcome, const wchar_t* filesTitle,
                            const wchar_t* valuesTitle) {
    std::wstring text = lead;
    bool first = true;
    auto section = [&](const wchar_t* title, const std::vector<std::wstring>& items) {
        if (items.empty()) return;
        text += first ? L" " : L"\n";
        text += title;
        first = false;
        for (const std::wstring& item : items) text += L"\n" + item;
    };
    section(filesTitle, outcome.files);
    section(valuesTitle, outcome.values);
    section(L"These steps could not be done:", outcome.other);
    return text;
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

Installer::Installer(std::wstring mediumFolder, VersionQuery version, const suite::SystemFolders& folders,
                     Registry& registry, FirewallExceptions* firewall)
    : medium_(WithoutTrailingSlash(std::move(mediumFolder))),
      version_(std::move(version)),
      layout_(folders),
      registry_(registry),
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

Outcome Installer::Install(HWND owner) {
    Outcome outcome;
    for (const RegistryValue& v : layout_.InstallValues()) {
        bool written = v.root == HKEY_CURRENT_USER ? SaveSettingCurrent(v.key, v.name, v.data, registry_)
                                                   : SaveSetting(v.key, v.name, v.data, registry_);
        if (!written) outcome.values.push_back(ValueName(v));
    }

    DWORD platform = AskPlatform(owner);
    Folders folders = layout_.FoldersFor(platform);
    TryCreateFolder(folders.program);
    TryCreateFolder(folders.startMenu);

    // The shortcut copies into this family's folders (the other family's do not exist here).
    const bool nt = platform != VER_PLATFORM_WIN32s && platform != VER_PLATFORM_WIN32_WINDOWS;
    auto ofThisFamily = [nt](size_t index) {
        size_t shortcut = index - InstallLayout::kProgramFileCount;  // 0-1 and 4-5: 95/98; 2-3, 6-7: NT
        return ((shortcut / 2) % 2 == 1) == nt;
    };
    size_t index = 0;
    for (const FileCopy& copy : layout_.InstallCopies()) {
        const std::wstring source = fs::JoinPath(medium_, copy.source);
        bool copied = TryCopyFile(source, copy.destination);
        // A shortcut named the classic product folder; the programs may have gone elsewhere.
        if (copied && index >= InstallLayout::kProgramFileCount &&
            !fs::SamePath(layout_.ProgramFolder(), suite::ClassicFolders().programFiles + L"\\" + suite::kProductFolderName)) {
            PointShortcutInto(copy.destination, layout_.ProgramFolder());
        }
        if (!copied) {
            if (index < InstallLayout::kProgramFileCount) {
                outcome.files.push_back(copy.source);
            } else if (ofThisFamily(index) && Exists(source)) {
                outcome.files.push_back(copy.destination);
            }
        }
        ++index;
    }

    if (!Exists(kOcxDestination)) TryCopyFile(fs::JoinPath(medium_, kOcxSource), kOcxDestination);

    // After the copies, so the firewall is told about a program that is there. Where there is
    // no firewall (XP before SP2), there is nothing to tell.
    firewallResult_ = firewall_->Allow(fs::JoinPath(layout_.ProgramFolder(), suite::kMainProgramName), kProductName);
    if (firewallResult_.refused()) outcome.other.push_back(kFirewallRefusedText + firewallResult_.Describe());
    return outcome;
}

void Installer::ReportInstall(HWND owner, const Outcome& outcome) {
    if (outcome.empty()) {
        ShowMessageBox(owner, kInstalledText, kInstalledTitle, MB_OK);
        return;
    }
    ShowMessageBox(owner,
                   IncompleteText(kIncompleteText, outcome, L"These files could not be copied:",
                                  L"These registry values could not be written:"),
                   kErrorTitle, MB_OK);
}

bool Installer::ConfirmUninstall(HWND owner) {
    return ShowMessageBox(owner, kConfirmText, kConfirmTitle, MB_YESNO) == IDYES;
}

Outcome Installer::Uninstall(HWND owner) {
    scheduled_.clear();
    uninstalled_ = {};
    // While tovra.exe is still there: the firewall may want to find the program it is told of.
    firewallResult_ = firewall_->Remove(fs::JoinPath(layout_.ProgramFolder(), suite::kMainProgramName), kProductName);
    if (firewallResult_.refused()) uninstalled_.other.push_back(kFirewallKeptText + firewallResult_.Describe());
    for (const RegistryValue& v : layout_.UninstallValues()) {
        if (!SaveSetting(v.key, v.name, v.data, registry_)) uninstalled_.values.push_back(ValueName(v));
    }

    for (const std::wstring& file : layout_.UninstallFiles()) {
        // Only the file itself: a link put in its place is not followed to what it points to.
        if (fs::DeletePlainFile(file)) continue;
        DWORD error = GetLastError();
        if (Missing(error)) continue;
        if (InUse(file, error) && ScheduleRemovalAtRestart(file)) {
            scheduled_.push_back(file);
        } else {
            uninstalled_.files.push_back(file);
        }
    }

    Folders folders = layout_.FoldersFor(AskPlatform(owner));
    std::wstring program = WithoutTrailingSlash(folders.program);
    if (!TryRemoveFolder(program) && !scheduled_.empty() && Exists(program) && HoldsOnly(program, scheduled_)) {
        // Queued after its files, so it is empty by the time its turn comes.
        if (ScheduleRemovalAtRestart(program)) scheduled_.push_back(program);
    }
    // A folder that still holds the user's own files stays, as it should.
    TryRemoveFolder(folders.startMenu);
    return uninstalled_;
}

void Installer::ReportUninstall(HWND owner) {
    if (uninstalled_.empty()) {
        ShowMessageBox(owner, kUninstalledText, kUninstalledTitle, MB_OK);
        return;
    }
    ShowMessageBox(owner,
                   IncompleteText(kUninstallIncompleteText, uninstalled_, L"These files could not be deleted:",
                                  L"These registry values could not be emptied:"),
                   kErrorTitle, MB_OK);
}

}  // namespace tovra::setup
