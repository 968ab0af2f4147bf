#include "engine/TcpClientTransport.h"

#include "engine/TlsSession.h"

#include <algorithm>
#include <memory>

namespace {

constexpr DWORD kConnectWaitMs = 3000;
constexpr long kStreamEvents = FD_READ | FD_WRITE | FD_CLOSE;

} // namespace

void TcpClientTransport::Start(HWND notifyWnd, const ConnectionSettings& settings, const LinkOptions& options)
{
    Stop();
    m_options = options;
    m_sendQueue.Open(); // what is sent while it connects leaves once connected
    StartWorker(notifyWnd, [this, settings] { Run(settings); });
}

void TcpClientTransport::Stop()
{
    RequestStop();
    JoinWorker();
    m_sendQueue.Close(); // the worker said what it dropped
}

SendResult TcpClientTransport::Send(OutgoingPtr payload)
{
    if (!m_running)
        return SendResult::Refused;
    const SendResult result = m_sendQueue.Push(std::move(payload));
    if (result == SendResult::Queued)
        Wake();
    return result;
}

void TcpClientTransport::Run(ConnectionSettings settings)
{
    Post(TransportEventKind::Status, L"TCP client connecting...");

    addrinfoW hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    const std::wstring service = std::to_wstring(settings.port);
    addrinfoW* addresses = nullptr;
    if (GetAddrInfoW(settings.ip.c_str(), service.c_str(), &hints, &addresses) != 0) {
        PostEnd(TransportEventKind::Error, L"Invalid IP address.");
        return;
    }
    sockaddr_storage local{};
    if (!settings.net.localIp.empty() && !LocalAddress(settings.net.localIp, 0, local)) {
        FreeAddrInfoW(addresses);
        PostEnd(TransportEventKind::Error, L"Invalid local IP address.");
        return;
    }

    TlsCredentials credentials;
    std::wstring tlsError;
    if (settings.tls && !credentials.ForClient(tlsError)) {
        FreeAddrInfoW(addresses);
        PostEnd(TransportEventKind::Error, tlsError);
        return;
    }

    // With Reconnect, a refused or timed-out connect, a failed handshake and
    // a lost connection are tried again after 1, 2, 4 ... 30 s, until
    // connected or stopped.
    uint32_t waitSeconds = 1;
    for (;;) {
        SocketEvent event;
        std::wstring failed = L"TCP connect failed";
        SOCKET s = Connect(addresses, event, settings, failed);
        std::wstring why = s == INVALID_SOCKET ? FormatSocketError(failed) : std::wstring();
        std::unique_ptr<TlsStream> tls;
        if (s != INVALID_SOCKET && settings.tls) {
            Post(TransportEventKind::Status, L"TCP client connected");
            tls = std::make_unique<TlsStream>(credentials);
            if (tls->Handshake(s, event, Signals().stop, settings.ip, settings.net.acceptAnyCertificate, why))
                PostNote(L"TLS: " + tls->Summary());
            else
                CloseSocket(s);
        }
        if (s == INVALID_SOCKET) {
            if (m_stopRequested || !m_options.reconnect) {
                PostDropped(m_sendQueue.Close(), L"the connection failed");
                if (tls && m_stopRequested) // a stop in the handshake is no failure
                    PostEnd(TransportEventKind::Status, L"TCP client disconnected");
                else
                    PostEnd(TransportEventKind::Error, why);
                break;
            }
            Post(TransportEventKind::Error, why);
        } else {
            m_sendQueue.Open();
            waitSeconds = 1;
            if (!tls)
                Post(TransportEventKind::Status, L"TCP client connected");
            int error = 0;
            uint64_t dropped = 0;
            StreamHooks hooks;
            hooks.onBlock = [&](std::vector<uint8_t> block) { PostReceived(std::move(block), settings.ip); };
            hooks.onSent = [&](const OutgoingPtr& payload, size_t written) { PostSent(payload, written, settings.ip); };
            hooks.onDropped = [&](uint64_t bytes) { PostDropped(bytes, FormatSocketError(L"the send failed")); };
            hooks.io = tls.get();
            const StreamEnd end = RunStream(s, event, *this, m_sendQueue, hooks, &error, &dropped);
            if (tls && end == StreamEnd::Stopped)
                tls->Close(s);
            const std::wstring ended = L"TCP client disconnected" + StreamEndReason(end, error);
            if (end == StreamEnd::Stopped || !m_options.reconnect) {
                CloseSocket(s);
                PostDropped(dropped + m_sendQueue.Close(), L"the link closed");
                PostEnd(TransportEventKind::Status, ended);
                break;
            }
            PostDropped(dropped, L"the connection was lost");
            GoDown(L"the connection was lost"); // before anything more can be queued for the dead socket
            CloseSocket(s);
            PostLost(TransportEventKind::Status, ended);
        }
        if (!WaitToReconnect(waitSeconds)) {
            m_sendQueue.Close();
            PostEnd(TransportEventKind::Status, L"TCP client disconnected");
            break;
        }
        waitSeconds = std::min<uint32_t>(30, waitSeconds * 2);
    }
    FreeAddrInfoW(addresses);
}

SOCKET TcpClientTransport::Connect(const addrinfoW* addresses, SocketEvent& event,
                                   const ConnectionSettings& settings, std::wstring& failed)
{
    SOCKET s = INVALID_SOCKET;
    for (const addrinfoW* a = addresses; a && s == INVALID_SOCKET && !m_stopRequested; a = a->ai_next)
        s = ConnectOne(*a, event, settings, failed);
    if (m_stopRequested && s == INVALID_SOCKET)
        WSASetLastError(WSAEINTR);
    return s;
}

void TcpClientTransport::GoDown(const wchar_t* why)
{
    PostDropped(m_sendQueue.Close(), why);
}

bool TcpClientTransport::WaitToReconnect(uint32_t seconds)
{
    GoDown(L"the connection failed");
    Post(TransportEventKind::Status, L"Reconnecting in " + std::to_wstring(seconds) + L" s\u2026");
    if (WaitForWork(WorkSignals{Signals().stop, nullptr}, HANDLE(nullptr), seconds * 1000) == Woken::Stop)
        return false;
    Post(TransportEventKind::Status, L"Reconnecting\u2026");
    return true;
}

// The connected socket, watched by `event`; INVALID_SOCKET on failure, with
// the reason as the thread's last socket error.
SOCKET TcpClientTransport::ConnectOne(const addrinfoW& address, SocketEvent& event,
                                      const ConnectionSettings& settings, std::wstring& failed)
{
    SOCKET s = socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == INVALID_SOCKET)
        return INVALID_SOCKET;
    // A chosen local address or port (a device that answers one source port
    // only); otherwise the system picks both as it connects.
    sockaddr_storage local{};
    const int localLength = settings.net.localIp.empty()
                          ? (settings.net.localPort ? AnyAddress(address.ai_family == AF_INET6, settings.net.localPort, local) : 0)
                          : LocalAddress(settings.net.localIp, settings.net.localPort, local);
    if (settings.net.localPort) {
        // Reconnecting from the same port must not wait out the last
        // connection's TIME_WAIT.
        const BOOL reuse = TRUE;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse));
    }
    if (localLength && local.ss_family != address.ai_family) {
        CloseSocket(s);
        failed = L"TCP bind failed";
        WSASetLastError(WSAEAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    if (!BindLocal(s, local, localLength)) {
        const int error = WSAGetLastError();
        CloseSocket(s);
        failed = L"TCP bind failed";
        WSASetLastError(error);
        return INVALID_SOCKET;
    }
    // Watching makes the socket non-blocking, so the connect can be waited
    // for together with a stop.
    if (event.Watch(s, FD_CONNECT | kStreamEvents)) {
        if (connect(s, address.ai_addr, int(address.ai_addrlen)) == 0)
            return s;
        const int error = WSAGetLastError();
        if ((error == WSAEWOULDBLOCK || error == WSAEINPROGRESS) && WaitForConnect(s, event))
            return s;
    }
    const int error = WSAGetLastError();
    CloseSocket(s);
    WSASetLastError(error);
    return INVALID_SOCKET;
}

bool TcpClientTransport::WaitForConnect(SOCKET s, SocketEvent& event)
{
    const ULONGLONG deadline = GetTickCount64() + kConnectWaitMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? DWORD(deadline - now) : 0;
        switch (WaitForWork(WorkSignals{Signals().stop, nullptr}, event.Get(), left)) {
        case Woken::Stop:
            WSASetLastError(WSAEINTR);
            return false;
        case Woken::Timeout:
            WSASetLastError(WSAETIMEDOUT);
            return false;
        case Woken::Wake: // not waited for here
            continue;
        case Woken::Handle:
            break;
        }
        WSANETWORKEVENTS happened;
        if (!event.Take(s, happened))
            return false;
        if (!(happened.lNetworkEvents & FD_CONNECT))
            continue;
        const int error = happened.iErrorCode[FD_CONNECT_BIT];
        // Report why the connection failed, not the pending state.
        WSASetLastError(error);
        return error == 0;
    }
}
