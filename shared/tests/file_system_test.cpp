#include "shared/file_system.h"

#include <shlobj.h>

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "shared/list_format.h"
#include "shared/suite.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = tovra::fs;
using tovra::test::MakeFileLink;
using tovra::test::PathExists;
using tovra::test::ReadFileAt;
using tovra::test::TempDir;
using tovra::test::WriteFileAt;

TEST(FileSystemTest, PathForms) {
    struct Case {
        const wchar_t* in;
        const wchar_t* longPath;
    } cases[] = {
        {L"C:\\a\\b", L"\\\\?\\C:\\a\\b"},
        {L"c:\\", L"\\\\?\\c:\\"},
        {L"\\\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x"},
        {L"\\\\?\\C:\\already", L"\\\\?\\C:\\already"},
        {L"relative\\x", L"relative\\x"},
        {L"C:drive-relative", L"C:drive-relative"},
        {L"", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(fs::LongPath(c.in), c.longPath) << testing::PrintToString(c.in);

    struct Join {
        const wchar_t *folder, *name, *joined;
    } joins[] = {
        {L"C:\\", L"x", L"C:\\x"}, {L"C:", L"x", L"C:\\x"}, {L"C:\\a", L"x", L"C:\\a\\x"},
        {L"C:\\a\\", L"x", L"C:\\a\\x"}, {L"", L"x", L"x"}, {L"C:\\a", L"", L"C:\\a\\"},
    };
    for (const Join& j : joins) EXPECT_EQ(fs::JoinPath(j.folder, j.name), j.joined) << testing::PrintToString(j.folder);

    EXPECT_EQ(fs::AbsolutePath(L"C:\\a\\b\\"), L"C:\\a\\b");
    EXPECT_EQ(fs::AbsolutePath(L"C:\\a\\.\\b\\..\\c"), L"C:\\a\\c");
    EXPECT_EQ(fs::AbsolutePath(L"C:/a/b"), L"C:\\a\\b");
    EXPECT_EQ(fs::AbsolutePath(L"C:\\"), L"C:\\");
    EXPECT_EQ(fs::AbsolutePath(L""), L"");
    std::wstring deep = L"C:";
    while (deep.size() < 600) deep += L"\\folder";
    EXPECT_EQ(fs::AbsolutePath(deep + L"\\"), deep);  // beyond MAX_PATH

    EXPECT_TRUE(fs::SamePath(L"C:\\Program Files\\tovra", L"c:\\PROGRAM FILES\\TOVRA"));
    EXPECT_FALSE(fs::SamePath(L"C:\\tovra", L"C:\\tovra\\"));
    EXPECT_FALSE(fs::SamePath(L"C:\\a", L"C:\\b"));

    std::wstring own = fs::OwnPath();
    EXPECT_TRUE(PathExists(own)) << testing::PrintToString(own);
    EXPECT_EQ(own.substr(own.size() - 4), L".exe");
}

// The places and the list format the programs share, spelt as they are stored and shown. The
// system folders are the system's; on an English Windows on drive C: (as this prefix is) every
// path is the classic one.
TEST(FileSystemTest, TheSuitesPlacesAndListFormat) {
    namespace suite = tovra::suite;
    auto system = [](int csidl) {
        wchar_t path[MAX_PATH] = {};
        EXPECT_EQ(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path), S_OK) << csidl;
        return std::wstring(path);
    };
    EXPECT_TRUE(fs::SamePath(suite::Folders().programFiles, system(CSIDL_PROGRAM_FILES)));
    EXPECT_TRUE(fs::SamePath(suite::Folders().commonPrograms, system(CSIDL_COMMON_PROGRAMS)));
    EXPECT_TRUE(fs::SamePath(suite::Folders().commonDesktop, system(CSIDL_COMMON_DESKTOPDIRECTORY)));
    EXPECT_EQ(suite::ClassicFolders().programFiles, L"C:\\Program Files");
    EXPECT_EQ(suite::ClassicFolders().commonPrograms, L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs");
    EXPECT_EQ(suite::ClassicFolders().commonDesktop, L"C:\\Documents and Settings\\All Users\\Desktop");

    EXPECT_EQ(suite::ProductFolder(), L"C:\\Program Files\\tovra");
    EXPECT_EQ(suite::VirusListPath(), L"C:\\Program Files\\tovra\\file.dat");
    EXPECT_EQ(suite::ScannerCommandPath(), L"C:\\Program Files\\Tovra\\tovraa.exe");
    EXPECT_EQ(suite::UninstallProgramPath(), L"C:\\Program Files\\Tovra\\setup.exe");
    EXPECT_EQ(suite::MainProgramPath(), L"C:\\Program Files\\tovra\\tovra.exe");
    // Quoted, so that Windows does not try "C:\Program.exe" first.
    EXPECT_EQ(suite::StartUpCommand(), L"\"C:\\Program Files\\tovra\\tovra.exe\"");
    EXPECT_EQ(suite::UninstallCommand(), L"\"C:\\Program Files\\Tovra\\setup.exe\"");
    EXPECT_EQ(suite::Quoted(L"\"a b\""), L"\"a b\"");

    EXPECT_EQ(tovra::list_format::Record("W32.Torun.dr"), "\"W32.Torun.dr\"\r\n");
    const char* names[] = {"a b", "W32/x@mm", "a"};
    std::string image = tovra::list_format::FileImage(names);
    EXPECT_EQ(image, "\"a b\"\r\n\"W32/x@mm\"\r\n\"a\"\r\n");
    EXPECT_EQ(tovra::list_format::ParseFields(image), (std::vector<std::string>{"a b", "W32/x@mm", "a"}));
}

// A tree with subfolders b, A, c (and a file link), each with files.
class WalkTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const wchar_t* rel : {L"z.txt", L"B.txt", L"b\\1.txt", L"b\\deep\\2.txt", L"A\\3.txt", L"c\\4.txt"}) {
            WriteFileAt(dir_ / rel, "x");
        }
        SetFileAttributesW((dir_ / L"B.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
        WriteFileAt(outside_ / L"precious.doc", "precious");
        MakeFileLink(dir_ / L"c\\link.txt", outside_ / L"precious.doc");
        ASSERT_EQ(tovra::test::RunUnixShell("ln -s '" + tovra::test::UnixPath(outside_.path()) + "' '" +
                                            tovra::test::UnixPath(dir_ / L"dirlink") + "'"),
                  0);
    }

    // The folders entered and the files met, relative to the top.
    std::vector<std::wstring> Run(fs::WalkOptions options, bool* ended = nullptr) {
        std::vector<std::wstring> seen;
        auto rel = [this](const std::wstring& p) { return p.size() > dir_.path().size() ? p.substr(dir_.path().size() + 1) : L"."; };
        options.enter = [&](const fs::Folder& f, int) {
            seen.push_back(L"> " + rel(f.path));
            return true;
        };
        options.leave = [&](const fs::Folder& f) {
            for (const fs::Entry& e : f.files) seen.push_back(rel(f.PathOf(e)));
        };
        fs::Folder top;
        top.path = dir_.path();
        bool done = fs::Walk(top, options);
        if (ended) *ended = done;
        return seen;
    }

    TempDir dir_, outside_;
};

TEST_F(WalkTest, ByNameLastFirstAndInListingOrder) {
    fs::WalkOptions byName;
    byName.byName = true;
    byName.lastFirst = true;
    byName.skipFiles = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    EXPECT_EQ(Run(byName), (std::vector<std::wstring>{L"> .", L"> c", L"c\\4.txt", L"c\\link.txt", L"> b", L"> b\\deep",
                                                      L"b\\deep\\2.txt", L"b\\1.txt", L"> A", L"A\\3.txt", L"z.txt"}));
    // Wine lists by upper-case name, as NTFS does; the link to a folder is never entered.
    fs::WalkOptions listing;
    EXPECT_EQ(Run(listing), (std::vector<std::wstring>{L"> .", L"> A", L"A\\3.txt", L"> b", L"> b\\deep",
                                                       L"b\\deep\\2.txt", L"b\\1.txt", L"> c", L"c\\4.txt",
                                                       L"c\\link.txt", L"B.txt", L"z.txt"}));
}

TEST_F(WalkTest, TheStopFlagIsCheckedAtEveryEntry) {
    for (int after : {1, 2, 3, 5, 8}) {
        int checks = 0;
        fs::WalkOptions options;
        options.stopped = [&] { return ++checks > after; };
        bool ended = true;
        std::vector<std::wstring> seen = Run(options, &ended);
        EXPECT_FALSE(ended) << after;
        EXPECT_LE(seen.size(), static_cast<size_t>(after)) << after;
    }
}

TEST_F(WalkTest, AnEarlierWalkServesTheNextOneWithoutListingAgain) {
    std::uint64_t listings = 0;
    fs::WalkOptions options;
    options.listings = &listings;
    fs::Folder top;
    top.path = dir_.path();
    ASSERT_TRUE(fs::Walk(top, options));
    EXPECT_EQ(listings, 5u);  // the top, A, b, b\deep, c
    std::vector<std::wstring> files;
    options.leave = [&](const fs::Folder& f) {
        for (const fs::Entry& e : f.files) files.push_back(e.name);
    };
    ASSERT_TRUE(fs::Walk(top, options));
    EXPECT_EQ(listings, 5u);
    EXPECT_EQ(files.size(), 7u);
}

TEST_F(WalkTest, AMissingTopOrALinkAsTheTopIsNotWalked) {
    fs::Folder top;
    fs::WalkOptions options;
    EXPECT_FALSE(fs::OpenFolder(dir_ / L"missing", options, top));
    EXPECT_FALSE(fs::OpenFolder(dir_ / L"dirlink", options, top));
    EXPECT_FALSE(fs::OpenFolder(dir_ / L"z.txt", options, top));
    EXPECT_FALSE(top.listed);
    ASSERT_TRUE(fs::OpenFolder(dir_.path(), options, top));
    EXPECT_EQ(top.folders.size(), 3u);  // A, b, c: never the link
}

TEST_F(WalkTest, TheGuardedDeleteTakesOnlyAPlainFileWhereItWasListed) {
    fs::Folder top;
    ASSERT_TRUE(fs::OpenFolder(dir_ / L"c", fs::WalkOptions{}, top));
    ASSERT_EQ(top.files.size(), 2u);
    for (const fs::Entry& file : top.files) {
        SetLastError(0xdeadbeef);
        bool deleted = fs::DeleteListedFile(top.PathOf(file), top.LocationOf(file));
        if (file.name == L"link.txt") {
            // Wine lists the link as a plain file; deleting it would delete the document.
            EXPECT_FALSE(deleted);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANT_ACCESS_FILE));
        } else {
            EXPECT_TRUE(deleted) << file.name.c_str();
        }
    }
    EXPECT_EQ(ReadFileAt(outside_ / L"precious.doc"), "precious");
    EXPECT_FALSE(PathExists(dir_ / L"c\\4.txt"));

    // Never a folder, not a file that is gone, not one the caller locates elsewhere.
    fs::Folder a;
    ASSERT_TRUE(fs::OpenFolder(dir_ / L"A", fs::WalkOptions{}, a));
    EXPECT_FALSE(fs::DeleteListedFile(dir_ / L"b", a.LocationOf({L"b", 0})));
    EXPECT_TRUE(PathExists(dir_ / L"b"));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(fs::DeleteListedFile(dir_ / L"A\\gone.txt", a.LocationOf({L"gone.txt", 0})));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(fs::DeleteListedFile(dir_ / L"A\\3.txt", a.LocationOf({L"other.txt", 0})));
    EXPECT_FALSE(fs::DeleteListedFile(dir_ / L"A\\3.txt", L""));
    EXPECT_TRUE(PathExists(dir_ / L"A\\3.txt"));

    // A read-only file stays, as Windows keeps it (Wine as root would not by itself).
    SetFileAttributesW((dir_ / L"A\\3.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(fs::DeleteListedFile(dir_ / L"A\\3.txt", a.LocationOf({L"3.txt", 0})));
    EXPECT_TRUE(PathExists(dir_ / L"A\\3.txt"));
    SetFileAttributesW((dir_ / L"A\\3.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(fs::DeleteListedFile(dir_ / L"A\\3.txt", a.LocationOf({L"3.txt", 0})));
}

TEST_F(WalkTest, DeletingANamedFileOutsideAWalk) {
    EXPECT_TRUE(fs::DeletePlainFile(dir_ / L"z.txt"));
    EXPECT_FALSE(PathExists(dir_ / L"z.txt"));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(fs::DeletePlainFile(dir_ / L"c\\link.txt"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANT_ACCESS_FILE));
    EXPECT_EQ(ReadFileAt(outside_ / L"precious.doc"), "precious");
    // A named file whose folder is reached through a link (as Vista's profile folders are through
    // junctions) is the file where the link leads: it goes, its neighbours stay.
    WriteFileAt(outside_ / L"named.lnk", "shortcut");
    EXPECT_TRUE(fs::DeletePlainFile(dir_ / L"dirlink\\named.lnk"));
    EXPECT_FALSE(PathExists(outside_ / L"named.lnk"));
    EXPECT_EQ(ReadFileAt(outside_ / L"precious.doc"), "precious");
    // A link in place of the named file is still refused there, its target kept.
    WriteFileAt(dir_ / L"z2.txt", "kept");
    MakeFileLink(outside_ / L"named.lnk", dir_ / L"z2.txt");
    EXPECT_FALSE(fs::DeletePlainFile(dir_ / L"dirlink\\named.lnk"));
    EXPECT_EQ(ReadFileAt(dir_ / L"z2.txt"), "kept");
    EXPECT_FALSE(fs::DeletePlainFile(dir_ / L"A"));
    EXPECT_TRUE(PathExists(dir_ / L"A\\3.txt"));
    EXPECT_FALSE(fs::DeletePlainFile(dir_ / L"nofolder\\x.txt"));
}

// A folder's files deleted in the order asked, each only once the one before it is gone, through
// the guard, with read-only files and links left; stopping leaves the rest closed and untouched.
TEST_F(WalkTest, TheDeleterTakesAFoldersFilesInOrderThroughTheGuard) {
    for (const wchar_t* name : {L"1.txt", L"2.txt", L"4.txt", L"5.txt", L"6.txt", L"7.txt", L"8.txt"}) {
        WriteFileAt(dir_ / (std::wstring(L"d\\") + name), "x");
    }
    MakeFileLink(dir_ / L"d\\3.txt", outside_ / L"precious.doc");
    SetFileAttributesW((dir_ / L"d\\2.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    fs::WalkOptions byName;
    byName.byName = true;
    fs::Folder d;
    ASSERT_TRUE(fs::OpenFolder(dir_ / L"d", byName, d));
    ASSERT_EQ(d.files.size(), 8u);
    std::vector<const fs::Entry*> all;
    for (const fs::Entry& file : d.files) all.push_back(&file);

    struct Case {
        const char* what;
        size_t first, count;  // the files of d handed over
        size_t stopAfter;     // files done before goOn says no
        const char* expected;  // per file done: + deleted, - left
    };
    const Case cases[] = {
        {"stopped after three", 0, 8, 3, "+--"},
        {"the rest", 3, 5, 99, "+++++"},
    };
    fs::ListedFileDeleter deleter;  // one for all batches, as a sweep uses it
    for (const Case& c : cases) {
        std::vector<const fs::Entry*> files(all.begin() + c.first, all.begin() + c.first + c.count);
        std::string seen;
        deleter.Delete(
            d, files, [&] { return seen.size() < c.stopAfter; },
            [&](const fs::Entry& file, bool deleted) {
                size_t i = c.first + seen.size();
                EXPECT_EQ(&file, all[i]) << c.what;
                // Deleted in order: this one is gone (if it went), the next one still there.
                EXPECT_EQ(PathExists(d.PathOf(file)), !deleted) << c.what << " " << i;
                if (i + 1 < all.size()) {
                    EXPECT_TRUE(PathExists(d.PathOf(*all[i + 1]))) << c.what << " " << i;
                }
                seen += deleted ? '+' : '-';
            });
        EXPECT_EQ(seen, c.expected) << c.what;
        if (c.stopAfter < c.count) {
            // Opened ahead perhaps, but closed again: each of the rest can be had alone.
            for (size_t i = c.first + c.stopAfter; i < c.first + c.count; ++i) {
                if (all[i]->name == L"2.txt") continue;
                HANDLE alone =
                    CreateFileW(d.PathOf(*all[i]).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
                EXPECT_NE(alone, INVALID_HANDLE_VALUE) << i;
                if (alone != INVALID_HANDLE_VALUE) CloseHandle(alone);
            }
        }
    }
    EXPECT_EQ(ReadFileAt(outside_ / L"precious.doc"), "precious");
    EXPECT_TRUE(PathExists(dir_ / L"d\\2.txt"));
    EXPECT_FALSE(PathExists(dir_ / L"d\\8.txt"));

    // A batch started from inside another one's callback is done at once, and the outer one goes on.
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"x.txt", L"y.txt"}) {
        WriteFileAt(dir_ / (std::wstring(L"e\\") + name), "x");
    }
    fs::Folder e;
    ASSERT_TRUE(fs::OpenFolder(dir_ / L"e", byName, e));
    std::vector<const fs::Entry*> outer{&e.files[0], &e.files[1]}, inner{&e.files[2], &e.files[3]};
    std::vector<std::wstring> order;
    deleter.Delete(
        e, outer, [] { return true; },
        [&](const fs::Entry& file, bool deleted) {
            order.push_back(file.name + (deleted ? L"+" : L"-"));
            if (order.size() == 1) {
                deleter.Delete(e, inner, [] { return true; }, [&](const fs::Entry& f, bool went) {
                    order.push_back(f.name + (went ? L"+" : L"-"));
                });
            }
        });
    EXPECT_EQ(order, (std::vector<std::wstring>{L"a.txt+", L"x.txt+", L"y.txt+", L"b.txt+"}));

    // A single file is deleted all the same.
    WriteFileAt(dir_ / L"d\\9.txt", "x");
    ASSERT_TRUE(fs::OpenFolder(dir_ / L"d", byName, d));
    std::vector<const fs::Entry*> last{&d.files.back()};
    ASSERT_EQ(last[0]->name, L"9.txt");
    bool went = false;
    deleter.Delete(d, last, [] { return true; }, [&](const fs::Entry&, bool deleted) { went = deleted; });
    EXPECT_TRUE(went);
    EXPECT_FALSE(PathExists(dir_ / L"d\\9.txt"));
}

TEST_F(WalkTest, RemoveTreeUnlinksLinksAndKeepsTheirTargets) {
    tovra::test::RemoveTree(dir_.path());
    EXPECT_FALSE(PathExists(dir_.path()));
    EXPECT_EQ(ReadFileAt(outside_ / L"precious.doc"), "precious");
}

}  // namespace
