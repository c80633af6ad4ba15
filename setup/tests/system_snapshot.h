// Everything an installation or uninstallation can change in the test prefix, recorded at set-up
// and put back at tear-down, so tests leave the shared prefix as they found it.
#pragma once
#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tovra::setup::test {

class SystemSnapshot {
public:
    SystemSnapshot();   // records
    ~SystemSnapshot();  // restores
    SystemSnapshot(const SystemSnapshot&) = delete;
    SystemSnapshot& operator=(const SystemSnapshot&) = delete;

    // Removes the product's own folders (program folder, both Start-menu folders), so a test
    // starts from "nothing installed"; they come back at tear-down.
    void ClearProductFolders() const;

private:
    struct RegValue {
        HKEY root;
        std::wstring key;
        std::wstring name;
        bool existed = false;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    struct RegKey {
        HKEY root;
        std::wstring path;
        bool existed = false;
    };
    struct FileState {
        std::wstring path;
        std::optional<std::string> bytes;
    };
    struct FolderTree {
        std::wstring path;
        bool existed = false;
        std::vector<std::pair<std::wstring, std::string>> files;  // relative path, bytes
        std::vector<std::wstring> dirs;                           // relative, parents first
    };

    std::vector<RegKey> keys_;
    std::vector<RegValue> values_;
    std::vector<FileState> files_;
    std::vector<FolderTree> trees_;
    std::vector<std::pair<std::wstring, bool>> folders_;  // parents first
};

// Makes the shortcut parent folders a real Windows of that family has ("Start Menu\Programs"
// and the all-users desktop); the snapshot removes them again.
void MakeFamilyFolders(DWORD platformId);

// Registry helpers for the tests.
std::optional<std::wstring> ReadString(HKEY root, const std::wstring& key, const std::wstring& name);
bool KeyExists(HKEY root, const std::wstring& key);
std::vector<std::wstring> ReadMultiString(HKEY root, const std::wstring& key, const std::wstring& name);

inline constexpr wchar_t kSessionManagerKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
inline constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

}  // namespace tovra::setup::test
