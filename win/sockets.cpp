// The socket primitives on Winsock, with only what Windows 2000's ws2_32.dll exports: names
// through gethostbyname (getaddrinfo came with XP), a non-blocking socket (ioctlsocket) and
// select() for every wait.
#include "platform.h"

#include <winsock2.h>

#include <algorithm>

namespace {

// One send call offers at most this much; Winsock takes an int count.
constexpr size_t SEND_CHUNK_SIZE = 64 * 1024;

// Winsock is started once, when it is first needed, and left to the end of the process.
bool WinsockStarted()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

SOCKET Handle(SocketHandle socket)
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

// What a Winsock error means: Ok where the call only could not finish yet.
NetResult ErrorResult(int error)
{
    switch (error) {
    case WSAEWOULDBLOCK: case WSAEINTR: case WSAEINPROGRESS: return NetResult::Ok;
    case WSAETIMEDOUT: return NetResult::TimedOut;
    case WSAECONNRESET: case WSAECONNABORTED: return NetResult::Closed;
    default: return NetResult::Refused;
    }
}

}  // namespace

NetResult SocketConnect(const std::string& host, uint16_t port, SocketHandle* socket, bool* pending)
{
    if (!WinsockStarted())
        return NetResult::Refused;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (!ResolveIPv4(host, &address.sin_addr))
        return NetResult::Unresolved;
    const SOCKET handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (handle == INVALID_SOCKET)
        return NetResult::Refused;
    u_long nonBlocking = 1;
    ioctlsocket(handle, FIONBIO, &nonBlocking);
    const BOOL noDelay = TRUE;  // frames go out as written, not held for the previous answer
    setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    *pending = connect(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR;
    if (const NetResult started = *pending ? ErrorResult(WSAGetLastError()) : NetResult::Ok; started != NetResult::Ok) {
        closesocket(handle);
        return started;
    }
    *socket = static_cast<SocketHandle>(handle);
    return NetResult::Ok;
}

NetResult SocketConnectResult(SocketHandle socket)
{
    int error = 0;
    int length = sizeof error;
    if (getsockopt(Handle(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == SOCKET_ERROR)
        error = WSAGetLastError();
    return error == 0 ? NetResult::Ok : ErrorResult(error);
}

int SocketWait(SocketHandle socket, bool forWrite, int milliseconds)
{
    const SOCKET handle = Handle(socket);
    fd_set ready;
    fd_set failed;  // a connection attempt that failed shows here, not as writable
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(handle, &ready);
    FD_SET(handle, &failed);
    timeval wait = {milliseconds / 1000, (milliseconds % 1000) * 1000};
    const int count = forWrite ? select(0, nullptr, &ready, &failed, &wait) : select(0, &ready, nullptr, &failed, &wait);
    if (count == SOCKET_ERROR)
        return -1;
    return count > 0 ? 1 : 0;
}

long SocketSend(SocketHandle socket, const char* bytes, size_t size)
{
    const int sent = send(Handle(socket), bytes, static_cast<int>(std::min(size, SEND_CHUNK_SIZE)), 0);
    if (sent > 0)
        return sent;
    return sent == SOCKET_ERROR && ErrorResult(WSAGetLastError()) == NetResult::Ok ? 0 : -1;
}

long SocketReceive(SocketHandle socket, char* buffer, size_t size)
{
    const int count = recv(Handle(socket), buffer, static_cast<int>(size), 0);
    if (count > 0)
        return count;
    return count == SOCKET_ERROR && ErrorResult(WSAGetLastError()) == NetResult::Ok ? 0 : -1;
}

void SocketClose(SocketHandle socket)
{
    closesocket(Handle(socket));
}

std::string LocalHostName()
{
    char name[256] = {};
    if (!WinsockStarted() || gethostname(name, sizeof name - 1) != 0)
        return std::string();
    return name;
}
