#include "engine/UdpTransport.h"

#include <mstcpip.h>

#include <cstring>

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace {

// A flood of datagrams must not keep the worker from a stop.
constexpr int kDatagramsPerWake = 64;
constexpr long kSendRoomWaitSeconds = 1;

} // namespace

void UdpTransport::Start(HWND notifyWnd, const ConnectionSettings& settings)
{
    Stop();
    m_listener = settings.isServer == 1; // before the worker: the window reads it too
    StartWorker(notifyWnd, [this, settings] { Run(settings); });
}

void UdpTransport::Stop()
{
    RequestStop();
    JoinWorker();
}

bool UdpTransport::SendNow(const std::vector<uint8_t>& payload)
{
    std::lock_guard<std::mutex> lock(m_sendMutex);
    if (m_socket == INVALID_SOCKET || m_destinationLength == 0)
        return false;
    return SendDatagram(reinterpret_cast<const sockaddr*>(&m_destination), m_destinationLength, payload);
}

bool UdpTransport::SendTo(const std::wstring& peer, const std::vector<uint8_t>& payload)
{
    const size_t colon = peer.rfind(L':');
    if (!m_listener || colon == std::wstring::npos || colon + 1 == peer.size() || peer.size() - colon > 6)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    unsigned long port = 0;
    for (size_t i = colon + 1; i < peer.size(); ++i) {
        if (peer[i] < L'0' || peer[i] > L'9')
            return false;
        port = port * 10 + unsigned(peer[i] - L'0');
    }
    if (port == 0 || port > 65535 || InetPtonW(AF_INET, peer.substr(0, colon).c_str(), &to.sin_addr) != 1)
        return false;
    to.sin_port = htons(uint16_t(port));
    std::lock_guard<std::mutex> lock(m_sendMutex);
    if (m_socket == INVALID_SOCKET)
        return false;
    return SendDatagram(reinterpret_cast<const sockaddr*>(&to), int(sizeof(to)), payload);
}

bool UdpTransport::SendDatagram(const sockaddr* to, int length, const std::vector<uint8_t>& payload)
{
    // The listener's destination is the any-address. Windows refuses to send
    // there; other stacks deliver it to this very socket. Refuse it alike.
    if (reinterpret_cast<const sockaddr_in*>(to)->sin_addr.s_addr == htonl(INADDR_ANY))
        return false;
    const auto sendOnce = [&] {
        return sendto(m_socket, reinterpret_cast<const char*>(payload.data()), int(payload.size()), 0, to,
                      length) != SOCKET_ERROR;
    };
    if (sendOnce())
        return true;
    // The socket is non-blocking (its receive event makes it so): a burst
    // that fills its buffer waits for room, as a blocking send would.
    if (WSAGetLastError() != WSAEWOULDBLOCK)
        return false;
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(m_socket, &writable);
    timeval timeout{kSendRoomWaitSeconds, 0};
    return select(0, nullptr, &writable, nullptr, &timeout) > 0 && sendOnce();
}

void UdpTransport::SetSocket(SOCKET s, const sockaddr_in* destination)
{
    std::lock_guard<std::mutex> lock(m_sendMutex);
    m_socket = destination ? s : INVALID_SOCKET;
    m_destination = {};
    m_destinationLength = 0;
    if (destination) {
        memcpy(&m_destination, destination, sizeof(*destination));
        m_destinationLength = int(sizeof(*destination));
    }
}

void UdpTransport::Answer(const sockaddr_storage& sender, int length)
{
    if (!m_listener || length <= 0 || length > int(sizeof(sender)))
        return;
    std::lock_guard<std::mutex> lock(m_sendMutex);
    if (m_socket == INVALID_SOCKET)
        return;
    memcpy(&m_destination, &sender, size_t(length));
    m_destinationLength = length;
}

// A start that fails ends without "UDP stopped": the error is its only word.
void UdpTransport::FailStart(SOCKET& s, const std::wstring& message)
{
    CloseSocket(s);
    PostEnd(TransportEventKind::Error, message);
}

void UdpTransport::Run(ConnectionSettings settings)
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        FailStart(s, FormatSocketError(L"UDP socket failed"));
        return;
    }
    // An ICMP "port unreachable" for an earlier datagram is no reason to stop
    // listening: turn that report off where the platform offers it.
    BOOL reportReset = FALSE;
    DWORD returned = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &reportReset, sizeof(reportReset), nullptr, 0, &returned, nullptr, nullptr);

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(settings.isServer == 1 ? settings.port : uint16_t(0));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == SOCKET_ERROR) {
        FailStart(s, FormatSocketError(L"UDP bind failed"));
        return;
    }

    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(settings.port);
    if (settings.isServer == 0 && InetPtonW(AF_INET, settings.ip.c_str(), &destination.sin_addr) != 1) {
        FailStart(s, L"Invalid UDP destination IP address.");
        return;
    }
    SocketEvent event;
    if (!event.Watch(s, FD_READ)) {
        FailStart(s, FormatSocketError(L"UDP socket failed"));
        return;
    }
    SetSocket(s, &destination);
    Post(TransportEventKind::Status, settings.isServer == 1 ? L"UDP listener started" : L"UDP client ready");

    if (!ReceiveUntilStopped(s, event)) {
        Post(TransportEventKind::Error, FormatSocketError(L"UDP receive failed"), {}, {}, true);
        PostEnd(TransportEventKind::Status, L"UDP stopped");
        // The socket outlives the receiving: sends still go out until Stop.
        WaitForWork(WorkSignals{Signals().stop, nullptr}, HANDLE(nullptr));
    } else {
        PostEnd(TransportEventKind::Status, L"UDP stopped");
    }
    SetSocket(INVALID_SOCKET, nullptr);
    CloseSocket(s);
}

// True when stopped; false when a receive failed, with its error as the
// thread's last socket error.
bool UdpTransport::ReceiveUntilStopped(SOCKET s, SocketEvent& event)
{
    std::vector<uint8_t> buffer(size_t(m_receiveBufferSize), 0);
    while (WaitForWork(WorkSignals{Signals().stop, nullptr}, event.Get()) != Woken::Stop) {
        WSANETWORKEVENTS happened;
        if (!event.Take(s, happened))
            return false;
        for (int i = 0; i < kDatagramsPerWake; ++i) {
            sockaddr_storage sender{};
            int senderLength = sizeof(sender);
            const int received = recvfrom(s, reinterpret_cast<char*>(buffer.data()), int(buffer.size()), 0,
                                          reinterpret_cast<sockaddr*>(&sender), &senderLength);
            if (received == SOCKET_ERROR) {
                const int error = WSAGetLastError();
                if (error == WSAEWOULDBLOCK)
                    break;
                if (error == WSAECONNRESET)
                    continue;
                if (error == WSAEMSGSIZE) {
                    // The buffer is full of its start; the rest is gone.
                    Answer(sender, senderLength);
                    PostReceived(buffer, FormatEndpoint(reinterpret_cast<const sockaddr*>(&sender)), 1);
                    continue;
                }
                WSASetLastError(error);
                return false;
            }
            Answer(sender, senderLength);
            PostReceived(std::vector<uint8_t>(buffer.begin(), buffer.begin() + received),
                         FormatEndpoint(reinterpret_cast<const sockaddr*>(&sender)));
        }
    }
    return true;
}
