// TcpConnection on POSIX sockets. The socket is non-blocking from the start, so that connect,
// send and receive only ever wait in poll(), with a time-out.
#include "socket_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace {

#ifdef MSG_NOSIGNAL
constexpr int SEND_FLAGS = MSG_NOSIGNAL;  // a peer gone is an error code, not SIGPIPE
#else
constexpr int SEND_FLAGS = 0;
#endif

int Descriptor(uintptr_t socket)
{
    return static_cast<int>(socket);
}

// The IPv4 address of `host`: a dotted address as it is, a name through the resolver.
bool ResolveIPv4(const std::string& host, in_addr* address)
{
    if (inet_pton(AF_INET, host.c_str(), address) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

NetResult ConnectError(int error)
{
    switch (error) {
    case ETIMEDOUT:
        return NetResult::TimedOut;
    case ECONNRESET:
    case EPIPE:
        return NetResult::Closed;
    default:
        return NetResult::Refused;
    }
}

}  // namespace

NetResult TcpConnection::Wait(Direction direction, int timeoutMs)
{
    pollfd watched{Descriptor(socket_), static_cast<short>(direction == Direction::Read ? POLLIN : POLLOUT), 0};
    bool stopping = false;
    for (int left = timeoutMs; left > 0;) {
        const int slice = std::min(left, STOP_SLICE_MS);
        const int ready = poll(&watched, 1, slice);
        if (ready > 0)
            return NetResult::Ok;  // readiness or an error: the next call tells which
        if (ready < 0 && errno != EINTR)
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
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (!ResolveIPv4(host, &address.sin_addr))
        return NetResult::Unresolved;
    const int descriptor = socket(AF_INET, SOCK_STREAM, 0);
    if (descriptor < 0)
        return NetResult::Refused;
    socket_ = static_cast<uintptr_t>(descriptor);
    open_ = true;
    fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    const int noDelay = 1;  // frames go out as written, not held for the previous answer
    setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);

    if (connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) {
            const int error = errno;
            Close();
            return ConnectError(error);
        }
        const NetResult waited = Wait(Direction::Write, timeoutMs);
        int error = 0;
        socklen_t length = sizeof error;
        if (waited == NetResult::Ok && getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (waited != NetResult::Ok || error != 0) {
            Close();
            return waited != NetResult::Ok ? waited : ConnectError(error);
        }
    }
    return NetResult::Ok;
}

NetResult TcpConnection::SendAll(std::string_view bytes, int timeoutMs)
{
    while (!bytes.empty()) {
        const ssize_t sent = send(Descriptor(socket_), bytes.data(), bytes.size(), SEND_FLAGS);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<size_t>(sent));
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            const NetResult waited = Wait(Direction::Write, timeoutMs);
            if (waited != NetResult::Ok)
                return waited;
        } else {
            return NetResult::Closed;
        }
    }
    return NetResult::Ok;
}

NetResult TcpConnection::Receive(std::string* received, int timeoutMs)
{
    const NetResult waited = Wait(Direction::Read, timeoutMs);
    if (waited != NetResult::Ok)
        return waited;
    char buffer[16 * 1024];
    const ssize_t count = recv(Descriptor(socket_), buffer, sizeof buffer, 0);
    if (count > 0) {
        received->append(buffer, static_cast<size_t>(count));
        return NetResult::Ok;
    }
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return NetResult::Ok;  // nothing after all; the caller asks again
    return NetResult::Closed;
}

void TcpConnection::Close()
{
    if (open_)
        close(Descriptor(socket_));
    open_ = false;
}

std::string LocalHostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return std::string();
    return name;
}
