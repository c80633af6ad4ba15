// Fixtures of the washer tests: registry keys put back as they were, cache entries, file trees.
#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace tovra::washer::test {

// Remembers the values of one key; Restore() puts them back (and removes the key again if it
// did not exist). Subkeys are left alone. `view` is 0 for the native registry view or
// KEY_WOW64_32KEY for the 32-bit programs' one.
class RegistryKeySnapshot {
public:
    RegistryKeySnapshot(HKEY root, std::wstring path, REGSAM view = 0);
    ~RegistryKeySnapshot();  // restores
    RegistryKeySnapshot(const RegistryKeySnapshot&) = delete;
    RegistryKeySnapshot& operator=(const RegistryKeySnapshot&) = delete;
    void Restore() const;

private:
    struct Value {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
    };
    HKEY root_;
    std::wstring path_;
    REGSAM view_ = 0;
    bool existed_ = false;
    std::vector<Value> values_;
};

bool KeyExists(HKEY root, const std::wstring& path);
std::optional<std::string> ReadString(HKEY root, const std::string& path, const std::string& name);
std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path);
void WriteString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& data);

// Adds a committed entry to the URL cache (with a local file); header padding makes its
// information as large as wanted. Returns the local file's path.
std::string AddCacheEntry(const std::string& url, size_t headerPadding = 0);
// Every entry of the URL cache (all containers), by source URL.
std::vector<std::string> CacheUrls();

// Full path of a file or folder through "\\?\", for fixtures deeper than MAX_PATH.
std::wstring Extended(const std::wstring& path);
void PlantFile(const std::wstring& path, const std::string& bytes = "x");
void PlantFolder(const std::wstring& path);
bool Exists(const std::wstring& path);

}  // namespace tovra::washer::test
