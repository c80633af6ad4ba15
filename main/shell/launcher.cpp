#include "main/shell/launcher.h"

#include <shellapi.h>

#include <vector>

#include "shared/win_handles.h"

namespace tovra::shell {
namespace {

class RealLauncher : public Launcher {
public:
    bool Start(const std::wstring& commandLine, int show) override {
        // CreateProcess may write into the command line.
        std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
        line.push_back(L'\0');
        STARTUPINFOW si{sizeof si};
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = static_cast<WORD>(show);
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            return false;
        UniqueHandle process(pi.hProcess), thread(pi.hThread);
        return true;
    }

    bool Open(const std::wstring& target, int show) override {
        auto result = reinterpret_cast<INT_PTR>(
            ShellExecuteW(nullptr, L"open", target.c_str(), L"", L"", show));
        return result > 32;
    }
};

}  // namespace

Launcher& SystemLauncher() {
    static RealLauncher launcher;
    return launcher;
}

}  // namespace tovra::shell
