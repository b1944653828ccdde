// A TCP connection over IPv4 in which every wait has a time-out: one implementation on POSIX
// sockets, one on the Winsock that Windows 2000's ws2_32.dll offers, behind this one interface.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class NetResult {
    Ok,
    Unresolved,  // the host name is not known
    Refused,     // nobody listens there, or the host cannot be reached
    TimedOut,    // the wait ran out
    Closed,      // the peer closed or reset the connection
    Stopped,     // a stop was asked for and the wait ran out
};

// Asked between slices of every wait. Once it says true, a wait goes on for STOP_GRACE_MS at
// most, so that an answer on its way still arrives, and then ends with NetResult::Stopped.
using StopCheck = bool (*)();

class TcpConnection {
public:
    TcpConnection() = default;
    ~TcpConnection() { Close(); }
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Connects to `host` (a name or a dotted IPv4 address) at `port` within `timeoutMs`.
    // An open connection is closed first.
    NetResult Connect(const std::string& host, uint16_t port, int timeoutMs);

    // Sends all of `bytes`; gives up when the peer takes nothing for `timeoutMs`.
    NetResult SendAll(std::string_view bytes, int timeoutMs);

    // Appends to `*received` what has arrived, waiting at most `timeoutMs` for the first byte.
    NetResult Receive(std::string* received, int timeoutMs);

    // Drops the connection at once; nothing more is sent or received.
    void Close();

    bool IsOpen() const { return open_; }

    // Every wait is cut into slices of at most STOP_SLICE_MS and `stop` asked after each.
    void SetStopCheck(StopCheck stop) { stop_ = stop; }

    static constexpr int STOP_SLICE_MS = 100;
    static constexpr int STOP_GRACE_MS = 1000;

private:
    enum class Direction { Read, Write };
    // Waits until the socket can be read or written; Ok, TimedOut or Stopped (or Closed
    // when the wait itself failed).
    NetResult Wait(Direction direction, int timeoutMs);

    uintptr_t socket_ = 0;  // an int descriptor or a Winsock SOCKET
    bool open_ = false;
    StopCheck stop_ = nullptr;
};

// The machine's host name as the network knows it; empty when the system does not say.
std::string LocalHostName();
