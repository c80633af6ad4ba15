// The scanner's speed against a plain recursive listing of the same tree, measured in one run:
// one search, and a scan of the 97 shipped names (which lists the drive once and reuses it).
// Goals: one search at most 1.2 times the listing, the 97-name scan at most 5 times.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "listwriter/virus_list.h"
#include "scanner/search_engine.h"
#include "shared/forms.h"

namespace {

using tovra::scanner::NameRule;
using tovra::scanner::ScanScope;
using tovra::scanner::SearchEngine;
using tovra::scanner::SearchView;

constexpr int kTop = 50, kSub = 99, kFilesPerFolder = 10;  // 5000 folders, 50,000 files
constexpr int kRuns = 3;

// Counts rows; lets events run as the scan window does.
class CountingView : public SearchView {
public:
    void AddRow(const std::wstring&, const std::wstring&, const std::wstring&, const std::wstring&) override { ++rows; }
    int RowCount() const override { return rows; }
    void SetStatus(const std::wstring&) override {}
    bool DoEvents() override { return tovra::forms::DoEvents(); }
    int rows = 0;
};

double Now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

// The baseline: every folder listed once, recursively, with the plain API.
long long PlainListing(const std::wstring& folder) {
    long long entries = 0;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return 0;
    std::vector<std::wstring> subfolders;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        ++entries;
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            subfolders.push_back(name);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    for (const std::wstring& s : subfolders) entries += PlainListing(folder + L"\\" + s);
    return entries;
}

std::wstring FolderName(int top, int sub) {
    wchar_t buf[32];
    if (sub < 0) {
        swprintf(buf, 32, L"t%02d", top);
    } else {
        swprintf(buf, 32, L"t%02d\\s%02d", top, sub);
    }
    return buf;
}

std::string UnixPath(const std::wstring& path) {
    using Fn = char*(CDECL*)(LPCWSTR);
    auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!fn) return {};
    char* p = fn(path.c_str());
    if (!p) return {};
    std::string out = p;
    HeapFree(GetProcessHeap(), 0, p);
    return out;
}

// Starts a Unix shell command (under Wine); it runs on its own, so callers wait for its effect.
bool RunShell(const std::string& command) {
    std::string line = "/bin/sh -c \"" + command + "\"";
    STARTUPINFOA si{sizeof si};
    PROCESS_INFORMATION pi{};
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back('\0');
    if (!CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

void WriteText(const std::wstring& path, const std::string& text) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
}

// Builds the tree; from Unix when running under Wine (seconds instead of minutes).
bool MakeTree(const std::wstring& root) {
    CreateDirectoryW(root.c_str(), nullptr);
    std::string unixRoot = UnixPath(root);
    if (!unixRoot.empty()) {
        std::string dirs, files;
        for (int t = 0; t < kTop; ++t) {
            for (int s = -1; s < kSub; ++s) {
                std::wstring w = FolderName(t, s);
                std::string folder(w.begin(), w.end());
                std::replace(folder.begin(), folder.end(), '\\', '/');
                if (s >= 0) dirs += folder + "\n";
                for (int f = 0; f < kFilesPerFolder; ++f) files += folder + "/file" + std::to_string(f) + ".dat\n";
            }
        }
        WriteText(root + L"\\dirs.lst", dirs);
        WriteText(root + L"\\files.lst", files);
        // Wine starts Unix programs detached: the shell leaves a marker when it is done.
        if (RunShell("cd '" + unixRoot + "' && xargs mkdir -p < dirs.lst && xargs touch < files.lst && " +
                     "rm dirs.lst files.lst && : > made.mark")) {
            std::wstring mark = root + L"\\made.mark";
            for (int waited = 0; waited < 600000; waited += 50) {
                if (GetFileAttributesW(mark.c_str()) != INVALID_FILE_ATTRIBUTES) {
                    DeleteFileW(mark.c_str());
                    return true;
                }
                Sleep(50);
            }
            return false;
        }
    }
    for (int t = 0; t < kTop; ++t) {
        for (int s = -1; s < kSub; ++s) {
            std::wstring folder = root + L"\\" + FolderName(t, s);
            CreateDirectoryW(folder.c_str(), nullptr);
            for (int f = 0; f < kFilesPerFolder; ++f) {
                HANDLE h = CreateFileW((folder + L"\\file" + std::to_wstring(f) + L".dat").c_str(), GENERIC_WRITE, 0,
                                       nullptr, CREATE_ALWAYS, 0, nullptr);
                if (h == INVALID_HANDLE_VALUE) return false;
                CloseHandle(h);
            }
        }
    }
    return true;
}

void RemoveTree(const std::wstring& root) {
    std::string unixRoot = UnixPath(root);
    if (!unixRoot.empty() && unixRoot.find("tovra-bench-scanner") != std::string::npos &&
        RunShell("rm -rf '" + unixRoot + "'")) {
        return;
    }
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((root + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring p = root + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(p);
            } else {
                DeleteFileW(p.c_str());
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(root.c_str());
}

// A few files the searches find (and delete), planted again before every run.
void PlantMatches(const std::wstring& root) {
    const wchar_t* names[] = {L"W32.Torun.dr", L"Trojan.Gema", L"PWS-QQDrag [McAfee]"};
    for (int i = 0; i < 5; ++i) {
        std::wstring path = root + L"\\" + FolderName(i * 10, i * 20) + L"\\" + names[i % 3];
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring root = std::wstring(temp) + L"tovra-bench-scanner-" + std::to_wstring(GetCurrentProcessId());
    std::printf("building %d folders, %d files...\n", kTop * (kSub + 1), kTop * (kSub + 1) * kFilesPerFolder);
    if (!MakeTree(root)) {
        std::printf("cannot build the tree\n");
        RemoveTree(root);
        return 1;
    }
    std::vector<std::wstring> names;
    for (const char* n : tovra::VirusNames()) names.emplace_back(n, n + strlen(n));

    long long entries = PlainListing(root);  // warm the caches once
    std::vector<double> listing, search, scan;
    int searchRows = 0, scanRows = 0;
    for (int run = 0; run < kRuns; ++run) {
        double t0 = Now();
        entries = PlainListing(root);
        listing.push_back(Now() - t0);

        PlantMatches(root);
        SearchEngine engine;
        CountingView one;
        t0 = Now();
        engine.SearchFiles(L"W32.Torun.dr", root, one, NameRule::ExactName);
        search.push_back(Now() - t0);
        searchRows = one.rows;

        PlantMatches(root);
        CountingView all;
        t0 = Now();
        {
            ScanScope scope(engine);
            for (const std::wstring& n : names) engine.SearchFiles(n, root, all, NameRule::ExactName);
        }
        scan.push_back(Now() - t0);
        scanRows = all.rows;
    }
    RemoveTree(root);

    double base = Median(listing);
    if (entries != kTop * (kSub + 1) * (kFilesPerFolder + 1)) {
        std::printf("the tree was not complete (%lld entries): no valid measurement\n", entries);
        return 1;
    }
    std::printf("plain listing: %lld entries, %.3f s (median of %d)\n", entries, base, kRuns);
    std::printf("one search:    %.3f s, %d rows; ratio %.2f (goal <= 1.2)\n", Median(search), searchRows,
                Median(search) / base);
    std::printf("97-name scan:  %.3f s, %d rows; ratio %.2f (goal <= 5)\n", Median(scan), scanRows,
                Median(scan) / base);
    return 0;
}
