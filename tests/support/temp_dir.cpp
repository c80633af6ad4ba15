#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <vector>

#include "shared/file_system.h"

namespace tovra::test {
namespace {

std::wstring Widen(const char* s) {
    std::wstring w;
    for (; *s; ++s) w += static_cast<wchar_t>(static_cast<unsigned char>(*s));
    return w;
}

void MakeParents(const std::wstring& path) {
    for (size_t pos = path.find(L'\\', 3); pos != std::wstring::npos; pos = path.find(L'\\', pos + 1)) {
        CreateDirectoryW(path.substr(0, pos).c_str(), nullptr);
    }
}

}  // namespace

TempDir::TempDir(const std::wstring& parent) {
    static std::atomic<int> counter{0};
    std::wstring base = parent;
    if (base.empty()) {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        base = tmp;
    }
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    std::wstring name = L"tovra-test";
    if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
        name += L"-" + Widen(info->name());
        // Parameterised tests are named "Test/Param": no folder name can hold that.
        for (wchar_t& c : name) {
            if (wcschr(L"\\/:*?\"<>|", c)) c = L'_';
        }
    }
    name += L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
    path_ = base + L"\\" + name;
    RemoveTree(path_);
    MakeParents(path_ + L"\\");
}

TempDir::~TempDir() { RemoveTree(path_); }

void TempDir::WriteFile(const std::wstring& rel, const std::string& bytes) const { WriteFileAt(*this / rel, bytes); }
std::string TempDir::ReadFile(const std::wstring& rel) const { return ReadFileAt(*this / rel); }
void TempDir::MakeDir(const std::wstring& rel) const { MakeParents(*this / rel + L"\\"); }
bool TempDir::Exists(const std::wstring& rel) const { return PathExists(*this / rel); }

namespace {

// Wine's DeleteFile and RemoveDirectory on a Unix link act on its target: unlink it from Unix.
void Unlink(const std::wstring& path) {
    std::string unix = UnixPath(path);
    if (!unix.empty()) RunUnixShell("rm -f '" + unix + "'");
}

// The links a walk passes over (it never lists them as files or folders).
void UnlinkLinksIn(const std::wstring& folder) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(fs::LongPath(fs::JoinPath(folder, L"*")).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) Unlink(fs::JoinPath(folder, fd.cFileName));
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

}  // namespace

void RemoveTree(const std::wstring& root) {
    DWORD attrs = GetFileAttributesW(root.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return;
    if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) {
        Unlink(root);  // a link: remove it, never its target's files
        return;
    }
    fs::Folder top;
    top.path = fs::AbsolutePath(root);
    fs::WalkOptions options;
    options.leave = [](const fs::Folder& folder) {
        for (const fs::Entry& file : folder.files) {
            std::wstring path = folder.PathOf(file);
            if (file.attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(fs::LongPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!fs::DeleteListedFile(path, folder.LocationOf(file)) && GetLastError() == ERROR_CANT_ACCESS_FILE) {
                Unlink(path);  // a Unix link to a file, which Wine shows as a plain file
            }
        }
        std::wstring longPath = fs::LongPath(folder.path);
        if (!RemoveDirectoryW(longPath.c_str())) {
            UnlinkLinksIn(folder.path);
            RemoveDirectoryW(longPath.c_str());
        }
    };
    fs::Walk(top, options);
}

void WriteFileAt(const std::wstring& path, const std::string& bytes) {
    MakeParents(path);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "cannot write fixture file";
    DWORD written = 0;
    ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
}

std::string ReadFileAt(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string out;
    char buf[65536];
    DWORD got = 0;
    while (::ReadFile(h, buf, sizeof buf, &got, nullptr) && got) out.append(buf, got);
    CloseHandle(h);
    return out;
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring ModuleDir() {
    wchar_t buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, buf, static_cast<DWORD>(std::size(buf)));
    std::wstring p(buf, n);
    return p.substr(0, p.find_last_of(L'\\'));
}

std::string UnixPath(const std::wstring& windowsPath) {
    using Fn = char*(CDECL*)(LPCWSTR);
    static Fn fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!fn) return {};
    char* p = fn(windowsPath.c_str());
    if (!p) return {};
    std::string out = p;
    HeapFree(GetProcessHeap(), 0, p);
    return out;
}

void MakeFileLink(const std::wstring& link, const std::wstring& target) {
    MakeParents(link);
    std::string unixTarget = UnixPath(target), unixLink = UnixPath(link);
    ASSERT_FALSE(unixTarget.empty() || unixLink.empty()) << "no Unix paths for the link";
    ASSERT_EQ(RunUnixShell("ln -s '" + unixTarget + "' '" + unixLink + "'"), 0);
    DWORD attrs = GetFileAttributesW(link.c_str());
    ASSERT_TRUE(attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY))
        << "the link does not lead to its file";
}

int RunUnixShell(const std::string& command) {
    // Wine starts a Unix program detached, without a process handle to wait on: the shell
    // writes its exit code into a marker file instead, renamed into place when complete.
    static std::atomic<int> counter{0};
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring marker = std::wstring(tmp) + L"tovra-sh-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(counter++) + L".rc";
    std::string unixMarker = UnixPath(marker);
    std::string script = command;
    if (!unixMarker.empty()) {
        script = "( " + command + " ); echo $? > '" + unixMarker + ".part' && mv '" + unixMarker + ".part' '" +
                 unixMarker + "'";
    }
    std::string line = "/bin/sh -c \"" + script + "\"";
    STARTUPINFOA si{sizeof si};
    PROCESS_INFORMATION pi{};
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back('\0');
    if (!CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (pi.hProcess) {
        WaitForSingleObject(pi.hProcess, 30000);
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
    }
    if (pi.hThread) CloseHandle(pi.hThread);
    if (unixMarker.empty()) return static_cast<int>(code);
    for (int waited = 0; waited < 30000 && !PathExists(marker); waited += 10) Sleep(10);
    std::string rc = ReadFileAt(marker);
    DeleteFileW(marker.c_str());
    return rc.empty() ? -1 : std::atoi(rc.c_str());
}

}  // namespace tovra::test
