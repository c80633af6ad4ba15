#include "main/washer/tests/washer_test_support.h"

#include "shared/registry.h"

#include <gtest/gtest.h>
#include <wininet.h>

#include <cstdint>
#include <iterator>

namespace tovra::washer::test {

RegistryKeySnapshot::RegistryKeySnapshot(HKEY root, std::wstring path, REGSAM view)
    : root_(root), path_(std::move(path)), view_(view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_READ | view_, &key) != ERROR_SUCCESS) return;
    existed_ = true;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLength = static_cast<DWORD>(std::size(name));
        DWORD type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        Value value{std::wstring(name, nameLength), type, std::vector<BYTE>(size)};
        DWORD got = size;
        RegQueryValueExW(key, value.name.c_str(), nullptr, nullptr, value.data.data(), &got);
        value.data.resize(got);
        values_.push_back(std::move(value));
    }
    RegCloseKey(key);
}

RegistryKeySnapshot::~RegistryKeySnapshot() { Restore(); }

void RegistryKeySnapshot::Restore() const {
    if (!existed_) {
        tovra::SystemRegistry().DeleteKey(
            root_, path_, view_ == KEY_WOW64_32KEY ? tovra::RegistryView::Bits32 : tovra::RegistryView::Native);
        return;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot restore a registry key";
        return;
    }
    for (;;) {
        wchar_t name[16384];
        DWORD length = static_cast<DWORD>(std::size(name));
        if (RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (RegDeleteValueW(key, name) != ERROR_SUCCESS) break;
    }
    for (const Value& value : values_) {
        RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
    }
    RegCloseKey(key);
}

bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::optional<std::string> ReadString(HKEY root, const std::string& path, const std::string& name) {
    char data[8192];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegGetValueA(root, path.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    if (type != REG_SZ) return "<not a string: type " + std::to_string(type) + ">";
    return std::string(data, size ? size - 1 : 0);
}

std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD length = static_cast<DWORD>(std::size(name));
        if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

void WriteString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

std::string AddCacheEntry(const std::string& url, size_t headerPadding) {
    char file[MAX_PATH] = {};
    if (!CreateUrlCacheEntryA(url.c_str(), 0, "htm", file, 0)) {
        ADD_FAILURE() << "CreateUrlCacheEntryA failed: " << GetLastError();
        return {};
    }
    HANDLE h = CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot write the cache file";
        return {};
    }
    DWORD written = 0;
    WriteFile(h, "<html></html>", 13, &written, nullptr);
    CloseHandle(h);
    std::string headers = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
    if (headerPadding) headers += "X-Padding: " + std::string(headerPadding, 'p') + "\r\n";
    headers += "\r\n";
    FILETIME none{};
    if (!CommitUrlCacheEntryA(url.c_str(), file, none, none, NORMAL_CACHE_ENTRY, reinterpret_cast<BYTE*>(headers.data()),
                              static_cast<DWORD>(headers.size()), "htm", nullptr)) {
        ADD_FAILURE() << "CommitUrlCacheEntryA failed: " << GetLastError();
    }
    return file;
}

std::vector<std::string> CacheUrls() {
    std::vector<std::string> urls;
    std::vector<std::uint64_t> buffer(64 * 1024 / 8);
    auto* info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
    DWORD size = static_cast<DWORD>(buffer.size() * 8);
    HANDLE search = FindFirstUrlCacheEntryA(nullptr, info, &size);
    if (!search) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS)) << "the cache cannot be listed";
        return urls;
    }
    do {
        urls.emplace_back(info->lpszSourceUrlName ? info->lpszSourceUrlName : "");
        size = static_cast<DWORD>(buffer.size() * 8);
    } while (FindNextUrlCacheEntryA(search, info, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS)) << "the cache listing stopped early";
    FindCloseUrlCache(search);
    return urls;
}

std::wstring Extended(const std::wstring& path) {
    return path.rfind(L"\\\\?\\", 0) == 0 ? path : L"\\\\?\\" + path;
}

void PlantFolder(const std::wstring& path) {
    std::wstring full = Extended(path);
    if (CreateDirectoryW(full.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return;
    for (size_t pos = full.find(L'\\', 7); pos != std::wstring::npos; pos = full.find(L'\\', pos + 1)) {
        CreateDirectoryW(full.substr(0, pos).c_str(), nullptr);
    }
    CreateDirectoryW(full.c_str(), nullptr);
    ASSERT_TRUE(Exists(path)) << "cannot make a fixture folder";
}

void PlantFile(const std::wstring& path, const std::string& bytes) {
    std::wstring parent = path.substr(0, path.find_last_of(L'\\'));
    if (parent.size() > 2) PlantFolder(parent);  // not for a drive root
    HANDLE h = CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "cannot write a fixture file";
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(Extended(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace tovra::washer::test
