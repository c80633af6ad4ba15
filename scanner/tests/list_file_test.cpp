#include "scanner/list_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "listwriter/virus_list.h"
#include "tests/support/temp_dir.h"

namespace {

using tovra::scanner::ParseListFile;
using tovra::scanner::ReadListFile;
using tovra::test::TempDir;
using NameList = std::vector<std::wstring>;

TEST(ListFileTest, TheShippedListGivesItsNinetySevenNames) {
    std::string image = tovra::VirusListFileImage(tovra::VirusNames());
    NameList names = ParseListFile(image);
    ASSERT_EQ(names.size(), 97u);
    EXPECT_EQ(names.front(), L"W32.Torun.dr");
    EXPECT_EQ(names[16], L"W32/Sober-C [Sophos]");
    EXPECT_EQ(names.back(), L"PWS-QQDrag [McAfee]");
    for (size_t i = 0; i < names.size(); ++i) {
        const char* n = tovra::VirusNames()[i];
        EXPECT_EQ(names[i], std::wstring(n, n + strlen(n))) << i;
    }
}

TEST(ListFileTest, EachLineGivesItsFieldAsTheSequentialReadDoes) {
    struct Case {
        const char* name;
        std::string bytes;
        NameList fields;
    } cases[] = {
        {"empty file", "", {}},
        {"quoted records", "\"a b\"\r\n\"W32/x@mm\"\r\n", {L"a b", L"W32/x@mm"}},
        {"no quotes", "Trojan.Gema  \r\n  Wendy.zip\r\n", {L"Trojan.Gema", L"Wendy.zip"}},
        {"last line without CR LF", "\"one.exe\"\r\n\"two.exe\"", {L"one.exe", L"two.exe"}},
        {"unquoted last line without CR LF", "one.exe\r\ntwo.exe", {L"one.exe", L"two.exe"}},
        {"blank lines give no names", "\r\n\"a.exe\"\r\n\r\n   \r\n\"b.exe\"\r\n\r\n\r\n", {L"a.exe", L"b.exe"}},
        {"only line ends", "\r\n\r\n\n\r", {}},
        {"an explicit empty name", "\"\"\r\n\"a.exe\"\r\n", {L"", L"a.exe"}},
        {"commas separate fields", "a.exe,b.exe , \"c,d.exe\"\r\n", {L"a.exe", L"b.exe", L"c,d.exe"}},
        {"an empty field between commas", "a.exe,,b.exe\r\n", {L"a.exe", L"", L"b.exe"}},
        {"after a quoted field the rest is dropped", "\"a.exe\" junk\r\n\"b.exe\"x,\"c.exe\"\r\n",
         {L"a.exe", L"b.exe", L"c.exe"}},
        {"leading blanks and tabs", "  \t\"a.exe\"\r\n", {L"a.exe"}},
        {"a quote left open ends at the line end", "\"a.exe\r\n\"b.exe\"\r\n", {L"a.exe", L"b.exe"}},
        {"a quote inside an unquoted field", "ab\"c.exe\r\n", {L"ab\"c.exe"}},
        {"bare LF and bare CR lines", "a.exe\nb.exe\rc.exe\n", {L"a.exe", L"b.exe", L"c.exe"}},
        {"binary bytes", std::string("\"a\0b.exe\"\r\n\x01\x02\r\n", 15), {std::wstring(L"a\0b.exe", 7), L"\x01\x02"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseListFile(c.bytes, 1252), c.fields) << c.name;
    }
}

TEST(ListFileTest, LongLinesLongListsAndTheAnsiCodePage) {
    std::string longLine = "\"" + std::string(1 << 20, 'x') + "\"\r\n\"after.exe\"\r\n";
    NameList names = ParseListFile(longLine, 1252);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].size(), 1u << 20);
    EXPECT_EQ(names[1], L"after.exe");

    std::string many;
    for (int i = 0; i < 150; ++i) many += "\"n" + std::to_string(i) + ".exe\"\r\n";
    names = ParseListFile(many, 1252);
    ASSERT_EQ(names.size(), 150u);
    EXPECT_EQ(names[149], L"n149.exe");

    // The list is ANSI text: byte E9 is "e acute" in code page 1252.
    EXPECT_EQ(ParseListFile("\"caf\xe9.exe\"\r\n", 1252), NameList{L"caf\u00e9.exe"});
    if (GetACP() == 1252) {
        EXPECT_EQ(ParseListFile("\"caf\xe9.exe\"\r\n"), NameList{L"caf\u00e9.exe"});
    }
}

TEST(ListFileTest, ReadingTheFile) {
    TempDir dir;
    dir.WriteFile(L"file.dat", "\"W32.Torun.dr\"\r\n\"Trojan.Gema\"\r\n");
    auto names = ReadListFile(dir / L"file.dat");
    ASSERT_TRUE(names.has_value());
    EXPECT_EQ(*names, (NameList{L"W32.Torun.dr", L"Trojan.Gema"}));

    dir.WriteFile(L"empty.dat", "");
    names = ReadListFile(dir / L"empty.dat");
    ASSERT_TRUE(names.has_value());
    EXPECT_TRUE(names->empty());

    EXPECT_FALSE(ReadListFile(dir / L"missing.dat").has_value());
    dir.MakeDir(L"folder.dat");
    EXPECT_FALSE(ReadListFile(dir / L"folder.dat").has_value());

    // Another program may hold it open for reading.
    HANDLE h = CreateFileW((dir / L"file.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadListFile(dir / L"file.dat")->size(), 2u);
    CloseHandle(h);
    // Not if it holds it exclusively.
    h = CreateFileW((dir / L"file.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ReadListFile(dir / L"file.dat").has_value());
    CloseHandle(h);
}

}  // namespace
