#include "tests/LoopbackPeer.h"

#include <windows.h>

#include <algorithm>

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
    char buffer[4096];
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeoutMs);
    while (bytes.size() < count) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline || !WaitReadable(m_socket, int(deadline - now)))
            break;
        const int want = int(std::min<size_t>(sizeof(buffer), count - bytes.size()));
        const int n = recv(m_socket, buffer, want, 0);
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + n);
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

Listener::Listener(const wchar_t* address, int backlog)
{
    addrinfoW hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfoW* info = nullptr;
    if (GetAddrInfoW(address, L"0", &hints, &info) != 0)
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
