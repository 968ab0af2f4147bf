#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/SocketUtil.h"
#include "engine/Transport.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// One IPv4 datagram socket with a receive thread. As a listener it binds
// the port; as a client it binds any port and sends to the given address.
// Sending is direct, on the calling thread.
class UdpTransport : public TransportBase {
public:
    // Holds the largest datagram: a smaller buffer would cut datagrams and
    // end the receive loop.
    static constexpr int kReceiveBufferSize = 65536;

    UdpTransport() = default;
    ~UdpTransport() { Stop(); }

    void Start(HWND notifyWnd, const ConnectionSettings& settings);
    void Stop();
    // One datagram to the destination; true when the socket layer took it.
    bool SendNow(const std::vector<uint8_t>& payload);

private:
    void Run(ConnectionSettings settings);
    void SetDestination(const sockaddr_in* destination);
    void FailStart(const std::wstring& message);

    std::atomic<SOCKET> m_socket{INVALID_SOCKET};
    std::mutex m_sendMutex; // guards the destination and sendto
    sockaddr_storage m_destination{};
    int m_destinationLength = 0;
};
