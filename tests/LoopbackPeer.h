#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include "engine/ConnectionSettings.h"

#include <cstdint>
#include <string>
#include <vector>

// The far end of a link under test: plain blocking sockets on loopback,
// every wait bounded.
class PeerSocket {
public:
    PeerSocket() = default;
    explicit PeerSocket(SOCKET s) : m_socket(s) {}
    ~PeerSocket() { Close(); }
    PeerSocket(PeerSocket&& other) noexcept : m_socket(other.m_socket) { other.m_socket = INVALID_SOCKET; }
    PeerSocket& operator=(PeerSocket&& other) noexcept;
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    bool Valid() const { return m_socket != INVALID_SOCKET; }
    SOCKET Get() const { return m_socket; }
    void Close();

    bool SendAll(const std::vector<uint8_t>& bytes);
    // Up to `count` bytes; fewer when the time-out passes or the link closes.
    std::vector<uint8_t> Receive(size_t count, int timeoutMs, int pauseBetweenReadsMs = 0);
    // True when the other side closed (recv gave 0) within the time-out;
    // any bytes still arriving are collected in `rest`.
    bool WaitClosed(int timeoutMs, std::vector<uint8_t>* rest = nullptr);

private:
    SOCKET m_socket = INVALID_SOCKET;
};

class Listener {
public:
    // Binds that port (0: any) on the given numeric loopback address.
    explicit Listener(const wchar_t* address = L"127.0.0.1", int backlog = SOMAXCONN, uint16_t port = 0);

    bool Valid() const { return m_socket.Valid(); }
    uint16_t Port() const { return m_port; }
    PeerSocket Accept(int timeoutMs);
    void Close() { m_socket.Close(); }

private:
    PeerSocket m_socket;
    uint16_t m_port = 0;
};

// A port on 127.0.0.1 that nothing listens on (bound, then released).
uint16_t ClosedLoopbackPort();

// A blocking TCP connection to a numeric address; invalid on failure.
PeerSocket ConnectTo(const wchar_t* address, uint16_t port);

// A TCP client's settings for that port on 127.0.0.1.
inline ConnectionSettings LoopbackClientSettings(uint16_t port)
{
    ConnectionSettings s;
    s.ip = L"127.0.0.1";
    s.port = port;
    return s;
}

// A UDP socket bound to 127.0.0.1 on a port of its own.
class UdpPeer {
public:
    UdpPeer();
    uint16_t Port() const { return m_port; }
    void Close() { m_socket.Close(); }
    bool SendTo(uint16_t port, const std::vector<uint8_t>& bytes);
    // One datagram, or false when none came within the time-out.
    bool Receive(std::vector<uint8_t>& bytes, int timeoutMs, uint16_t* fromPort = nullptr);

private:
    PeerSocket m_socket;
    uint16_t m_port = 0;
};
