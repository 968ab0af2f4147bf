#include "engine/TcpServerTransport.h"

#include <algorithm>

namespace {

// After a shortage of sockets or memory the next accept would fail at once
// again: the server waits this long before it tries once more.
constexpr DWORD kShortagePauseMs = 100;

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

ClientSession::ClientSession(SOCKET socket, std::wstring peer, uint32_t id, HANDLE serverStop)
    : TransportBase(serverStop), m_socket(socket), m_peer(std::move(peer))
{
    m_clientId = id;
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
    std::lock_guard<std::mutex> lock(m_sendMutex);
    SendQueue().swap(m_sendQueue);
}

bool ClientSession::QueueSend(const std::vector<uint8_t>& payload)
{
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        if (!m_running)
            return false;
        m_sendQueue.push_back(payload);
    }
    Wake();
    return true;
}

void ClientSession::Run()
{
    Post(TransportEventKind::ClientAdded, L"Client connected", m_peer);
    SocketEvent event;
    StreamEnd end = StreamEnd::Failed;
    int error = 0;
    if (event.Watch(m_socket, FD_READ | FD_WRITE | FD_CLOSE))
        end = RunStream(m_socket, event, Signals(), m_sendMutex, m_sendQueue,
                        [this](std::vector<uint8_t> block) { PostReceived(std::move(block), m_peer); }, &error);
    else
        error = WSAGetLastError();
    {
        // What was queued for a client that has gone will never be written.
        std::lock_guard<std::mutex> lock(m_sendMutex);
        m_running = false;
        m_sendQueue.clear();
    }
    CloseSocket(m_socket);
    if (end == StreamEnd::Stopped)
        m_farewellOwed = true; // Close says it, after the join
    else
        Post(TransportEventKind::ClientRemoved, L"Client disconnected" + StreamEndReason(end, error), m_peer);
}

// ---- TcpServerTransport --------------------------------------------------

void TcpServerTransport::Start(HWND notifyWnd, const ConnectionSettings& settings)
{
    Stop();
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

bool TcpServerTransport::QueueSendToAll(const std::vector<uint8_t>& payload)
{
    std::lock_guard<std::mutex> lock(m_sessionsMutex);
    bool taken = false;
    for (const auto& session : m_sessions)
        taken = session->QueueSend(payload) || taken;
    return taken;
}

bool TcpServerTransport::QueueSendTo(uint32_t clientId, const std::vector<uint8_t>& payload)
{
    std::lock_guard<std::mutex> lock(m_sessionsMutex);
    for (const auto& session : m_sessions)
        if (session->Id() == clientId)
            return session->QueueSend(payload);
    return false;
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
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) {
        PostEnd(TransportEventKind::Error, FormatSocketError(L"TCP listen socket failed"));
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(settings.port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    SocketEvent event;
    if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR ||
        listen(listener, SOMAXCONN) == SOCKET_ERROR || !event.Watch(listener, FD_ACCEPT)) {
        const int error = WSAGetLastError();
        CloseSocket(listener);
        WSASetLastError(error);
        PostEnd(TransportEventKind::Error, FormatSocketError(L"TCP server listen failed"));
        return;
    }

    Post(TransportEventKind::Status, L"TCP server listening on " + std::to_wstring(unsigned(settings.port)));
    while (WaitForWork(Signals(), event.Get()) != Woken::Stop) {
        WSANETWORKEVENTS happened;
        if (!event.Take(listener, happened) || !AcceptWaiting(listener))
            break;
        // A client reset in the backlog can be gone by the time it is
        // accepted; under Wine the failed accept then leaves the accept
        // event unarmed, and the next client would wait unseen. Selecting
        // again arms it, and signals at once for a client already waiting.
        if (!event.Watch(listener, FD_ACCEPT))
            break;
    }
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
    auto session = std::make_shared<ClientSession>(client, FormatEndpoint(reinterpret_cast<const sockaddr*>(&address)),
                                                   g_nextClientId++, Signals().stop);
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

void TcpServerTransport::PruneSessions()
{
    std::lock_guard<std::mutex> lock(m_sessionsMutex);
    m_sessions.erase(std::remove_if(m_sessions.begin(), m_sessions.end(),
                                    [](const std::shared_ptr<ClientSession>& s) { return !s->IsRunning(); }),
                     m_sessions.end());
}
