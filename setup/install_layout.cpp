#include "setup/install_layout.h"

namespace tovra::setup {
namespace {

const RegistryValue kInstallValues[] = {
    {HKEY_LOCAL_MACHINE, kRunKey, kProductName, suite::kMainProgramPathA},
    {HKEY_LOCAL_MACHINE, kProductKey, "Version", kProductVersion},
    {HKEY_LOCAL_MACHINE, kProductKey, "Name", kProductName},
    {HKEY_CURRENT_USER, kProductKey, "Version", kProductVersion},
    {HKEY_CURRENT_USER, kProductKey, "Name", kProductName},
    {HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", kProductName},
    {HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", suite::kUninstallCommandA},
};

const RegistryValue kUninstallValues[] = {
    {HKEY_LOCAL_MACHINE, kRunKey, kProductName, ""},
    {HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName", ""},
    {HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", ""},
};

#define TOVRA_LNK_MAIN L"Tovra Internet Security.lnk"
#define TOVRA_LNK_ABOUT L"About Tovra IS.lnk"
#define TOVRA_START_9X L"C:\\Windows\\Start Menu\\Programs\\tovra\\"
#define TOVRA_START_NT L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\tovra\\"
#define TOVRA_DESKTOP_9X L"C:\\WINDOWS\\All Users\\Desktop\\"
#define TOVRA_DESKTOP_NT L"C:\\Documents and Settings\\All Users\\Desktop\\"
#define TOVRA_PROGRAM TOVRA_WIDE(TOVRA_PRODUCT_FOLDER "\\")

const FileCopy kCopies[] = {
    {L"setup.exe", TOVRA_PROGRAM L"setup.exe"},
    {L"tovra.exe", TOVRA_PROGRAM L"tovra.exe"},
    {L"tovraa.exe", TOVRA_PROGRAM L"tovraa.exe"},
    {L"file.dat", TOVRA_PROGRAM L"file.dat"},
    {L"readme.htm", TOVRA_PROGRAM L"readme.htm"},
    {L"utovraa.exe", TOVRA_PROGRAM L"utovraa.exe"},
    {TOVRA_LNK_MAIN, TOVRA_START_9X TOVRA_LNK_MAIN},
    {TOVRA_LNK_ABOUT, TOVRA_START_9X TOVRA_LNK_ABOUT},
    {TOVRA_LNK_MAIN, TOVRA_START_NT TOVRA_LNK_MAIN},
    {TOVRA_LNK_ABOUT, TOVRA_START_NT TOVRA_LNK_ABOUT},
    {TOVRA_LNK_MAIN, TOVRA_DESKTOP_9X TOVRA_LNK_MAIN},
    {TOVRA_LNK_ABOUT, TOVRA_DESKTOP_9X TOVRA_LNK_ABOUT},
    {TOVRA_LNK_MAIN, TOVRA_DESKTOP_NT TOVRA_LNK_MAIN},
    {TOVRA_LNK_ABOUT, TOVRA_DESKTOP_NT TOVRA_LNK_ABOUT},
};

const wchar_t* const kUninstallFiles[] = {
    TOVRA_PROGRAM L"setup.exe",
    TOVRA_PROGRAM L"tovra.exe",
    TOVRA_PROGRAM L"tovraa.exe",
    TOVRA_PROGRAM L"file.dat",
    TOVRA_PROGRAM L"readme.htm",
    TOVRA_PROGRAM L"utovraa.exe",
    TOVRA_PROGRAM TOVRA_LNK_MAIN,
    TOVRA_PROGRAM L"autorun.inf",
    TOVRA_PROGRAM L"winsock.ocx",
    TOVRA_PROGRAM TOVRA_LNK_ABOUT,
    TOVRA_START_9X TOVRA_LNK_MAIN,
    TOVRA_START_9X TOVRA_LNK_ABOUT,
    TOVRA_START_NT TOVRA_LNK_MAIN,
    TOVRA_START_NT TOVRA_LNK_ABOUT,
    TOVRA_DESKTOP_9X TOVRA_LNK_MAIN,
    TOVRA_DESKTOP_9X TOVRA_LNK_ABOUT,
    TOVRA_DESKTOP_NT TOVRA_LNK_MAIN,
    TOVRA_DESKTOP_NT TOVRA_LNK_ABOUT,
};

}  // namespace

std::span<const RegistryValue> InstallValues() { return kInstallValues; }
std::span<const RegistryValue> UninstallValues() { return kUninstallValues; }
std::span<const FileCopy> InstallCopies() { return kCopies; }
std::span<const wchar_t* const> UninstallFiles() { return kUninstallFiles; }

Folders FoldersFor(DWORD platformId) {
    switch (platformId) {
    case VER_PLATFORM_WIN32s: return {suite::kProductFolder, kStartMenu9x};
    case VER_PLATFORM_WIN32_WINDOWS: return {TOVRA_PROGRAM, kStartMenu9x};  // with its separator, as ever
    default: return {suite::kProductFolder, kStartMenuNT};
    }
}

}  // namespace tovra::setup
