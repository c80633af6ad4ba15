// Starting other programs and handing addresses to the shell, behind one seam so that tests can
// see what the main program asks for without starting anything.
#pragma once
#include <windows.h>

#include <string>

#include "shared/suite.h"

namespace tovra::shell {

class Launcher {
public:
    virtual ~Launcher() = default;
    // Starts a program from its command line in a window of the given show state (SW_*); does not
    // wait for it. False when the program could not be started.
    virtual bool Start(const std::wstring& commandLine, int show) = 0;
    // Opens a document or address as the shell sees fit (ShellExecute's "open").
    virtual bool Open(const std::wstring& target, int show) = 0;
};

// The real one.
Launcher& SystemLauncher();

// A path as one command-line argument.
using suite::Quoted;

// Fixed places the main program knows.
inline std::wstring ScannerPath() { return suite::ScannerCommandPath(); }
// Written with backslashes, as it always was; the shell and the browsers take it.
constexpr const wchar_t* kUpdateAddress = L"http:\\\\www.quorelsoft.com\\utovraa.exe";
constexpr const wchar_t* kInternetOptionsCommand = L"control.exe INETCPL.CPL";

}  // namespace tovra::shell
