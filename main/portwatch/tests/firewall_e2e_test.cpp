// The firewall of tovra.exe driven as a user would, with real TCP connections from this process to
// 127.0.0.1 and ::1 on every watched port (the test run has its own network, where the ports are free).
#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>
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
using tovra::portwatch::Family;
using tovra::portwatch::kIpv4;
using tovra::portwatch::kIpv6;
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

// The loopback address of each family as the warnings name it.
const wchar_t* Loopback(Family family) { return family == kIpv6 ? L"::1" : L"127.0.0.1"; }
const char* FamilyName(Family family) { return family == kIpv6 ? "IPv6" : "IPv4"; }

// The family's wildcard or loopback address on port.
sockaddr_storage Address(Family family, unsigned short port, bool loopback, int* length) {
    sockaddr_storage a{};
    if (family == kIpv6) {
        auto& a6 = reinterpret_cast<sockaddr_in6&>(a);
        a6.sin6_family = AF_INET6;
        a6.sin6_port = htons(port);
        a6.sin6_addr = loopback ? in6addr_loopback : in6addr_any;
        *length = sizeof a6;
    } else {
        auto& a4 = reinterpret_cast<sockaddr_in&>(a);
        a4.sin_family = AF_INET;
        a4.sin_port = htons(port);
        a4.sin_addr.s_addr = htonl(loopback ? INADDR_LOOPBACK : INADDR_ANY);
        *length = sizeof a4;
    }
    return a;
}

// Connects from the family's loopback address (127.0.0.1 or ::1) to the same on port.
SOCKET Connect(unsigned short port, Family family = kIpv4, int* error = nullptr) {
    SOCKET s = socket(family == kIpv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    int length = 0;
    sockaddr_storage to = Address(family, port, true, &length);
    if (connect(s, reinterpret_cast<sockaddr*>(&to), length) != 0) {
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
        // IPv6 is watched beside IPv4: without ::1 half of what follows would prove nothing.
        {
            SOCKET s = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
            int length = 0;
            sockaddr_storage a = Address(kIpv6, 0, true, &length);
            const bool loopback6 = s != INVALID_SOCKET && bind(s, reinterpret_cast<sockaddr*>(&a), length) == 0;
            const int error = WSAGetLastError();
            if (s != INVALID_SOCKET) closesocket(s);
            ASSERT_TRUE(loopback6) << "this machine has no IPv6 loopback (::1), error " << error
                                   << ": the IPv6 listeners cannot be tested (enable IPv6 on lo)";
        }
        // The fixed ports must be free to bind here (root, own network), or nothing below means anything.
        for (Family f : {kIpv4, kIpv6}) {
            for (size_t i : Holders()) {
                SOCKET s = socket(f == kIpv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
                int length = 0;
                sockaddr_storage a = Address(f, Watchers()[i].port, false, &length);
                ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), length), 0)
                    << "port " << Watchers()[i].port << " (" << FamilyName(f)
                    << ") cannot be bound: run the tests as root in their own network";
                closesocket(s);
            }
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

    // One connection to port over the family: its warning must come with the row's title and
    // text, and the connection must end without a byte. Answers the warning.
    void ExpectWarning(size_t row, Family family = kIpv4) {
        const auto& w = Watchers()[row];
        SCOPED_TRACE(FamilyName(family));
        SOCKET s = Connect(w.port, family);
        ASSERT_NE(s, INVALID_SOCKET) << "port " << w.port << " does not listen";
        auto box = WaitMessageBox(app_, kWait);
        ASSERT_TRUE(box.has_value()) << "no warning for port " << w.port;
        EXPECT_EQ(box->title, w.title) << w.port;
        EXPECT_EQ(box->text, WarningText(row, Loopback(family))) << w.port;
        EXPECT_EQ(box->icon, static_cast<UINT>(MB_ICONHAND)) << w.port;
        EXPECT_EQ(box->buttons, std::vector<int>{IDOK}) << w.port;
        EXPECT_EQ(BytesUntilEnd(s), 0) << "port " << w.port << " served something or kept the connection";
        closesocket(s);
        ASSERT_TRUE(Answer(*box, IDOK)) << w.port;
    }

    // Every watched port refuses connections over both families.
    void ExpectNothingListens(const char* when) {
        for (Family f : {kIpv4, kIpv6}) {
            for (size_t i : Holders()) {
                int error = 0;
                EXPECT_EQ(Connect(Watchers()[i].port, f, &error), INVALID_SOCKET)
                    << "port " << Watchers()[i].port << " (" << FamilyName(f) << ") listening " << when;
                EXPECT_EQ(error, WSAECONNREFUSED) << Watchers()[i].port << " " << FamilyName(f);
            }
        }
    }

    App app_;
    HWND main_ = nullptr;
};

TEST_F(FirewallE2eTest, EveryPortWarnsOfEachConnectionAndKeepsListeningUntilStopped) {
    const State stopped{L"Start", L"Stopped", false, true};
    const State running{L"Stop", L"Running", true, false};
    EXPECT_EQ(Firewall(), stopped);
    ExpectNothingListens("before the start");

    ASSERT_TRUE(Click(FindControlById(main_, tovra::shell::cmdFireWall)));
    ASSERT_TRUE(WaitFor([&] { return Firewall() == running; }, kWait));

    for (Family f : {kIpv4, kIpv6}) {
        for (size_t row : Holders()) {
            ExpectWarning(row, f);
            ExpectWarning(row, f);  // the watcher still listens after the first
            if (HasFatalFailure()) return;
        }
    }
    EXPECT_FALSE(CurrentMessageBox(app_).has_value());

    // The two ports the warnings are best known by, word for word, from either family.
    struct Case {
        unsigned short port;
        Family family;
        const wchar_t* title;
        const wchar_t* text;
    } cases[] = {
        {25, kIpv4, L"SMTP: Click OK to stop!", L"Someone from IP 127.0.0.1 is tying to use your mail protocol"},
        {25, kIpv6, L"SMTP: Click OK to stop!", L"Someone from IP ::1 is tying to use your mail protocol"},
        {135, kIpv4, L"Warning: Click OK to stop!", L"Someone form IP127.0.0.1 is tying to access your PC(Maybe a virus) "},
        {135, kIpv6, L"Warning: Click OK to stop!", L"Someone form IP::1 is tying to access your PC(Maybe a virus) "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(FamilyName(c.family));
        SOCKET s = Connect(c.port, c.family);
        ASSERT_NE(s, INVALID_SOCKET) << c.port;
        auto box = WaitMessageBox(app_, kWait);
        ASSERT_TRUE(box.has_value()) << c.port;
        EXPECT_EQ(box->title, c.title);
        EXPECT_EQ(box->text, c.text);
        ASSERT_TRUE(Answer(*box, IDOK));
        closesocket(s);
    }

    ASSERT_TRUE(ChooseMenu(app_, main_, L"&Firewall/Disable Firewall"));
    ASSERT_TRUE(WaitFor([&] { return Firewall() == stopped; }, kWait));
    ExpectNothingListens("after Stop");
    EXPECT_FALSE(CurrentMessageBox(app_).has_value());

    // "Enable Firewall" starts it again.
    ASSERT_TRUE(ChooseMenu(app_, main_, L"&Firewall/Enable Firewall"));
    ASSERT_TRUE(WaitFor([&] { return Firewall() == running; }, kWait));
    ExpectWarning(0, kIpv4);
    ExpectWarning(0, kIpv6);
}

// Alternates the families; the odd number of ports gives every port both over a round.
Family FloodFamily(int attempt) { return attempt % 2 ? kIpv6 : kIpv4; }

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
        SOCKET s = Connect(Watchers()[rows[i % rows.size()]].port, FloodFamily(i));
        ASSERT_NE(s, INVALID_SOCKET);
        closesocket(s);
    }
    answerUntil([&] { return answered >= 60; }, 60000);
    ASSERT_EQ(answered.load(), 60);
    ASSERT_TRUE(WaitFor([&] { return OpenBoxes(app_).empty(); }, kWait));
    SIZE_T before = PrivateBytes(app_);
    ASSERT_GT(before, 0u) << "the program's memory cannot be read";

    // The flood: 1,000 connection attempts spread over the ports and both families, as fast as they go.
    constexpr int kFlood = 1000;
    std::atomic<int> connected{0}, refused{0};
    std::atomic<ULONGLONG> attemptsMs{0};
    ULONGLONG floodStart = tovra::compat::TickCount64();
    std::thread flood([&] {
        for (int i = 0; i < kFlood; ++i) {
            SOCKET s = Connect(Watchers()[rows[i % rows.size()]].port, FloodFamily(i));
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

    // Every watcher still listens, on both families.
    for (Family f : {kIpv4, kIpv6})
        for (size_t row : rows) ExpectWarning(row, f);
}

}  // namespace
