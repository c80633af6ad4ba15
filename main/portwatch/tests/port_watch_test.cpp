#include "main/portwatch/port_watch.h"

#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "shared/message_box.h"

// Not every SDK names it for a Windows XP target; the value is the same everywhere.
#ifndef IPV6_V6ONLY
#define IPV6_V6ONLY 27
#endif

namespace {

using tovra::portwatch::Family;
using tovra::portwatch::kIpv4;
using tovra::portwatch::kIpv6;
using tovra::portwatch::PortWatch;
using tovra::portwatch::Watchers;
using tovra::portwatch::WarningText;

constexpr UINT kSocketMessage = WM_APP + 1;
const unsigned short kDistinctPorts[] = {7,   21,   23,    25,    53,  79,  80,  110,  119,  161,
                                         162, 20,   666,   1080,  65535, 31337, 135, 145, 23435};

// A hidden window that hands socket notices to the watch, as the main window does.
class Host {
public:
    explicit Host(tovra::portwatch::OpenSocketFn openSocket = {}) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"PortWatchTestHost";
        RegisterClassW(&wc);
        hwnd_ = CreateWindowW(L"PortWatchTestHost", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), this);
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        watch = std::make_unique<PortWatch>(hwnd_, kSocketMessage, std::move(openSocket));
    }
    ~Host() {
        watch.reset();
        DestroyWindow(hwnd_);
    }
    HWND hwnd() const { return hwnd_; }
    std::unique_ptr<PortWatch> watch;

private:
    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
        auto* self = reinterpret_cast<Host*>(GetWindowLongPtrW(h, GWLP_USERDATA));
        if (self && m == kSocketMessage && self->watch) {
            self->watch->OnSocketMessage(wp, lp);
            return 0;
        }
        return DefWindowProcW(h, m, wp, lp);
    }
    HWND hwnd_ = nullptr;
};

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Pumps messages until cond holds or the time is up.
bool PumpUntil(const std::function<bool()>& cond, DWORD ms = 10000) {
    DWORD start = GetTickCount();
    while (!cond()) {
        if (GetTickCount() - start > ms) return false;
        Pump();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

// The loopback address of each family as the warnings name it.
const wchar_t* Loopback(Family family) { return family == kIpv6 ? L"::1" : L"127.0.0.1"; }
const char* FamilyName(Family family) { return family == kIpv6 ? "IPv6" : "IPv4"; }

class Client {
public:
    // Connects to the family's loopback address (127.0.0.1 or ::1) on port; the handshake
    // completes in the listen backlog.
    explicit Client(unsigned short port, Family family = kIpv4) {
        if (family == kIpv6) {
            s_ = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
            sockaddr_in6 to{};
            to.sin6_family = AF_INET6;
            to.sin6_port = htons(port);
            to.sin6_addr = in6addr_loopback;
            connected_ = connect(s_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
        } else {
            s_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(port);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            connected_ = connect(s_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
        }
        error_ = connected_ ? 0 : WSAGetLastError();
    }
    ~Client() { closesocket(s_); }
    bool connected() const { return connected_; }
    int error() const { return error_; }
    // What the peer sent before the connection ended: -1 when it is still open after the time.
    int BytesUntilEnd(DWORD ms = 5000) {
        DWORD timeout = ms;
        setsockopt(s_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        char buf[64];
        int total = 0;
        for (;;) {
            int n = recv(s_, buf, sizeof buf, 0);
            if (n > 0) { total += n; continue; }
            if (n == 0) return total;
            int e = WSAGetLastError();
            if (e == WSAECONNRESET || e == WSAECONNABORTED) return total;
            return -1;  // time-out: nobody ended it
        }
    }

private:
    SOCKET s_ = INVALID_SOCKET;
    bool connected_ = false;
    int error_ = 0;
};

// A listener of another program on port, on one family (IPv6 alone, as the watch's own are).
class OtherProgram {
public:
    OtherProgram(unsigned short port, Family family) {
        if (family == kIpv6) {
            s_ = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
            DWORD only = 1;
            setsockopt(s_, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&only), sizeof only);
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_port = htons(port);
            bound_ = bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        } else {
            s_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            bound_ = bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        }
        bound_ = bound_ && listen(s_, 5) == 0;
    }
    ~OtherProgram() { Close(); }
    bool listening() const { return bound_; }
    void Close() {
        if (s_ != INVALID_SOCKET) closesocket(s_);
        s_ = INVALID_SOCKET;
    }

private:
    SOCKET s_ = INVALID_SOCKET;
    bool bound_ = false;
};

class PortWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA d;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &d), 0);
        // Every test here runs each family; without ::1 the IPv6 half would prove nothing.
        SOCKET s = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        const bool loopback6 = s != INVALID_SOCKET && bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        const int error = WSAGetLastError();
        if (s != INVALID_SOCKET) closesocket(s);
        ASSERT_TRUE(loopback6) << "this machine has no IPv6 loopback (::1), error " << error
                               << ": the IPv6 listeners cannot be tested (enable IPv6 on lo)";
    }
    void TearDown() override { WSACleanup(); }
};

TEST(PortWatchTableTest, TwentyWatchersWithTheirPortsTitlesAndTexts) {
    const auto& w = Watchers();
    const unsigned short ports[] = {7, 21, 23, 25, 53, 79, 80, 110, 119, 161, 162, 20, 25, 666, 1080,
                                    65535, 31337, 135, 145, 23435};
    ASSERT_EQ(w.size(), 20u);
    for (size_t i = 0; i < w.size(); ++i) {
        EXPECT_EQ(w[i].port, ports[i]) << i;
        EXPECT_EQ(std::wstring(w[i].name), L"Winsock" + std::to_wstring(i + 1));
    }
    struct Case {
        size_t row;
        const wchar_t* title;
        const wchar_t* text;
    } cases[] = {
        {0, L"ECHO: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying echo your computer"},
        {1, L"FTP: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to transfer file from/to your computer"},
        {2, L"Telnet: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to Telnet your computer"},
        {3, L"SMTP: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to use your mail protocol"},
        {4, L"DNS: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to use your DNS"},
        {5, L"FINGER: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to get information of your computer"},
        {6, L"HTTP: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to use your web site"},
        {7, L"POP3: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to use your POP3 port"},
        {8, L"NNTP: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to use your News Protocol"},
        {9, L"SNMP: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to use your SNMP Protocol"},
        {10, L"TRAP: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to use your Trap Protocol"},
        {11, L"File Transfer: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to transfer file from/to your computer"},
        {12, L"SMTP: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to use your SMTP port"},
        {13, L"Warning: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to access your PC"},
        {14, L"Warning: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to access your PC"},
        {15, L"Warning: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to access your PC"},
        {16, L"Warning: Click OK to stop!", L"Someone from IP 10.0.0.5 is tying to access your PC"},
        {17, L"Warning: Click OK to stop!", L"Someone form IP10.0.0.5 is tying to access your PC(Maybe a virus) "},
        {18, L"Warning: Click OK to stop!", L"Someone form IP10.0.0.5 is tying to access your PC(Maybe a virus) "},
        {19, L"Warning: Click OK to stop!", L"Someone form IP10.0.0.5 is tying to access your PC(Maybe a virus) "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(std::wstring(w[c.row].title), c.title) << c.row;
        EXPECT_EQ(WarningText(c.row, L"10.0.0.5"), c.text) << c.row;
    }
}

TEST_F(PortWatchTest, NothingListensUntilStartedAndEverythingAfterStart) {
    Host host;
    EXPECT_FALSE(host.watch->Running());
    EXPECT_EQ(host.watch->ListeningCount(), 0u);
    EXPECT_FALSE(Client(7).connected());
    EXPECT_FALSE(Client(7, kIpv6).connected());

    host.watch->Start();
    EXPECT_TRUE(host.watch->Running());
    // Every distinct port is held on both families; watcher 13 loses port 25 to watcher 4, as designed.
    for (size_t i = 0; i < 20; ++i) {
        for (Family f : {kIpv4, kIpv6}) EXPECT_EQ(host.watch->Listening(i, f), i != 12) << "watcher " << i + 1 << " " << FamilyName(f);
        EXPECT_EQ(host.watch->Listening(i), i != 12) << "watcher " << i + 1;
    }
    ASSERT_EQ(host.watch->ListeningCount(kIpv4), 19u) << "the fixed ports must be free to bind (run as root, own network)";
    ASSERT_EQ(host.watch->ListeningCount(kIpv6), 19u) << "the fixed ports must be free to bind on IPv6 too";
    EXPECT_EQ(host.watch->ListeningCount(), 19u);
    EXPECT_TRUE(host.watch->UnwatchedPorts().empty());
    EXPECT_EQ(host.watch->UnwatchedTip(), L"");

    // Starting again keeps every watcher listening.
    host.watch->Start();
    EXPECT_TRUE(host.watch->Running());
    EXPECT_EQ(host.watch->ListeningCount(kIpv4), 19u);
    EXPECT_EQ(host.watch->ListeningCount(kIpv6), 19u);

    host.watch->Stop();
    EXPECT_FALSE(host.watch->Running());
    EXPECT_EQ(host.watch->ListeningCount(), 0u);
    for (Family f : {kIpv4, kIpv6}) {
        for (unsigned short port : kDistinctPorts) {
            Client c(port, f);
            EXPECT_FALSE(c.connected()) << port << " " << FamilyName(f);
            EXPECT_EQ(c.error(), WSAECONNREFUSED) << port << " " << FamilyName(f);
        }
    }
    host.watch->Stop();  // stopping again changes nothing
    EXPECT_FALSE(host.watch->Running());
    EXPECT_EQ(host.watch->ListeningCount(), 0u);
}

TEST_F(PortWatchTest, EachPortWarnsWithItsRowAndTheRemoteAddressAndServesNothing) {
    Host host;
    tovra::ScriptedMessageBoxes boxes;
    host.watch->Start();
    ASSERT_EQ(host.watch->ListeningCount(kIpv4), 19u);
    ASSERT_EQ(host.watch->ListeningCount(kIpv6), 19u);
    const auto& w = Watchers();
    for (Family f : {kIpv4, kIpv6}) {
        SCOPED_TRACE(FamilyName(f));
        for (size_t i = 0; i < 20; ++i) {
            if (i == 12) continue;  // port 25 answers as watcher 4
            size_t before = boxes.calls().size();
            Client c(w[i].port, f);
            ASSERT_TRUE(c.connected()) << w[i].port;
            ASSERT_TRUE(PumpUntil([&] { return boxes.calls().size() > before; })) << "no warning for " << w[i].port;
            const auto& call = boxes.calls().back();
            EXPECT_EQ(call.owner, host.hwnd());
            EXPECT_EQ(call.title, w[i].title);
            EXPECT_EQ(call.text, WarningText(i, Loopback(f)));
            EXPECT_EQ(call.buttons(), static_cast<UINT>(MB_OK));
            EXPECT_EQ(call.icon(), static_cast<UINT>(MB_ICONHAND));
            EXPECT_EQ(c.BytesUntilEnd(), 0) << "the connection must end without a byte, port " << w[i].port;
            EXPECT_TRUE(host.watch->Listening(i, f));
        }
    }
    EXPECT_EQ(boxes.calls().size(), 38u);

    // Port 25 and port 135, word for word, from either family.
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
        size_t before = boxes.calls().size();
        Client client(c.port, c.family);
        ASSERT_TRUE(client.connected()) << c.port << " " << FamilyName(c.family);
        ASSERT_TRUE(PumpUntil([&] { return boxes.calls().size() > before; })) << c.port << " " << FamilyName(c.family);
        EXPECT_EQ(boxes.calls().back().title, c.title);
        EXPECT_EQ(boxes.calls().back().text, c.text);
    }
    // The watcher still listens: a second request gets its own warning.
    for (Family f : {kIpv4, kIpv6}) {
        size_t before = boxes.calls().size();
        Client again(7, f);
        ASSERT_TRUE(again.connected()) << FamilyName(f);
        ASSERT_TRUE(PumpUntil([&] { return boxes.calls().size() > before; })) << FamilyName(f);
        EXPECT_EQ(boxes.calls().back().title, std::wstring(L"ECHO: Click OK to stop!"));
    }
}

TEST_F(PortWatchTest, RequestsThatArriveWhileAWarningIsOpenWaitForTheirOwnWarning) {
    Host host;
    tovra::ScriptedMessageBoxes boxes;
    host.watch->Start();
    ASSERT_EQ(host.watch->ListeningCount(kIpv4), 19u);
    ASSERT_EQ(host.watch->ListeningCount(kIpv6), 19u);

    int depth = 0, deepest = 0;
    std::vector<std::unique_ptr<Client>> clients;
    bool first = true;
    boxes.onShow = [&](const tovra::MessageBoxCall&) {
        ++depth;
        deepest = std::max(deepest, depth);
        if (first) {
            first = false;
            // While this box is open, six more requests come in, three of them on one port over
            // both families and two on one listener; the box's own message loop runs meanwhile,
            // as a real modal box's would.
            const std::pair<unsigned short, Family> requests[] = {
                {21, kIpv4}, {80, kIpv4}, {80, kIpv6}, {80, kIpv6}, {23435, kIpv6}, {7, kIpv6}};
            for (auto [port, family] : requests) clients.push_back(std::make_unique<Client>(port, family));
            DWORD start = GetTickCount();
            while (GetTickCount() - start < 500) {
                Pump();
                Sleep(10);
            }
            EXPECT_EQ(boxes.calls().size(), 1u) << "a warning opened inside another";
        }
        --depth;
    };
    Client c(7);
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(PumpUntil([&] { return boxes.calls().size() >= 7; }));
    PumpUntil([] { return false; }, 300);  // nothing more may come
    EXPECT_EQ(deepest, 1);
    ASSERT_EQ(boxes.calls().size(), 7u);
    std::multiset<std::wstring> texts;
    for (size_t i = 1; i < 7; ++i) texts.insert(boxes.calls()[i].text);
    EXPECT_EQ(texts, (std::multiset<std::wstring>{WarningText(1, L"127.0.0.1"), WarningText(6, L"127.0.0.1"),
                                                  WarningText(6, L"::1"), WarningText(6, L"::1"),
                                                  WarningText(19, L"::1"), WarningText(0, L"::1")}));
    for (auto& client : clients) EXPECT_EQ(client->BytesUntilEnd(), 0);
    EXPECT_EQ(host.watch->ListeningCount(kIpv4), 19u);
    EXPECT_EQ(host.watch->ListeningCount(kIpv6), 19u);
}

TEST_F(PortWatchTest, APortTakenByAnotherProgramOnEitherFamilyIsListedAsNotWatched) {
    struct Case {
        std::vector<unsigned short> taken4, taken6;
        size_t listening4, listening6;
        const wchar_t* tip;
    } cases[] = {
        {{80, 1080}, {}, 17, 19, L"Ports not watched: 80, 1080"},
        {{}, {145}, 19, 18, L"Port not watched: 145"},
        {{80}, {80, 7}, 18, 17, L"Ports not watched: 7, 80"},  // in watcher order, each once
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.tip));
        std::vector<std::unique_ptr<OtherProgram>> others;
        for (unsigned short port : c.taken4) others.push_back(std::make_unique<OtherProgram>(port, kIpv4));
        for (unsigned short port : c.taken6) others.push_back(std::make_unique<OtherProgram>(port, kIpv6));
        for (auto& other : others) ASSERT_TRUE(other->listening());
        Host host;
        host.watch->Start();
        EXPECT_EQ(host.watch->ListeningCount(kIpv4), c.listening4);
        EXPECT_EQ(host.watch->ListeningCount(kIpv6), c.listening6);
        EXPECT_EQ(host.watch->UnwatchedTip(), c.tip);
        host.watch->Stop();
        EXPECT_EQ(host.watch->UnwatchedTip(), L"");
    }

    // Once the port is free, starting again takes it.
    OtherProgram http(80, kIpv4), socks(1080, kIpv4);
    Host host;
    host.watch->Start();
    EXPECT_FALSE(host.watch->Listening(6, kIpv4));
    EXPECT_TRUE(host.watch->Listening(6, kIpv6));
    EXPECT_EQ(host.watch->UnwatchedPorts(), (std::vector<unsigned short>{80, 1080}));
    http.Close();
    host.watch->Start();
    EXPECT_TRUE(host.watch->Listening(6, kIpv4));
    EXPECT_EQ(host.watch->UnwatchedTip(), L"Port not watched: 1080");
    host.watch->Stop();
    EXPECT_EQ(host.watch->UnwatchedTip(), L"");
}

// The service's state is the user's command, not the sockets' luck: started with no socket to be
// had at all it runs, and every port is named in the tooltip.
TEST_F(PortWatchTest, RunningFollowsStartAndStopEvenWhenNoPortCanBeHad) {
    Host host([](int) -> SOCKET {
        WSASetLastError(WSAEMFILE);
        return INVALID_SOCKET;
    });
    EXPECT_FALSE(host.watch->Running());
    host.watch->Start();
    EXPECT_TRUE(host.watch->Running());
    EXPECT_EQ(host.watch->ListeningCount(), 0u);
    EXPECT_EQ(host.watch->UnwatchedPorts().size(), 19u);
    host.watch->Start();
    EXPECT_TRUE(host.watch->Running());
    host.watch->Stop();
    EXPECT_FALSE(host.watch->Running());
    EXPECT_TRUE(host.watch->UnwatchedPorts().empty());
    host.watch->Stop();
    EXPECT_FALSE(host.watch->Running());
}

TEST_F(PortWatchTest, WithoutIpv6OnTheSystemIpv4AloneWatchesEveryPort) {
    // socket() of a system without the protocol (Windows XP without IPv6 installed), and of one
    // that has it but cannot give a socket now: only the second leaves the ports unwatched.
    struct Case {
        int error;
        bool unwatched;
    } cases[] = {{WSAEAFNOSUPPORT, false}, {WSAEPFNOSUPPORT, false}, {WSAEPROTONOSUPPORT, false},
                 {WSAESOCKTNOSUPPORT, false}, {WSAENOBUFS, true}, {WSAEMFILE, true}};
    const std::wstring all =
        L"Ports not watched: 7, 21, 23, 25, 53, 79, 80, 110, 119, 161, 162, 20, 666, 1080, 65535, 31337, 135, 145, 23435";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        int asked6 = 0;
        Host host([&](int family) -> SOCKET {
            if (family == AF_INET6) {
                ++asked6;
                WSASetLastError(c.error);
                return INVALID_SOCKET;
            }
            return socket(family, SOCK_STREAM, IPPROTO_TCP);
        });
        tovra::ScriptedMessageBoxes boxes;
        host.watch->Start();
        EXPECT_EQ(asked6, 20) << "every watcher tries IPv6";
        EXPECT_EQ(host.watch->ListeningCount(kIpv4), 19u);
        EXPECT_EQ(host.watch->ListeningCount(kIpv6), 0u);
        EXPECT_EQ(host.watch->ListeningCount(), 19u);
        EXPECT_EQ(host.watch->UnwatchedTip(), c.unwatched ? all : L"");

        // IPv4 warns as ever; nothing listens on IPv6.
        Client v4(23);
        ASSERT_TRUE(v4.connected());
        ASSERT_TRUE(PumpUntil([&] { return boxes.calls().size() == 1; }));
        EXPECT_EQ(boxes.calls()[0].text, WarningText(2, L"127.0.0.1"));
        Client v6(23, kIpv6);
        EXPECT_FALSE(v6.connected());
        EXPECT_EQ(v6.error(), WSAECONNREFUSED);
        host.watch->Stop();
        EXPECT_EQ(host.watch->ListeningCount(), 0u);
        EXPECT_EQ(host.watch->UnwatchedTip(), L"");
    }
}

TEST_F(PortWatchTest, StopWhileRequestsWaitDropsThem) {
    for (Family f : {kIpv4, kIpv6}) {
        SCOPED_TRACE(FamilyName(f));
        Host host;
        tovra::ScriptedMessageBoxes boxes;
        host.watch->Start();
        boxes.onShow = [&](const tovra::MessageBoxCall&) {
            if (boxes.calls().size() == 1) {
                Client a(21, kIpv4), b(53, kIpv6), c(80, f);
                PumpUntil([] { return false; }, 200);
                host.watch->Stop();  // e.g. chosen from the menu while the box is open
            }
        };
        Client c(7, f);
        ASSERT_TRUE(PumpUntil([&] { return boxes.calls().size() == 1; }));
        PumpUntil([] { return false; }, 500);
        EXPECT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(host.watch->ListeningCount(), 0u);
    }
}

}  // namespace
