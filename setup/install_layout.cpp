#include "setup/install_layout.h"

#include "shared/file_system.h"

namespace tovra::setup {

InstallLayout::InstallLayout(const suite::SystemFolders& folders)
    : program_(fs::JoinPath(folders.programFiles, suite::kProductFolderName)),
      startMenuNT_(fs::JoinPath(fs::JoinPath(folders.commonPrograms, suite::kProductFolderName), L"")) {
    auto in = [](const std::wstring& folder, const wchar_t* name) { return fs::JoinPath(folder, name); };
    // Both paths quoted: unquoted, Windows would try "C:\Program.exe" first.
    const std::wstring startUp = suite::Quoted(in(program_, suite::kMainProgramName));
    const std::wstring uninstall = suite::Quoted(
        in(fs::JoinPath(folders.programFiles, suite::kProductFolderNameAsRegistered), suite::kSetupName));
    installValues_ = {
        {HKEY_LOCAL_MACHINE, kRunKey, kProductName, startUp},
        {HKEY_LOCAL_MACHINE, kProductKey, L"Version", kProductVersion},
        {HKEY_LOCAL_MACHINE, kProductKey, L"Name", kProductName},
        {HKEY_CURRENT_USER, kProductKey, L"Version", kProductVersion},
        {HKEY_CURRENT_USER, kProductKey, L"Name", kProductName},
        {HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName", kProductName},
        {HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", uninstall},
    };
    uninstallValues_ = {
        {HKEY_LOCAL_MACHINE, kRunKey, kProductName, L""},
        {HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName", L""},
        {HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString", L""},
    };

    const wchar_t* programFiles[] = {suite::kSetupName,    suite::kMainProgramName, suite::kScannerName,
                                     suite::kVirusListName, L"readme.htm",           suite::kListWriterName};
    for (const wchar_t* name : programFiles) copies_.push_back({name, in(program_, name)});
    const std::wstring shortcutFolders[] = {kStartMenu9x, startMenuNT_, kDesktop9x, folders.commonDesktop};
    for (const std::wstring& folder : shortcutFolders) {
        for (const wchar_t* link : {kMainShortcut, kAboutShortcut}) copies_.push_back({link, in(folder, link)});
    }

    for (const wchar_t* name : programFiles) uninstallFiles_.push_back(in(program_, name));
    // Names of older versions' files: deleting them costs nothing when they are absent.
    for (const wchar_t* name : {kMainShortcut, L"autorun.inf", L"winsock.ocx", kAboutShortcut}) {
        uninstallFiles_.push_back(in(program_, name));
    }
    for (const std::wstring& folder : shortcutFolders) {
        for (const wchar_t* link : {kMainShortcut, kAboutShortcut}) uninstallFiles_.push_back(in(folder, link));
    }
}

Folders InstallLayout::FoldersFor(DWORD platformId) const {
    switch (platformId) {
    case VER_PLATFORM_WIN32s: return {program_, kStartMenu9x};
    case VER_PLATFORM_WIN32_WINDOWS: return {program_ + L"\\", kStartMenu9x};  // with its separator, as ever
    default: return {program_, startMenuNT_};
    }
}

}  // namespace tovra::setup
