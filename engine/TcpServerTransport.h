#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/Link.h"
#include "engine/SocketUtil.h"

#include "engine/TlsSession.h"

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
    // Its posts spend the server's budget.
    // With `tls`, the session is a TLS server's, on those credentials.
    ClientSession(SOCKET socket, std::wstring peer, uint32_t id, HANDLE serverStop,
                  std::shared_ptr<PostBudget> budget, std::shared_ptr<TlsCredentials> tls = nullptr);
    ~ClientSession() { Close(); }

    bool Start(HWND notifyWnd);
    // Ends the session and waits for its thread. A session that was stopped
    // says "Client disconnected" here (with `why` after it), so that a
    // server's sessions say it in the order they were accepted.
    void Close(const wchar_t* why = L"");
    // Refused once the session has ended.
    SendResult QueueSend(const OutgoingPtr& payload);
    size_t QueuedBytes() { return m_sendQueue.Bytes(); }
    // An open queue that has no room for that many bytes now.
    bool IsFullFor(size_t bytes) const { return m_sendQueue.FullFor(bytes); }
    const std::wstring& Peer() const { return m_peer; }
    uint32_t Id() const { return m_clientId; }

private:
    void Run();

    SOCKET m_socket; // the thread's own while it runs
    std::wstring m_peer;
    bool m_farewellOwed = false;
    bool m_closed = false;
    SendQueue m_sendQueue;
    std::shared_ptr<TlsCredentials> m_tls;
};

// Listens on every IPv4 address and accepts any number of clients; each
// payload goes to all of them, or to one by its id.
class TcpServerTransport : public Link {
public:
    TcpServerTransport() = default;
    ~TcpServerTransport() override { Stop(); }

    using Link::Start;
    void Start(HWND notifyWnd, const ConnectionSettings& settings, const LinkOptions& options) override;
    void Stop() override;
    // One payload for every running client session, shared by their queues:
    // queued when one took it, backed up when none did and one was full.
    SendResult Send(OutgoingPtr payload) override;
    SendResult SendTo(uint32_t clientId, const std::wstring& peer, OutgoingPtr payload) override;
    bool DisconnectClient(uint32_t clientId) override { return Disconnect(clientId); }
    bool QueueSendToAll(const std::vector<uint8_t>& payload) { return Send(MakeOutgoing(payload)) == SendResult::Queued; }
    // False when no running session has that id.
    bool QueueSendTo(uint32_t clientId, const std::vector<uint8_t>& payload)
    {
        return SendTo(clientId, {}, MakeOutgoing(payload)) == SendResult::Queued;
    }
    // Closes that client's connection, as if it had left; the others and
    // the server go on. False when no session has that id.
    bool Disconnect(uint32_t clientId);
    size_t SessionCount();
    size_t QueuedBytes() override;

private:
    void Run(ConnectionSettings settings);
    bool AcceptWaiting(SOCKET listener);
    void AddSession(SOCKET client, const sockaddr_storage& address);
    std::shared_ptr<TlsCredentials> m_tls; // a TLS server's, for its run
    void PruneSessions();
    // Past the cap a connection is closed at once; how many were is said
    // once a second at most.
    void TurnAway(SOCKET client);
    void SayTurnedAway(bool now);

    uint64_t m_turnedAway = 0; // not yet said; the worker's own
    ULONGLONG m_turnedAwaySaid = 0;

    std::mutex m_sessionsMutex; // taken before any session's send lock
    std::vector<std::shared_ptr<ClientSession>> m_sessions;
};
