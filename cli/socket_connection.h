// A TCP connection over IPv4 in which every wait has a time-out and heeds a stop: written
// once over the socket primitives of platform.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform.h"

// Asked before every slice of every wait. Once it says true, the connection waits
// STOP_GRACE_MS more in all, so that an answer on its way still arrives; from then on every
// wait ends with NetResult::Stopped, whatever the peer does.
using StopCheck = bool (*)();

// Milliseconds on a clock that never goes back, for deadlines.
int64_t MonotonicMs();

class TcpConnection {
public:
    TcpConnection() = default;
    ~TcpConnection() { Close(); }
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Connects to `host` (a name or a dotted IPv4 address) at `port` within `timeoutMs`.
    // An open connection is closed first.
    NetResult Connect(const std::string& host, uint16_t port, int timeoutMs);

    // Sends all of `bytes` within `timeoutMs`, however slowly the peer takes them.
    NetResult SendAll(std::string_view bytes, int timeoutMs);

    // Appends to `*received` what has arrived, waiting at most `timeoutMs` for the first byte.
    NetResult Receive(std::string* received, int timeoutMs);
    // Appends to `*received` what has arrived already, without waiting; Ok also when nothing
    // has, Closed when the peer closed.
    NetResult ReceiveArrived(std::string* received);

    // Drops the connection at once; nothing more is sent or received.
    void Close();

    bool IsOpen() const { return open_; }

    // Every wait is cut into slices of at most STOP_SLICE_MS and `stop` asked after each.
    void SetStopCheck(StopCheck stop) { stop_ = stop; }

    static constexpr int STOP_SLICE_MS = 100;
    static constexpr int STOP_GRACE_MS = 1000;

private:
    // Waits until the socket can be read or written, at the latest until `deadlineMs`
    // (MonotonicMs) or the stop's grace ends; Ok, TimedOut or Stopped (or Closed when the
    // wait itself failed).
    NetResult Wait(bool forWrite, int64_t deadlineMs);

    SocketHandle socket_ = 0;
    bool open_ = false;
    StopCheck stop_ = nullptr;
    int64_t stopDeadlineMs_ = -1;  // once a stop was asked for: when every wait ends
};
