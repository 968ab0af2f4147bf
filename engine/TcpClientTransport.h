#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/Link.h"
#include "engine/SocketUtil.h"

#include <cstdint>
#include <vector>

// One outgoing TCP connection on a worker thread that connects, receives
// and writes; the interface thread only queues payloads and stops it.
class TcpClientTransport : public Link {
public:
    TcpClientTransport() = default;
    ~TcpClientTransport() override { Stop(); }

    using Link::Start;
    void Start(HWND notifyWnd, const ConnectionSettings& settings, const LinkOptions& options) override;
    void Stop() override;
    // Queued while the link runs (while it connects too); refused while it
    // waits to connect again.
    SendResult Send(OutgoingPtr payload) override;
    bool QueueSend(const std::vector<uint8_t>& payload) { return Send(MakeOutgoing(payload)) == SendResult::Queued; }
    size_t QueuedBytes() override { return m_sendQueue.Bytes(); }

private:
    void Run(ConnectionSettings settings);
    // Connects to the first address that answers; INVALID_SOCKET with the
    // reason as the thread's last socket error.
    SOCKET Connect(const addrinfoW* addresses, SocketEvent& event, const ConnectionSettings& settings,
                   std::wstring& failed);
    // Between tries; false when the link was stopped meanwhile.
    bool WaitToReconnect(uint32_t seconds);
    // What was queued for a lost connection is not sent to the next one.
    void GoDown(const wchar_t* why);
    // `failed` names the step that failed: the bind or the connect.
    SOCKET ConnectOne(const addrinfoW& address, SocketEvent& event, const ConnectionSettings& settings,
                      std::wstring& failed);
    bool WaitForConnect(SOCKET socket, SocketEvent& event);

    SendQueue m_sendQueue;
};
