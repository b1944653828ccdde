// A TCP connection over IPv4 in which every wait has a time-out and heeds a stop: written
// once over the socket primitives of platform.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform.h"

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
    // Waits until the socket can be read or written; Ok, TimedOut or Stopped (or Closed
    // when the wait itself failed).
    NetResult Wait(bool forWrite, int timeoutMs);

    SocketHandle socket_ = 0;
    bool open_ = false;
    StopCheck stop_ = nullptr;
};
