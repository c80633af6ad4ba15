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

// Not every SDK names it for a Windows XP target; the value is the same everywhere.
#ifndef IPV6_V6ONLY
#define IPV6_V6ONLY 27
#endif

std::wstring PeerAddress(const sockaddr_storage& peer, int length) {
    if (peer.ss_family == AF_INET && length >= static_cast<int>(sizeof(sockaddr_in)))
        return compat::Ipv4Text(reinterpret_cast<const sockaddr_in&>(peer).sin_addr);
    if (peer.ss_family == AF_INET6 && length >= static_cast<int>(sizeof(sockaddr_in6)))
        return compat::Ipv6Text(reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr);
    return {};
}

// What socket() answers where the system has no such protocol at all (Windows XP without IPv6
// installed).
bool FamilyMissing(int error) {
    return error == WSAEAFNOSUPPORT || error == WSAEPFNOSUPPORT || error == WSAEPROTONOSUPPORT ||
           error == WSAESOCKTNOSUPPORT;
}

SOCKET SystemSocket(int addressFamily) { return socket(addressFamily, SOCK_STREAM, IPPROTO_TCP); }

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

PortWatch::PortWatch(HWND owner, UINT socketMessage, OpenSocketFn openSocket)
    : owner_(owner), message_(socketMessage),
      openSocket_(openSocket ? std::move(openSocket) : OpenSocketFn(SystemSocket)) {
    WSADATA data{};
    wsaStarted_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

PortWatch::~PortWatch() {
    for (size_t i = 0; i < kWatcherCount; ++i) Close(i);
    if (wsaStarted_) WSACleanup();
}

void PortWatch::Start() {
    running_ = true;
    for (size_t i = 0; i < kWatcherCount; ++i) {
        Listen(i, kIpv4);
        Listen(i, kIpv6);
    }
}

void PortWatch::Stop() {
    running_ = false;
    for (size_t i = 0; i < kWatcherCount; ++i) Close(i);
    for (auto& failed : failed_) failed.fill(false);
    pending_.clear();
    isPending_.fill(false);
}

void PortWatch::Listen(size_t index, Family family) {
    UniqueSocket& listener = sockets_[index][family];
    if (listener) return;  // already listening: stays so
    failed_[index][family] = true;
    if (!wsaStarted_) return;
    const int af = family == kIpv6 ? AF_INET6 : AF_INET;
    UniqueSocket s(openSocket_(af));
    if (!s) {
        // Where the system has no IPv6 at all, nobody can reach the port that way: passed over
        // like a failed listen, but no gap in the watch for the status tooltip.
        if (FamilyMissing(WSAGetLastError())) failed_[index][family] = false;
        return;
    }
    if (family == kIpv6) {
        // IPv4 has a listener of its own. XP's IPv6 stack is separate anyway and may not know the
        // option, so its refusal changes nothing.
        DWORD only = 1;
        setsockopt(s.get(), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&only), sizeof only);
    }
    // No other program may take over a watched port while we hold it.
    BOOL exclusive = TRUE;
    setsockopt(s.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    sockaddr_storage local{};
    int length = 0;
    if (family == kIpv6) {
        auto& a = reinterpret_cast<sockaddr_in6&>(local);
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_any;
        a.sin6_port = htons(kWatchers[index].port);
        length = sizeof a;
    } else {
        auto& a = reinterpret_cast<sockaddr_in&>(local);
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        a.sin_port = htons(kWatchers[index].port);
        length = sizeof a;
    }
    if (bind(s.get(), reinterpret_cast<const sockaddr*>(&local), length) != 0 ||
        listen(s.get(), SOMAXCONN) != 0 || WSAAsyncSelect(s.get(), owner_, message_, FD_ACCEPT) != 0) {
        return;
    }
    listener = std::move(s);
    failed_[index][family] = false;
}

void PortWatch::Close(size_t index) {
    for (UniqueSocket& s : sockets_[index]) s.reset();
}

bool PortWatch::Listening(size_t index) const {
    const auto& family = sockets_[index];
    return std::any_of(family.begin(), family.end(), [](const UniqueSocket& s) { return s.valid(); });
}

size_t PortWatch::ListeningCount() const {
    size_t n = 0;
    for (size_t i = 0; i < kWatcherCount; ++i) n += Listening(i) ? 1 : 0;
    return n;
}

size_t PortWatch::ListeningCount(Family family) const {
    size_t n = 0;
    for (size_t i = 0; i < kWatcherCount; ++i) n += Listening(i, family) ? 1 : 0;
    return n;
}

std::vector<unsigned short> PortWatch::UnwatchedPorts() const {
    // A port counts as watched only if every family the system has reaches a listener of ours:
    // one held on IPv4 alone still lets a caller through unnoticed over IPv6, and the other way round.
    std::vector<unsigned short> ports;
    for (size_t i = 0; i < kWatcherCount; ++i) {
        for (size_t f = 0; f < kFamilyCount; ++f) {
            const Family family = static_cast<Family>(f);
            if (!failed_[i][family]) continue;
            unsigned short port = kWatchers[i].port;
            bool heldByUs = false;
            for (size_t j = 0; j < kWatcherCount; ++j)
                if (j != i && kWatchers[j].port == port && Listening(j, family)) heldByUs = true;
            if (heldByUs || std::find(ports.begin(), ports.end(), port) != ports.end()) continue;
            ports.push_back(port);
        }
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

int PortWatch::ListenerOf(SOCKET s) const {
    if (s == INVALID_SOCKET) return -1;
    for (size_t l = 0; l < kListenerCount; ++l)
        if (SocketOf(l) == s) return static_cast<int>(l);
    return -1;
}

bool PortWatch::OnSocketMessage(WPARAM wp, LPARAM lp) {
    if (WSAGETSELECTEVENT(lp) != FD_ACCEPT) return true;
    int found = ListenerOf(static_cast<SOCKET>(wp));
    if (found < 0) return true;  // a notice of a listener closed since
    size_t listener = static_cast<size_t>(found);
    if (warningOpen_) {
        // The open warning's modal loop delivered this: a second box would nest inside the first
        // (and a flood would nest without end). Its turn comes when the open one is closed.
        if (!isPending_[listener]) {
            isPending_[listener] = true;
            pending_.push_back(listener);
        }
        return true;
    }
    Warn(listener);
    QueueNext();
    return true;
}

void PortWatch::Warn(size_t listener) {
    sockaddr_storage peer{};
    int len = sizeof peer;
    UniqueSocket connection(accept(SocketOf(listener), reinterpret_cast<sockaddr*>(&peer), &len));
    if (!connection) return;  // nothing waiting any more
    // Windows hands the listener's notices on to the accepted socket; it is closed at once, so
    // any such notice names a socket that is no watcher and is dropped.
    Refuse(std::move(connection));
    std::wstring address = PeerAddress(peer, len);
    if (address.empty()) return;
    const size_t index = WatcherOf(listener);
    const WatcherSpec& w = kWatchers[index];
    warningOpen_ = true;
    ++warningsShown_;
    ShowMessageBox(owner_, WarningText(index, address), w.title, MB_OK | MB_ICONHAND);
    warningOpen_ = false;
}

void PortWatch::QueueNext() {
    // Requests wait in the listen backlog; after accept the system notices further ones on the
    // same listener by itself, the others are reminded here, one at a time.
    while (!pending_.empty()) {
        size_t next = pending_.front();
        pending_.pop_front();
        isPending_[next] = false;
        SOCKET s = SocketOf(next);
        if (s == INVALID_SOCKET) continue;
        PostMessageW(owner_, message_, static_cast<WPARAM>(s), WSAMAKESELECTREPLY(FD_ACCEPT, 0));
        return;
    }
}

}  // namespace tovra::portwatch
