// The cold-start soak's helper, run under Wine beside tovra.exe in the same prefix:
//   knock MS   connection attempts to every watched port for MS milliseconds (nothing listens yet,
//              so each is refused); a Wine program coming and going while tovra starts
//   ports      the watched ports, one line, separated by spaces
//   check      whether tovra runs and its main window is there and answers: exit code 0 if so,
//              1 if not; one line on stdout says what was seen (with the desktop process and the
//              thread counts, which is what a lost window goes with)
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "main/portwatch/port_watch.h"
#include "main/shell/main_ids.h"

namespace {

struct ProcessInfo {
    DWORD pid = 0;
    DWORD threads = 0;
};

std::vector<ProcessInfo> ProcessesNamed(const wchar_t* exe) {
    std::vector<ProcessInfo> found;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return found;
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe)) {
        if (_wcsicmp(pe.szExeFile, exe) == 0) found.push_back({pe.th32ProcessID, pe.cntThreads});
    }
    CloseHandle(snap);
    return found;
}

struct Search {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindMain(HWND w, LPARAM lp) {
    auto* s = reinterpret_cast<Search*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t title[128] = {};
    GetWindowTextW(w, title, 128);
    if (pid == s->pid && std::wcscmp(title, tovra::shell::kMainTitle) == 0) {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindFirewallLabel(HWND w, LPARAM lp) {
    if (GetDlgCtrlID(w) == tovra::shell::lblFireWall) {
        *reinterpret_cast<HWND*>(lp) = w;
        return FALSE;
    }
    return TRUE;
}

int Check() {
    std::vector<ProcessInfo> tovra = ProcessesNamed(L"tovra.exe");
    std::vector<ProcessInfo> explorer = ProcessesNamed(L"explorer.exe");
    HWND main = nullptr;
    HWND label = nullptr;
    std::wstring firewall;
    if (tovra.size() == 1) {
        Search s{tovra[0].pid, nullptr};
        EnumWindows(FindMain, reinterpret_cast<LPARAM>(&s));
        main = s.found;
    }
    if (main) EnumChildWindows(main, FindFirewallLabel, reinterpret_cast<LPARAM>(&label));
    if (label) {
        // A window that is there but does not answer counts as lost.
        wchar_t text[64] = {};
        DWORD_PTR n = 0;
        if (SendMessageTimeoutW(label, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &n))
            firewall = text;
    }
    const bool answers = firewall == L"Stopped" || firewall == L"Running";
    const bool ok = tovra.size() == 1 && main && IsWindowVisible(main) && answers;
    std::printf("tovra=%u tovra-threads=%lu window=%s visible=%d firewall=\"%ls\" explorer=%u explorer-threads=%lu\n",
                static_cast<unsigned>(tovra.size()), tovra.empty() ? 0ul : tovra[0].threads, main ? "found" : "none",
                main ? static_cast<int>(IsWindowVisible(main)) : 0, firewall.c_str(),
                static_cast<unsigned>(explorer.size()), explorer.empty() ? 0ul : explorer[0].threads);
    return ok ? 0 : 1;
}

int Knock(DWORD ms) {
    WSADATA d;
    if (WSAStartup(MAKEWORD(2, 2), &d) != 0) return 2;
    unsigned attempts = 0;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        for (const auto& w : tovra::portwatch::Watchers()) {
            SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            if (s == INVALID_SOCKET) continue;
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(w.port);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to);  // refused: nothing listens yet
            closesocket(s);
            ++attempts;
        }
        Sleep(50);
    }
    WSACleanup();
    std::printf("knock attempts=%u\n", attempts);
    return 0;
}

}  // namespace

int Ports() {
    for (const auto& w : tovra::portwatch::Watchers()) std::printf("%u ", static_cast<unsigned>(w.port));
    std::printf("\n");
    return 0;
}

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && std::wcscmp(argv[1], L"ports") == 0) return Ports();
    if (argc >= 2 && std::wcscmp(argv[1], L"check") == 0) return Check();
    if (argc >= 3 && std::wcscmp(argv[1], L"knock") == 0)
        return Knock(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    std::fprintf(stderr, "usage: cold_start_probe ports | check | knock MS\n");
    return 2;
}
