// utovraa.exe driven as a user would, from a second process: its window, its buttons, its message
// and the file it leaves in the product folder.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "tests/driver/driver.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tovra::driver;
namespace t = tovra::test;

constexpr DWORD kWait = 10000;
const wchar_t kFailure[] = L"The virus list could not be written to C:\\Program Files\\tovra\\file.dat";

// What the build wrote for the distribution medium: the bytes utovraa must produce.
std::string BuiltList() { return t::ReadFileAt(t::ModuleDir() + L"\\..\\dist\\file.dat"); }

std::vector<std::wstring> FolderNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}

class UtovraaE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(aside_.error().empty()) << testing::PrintToString(aside_.error());
        expected_ = BuiltList();
        ASSERT_EQ(expected_.size(), 2043u) << "the build's dist\\file.dat is missing";
    }
    void TearDown() override {
    }

    // Starts the program and waits for its window; nullptr (with a failure) if it does not come.
    HWND StartAndWait(App& app, const std::wstring& exe) {
        app = App::Start(exe);
        EXPECT_TRUE(app.started());
        HWND top = app.WaitWindow(L"MainForm", kWait);
        EXPECT_NE(top, nullptr) << "no MainForm window";
        return top;
    }

    const std::wstring folder_ = ProductFolder();
    const std::wstring list_ = folder_ + L"\\file.dat";
    tovra::driver::ProductFolderAside aside_;  // before anything that lives in the folder
    std::string expected_;
};

TEST_F(UtovraaE2eTest, ShowsItsWindowAndLaterEndsWithoutWriting) {
    std::wstring exe = InstallBuiltPrograms({L"utovraa.exe"});
    ASSERT_EQ(exe, folder_ + L"\\utovraa.exe");
    App app;
    HWND top = StartAndWait(app, exe);
    ASSERT_NE(top, nullptr);

    std::vector<Control> controls = Controls(top);
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].text, L"Update Now");
    EXPECT_EQ(controls[1].text, L"Later");
    for (const Control& c : controls) {
        EXPECT_EQ(ClassName(c.hwnd), L"Button");
        EXPECT_TRUE(c.visible && c.enabled);
    }
    // No border or title bar; 3855 x 975 twips (15 twips a pixel here), centred on the screen.
    EXPECT_FALSE(GetWindowLongW(top, GWL_STYLE) & (WS_CAPTION | WS_BORDER | WS_THICKFRAME));
    RECT r{};
    GetWindowRect(top, &r);
    EXPECT_EQ(r.right - r.left, 257);
    EXPECT_EQ(r.bottom - r.top, 65);
    EXPECT_LE(std::abs(r.left - (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2), 1);
    EXPECT_LE(std::abs(r.top - (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2), 1);

    ASSERT_TRUE(Click(FindControl(top, L"Later")));
    DWORD code = 1;
    ASSERT_TRUE(app.WaitExit(kWait, &code)) << "Later did not end the program";
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(t::PathExists(list_));
}

TEST_F(UtovraaE2eTest, LaterLeavesAnExistingListUntouched) {
    std::wstring exe = InstallBuiltPrograms({L"utovraa.exe"});
    ASSERT_FALSE(exe.empty());
    const std::string old = "\"Old.Virus\"\r\n";
    t::WriteFileAt(list_, old);
    WIN32_FILE_ATTRIBUTE_DATA before{}, after{};
    ASSERT_TRUE(GetFileAttributesExW(list_.c_str(), GetFileExInfoStandard, &before));

    App app;
    HWND top = StartAndWait(app, exe);
    ASSERT_NE(top, nullptr);
    ASSERT_TRUE(Click(FindControl(top, L"Later")));
    ASSERT_TRUE(app.WaitExit(kWait)) << "Later did not end the program";

    EXPECT_EQ(t::ReadFileAt(list_), old);
    ASSERT_TRUE(GetFileAttributesExW(list_.c_str(), GetFileExInfoStandard, &after));
    EXPECT_EQ(CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime), 0);
    EXPECT_EQ(FolderNames(folder_), (std::vector<std::wstring>{L"file.dat", L"utovraa.exe"}));
}

TEST_F(UtovraaE2eTest, UpdateNowWritesTheListOrSaysWhyNot) {
    struct Case {
        const char* name;
        bool productFolder;
        std::optional<std::string> before;  // file.dat before the run
        bool readOnly;
        const wchar_t* message;
        bool written;  // the built-in list replaces the file; otherwise it stays as it was
    };
    const std::string other = std::string(5000, 'x') + "\r\n\"Old.Virus\"\r\n";
    const Case cases[] = {
        {"no list yet", true, std::nullopt, false, L"Completed", true},
        {"a longer list with other content", true, other, false, L"Completed", true},
        {"a read-only list", true, "\"Old.Virus\"\r\n", true, kFailure, false},
        {"no product folder", false, std::nullopt, false, kFailure, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        t::RemoveTree(folder_);
        // Without a product folder the program runs from wherever the user saved it.
        t::TempDir elsewhere;
        std::wstring exe;
        if (c.productFolder) {
            exe = InstallBuiltPrograms({L"utovraa.exe"});
        } else {
            exe = elsewhere / L"utovraa.exe";
            CopyFileW((t::ModuleDir() + L"\\utovraa.exe").c_str(), exe.c_str(), FALSE);
        }
        ASSERT_TRUE(t::PathExists(exe));
        if (c.before) t::WriteFileAt(list_, *c.before);
        if (c.readOnly) {
            ASSERT_TRUE(SetFileAttributesW(list_.c_str(), FILE_ATTRIBUTE_READONLY));
        }

        App app;
        HWND top = StartAndWait(app, exe);
        ASSERT_NE(top, nullptr);
        ASSERT_TRUE(Click(FindControl(top, L"Update Now")));
        auto box = WaitMessageBox(app, kWait);
        ASSERT_TRUE(box.has_value()) << "no message after Update Now";
        EXPECT_EQ(box->title, L"Quorelsoft");
        EXPECT_EQ(box->text, c.message);
        EXPECT_EQ(box->buttons, std::vector<int>{IDOK});
        EXPECT_EQ(box->icon, 0u);
        EXPECT_TRUE(app.Running());  // it ends only when the message is answered

        ASSERT_TRUE(Answer(*box, IDOK));
        DWORD code = 1;
        ASSERT_TRUE(app.WaitExit(kWait, &code)) << "the program did not end after OK";
        EXPECT_EQ(code, 0u);

        if (c.written) {
            EXPECT_TRUE(t::ReadFileAt(list_) == expected_) << "file.dat differs from dist\\file.dat";
        } else if (c.before) {
            EXPECT_EQ(t::ReadFileAt(list_), *c.before);
        }
        if (!c.productFolder) {
            EXPECT_FALSE(t::PathExists(folder_)) << "the program made the product folder";
            EXPECT_EQ(FolderNames(elsewhere.path()), std::vector<std::wstring>{L"utovraa.exe"});
        } else {
            std::vector<std::wstring> want{L"utovraa.exe"};
            if (c.written || c.before) want.insert(want.begin(), L"file.dat");
            EXPECT_EQ(FolderNames(folder_), want);  // no half-written file beside it
        }
        if (c.readOnly) {
            EXPECT_TRUE(GetFileAttributesW(list_.c_str()) & FILE_ATTRIBUTE_READONLY);
        }
    }
}

}  // namespace
