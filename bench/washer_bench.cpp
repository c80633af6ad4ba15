// The washer's folder sweep against a plain recursive walk that deletes the same files.
// A generated tree of 20,000 files in 2,000 folders is swept by each in turn, three times, in
// alternating order; the result is the median of the three ratios (the machine is shared, and a
// single round can be off by half).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "main/washer/folder_sweep.h"

namespace {

constexpr int kTopFolders = 40;
constexpr int kSubFolders = 49;     // 40 + 40 * 49 = 2,000 folders
constexpr int kFilesPerFolder = 10;  // in each of the 2,000: 20,000 files

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void MakeFiles(const std::wstring& folder) {
    CreateDirectoryW(folder.c_str(), nullptr);
    for (int f = 0; f < kFilesPerFolder; ++f) {
        std::wstring name = folder + L"\\file" + std::to_wstring(f) + L".tmp";
        HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
}

void MakeTree(const std::wstring& root) {
    CreateDirectoryW(root.c_str(), nullptr);
    for (int t = 0; t < kTopFolders; ++t) {
        std::wstring top = root + L"\\top" + std::to_wstring(t);
        MakeFiles(top);
        for (int s = 0; s < kSubFolders; ++s) MakeFiles(top + L"\\sub" + std::to_wstring(s));
    }
}

// The plain walk: list a folder, delete its files, go into its folders.
void PlainWalk(const std::wstring& folder) {
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring full = folder + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            PlainWalk(full);
        } else {
            DeleteFileW(full.c_str());
        }
    } while (FindNextFileW(find, &fd));
    FindClose(find);
}

int CountFiles(const std::wstring& folder) {
    int count = 0;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return 0;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        count += (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? CountFiles(folder + L"\\" + name) : 1;
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    return count;
}

void RemoveFolders(const std::wstring& folder) {
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = folder + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveFolders(full);
            } else {
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(find, &fd));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

// One timed sweep of a fresh tree; Label1 is a real label on a (hidden) form, as in tovra.
double TimeSweep(const std::wstring& root, HWND label) {
    MakeTree(root);
    double start = Now();
    tovra::washer::FolderSweep sweep([label](const std::wstring& text) { SetWindowTextW(label, text.c_str()); });
    if (sweep.dirList.SetPath(root)) sweep.Find();
    double seconds = Now() - start;
    if (int left = CountFiles(root)) std::printf("  sweep left %d files\n", left);
    return seconds;
}

double TimePlainWalk(const std::wstring& root) {
    MakeTree(root);
    double start = Now();
    PlainWalk(root);
    double seconds = Now() - start;
    if (int left = CountFiles(root)) std::printf("  plain walk left %d files\n", left);
    return seconds;
}

}  // namespace

int main() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring root = std::wstring(temp) + L"tovra-washer-bench-" + std::to_wstring(GetCurrentProcessId());
    HWND form = CreateWindowExW(0, L"STATIC", L"frmMain", WS_POPUP, 0, 0, 300, 140, nullptr, nullptr, nullptr, nullptr);
    HWND label = CreateWindowExW(0, L"STATIC", L"Services", WS_CHILD | WS_VISIBLE, 16, 8, 73, 17, form, nullptr,
                                 nullptr, nullptr);

    std::printf("washer sweep vs plain recursive walk: %d files in %d folders\n",
                kTopFolders * (kSubFolders + 1) * kFilesPerFolder, kTopFolders * (kSubFolders + 1));
    std::vector<double> ratios;
    for (int round = 0; round < 3; ++round) {
        double s, p;
        if (round % 2 == 0) {
            p = TimePlainWalk(root);
            s = TimeSweep(root, label);
        } else {
            s = TimeSweep(root, label);
            p = TimePlainWalk(root);
        }
        std::printf("  round %d: sweep %.2f s, plain walk %.2f s, ratio %.2f\n", round + 1, s, p, s / p);
        ratios.push_back(s / p);
    }
    std::sort(ratios.begin(), ratios.end());
    RemoveFolders(root);
    if (form) DestroyWindow(form);
    std::printf("ratio sweep / plain walk (median): %.2f (aim: at most 1.5)\n", ratios[1]);
    return 0;
}
