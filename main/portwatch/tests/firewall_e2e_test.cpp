// The firewall of tovra.exe driven as a user would, with real TCP connections from this process to
// 127.0.0.1 on every watched port (the test run has its own network, where the ports are free).
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "main/portwatch/port_watch.h"
#include "main/shell/main_ids.h"
#include "tests/driver/driver.h"
#include "tests/support/temp_dir.h"
#include "shared/compat.h"

namespace {

using namespace tovra::driver;
using tovra::portwatch::Watchers;
using tovra::portwatch::WarningText;

constexpr DWORD kWait = 15000;

// The watchers that hold a port: watcher 13 loses port 25 to watcher 4.
std::vector<size_t> Holders() {
    std::vector<size_t> rows;
    for (size_t i = 0; i < Watchers().size(); ++i)
        if (i != 12) rows.push_back(i);
    return rows;
}

SOCKET Connect(unsigned short port, int* error = nullptr) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        if (error) *error = WSAGetLastError();
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

// Bytes received until the peer ended the connection; -1 if it is still open after the time.
int BytesUntilEnd(SOCKET s, DWORD ms = 5000) {
    DWORD timeout = ms;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    char buf[64];
    int total = 0;
    for (;;) {
        int n = recv(s, buf, sizeof buf, 0);
        if (n > 0) { total += n; continue; }
        if (n == 0) return total;
        int e = WSAGetLastError();
        return (e == WSAECONNRESET || e == WSAECONNABORTED) ? total : -1;
    }
}

std::vector<HWND> OpenBoxes(const App& app) {
    std::vector<HWND> boxes;
    for (HWND w : app.TopWindows(true))
        if (ClassName(w) == L"#32770") boxes.push_back(w);
    return boxes;
}

// The program's private committed memory. Wine leaves PrivateUsage at 0 for another process;
// its PagefileUsage counts the same thing (the process's data and stack).
SIZE_T PrivateBytes(const App& app) {
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    pmc.cb = sizeof pmc;
    if (!GetProcessMemoryInfo(app.process(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc)) return 0;
    return pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage;
}

class FirewallE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA d;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &d), 0);
        // The fixed ports must be free to bind here (root, own network), or nothing below means anything.
        for (size_t i : Holders()) {
            SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(Watchers()[i].port);
            ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0)
                << "port " << Watchers()[i].port << " cannot be bound: run the tests as root in their own network";
            closesocket(s);
        }
        app_ = App::Start(tovra::test::ModuleDir() + L"\\tovra.exe");
        ASSERT_TRUE(app_.started());
        main_ = app_.WaitWindow(tovra::shell::kMainTitle, kWait);
        ASSERT_NE(main_, nullptr) << "the main window did not come";
    }
    void TearDown() override {
        app_.Kill();
        WSACleanup();
    }

    struct State {
        std::wstring button, status;
        bool enable, disable;
        bool operator==(const State&) const = default;
    };
    State Firewall() {
        return {WindowText(FindControlById(main_, tovra::shell::cmdFireWall)),
                WindowText(FindControlById(main_, tovra::shell::lblFireWall)),
                ReadMenu(app_, main_, L"&Firewall/Enable Firewall").checked,
                ReadMenu(app_, main_, L"&Firewall/Disable Firewall").checked};
    }

    // One connection to port: its warning must come with the row's title and text, and the
    // connection must end without a byte. Answers the warning.
    void ExpectWarning(size_t row) {
        const auto& w = Watchers()[row];
        SOCKET s = Connect(w.port);
        ASSERT_NE(s, INVALID_SOCKET) << "port " << w.port << " does not listen";
        auto box = WaitMessageBox(app_, kWait);
        ASSERT_TRUE(box.has_value()) << "no warning for port " << w.port;
        EXPECT_EQ(box->title, w.title) << w.port;
        EXPECT_EQ(box->text, WarningText(row, L"127.0.0.1")) << w.port;
        EXPECT_EQ(box->icon, static_cast<UINT>(MB_ICONHAND)) << w.port;
        EXPECT_EQ(box->buttons, std::vector<int>{IDOK}) << w.port;
        EXPECT_EQ(BytesUntilEnd(s), 0) << "port " << w.port << " served something or kept the connection";
        closesocket(s);
        ASSERT_TRUE(Answer(*box, IDOK)) << w.port;
    }

    App app_;
    HWND main_ = nullptr;
};

TEST_F(FirewallE2eTest, EveryPortWarnsOfEachConnectionAndKeepsListeningUntilStopped) {
    const State stopped{L"Start", L"Stopped", false, true};
    const State running{L"Stop", L"Running", true, false};
    EXPECT_EQ(Firewall(), stopped);
    for (size_t i : Holders()) {
        int error = 0;
        EXPECT_EQ(Connect(Watchers()[i].port, &error), INVALID_SOCKET) << "listening before the start";
        EXPECT_EQ(error, WSAECONNREFUSED);
    }

    ASSERT_TRUE(Click(FindControlById(main_, tovra::shell::cmdFireWall)));
    ASSERT_TRUE(WaitFor([&] { return Firewall() == running; }, kWait));

    for (size_t row : Holders()) {
        ExpectWarning(row);
        ExpectWarning(row);  // the watcher still listens after the first
        if (HasFatalFailure()) return;
    }
    EXPECT_FALSE(CurrentMessageBox(app_).has_value());

    // The two ports the warnings are best known by, word for word.
    SOCKET smtp = Connect(25);
    auto box = WaitMessageBox(app_, kWait);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->title, L"SMTP: Click OK to stop!");
    EXPECT_EQ(box->text, L"Someone from IP 127.0.0.1 is tying to use your mail protocol");
    ASSERT_TRUE(Answer(*box, IDOK));
    closesocket(smtp);
    SOCKET rpc = Connect(135);
    box = WaitMessageBox(app_, kWait);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->title, L"Warning: Click OK to stop!");
    EXPECT_EQ(box->text, L"Someone form IP127.0.0.1 is tying to access your PC(Maybe a virus) ");
    ASSERT_TRUE(Answer(*box, IDOK));
    closesocket(rpc);

    ASSERT_TRUE(ChooseMenu(app_, main_, L"&Firewall/Disable Firewall"));
    ASSERT_TRUE(WaitFor([&] { return Firewall() == stopped; }, kWait));
    for (size_t i : Holders()) {
        int error = 0;
        EXPECT_EQ(Connect(Watchers()[i].port, &error), INVALID_SOCKET) << "still listening after Stop";
        EXPECT_EQ(error, WSAECONNREFUSED) << Watchers()[i].port;
    }
    EXPECT_FALSE(CurrentMessageBox(app_).has_value());

    // "Enable Firewall" starts it again.
    ASSERT_TRUE(ChooseMenu(app_, main_, L"&Firewall/Enable Firewall"));
    ASSERT_TRUE(WaitFor([&] { return Firewall() == running; }, kWait));
    ExpectWarning(0);
}

TEST_F(FirewallE2eTest, AFloodNeitherNestsWarningsNorHangsNorGrows) {
    ASSERT_TRUE(ChooseMenu(app_, main_, L"&Firewall/Enable Firewall"));
    ASSERT_TRUE(WaitFor([&] { return WindowText(FindControlById(main_, tovra::shell::lblFireWall)) == L"Running"; },
                        kWait));
    const std::vector<size_t> rows = Holders();

    std::atomic<int> answered{0}, mostAtOnce{0};
    std::atomic<bool> hung{false};
    // Answers every warning as it comes, and watches that never two are open at once and that
    // the program still answers its window's messages.
    auto answerUntil = [&](const std::function<bool()>& done, DWORD ms) {
        ULONGLONG end = tovra::compat::TickCount64() + ms;
        HWND last = nullptr;
        ULONGLONG nextProbe = 0;
        while (!done() && tovra::compat::TickCount64() < end) {
            if (tovra::compat::TickCount64() >= nextProbe) {
                // The open warning's loop must still serve the main window.
                DWORD_PTR r;
                if (!SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &r)) hung = true;
                nextProbe = tovra::compat::TickCount64() + 100;
            }
            std::vector<HWND> boxes = OpenBoxes(app_);
            mostAtOnce = std::max<int>(mostAtOnce, static_cast<int>(boxes.size()));
            if (boxes.empty() || boxes[0] == last) {
                Sleep(1);
                continue;
            }
            last = boxes[0];
            PostMessageW(GetDlgItem(boxes[0], IDOK), BM_CLICK, 0, 0);
            ++answered;
        }
    };

    // Warm-up: the program's heap settles after its first warnings.
    std::vector<SOCKET> warm;
    for (int i = 0; i < 60; ++i) {
        SOCKET s = Connect(Watchers()[rows[i % rows.size()]].port);
        ASSERT_NE(s, INVALID_SOCKET);
        closesocket(s);
    }
    answerUntil([&] { return answered >= 60; }, 60000);
    ASSERT_EQ(answered.load(), 60);
    ASSERT_TRUE(WaitFor([&] { return OpenBoxes(app_).empty(); }, kWait));
    SIZE_T before = PrivateBytes(app_);
    ASSERT_GT(before, 0u) << "the program's memory cannot be read";

    // The flood: 1,000 connection attempts spread over the ports, as fast as they go.
    constexpr int kFlood = 1000;
    std::atomic<int> connected{0}, refused{0};
    std::atomic<ULONGLONG> attemptsMs{0};
    ULONGLONG floodStart = tovra::compat::TickCount64();
    std::thread flood([&] {
        for (int i = 0; i < kFlood; ++i) {
            SOCKET s = Connect(Watchers()[rows[i % rows.size()]].port);
            if (s == INVALID_SOCKET) { ++refused; continue; }
            ++connected;
            closesocket(s);
        }
        attemptsMs = tovra::compat::TickCount64() - floodStart;
    });
    answered = 0;
    answerUntil([&] { return answered >= kFlood; }, 240000);
    flood.join();
    ULONGLONG floodMs = tovra::compat::TickCount64() - floodStart;
    EXPECT_EQ(connected.load() + refused.load(), kFlood);
    EXPECT_EQ(refused.load(), 0) << "a watcher stopped listening during the flood";
    EXPECT_EQ(answered.load(), connected.load()) << "every connection gets its own warning";
    EXPECT_EQ(mostAtOnce.load(), 1) << "two warnings were open at once";
    EXPECT_FALSE(hung.load()) << "the program stopped answering during the flood";
    ASSERT_TRUE(WaitFor([&] { return OpenBoxes(app_).empty(); }, kWait));
    // Nothing is left over: no late warning comes.
    Sleep(300);
    EXPECT_TRUE(OpenBoxes(app_).empty());
    SIZE_T after = PrivateBytes(app_);
    std::printf("flood: %d connections made in %llu ms, answered in %llu ms; private bytes %zu -> %zu\n",
                connected.load(), attemptsMs.load(), floodMs, static_cast<size_t>(before), static_cast<size_t>(after));
    EXPECT_LT(attemptsMs.load(), 20000u) << "the attempts were not a flood";
    EXPECT_LT(after, before + 4 * 1024 * 1024) << "memory grew by " << (after - before) << " bytes";
    EXPECT_TRUE(app_.Running());

    // Every watcher still listens.
    for (size_t row : rows) ExpectWarning(row);
}

}  // namespace
