#include "listwriter/virus_list.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "listwriter/list_writer_form.h"
#include "shared/message_box.h"
#include "tests/support/temp_dir.h"

namespace {

using tovra::test::TempDir;

TEST(VirusListTest, TheBuiltInListInFileOrder) {
    auto names = tovra::VirusNames();
    ASSERT_EQ(names.size(), 97u);
    EXPECT_STREQ(names[0], "W32.Torun.dr");
    EXPECT_STREQ(names[83], "W32.Randex.AZ");
    EXPECT_STREQ(names[84], "Trojan.Framar");  // nothing between 84 and 85
    EXPECT_STREQ(names[96], "PWS-QQDrag [McAfee]");
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 85u);
}

TEST(VirusListTest, FileImageIsQuotedRecordsWithCrLf) {
    std::string image = tovra::VirusListFileImage(tovra::VirusNames());
    EXPECT_EQ(image.size(), 2043u);
    EXPECT_EQ(image.substr(0, 16), "\"W32.Torun.dr\"\r\n");
    EXPECT_EQ(image.substr(image.size() - 23), "\"PWS-QQDrag [McAfee]\"\r\n");
    const char* two[] = {"a b", "W32/x@mm"};
    EXPECT_EQ(tovra::VirusListFileImage(two), "\"a b\"\r\n\"W32/x@mm\"\r\n");
}

TEST(VirusListTest, WriteReplacesTheWholeFile) {
    TempDir dir;
    std::wstring path = dir.path() + L"\\file.dat";
    dir.WriteFile(L"file.dat", std::string(5000, 'x'));
    ASSERT_TRUE(tovra::WriteVirusListFile(path, "\"new\"\r\n"));
    EXPECT_EQ(dir.ReadFile(L"file.dat"), "\"new\"\r\n");
    EXPECT_FALSE(dir.Exists(L"file.dat.new"));  // no leftovers beside it
}

TEST(VirusListTest, FailuresLeaveTheDiskAsItWas) {
    TempDir dir;
    // No folder.
    EXPECT_FALSE(tovra::WriteVirusListFile(dir.path() + L"\\missing\\file.dat", "x"));
    EXPECT_FALSE(dir.Exists(L"missing"));

    // Read-only file.
    std::wstring path = dir.path() + L"\\file.dat";
    dir.WriteFile(L"file.dat", "old");
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(tovra::WriteVirusListFile(path, "new"));
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(dir.ReadFile(L"file.dat"), "old");

    // File in use by another program.
    HANDLE busy = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(tovra::WriteVirusListFile(path, "new"));
    CloseHandle(busy);
    EXPECT_EQ(dir.ReadFile(L"file.dat"), "old");
    EXPECT_FALSE(dir.Exists(L"file.dat.new"));
}

TEST(ListWriterFormTest, TheWindowAsDeclared) {
    TempDir dir;
    tovra::ListWriterForm form(dir.path() + L"\\file.dat");
    ASSERT_TRUE(form.Load());
    EXPECT_EQ(form.Caption(), L"MainForm");
    EXPECT_EQ(form.Text(tovra::ListWriterForm::cmdWrite), L"Update Now");
    EXPECT_EQ(form.Text(tovra::ListWriterForm::cmdExit), L"Later");
    LONG style = GetWindowLongW(form.hwnd(), GWL_STYLE);
    EXPECT_FALSE(style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME));
    RECT r{};
    GetWindowRect(form.hwnd(), &r);
    EXPECT_EQ(r.right - r.left, tovra::forms::TwipsToPixelsX(3855));
    EXPECT_EQ(r.bottom - r.top, tovra::forms::TwipsToPixelsY(975));
    EXPECT_NEAR(r.left, (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2.0, 1);
    EXPECT_NEAR(r.top, (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2.0, 1);
    // Tab order: Update Now, then Later.
    EXPECT_EQ(GetNextDlgTabItem(form.hwnd(), form.Control(tovra::ListWriterForm::cmdWrite), FALSE),
              form.Control(tovra::ListWriterForm::cmdExit));
}

TEST(ListWriterFormTest, UpdateNowReportsTheOutcome) {
    TempDir dir;
    struct Case {
        bool folderExists;
        const wchar_t* text;
    } cases[] = {
        {true, L"Completed"},
        {false, L"The virus list could not be written to "},
    };
    for (const Case& c : cases) {
        std::wstring path = dir.path() + (c.folderExists ? L"\\file.dat" : L"\\nofolder\\file.dat");
        tovra::ScriptedMessageBoxes boxes;
        tovra::ListWriterForm form(path);
        ASSERT_TRUE(form.Load());
        form.cmdWrite_Click();
        ASSERT_EQ(boxes.calls().size(), 1u);
        std::wstring expected = c.folderExists ? std::wstring(c.text) : c.text + path;
        EXPECT_EQ(boxes.calls()[0].text, expected);
        EXPECT_EQ(boxes.calls()[0].title, L"Quorelsoft");
        EXPECT_EQ(boxes.calls()[0].type, static_cast<UINT>(MB_OK));  // OK only, no icon
        EXPECT_TRUE(form.ended());
        MSG msg;
        EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    }
    EXPECT_EQ(dir.ReadFile(L"file.dat").size(), 2043u);
}

}  // namespace
