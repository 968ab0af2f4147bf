#include "engine/TcpClientTransport.h"

#include <algorithm>

namespace {

constexpr int kConnectWaitMs = 3000;
// The connect wait is cut into slices so that Stop is noticed quickly.
constexpr int kConnectSliceMs = 50;
constexpr int kReceiveBufferSize = 8192;

bool IsConnectPending(int error)
{
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS || error == WSAEINVAL;
}

} // namespace

void TcpClientTransport::Start(HWND notifyWnd, const ConnectionSettings& settings)
{
    Stop();
    StartWorker(notifyWnd, [this, settings] { Run(settings); });
}

void TcpClientTransport::Stop()
{
    RequestStop();
    CloseSocketOnce(m_socket, true);
    JoinWorker();
    std::lock_guard<std::mutex> lock(m_sendMutex);
    m_sendQueue.clear();
}

bool TcpClientTransport::QueueSend(const std::vector<uint8_t>& payload)
{
    std::lock_guard<std::mutex> lock(m_sendMutex);
    if (!m_running)
        return false;
    m_sendQueue.push_back(payload);
    return true;
}

void TcpClientTransport::Run(ConnectionSettings settings)
{
    PostTransportEvent(*this, TransportEventKind::Status, L"TCP client connecting...");

    addrinfoW hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    const std::wstring service = std::to_wstring(settings.port);
    addrinfoW* addresses = nullptr;
    if (GetAddrInfoW(settings.ip.c_str(), service.c_str(), &hints, &addresses) != 0) {
        m_running = false;
        PostTransportEvent(*this, TransportEventKind::Error, L"Invalid IP address.");
        return;
    }

    bool connected = false;
    for (addrinfoW* a = addresses; a && m_running && !connected; a = a->ai_next)
        connected = ConnectOne(*a);
    const int lastError = WSAGetLastError();
    FreeAddrInfoW(addresses);

    if (!connected) {
        CloseSocketOnce(m_socket, false);
        m_running = false;
        WSASetLastError(lastError);
        PostTransportEvent(*this, TransportEventKind::Error, FormatSocketError(L"TCP connect failed"));
        return;
    }

    PostTransportEvent(*this, TransportEventKind::Status, L"TCP client connected");
    ReceiveLoop(settings);

    CloseSocketOnce(m_socket, false);
    m_running = false;
    PostTransportEvent(*this, TransportEventKind::Status, L"TCP client disconnected");
}

// Leaves the socket in m_socket when connected. On failure the thread's last
// socket error says why.
bool TcpClientTransport::ConnectOne(const addrinfoW& address)
{
    const SOCKET s = socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == INVALID_SOCKET)
        return false;
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);

    ReplaceSocket(m_socket, s);
    if (!m_running) {
        // Stop ran before the socket was stored and could not close it.
        CloseSocketOnce(m_socket, false);
        return false;
    }

    if (connect(s, address.ai_addr, int(address.ai_addrlen)) == 0)
        return true;
    if (IsConnectPending(WSAGetLastError()) && WaitForConnect(s))
        return true;

    const int error = WSAGetLastError();
    CloseSocketOnce(m_socket, false);
    WSASetLastError(error);
    return false;
}

bool TcpClientTransport::WaitForConnect(SOCKET s)
{
    for (int waited = 0; waited < kConnectWaitMs && m_running; waited += kConnectSliceMs) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval timeout{0, kConnectSliceMs * 1000};
        const int ready = select(0, nullptr, &writable, &failed, &timeout);
        if (ready == SOCKET_ERROR)
            return false;
        if (ready == 0)
            continue;
        int error = 0;
        int size = sizeof(error);
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
            return false;
        if (error == 0)
            return true;
        // Report the reason the connection failed, not the pending state.
        WSASetLastError(error);
        return false;
    }
    WSASetLastError(WSAETIMEDOUT);
    return false;
}

void TcpClientTransport::ReceiveLoop(const ConnectionSettings& settings)
{
    std::vector<uint8_t> buffer(kReceiveBufferSize);
    PendingSend pending;
    const auto post = [&](std::vector<uint8_t> block) {
        std::wstring text = DecodeReceivedText(block.data(), block.size());
        PostTransportEvent(*this, TransportEventKind::Received, std::move(text), settings.ip, std::move(block));
    };
    while (m_running && StreamPass(m_socket.load(), m_sendMutex, m_sendQueue, pending, buffer, post)) {
    }
}
