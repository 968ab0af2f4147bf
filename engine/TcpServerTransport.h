#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/Link.h"
#include "engine/SocketUtil.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One accepted client on a thread of its own: receives, and writes its own
// queue. Destroying it closes it first, so it never outlives its thread.
class ClientSession : public TransportBase {
public:
    // `serverStop` ends every session of the server at once.
    ClientSession(SOCKET socket, std::wstring peer, uint32_t id, HANDLE serverStop);
    ~ClientSession() { Close(); }

    bool Start(HWND notifyWnd);
    // Ends the session and waits for its thread. A session that was stopped
    // says "Client disconnected" here (with `why` after it), so that a
    // server's sessions say it in the order they were accepted.
    void Close(const wchar_t* why = L"");
    // Under the session's lock; false once the session has ended.
    bool QueueSend(const std::vector<uint8_t>& payload);
    size_t QueuedBytes() { return QueuedSize(m_sendMutex, m_sendQueue); }
    const std::wstring& Peer() const { return m_peer; }
    uint32_t Id() const { return m_clientId; }

private:
    void Run();

    SOCKET m_socket; // the thread's own while it runs
    std::wstring m_peer;
    bool m_farewellOwed = false;
    bool m_closed = false;
    std::mutex m_sendMutex;
    SendQueue m_sendQueue;
};

// Listens on every IPv4 address and accepts any number of clients; each
// payload goes to all of them, or to one by its id.
class TcpServerTransport : public Link {
public:
    TcpServerTransport() = default;
    ~TcpServerTransport() override { Stop(); }

    void Start(HWND notifyWnd, const ConnectionSettings& settings) override;
    void Stop() override;
    bool Send(const std::vector<uint8_t>& payload) override { return QueueSendToAll(payload); }
    // Queues a copy for every running client session; true when one took it.
    bool QueueSendToAll(const std::vector<uint8_t>& payload);
    // False when no running session has that id.
    bool QueueSendTo(uint32_t clientId, const std::vector<uint8_t>& payload);
    // Closes that client's connection, as if it had left; the others and
    // the server go on. False when no session has that id.
    bool Disconnect(uint32_t clientId);
    size_t SessionCount();
    size_t QueuedBytes() override;

private:
    void Run(ConnectionSettings settings);
    bool AcceptWaiting(SOCKET listener);
    void AddSession(SOCKET client, const sockaddr_storage& address);
    void PruneSessions();

    std::mutex m_sessionsMutex; // taken before any session's send lock
    std::vector<std::shared_ptr<ClientSession>> m_sessions;
};
