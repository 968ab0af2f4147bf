#include "engine/TcpServerTransport.h"

#include <algorithm>

namespace {

// After a shortage of sockets or memory the next accept would fail at once
// again: the server waits this long before it tries once more.
constexpr DWORD kShortagePauseMs = 100;

// Under Wine a client reset in the backlog can leave the accept event
// unarmed even after selecting again, and the clients behind it would wait
// unseen: the server looks at its backlog this often when nothing signals.
constexpr DWORD kBacklogLookMs = 250;

std::atomic<uint32_t> g_nextClientId{1};

// Whether a failed accept concerns only the client it was for (reset or
// gone before it was taken) or a passing shortage, after which the server
// goes on listening.
bool IsPassingAcceptError(int error)
{
    switch (error) {
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENOTCONN: // what some stacks say for a client that reset first
    case WSAETIMEDOUT:
    case WSAEINTR:
    case WSAEMFILE:
    case WSAENOBUFS:
        return true;
    }
    return false;
}

} // namespace

// ---- ClientSession --------------------------------------------------------

ClientSession::ClientSession(SOCKET socket, std::wstring peer, uint32_t id, HANDLE serverStop,
                             std::shared_ptr<PostBudget> budget, std::shared_ptr<TlsCredentials> tls)
    : TransportBase(serverStop, std::move(budget)), m_socket(socket), m_peer(std::move(peer)), m_tls(std::move(tls))
{
    m_clientId = id;
    m_sendQueue.Open();
}

bool ClientSession::Start(HWND notifyWnd)
{
    return StartWorker(notifyWnd, [this] { Run(); },
                       L"Could not start a thread for client " + m_peer + L"; it was disconnected.", false);
}

void ClientSession::Close(const wchar_t* why)
{
    if (m_closed)
        return;
    m_closed = true;
    RequestStop();
    JoinWorker();
    CloseSocket(m_socket); // still here only when no thread ever ran
    if (m_farewellOwed) {
        m_farewellOwed = false;
        Post(TransportEventKind::ClientRemoved, L"Client disconnected" + std::wstring(why), m_peer);
    }
    m_sendQueue.Close();
}

SendResult ClientSession::QueueSend(const OutgoingPtr& payload)
{
    if (!m_running)
        return SendResult::Refused;
    const SendResult result = m_sendQueue.Push(payload);
    if (result == SendResult::Queued)
        Wake();
    return result;
}

void ClientSession::Run()
{
    Post(TransportEventKind::ClientAdded, L"Client connected", m_peer);
    SocketEvent event;
    StreamEnd end = StreamEnd::Failed;
    int error = 0;
    uint64_t dropped = 0;
    StreamHooks hooks;
    hooks.onBlock = [this](std::vector<uint8_t> block) { PostReceived(std::move(block), m_peer); };
    hooks.onSent = [this](const OutgoingPtr& payload, size_t written) { PostSent(payload, written, m_peer); };
    hooks.onDropped = [this](uint64_t bytes) { PostDropped(bytes, FormatSocketError(L"the send failed"), m_peer); };
    std::unique_ptr<TlsStream> tls;
    std::wstring tlsFailure;
    if (!event.Watch(m_socket, FD_READ | FD_WRITE | FD_CLOSE)) {
        error = WSAGetLastError();
    } else if (m_tls) {
        // Each client its own session on the server's certificate.
        tls = std::make_unique<TlsStream>(*m_tls);
        if (tls->Handshake(m_socket, event, Signals().stop, L"", false, tlsFailure)) {
            PostNote(L"TLS: " + tls->Summary(), m_peer);
            hooks.io = tls.get();
        } else if (m_stopRequested || WaitForSingleObject(Signals().stop, 0) == WAIT_OBJECT_0) {
            end = StreamEnd::Stopped;
        } else {
            Post(TransportEventKind::Error, tlsFailure, m_peer);
        }
    }
    if (hooks.io || (!m_tls && error == 0)) {
        end = RunStream(m_socket, event, *this, m_sendQueue, hooks, &error, &dropped);
        if (tls && end == StreamEnd::Stopped)
            tls->Close(m_socket);
    }
    m_running = false;
    // What was queued for a client that has gone will never be written.
    PostDropped(dropped + m_sendQueue.Close(), L"the client left", m_peer);
    CloseSocket(m_socket);
    if (end == StreamEnd::Stopped)
        m_farewellOwed = true; // Close says it, after the join
    else
        Post(TransportEventKind::ClientRemoved,
             L"Client disconnected" + (tlsFailure.empty() ? StreamEndReason(end, error) : L" (no TLS session)"), m_peer);
}

// ---- TcpServerTransport --------------------------------------------------

void TcpServerTransport::Start(HWND notifyWnd, const ConnectionSettings& settings, const LinkOptions& options)
{
    Stop();
    m_options = options;
    m_turnedAway = 0;
    m_turnedAwaySaid = 0;
    StartWorker(notifyWnd, [this, settings] { Run(settings); });
}

void TcpServerTransport::Stop()
{
    RequestStop();
    JoinWorker();
    std::lock_guard<std::mutex> lock(m_sessionsMutex);
    // The stop event that ended the accept loop has woken every session
    // too; each join then finds its thread (nearly) done.
    for (const auto& session : m_sessions)
        session->Close();
    m_sessions.clear();
}

SendResult TcpServerTransport::Send(OutgoingPtr payload)
{
    std::lock_guard<std::mutex> lock(m_sessionsMutex);
    // What a bridge hands on reaches every client or waits for all: one
    // that is behind holds the bridge back rather than miss bytes. Only the
    // window pushes, so room seen here is still there below.
    if (payload->tag.bridged)
        for (const auto& session : m_sessions)
            if (session->IsFullFor(payload->bytes.size()))
                return SendResult::BackedUp;
    SendResult result = SendResult::Refused;
    for (const auto& session : m_sessions) {
        const SendResult one = session->QueueSend(payload);
        if (one == SendResult::Queued || (one == SendResult::BackedUp && result == SendResult::Refused))
            result = one;
    }
    return result;
}

SendResult TcpServerTransport::SendTo(uint32_t clientId, const std::wstring&, OutgoingPtr payload)
{
    std::lock_guard<std::mutex> lock(m_sessionsMutex);
    for (const auto& session : m_sessions)
        if (session->Id() == clientId)
            return session->QueueSend(payload);
    return SendResult::Refused;
}

size_t TcpServerTransport::QueuedBytes()
{
    std::lock_guard<std::mutex> lock(m_sessionsMutex);
    size_t most = 0;
    for (const auto& session : m_sessions)
        most = std::max(most, session->QueuedBytes());
    return most;
}

size_t TcpServerTransport::SessionCount()
{
    std::lock_guard<std::mutex> lock(m_sessionsMutex);
    return m_sessions.size();
}

void TcpServerTransport::Run(ConnectionSettings settings)
{
    // One socket for IPv6 and IPv4 clients alike; a system without IPv6
    // listens on IPv4 alone, as before. A chosen local address is listened
    // on alone.
    sockaddr_storage address{};
    int addressLength = 0;
    SOCKET listener = INVALID_SOCKET;
    if (!settings.net.localIp.empty()) {
        addressLength = LocalAddress(settings.net.localIp, settings.port, address);
        if (!addressLength) {
            PostEnd(TransportEventKind::Error, L"Invalid local IP address.");
            return;
        }
        listener = socket(address.ss_family, SOCK_STREAM, IPPROTO_TCP);
    } else {
        bool v6 = false;
        listener = OpenDualStackSocket(SOCK_STREAM, IPPROTO_TCP, v6);
        addressLength = AnyAddress(v6, settings.port, address);
    }
    if (listener == INVALID_SOCKET) {
        PostEnd(TransportEventKind::Error, FormatSocketError(L"TCP listen socket failed"));
        return;
    }
    SocketEvent event;
    if (bind(listener, reinterpret_cast<const sockaddr*>(&address), addressLength) == SOCKET_ERROR ||
        listen(listener, SOMAXCONN) == SOCKET_ERROR || !event.Watch(listener, FD_ACCEPT)) {
        const int error = WSAGetLastError();
        CloseSocket(listener);
        WSASetLastError(error);
        PostEnd(TransportEventKind::Error, FormatSocketError(L"TCP server listen failed"));
        return;
    }

    m_tls.reset();
    if (settings.tls) {
        auto credentials = std::make_shared<TlsCredentials>();
        std::wstring why;
        if (!credentials->ForServer(settings.net.certificateFile, settings.certificatePassword, why)) {
            CloseSocket(listener);
            PostEnd(TransportEventKind::Error, why);
            return;
        }
        m_tls = std::move(credentials);
    }
    Post(TransportEventKind::Status, L"TCP server listening on " + std::to_wstring(unsigned(settings.port)) +
                                         (settings.net.localIp.empty() ? L"" : L" at " + settings.net.localIp) +
                                         (settings.tls ? L" with TLS" : L""));
    for (;;) {
        const Woken woken = WaitForWork(Signals(), event.Get(), kBacklogLookMs);
        if (woken == Woken::Stop)
            break;
        WSANETWORKEVENTS happened;
        if ((woken != Woken::Timeout && !event.Take(listener, happened)) || !AcceptWaiting(listener))
            break;
        // A client reset in the backlog can be gone by the time it is
        // accepted; under Wine the failed accept then leaves the accept
        // event unarmed, and the next client would wait unseen. Selecting
        // again arms it, and signals at once for a client already waiting.
        if (!event.Watch(listener, FD_ACCEPT))
            break;
        SayTurnedAway(false);
    }
    SayTurnedAway(true);
    CloseSocket(listener);
    PostEnd(TransportEventKind::Status, L"TCP server stopped");
}

// Takes every client that is waiting. False when the listening socket itself
// has failed.
bool TcpServerTransport::AcceptWaiting(SOCKET listener)
{
    bool shortageReported = false;
    while (!m_stopRequested) {
        sockaddr_storage peer{};
        int length = sizeof(peer);
        const SOCKET client = accept(listener, reinterpret_cast<sockaddr*>(&peer), &length);
        if (client != INVALID_SOCKET) {
            AddSession(client, peer);
            shortageReported = false;
            continue;
        }
        const int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK)
            return true;
        const bool passing = IsPassingAcceptError(error);
        const bool shortage = error == WSAEMFILE || error == WSAENOBUFS;
        if (!(shortage && shortageReported)) {
            WSASetLastError(error);
            Post(TransportEventKind::Error, FormatSocketError(L"TCP accept failed"), {}, {}, !passing);
        }
        if (!passing)
            return false;
        if (shortage) {
            shortageReported = true; // once, not every pause
            if (WaitForWork(WorkSignals{Signals().stop, nullptr}, HANDLE(nullptr), kShortagePauseMs) == Woken::Stop)
                return true;
        }
    }
    return true;
}

bool TcpServerTransport::Disconnect(uint32_t clientId)
{
    std::shared_ptr<ClientSession> session;
    {
        std::lock_guard<std::mutex> lock(m_sessionsMutex);
        const auto found = std::find_if(m_sessions.begin(), m_sessions.end(),
                                        [&](const std::shared_ptr<ClientSession>& s) { return s->Id() == clientId; });
        if (found == m_sessions.end())
            return false;
        session = *found;
        m_sessions.erase(found);
    }
    session->Close(L" (by you)"); // outside the lock: it waits for the session's thread
    return true;
}

void TcpServerTransport::AddSession(SOCKET client, const sockaddr_storage& address)
{
    PruneSessions();
    if (SessionCount() >= m_options.maxClients) {
        TurnAway(client);
        return;
    }
    auto session = std::make_shared<ClientSession>(client, FormatEndpoint(reinterpret_cast<const sockaddr*>(&address)),
                                                   g_nextClientId++, Signals().stop, Budget(), m_tls);
    session->m_side = m_side;
    {
        std::lock_guard<std::mutex> lock(m_sessionsMutex);
        m_sessions.push_back(session);
    }
    if (!session->Start(m_notifyWnd)) {
        // No thread for this client: it is closed and forgotten.
        std::lock_guard<std::mutex> lock(m_sessionsMutex);
        m_sessions.erase(std::remove(m_sessions.begin(), m_sessions.end(), session), m_sessions.end());
    }
    PruneSessions();
}

void TcpServerTransport::TurnAway(SOCKET client)
{
    // A reset, not a close: the client learns at once that it was not served.
    linger abort{1, 0};
    setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof(abort));
    closesocket(client);
    ++m_turnedAway;
    SayTurnedAway(false);
}

void TcpServerTransport::SayTurnedAway(bool now)
{
    if (!m_turnedAway || (!now && GetTickCount64() - m_turnedAwaySaid < 1000))
        return;
    Post(TransportEventKind::Error, std::to_wstring(m_turnedAway) + (m_turnedAway == 1 ? L" client was" : L" clients were") +
                                        L" turned away: the server serves " + std::to_wstring(m_options.maxClients) +
                                        L" at most.");
    m_turnedAway = 0;
    m_turnedAwaySaid = GetTickCount64();
}

void TcpServerTransport::PruneSessions()
{
    std::lock_guard<std::mutex> lock(m_sessionsMutex);
    m_sessions.erase(std::remove_if(m_sessions.begin(), m_sessions.end(),
                                    [](const std::shared_ptr<ClientSession>& s) { return !s->IsRunning(); }),
                     m_sessions.end());
}
