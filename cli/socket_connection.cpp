// TcpConnection over the platform's socket primitives. The socket is non-blocking from the
// start, so that connect, send and receive only ever wait in SocketWait, with a time-out.
#include "socket_connection.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr size_t RECEIVE_BUFFER_SIZE = 16 * 1024;

}  // namespace

int64_t MonotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Deadlines, not durations: a peer that sends a byte now and then, or a signal that cuts a
// slice short, never makes a wait longer than it was meant to be.
NetResult TcpConnection::Wait(bool forWrite, int64_t deadlineMs)
{
    for (;;) {
        const int64_t now = MonotonicMs();
        if (stopDeadlineMs_ < 0 && stop_ != nullptr && stop_())
            stopDeadlineMs_ = now + STOP_GRACE_MS;
        const bool stopping = stopDeadlineMs_ >= 0 && stopDeadlineMs_ <= deadlineMs;
        const int64_t left = (stopping ? stopDeadlineMs_ : deadlineMs) - now;
        if (left <= 0)
            return stopping ? NetResult::Stopped : NetResult::TimedOut;
        const int ready = SocketWait(socket_, forWrite, static_cast<int>(std::min<int64_t>(left, STOP_SLICE_MS)));
        if (ready > 0)
            return NetResult::Ok;  // readiness or an error: the next call tells which
        if (ready < 0)
            return NetResult::Closed;
    }
}

NetResult TcpConnection::Connect(const std::string& host, uint16_t port, int timeoutMs)
{
    Close();
    bool pending = false;
    const NetResult started = SocketConnect(host, port, &socket_, &pending);
    if (started != NetResult::Ok)
        return started;
    open_ = true;
    if (!pending)
        return NetResult::Ok;
    NetResult result = Wait(true, MonotonicMs() + timeoutMs);
    if (result == NetResult::Ok)
        result = SocketConnectResult(socket_);
    if (result != NetResult::Ok)
        Close();
    return result;
}

NetResult TcpConnection::SendAll(std::string_view bytes, int timeoutMs)
{
    const int64_t deadline = MonotonicMs() + timeoutMs;
    while (!bytes.empty()) {
        const long sent = SocketSend(socket_, bytes.data(), bytes.size());
        if (sent < 0)
            return NetResult::Closed;
        if (sent > 0) {
            bytes.remove_prefix(static_cast<size_t>(sent));
        } else if (const NetResult waited = Wait(true, deadline); waited != NetResult::Ok) {
            return waited;
        }
    }
    return NetResult::Ok;
}

NetResult TcpConnection::Receive(std::string* received, int timeoutMs)
{
    const NetResult waited = Wait(false, MonotonicMs() + timeoutMs);
    if (waited != NetResult::Ok)
        return waited;
    return ReceiveArrived(received);
}

NetResult TcpConnection::ReceiveArrived(std::string* received)
{
    char buffer[RECEIVE_BUFFER_SIZE];
    const long count = SocketReceive(socket_, buffer, sizeof buffer);
    if (count < 0)
        return NetResult::Closed;
    received->append(buffer, static_cast<size_t>(count));  // nothing after all: the caller asks again
    return NetResult::Ok;
}

void TcpConnection::Close()
{
    if (open_)
        SocketClose(socket_);
    open_ = false;
}
