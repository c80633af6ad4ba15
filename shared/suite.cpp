#include "shared/suite.h"

#include <windows.h>
#include <shlobj.h>

#include "shared/file_system.h"

namespace tovra::suite {
namespace {

// SHGetFolderPathW's answer, or the fallback. shell32 has it from Windows 2000 on, XP included.
std::wstring SystemFolder(int csidl, const std::wstring& fallback) {
    wchar_t path[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK || !path[0]) return fallback;
    std::wstring out = fs::AbsolutePath(path);  // without a trailing separator
    return out.empty() ? fallback : out;
}

SystemFolders AskSystem() {
    SystemFolders classic = ClassicFolders();
    // Windows 95/98 keep the suite's classic folders: their shell names others.
    if (GetVersion() & 0x80000000u) return classic;
    return {SystemFolder(CSIDL_PROGRAM_FILES, classic.programFiles),
            SystemFolder(CSIDL_COMMON_PROGRAMS, classic.commonPrograms),
            SystemFolder(CSIDL_COMMON_DESKTOPDIRECTORY, classic.commonDesktop)};
}

}  // namespace

SystemFolders ClassicFolders() {
    return {L"C:\\Program Files", L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs",
            L"C:\\Documents and Settings\\All Users\\Desktop"};
}

const SystemFolders& Folders() {
    static const SystemFolders folders = AskSystem();
    return folders;
}

std::wstring ProductFolder() { return fs::JoinPath(Folders().programFiles, kProductFolderName); }
std::wstring ProductFile(const wchar_t* name) { return fs::JoinPath(ProductFolder(), name); }
std::wstring ProductFileAsRegistered(const wchar_t* name) {
    return fs::JoinPath(fs::JoinPath(Folders().programFiles, kProductFolderNameAsRegistered), name);
}

std::wstring Quoted(const std::wstring& path) {
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') return path;
    return L"\"" + path + L"\"";
}

std::wstring VirusListPath() { return ProductFile(kVirusListName); }
std::wstring MainProgramPath() { return ProductFile(kMainProgramName); }
std::wstring ScannerCommandPath() { return ProductFileAsRegistered(kScannerName); }
std::wstring UninstallProgramPath() { return ProductFileAsRegistered(kSetupName); }
std::wstring StartUpCommand() { return Quoted(MainProgramPath()); }
std::wstring UninstallCommand() { return Quoted(UninstallProgramPath()); }

}  // namespace tovra::suite
