#include "setup/tests/system_snapshot.h"

#include <shlwapi.h>
#include <algorithm>
#include <cstring>
#include <cwchar>

#include "setup/install_layout.h"
#include "shared/win_handles.h"
#include "tests/support/temp_dir.h"

namespace tovra::setup::test {
namespace {

using tovra::test::PathExists;
using tovra::test::ReadFileAt;
using tovra::test::RemoveTree;
using tovra::test::WriteFileAt;

const wchar_t* const kFolders[] = {
    L"C:\\Windows\\System",
    L"C:\\Windows\\Start Menu",
    L"C:\\Windows\\Start Menu\\Programs",
    L"C:\\WINDOWS\\All Users",
    L"C:\\WINDOWS\\All Users\\Desktop",
    L"C:\\Documents and Settings",
    L"C:\\Documents and Settings\\All Users",
    L"C:\\Documents and Settings\\All Users\\Start Menu",
    L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs",
    L"C:\\Documents and Settings\\All Users\\Desktop",
};

// The product's folders, with the classic NT folders and the system's own.
std::vector<std::wstring> ProductTrees() {
    return {L"C:\\Program Files\\tovra", L"C:\\Windows\\Start Menu\\Programs\\tovra",
            L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\tovra",
            suite::ProductFolder(), suite::Folders().commonPrograms + L"\\tovra"};
}

void CollectTree(const std::wstring& root, const std::wstring& rel, std::vector<std::wstring>& dirs,
                 std::vector<std::pair<std::wstring, std::string>>& files) {
    WIN32_FIND_DATAW fd;
    std::wstring dir = rel.empty() ? root : root + L"\\" + rel;
    UniqueFind find(FindFirstFileW((dir + L"\\*").c_str(), &fd));
    if (!find) return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring childRel = rel.empty() ? name : rel + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            dirs.push_back(childRel);
            CollectTree(root, childRel, dirs, files);
        } else {
            files.emplace_back(childRel, ReadFileAt(root + L"\\" + childRel));
        }
    } while (FindNextFileW(find.get(), &fd));
}

void MakeFolder(const std::wstring& path) {
    // Parents first, one level at a time.
    for (size_t pos = path.find(L'\\', 3); pos != std::wstring::npos; pos = path.find(L'\\', pos + 1)) {
        CreateDirectoryW(path.substr(0, pos).c_str(), nullptr);
    }
    CreateDirectoryW(path.c_str(), nullptr);
}

}  // namespace

SystemSnapshot::SystemSnapshot() {
    // Registry: every key level the installation may create, and every value it may write.
    auto addKeyLevels = [this](HKEY root, const std::wstring& path) {
        for (size_t pos = path.find(L'\\'); ; pos = path.find(L'\\', pos + 1)) {
            std::wstring level = pos == std::wstring::npos ? path : path.substr(0, pos);
            bool known = std::any_of(keys_.begin(), keys_.end(), [&](const RegKey& k) {
                return k.root == root && _wcsicmp(k.path.c_str(), level.c_str()) == 0;
            });
            if (!known) keys_.push_back({root, level, KeyExists(root, level)});
            if (pos == std::wstring::npos) break;
        }
    };
    auto addValue = [this](HKEY root, const std::wstring& key, const std::wstring& name) {
        RegValue v{root, key, name};
        UniqueKey k;
        if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS) {
            DWORD size = 0;
            if (RegQueryValueExW(k.get(), name.c_str(), nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
                v.data.resize(size);
                RegQueryValueExW(k.get(), name.c_str(), nullptr, &v.type, v.data.data(), &size);
                v.data.resize(size);
                v.existed = true;
            }
        }
        values_.push_back(std::move(v));
    };
    const InstallLayout layouts[] = {InstallLayout(suite::ClassicFolders()), InstallLayout(suite::Folders())};
    for (const RegistryValue& v : layouts[0].InstallValues()) {
        addKeyLevels(v.root, v.key);
        addValue(v.root, v.key, v.name);
    }
    addValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenames);

    for (const InstallLayout& layout : layouts) {
        for (const FileCopy& c : layout.InstallCopies()) files_.push_back({c.destination, std::nullopt});
        for (const std::wstring& f : layout.UninstallFiles()) files_.push_back({f, std::nullopt});
    }
    files_.push_back({kOcxDestination, std::nullopt});
    for (FileState& f : files_) {
        if (PathExists(f.path)) f.bytes = ReadFileAt(f.path);
    }

    for (const std::wstring& t : ProductTrees()) {
        FolderTree tree{t, PathExists(t)};
        if (tree.existed) CollectTree(t, L"", tree.dirs, tree.files);
        trees_.push_back(std::move(tree));
    }
    for (const wchar_t* f : kFolders) folders_.emplace_back(f, PathExists(f));
}

SystemSnapshot::~SystemSnapshot() {
    for (const auto& [path, existed] : folders_) {
        if (existed) MakeFolder(path);
    }
    for (const FolderTree& tree : trees_) {
        RemoveTree(tree.path);
        if (!tree.existed) continue;
        MakeFolder(tree.path);
        for (const std::wstring& d : tree.dirs) MakeFolder(tree.path + L"\\" + d);
        for (const auto& [rel, bytes] : tree.files) WriteFileAt(tree.path + L"\\" + rel, bytes);
    }
    for (const FileState& f : files_) {
        if (f.bytes) {
            WriteFileAt(f.path, *f.bytes);
        } else if (PathExists(f.path)) {
            SetFileAttributesW(f.path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(f.path.c_str());
        }
    }
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
        if (!it->second) RemoveTree(it->first);
    }

    for (const RegValue& v : values_) {
        if (v.existed) {
            UniqueKey k;
            if (RegCreateKeyExW(v.root, v.key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, k.put(), nullptr) ==
                ERROR_SUCCESS) {
                RegSetValueExW(k.get(), v.name.c_str(), 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
            }
        } else {
            UniqueKey k;
            if (RegOpenKeyExW(v.root, v.key.c_str(), 0, KEY_WRITE, k.put()) == ERROR_SUCCESS) {
                RegDeleteValueW(k.get(), v.name.c_str());
            }
        }
    }
    // Keys made by the test: the first missing level takes everything below it.
    for (const RegKey& k : keys_) {
        if (!k.existed && KeyExists(k.root, k.path)) SHDeleteKeyW(k.root, k.path.c_str());
    }
}

void SystemSnapshot::ClearProductFolders() const {
    for (const std::wstring& t : ProductTrees()) RemoveTree(t);
}

void MakeFamilyFolders(DWORD platformId) {
    if (platformId == VER_PLATFORM_WIN32_WINDOWS || platformId == VER_PLATFORM_WIN32s) {
        MakeFolder(L"C:\\Windows\\Start Menu\\Programs");
        MakeFolder(L"C:\\WINDOWS\\All Users\\Desktop");
    } else {
        MakeFolder(L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs");
        MakeFolder(L"C:\\Documents and Settings\\All Users\\Desktop");
    }
}

std::optional<std::wstring> ReadString(HKEY root, const std::wstring& key, const std::wstring& name) {
    UniqueKey k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS) return std::nullopt;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    if (type != REG_SZ) return std::nullopt;
    std::wstring s(size / sizeof(wchar_t) + 1, L'\0');
    RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(s.data()), &size);
    s.resize(wcsnlen(s.c_str(), size / sizeof(wchar_t)));
    return s;
}

bool KeyExists(HKEY root, const std::wstring& key) {
    UniqueKey k;
    return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

std::vector<std::wstring> ReadMultiString(HKEY root, const std::wstring& key, const std::wstring& name) {
    std::vector<std::wstring> out;
    UniqueKey k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS) return out;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return out;
    std::wstring buf(size / sizeof(wchar_t) + 2, L'\0');
    RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size);
    // Entries are NUL-separated; empty entries (the "delete" targets) are kept.
    size_t chars = size / sizeof(wchar_t);
    if (chars > 0 && buf[chars - 1] == L'\0') --chars;  // the list's final terminator
    size_t start = 0;
    for (size_t i = 0; i < chars; ++i) {
        if (buf[i] == L'\0') {
            out.push_back(buf.substr(start, i - start));
            start = i + 1;
        }
    }
    if (start < chars) out.push_back(buf.substr(start, chars - start));
    return out;
}

}  // namespace tovra::setup::test
