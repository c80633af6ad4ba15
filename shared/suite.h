// Names and places that more than one program of the suite uses. Every text here is stored or
// shown as it is, so each keeps its exact spelling, the two spellings of the folder included.
#pragma once
#include <string>

namespace tovra::suite {

// ---- Folders ----------------------------------------------------------------------------------

// The system folders the suite installs into.
struct SystemFolders {
    std::wstring programFiles;    // "C:\Program Files"
    std::wstring commonPrograms;  // the all-users Start menu's "Programs"
    std::wstring commonDesktop;   // the all-users desktop
};

// The folders as Windows 95/98 and an English Windows XP on drive C: have them.
SystemFolders ClassicFolders();

// The folders of this system: on the NT family asked of the system once (a localized Windows,
// Windows on another drive and Vista's new profile folders all differ from the classic ones;
// a 32-bit program on 64-bit Windows gets "Program Files (x86)"). A folder the system does not
// name keeps its classic path.
const SystemFolders& Folders();

// The product folder on an English Windows XP on drive C:, as the medium's prepared shortcuts
// name it (the build reads it from here).
#define TOVRA_CLASSIC_PRODUCT_FOLDER "C:\\Program Files\\tovra"

// The product folder's name, as the installer makes it and the programs find it; and as the
// uninstall command and the main window's Scan command spell it, with a capital letter (the file
// system does not mind the case).
inline constexpr wchar_t kProductFolderName[] = L"tovra";
inline constexpr wchar_t kProductFolderNameAsRegistered[] = L"Tovra";

// <Program Files>\tovra, and a file in it.
std::wstring ProductFolder();
std::wstring ProductFile(const wchar_t* name);
// <Program Files>\Tovra\name.
std::wstring ProductFileAsRegistered(const wchar_t* name);

// A path as a command line names a program: in double quotes, so that Windows does not try
// "C:\Program.exe" first for a path with blanks.
std::wstring Quoted(const std::wstring& path);

// ---- Files ------------------------------------------------------------------------------------

// The virus list: written by utovraa, read by tovraa, shipped on the medium.
inline constexpr wchar_t kVirusListName[] = L"file.dat";

// The programs' file names.
inline constexpr wchar_t kMainProgramName[] = L"tovra.exe";
inline constexpr wchar_t kScannerName[] = L"tovraa.exe";
inline constexpr wchar_t kListWriterName[] = L"utovraa.exe";
inline constexpr wchar_t kSetupName[] = L"setup.exe";

std::wstring VirusListPath();         // <product folder>\file.dat
std::wstring MainProgramPath();       // <product folder>\tovra.exe
std::wstring ScannerCommandPath();    // <Program Files>\Tovra\tovraa.exe, as Scan starts it
std::wstring UninstallProgramPath();  // <Program Files>\Tovra\setup.exe, as registered

// The start-with-Windows value's data (installer and washer) and the registered uninstall
// command: the quoted paths.
std::wstring StartUpCommand();
std::wstring UninstallCommand();

// ---- Registry ---------------------------------------------------------------------------------

// Registry names shared by the installer, the washer and the main program.
inline constexpr wchar_t kProductName[] = L"Tovra Internet Security 1.0";
inline constexpr wchar_t kProductKey[] = L"software\\Quorelsoft\\Tovra Internet Security\\Main";
inline constexpr wchar_t kRunKey[] = L"software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kUninstallKey[] =
    L"software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tovra Internet Security 1.0";

// The maker's name, the title of the list writer's message.
inline constexpr wchar_t kMakerName[] = L"Quorelsoft";

}  // namespace tovra::suite
