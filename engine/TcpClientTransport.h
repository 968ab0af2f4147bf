#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/SocketUtil.h"
#include "engine/Transport.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// One outgoing TCP connection on a worker thread that connects, receives
// and writes; the interface thread only queues payloads and stops it.
class TcpClientTransport : public TransportBase {
public:
    TcpClientTransport() = default;
    ~TcpClientTransport() { Stop(); }

    void Start(HWND notifyWnd, const ConnectionSettings& settings);
    void Stop();
    // False when the link is not running; the payload is then not queued.
    bool QueueSend(const std::vector<uint8_t>& payload);

private:
    void Run(ConnectionSettings settings);
    bool Connect(const ConnectionSettings& settings);
    bool ConnectOne(const addrinfoW& address);
    bool WaitForConnect(SOCKET socket);
    void ReceiveLoop(const ConnectionSettings& settings);

    std::atomic<SOCKET> m_socket{INVALID_SOCKET};
    std::mutex m_sendMutex;
    SendQueue m_sendQueue;
};
