#include "main/washer/washer.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "main/washer/tests/washer_test_support.h"
#include "main/washer/web_cache.h"
#include "shared/message_box.h"
#include "shared/win_handles.h"
#include "tests/support/failing_registry.h"
#include "tests/support/temp_dir.h"

namespace tovra::washer::test {
namespace {

using tovra::test::RemoveTree;
using tovra::test::TempDir;

constexpr wchar_t kIEMain[] = L"software\\Microsoft\\Internet Explorer\\Main";
constexpr wchar_t kTypedUrls[] = L"Software\\Microsoft\\Internet Explorer\\TypedURLs";
constexpr wchar_t kRun[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunA[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kOfficeRecent[] = L"C:\\WINDOWS\\Application Data\\Microsoft\\Office\\Recent";
const HWND kOwner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));

class RecordingView : public WasherView {
public:
    HWND Owner() const override { return kOwner; }
    void SetWasherButtonEnabled(bool enabled) override {
        buttonEnabled = enabled;
        log.push_back(enabled ? L"button enabled" : L"button disabled");
    }
    void SetWasherStatus(const std::wstring& text) override {
        status = text;
        log.push_back(L"status " + text);
    }
    void SetLabel1(const std::wstring& text) override {
        label1 = text;
        ++labelChanges;
    }
    bool buttonEnabled = true;
    std::wstring status = L"Stopped";
    std::wstring label1 = L"Services";
    int labelChanges = 0;
    std::vector<std::wstring> log;
};

struct Box {
    const wchar_t* text;
    const wchar_t* title;
    UINT type;
};
const Box kAreYouSure{L"Are you sure? (recommended)", L"Clean!", MB_YESNO};
const Box kStartUp{L"Do you want to stop running program during start up? (recommended)", L"Question!", MB_YESNO};
const Box kFinished{L"Finished", L"End", MB_OK};

void ExpectBoxes(const ScriptedMessageBoxes& boxes, const std::vector<Box>& expected) {
    ASSERT_EQ(boxes.calls().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(boxes.calls()[i].text, expected[i].text);
        EXPECT_EQ(boxes.calls()[i].title, expected[i].title);
        EXPECT_EQ(boxes.calls()[i].type, expected[i].type);  // no icon
        EXPECT_EQ(boxes.calls()[i].owner, kOwner);
    }
}

std::vector<std::string> OurCacheUrls() {
    std::vector<std::string> ours;
    for (const std::string& url : CacheUrls()) {
        if (url.find("tovra.test") != std::string::npos) ours.push_back(url);
    }
    return ours;
}

// Files planted in every folder a run sweeps, registry values it deletes or writes.
class WashingRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        officeRecentMade_ = !Exists(kOfficeRecent);
        PlantFile(std::wstring(kOfficeRecent) + L"\\report.doc.lnk");
        planted_ = {
            windowsTemp_ / L"old.tmp",
            windowsTemp_ / L"nested\\older.tmp",
            history_ / L"visited.dat",
            cache_ / L"page[1].htm",
            recent_ / L"letter.txt.lnk",
            std::wstring(kOfficeRecent) + L"\\report.doc.lnk",
        };
        for (const auto& file : planted_) PlantFile(file);
        readOnly_ = windowsTemp_ / L"read-only.tmp";
        PlantFile(readOnly_);
        SetFileAttributesW(readOnly_.c_str(), FILE_ATTRIBUTE_READONLY);

        for (int i = 0; i < 3; ++i) AddCacheEntry("http://tovra.test/run" + std::to_string(i) + ".htm");
        ASSERT_EQ(OurCacheUrls().size(), 3u);

        WriteString(HKEY_CURRENT_USER, kTypedUrls, L"url1", L"http://tovra.test/typed");
        WriteString(HKEY_LOCAL_MACHINE, kTypedUrls, L"url1", L"http://tovra.test/typed-machine");
        WriteString(HKEY_CURRENT_USER, kRun, L"Other Program", L"C:\\other\\other.exe");
        WriteString(HKEY_LOCAL_MACHINE, kRun, L"Machine Program", L"C:\\other\\machine.exe");
        WriteString(HKEY_LOCAL_MACHINE, kRun, L"Tovra Internet Security 1.0", L"C:\\old\\tovra.exe");
        WriteString(HKEY_CURRENT_USER, kIEMain, L"Start Page", L"sentinel");
        WriteString(HKEY_LOCAL_MACHINE, kIEMain, L"Custom_Key", L"sentinel");
    }
    void TearDown() override {
        SetFileAttributesW(readOnly_.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (officeRecentMade_) RemoveTree(L"C:\\WINDOWS\\Application Data");
        ClearWebCache();
    }

    void ExpectFilesSwept() {
        for (const auto& file : planted_) EXPECT_FALSE(Exists(file)) << "still there: file " << &file - planted_.data();
        EXPECT_TRUE(Exists(readOnly_));
        EXPECT_TRUE(Exists(windowsTemp_ / L"nested"));  // folders stay
        EXPECT_EQ(OurCacheUrls(), std::vector<std::string>{});
    }
    void ExpectSettingsWritten() {
        EXPECT_EQ(ReadString(HKEY_CURRENT_USER, "software\\Microsoft\\Internet Explorer\\Main", "Start Page"),
                  std::optional<std::string>("http://www.microsoft.com/isapi/redir.dll?prd=ie&pver=6&ar=msnhome"));
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "software\\Microsoft\\Internet Explorer\\Main", "Custom_Key"),
                  std::optional<std::string>("MICROSO"));
    }

    RegistryKeySnapshot snapshots_[7] = {
        {HKEY_LOCAL_MACHINE, kIEMain}, {HKEY_CURRENT_USER, kIEMain}, {HKEY_LOCAL_MACHINE, kTypedUrls},
        {HKEY_CURRENT_USER, kTypedUrls}, {HKEY_LOCAL_MACHINE, kRun},  {HKEY_CURRENT_USER, kRun},
        {HKEY_LOCAL_MACHINE, kRun, KEY_WOW64_32KEY},
    };
    TempDir windowsTemp_{L"c:\\windows\\temp"};
    TempDir history_{SpecialFolderPath(CSIDL_HISTORY)};
    TempDir cache_{SpecialFolderPath(CSIDL_INTERNET_CACHE)};
    TempDir recent_{SpecialFolderPath(CSIDL_RECENT)};
    std::vector<std::wstring> planted_;
    std::wstring readOnly_;
    bool officeRecentMade_ = false;
    RecordingView view_;
};

TEST_F(WashingRunTest, YesAndYesWashesEverythingAndKeepsOnlyTheProductAtStartUp) {
    Washer washer(view_);
    ScriptedMessageBoxes boxes({IDYES, IDYES});
    std::vector<std::wstring> stateAtBoxes;
    boxes.onShow = [&](const MessageBoxCall&) {
        stateAtBoxes.push_back((view_.buttonEnabled ? L"enabled " : L"disabled ") + view_.status);
    };
    washer.Run();
    washer.Finish();

    ExpectBoxes(boxes, {kAreYouSure, kStartUp, kFinished});
    EXPECT_EQ(stateAtBoxes, (std::vector<std::wstring>{L"enabled Stopped", L"disabled Running", L"enabled Stopped"}));
    EXPECT_EQ(view_.log, (std::vector<std::wstring>{L"button disabled", L"status Running", L"button enabled",
                                                    L"status Stopped"}));
    EXPECT_FALSE(washer.running());
    ExpectSettingsWritten();
    ExpectFilesSwept();
    EXPECT_EQ(view_.label1, std::wstring(kOfficeRecent) + L"\\report.doc.lnk");  // the last folder swept
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTypedUrls));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kTypedUrls));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kRun));
    EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, kRun), std::vector<std::wstring>{L"Tovra Internet Security 1.0"});
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunA, "Tovra Internet Security 1.0"),
              std::optional<std::string>("\"C:\\Program Files\\tovra\\tovra.exe\""));

    // A second run ends in the same state.
    boxes.answer({IDYES, IDYES});
    washer.Run();
    washer.Finish();
    EXPECT_EQ(boxes.calls().size(), 6u);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kRun));
    EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, kRun), std::vector<std::wstring>{L"Tovra Internet Security 1.0"});
    ExpectFilesSwept();
}

TEST_F(WashingRunTest, NoAtStartUpLeavesBothStartUpKeys) {
    auto userRun = ValueNames(HKEY_CURRENT_USER, kRun);
    auto machineRun = ValueNames(HKEY_LOCAL_MACHINE, kRun);
    Washer washer(view_);
    ScriptedMessageBoxes boxes({IDYES, IDNO});
    washer.Run();
    washer.Finish();
    ExpectBoxes(boxes, {kAreYouSure, kStartUp, kFinished});
    ExpectSettingsWritten();
    ExpectFilesSwept();
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTypedUrls));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kTypedUrls));
    EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, kRun), userRun);
    EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, kRun), machineRun);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunA, "Tovra Internet Security 1.0"),
              std::optional<std::string>("C:\\old\\tovra.exe"));
}

TEST_F(WashingRunTest, NoAtFirstChangesNothing) {
    Washer washer(view_);
    ScriptedMessageBoxes boxes({IDNO});
    washer.Run();
    washer.Finish();
    ExpectBoxes(boxes, {kAreYouSure});
    EXPECT_TRUE(view_.log.empty());
    EXPECT_EQ(view_.labelChanges, 0);
    for (const auto& file : planted_) EXPECT_TRUE(Exists(file));
    EXPECT_EQ(OurCacheUrls().size(), 3u);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kTypedUrls));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kTypedUrls));
    EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, kRun), std::vector<std::wstring>{L"Other Program"});
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, "software\\Microsoft\\Internet Explorer\\Main", "Start Page"),
              std::optional<std::string>("sentinel"));
    EXPECT_FALSE(washer.running());
}

TEST_F(WashingRunTest, AStartUpKeyWithASubkeyStillLosesEveryValue) {
    const std::wstring sub = std::wstring(kRun) + L"\\WasherTestSubkey";
    WriteString(HKEY_CURRENT_USER, sub, L"Kept", L"x");
    Washer washer(view_);
    ScriptedMessageBoxes boxes({IDYES, IDYES});
    washer.Run();
    washer.Finish();
    EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, kRun), std::vector<std::wstring>{});
    EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, sub), std::vector<std::wstring>{L"Kept"});  // not the washer's to delete
    EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, kRun), std::vector<std::wstring>{L"Tovra Internet Security 1.0"});
    RegDeleteKeyW(HKEY_CURRENT_USER, sub.c_str());
}

// 64-bit Windows starts the programs of both registry views' Run keys: both are cleaned, and the
// product's own entry comes back in the view of its installer (this build's).
TEST_F(WashingRunTest, StartUpCleaningCoversBothRegistryViews) {
    tovra::UniqueKey run32;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRun, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr,
                              run32.put(), nullptr),
              ERROR_SUCCESS);
    const wchar_t data[] = L"C:\\other\\program32.exe";
    ASSERT_EQ(RegSetValueExW(run32.get(), L"Program32", 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data),
              ERROR_SUCCESS);
    run32.reset();
    Washer washer(view_);
    ScriptedMessageBoxes boxes({IDYES, IDYES});
    washer.Run();
    washer.Finish();
    ExpectBoxes(boxes, {kAreYouSure, kStartUp, kFinished});
    tovra::UniqueKey after;
    bool left = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRun, 0, KEY_READ | KEY_WOW64_32KEY, after.put()) == ERROR_SUCCESS &&
                RegQueryValueExW(after.get(), L"Program32", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    EXPECT_FALSE(left) << "the 32-bit view's start-up program is still there";
    EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, kRun), std::vector<std::wstring>{L"Tovra Internet Security 1.0"});
}

// Each step that writes or deletes in the registry refused in turn: the run goes on, and its
// closing message names the step instead of saying "Finished".
TEST_F(WashingRunTest, EachRefusedRegistryStepIsNamedInsteadOfFinished) {
    using tovra::test::FailingRegistry;
    struct Case {
        const char* name;
        void (*arrange)(FailingRegistry&);
        const wchar_t* line;
    };
    const Case cases[] = {
        {"machine defaults", [](FailingRegistry& r) { r.FailWrite(HKEY_LOCAL_MACHINE, kIEMain, L"Custom_Key"); },
         L"Internet Explorer default settings (all users)"},
        {"user defaults", [](FailingRegistry& r) { r.FailWrite(HKEY_CURRENT_USER, kIEMain, L"Start Page"); },
         L"Internet Explorer default settings (this user)"},
        {"user typed addresses", [](FailingRegistry& r) { r.FailDelete(HKEY_CURRENT_USER, kTypedUrls); },
         L"Typed addresses (this user)"},
        {"machine typed addresses", [](FailingRegistry& r) { r.FailDelete(HKEY_LOCAL_MACHINE, kTypedUrls); },
         L"Typed addresses (all users)"},
        {"user start-up", [](FailingRegistry& r) { r.FailDelete(HKEY_CURRENT_USER, kRun); },
         L"Programs that start with Windows (this user)"},
        {"machine start-up, 32-bit view",
         [](FailingRegistry& r) { r.FailDelete(HKEY_LOCAL_MACHINE, kRun, tovra::RegistryView::Bits32); },
         L"Programs that start with Windows (all users)"},
        {"own entry",
         [](FailingRegistry& r) {
             r.FailWrite(HKEY_LOCAL_MACHINE, L"software\\Microsoft\\Windows\\CurrentVersion\\Run",
                         L"Tovra Internet Security 1.0");
         },
         L"Start-up entry of Tovra Internet Security 1.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FailingRegistry registry;
        c.arrange(registry);
        Washer washer(view_, WasherSeams{nullptr, &registry});
        ScriptedMessageBoxes boxes({IDYES, IDYES});
        washer.Run();
        washer.Finish();
        ASSERT_EQ(boxes.calls().size(), 3u);
        EXPECT_EQ(boxes.calls()[2].text, std::wstring(L"These steps could not be done:\r\n") + c.line);
        EXPECT_EQ(boxes.calls()[2].title, L"End");
        EXPECT_EQ(view_.status, L"Stopped");
        EXPECT_TRUE(view_.buttonEnabled);
        ExpectFilesSwept();  // the rest of the run went on
    }
    // Everything under the machine root refused: each machine step is named, in run order.
    FailingRegistry registry;
    registry.FailRoot(HKEY_LOCAL_MACHINE);
    Washer washer(view_, WasherSeams{nullptr, &registry});
    ScriptedMessageBoxes boxes({IDYES, IDYES});
    washer.Run();
    washer.Finish();
    ASSERT_EQ(boxes.calls().size(), 3u);
    EXPECT_EQ(boxes.calls()[2].text,
              L"These steps could not be done:\r\nInternet Explorer default settings (all users)\r\n"
              L"Typed addresses (all users)\r\nPrograms that start with Windows (all users)\r\n"
              L"Start-up entry of Tovra Internet Security 1.0");
}

// Where User Account Control keeps the window's process from the machine root, the machine-wide
// steps go to one elevated instance, asked for once at the end of the run.
class FakeElevation : public Elevation {
public:
    explicit FakeElevation(bool grant) : grant_(grant) {}
    bool Needed() override { return true; }
    unsigned RunElevated(HWND owner, unsigned steps, HANDLE) override {
        asked.push_back(steps);
        owners.push_back(owner);
        return grant_ ? DoMachineSteps(steps, tovra::SystemRegistry()) : steps;
    }
    std::vector<unsigned> asked;
    std::vector<HWND> owners;

private:
    bool grant_;
};

TEST_F(WashingRunTest, WithoutElevationTheMachineStepsAreAskedForOnce) {
    // The window's process may write only the user's root.
    tovra::test::FailingRegistry userOnly;
    userOnly.FailRoot(HKEY_LOCAL_MACHINE);
    FakeElevation granted(true);
    Washer washer(view_, WasherSeams{nullptr, &userOnly, &granted});
    ScriptedMessageBoxes boxes({IDYES, IDYES});
    washer.Run();
    washer.Finish();
    ExpectBoxes(boxes, {kAreYouSure, kStartUp, kFinished});
    EXPECT_EQ(granted.asked, std::vector<unsigned>{kAllMachineSteps});
    EXPECT_EQ(granted.owners, std::vector<HWND>{kOwner});
    for (const auto& call : userOnly.calls) EXPECT_NE(call.root, HKEY_LOCAL_MACHINE) << "tried in the window's process";
    ExpectSettingsWritten();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kTypedUrls));
    EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, kRun), std::vector<std::wstring>{L"Tovra Internet Security 1.0"});

    // No at the start-up question: the elevated instance is not asked to clean the start-up keys.
    FakeElevation again(true);
    Washer second(view_, WasherSeams{nullptr, &userOnly, &again});
    boxes.answer({IDYES, IDNO});
    second.Run();
    second.Finish();
    EXPECT_EQ(again.asked, std::vector<unsigned>{kMachineBrowserDefaults | kMachineTypedUrls});
}

TEST_F(WashingRunTest, RefusedElevationNamesTheStepsThatWereNotDone) {
    FakeElevation refused(false);
    Washer washer(view_, WasherSeams{nullptr, nullptr, &refused});
    ScriptedMessageBoxes boxes({IDYES, IDYES});
    washer.Run();
    washer.Finish();
    ASSERT_EQ(boxes.calls().size(), 3u);
    EXPECT_EQ(boxes.calls()[2].text,
              L"These steps could not be done:\r\nInternet Explorer default settings (all users)\r\n"
              L"Typed addresses (all users)\r\nPrograms that start with Windows (all users)\r\n"
              L"Start-up entry of Tovra Internet Security 1.0");
    // The machine root is as it was; the user's steps were done.
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "software\\Microsoft\\Internet Explorer\\Main", "Custom_Key"),
              std::optional<std::string>("sentinel"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kTypedUrls));
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunA, "Tovra Internet Security 1.0"),
              std::optional<std::string>("C:\\old\\tovra.exe"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTypedUrls));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kRun));
    ExpectFilesSwept();
}

TEST_F(WashingRunTest, IEDefaultNamesWhatItCouldNotWrite) {
    const Box kDefaults{L"Are you sure you want to change to Internet Explorer Default Settings", L"Default Settings",
                        MB_YESNO};
    {
        // All written: nothing is shown after the question.
        Washer washer(view_);
        ScriptedMessageBoxes boxes({IDYES});
        washer.IEDefault();
        washer.Finish();
        ExpectBoxes(boxes, {kDefaults});
        ExpectSettingsWritten();
    }
    {
        FakeElevation refused(false);
        Washer washer(view_, WasherSeams{nullptr, nullptr, &refused});
        WriteString(HKEY_LOCAL_MACHINE, kIEMain, L"Custom_Key", L"sentinel");
        ScriptedMessageBoxes boxes({IDYES});
        washer.IEDefault();
        washer.Finish();
        EXPECT_EQ(refused.asked, std::vector<unsigned>{kMachineBrowserDefaults});
        ExpectBoxes(boxes, {kDefaults, {L"These steps could not be done:\r\nInternet Explorer default settings (all users)",
                                        L"Default Settings", MB_OK}});
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "software\\Microsoft\\Internet Explorer\\Main", "Custom_Key"),
                  std::optional<std::string>("sentinel"));
    }
    {
        tovra::test::FailingRegistry registry;
        registry.FailRoot(HKEY_CURRENT_USER);
        Washer washer(view_, WasherSeams{nullptr, &registry});
        ScriptedMessageBoxes boxes({IDYES});
        washer.IEDefault();
        washer.Finish();
        ExpectBoxes(boxes, {kDefaults, {L"These steps could not be done:\r\nInternet Explorer default settings (this user)",
                                        L"Default Settings", MB_OK}});
    }
}

// The run works off the window thread: Run() returns at once, the window shows Label1 as the
// files go, and Stop (Exit) ends it at its next file, promptly, deleting nothing more.
TEST_F(WashingRunTest, TheRunLeavesTheWindowFreeAndStopsAtItsNextFile) {
    constexpr int kFiles = 3000;
    for (int i = 0; i < kFiles; ++i) PlantFile(windowsTemp_ / (L"many\\" + std::to_wstring(i) + L".tmp"));
    Washer washer(view_);
    ScriptedMessageBoxes boxes({IDYES, IDYES});
    washer.Run();
    EXPECT_TRUE(washer.running()) << "the run did not leave the window thread";
    EXPECT_EQ(view_.status, L"Running");
    // Show what the run does until a few hundred files are gone, as the window would.
    auto left = [&] {
        int n = 0;
        for (int i = 0; i < kFiles; ++i) n += Exists(windowsTemp_ / (L"many\\" + std::to_wstring(i) + L".tmp"));
        return n;
    };
    const DWORD start = GetTickCount();
    while (view_.labelChanges < 3 && GetTickCount() - start < 20000) {
        washer.RunTasks();
        Sleep(5);
    }
    ASSERT_GE(view_.labelChanges, 3) << "Label1 never showed a file";
    const DWORD stopAt = GetTickCount();
    washer.Stop();
    EXPECT_LT(GetTickCount() - stopAt, 1000u) << "Stop took too long";
    EXPECT_FALSE(washer.running());
    const int afterStop = left();
    EXPECT_GT(afterStop, 0) << "the run was over before it could be stopped";
    Sleep(200);
    EXPECT_EQ(left(), afterStop) << "files went after the stop";
    // Nothing more is shown: no closing message, no start-up question.
    EXPECT_EQ(boxes.calls().size(), 1u);
    RemoveTree(windowsTemp_ / L"many");
}

TEST(MachineStepsTest, TheSwitchNamesExactlyTheSteps) {
    EXPECT_EQ(MachineStepsSwitch(kAllMachineSteps), L"/machine-steps:15");
    struct Case {
        const wchar_t* line;
        std::optional<unsigned> steps;
    };
    const Case cases[] = {
        {L"", std::nullopt},
        {L"/machine-steps:1", 1u},
        {L"\"C:\\Program Files\\tovra\\tovra.exe\" /machine-steps:15", 15u},
        {L"/machine-steps:12 ", 12u},
        {L"/machine-steps:0", std::nullopt},
        {L"/machine-steps:16", std::nullopt},
        {L"/machine-steps:", std::nullopt},
        {L"/machine-steps:3x", std::nullopt},
        {L"/other", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseMachineStepsSwitch(c.line), c.steps) << testing::PrintToString(std::wstring(c.line));
    }
}

// Runs the washer with `during` handled once as a window event while the run is in progress
// (its work on its own thread, the window thread free); the number of times it ran.
int RunWithEventInSweep(Washer& washer, std::function<void()> during) {
    washer.Run();
    int handled = 0;
    if (washer.running()) {
        ++handled;
        during();
    }
    washer.Finish();
    return handled;
}

TEST_F(WashingRunTest, CleanChosenDuringASweepDoesNotStartASecondRun) {
    Washer washer(view_);
    ScriptedMessageBoxes boxes({IDYES, IDNO});
    const int handled = RunWithEventInSweep(washer, [&] {
        EXPECT_TRUE(washer.running());
        EXPECT_EQ(view_.status, L"Running");
        size_t before = boxes.calls().size();
        washer.Run();  // "Clean" from the menu
        EXPECT_EQ(boxes.calls().size(), before);
    });

    EXPECT_EQ(handled, 1);
    ExpectBoxes(boxes, {kAreYouSure, kStartUp, kFinished});
    ExpectFilesSwept();
    // Once the run is over, "Clean" starts a run again.
    boxes.answer({IDNO});
    washer.Run();
    washer.Finish();
    EXPECT_EQ(boxes.calls().size(), 4u);
}

TEST_F(WashingRunTest, IEDefaultChosenDuringASweepAsksNothing) {
    Washer washer(view_);
    ScriptedMessageBoxes boxes({IDYES, IDNO});
    const int handled = RunWithEventInSweep(washer, [&] {
        size_t before = boxes.calls().size();
        washer.IEDefault();  // "IE Default" from the menu, inside the sweep
        EXPECT_EQ(boxes.calls().size(), before) << "a question in the middle of the run";
    });

    EXPECT_EQ(handled, 1);
    ExpectBoxes(boxes, {kAreYouSure, kStartUp, kFinished});
    ExpectFilesSwept();
    // After the run it asks again as usual.
    boxes.answer({IDNO});
    washer.IEDefault();
    washer.Finish();
    EXPECT_EQ(boxes.calls().size(), 4u);
}

}  // namespace
}  // namespace tovra::washer::test
