#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/Link.h"
#include "engine/SocketUtil.h"

#include <cstdint>
#include <mutex>
#include <vector>

// One outgoing TCP connection on a worker thread that connects, receives
// and writes; the interface thread only queues payloads and stops it.
class TcpClientTransport : public Link {
public:
    TcpClientTransport() = default;
    ~TcpClientTransport() override { Stop(); }

    void Start(HWND notifyWnd, const ConnectionSettings& settings) override;
    void Stop() override;
    bool Send(const std::vector<uint8_t>& payload) override { return QueueSend(payload); }
    // False when the link is not running; the payload is then not queued.
    bool QueueSend(const std::vector<uint8_t>& payload);
    size_t QueuedBytes() override { return QueuedSize(m_sendMutex, m_sendQueue); }

private:
    void Run(ConnectionSettings settings);
    // Connects to the first address that answers; INVALID_SOCKET with the
    // reason as the thread's last socket error.
    SOCKET Connect(const addrinfoW* addresses, SocketEvent& event);
    // Between tries; false when the link was stopped meanwhile.
    bool WaitToReconnect(uint32_t seconds);
    void GoDown();
    SOCKET ConnectOne(const addrinfoW& address, SocketEvent& event);
    bool WaitForConnect(SOCKET socket, SocketEvent& event);

    std::mutex m_sendMutex;
    SendQueue m_sendQueue;
    // Lost and waiting to reconnect: payloads are refused, not queued for
    // a connection that may come in half a minute.
    bool m_down = false; // under m_sendMutex
};
