// Names and places that more than one program of the suite uses. Every text here is stored or
// shown as it is, so each keeps its exact spelling, the two spellings of the folder included.
#pragma once

namespace tovra::suite {

#define TOVRA_WIDE_(s) L##s
#define TOVRA_WIDE(s) TOVRA_WIDE_(s)

// The product folder, always on drive C:, as the installer makes it and the programs find it.
#define TOVRA_PRODUCT_FOLDER "C:\\Program Files\\tovra"
// The same folder as the installer registers the uninstall command and as the main window
// starts the scanner: spelt with a capital letter, as it always was (the file system does not
// mind the case).
#define TOVRA_PRODUCT_FOLDER_AS_REGISTERED "C:\\Program Files\\Tovra"

inline constexpr wchar_t kProductFolder[] = TOVRA_WIDE(TOVRA_PRODUCT_FOLDER);
inline constexpr char kProductFolderA[] = TOVRA_PRODUCT_FOLDER;

// The virus list: written by utovraa, read by tovraa, shipped on the medium.
inline constexpr wchar_t kVirusListName[] = L"file.dat";
inline constexpr wchar_t kVirusListPath[] = TOVRA_WIDE(TOVRA_PRODUCT_FOLDER "\\file.dat");

// The programs' file names.
inline constexpr wchar_t kMainProgramName[] = L"tovra.exe";
inline constexpr wchar_t kScannerName[] = L"tovraa.exe";
inline constexpr wchar_t kListWriterName[] = L"utovraa.exe";
inline constexpr wchar_t kSetupName[] = L"setup.exe";

// The main program as the start-with-Windows value names it (installer and washer).
inline constexpr char kMainProgramPathA[] = TOVRA_PRODUCT_FOLDER "\\tovra.exe";
// The scanner as the main window's Scan command starts it.
inline constexpr wchar_t kScannerCommandPath[] = TOVRA_WIDE(TOVRA_PRODUCT_FOLDER_AS_REGISTERED "\\tovraa.exe");
// The registered uninstall command.
inline constexpr char kUninstallCommandA[] = TOVRA_PRODUCT_FOLDER_AS_REGISTERED "\\setup.exe";

// Registry names shared by the installer, the washer and the main program.
inline constexpr char kProductName[] = "Tovra Internet Security 1.0";
inline constexpr char kProductKey[] = "software\\Quorelsoft\\Tovra Internet Security\\Main";
inline constexpr char kRunKey[] = "software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kUninstallKey[] =
    "software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tovra Internet Security 1.0";

// The maker's name, the title of the list writer's message.
inline constexpr wchar_t kMakerName[] = L"Quorelsoft";

}  // namespace tovra::suite
