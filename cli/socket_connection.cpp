// TcpConnection over the platform's socket primitives. The socket is non-blocking from the
// start, so that connect, send and receive only ever wait in SocketWait, with a time-out.
#include "socket_connection.h"

#include <algorithm>

namespace {

constexpr size_t RECEIVE_BUFFER_SIZE = 16 * 1024;

}  // namespace

NetResult TcpConnection::Wait(bool forWrite, int timeoutMs)
{
    bool stopping = false;
    for (int left = timeoutMs; left > 0;) {
        const int slice = std::min(left, STOP_SLICE_MS);
        const int ready = SocketWait(socket_, forWrite, slice);
        if (ready > 0)
            return NetResult::Ok;  // readiness or an error: the next call tells which
        if (ready < 0)
            return NetResult::Closed;
        left -= slice;  // a signal may cut a slice short: the wait ends a little early, never late
        if (!stopping && stop_ != nullptr && stop_()) {
            stopping = true;
            left = std::min(left, STOP_GRACE_MS);
        }
    }
    return stopping ? NetResult::Stopped : NetResult::TimedOut;
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
    NetResult result = Wait(true, timeoutMs);
    if (result == NetResult::Ok)
        result = SocketConnectResult(socket_);
    if (result != NetResult::Ok)
        Close();
    return result;
}

NetResult TcpConnection::SendAll(std::string_view bytes, int timeoutMs)
{
    while (!bytes.empty()) {
        const long sent = SocketSend(socket_, bytes.data(), bytes.size());
        if (sent < 0)
            return NetResult::Closed;
        if (sent > 0) {
            bytes.remove_prefix(static_cast<size_t>(sent));
        } else if (const NetResult waited = Wait(true, timeoutMs); waited != NetResult::Ok) {
            return waited;
        }
    }
    return NetResult::Ok;
}

NetResult TcpConnection::Receive(std::string* received, int timeoutMs)
{
    const NetResult waited = Wait(false, timeoutMs);
    if (waited != NetResult::Ok)
        return waited;
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
