#include "scanner/scan_form.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "listwriter/virus_list.h"
#include "scanner/tests/scanner_fixtures.h"
#include "shared/message_box.h"
#include "tests/support/temp_dir.h"

namespace {

using tovra::scanner::ScanForm;
using tovra::scanner::SummaryText;
using tovra::scanner::test::DrainQuit;
using tovra::scanner::test::EmptyDrive;
using tovra::scanner::test::PlantFile;
using tovra::scanner::test::SetAttributes;
using tovra::test::PathExists;
using tovra::test::TempDir;
using NameList = std::vector<std::wstring>;
using Rows = std::vector<NameList>;

std::wstring CellText(HWND list, int row, int sub) {
    wchar_t buf[1024] = {};
    LVITEMW item{};
    item.iSubItem = sub;
    item.pszText = buf;
    item.cchTextMax = 1024;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return buf;
}

Rows ListRows(const ScanForm& form) {
    HWND list = form.Control(ScanForm::LstResults);
    Rows rows;
    int n = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int r = 0; r < n; ++r) {
        NameList row;
        for (int c = 0; c < 4; ++c) row.push_back(CellText(list, r, c));
        rows.push_back(row);
    }
    return rows;
}

// Name and folder of each row.
Rows Found(const ScanForm& form) {
    Rows rows = ListRows(form);
    for (NameList& r : rows) r.resize(2);
    return rows;
}

std::wstring StatusText(const ScanForm& form) {
    wchar_t buf[1024] = {};
    SendMessageW(form.Control(ScanForm::StatusBar), SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(buf));
    return buf;
}

RECT RectIn(HWND parent, HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string Quoted(const NameList& names) {
    std::string image;
    for (const std::wstring& n : names) {
        image += '"';
        for (wchar_t c : n) image += static_cast<char>(c);  // the test names are ASCII
        image += "\"\r\n";
    }
    return image;
}

class ScanFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (wchar_t d : {L'D', L'E', L'F'}) EmptyDrive(d);
        listPath_ = lists_ / L"file.dat";
    }
    void TearDown() override {
        for (wchar_t d : {L'D', L'E', L'F'}) EmptyDrive(d);
        DrainQuit();
    }

    // A scan window over the list file, with only the given drives ticked.
    void Open(ScanForm& form, const std::wstring& drives) {
        ASSERT_TRUE(form.Load());
        for (int id = ScanForm::optA; id <= ScanForm::optF; ++id) {
            form.SetChecked(id, drives.find(static_cast<wchar_t>(L'A' + id - ScanForm::optA)) != std::wstring::npos);
        }
        form.onSearch = [this, &form](const std::wstring& name, const std::wstring& root) {
            searches_.push_back(name + L" on " + root);
            EXPECT_FALSE(form.Enabled(ScanForm::cmdFind)) << "Scan Now stays usable during a search";
        };
    }

    TempDir lists_;
    std::wstring listPath_;
    NameList searches_;
};

TEST_F(ScanFormTest, TheWindowAsDeclared) {
    ScanForm form(listPath_);
    ASSERT_TRUE(form.Load());
    HWND h = form.hwnd();
    EXPECT_EQ(form.Caption(), L"Tovra ScanVirus 1.0");
    EXPECT_TRUE(GetWindowLongW(h, GWL_STYLE) & WS_THICKFRAME);
    RECT client{};
    GetClientRect(h, &client);
    EXPECT_EQ(client.right, tovra::forms::TwipsToPixelsX(4575));
    EXPECT_EQ(client.bottom, tovra::forms::TwipsToPixelsY(2175));

    // Controls in tab order, where the table puts them.
    HWND child = GetWindow(h, GW_CHILD);
    for (const tovra::forms::ControlSpec& c : ScanForm::Layout().controls) {
        ASSERT_EQ(child, form.Control(c.id)) << "tab order at " << testing::PrintToString(std::wstring(c.name));
        child = GetWindow(child, GW_HWNDNEXT);
        if (c.kind == tovra::forms::Kind::ListView || c.kind == tovra::forms::Kind::StatusBar) continue;
        RECT r = RectIn(h, form.Control(c.id));
        EXPECT_EQ(r.left, tovra::forms::TwipsToPixelsX(c.left)) << testing::PrintToString(std::wstring(c.name));
        EXPECT_EQ(r.top, tovra::forms::TwipsToPixelsY(c.top)) << testing::PrintToString(std::wstring(c.name));
        EXPECT_EQ(r.right - r.left, tovra::forms::TwipsToPixelsX(c.width));
        EXPECT_EQ(form.Text(c.id), c.caption);
    }
    EXPECT_EQ(form.Text(ScanForm::cmdFind), L"&Scan Now");
    EXPECT_EQ(form.Text(ScanForm::cmdExit), L"E&xit");
    EXPECT_EQ(form.Text(ScanForm::frmDrive), L"Select Drive Letter To Scan (Default C)");
    EXPECT_FALSE(form.ControlVisible(ScanForm::txtNamed));
    EXPECT_FALSE(form.ControlVisible(ScanForm::txtLookIn));
    for (int id = ScanForm::optA; id <= ScanForm::optF; ++id) {
        EXPECT_EQ(form.Checked(id), id == ScanForm::optC) << "check box " << char('A' + id - ScanForm::optA);
    }

    // The results list: report view, four columns of 2, 2, 1 and 1 inch, empty; the status bar empty.
    HWND list = form.Control(ScanForm::LstResults);
    EXPECT_EQ(GetWindowLongW(list, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
    const wchar_t* captions[] = {L"Name", L"In Folder", L"Size", L"Modified"};
    const double inches[] = {2, 2, 1, 1};
    for (int i = 0; i < 4; ++i) {
        wchar_t buf[64] = {};
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        col.pszText = buf;
        col.cchTextMax = 64;
        ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&col)));
        EXPECT_STREQ(buf, captions[i]);
        EXPECT_EQ(col.cx, tovra::forms::TwipsToPixelsX(inches[i] * 1440));
        EXPECT_EQ(col.fmt & LVCFMT_JUSTIFYMASK, i == 2 ? LVCFMT_RIGHT : LVCFMT_LEFT);
    }
    EXPECT_EQ(ListView_GetItemCount(list), 0);
    EXPECT_EQ(StatusText(form), L"");
    EXPECT_EQ(SendMessageW(form.Control(ScanForm::StatusBar), SB_GETPARTS, 0, 0), 1);
}

TEST_F(ScanFormTest, TheResizeRule) {
    ScanForm form(listPath_);
    ASSERT_TRUE(form.Load());
    HWND h = form.hwnd();
    HWND list = form.Control(ScanForm::LstResults);
    HWND bar = form.Control(ScanForm::StatusBar);
    // The sizes below are pixels of the test prefix: 96 dots an inch, a status bar 27 pixels high.
    RECT b{};
    GetWindowRect(bar, &b);
    ASSERT_EQ(tovra::forms::TwipsToPixelsX(1440), 96) << "the table is for 96 DPI";
    ASSERT_EQ(b.bottom - b.top, 27) << "the table is for a status bar 27 pixels high";
    auto placed = [&] {
        RECT r = RectIn(h, list);
        return std::vector<LONG>{r.left, r.top, r.right - r.left, r.bottom - r.top};
    };
    auto spans = [&](const char* what) {
        RECT w{}, client{};
        GetWindowRect(h, &w);
        GetClientRect(h, &client);
        int parts[4] = {};
        ASSERT_EQ(SendMessageW(bar, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(parts)), 1) << what;
        EXPECT_EQ(parts[0], w.right - w.left) << what;  // the panel spans the window
        EXPECT_EQ(RectIn(h, bar).right, client.right) << what;
    };
    // Shown as designed, the rule has already run: the list is where a resize to that size puts it.
    spans("as designed");
    const std::vector<LONG> designed = placed();
    RECT w{};
    GetWindowRect(h, &w);
    SetWindowPos(h, nullptr, 0, 0, w.right - w.left + 40, w.bottom - w.top + 40, SWP_NOMOVE | SWP_NOZORDER);
    SetWindowPos(h, nullptr, 0, 0, w.right - w.left, w.bottom - w.top, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(placed(), designed);
    EXPECT_GT(designed[2], 0) << "the list was laid out at the first show";

    // Width - 200 twips, height - the bar - 1680 - 300 twips, never below nothing; at 96 DPI a
    // pixel is 15 twips.
    struct Size {
        const char* what;
        int cx, cy;
        LONG width, height;  // the list's
    } sizes[] = {
        {"enlarged", 900, 700, 887, 541},
        {"wide and low", 1200, 160, 1187, 1},
        {"just no height", 1200, 159, 1187, 0},
        {"lower", 1200, 140, 1187, 0},
        {"tiny", 116, 27, 103, 0},  // the smallest window the system allows
        {"narrow", 140, 400, 127, 241},
        {"back", 640, 480, 627, 321},
    };
    for (const Size& s : sizes) {
        SetWindowPos(h, nullptr, 0, 0, s.cx, s.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        GetWindowRect(h, &w);
        ASSERT_EQ(w.right - w.left, s.cx) << s.what;
        ASSERT_EQ(w.bottom - w.top, s.cy) << s.what;
        EXPECT_EQ(placed(), (std::vector<LONG>{0, 112, s.width, s.height})) << s.what;
        spans(s.what);
    }
    ShowWindow(h, SW_MINIMIZE);
    ShowWindow(h, SW_RESTORE);
    EXPECT_EQ(placed(), (std::vector<LONG>{0, 112, 627, 321})) << "restored";
    spans("restored");
}

TEST_F(ScanFormTest, ScansTheShippedListOnTheTickedDrive) {
    tovra::test::WriteFileAt(listPath_, tovra::VirusListFileImage(tovra::VirusNames()));
    PlantFile(L"D:\\W32.Torun.dr", 5427);
    PlantFile(L"D:\\sub\\w32.torun", 2000000);
    PlantFile(L"D:\\sub\\deeper\\PWS-QQDrag [McAfee]");
    PlantFile(L"D:\\sub\\deeper\\PWS-QQDrag [McAfee].exe");  // list names are whole names
    PlantFile(L"D:\\ro\\Wendy.zip", 1024);
    SetAttributes(L"D:\\ro\\Wendy.zip", FILE_ATTRIBUTE_READONLY);
    PlantFile(L"D:\\hid\\Trojan.Gema");
    SetAttributes(L"D:\\hid\\Trojan.Gema", FILE_ATTRIBUTE_HIDDEN);
    PlantFile(L"D:\\arch\\Backdoor.Volac");
    SetAttributes(L"D:\\arch", FILE_ATTRIBUTE_ARCHIVE);
    PlantFile(L"D:\\W32\\Sober-C [Sophos]");

    ScanForm form(listPath_);
    Open(form, L"D");
    form.cmdFind_Click();

    ASSERT_EQ(searches_.size(), 97u);
    EXPECT_EQ(searches_.front(), L"W32.Torun.dr on D:\\");
    EXPECT_EQ(searches_.back(), L"PWS-QQDrag [McAfee] on D:\\");
    EXPECT_EQ(std::count(searches_.begin(), searches_.end(), L"W32.Sober.C@mm on D:\\"), 3);  // repeats searched again
    EXPECT_EQ(Found(form), (Rows{{L"W32.Torun.dr", L"D:"},
                                 {L"w32.torun", L"D:\\sub"},
                                 {L"Backdoor.Volac", L"D:\\arch"},
                                 {L"Wendy.zip", L"D:\\ro"},
                                 {L"PWS-QQDrag [McAfee]", L"D:\\sub\\deeper"}}));
    Rows rows = ListRows(form);
    EXPECT_EQ(rows[0][2], L" 6KB");
    EXPECT_EQ(rows[1][2], L"1MB");
    EXPECT_EQ(rows[3][2], L" 2KB");
    EXPECT_EQ(StatusText(form), SummaryText(5));
    EXPECT_EQ(form.Text(ScanForm::txtNamed), L"PWS-QQDrag [McAfee]");
    EXPECT_EQ(form.Text(ScanForm::txtLookIn), L"D:\\");
    EXPECT_TRUE(form.Enabled(ScanForm::cmdFind));
    EXPECT_FALSE(PathExists(L"D:\\W32.Torun.dr"));
    EXPECT_FALSE(PathExists(L"D:\\sub\\deeper\\PWS-QQDrag [McAfee]"));
    EXPECT_TRUE(PathExists(L"D:\\sub\\deeper\\PWS-QQDrag [McAfee].exe"));
    EXPECT_TRUE(PathExists(L"D:\\ro\\Wendy.zip"));  // read-only: listed and kept
    EXPECT_TRUE(PathExists(L"D:\\hid\\Trojan.Gema"));
    EXPECT_TRUE(PathExists(L"D:\\W32\\Sober-C [Sophos]"));
    // One listing of the drive served all 97 names: D:, sub, deeper, ro, hid, arch, W32.
    EXPECT_EQ(form.engine().FoldersListed(), 7u);
    EXPECT_FALSE(form.ended());
}

TEST_F(ScanFormTest, TwoDrivesAndTwoScansCountEveryRow) {
    tovra::test::WriteFileAt(listPath_, Quoted({L"Trojan.Slog", L"Backdoor.Ketch"}));
    PlantFile(L"D:\\keep\\Trojan.Slog");
    SetAttributes(L"D:\\keep\\Trojan.Slog", FILE_ATTRIBUTE_READONLY);
    PlantFile(L"E:\\Backdoor.Ketch");
    PlantFile(L"E:\\x\\Trojan.Slog");

    ScanForm form(listPath_);
    Open(form, L"DE");
    form.cmdFind_Click();
    EXPECT_EQ(searches_, (NameList{L"Trojan.Slog on D:\\", L"Backdoor.Ketch on D:\\", L"Trojan.Slog on E:\\",
                                   L"Backdoor.Ketch on E:\\"}));
    Rows first = {{L"Trojan.Slog", L"D:\\keep"}, {L"Trojan.Slog", L"E:\\x"}, {L"Backdoor.Ketch", L"E:"}};
    EXPECT_EQ(Found(form), first);
    EXPECT_EQ(StatusText(form), SummaryText(3));

    // The second scan keeps the first one's rows and finds the read-only file again.
    form.cmdFind_Click();
    Rows both = first;
    both.push_back({L"Trojan.Slog", L"D:\\keep"});
    EXPECT_EQ(Found(form), both);
    EXPECT_EQ(StatusText(form), SummaryText(4));
}

TEST_F(ScanFormTest, DriveFStartsEachNameFromAnEmptyList) {
    // Blank lines at the end are no names, so they do not empty the list again.
    tovra::test::WriteFileAt(listPath_, Quoted({L"Trojan.Digits", L"W32.Memas@mm"}) + "\r\n\r\n");
    PlantFile(L"D:\\Trojan.Digits");
    PlantFile(L"F:\\Trojan.Digits");
    PlantFile(L"F:\\a\\W32.Memas@mm");
    PlantFile(L"F:\\W32.Memas@mm");

    ScanForm form(listPath_);
    Open(form, L"DF");
    form.cmdFind_Click();
    EXPECT_EQ(searches_.size(), 4u);
    EXPECT_EQ(Found(form), (Rows{{L"W32.Memas@mm", L"F:\\a"}, {L"W32.Memas@mm", L"F:"}}));
    EXPECT_EQ(StatusText(form), SummaryText(2));
    EXPECT_FALSE(PathExists(L"F:\\Trojan.Digits"));
}

TEST_F(ScanFormTest, AnEmptyListFileScansNothing) {
    tovra::test::WriteFileAt(listPath_, "");
    PlantFile(L"D:\\W32.Torun.dr");
    tovra::ScriptedMessageBoxes boxes;
    ScanForm form(listPath_);
    Open(form, L"D");
    form.cmdFind_Click();
    EXPECT_TRUE(searches_.empty());
    EXPECT_TRUE(boxes.calls().empty());
    EXPECT_EQ(StatusText(form), L"");
    EXPECT_TRUE(form.Enabled(ScanForm::cmdFind));
}

TEST_F(ScanFormTest, AMissingListFileIsReported) {
    PlantFile(L"D:\\W32.Torun.dr");
    for (bool asFolder : {false, true}) {
        if (asFolder) lists_.MakeDir(L"file.dat");
        tovra::ScriptedMessageBoxes boxes;
        ScanForm form(listPath_);
        Open(form, L"D");
        form.cmdFind_Click();
        EXPECT_TRUE(searches_.empty());
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(boxes.calls()[0].title, L"Tovra ScanVirus 1.0");
        EXPECT_NE(boxes.calls()[0].text.find(listPath_), std::wstring::npos) << "the box names the file";
        EXPECT_EQ(boxes.calls()[0].buttons(), static_cast<UINT>(MB_OK));
        EXPECT_EQ(boxes.calls()[0].owner, form.hwnd());
        EXPECT_EQ(StatusText(form), L"");
        EXPECT_TRUE(form.Enabled(ScanForm::cmdFind));
    }
    EXPECT_TRUE(PathExists(L"D:\\W32.Torun.dr"));
}

TEST_F(ScanFormTest, EntriesWithWildcardsAreRefusedAndNamesAreWholeNames) {
    tovra::test::WriteFileAt(listPath_, "\"*.*\"\r\n\"W32.Torun*\"\r\n\"W?2.Torun.dr\"\r\n\"\"\r\n\"Wendy\"\r\n"
                                        "\"a<b.exe\"\r\n\"Trojan.Slog\"\r\n");
    for (const wchar_t* f : {L"D:\\W32.Torun.dr", L"D:\\W32.Torun.exe", L"D:\\Wendy.zip", L"D:\\x\\note.txt",
                             L"D:\\Trojan.Slog"}) {
        PlantFile(f);
    }
    ScanForm form(listPath_);
    Open(form, L"D");
    form.cmdFind_Click();
    EXPECT_EQ(searches_, (NameList{L"Wendy on D:\\", L"Trojan.Slog on D:\\"}));
    EXPECT_EQ(Found(form), (Rows{{L"Trojan.Slog", L"D:"}}));
    for (const wchar_t* f : {L"D:\\W32.Torun.dr", L"D:\\W32.Torun.exe", L"D:\\Wendy.zip", L"D:\\x\\note.txt"}) {
        EXPECT_TRUE(PathExists(f)) << testing::PrintToString(std::wstring(f));
    }
}

TEST_F(ScanFormTest, AMalformedListFileNeverStopsTheScan) {
    std::string image = "Trojan.Gema  \r\n";                      // no quotes
    image += "\"" + std::string(200000, 'x') + ".exe\"\r\n";       // a very long line
    image += std::string("\"W32\0bad.exe\"\r\n\x01\xff\r\n", 19);  // binary bytes
    image += "\r\n\r\n  \r\n";                                   // blank lines
    image += "\"Backdoor.Ketch";                                    // no closing quote, no CR LF
    tovra::test::WriteFileAt(listPath_, image);
    PlantFile(L"D:\\Trojan.Gema");
    PlantFile(L"D:\\W32");
    PlantFile(L"D:\\W32.exe");
    PlantFile(L"D:\\x\\Backdoor.Ketch");
    ScanForm form(listPath_);
    Open(form, L"D");
    form.cmdFind_Click();
    ASSERT_EQ(searches_.size(), 5u);
    EXPECT_EQ(searches_[0], L"Trojan.Gema on D:\\");
    EXPECT_EQ(searches_[1].size(), 200004u + 7u);
    EXPECT_EQ(searches_[4], L"Backdoor.Ketch on D:\\");
    EXPECT_EQ(Found(form), (Rows{{L"Trojan.Gema", L"D:"}, {L"Backdoor.Ketch", L"D:\\x"}}));
    EXPECT_TRUE(PathExists(L"D:\\W32"));  // the name cut at its zero byte is not searched
    EXPECT_TRUE(PathExists(L"D:\\W32.exe"));
    EXPECT_TRUE(form.Enabled(ScanForm::cmdFind));
}

TEST_F(ScanFormTest, AListLongerThanOneHundredAndOneNamesIsScannedWhole) {
    NameList names;
    for (int i = 0; i < 150; ++i) names.push_back(L"n" + std::to_wstring(i) + L".exe");
    tovra::test::WriteFileAt(listPath_, Quoted(names));
    PlantFile(L"D:\\n149.exe");
    PlantFile(L"D:\\n101.exe");
    ScanForm form(listPath_);
    Open(form, L"D");
    form.cmdFind_Click();
    EXPECT_EQ(searches_.size(), 150u);
    EXPECT_EQ(Found(form), (Rows{{L"n101.exe", L"D:"}, {L"n149.exe", L"D:"}}));
}

TEST_F(ScanFormTest, ExitDuringAScanStopsItAtOnceAndCloses) {
    tovra::test::WriteFileAt(listPath_, Quoted({L"Trojan.Benuti", L"Trojan.Slog"}));
    for (int i = 0; i < 20; ++i) PlantFile(L"D:\\f" + std::to_wstring(100 + i) + L"\\Trojan.Benuti");
    PlantFile(L"D:\\Trojan.Benuti");
    PlantFile(L"D:\\Trojan.Slog");
    struct Way {
        const char* what;
        UINT msg;
    } ways[] = {{"Exit", WM_COMMAND}, {"the close box", WM_CLOSE}};
    for (const Way& way : ways) {
        searches_.clear();
        ScanForm form(listPath_);
        Open(form, L"D");
        form.engine().SetPumpInterval(0);
        int steps = 0;
        HWND h = form.hwnd();
        auto search = form.onSearch;
        form.onSearch = [&](const std::wstring& name, const std::wstring& root) {
            search(name, root);
            // The user clicks while the walk is under way: the engine's first folder step takes it.
            if (way.msg == WM_COMMAND) {
                PostMessageW(h, WM_COMMAND, MAKEWPARAM(ScanForm::cmdExit, BN_CLICKED),
                             reinterpret_cast<LPARAM>(form.Control(ScanForm::cmdExit)));
            } else {
                PostMessageW(h, WM_CLOSE, 0, 0);
            }
            ++steps;
        };
        form.cmdFind_Click();
        EXPECT_EQ(searches_, NameList{L"Trojan.Benuti on D:\\"}) << way.what;
        EXPECT_TRUE(form.ended()) << way.what;
        EXPECT_FALSE(IsWindow(h)) << way.what;
        EXPECT_TRUE(DrainQuit()) << way.what << ": the program does not end";
        EXPECT_TRUE(PathExists(L"D:\\f101\\Trojan.Benuti")) << way.what;
        EXPECT_TRUE(PathExists(L"D:\\Trojan.Benuti")) << way.what;
        EXPECT_TRUE(PathExists(L"D:\\Trojan.Slog")) << way.what;
        EXPECT_EQ(steps, 1);
    }
}

TEST_F(ScanFormTest, ScanNowCannotStartASecondScanInsideTheFirst) {
    tovra::test::WriteFileAt(listPath_, Quoted({L"Trojan.Slog", L"Trojan.Gema"}));
    ScanForm form(listPath_);
    Open(form, L"D");
    auto search = form.onSearch;
    form.onSearch = [&](const std::wstring& name, const std::wstring& root) {
        search(name, root);
        form.cmdFind_Click();  // as if its click came through
        EXPECT_TRUE(form.scanning());
    };
    form.cmdFind_Click();
    EXPECT_EQ(searches_, (NameList{L"Trojan.Slog on D:\\", L"Trojan.Gema on D:\\"}));
    EXPECT_FALSE(form.scanning());
}

}  // namespace
