#include "tests/LoopbackPeer.h"

#include <windows.h>

#include <algorithm>
#include <string>

static bool WaitReadable(SOCKET s, int timeoutMs)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &timeout) > 0;
}

PeerSocket& PeerSocket::operator=(PeerSocket&& other) noexcept
{
    if (this != &other) {
        Close();
        m_socket = other.m_socket;
        other.m_socket = INVALID_SOCKET;
    }
    return *this;
}

void PeerSocket::Close()
{
    if (m_socket != INVALID_SOCKET)
        closesocket(m_socket);
    m_socket = INVALID_SOCKET;
}

bool PeerSocket::SendAll(const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const int n = send(m_socket, reinterpret_cast<const char*>(bytes.data() + done),
                           int(bytes.size() - done), 0);
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

std::vector<uint8_t> PeerSocket::Receive(size_t count, int timeoutMs, int pauseBetweenReadsMs)
{
    std::vector<uint8_t> bytes;
    std::vector<char> buffer(65536);
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeoutMs);
    while (bytes.size() < count) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline || !WaitReadable(m_socket, int(deadline - now)))
            break;
        const int want = int(std::min<size_t>(buffer.size(), count - bytes.size()));
        const int n = recv(m_socket, buffer.data(), want, 0);
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), buffer.data(), buffer.data() + n);
        if (pauseBetweenReadsMs > 0)
            Sleep(DWORD(pauseBetweenReadsMs));
    }
    return bytes;
}

bool PeerSocket::WaitClosed(int timeoutMs, std::vector<uint8_t>* rest)
{
    char buffer[4096];
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeoutMs);
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline || !WaitReadable(m_socket, int(deadline - now)))
            return false;
        const int n = recv(m_socket, buffer, sizeof(buffer), 0);
        if (n <= 0)
            return true; // closed or reset: either way the other side let go
        if (rest)
            rest->insert(rest->end(), buffer, buffer + n);
    }
}

Listener::Listener(const wchar_t* address, int backlog, uint16_t port)
{
    addrinfoW hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfoW* info = nullptr;
    if (GetAddrInfoW(address, std::to_wstring(port).c_str(), &hints, &info) != 0)
        return;
    PeerSocket s(socket(info->ai_family, SOCK_STREAM, IPPROTO_TCP));
    if (s.Valid() && bind(s.Get(), info->ai_addr, int(info->ai_addrlen)) == 0 &&
        listen(s.Get(), backlog) == 0) {
        sockaddr_storage bound{};
        int size = sizeof(bound);
        getsockname(s.Get(), reinterpret_cast<sockaddr*>(&bound), &size);
        m_port = ntohs(bound.ss_family == AF_INET6
                           ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                           : reinterpret_cast<sockaddr_in&>(bound).sin_port);
        m_socket = std::move(s);
    }
    FreeAddrInfoW(info);
}

PeerSocket Listener::Accept(int timeoutMs)
{
    if (!Valid() || !WaitReadable(m_socket.Get(), timeoutMs))
        return PeerSocket();
    return PeerSocket(accept(m_socket.Get(), nullptr, nullptr));
}

uint16_t ClosedLoopbackPort()
{
    PeerSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int size = sizeof(address);
    getsockname(s.Get(), reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

PeerSocket ConnectTo(const wchar_t* address, uint16_t port)
{
    addrinfoW hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfoW* info = nullptr;
    if (GetAddrInfoW(address, std::to_wstring(port).c_str(), &hints, &info) != 0)
        return PeerSocket();
    PeerSocket s(socket(info->ai_family, SOCK_STREAM, IPPROTO_TCP));
    if (connect(s.Get(), info->ai_addr, int(info->ai_addrlen)) != 0)
        s.Close();
    FreeAddrInfoW(info);
    return s;
}

static sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

UdpPeer::UdpPeer() : m_socket(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP))
{
    sockaddr_in a = Loopback(0);
    bind(m_socket.Get(), reinterpret_cast<sockaddr*>(&a), sizeof(a));
    int size = sizeof(a);
    getsockname(m_socket.Get(), reinterpret_cast<sockaddr*>(&a), &size);
    m_port = ntohs(a.sin_port);
}

bool UdpPeer::SendTo(uint16_t port, const std::vector<uint8_t>& bytes)
{
    const sockaddr_in a = Loopback(port);
    return sendto(m_socket.Get(), reinterpret_cast<const char*>(bytes.data()), int(bytes.size()), 0,
                  reinterpret_cast<const sockaddr*>(&a), sizeof(a)) != SOCKET_ERROR;
}

bool UdpPeer::Receive(std::vector<uint8_t>& bytes, int timeoutMs, uint16_t* fromPort)
{
    if (!WaitReadable(m_socket.Get(), timeoutMs))
        return false;
    std::vector<char> buffer(65536);
    sockaddr_in from{};
    int size = sizeof(from);
    const int n = recvfrom(m_socket.Get(), buffer.data(), int(buffer.size()), 0, reinterpret_cast<sockaddr*>(&from), &size);
    if (n < 0)
        return false;
    bytes.assign(buffer.begin(), buffer.begin() + n);
    if (fromPort)
        *fromPort = ntohs(from.sin_port);
    return true;
}
