#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/SocketUtil.h"
#include "engine/Transport.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One accepted client on a thread of its own: receives, and writes its own
// queue. Destroying it closes it first, so it never outlives its thread.
class ClientSession : public TransportBase {
public:
    ClientSession(SOCKET socket, std::wstring peer) : m_socket(socket), m_peer(std::move(peer)) {}
    ~ClientSession() { Close(); }

    bool Start(HWND notifyWnd);
    void Close();
    // Under the session's lock; false once the session has ended.
    bool QueueSend(const std::vector<uint8_t>& payload);
    const std::wstring& Peer() const { return m_peer; }

private:
    void Run();

    std::atomic<SOCKET> m_socket;
    std::wstring m_peer;
    std::mutex m_sendMutex;
    SendQueue m_sendQueue;
};

// Listens on every IPv4 address and accepts any number of clients; each
// payload goes to all of them.
class TcpServerTransport : public TransportBase {
public:
    TcpServerTransport() = default;
    ~TcpServerTransport() { Stop(); }

    void Start(HWND notifyWnd, const ConnectionSettings& settings);
    void Stop();
    // Queues a copy for every running client session; true when one took it.
    bool QueueSendToAll(const std::vector<uint8_t>& payload);
    size_t SessionCount();

private:
    void Run(ConnectionSettings settings);
    bool WaitForClient();
    void AddSession(SOCKET client, const sockaddr_storage& address);
    void PruneSessions();

    std::atomic<SOCKET> m_listenSocket{INVALID_SOCKET};
    std::mutex m_sessionsMutex; // taken before any session's send lock
    std::vector<std::shared_ptr<ClientSession>> m_sessions;
};
