#include "engine/TcpServerTransport.h"

#include <algorithm>

namespace {

// Accept waits in slices so that Stop is seen even where closing the
// listening socket does not wake a blocked accept.
constexpr long kAcceptSliceUs = 50000;
constexpr int kReceiveBufferSize = 8192;

} // namespace

// ---- ClientSession --------------------------------------------------------

bool ClientSession::Start(HWND notifyWnd)
{
    return StartWorker(notifyWnd, [this] { Run(); },
                       L"Could not start a thread for client " + m_peer + L"; it was disconnected.");
}

void ClientSession::Close()
{
    RequestStop();
    CloseSocketOnce(m_socket, true);
    JoinWorker();
    std::lock_guard<std::mutex> lock(m_sendMutex);
    SendQueue().swap(m_sendQueue);
}

bool ClientSession::QueueSend(const std::vector<uint8_t>& payload)
{
    std::lock_guard<std::mutex> lock(m_sendMutex);
    if (!m_running)
        return false;
    m_sendQueue.push_back(payload);
    return true;
}

void ClientSession::Run()
{
    PostTransportEvent(*this, TransportEventKind::ClientAdded, L"Client connected", m_peer);
    std::vector<uint8_t> buffer(kReceiveBufferSize, 0);
    PendingSend pending;
    const auto post = [this](std::vector<uint8_t> block) {
        std::wstring text = DecodeReceivedText(block.data(), block.size());
        PostTransportEvent(*this, TransportEventKind::Received, std::move(text), m_peer, std::move(block));
    };
    while (m_running && StreamPass(m_socket.load(), m_sendMutex, m_sendQueue, pending, buffer, post)) {
    }
    m_running = false;
    CloseSocketOnce(m_socket, false);
    PostTransportEvent(*this, TransportEventKind::ClientRemoved, L"Client disconnected", m_peer);
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
    CloseSocketOnce(m_listenSocket, true);
    JoinWorker();
    std::lock_guard<std::mutex> lock(m_sessionsMutex);
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

size_t TcpServerTransport::SessionCount()
{
    std::lock_guard<std::mutex> lock(m_sessionsMutex);
    return m_sessions.size();
}

void TcpServerTransport::Run(ConnectionSettings settings)
{
    const SOCKET listener = OpenStoredSocket(m_listenSocket, SOCK_STREAM, IPPROTO_TCP, m_stopRequested);
    if (listener == INVALID_SOCKET) {
        m_running = false;
        PostTransportEvent(*this, TransportEventKind::Error, FormatSocketError(L"TCP listen socket failed"));
        return;
    }
    int reuse = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(settings.port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR ||
        listen(listener, SOMAXCONN) == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        m_running = false;
        WSASetLastError(error);
        PostTransportEvent(*this, TransportEventKind::Error, FormatSocketError(L"TCP server listen failed"));
        return;
    }

    PostTransportEvent(*this, TransportEventKind::Status,
                       L"TCP server listening on " + std::to_wstring(unsigned(settings.port)));

    while (m_running) {
        if (!WaitForClient())
            continue;
        sockaddr_storage peer{};
        int length = sizeof(peer);
        const SOCKET client = accept(listener, reinterpret_cast<sockaddr*>(&peer), &length);
        if (client == INVALID_SOCKET) {
            if (m_running)
                PostTransportEvent(*this, TransportEventKind::Error, FormatSocketError(L"TCP accept failed"));
            break;
        }
        AddSession(client, peer);
    }
    m_running = false;
    PostTransportEvent(*this, TransportEventKind::Status, L"TCP server stopped");
}

// True when a client is waiting (or the socket failed, which accept reports).
bool TcpServerTransport::WaitForClient()
{
    const SOCKET listener = m_listenSocket.load();
    if (listener == INVALID_SOCKET)
        return true;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    timeval timeout{0, kAcceptSliceUs};
    return select(0, &readable, nullptr, nullptr, &timeout) != 0;
}

void TcpServerTransport::AddSession(SOCKET client, const sockaddr_storage& address)
{
    auto session = std::make_shared<ClientSession>(client, FormatEndpoint(reinterpret_cast<const sockaddr*>(&address)));
    u_long nonBlocking = 1;
    ioctlsocket(client, FIONBIO, &nonBlocking);
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
