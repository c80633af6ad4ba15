// The names of an installation: registry values, folders and the files copied and deleted. The
// NT family's folders are the system's own (shared/suite.h); the 95/98 family's are fixed.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "shared/suite.h"

namespace tovra::setup {

using suite::kProductKey;
using suite::kProductName;
using suite::kRunKey;
using suite::kUninstallKey;
inline constexpr wchar_t kProductVersion[] = L"0.1.1.2004";

inline constexpr wchar_t kStartMenu9x[] = L"C:\\Windows\\Start Menu\\Programs\\tovra\\";
inline constexpr wchar_t kDesktop9x[] = L"C:\\WINDOWS\\All Users\\Desktop\\";
inline constexpr wchar_t kOcxSource[] = L"mswinsck.ocx";
inline constexpr wchar_t kOcxDestination[] = L"C:\\Windows\\System\\mswinsck.ocx";
inline constexpr wchar_t kMainShortcut[] = L"Tovra Internet Security.lnk";
inline constexpr wchar_t kAboutShortcut[] = L"About Tovra IS.lnk";

struct RegistryValue {
    HKEY root;  // HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER
    std::wstring key;
    std::wstring name;
    std::wstring data;
};

struct FileCopy {
    std::wstring source;  // a bare name in the installer's folder
    std::wstring destination;
};

// The program and Start-menu folders created (and removed) for a platform identifier.
struct Folders {
    std::wstring program;
    std::wstring startMenu;
};

class InstallLayout {
public:
    // The NT family's folders as this system names them (the classic ones on an English XP on C:).
    explicit InstallLayout(const suite::SystemFolders& folders = suite::Folders());

    // Written by the installation, in this order.
    const std::vector<RegistryValue>& InstallValues() const { return installValues_; }
    // Emptied (set to "") by the uninstallation, in this order; all under HKEY_LOCAL_MACHINE.
    const std::vector<RegistryValue>& UninstallValues() const { return uninstallValues_; }
    // Copies 1 to 14; the first kProgramFileCount are the programs and their files, then the
    // shortcuts: 95/98 Start menu, NT Start menu, 95/98 desktop, NT desktop, two each.
    const std::vector<FileCopy>& InstallCopies() const { return copies_; }
    static constexpr size_t kProgramFileCount = 6;
    // Deleted by the uninstallation, in this order.
    const std::vector<std::wstring>& UninstallFiles() const { return uninstallFiles_; }
    // Unknown identifiers take the folders of the NT family.
    Folders FoldersFor(DWORD platformId) const;
    // The product folder, where the programs go.
    const std::wstring& ProgramFolder() const { return program_; }

private:
    std::wstring program_;  // <Program Files>\tovra
    std::wstring startMenuNT_;
    std::vector<RegistryValue> installValues_;
    std::vector<RegistryValue> uninstallValues_;
    std::vector<FileCopy> copies_;
    std::vector<std::wstring> uninstallFiles_;
};

}  // namespace tovra::setup
