#include "main/portwatch/port_watch.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <utility>

#include "shared/compat.h"
#include "shared/message_box.h"

namespace tovra::portwatch {
namespace {

constexpr const wchar_t* kFrom = L"Someone from IP ";
constexpr const wchar_t* kForm = L"Someone form IP";  // rows 18 to 20 run the address into "IP"
constexpr const wchar_t* kAccess = L" is tying to access your PC";
constexpr const wchar_t* kVirus = L" is tying to access your PC(Maybe a virus) ";
constexpr const wchar_t* kWarning = L"Warning: Click OK to stop!";
constexpr const wchar_t* kTransfer = L" is tying to transfer file from/to your computer";

const std::array<WatcherSpec, kWatcherCount> kWatchers{{
    {L"Winsock1", 7, L"ECHO: Click OK to stop!", kFrom, L" is tying echo your computer"},
    {L"Winsock2", 21, L"FTP: Click OK to stop!", kFrom, kTransfer},
    {L"Winsock3", 23, L"Telnet: Click OK to stop!", kFrom, L" is tying to Telnet your computer"},
    {L"Winsock4", 25, L"SMTP: Click OK to stop!", kFrom, L" is tying to use your mail protocol"},
    {L"Winsock5", 53, L"DNS: Click OK to stop!", kFrom, L" is tying to use your DNS"},
    {L"Winsock6", 79, L"FINGER: Click OK to stop!", kFrom, L" is tying to get information of your computer"},
    {L"Winsock7", 80, L"HTTP: Click OK to stop!", kFrom, L" is tying to use your web site"},
    {L"Winsock8", 110, L"POP3: Click OK to stop!", kFrom, L" is tying to use your POP3 port"},
    {L"Winsock9", 119, L"NNTP: Click OK to stop!", kFrom, L" is tying to use your News Protocol"},
    {L"Winsock10", 161, L"SNMP: Click OK to stop!", kFrom, L" is tying to use your SNMP Protocol"},
    {L"Winsock11", 162, L"TRAP: Click OK to stop!", kFrom, L" is tying to use your Trap Protocol"},
    {L"Winsock12", 20, L"File Transfer: Click OK to stop!", kFrom, kTransfer},
    // Shares port 25 with Winsock4, which takes it first: this one stays silent.
    {L"Winsock13", 25, L"SMTP: Click OK to stop!", kFrom, L" is tying to use your SMTP port"},
    {L"Winsock14", 666, kWarning, kFrom, kAccess},
    {L"Winsock15", 1080, kWarning, kFrom, kAccess},
    // The designed numbers 655335 and 313337 do not fit a TCP port; these are the ports meant.
    {L"Winsock16", 65535, kWarning, kFrom, kAccess},
    {L"Winsock17", 31337, kWarning, kFrom, kAccess},
    {L"Winsock18", 135, kWarning, kForm, kVirus},
    {L"Winsock19", 145, kWarning, kForm, kVirus},
    {L"Winsock20", 23435, kWarning, kForm, kVirus},
}};

std::wstring PeerAddress(const sockaddr_in& peer) {
    return compat::Ipv4Text(peer.sin_addr);
}

// Ends a connection without serving it: no byte is read or sent, the peer sees a reset.
void Refuse(UniqueSocket connection) {
    linger hard{1, 0};
    setsockopt(connection.get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    connection.reset();  // with a zero linger the close is the reset
}

}  // namespace

const std::array<WatcherSpec, kWatcherCount>& Watchers() { return kWatchers; }

std::wstring WarningText(size_t index, const std::wstring& address) {
    const WatcherSpec& w = kWatchers.at(index);
    return std::wstring(w.lead) + address + w.tail;
}

PortWatch::PortWatch(HWND owner, UINT socketMessage) : owner_(owner), message_(socketMessage) {
    WSADATA data{};
    wsaStarted_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

PortWatch::~PortWatch() {
    for (size_t i = 0; i < kWatcherCount; ++i) Close(i);
    if (wsaStarted_) WSACleanup();
}

void PortWatch::Start() {
    for (size_t i = 0; i < kWatcherCount; ++i) Listen(i);
}

void PortWatch::Stop() {
    for (size_t i = 0; i < kWatcherCount; ++i) Close(i);
    failed_.fill(false);
    pending_.clear();
    isPending_.fill(false);
}

void PortWatch::Listen(size_t index) {
    if (Listening(index)) return;  // already listening: stays so
    failed_[index] = true;
    if (!wsaStarted_) return;
    UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s) return;
    // No other program may take over a watched port while we hold it.
    BOOL exclusive = TRUE;
    setsockopt(s.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(kWatchers[index].port);
    if (bind(s.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        listen(s.get(), SOMAXCONN) != 0 || WSAAsyncSelect(s.get(), owner_, message_, FD_ACCEPT) != 0) {
        return;
    }
    sockets_[index] = std::move(s);
    failed_[index] = false;
}

void PortWatch::Close(size_t index) { sockets_[index].reset(); }

size_t PortWatch::ListeningCount() const {
    return static_cast<size_t>(std::count_if(sockets_.begin(), sockets_.end(),
                                             [](const UniqueSocket& s) { return s.valid(); }));
}

std::vector<unsigned short> PortWatch::UnwatchedPorts() const {
    std::vector<unsigned short> ports;
    for (size_t i = 0; i < kWatcherCount; ++i) {
        if (!failed_[i]) continue;
        unsigned short port = kWatchers[i].port;
        bool heldByUs = false;
        for (size_t j = 0; j < kWatcherCount; ++j)
            if (j != i && kWatchers[j].port == port && Listening(j)) heldByUs = true;
        if (heldByUs || std::find(ports.begin(), ports.end(), port) != ports.end()) continue;
        ports.push_back(port);
    }
    return ports;
}

std::wstring PortWatch::UnwatchedTip() const {
    std::vector<unsigned short> ports = UnwatchedPorts();
    if (ports.empty()) return {};
    std::wstring tip = ports.size() == 1 ? L"Port not watched: " : L"Ports not watched: ";
    for (size_t i = 0; i < ports.size(); ++i) {
        if (i) tip += L", ";
        tip += std::to_wstring(ports[i]);
    }
    return tip;
}

int PortWatch::IndexOf(SOCKET s) const {
    if (s == INVALID_SOCKET) return -1;
    for (size_t i = 0; i < kWatcherCount; ++i)
        if (sockets_[i].get() == s) return static_cast<int>(i);
    return -1;
}

bool PortWatch::OnSocketMessage(WPARAM wp, LPARAM lp) {
    if (WSAGETSELECTEVENT(lp) != FD_ACCEPT) return true;
    int index = IndexOf(static_cast<SOCKET>(wp));
    if (index < 0) return true;  // a notice of a watcher closed since
    size_t i = static_cast<size_t>(index);
    if (warningOpen_) {
        // The open warning's modal loop delivered this: a second box would nest inside the first
        // (and a flood would nest without end). Its turn comes when the open one is closed.
        if (!isPending_[i]) {
            isPending_[i] = true;
            pending_.push_back(i);
        }
        return true;
    }
    Warn(i);
    QueueNext();
    return true;
}

void PortWatch::Warn(size_t index) {
    sockaddr_in peer{};
    int len = sizeof peer;
    UniqueSocket connection(accept(sockets_[index].get(), reinterpret_cast<sockaddr*>(&peer), &len));
    if (!connection) return;  // nothing waiting any more
    // Windows hands the listener's notices on to the accepted socket; it is closed at once, so
    // any such notice names a socket that is no watcher and is dropped.
    Refuse(std::move(connection));
    std::wstring address = PeerAddress(peer);
    if (address.empty()) return;
    const WatcherSpec& w = kWatchers[index];
    warningOpen_ = true;
    ++warningsShown_;
    ShowMessageBox(owner_, WarningText(index, address), w.title, MB_OK | MB_ICONHAND);
    warningOpen_ = false;
}

void PortWatch::QueueNext() {
    // Requests wait in the listen backlog; after accept the system notices further ones on the
    // same watcher by itself, the others are reminded here, one at a time.
    while (!pending_.empty()) {
        size_t next = pending_.front();
        pending_.pop_front();
        isPending_[next] = false;
        if (!Listening(next)) continue;
        PostMessageW(owner_, message_, static_cast<WPARAM>(sockets_[next].get()), WSAMAKESELECTREPLY(FD_ACCEPT, 0));
        return;
    }
}

}  // namespace tovra::portwatch
