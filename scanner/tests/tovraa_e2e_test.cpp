// tovraa.exe installed in the product folder and worked from a second process as a user would:
// tick drives, "Scan Now", read the results list and the status bar, "Exit".
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "scanner/search_engine.h"
#include "scanner/tests/scanner_fixtures.h"
#include "shared/forms.h"
#include "tests/driver/driver.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tovra::driver;
namespace t = tovra::test;
using tovra::scanner::SummaryText;
using tovra::scanner::test::EmptyDrive;
using tovra::scanner::test::MakeDirLink;
using tovra::scanner::test::PlantFile;
using tovra::scanner::test::SetAttributes;
using tovra::forms::PixelsToTwipsX;
using tovra::forms::PixelsToTwipsY;
using tovra::forms::TwipsToPixelsX;
using tovra::forms::TwipsToPixelsY;
using Rows = std::vector<std::vector<std::wstring>>;

constexpr DWORD kWait = 10000;
constexpr DWORD kScanWait = 120000;  // a whole drive C: under Wine
constexpr int kTxtNamed = 101, kTxtLookIn = 102, kLstResults = 105, kStatusBar = 106, kOptA = 110;
const wchar_t kTitle[] = L"Tovra ScanVirus 1.0";
const std::wstring kFixture = L"C:\\tovra-scan-fixture";

std::string Quoted(const std::vector<std::string>& names) {
    std::string image;
    for (const std::string& n : names) {
        image += '"';
        image += n;
        image += "\"\r\n";
    }
    return image;
}

class TovraaE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(aside_.error().empty()) << testing::PrintToString(aside_.error());
        for (wchar_t d : {L'D', L'E', L'F'}) EmptyDrive(d);
        exe_ = InstallBuiltPrograms({L"tovraa.exe"});
        ASSERT_EQ(exe_, folder_ + L"\\tovraa.exe");
    }
    void TearDown() override {
        app_.Kill();
        for (wchar_t d : {L'D', L'E', L'F'}) EmptyDrive(d);
        t::RemoveTree(kFixture);
        DeleteFileW(L"C:\\W32.Torun.dr");
    }

    void WriteList(const std::string& image) { t::WriteFileAt(folder_ + L"\\file.dat", image); }

    // Starts tovraa and ticks exactly the given drives.
    void Start(const std::wstring& drives) {
        app_ = App::Start(exe_);
        ASSERT_TRUE(app_.started());
        top_ = app_.WaitWindow(kTitle, kWait);
        ASSERT_NE(top_, nullptr) << "no scan window";
        for (int i = 0; i < 6; ++i) {
            HWND box = FindControlById(top_, kOptA + i);
            ASSERT_NE(box, nullptr);
            bool want = drives.find(static_cast<wchar_t>(L'A' + i)) != std::wstring::npos;
            if (IsChecked(box) != want) {
                ASSERT_TRUE(Click(box));
                ASSERT_TRUE(WaitFor([&] { return IsChecked(box) == want; }, kWait));
            }
        }
    }

    HWND Ctl(int id) const { return FindControlById(top_, id); }
    std::wstring Status() const { return StatusBarText(app_, Ctl(kStatusBar)); }
    Rows Results() const { return ListViewRows(app_, Ctl(kLstResults)); }
    static Rows NamesAndFolders(Rows rows) {
        for (auto& r : rows) r.resize(2);
        return rows;
    }

    // Clicks "Scan Now" and waits until the scan has searched its last name on its last drive and
    // put up that search's summary.
    void Scan(const std::wstring& lastName, const std::wstring& lastRoot, int expectedRows) {
        HWND scan = FindControl(top_, L"&Scan Now");
        ASSERT_NE(scan, nullptr);
        ASSERT_TRUE(Click(scan));
        bool done = WaitFor(
            [&] {
                return WindowText(Ctl(kTxtNamed)) == lastName && WindowText(Ctl(kTxtLookIn)) == lastRoot &&
                       IsWindowEnabled(scan) && Status() == SummaryText(expectedRows);
            },
            kScanWait);
        ASSERT_TRUE(done) << "the scan did not end as expected; status "
                          << testing::PrintToString(Status()) << ", name "
                          << testing::PrintToString(WindowText(Ctl(kTxtNamed)));
    }

    void ExitAndWait() {
        ASSERT_TRUE(Click(FindControl(top_, L"E&xit")));
        DWORD code = 1;
        ASSERT_TRUE(app_.WaitExit(kWait, &code)) << "Exit did not end the program";
        EXPECT_EQ(code, 0u);
    }

    const std::wstring folder_ = ProductFolder();
    tovra::driver::ProductFolderAside aside_;  // before anything that lives in the folder
    std::wstring exe_;
    App app_;
    HWND top_ = nullptr;
};

TEST_F(TovraaE2eTest, ScansDriveCWithTheShippedList) {
    std::string shipped = t::ReadFileAt(t::ModuleDir() + L"\\..\\dist\\file.dat");
    ASSERT_EQ(shipped.size(), 2043u) << "the build's dist\\file.dat is missing";
    WriteList(shipped);
    const std::wstring f = kFixture;
    PlantFile(L"C:\\W32.Torun.dr");                            // first name, in the root
    PlantFile(f + L"\\sub\\w32.torun", 5427);                 // "W32.Torun", any case
    PlantFile(f + L"\\ro\\Wendy.zip", 3000000);
    SetAttributes(f + L"\\ro\\Wendy.zip", FILE_ATTRIBUTE_READONLY);
    PlantFile(f + L"\\Trojan.Gema");
    SetAttributes(f + L"\\Trojan.Gema", FILE_ATTRIBUTE_HIDDEN);
    PlantFile(f + L"\\arch\\Backdoor.Volac", 1024);
    SetFileAttributesW((f + L"\\arch").c_str(), FILE_ATTRIBUTE_ARCHIVE);  // kept on Windows, dropped by Wine
    PlantFile(f + L"\\.store\\Backdoor.Xibo");                 // a hidden folder, reachable by a link
    MakeDirLink(f + L"\\link", f + L"\\.store");
    PlantFile(f + L"\\deep\\er\\PWS-QQDrag [McAfee]");          // the last name
    PlantFile(f + L"\\deep\\er\\PWS-QQDrag [McAfee].exe");      // not that name

    Start(L"C");
    // The window as it opens: drive C ticked, nothing listed, nothing said.
    EXPECT_TRUE(IsChecked(Ctl(kOptA + 2)));
    EXPECT_EQ(ListViewColumnCount(app_, Ctl(kLstResults)), 4);
    EXPECT_TRUE(Results().empty());
    EXPECT_EQ(Status(), L"");

    Scan(L"PWS-QQDrag [McAfee]", L"C:\\", 5);
    Rows rows = Results();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(NamesAndFolders(rows), (Rows{{L"W32.Torun.dr", L"C:"},
                                           {L"w32.torun", f + L"\\sub"},
                                           {L"Backdoor.Volac", f + L"\\arch"},
                                           {L"Wendy.zip", f + L"\\ro"},
                                           {L"PWS-QQDrag [McAfee]", f + L"\\deep\\er"}}));
    EXPECT_EQ(rows[0][2], L" 1KB");
    EXPECT_EQ(rows[1][2], L" 6KB");
    EXPECT_EQ(rows[2][2], L" 2KB");
    EXPECT_EQ(rows[3][2], L"2MB");
    for (const auto& r : rows) EXPECT_FALSE(r[3].empty()) << "no date for " << testing::PrintToString(r[0]);
    EXPECT_FALSE(t::PathExists(L"C:\\W32.Torun.dr"));
    EXPECT_FALSE(t::PathExists(f + L"\\sub\\w32.torun"));
    EXPECT_TRUE(t::PathExists(f + L"\\ro\\Wendy.zip"));  // read-only: listed and kept
    EXPECT_TRUE(t::PathExists(f + L"\\Trojan.Gema"));     // hidden: untouched
    EXPECT_TRUE(t::PathExists(f + L"\\.store\\Backdoor.Xibo")) << "the scan followed a link";
    EXPECT_TRUE(t::PathExists(f + L"\\deep\\er\\PWS-QQDrag [McAfee].exe"));
    SetAttributes(f + L"\\ro\\Wendy.zip", FILE_ATTRIBUTE_NORMAL);
    ExitAndWait();
}

// A link on C: named like a list entry, to a document on another drive: under Wine it looks
// like a plain file, and deleting it would delete the document.
TEST_F(TovraaE2eTest, ALinkOnDriveCLeavesTheFileItPointsTo) {
    WriteList(Quoted({"Trojan.Slog"}));
    t::WriteFileAt(L"D:\\documents\\report.doc", "the user's document");
    t::MakeFileLink(kFixture + L"\\docs\\Trojan.Slog", L"D:\\documents\\report.doc");
    PlantFile(kFixture + L"\\Trojan.Slog");
    Start(L"C");
    Scan(L"Trojan.Slog", L"C:\\", 2);
    EXPECT_EQ(NamesAndFolders(Results()),
              (Rows{{L"Trojan.Slog", kFixture + L"\\docs"}, {L"Trojan.Slog", kFixture}}));
    EXPECT_EQ(t::ReadFileAt(L"D:\\documents\\report.doc"), "the user's document");
    EXPECT_FALSE(t::PathExists(kFixture + L"\\Trojan.Slog"));
    ExitAndWait();
}

TEST_F(TovraaE2eTest, TwoDrivesAndASecondScanCountEveryRow) {
    WriteList(Quoted({"Trojan.Slog", "Backdoor.Ketch"}));
    PlantFile(L"D:\\keep\\Trojan.Slog");
    SetAttributes(L"D:\\keep\\Trojan.Slog", FILE_ATTRIBUTE_READONLY);
    PlantFile(L"D:\\Backdoor.Ketch");
    PlantFile(L"E:\\x\\Trojan.Slog");
    Start(L"DE");
    Scan(L"Backdoor.Ketch", L"E:\\", 3);
    Rows first = {{L"Trojan.Slog", L"D:\\keep"}, {L"Backdoor.Ketch", L"D:"}, {L"Trojan.Slog", L"E:\\x"}};
    EXPECT_EQ(NamesAndFolders(Results()), first);
    EXPECT_FALSE(t::PathExists(L"E:\\x\\Trojan.Slog"));

    Scan(L"Backdoor.Ketch", L"E:\\", 4);  // the read-only file again, counted with the first scan's rows
    Rows both = first;
    both.push_back({L"Trojan.Slog", L"D:\\keep"});
    EXPECT_EQ(NamesAndFolders(Results()), both);
    SetAttributes(L"D:\\keep\\Trojan.Slog", FILE_ATTRIBUTE_NORMAL);
    ExitAndWait();
}

TEST_F(TovraaE2eTest, DriveFKeepsOnlyTheFilesOfItsLastName) {
    WriteList(Quoted({"Trojan.Digits", "W32.Memas@mm"}) + "\r\n\r\n");
    PlantFile(L"D:\\Trojan.Digits");
    PlantFile(L"F:\\Trojan.Digits");
    PlantFile(L"F:\\a\\W32.Memas@mm");
    PlantFile(L"F:\\W32.Memas@mm");
    Start(L"DF");
    Scan(L"W32.Memas@mm", L"F:\\", 2);
    EXPECT_EQ(NamesAndFolders(Results()), (Rows{{L"W32.Memas@mm", L"F:\\a"}, {L"W32.Memas@mm", L"F:"}}));
    EXPECT_FALSE(t::PathExists(L"D:\\Trojan.Digits"));
    EXPECT_FALSE(t::PathExists(L"F:\\Trojan.Digits"));
    ExitAndWait();
}

TEST_F(TovraaE2eTest, WildcardEntriesAreNotSearched) {
    WriteList(Quoted({"*.*", "W32.Torun*", "Trojan.Slog"}));
    PlantFile(L"D:\\W32.Torun.dr");
    PlantFile(L"D:\\x\\readme.txt");
    PlantFile(L"D:\\x\\Trojan.Slog");
    Start(L"D");
    Scan(L"Trojan.Slog", L"D:\\", 1);
    EXPECT_EQ(NamesAndFolders(Results()), (Rows{{L"Trojan.Slog", L"D:\\x"}}));
    EXPECT_TRUE(t::PathExists(L"D:\\W32.Torun.dr"));
    EXPECT_TRUE(t::PathExists(L"D:\\x\\readme.txt"));
    ExitAndWait();
}

TEST_F(TovraaE2eTest, AnEmptyOrMissingListFile) {
    PlantFile(L"D:\\W32.Torun.dr");
    // Empty: the scan does nothing and says nothing.
    WriteList("");
    Start(L"D");
    ASSERT_TRUE(Click(FindControl(top_, L"&Scan Now")));
    // Posted after the scan's click, so taken once the scan's handler has returned.
    HWND boxE = Ctl(kOptA + 4);
    ASSERT_TRUE(Click(boxE));
    ASSERT_TRUE(WaitFor([&] { return IsChecked(boxE); }, kWait));
    EXPECT_FALSE(CurrentMessageBox(app_).has_value());
    EXPECT_EQ(Status(), L"");
    EXPECT_TRUE(Results().empty());
    EXPECT_EQ(WindowText(Ctl(kTxtNamed)), L"");
    EXPECT_TRUE(t::PathExists(L"D:\\W32.Torun.dr"));

    // Missing: the scan ends at once and says so, naming the file.
    ASSERT_TRUE(DeleteFileW((folder_ + L"\\file.dat").c_str()));
    ASSERT_TRUE(Click(FindControl(top_, L"&Scan Now")));
    auto box = WaitMessageBox(app_, kWait, kTitle);
    ASSERT_TRUE(box.has_value()) << "no message for the missing list";
    EXPECT_NE(box->text.find(L"C:\\Program Files\\tovra\\file.dat"), std::wstring::npos)
        << testing::PrintToString(box->text);
    EXPECT_EQ(box->buttons, std::vector<int>{IDOK});
    ASSERT_TRUE(Answer(*box, IDOK));
    EXPECT_EQ(Status(), L"");
    EXPECT_TRUE(t::PathExists(L"D:\\W32.Torun.dr"));
    EXPECT_TRUE(IsWindowEnabled(FindControl(top_, L"&Scan Now")));
    ExitAndWait();
}

TEST_F(TovraaE2eTest, TheResizeRule) {
    WriteList("");
    Start(L"C");
    HWND list = Ctl(kLstResults), bar = Ctl(kStatusBar);
    auto settle = [&] { return SendMessageTimeoutW(top_, WM_NULL, 0, 0, SMTO_BLOCK, kWait, nullptr) != 0; };
    auto listSize = [&] {
        RECT l{};
        GetWindowRect(list, &l);
        return std::vector<LONG>{l.right - l.left, l.bottom - l.top};
    };
    auto spans = [&](const char* what) {
        RECT b{}, client{};
        GetWindowRect(bar, &b);
        GetClientRect(top_, &client);
        EXPECT_EQ(b.right - b.left, client.right) << what << ": the status bar spans the window";
    };
    ASSERT_TRUE(settle());
    // The sizes below are pixels of the test prefix: 96 dots an inch, a status bar 27 pixels high.
    RECT b{};
    GetWindowRect(bar, &b);
    ASSERT_EQ(TwipsToPixelsX(1440), 96) << "the table is for 96 DPI";
    ASSERT_EQ(b.bottom - b.top, 27) << "the table is for a status bar 27 pixels high";
    // As designed the rule has already run: the list is where a resize to that size puts it.
    spans("as designed");
    const std::vector<LONG> designed = listSize();
    RECT w{};
    GetWindowRect(top_, &w);
    SetWindowPos(top_, nullptr, 0, 0, w.right - w.left + 40, w.bottom - w.top + 40, SWP_NOMOVE | SWP_NOZORDER);
    SetWindowPos(top_, nullptr, 0, 0, w.right - w.left, w.bottom - w.top, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_TRUE(settle());
    EXPECT_EQ(listSize(), designed);
    EXPECT_GT(designed[0], 0) << "the list was laid out at the first show";

    // Width - 200 twips, height - the bar - 1680 - 300 twips, never below nothing; at 96 DPI a
    // pixel is 15 twips.
    struct Size {
        const char* what;
        int cx, cy;
        LONG width, height;  // the list's
    } sizes[] = {
        {"enlarged", 1000, 800, 987, 641},
        {"tiny", 116, 27, 103, 0},  // the smallest window the system allows
        {"again", 700, 500, 687, 341},
    };
    for (const Size& s : sizes) {
        SetWindowPos(top_, nullptr, 0, 0, s.cx, s.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        ASSERT_TRUE(settle()) << s.what;
        GetWindowRect(top_, &w);
        ASSERT_EQ(w.right - w.left, s.cx) << s.what;
        ASSERT_EQ(w.bottom - w.top, s.cy) << s.what;
        EXPECT_EQ(listSize(), (std::vector<LONG>{s.width, s.height})) << s.what;
        spans(s.what);
    }
    ShowWindow(top_, SW_MINIMIZE);
    ShowWindow(top_, SW_RESTORE);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(app_.Running());
    EXPECT_EQ(listSize(), (std::vector<LONG>{687, 341})) << "restored";
    spans("restored");
    ExitAndWait();
}

TEST_F(TovraaE2eTest, ExitDuringAScanStopsItAndEndsTheProgram) {
    WriteList(Quoted({"W32.Torun.dr", "Trojan.Slog"}));
    // A tree that takes a while to walk: 3000 folders, made from Unix in one go.
    t::TempDir scratch;
    std::string dirs;
    for (int i = 0; i < 60; ++i) {
        for (int j = 0; j < 50; ++j) {
            char line[16];
            std::snprintf(line, sizeof line, "f%02d/g%02d\n", i, j);
            dirs += line;
        }
    }
    t::WriteFileAt(scratch / L"dirs.txt", dirs);
    std::string drive = t::UnixPath(L"D:\\");
    ASSERT_FALSE(drive.empty());
    std::string list = t::UnixPath(scratch / L"dirs.txt");
    ASSERT_EQ(t::RunUnixShell("cd '" + drive + "' && xargs mkdir -p < '" + list + "'"), 0);
    PlantFile(L"D:\\W32.Torun.dr");  // the root's files come last
    PlantFile(L"D:\\f59\\g49\\W32.Torun.dr");
    PlantFile(L"D:\\Trojan.Slog");

    Start(L"D");
    // Found before the scan: during it, every message to the window waits for the walk's next pause.
    HWND exit = FindControl(top_, L"E&xit");
    ASSERT_NE(exit, nullptr);
    ASSERT_TRUE(Click(FindControl(top_, L"&Scan Now")));
    ASSERT_TRUE(WaitFor([&] { return Status().rfind(L"D:\\f", 0) == 0; }, kWait)) << "the walk did not start";
    ASSERT_TRUE(Click(exit));
    DWORD code = 1;
    ASSERT_TRUE(app_.WaitExit(kWait, &code)) << "Exit during the scan did not end the program";
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(t::PathExists(L"D:\\f59\\g49\\W32.Torun.dr")) << "the search went on after Exit";
    EXPECT_TRUE(t::PathExists(L"D:\\W32.Torun.dr"));
    EXPECT_TRUE(t::PathExists(L"D:\\Trojan.Slog"));
    EXPECT_EQ(t::RunUnixShell("cd '" + drive + "' && rm -rf f[0-9][0-9]"), 0);
}

}  // namespace
