// The fixed names of an installation: registry values, folders and the files copied and deleted.
#pragma once
#include <windows.h>

#include <span>

#include "shared/suite.h"

namespace tovra::setup {

using suite::kProductKey;
using suite::kProductName;
using suite::kRunKey;
using suite::kUninstallKey;
inline constexpr char kProductVersion[] = "0.1.1.2004";

using suite::kProductFolder;
inline constexpr const wchar_t* kProgramFolder = suite::kProductFolder;
inline constexpr wchar_t kStartMenu9x[] = L"C:\\Windows\\Start Menu\\Programs\\tovra\\";
inline constexpr wchar_t kStartMenuNT[] = L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\tovra\\";
inline constexpr wchar_t kOcxSource[] = L"mswinsck.ocx";
inline constexpr wchar_t kOcxDestination[] = L"C:\\Windows\\System\\mswinsck.ocx";

struct RegistryValue {
    HKEY root;  // HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER
    const char* key;
    const char* name;
    const char* data;
};
// Written by the installation, in this order.
std::span<const RegistryValue> InstallValues();
// Emptied (set to "") by the uninstallation, in this order; all under HKEY_LOCAL_MACHINE.
std::span<const RegistryValue> UninstallValues();

struct FileCopy {
    const wchar_t* source;  // a bare name in the installer's folder
    const wchar_t* destination;
};
// Copies 1 to 14; the first kProgramFileCount are the programs and their files.
std::span<const FileCopy> InstallCopies();
inline constexpr size_t kProgramFileCount = 6;

// Deleted by the uninstallation, in this order.
std::span<const wchar_t* const> UninstallFiles();

// The program and Start-menu folders created (and removed) for a platform identifier of
// GetVersionExA; unknown identifiers take the folders of the NT family.
struct Folders {
    const wchar_t* program;
    const wchar_t* startMenu;
};
Folders FoldersFor(DWORD platformId);

}  // namespace tovra::setup
