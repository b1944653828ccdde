// TcpConnection on Winsock, with only what Windows 2000's ws2_32.dll exports: names through
// gethostbyname (getaddrinfo came with XP), a non-blocking socket (ioctlsocket) and select()
// for every wait, with a time-out.
#include "socket_connection.h"

#include <winsock2.h>

#include <algorithm>

namespace {

// Winsock is started once, when it is first needed, and left to the end of the process.
bool WinsockStarted()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

SOCKET Handle(uintptr_t socket)
{
    return static_cast<SOCKET>(socket);
}

// The IPv4 address of `host`: a dotted address as it is, a name through the resolver.
bool ResolveIPv4(const std::string& host, in_addr* address)
{
    const unsigned long dotted = inet_addr(host.c_str());
    if (dotted != INADDR_NONE) {
        address->s_addr = dotted;
        return true;
    }
    const hostent* found = gethostbyname(host.c_str());
    if (found == nullptr || found->h_addrtype != AF_INET || found->h_addr_list[0] == nullptr)
        return false;
    address->s_addr = *reinterpret_cast<const unsigned long*>(found->h_addr_list[0]);
    return true;
}

NetResult ConnectError(int error)
{
    switch (error) {
    case WSAETIMEDOUT:
        return NetResult::TimedOut;
    case WSAECONNRESET:
    case WSAECONNABORTED:
        return NetResult::Closed;
    default:
        return NetResult::Refused;
    }
}

bool WouldBlock(int error)
{
    return error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAEINPROGRESS;
}

}  // namespace

NetResult TcpConnection::Wait(Direction direction, int timeoutMs)
{
    const SOCKET handle = Handle(socket_);
    bool stopping = false;
    for (int left = timeoutMs; left > 0;) {
        const int slice = std::min(left, STOP_SLICE_MS);
        fd_set ready;
        fd_set failed;  // a connection attempt that failed shows here, not as writable
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(handle, &ready);
        FD_SET(handle, &failed);
        timeval wait = {slice / 1000, (slice % 1000) * 1000};
        const int count = direction == Direction::Read ? select(0, &ready, nullptr, &failed, &wait)
                                                       : select(0, nullptr, &ready, &failed, &wait);
        if (count > 0)
            return NetResult::Ok;  // readiness or an error: the next call tells which
        if (count == SOCKET_ERROR)
            return NetResult::Closed;
        left -= slice;
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
    if (!WinsockStarted())
        return NetResult::Refused;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (!ResolveIPv4(host, &address.sin_addr))
        return NetResult::Unresolved;
    const SOCKET handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (handle == INVALID_SOCKET)
        return NetResult::Refused;
    socket_ = static_cast<uintptr_t>(handle);
    open_ = true;
    u_long nonBlocking = 1;
    ioctlsocket(handle, FIONBIO, &nonBlocking);
    const BOOL noDelay = TRUE;  // frames go out as written, not held for the previous answer
    setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);

    if (connect(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        const int started = WSAGetLastError();
        if (!WouldBlock(started)) {
            Close();
            return ConnectError(started);
        }
        const NetResult waited = Wait(Direction::Write, timeoutMs);
        int error = 0;
        int length = sizeof error;
        if (waited == NetResult::Ok &&
            getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == SOCKET_ERROR)
            error = WSAGetLastError();
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
        const int chunk = static_cast<int>(std::min<size_t>(bytes.size(), 64 * 1024));
        const int sent = send(Handle(socket_), bytes.data(), chunk, 0);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<size_t>(sent));
        } else if (sent == SOCKET_ERROR && WouldBlock(WSAGetLastError())) {
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
    const int count = recv(Handle(socket_), buffer, sizeof buffer, 0);
    if (count > 0) {
        received->append(buffer, static_cast<size_t>(count));
        return NetResult::Ok;
    }
    if (count == SOCKET_ERROR && WouldBlock(WSAGetLastError()))
        return NetResult::Ok;  // nothing after all; the caller asks again
    return NetResult::Closed;
}

void TcpConnection::Close()
{
    if (open_)
        closesocket(Handle(socket_));
    open_ = false;
}

std::string LocalHostName()
{
    char name[256] = {};
    if (!WinsockStarted() || gethostname(name, sizeof name - 1) != 0)
        return std::string();
    return name;
}
