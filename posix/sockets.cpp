// The socket primitives on POSIX sockets.
#include "platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

#ifdef MSG_NOSIGNAL
constexpr int SEND_FLAGS = MSG_NOSIGNAL;  // a peer gone is an error code, not SIGPIPE
#else
constexpr int SEND_FLAGS = 0;
#endif

int Descriptor(SocketHandle socket)
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

// What the error of a failed call means: Ok where the call only could not finish yet.
NetResult ErrorResult(int error)
{
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == EINPROGRESS)
        return NetResult::Ok;
    if (error == ETIMEDOUT)
        return NetResult::TimedOut;
    return error == ECONNRESET || error == EPIPE ? NetResult::Closed : NetResult::Refused;
}

}  // namespace

NetResult SocketConnect(const std::string& host, uint16_t port, SocketHandle* socket, bool* pending)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (!ResolveIPv4(host, &address.sin_addr))
        return NetResult::Unresolved;
    const int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    if (descriptor < 0)
        return NetResult::Refused;
    fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    const int noDelay = 1;  // frames go out as written, not held for the previous answer
    setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    *socket = static_cast<SocketHandle>(descriptor);
    *pending = false;
    if (connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return NetResult::Ok;
    const NetResult started = ErrorResult(errno);
    *pending = started == NetResult::Ok;  // EINPROGRESS: it goes on without us
    if (!*pending)
        close(descriptor);
    return started;
}

NetResult SocketConnectResult(SocketHandle socket)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(Descriptor(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    return error == 0 ? NetResult::Ok : ErrorResult(error);
}

int SocketWait(SocketHandle socket, bool forWrite, int milliseconds)
{
    pollfd watched{Descriptor(socket), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    const int ready = poll(&watched, 1, milliseconds);
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    return ready > 0 ? 1 : 0;
}

long SocketSend(SocketHandle socket, const char* bytes, size_t size)
{
    const ssize_t sent = send(Descriptor(socket), bytes, size, SEND_FLAGS);
    if (sent >= 0)
        return sent > 0 ? static_cast<long>(sent) : -1;
    return ErrorResult(errno) == NetResult::Ok ? 0 : -1;
}

long SocketReceive(SocketHandle socket, char* buffer, size_t size)
{
    const ssize_t count = recv(Descriptor(socket), buffer, size, 0);
    if (count > 0)
        return static_cast<long>(count);
    return count < 0 && ErrorResult(errno) == NetResult::Ok ? 0 : -1;
}

void SocketClose(SocketHandle socket)
{
    close(Descriptor(socket));
}

std::string LocalHostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return std::string();
    return name;
}
