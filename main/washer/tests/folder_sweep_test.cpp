#include "main/washer/folder_sweep.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "main/washer/tests/washer_test_support.h"
#include "tests/support/temp_dir.h"

namespace tovra::washer::test {
namespace {

using tovra::test::RunUnixShell;
using tovra::test::TempDir;
using tovra::test::UnixPath;

// A sweep whose Label1 captions are recorded.
struct RecordingSweep {
    std::vector<std::wstring> labels;
    FolderSweep sweep{[this](const std::wstring& text) { labels.push_back(text); }};
    int events = 0;
    RecordingSweep() {
        sweep.keepGoing = [this] {
            ++events;
            return true;
        };
    }
    bool SweepAt(const std::wstring& folder) {
        if (!sweep.dirList.SetPath(folder)) return false;
        sweep.Find();
        return true;
    }
};

void SetAttributes(const std::wstring& path, DWORD attributes) {
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes)) << GetLastError();
}

std::string Shell(const std::string& path) { return "'" + path + "'"; }

TEST(FolderSweepTest, APlantedTreeDeepestFirstSubfoldersLastFirstFilesByName) {
    TempDir dir;
    const std::wstring top = dir.path();
    for (const wchar_t* rel : {L"b.txt", L"A.txt", L"c.log", L"keep-ro.txt", L"keep-hidden.txt", L"keep-system.txt",
                               L"one\\x.txt", L"one\\deep\\inner\\y.txt", L"one\\deep\\w.dat", L"Two\\z.txt",
                               L"\x0444\x0430\x0439\x043b.txt", L"Two\\\x65e5\x672c.txt"}) {
        PlantFile(top + L"\\" + rel);
    }
    PlantFolder(top + L"\\three");
    SetAttributes(top + L"\\keep-ro.txt", FILE_ATTRIBUTE_READONLY);
    SetAttributes(top + L"\\keep-hidden.txt", FILE_ATTRIBUTE_HIDDEN);
    SetAttributes(top + L"\\keep-system.txt", FILE_ATTRIBUTE_SYSTEM);

    RecordingSweep r;
    ASSERT_TRUE(r.SweepAt(top));

    // Subfolders by name are one, three, Two: visited Two, three, one; each tree before its files.
    const std::vector<std::wstring> expected = {
        top + L"\\Two\\z.txt",            top + L"\\Two\\\x65e5\x672c.txt",      top + L"\\one\\deep\\inner\\y.txt",
        top + L"\\one\\deep\\w.dat",      top + L"\\one\\x.txt",      top + L"\\A.txt",
        top + L"\\b.txt",                 top + L"\\c.log",           top + L"\\keep-ro.txt",
        top + L"\\\x0444\x0430\x0439\x043b.txt",
    };
    EXPECT_EQ(r.labels, expected);
    EXPECT_EQ(r.sweep.Label1(), expected.back());
    for (const std::wstring& path : expected) {
        if (path.find(L"keep-") == std::wstring::npos) {
            EXPECT_FALSE(Exists(path)) << "a file is left";
        }
    }
    for (const wchar_t* kept : {L"keep-ro.txt", L"keep-hidden.txt", L"keep-system.txt"}) {
        EXPECT_TRUE(Exists(top + L"\\" + kept));
    }
    for (const wchar_t* folder : {L"one\\deep\\inner", L"Two", L"three"}) EXPECT_TRUE(Exists(top + L"\\" + folder));
    // Back on the top folder, the file list with it; one event pass per folder level.
    EXPECT_EQ(r.sweep.dirList.Path(), top);
    EXPECT_EQ(r.sweep.dirList.ListCount(), 3);
    EXPECT_EQ(r.sweep.filList.Path(), top);
    EXPECT_EQ(r.sweep.filList.ListCount(), 1);  // the read-only file that stayed
    EXPECT_EQ(r.events, 6);
    SetAttributes(top + L"\\keep-ro.txt", FILE_ATTRIBUTE_NORMAL);
}

TEST(FolderSweepTest, NothingToDeleteKeepsTheLabelAndTheFolder) {
    TempDir dir;
    PlantFolder(dir / L"a\\b");
    RecordingSweep r;
    r.sweep.dirList.SetPath(dir.path());  // sweeps of other folders have shown a path before
    ASSERT_TRUE(r.SweepAt(dir / L"a"));
    EXPECT_TRUE(r.labels.empty());
    EXPECT_EQ(r.sweep.Label1(), L"");
    EXPECT_EQ(r.sweep.dirList.Path(), dir / L"a");
}

TEST(FolderSweepTest, APatternLimitsTheFiles) {
    TempDir dir;
    for (const wchar_t* rel : {L"a.txt", L"b.log", L"c.dat", L"sub\\d.TXT"}) PlantFile(dir / rel);
    RecordingSweep r;
    r.sweep.txtSearchSpec = L"*.txt; *.log";
    ASSERT_TRUE(r.SweepAt(dir.path()));
    EXPECT_EQ(r.labels, (std::vector<std::wstring>{dir / L"sub\\d.TXT", dir / L"a.txt", dir / L"b.log"}));
    EXPECT_TRUE(dir.Exists(L"c.dat"));
}

TEST(FolderSweepTest, FilePatternsAsTheFileListReadsThem) {
    struct Case {
        const wchar_t *name, *pattern;
        bool matches;
    } cases[] = {
        {L"a.txt", L"*.txt", true},        {L"A.TXT", L"*.txt", true},     {L"a.txt.bak", L"*.txt", false},
        {L"readme", L"*.*", true},         {L"readme", L"*", true},        {L"a.b.c", L"*.c", true},
        {L"abc", L"a?c", true},            {L"abc", L"a?", false},         {L"x.log", L"*.txt; *.log", true},
        {L"x.dat", L"*.txt; *.log", false}, {L"Text1", L"Text1", true},    {L"Text10", L"Text1", false},
        {L"report", L"rep*.*", true},      {L"x.log", L" ; ", false},      {L"aXbXc", L"a*b*c", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchesFilePattern(c.name, c.pattern), c.matches)
            << testing::PrintToString(std::wstring(c.name)) << " " << testing::PrintToString(std::wstring(c.pattern));
    }
}

TEST(FolderSweepTest, AHighlightedEntryIsOpenedInsteadOfSwept) {
    TempDir dir;
    PlantFile(dir / L"a.txt");
    PlantFile(dir / L"sub\\b.txt");
    RecordingSweep r;
    ASSERT_TRUE(r.sweep.dirList.SetPath(dir.path()));
    r.sweep.dirList.SetListIndex(0);
    r.sweep.Find();
    EXPECT_EQ(r.sweep.dirList.Path(), dir / L"sub");
    EXPECT_TRUE(dir.Exists(L"a.txt"));
    EXPECT_TRUE(dir.Exists(L"sub\\b.txt"));
    EXPECT_TRUE(r.labels.empty());
}

TEST(FolderSweepTest, ADriveRootGetsNoDoubledSeparator) {
    ASSERT_NE(GetDriveTypeW(L"D:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR)) << "the fixture drive D: is missing";
    PlantFile(L"D:\\root-file.txt");
    PlantFile(L"D:\\washer-sub\\inner.txt");
    RecordingSweep r;
    ASSERT_TRUE(r.SweepAt(L"D:\\"));
    EXPECT_EQ(r.labels, (std::vector<std::wstring>{L"D:\\washer-sub\\inner.txt", L"D:\\root-file.txt"}));
    EXPECT_FALSE(Exists(L"D:\\root-file.txt"));
    EXPECT_EQ(r.sweep.dirList.Path(), L"D:\\");
    RemoveDirectoryW(L"D:\\washer-sub");
}

TEST(FolderSweepTest, LinksToOutsideFoldersAndFilesAreNeverFollowed) {
    TempDir outside, tree;
    PlantFile(outside / L"precious.txt");
    PlantFile(outside / L"sub\\precious2.txt");
    PlantFile(tree / L"own.txt");
    PlantFolder(tree / L"real");
    ASSERT_EQ(RunUnixShell("ln -s " + Shell(UnixPath(outside.path())) + " " + Shell(UnixPath(tree / L"dirlink"))), 0);
    ASSERT_EQ(RunUnixShell("ln -s " + Shell(UnixPath(outside / L"precious.txt")) + " " +
                           Shell(UnixPath(tree / L"real\\filelink.txt"))),
              0);
    ASSERT_TRUE(Exists(tree / L"dirlink\\precious.txt"));  // the links work
    ASSERT_TRUE(Exists(tree / L"real\\filelink.txt"));

    RecordingSweep r;
    ASSERT_TRUE(r.SweepAt(tree.path()));
    EXPECT_TRUE(Exists(outside / L"precious.txt"));
    EXPECT_TRUE(Exists(outside / L"sub\\precious2.txt"));
    EXPECT_FALSE(Exists(tree / L"own.txt"));
    EXPECT_EQ(r.events, 2);  // the top and "real", never the linked folder

    // A link chosen as the folder to sweep is refused too.
    RecordingSweep viaLink;
    EXPECT_FALSE(viaLink.SweepAt(tree / L"dirlink"));
    EXPECT_TRUE(Exists(outside / L"precious.txt"));

    // Unlink from Unix: Wine's DeleteFile on the link would remove the outside file.
    RunUnixShell("rm -f " + Shell(UnixPath(tree / L"real\\filelink.txt")));
}

TEST(FolderSweepTest, AMissingFolderIsSkippedAndNothingElseIsTouched) {
    TempDir dir;
    PlantFile(dir / L"a\\stays.txt");
    RecordingSweep r;
    ASSERT_TRUE(r.sweep.dirList.SetPath(dir / L"a"));
    EXPECT_FALSE(r.SweepAt(dir / L"missing"));
    EXPECT_FALSE(r.SweepAt(L""));
    EXPECT_FALSE(r.SweepAt(dir / L"a\\stays.txt"));  // a file is no folder
    EXPECT_EQ(r.sweep.dirList.Path(), dir / L"a");
    EXPECT_TRUE(dir.Exists(L"a\\stays.txt"));
}

TEST(FolderSweepTest, ADeepTreeBeyondMaxPath) {
    TempDir dir;
    // Deep enough to pass MAX_PATH several times over; Wine resolves every level of every path,
    // so much deeper trees only make the test slow.
    constexpr int kDepth = 120;
    std::wstring path = dir.path();
    std::vector<std::wstring> files;
    for (int i = 0; i < kDepth; ++i) {
        path += L"\\folder-level-" + std::to_wstring(i);
        PlantFolder(path);
        if (i % 20 == 19) files.push_back(path + L"\\f.txt");
    }
    ASSERT_GT(path.size(), 1800u);
    for (const auto& file : files) PlantFile(file);
    RecordingSweep r;
    ASSERT_TRUE(r.SweepAt(dir.path()));
    // Deepest first (compared without printing kilobytes of path on failure).
    EXPECT_TRUE(r.labels == std::vector<std::wstring>(files.rbegin(), files.rend()))
        << r.labels.size() << " labels for " << files.size() << " files";
    for (size_t i = 0; i < files.size(); ++i) EXPECT_FALSE(Exists(files[i])) << "file " << i << " is left";
    EXPECT_EQ(r.events, kDepth + 1);
}

TEST(FolderSweepTest, TheWalkStopsWhenTheProgramIsEnding) {
    TempDir dir;
    for (const wchar_t* rel : {L"top.txt", L"a\\a.txt", L"b\\b.txt"}) PlantFile(dir / rel);
    RecordingSweep r;
    r.sweep.keepGoing = [&r] { return ++r.events < 2; };  // the quit message arrives at the second level
    ASSERT_TRUE(r.SweepAt(dir.path()));
    EXPECT_TRUE(r.sweep.Stopped());
    EXPECT_TRUE(r.labels.empty());
    for (const wchar_t* rel : {L"top.txt", L"a\\a.txt", L"b\\b.txt"}) EXPECT_TRUE(dir.Exists(rel));
    EXPECT_EQ(r.sweep.dirList.Path(), dir.path());
    // Later sweeps of the same run do nothing either.
    EXPECT_TRUE(r.SweepAt(dir / L"a"));
    EXPECT_TRUE(dir.Exists(L"a\\a.txt"));
}

TEST(FolderSweepTest, SpecialFolders) {
    for (int csidl : {CSIDL_HISTORY, CSIDL_INTERNET_CACHE, CSIDL_RECENT, CSIDL_PERSONAL}) {
        SCOPED_TRACE(csidl);
        wchar_t expected[MAX_PATH];
        ASSERT_EQ(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, expected), S_OK);
        std::wstring got = SpecialFolderPath(csidl);
        EXPECT_EQ(got, expected);
        ASSERT_FALSE(got.empty());
        EXPECT_NE(got.back(), L'\\');
    }
    EXPECT_EQ(SpecialFolderPath(0x7e), L"");  // unknown to the shell
}

}  // namespace
}  // namespace tovra::washer::test
