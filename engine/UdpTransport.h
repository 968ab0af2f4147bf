#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/Link.h"
#include "engine/SocketUtil.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// One IPv4 datagram socket with a receive thread. As a listener it binds
// the port and answers: it sends to whoever sent the last datagram. As a
// client it binds any port and sends to the given address. Sending is
// direct, on the calling thread.
class UdpTransport : public Link {
public:
    // Holds the largest datagram.
    static constexpr int kReceiveBufferSize = 65536;

    UdpTransport() = default;
    ~UdpTransport() override { Stop(); }

    void Start(HWND notifyWnd, const ConnectionSettings& settings) override;
    void Stop() override;
    bool Send(const std::vector<uint8_t>& payload) override { return SendNow(payload); }
    // One datagram to the destination; true when the socket layer took it.
    bool SendNow(const std::vector<uint8_t>& payload);
    // A listener's datagram to one sender, named as its datagrams name it
    // ("192.0.2.1:5000"); false for another text or a stopped link.
    bool SendTo(const std::wstring& peer, const std::vector<uint8_t>& payload);
    // Before Start. Tests make it small to cut a datagram short, which the
    // full size never does.
    void SetReceiveBufferSize(int size) { m_receiveBufferSize = size; }

private:
    void Run(ConnectionSettings settings);
    bool ReceiveUntilStopped(SOCKET s, SocketEvent& event);
    // Null clears both: then nothing can be sent.
    void SetSocket(SOCKET s, const sockaddr_in* destination);
    // Under the send lock.
    bool SendDatagram(const sockaddr* to, int length, const std::vector<uint8_t>& payload);
    void FailStart(SOCKET& s, const std::wstring& message);

    // The destination becomes each datagram's sender.
    void Answer(const sockaddr_storage& sender, int length);

    int m_receiveBufferSize = kReceiveBufferSize;
    bool m_listener = false;
    std::mutex m_sendMutex; // guards the socket, the destination and sendto
    SOCKET m_socket = INVALID_SOCKET;
    sockaddr_storage m_destination{};
    int m_destinationLength = 0;
};
