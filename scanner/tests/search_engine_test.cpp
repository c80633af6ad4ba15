#include "scanner/search_engine.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scanner/tests/scanner_fixtures.h"
#include "tests/support/temp_dir.h"

namespace {

using tovra::scanner::NamePattern;
using tovra::scanner::ScanScope;
using tovra::scanner::SearchEngine;
using tovra::scanner::SummaryText;
using tovra::scanner::test::MakeDirLink;
using tovra::scanner::test::Names;
using tovra::scanner::test::PlantFile;
using tovra::scanner::test::RecordingView;
using tovra::scanner::test::Row;
using tovra::scanner::test::SetAttributes;
using tovra::test::PathExists;
using tovra::test::TempDir;

using NameList = std::vector<std::wstring>;

// A search that shows every folder step, as the tests need to see them all.
std::wstring Search(SearchEngine& engine, const std::wstring& pattern, const std::wstring& folder,
                    RecordingView& view) {
    engine.SetPumpInterval(0);
    return engine.SearchFiles(pattern, folder, view);
}

FILETIME LocalFileTime(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) {
    SYSTEMTIME local{y, mo, 0, d, h, mi, s, 0}, utc{};
    TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc);
    FILETIME ft{};
    SystemTimeToFileTime(&utc, &ft);
    return ft;
}

// ---- Texts ------------------------------------------------------------------------------------

TEST(SearchEngineTest, SizeTextsAsTheExamples) {
    struct Case {
        std::uint64_t bytes;
        const wchar_t* text;
    } cases[] = {
        {0, L" 1KB"},         {1, L" 1KB"},         {1023, L" 1KB"},         {1024, L" 2KB"},
        {5427, L" 6KB"},      {9215, L" 9KB"},      {9216, L"10KB"},         {20480, L"21KB"},
        {1048575, L"1024KB"}, {1048576, L"1025KB"}, {1048577, L"1MB"},       {2000000, L"1MB"},
        {2047999, L"1MB"},    {2048000, L"2MB"},    {3000000, L"2MB"},       {5000000000ull, L"4882MB"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        EXPECT_EQ(tovra::scanner::SizeText(c.bytes), c.text) << c.bytes << " bytes";
        if (c.bytes > 3000000) continue;
        std::wstring path = dir / (L"f" + std::to_wstring(c.bytes));
        PlantFile(path, c.bytes);
        EXPECT_EQ(tovra::scanner::FileSizeText(path), c.text) << c.bytes << " bytes on disk";
    }
    // A length that cannot be read leaves the cell empty.
    EXPECT_EQ(tovra::scanner::FileSizeText(dir / L"missing"), L"");
}

TEST(SearchEngineTest, DateTextInTheUsersGeneralFormat) {
    // The texts are those of the test prefix's locale; elsewhere they cannot be known beforehand.
    ASSERT_EQ(GetUserDefaultLCID(), static_cast<LCID>(0x409)) << "the pinned texts are English (United States)";
    TempDir dir;
    std::wstring path = dir / L"dated.exe";
    PlantFile(path);
    struct Case {
        SYSTEMTIME local;
        const wchar_t* text;
    } cases[] = {
        {{2004, 5, 0, 3, 14, 5, 7, 0}, L"5/3/2004 2:05:07 PM"},
        {{2004, 5, 0, 3, 0, 0, 0, 0}, L"5/3/2004"},  // midnight: the date alone
        {{2004, 12, 0, 24, 0, 0, 1, 0}, L"12/24/2004 12:00:01 AM"},
        {{2004, 12, 0, 24, 0, 1, 0, 0}, L"12/24/2004 12:01:00 AM"},
        {{2004, 12, 0, 24, 12, 0, 0, 0}, L"12/24/2004 12:00:00 PM"},  // noon is no midnight
        {{1999, 1, 0, 1, 23, 59, 59, 0}, L"1/1/1999 11:59:59 PM"},
        {{2010, 10, 0, 31, 9, 30, 0, 0}, L"10/31/2010 9:30:00 AM"},
    };
    for (const Case& c : cases) {
        const SYSTEMTIME& t = c.local;
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        FILETIME ft = LocalFileTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
        HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &ft));
        CloseHandle(h);
        EXPECT_EQ(tovra::scanner::FileDateText(path), c.text);
        EXPECT_EQ(tovra::scanner::DateText(ft), c.text);
    }
    EXPECT_EQ(tovra::scanner::FileDateText(dir / L"missing"), L"");
}

TEST(SearchEngineTest, SummaryCountsEveryRowOfTheList) {
    EXPECT_EQ(SummaryText(3), L"3 virus(s) found and removed. Please Clean IE");
    TempDir dir;
    PlantFile(dir / L"x\\Trojan.Gema");
    RecordingView view;
    view.rows.resize(2);  // rows of earlier searches stay and count
    SearchEngine engine;
    EXPECT_EQ(Search(engine, L"Trojan.Gema", dir.path(), view), SummaryText(3));
}

// ---- The walk ---------------------------------------------------------------------------------

TEST(SearchEngineTest, WalksDepthFirstAndListsEachFolderAfterItsSubfolders) {
    TempDir dir;
    const std::wstring root = dir.path();
    PlantFile(dir / L"W32.Torun", 1024);
    PlantFile(dir / L"a\\W32.Torun", 3000000);
    PlantFile(dir / L"a\\x\\w32.torun");
    PlantFile(dir / L"b\\W32.TORUN");
    PlantFile(dir / L"b\\W32.Torun.dr");  // another name
    PlantFile(dir / L"zz.txt");
    dir.MakeDir(L"a\\empty");

    RecordingView view;
    SearchEngine engine;
    std::wstring summary = Search(engine, L"W32.Torun", root + L"\\\\", view);  // trailing backslashes dropped
    EXPECT_EQ(summary, SummaryText(4));
    ASSERT_EQ(view.rows.size(), 4u);
    const Row expected[] = {
        {L"w32.torun", root + L"\\a\\x", L" 1KB", {}},
        {L"W32.Torun", root + L"\\a", L"2MB", {}},
        {L"W32.TORUN", root + L"\\b", L" 1KB", {}},
        {L"W32.Torun", root, L" 2KB", {}},
    };
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(view.rows[i].name, expected[i].name) << i;  // spelled as the listing spells it
        EXPECT_EQ(view.rows[i].folder, expected[i].folder) << i;
        EXPECT_EQ(view.rows[i].size, expected[i].size) << i;
        EXPECT_FALSE(view.rows[i].modified.empty()) << i;
    }
    // The folder steps, each shown as the walk moves on to it.
    EXPECT_EQ(view.statuses, (NameList{root + L"\\a", root + L"\\a\\empty", root + L"\\a\\x", root + L"\\b"}));
    EXPECT_FALSE(PathExists(dir / L"W32.Torun"));
    EXPECT_FALSE(PathExists(dir / L"a\\x\\w32.torun"));
    EXPECT_TRUE(PathExists(dir / L"b\\W32.Torun.dr"));
    EXPECT_TRUE(PathExists(dir / L"zz.txt"));
    EXPECT_FALSE(engine.Searching());
}

TEST(SearchEngineTest, WhatIsListedDeletedOrLeftAlone) {
    TempDir dir, outside;
    const std::wstring n = L"W32.Sober@mm";
    PlantFile(dir / (L"readonly\\" + n));
    SetAttributes(dir / (L"readonly\\" + n), FILE_ATTRIBUTE_READONLY);
    PlantFile(dir / (L"hiddenfile\\" + n));
    SetAttributes(dir / (L"hiddenfile\\" + n), FILE_ATTRIBUTE_HIDDEN);
    PlantFile(dir / (L"systemfile\\" + n));
    SetAttributes(dir / (L"systemfile\\" + n), FILE_ATTRIBUTE_SYSTEM);
    PlantFile(dir / (L"hiddendir\\" + n));
    SetAttributes(dir / L"hiddendir", FILE_ATTRIBUTE_HIDDEN);
    PlantFile(dir / (L".dotdir\\" + n));  // hidden the Unix way
    PlantFile(dir / (L"systemdir\\" + n));
    SetAttributes(dir / L"systemdir", FILE_ATTRIBUTE_SYSTEM);
    PlantFile(dir / (L"archivedir\\" + n));
    // Wine keeps no archive bit on folders (it reads 0x10 again); Windows does. The rule itself
    // is checked by WalksIntoFoldersByTheirAttributes.
    SetAttributes(dir / L"archivedir", FILE_ATTRIBUTE_ARCHIVE);
    PlantFile(outside / n);
    MakeDirLink(dir / L"link", outside.path());
    dir.MakeDir(n);  // a folder of that name is no file

    RecordingView view;
    SearchEngine engine;
    EXPECT_EQ(Search(engine, n, dir.path(), view), SummaryText(2));
    ASSERT_EQ(view.rows.size(), 2u);
    EXPECT_EQ(view.rows[0].folder, dir / L"archivedir");  // walked whatever its archive bit
    EXPECT_EQ(view.rows[1].folder, dir / L"readonly");    // listed, counted ...
    EXPECT_TRUE(PathExists(dir / (L"readonly\\" + n)));   // ... and kept
    EXPECT_FALSE(PathExists(dir / (L"archivedir\\" + n)));
    for (const wchar_t* kept : {L"hiddenfile\\", L"systemfile\\", L"hiddendir\\", L".dotdir\\", L"systemdir\\"}) {
        EXPECT_TRUE(PathExists(dir / (kept + n))) << kept;
    }
    EXPECT_TRUE(PathExists(outside / n)) << "the search followed a link out of its tree";
    EXPECT_TRUE(PathExists(dir / n));
    for (const std::wstring& s : view.statuses) EXPECT_EQ(s.find(L"link"), std::wstring::npos) << s;
    SetAttributes(dir / (L"readonly\\" + n), FILE_ATTRIBUTE_NORMAL);
}

// Under Wine a link to a file looks like a plain file, and deleting it deletes what it points to.
TEST(SearchEngineTest, ALinkNamedLikeAnEntryLeavesItsTargetUntouched) {
    TempDir dir, outside;
    tovra::test::WriteFileAt(outside / L"report.doc", "the user's document");
    tovra::test::MakeFileLink(dir / L"sub\\Trojan.Slog", outside / L"report.doc");
    PlantFile(dir / L"Trojan.Slog");  // a real one beside it goes
    SearchEngine engine;
    RecordingView view;
    EXPECT_EQ(Search(engine, L"Trojan.Slog", dir.path(), view), SummaryText(2));
    EXPECT_EQ(Names(view.rows), (NameList{L"Trojan.Slog", L"Trojan.Slog"}));  // listed, like a file that cannot go
    EXPECT_EQ(tovra::test::ReadFileAt(outside / L"report.doc"), "the user's document");
    EXPECT_TRUE(PathExists(dir / L"sub\\Trojan.Slog")) << "the link is kept too";
    EXPECT_FALSE(PathExists(dir / L"Trojan.Slog"));
}

TEST(SearchEngineTest, WalksIntoFoldersByTheirAttributes) {
    struct Case {
        DWORD attributes;
        bool walked;
    } cases[] = {
        {0x10, true},    {0x11, true},   {0x30, true},   {0x31, true},   {0x2010, true}, {0x810, true},
        {0x12, false},   {0x14, false},  {0x16, false},  {0x32, false},  {0x34, false},  {0x410, false},
        {0x430, false},  {0x20, false},  {0x00, false},  {0x80, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tovra::scanner::WalksInto(c.attributes), c.walked) << std::hex << c.attributes;
    }
}

TEST(SearchEngineTest, PatternsMatchNamesNeverWildcardsOrPaths) {
    struct Case {
        const wchar_t* pattern;
        NameList found;  // of the files below, in listing order
        NameList foundAsListName = {L"="};  // the same unless given
    } cases[] = {
        {L"Worm.W32.Torun [AVP]", {L"worm.w32.torun [avp]"}},  // brackets are plain characters
        {L"W32.Torun", {L"W32.Torun"}},
        {L"Doc1.doc.exe.", {L"Doc1.doc.exe"}},                 // the system drops a trailing dot
        {L"Wendy", {L"Wendy.zip", L"wendyX"}, {}},             // no extension: every file starting so
        {L"PWS-QQDrag [McAfee]", {L"PWS-QQDrag [McAfee]", L"PWS-QQDrag [McAfee].exe"}, {L"PWS-QQDrag [McAfee]"}},
        {L".abc", {L".abcd"}, {}},
        {L"", {}},                                             // never every file
        {L"*", {}},
        {L"*.*", {}},
        {L"W32.Torun*", {}},
        {L"W?2.Torun", {}},
        {L"W32<", {}},
        {L"W32/Sober-C [Sophos]", {}},                         // a path, not a name
        {L"W32\\Sober-C [Sophos]", {}},
        {L"a:b.exe", {}},
        {L"..", {}},
        {L"...", {}},
    };
    for (const Case& c : cases) {
        for (bool listName : {false, true}) {
            TempDir dir;
            for (const wchar_t* f : {L"worm.w32.torun [avp]", L"W32.Torun", L"Doc1.doc.exe", L"Wendy.zip", L"wendyX",
                                     L"xWendy", L"PWS-QQDrag [McAfee]", L"PWS-QQDrag [McAfee].exe",
                                     L"W32\\Sober-C [Sophos]", L"W32\\W32.Torun.dr"}) {
                PlantFile(dir / f);
            }
            PlantFile(dir / L".abcd");
            SetFileAttributesW((dir / L".abcd").c_str(), FILE_ATTRIBUTE_NORMAL);  // Wine keeps dotfiles hidden
            bool dotfileShown = !(GetFileAttributesW((dir / L".abcd").c_str()) & FILE_ATTRIBUTE_HIDDEN);
            RecordingView view;
            SearchEngine engine;
            engine.SetPumpInterval(0);
            engine.SearchFiles(c.pattern, dir.path(), view,
                               listName ? tovra::scanner::NameRule::ExactName : tovra::scanner::NameRule::Pattern);
            NameList expected = listName && c.foundAsListName != NameList{L"="} ? c.foundAsListName : c.found;
            if (std::wstring(c.pattern) == L".abc" && !dotfileShown) expected.clear();
            EXPECT_EQ(Names(view.rows), expected)
                << "pattern " << testing::PrintToString(std::wstring(c.pattern)) << (listName ? " as a list name" : "");
            EXPECT_TRUE(PathExists(dir / L"W32\\Sober-C [Sophos]"));
            EXPECT_TRUE(PathExists(dir / L"xWendy"));
        }
    }
    // A very long name is simply not found.
    TempDir dir;
    PlantFile(dir / L"a.exe");
    RecordingView view;
    SearchEngine engine;
    EXPECT_EQ(Search(engine, std::wstring(100000, L'a') + L".exe", dir.path(), view), SummaryText(0));
}

TEST(SearchEngineTest, NamesOutsideTheAnsiCodePage) {
    TempDir dir;
    const std::wstring folder = dir / L"\u03a9\u03bc\u03ad\u03b3\u03b1 \u65e5\u672c";
    PlantFile(folder + L"\\W32.Torun.dr");
    PlantFile(folder + L"\\\u03a3\u03c4\u03bf.exe");
    RecordingView view;
    SearchEngine engine;
    Search(engine, L"W32.Torun.dr", dir.path(), view);
    Search(engine, L"\u03c3\u03a4\u039f.EXE", dir.path(), view);  // no regard to case, Greek too
    ASSERT_EQ(view.rows.size(), 2u);
    EXPECT_EQ(view.rows[0].folder, folder);
    EXPECT_EQ(view.rows[1].name, L"\u03a3\u03c4\u03bf.exe");
    EXPECT_FALSE(PathExists(folder + L"\\W32.Torun.dr"));
    EXPECT_FALSE(PathExists(folder + L"\\\u03a3\u03c4\u03bf.exe"));
}

TEST(SearchEngineTest, DeepTreesAndLongPaths) {
    TempDir dir;
    // 200 levels: paths far beyond MAX_PATH. (Wine lists a folder that deep in milliseconds, so a
    // tree deep enough to exhaust a stack would take minutes; the stack's use is measured instead.)
    const int depth = 200;
    std::string unixRoot = tovra::test::UnixPath(dir.path());
    ASSERT_FALSE(unixRoot.empty());
    std::string rel;
    for (int i = 0; i < depth; ++i) rel += "d/";
    ASSERT_EQ(tovra::test::RunUnixShell("mkdir -p '" + unixRoot + "/" + rel + "' && : > '" + unixRoot + "/" + rel +
                                        "Backdoor.Xibo' && head -c 2048 /dev/zero > '" + unixRoot + "/" + rel +
                                        "keep.txt'"),
              0);
    std::wstring deep = dir.path();
    for (int i = 0; i < depth; ++i) deep += L"\\d";
    ASSERT_GT(deep.size(), MAX_PATH + 100u);

    RecordingView view;
    std::uintptr_t low = UINTPTR_MAX, high = 0;
    view.onDoEvents = [&] {
        volatile char marker = 0;
        auto at = reinterpret_cast<std::uintptr_t>(&marker);
        low = std::min(low, at);
        high = std::max(high, at);
        return true;
    };
    SearchEngine engine;
    EXPECT_EQ(Search(engine, L"Backdoor.Xibo", dir.path(), view), SummaryText(1));
    ASSERT_EQ(view.rows.size(), 1u);
    EXPECT_EQ(view.rows[0].folder, deep);
    EXPECT_EQ(view.rows[0].size, L" 1KB");
    EXPECT_FALSE(view.rows[0].modified.empty());
    EXPECT_EQ(GetFileAttributesW((L"\\\\?\\" + deep + L"\\Backdoor.Xibo").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(view.statuses.size(), static_cast<size_t>(depth));
    EXPECT_EQ(view.statuses.back(), deep);
    // The walk at level 200 uses the stack it used at level 1.
    EXPECT_LT(high - low, 256u) << "the walk's stack grows with the depth of the tree";

    // The column texts of a file that deep.
    EXPECT_EQ(tovra::scanner::FileSizeText(deep + L"\\keep.txt"), L" 3KB");
    EXPECT_FALSE(tovra::scanner::FileDateText(deep + L"\\keep.txt").empty());
    ASSERT_EQ(tovra::test::RunUnixShell("rm -rf '" + unixRoot + "/d'"), 0);
}

TEST(SearchEngineTest, FoldersThatAreNotThere) {
    SearchEngine engine;
    RecordingView view;
    // A drive that is not present finds nothing; its summary is still given.
    EXPECT_EQ(GetDriveTypeW(L"A:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    EXPECT_EQ(Search(engine, L"W32.Torun.dr", L"A:\\", view), SummaryText(0));
    // Backslashes alone name no folder: nothing is walked (in particular not all of C:).
    EXPECT_EQ(Search(engine, L"W32.Torun.dr", L"\\\\\\", view), SummaryText(0));
    EXPECT_EQ(view.pumps, 0);
    EXPECT_TRUE(view.rows.empty());
}

// ---- Stopping ---------------------------------------------------------------------------------

TEST(SearchEngineTest, ASecondCallStopsTheRunningSearchAtOnce) {
    TempDir dir;
    for (int i = 0; i < 5; ++i) PlantFile(dir / (L"sub" + std::to_wstring(i) + L"\\Trojan.Slog"));
    PlantFile(dir / L"Trojan.Slog");
    SearchEngine engine;
    RecordingView view;
    std::wstring fromInside = L"unset";
    view.onDoEvents = [&] {
        if (view.pumps == 3) {  // the user leaves while the walk is in sub2
            EXPECT_TRUE(engine.Searching());
            fromInside = engine.SearchFiles(L"Trojan.Slog", dir.path(), view);
        }
        return true;
    };
    std::wstring summary = Search(engine, L"Trojan.Slog", dir.path(), view);
    EXPECT_EQ(fromInside, L"");
    EXPECT_EQ(summary, SummaryText(2));  // the stopped search still sums up
    EXPECT_EQ(Names(view.rows), (NameList{L"Trojan.Slog", L"Trojan.Slog"}));
    EXPECT_EQ(view.rows[1].folder, dir / L"sub1");
    EXPECT_TRUE(PathExists(dir / L"sub2\\Trojan.Slog"));  // nothing more after the stop
    EXPECT_TRUE(PathExists(dir / L"sub4\\Trojan.Slog"));
    EXPECT_TRUE(PathExists(dir / L"Trojan.Slog"));
    EXPECT_FALSE(engine.Searching());

    // The program ending (the pump sees WM_QUIT) stops it the same way; the next search runs normally.
    RecordingView quitting;
    quitting.onDoEvents = [] { return false; };
    Search(engine, L"Trojan.Slog", dir.path(), quitting);
    EXPECT_TRUE(quitting.rows.empty());
    RecordingView again;
    Search(engine, L"Trojan.Slog", dir.path(), again);
    EXPECT_EQ(again.rows.size(), 4u);
}

TEST(SearchEngineTest, PumpsAtMostOncePerIntervalButAlwaysAtTheFirstStep) {
    TempDir dir;
    for (int i = 0; i < 50; ++i) dir.MakeDir(L"f" + std::to_wstring(i));
    SearchEngine engine;
    engine.SetPumpInterval(60000);
    RecordingView view;
    engine.SearchFiles(L"x.exe", dir.path(), view);
    EXPECT_EQ(view.pumps, 1);
    EXPECT_EQ(view.statuses, NameList{dir / L"f0"});
}

// ---- A scan reuses its listings ---------------------------------------------------------------

TEST(SearchEngineTest, AScanListsADriveOnceWithTheSameResults) {
    const NameList names = {L"W32.Gluber@mm", L"Trojan.Gema", L"W32.Gluber@mm", L"W32/Scold-A [Sophos]",
                            L"Trojan.Benuti", L"Hacktool.Sagic"};
    auto plant = [](const TempDir& dir) {
        PlantFile(dir / L"W32.Gluber@mm");
        PlantFile(dir / L"p\\q\\trojan.gema");
        PlantFile(dir / L"p\\W32.Gluber@mm");
        SetAttributes(dir / L"p\\W32.Gluber@mm", FILE_ATTRIBUTE_READONLY);  // stays, so listed twice
        PlantFile(dir / L"p\\Trojan.Benuti");
        PlantFile(dir / L"r\\Hacktool.Sagic");
        PlantFile(dir / L"W32\\Scold-A [Sophos]");
    };
    auto rowsOf = [&](const TempDir& dir, bool asScan, int* listed) {
        SearchEngine engine;
        RecordingView view;
        std::vector<std::pair<std::wstring, std::wstring>> rows;
        std::optional<ScanScope> scope;
        if (asScan) scope.emplace(engine);
        for (const std::wstring& n : names) {
            if (n == L"Trojan.Benuti") DeleteFileW((dir / L"p\\Trojan.Benuti").c_str());  // gone meanwhile
            if (n == L"Hacktool.Sagic") PlantFile(dir / L"r\\HACKTOOL.SAGIC.old");   // nothing to do with it
            Search(engine, n, dir.path(), view);
        }
        for (const Row& r : view.rows) rows.emplace_back(r.name, r.folder.substr(dir.path().size()));
        *listed = static_cast<int>(engine.FoldersListed());
        SetAttributes(dir / L"p\\W32.Gluber@mm", FILE_ATTRIBUTE_NORMAL);
        return rows;
    };
    TempDir a, b;
    plant(a);
    plant(b);
    int separate = 0, reused = 0;
    auto walks = rowsOf(a, false, &separate);
    auto scan = rowsOf(b, true, &reused);
    EXPECT_EQ(scan, walks);
    const std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {L"W32.Gluber@mm", L"\\p"}, {L"W32.Gluber@mm", L""}, {L"trojan.gema", L"\\p\\q"},
        {L"W32.Gluber@mm", L"\\p"}, {L"Hacktool.Sagic", L"\\r"},
    };
    EXPECT_EQ(scan, expected);
    EXPECT_EQ(separate, 6 * 5);  // five folders, six walks
    EXPECT_EQ(reused, 5);        // listed once
}

TEST(SearchEngineTest, AScanWalksEachDriveAfreshAndAStoppedWalkIsNotReused) {
    TempDir a, b;
    PlantFile(a / L"x\\Trojan.Framar");
    PlantFile(b / L"y\\Trojan.Framar");
    SearchEngine engine;
    ScanScope scope(engine);
    RecordingView view;
    view.onDoEvents = [&] { return view.pumps > 1; };  // the first walk is cut short
    Search(engine, L"Trojan.Framar", a.path(), view);
    EXPECT_TRUE(view.rows.empty());
    view.onDoEvents = nullptr;
    Search(engine, L"Trojan.Framar", a.path(), view);
    Search(engine, L"Trojan.Framar", b.path(), view);
    ASSERT_EQ(view.rows.size(), 2u);
    EXPECT_EQ(view.rows[0].folder, a / L"x");
    EXPECT_EQ(view.rows[1].folder, b / L"y");
    EXPECT_EQ(engine.FoldersListed(), 1u + 2u + 2u);
}

}  // namespace
