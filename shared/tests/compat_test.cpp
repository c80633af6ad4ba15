// The run-time-loaded calls agree with their Windows XP paths.
#include "shared/compat.h"

#include <gtest/gtest.h>

#include <string>

#include "shared/win_handles.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tovra::compat;

// Runs the body once on the newer path and once on the XP path.
class CompatTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { ForceXpPaths(GetParam()); }
    void TearDown() override { ForceXpPaths(false); }
};

TEST_P(CompatTest, CompareNoCaseOrdersAsTheFileSystem) {
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        int sign;
    } cases[] = {
        {L"Trojan.Slog", L"TROJAN.SLOG", 0}, {L"a", L"B", -1},       {L"B2", L"a", 1},
        {L"", L"", 0},                       {L"ab", L"abc", -1},    {L"_x", L"Z", 1},
        {L"\u00e9t\u00e9", L"\u00c9T\u00c9", 0}, {L"x.txt", L"x.txu", -1},
    };
    for (const Case& c : cases) {
        const std::wstring a = c.a, b = c.b;
        const int r = CompareNoCase(a.data(), a.size(), b.data(), b.size());
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << "case " << testing::PrintToString(a) << " vs "
                                             << testing::PrintToString(b);
        EXPECT_EQ(EqualNoCase(a, b), c.sign == 0);
    }
    // Lengths are honoured: no reading up to a terminator.
    EXPECT_EQ(CompareNoCase(L"abcX", 3, L"ABCy", 3), 0);
}

TEST_P(CompatTest, TickCountRunsWithTheSystemClock) {
    const DWORD before = GetTickCount();
    const ULONGLONG a = TickCount64();
    Sleep(200);
    const ULONGLONG b = TickCount64();
    const DWORD after = GetTickCount();
    EXPECT_LE(a, b);
    // Both clocks tick together (Wine's tick count moves in steps of several milliseconds).
    EXPECT_LE(b - a, static_cast<ULONGLONG>(after - before) + 20);
    EXPECT_GE(b - a + 20, static_cast<ULONGLONG>(after - before));
    EXPECT_GE(b - a, 150u);
    // The low part is GetTickCount itself.
    EXPECT_LT(after - static_cast<DWORD>(b), 1000u);
}

TEST(CompatTickCount, XpPathCarriesEachWrapIntoTheHighPart) {
    struct Case {
        ULONGLONG last;
        DWORD now;
        ULONGLONG expected;
    } cases[] = {
        {0, 5, 5},
        {5, 5, 5},
        {0xFFFFFF00ull, 0xFFFFFFFFu, 0xFFFFFFFFull},
        {0xFFFFFF00ull, 0x10u, 0x100000010ull},        // the counter wrapped
        {0x100000010ull, 0x20u, 0x100000020ull},       // after a wrap the high part stays
        {0x2FFFFFFF0ull, 0x3u, 0x300000003ull},        // a second wrap
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExtendTickCount(c.last, c.now), c.expected) << std::hex << c.last << " then " << c.now;
    }
}

TEST_P(CompatTest, Ipv4TextIsDottedDecimal) {
    struct Case {
        unsigned char b[4];
        const wchar_t* text;
    } cases[] = {{{127, 0, 0, 1}, L"127.0.0.1"}, {{0, 0, 0, 0}, L"0.0.0.0"}, {{255, 255, 255, 255}, L"255.255.255.255"},
                 {{10, 20, 3, 254}, L"10.20.3.254"}};
    for (const Case& c : cases) {
        in_addr a;
        memcpy(&a, c.b, 4);
        EXPECT_EQ(Ipv4Text(a), c.text);
    }
}

TEST_P(CompatTest, Ipv6TextIsTheShortestForm) {
    WSADATA d;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &d), 0);  // the XP path writes through the IPv6 provider
    struct Case {
        unsigned short words[8];
        const wchar_t* text;
    } cases[] = {
        {{0, 0, 0, 0, 0, 0, 0, 1}, L"::1"},
        {{0, 0, 0, 0, 0, 0, 0, 0}, L"::"},
        {{0x2001, 0xdb8, 0, 0, 0, 0, 0, 1}, L"2001:db8::1"},
        {{0xfe80, 0, 0, 0, 1, 2, 3, 4}, L"fe80::1:2:3:4"},
        {{1, 0, 0, 1, 0, 0, 0, 1}, L"1:0:0:1::1"},  // the longest run of zeros goes
        {{1, 0, 2, 3, 4, 5, 6, 7}, L"1:0:2:3:4:5:6:7"},  // a single zero stays
        {{1, 0, 0, 0, 0, 0, 0, 0}, L"1::"},
        {{0, 0, 0, 0, 0, 0xffff, 0x0102, 0x0304}, L"::ffff:1.2.3.4"},  // an IPv4 caller as IPv6 shows it
        {{0xabcd, 0xef01, 0x2345, 0x6789, 0xabcd, 0xef01, 0x2345, 0x6789}, L"abcd:ef01:2345:6789:abcd:ef01:2345:6789"},
    };
    for (const Case& c : cases) {
        in6_addr a;
        for (int i = 0; i < 8; ++i) {
            a.s6_addr[2 * i] = static_cast<unsigned char>(c.words[i] >> 8);
            a.s6_addr[2 * i + 1] = static_cast<unsigned char>(c.words[i] & 0xff);
        }
        EXPECT_EQ(Ipv6Text(a), c.text);
    }
    WSACleanup();
}

TEST_P(CompatTest, MessagesFromTheShellAreLetThrough) {
    HWND w = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(AllowMessageFromShell(w, RegisterWindowMessageW(L"TaskbarCreated")));
    DestroyWindow(w);
}

TEST_P(CompatTest, FindFirstFileFastListsLongNames) {
    tovra::test::TempDir dir;
    const std::wstring name = L"A long file name.text";
    dir.WriteFile(name, "x");
    WIN32_FIND_DATAW fd;
    tovra::UniqueFind find(FindFirstFileFast((dir.path() + L"\\A long*").c_str(), &fd));
    ASSERT_TRUE(find) << GetLastError();
    EXPECT_EQ(std::wstring(fd.cFileName), name);
    EXPECT_EQ(FindNextFileW(find.get(), &fd), FALSE);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(tovra::UniqueFind(FindFirstFileFast((dir.path() + L"\\none*").c_str(), &fd)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

INSTANTIATE_TEST_SUITE_P(NewerAndXp, CompatTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "XpPath" : "NewerPath"; });

}  // namespace

namespace {

std::wstring ModulePath(HMODULE m) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(m, path, MAX_PATH);
    return path;
}

std::wstring SystemFolder() {
    wchar_t path[MAX_PATH] = {};
    GetSystemDirectoryW(path, MAX_PATH);
    return path;
}

// A DLL planted in the current folder (a downloads folder, say) must not stand in for a system
// one: the suite loads its DLLs by full path, and the current folder leaves the search.
TEST(CompatDllSearch, SystemLibrariesComeFromTheSystemFolderAndThePlantedOneIsNotFound) {
    for (const wchar_t* name : {L"atl.dll", L"wininet.dll"}) {
        tovra::UniqueModule m(LoadSystemLibrary(name));
        ASSERT_TRUE(m) << testing::PrintToString(std::wstring(name));
        std::wstring path = ModulePath(m.get());
        EXPECT_EQ(_wcsnicmp(path.c_str(), SystemFolder().c_str(), SystemFolder().size()), 0)
            << testing::PrintToString(path);
    }

    tovra::test::TempDir downloads;
    const std::wstring planted = downloads / L"tovra_planted.dll";
    ASSERT_TRUE(CopyFileW((SystemFolder() + L"\\version.dll").c_str(), planted.c_str(), FALSE));
    wchar_t before[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, before);
    ASSERT_TRUE(SetCurrentDirectoryW(downloads.path().c_str()));
    {
        tovra::UniqueModule found(LoadLibraryW(L"tovra_planted.dll"));
        EXPECT_TRUE(found) << "the fixture does not show the current folder in the search";
    }
    HardenDllSearch();
    tovra::UniqueModule after(LoadLibraryW(L"tovra_planted.dll"));
    EXPECT_FALSE(after) << "a DLL of the current folder was loaded after the search was hardened";
    tovra::UniqueModule system(LoadLibraryW(L"version.dll"));
    EXPECT_TRUE(system) << "the system folder left the search";
    SetCurrentDirectoryW(before);
}

TEST(CompatSystem, A64BitProgramNeedsNoRedirectionTurnedOff) {
    // This test build is 64-bit: Windows (and Wine) give it the real System32 as it is.
    EXPECT_TRUE(Is64BitWindows());
    EXPECT_FALSE(IsWow64());
    wchar_t before[MAX_PATH] = {};
    GetSystemDirectoryW(before, MAX_PATH);
    FileSystemRedirectionOff off;
    EXPECT_FALSE(off.active());
    {
        FileSystemRedirectionOff::Restored forTheWindow(&off);
        EXPECT_FALSE(off.active());
    }
    EXPECT_FALSE(off.active());
    EXPECT_TRUE(tovra::test::PathExists(std::wstring(before) + L"\\kernel32.dll"));
}

TEST(CompatSystem, RunsUnderWineWhereNtdllIsWines) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    ASSERT_NE(ntdll, nullptr);
    const bool wine = GetProcAddress(ntdll, "wine_get_version") != nullptr;
    EXPECT_EQ(RunsUnderWine(), wine);
    EXPECT_EQ(RunsUnderWine(), RunsUnderWine()) << "the answer changes";
    if (RunsUnderWine()) {
        // A Wine prefix always has Wine's own settings key.
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine", 0, KEY_READ, &key), ERROR_SUCCESS);
        if (key) RegCloseKey(key);
    }
}

}  // namespace
