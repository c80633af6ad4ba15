// The "Firewall" service: twenty watchers on fixed TCP ports, each listening on IPv4 and on IPv6,
// that warn of every connection request, naming the remote address. Nothing is ever served: a
// request is accepted and reset at once, and the watcher goes on listening.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <array>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "shared/win_handles.h"

namespace tovra::portwatch {

struct WatcherSpec {
    const wchar_t* name;  // Winsock1 ... Winsock20
    unsigned short port;
    const wchar_t* title;
    const wchar_t* lead;
    const wchar_t* tail;
};

constexpr size_t kWatcherCount = 20;
// The watchers in control order.
const std::array<WatcherSpec, kWatcherCount>& Watchers();

// The warning's text for a request from address on watcher index (0-based).
std::wstring WarningText(size_t index, const std::wstring& address);

// The address families each watcher listens on, with one socket apiece.
enum Family : size_t { kIpv4 = 0, kIpv6 = 1 };
constexpr size_t kFamilyCount = 2;

// Opens a TCP socket of the address family (AF_INET, AF_INET6), with the system's last error set
// when it cannot. Empty: the system's socket().
using OpenSocketFn = std::function<SOCKET(int addressFamily)>;

class PortWatch {
public:
    // Socket notices are posted to owner as socketMessage; warnings are owned by owner too.
    PortWatch(HWND owner, UINT socketMessage, OpenSocketFn openSocket = {});
    ~PortWatch();
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    // The service runs: asks every watcher that is not listening yet to listen, in ascending
    // order, on IPv4 and then on IPv6; a listener that cannot is passed over.
    void Start();
    // The service stops: closes every watcher; requests still waiting are refused by the system.
    void Stop();
    // Started and not stopped since, however many watchers could listen: the service's state
    // that the main window shows.
    bool Running() const { return running_; }

    // The owner's window procedure hands socketMessage here. Returns true when it was ours.
    bool OnSocketMessage(WPARAM wp, LPARAM lp);

    // The watcher listens on at least one family / on this one.
    bool Listening(size_t index) const;
    bool Listening(size_t index, Family family) const { return sockets_[index][family].valid(); }
    // How many watchers listen on at least one family / on this one.
    size_t ListeningCount() const;
    size_t ListeningCount(Family family) const;
    // Ports that should be watched but are not, on a family the system has (taken by another
    // program, refused by the system), in watcher order, each once. A port that an earlier watcher
    // of ours already holds on that family is not listed, nor one whose family the system lacks.
    std::vector<unsigned short> UnwatchedPorts() const;
    // The text for the status label's tooltip: empty when every port is watched.
    std::wstring UnwatchedTip() const;

    bool WarningOpen() const { return warningOpen_; }
    size_t WarningsShown() const { return warningsShown_; }

private:
    // A listener: one watcher's socket of one family, numbered watcher * kFamilyCount + family.
    static constexpr size_t kListenerCount = kWatcherCount * kFamilyCount;
    static size_t WatcherOf(size_t listener) { return listener / kFamilyCount; }
    static Family FamilyOf(size_t listener) { return static_cast<Family>(listener % kFamilyCount); }
    SOCKET SocketOf(size_t listener) const { return sockets_[WatcherOf(listener)][FamilyOf(listener)].get(); }

    void Listen(size_t index, Family family);
    void Close(size_t index);
    void Warn(size_t listener);
    void QueueNext();
    int ListenerOf(SOCKET s) const;

    HWND owner_;
    UINT message_;
    OpenSocketFn openSocket_;
    bool wsaStarted_ = false;
    // Closed before WSACleanup: the destructor closes them itself.
    std::array<std::array<UniqueSocket, kFamilyCount>, kWatcherCount> sockets_;
    std::array<std::array<bool, kFamilyCount>, kWatcherCount> failed_{};
    // Listeners whose requests arrived while a warning was open, in arrival order, each once.
    std::deque<size_t> pending_;
    std::array<bool, kListenerCount> isPending_{};
    bool running_ = false;
    bool warningOpen_ = false;
    size_t warningsShown_ = 0;
};

}  // namespace tovra::portwatch
