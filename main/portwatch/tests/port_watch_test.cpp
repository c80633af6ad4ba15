#include "main/portwatch/port_watch.h"

#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "shared/message_box.h"

namespace {

using tovra::portwatch::PortWatch;
using tovra::portwatch::Watchers;
using tovra::portwatch::WarningText;

constexpr UINT kSocketMessage = WM_APP + 1;
const unsigned short kDistinctPorts[] = {7,   21,   23,    25,    53,  79,  80,  110,  119,  161,
                                         162, 20,   666,   1080,  65535, 31337, 135, 145, 23435};

// A hidden window that hands socket notices to the watch, as the main window does.
class Host {
public:
    Host() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"PortWatchTestHost";
        RegisterClassW(&wc);
        hwnd_ = CreateWindowW(L"PortWatchTestHost", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), this);
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        watch = std::make_unique<PortWatch>(hwnd_, kSocketMessage);
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

class Client {
public:
    // Connects to 127.0.0.1:port; the handshake completes in the listen backlog.
    explicit Client(unsigned short port) {
        s_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(s_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
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

class PortWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA d;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &d), 0);
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
    EXPECT_EQ(host.watch->ListeningCount(), 0u);
    EXPECT_FALSE(Client(7).connected());

    host.watch->Start();
    // Every distinct port is held; watcher 13 loses port 25 to watcher 4, as designed.
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(host.watch->Listening(i), i != 12) << "watcher " << i + 1;
    ASSERT_EQ(host.watch->ListeningCount(), 19u) << "the fixed ports must be free to bind (run as root, own network)";
    EXPECT_TRUE(host.watch->UnwatchedPorts().empty());
    EXPECT_EQ(host.watch->UnwatchedTip(), L"");

    // Starting again keeps every watcher listening.
    host.watch->Start();
    EXPECT_EQ(host.watch->ListeningCount(), 19u);

    host.watch->Stop();
    EXPECT_EQ(host.watch->ListeningCount(), 0u);
    for (unsigned short port : kDistinctPorts) {
        Client c(port);
        EXPECT_FALSE(c.connected()) << port;
        EXPECT_EQ(c.error(), WSAECONNREFUSED) << port;
    }
    host.watch->Stop();  // stopping again changes nothing
    EXPECT_EQ(host.watch->ListeningCount(), 0u);
}

TEST_F(PortWatchTest, EachPortWarnsWithItsRowAndTheRemoteAddressAndServesNothing) {
    Host host;
    tovra::ScriptedMessageBoxes boxes;
    host.watch->Start();
    ASSERT_EQ(host.watch->ListeningCount(), 19u);
    const auto& w = Watchers();
    for (size_t i = 0; i < 20; ++i) {
        if (i == 12) continue;  // port 25 answers as watcher 4
        size_t before = boxes.calls().size();
        Client c(w[i].port);
        ASSERT_TRUE(c.connected()) << w[i].port;
        ASSERT_TRUE(PumpUntil([&] { return boxes.calls().size() > before; })) << "no warning for " << w[i].port;
        const auto& call = boxes.calls().back();
        EXPECT_EQ(call.owner, host.hwnd());
        EXPECT_EQ(call.title, w[i].title);
        EXPECT_EQ(call.text, WarningText(i, L"127.0.0.1"));
        EXPECT_EQ(call.buttons(), static_cast<UINT>(MB_OK));
        EXPECT_EQ(call.icon(), static_cast<UINT>(MB_ICONHAND));
        EXPECT_EQ(c.BytesUntilEnd(), 0) << "the connection must end without a byte, port " << w[i].port;
        EXPECT_TRUE(host.watch->Listening(i));
    }
    EXPECT_EQ(boxes.calls().size(), 19u);

    // Port 25 and port 135, word for word.
    std::map<unsigned short, std::pair<std::wstring, std::wstring>> expected{
        {25, {L"SMTP: Click OK to stop!", L"Someone from IP 127.0.0.1 is tying to use your mail protocol"}},
        {135, {L"Warning: Click OK to stop!", L"Someone form IP127.0.0.1 is tying to access your PC(Maybe a virus) "}},
    };
    for (auto& [port, box] : expected) {
        size_t before = boxes.calls().size();
        Client c(port);
        ASSERT_TRUE(c.connected());
        ASSERT_TRUE(PumpUntil([&] { return boxes.calls().size() > before; }));
        EXPECT_EQ(boxes.calls().back().title, box.first);
        EXPECT_EQ(boxes.calls().back().text, box.second);
    }
    // The watcher still listens: a second request gets its own warning.
    size_t before = boxes.calls().size();
    Client again(7);
    ASSERT_TRUE(again.connected());
    ASSERT_TRUE(PumpUntil([&] { return boxes.calls().size() > before; }));
    EXPECT_EQ(boxes.calls().back().title, std::wstring(L"ECHO: Click OK to stop!"));
}

TEST_F(PortWatchTest, RequestsThatArriveWhileAWarningIsOpenWaitForTheirOwnWarning) {
    Host host;
    tovra::ScriptedMessageBoxes boxes;
    host.watch->Start();
    ASSERT_EQ(host.watch->ListeningCount(), 19u);

    int depth = 0, deepest = 0;
    std::vector<std::unique_ptr<Client>> clients;
    bool first = true;
    boxes.onShow = [&](const tovra::MessageBoxCall&) {
        ++depth;
        deepest = std::max(deepest, depth);
        if (first) {
            first = false;
            // While this box is open, four more requests come in, two of them on the same port;
            // the box's own message loop runs meanwhile, as a real modal box's would.
            for (unsigned short port : {21, 80, 80, 23435}) clients.push_back(std::make_unique<Client>(port));
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
    ASSERT_TRUE(PumpUntil([&] { return boxes.calls().size() >= 5; }));
    PumpUntil([] { return false; }, 300);  // nothing more may come
    EXPECT_EQ(deepest, 1);
    ASSERT_EQ(boxes.calls().size(), 5u);
    std::multiset<std::wstring> titles;
    for (size_t i = 1; i < 5; ++i) titles.insert(boxes.calls()[i].title);
    EXPECT_EQ(titles, (std::multiset<std::wstring>{L"FTP: Click OK to stop!", L"HTTP: Click OK to stop!",
                                                   L"HTTP: Click OK to stop!", L"Warning: Click OK to stop!"}));
    for (auto& client : clients) EXPECT_EQ(client->BytesUntilEnd(), 0);
    EXPECT_EQ(host.watch->ListeningCount(), 19u);
}

TEST_F(PortWatchTest, APortTakenByAnotherProgramIsListedAsNotWatched) {
    // Another program holds port 80 (and 1080) before the watch starts.
    SOCKET other[2];
    unsigned short taken[] = {80, 1080};
    for (int k = 0; k < 2; ++k) {
        other[k] = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(taken[k]);
        ASSERT_EQ(bind(other[k], reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << taken[k];
        ASSERT_EQ(listen(other[k], 5), 0);
    }
    Host host;
    host.watch->Start();
    EXPECT_EQ(host.watch->ListeningCount(), 17u);
    EXPECT_FALSE(host.watch->Listening(6));
    EXPECT_EQ(host.watch->UnwatchedPorts(), (std::vector<unsigned short>{80, 1080}));
    EXPECT_EQ(host.watch->UnwatchedTip(), L"Ports not watched: 80, 1080");

    // Once the port is free, starting again takes it.
    closesocket(other[0]);
    host.watch->Start();
    EXPECT_TRUE(host.watch->Listening(6));
    EXPECT_EQ(host.watch->UnwatchedTip(), L"Port not watched: 1080");
    host.watch->Stop();
    EXPECT_EQ(host.watch->UnwatchedTip(), L"");
    closesocket(other[1]);
}

TEST_F(PortWatchTest, StopWhileRequestsWaitDropsThem) {
    Host host;
    tovra::ScriptedMessageBoxes boxes;
    host.watch->Start();
    boxes.onShow = [&](const tovra::MessageBoxCall&) {
        if (boxes.calls().size() == 1) {
            Client a(21), b(53);
            PumpUntil([] { return false; }, 200);
            host.watch->Stop();  // e.g. chosen from the menu while the box is open
        }
    };
    Client c(7);
    ASSERT_TRUE(PumpUntil([&] { return boxes.calls().size() == 1; }));
    PumpUntil([] { return false; }, 500);
    EXPECT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(host.watch->ListeningCount(), 0u);
}

}  // namespace
