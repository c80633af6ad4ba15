// Seeds and counts the URL cache from a process of its own, for the end-to-end test: the test
// itself keeps WinINet out of its process, so what it sees is what a fresh program would see.
//   washer_cache_tool seed   adds pages (one with a 3,000-character address) and a cookie; 0 = done
//   washer_cache_tool count  exit code = number of entries of the test site
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

bool AddPage(const std::string& url) {
    char file[MAX_PATH] = {};
    if (!CreateUrlCacheEntryA(url.c_str(), 0, "htm", file, 0)) return false;
    HANDLE h = CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    WriteFile(h, "<html></html>", 13, &written, nullptr);
    CloseHandle(h);
    char headers[] = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
    FILETIME none{};
    return CommitUrlCacheEntryA(url.c_str(), file, none, none, NORMAL_CACHE_ENTRY, reinterpret_cast<BYTE*>(headers),
                                sizeof headers - 1, "htm", nullptr) != FALSE;
}

int Count() {
    std::vector<std::uint64_t> buffer(8192);
    auto* info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
    DWORD size = static_cast<DWORD>(buffer.size() * 8);
    HANDLE search = FindFirstUrlCacheEntryA(nullptr, info, &size);
    if (!search) return GetLastError() == ERROR_NO_MORE_ITEMS ? 0 : 200;
    int count = 0;
    do {
        if (info->lpszSourceUrlName && std::string(info->lpszSourceUrlName).find("tovra.test") != std::string::npos) {
            ++count;
        }
        size = static_cast<DWORD>(buffer.size() * 8);
    } while (FindNextUrlCacheEntryA(search, info, &size));
    DWORD error = GetLastError();
    FindCloseUrlCache(search);
    return error == ERROR_NO_MORE_ITEMS ? count : 201;
}

}  // namespace

int main(int argc, char** argv) {
    std::string what = argc > 1 ? argv[1] : "";
    if (what == "seed") {
        bool ok = AddPage("http://tovra.test/e2e/one.htm") && AddPage("http://tovra.test/e2e/two.htm") &&
                  AddPage("http://tovra.test/e2e/" + std::string(3000, 'l') + ".htm") &&
                  InternetSetCookieA("http://tovra.test/", "visit", "1; expires=Sat, 01-Jan-2039 00:00:00 GMT");
        return ok ? 0 : 100;
    }
    if (what == "count") return Count();
    std::fprintf(stderr, "usage: washer_cache_tool seed|count\n");
    return 102;
}
