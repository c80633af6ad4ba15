// The "Firewall" service: twenty TCP listeners on fixed ports that warn of every connection
// request, naming the remote address. Nothing is ever served: a request is accepted and reset at
// once, and the watcher goes on listening.
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

class PortWatch {
public:
    // Socket notices are posted to owner as socketMessage; warnings are owned by owner too.
    PortWatch(HWND owner, UINT socketMessage);
    ~PortWatch();
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    // Asks every watcher that is not listening yet to listen, in ascending order; a watcher that
    // cannot is passed over.
    void Start();
    // Closes every watcher; requests still waiting are refused by the system.
    void Stop();

    // The owner's window procedure hands socketMessage here. Returns true when it was ours.
    bool OnSocketMessage(WPARAM wp, LPARAM lp);

    bool Listening(size_t index) const { return sockets_[index].valid(); }
    size_t ListeningCount() const;
    // Ports that should be watched but are not (taken by another program, refused by the system),
    // in watcher order, each once. A port an earlier watcher of ours already holds is not listed.
    std::vector<unsigned short> UnwatchedPorts() const;
    // The text for the status label's tooltip: empty when every port is watched.
    std::wstring UnwatchedTip() const;

    bool WarningOpen() const { return warningOpen_; }
    size_t WarningsShown() const { return warningsShown_; }

private:
    void Listen(size_t index);
    void Close(size_t index);
    void Warn(size_t index);
    void QueueNext();
    int IndexOf(SOCKET s) const;

    HWND owner_;
    UINT message_;
    bool wsaStarted_ = false;
    // Closed before WSACleanup: the destructor closes them itself.
    std::array<UniqueSocket, kWatcherCount> sockets_;
    std::array<bool, kWatcherCount> failed_{};
    // Watchers whose requests arrived while a warning was open, in arrival order, each once.
    std::deque<size_t> pending_;
    std::array<bool, kWatcherCount> isPending_{};
    bool warningOpen_ = false;
    size_t warningsShown_ = 0;
};

}  // namespace tovra::portwatch
