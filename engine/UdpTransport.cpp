#include "engine/UdpTransport.h"

#include <mstcpip.h>

#include <cstring>

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

void UdpTransport::Start(HWND notifyWnd, const ConnectionSettings& settings)
{
    Stop();
    StartWorker(notifyWnd, [this, settings] { Run(settings); });
}

void UdpTransport::Stop()
{
    RequestStop();
    CloseSocketOnce(m_socket, false);
    JoinWorker();
    // The next start opens its socket before it knows its destination; until
    // then no send may go where this run pointed.
    SetDestination(nullptr);
}

bool UdpTransport::SendNow(const std::vector<uint8_t>& payload)
{
    std::lock_guard<std::mutex> lock(m_sendMutex);
    const SOCKET s = m_socket.load();
    if (s == INVALID_SOCKET || m_destinationLength == 0)
        return false;
    // The listener's destination is the any-address. Windows refuses to send
    // there; other stacks deliver it to this very socket. Refuse it alike.
    if (reinterpret_cast<const sockaddr_in&>(m_destination).sin_addr.s_addr == htonl(INADDR_ANY))
        return false;
    return sendto(s, reinterpret_cast<const char*>(payload.data()), int(payload.size()), 0,
                  reinterpret_cast<const sockaddr*>(&m_destination), m_destinationLength) != SOCKET_ERROR;
}

// Null clears it: a failed start must not leave an earlier destination in
// force, or sends would quietly go where the previous start pointed.
void UdpTransport::SetDestination(const sockaddr_in* destination)
{
    std::lock_guard<std::mutex> lock(m_sendMutex);
    m_destination = {};
    m_destinationLength = 0;
    if (destination) {
        memcpy(&m_destination, destination, sizeof(*destination));
        m_destinationLength = int(sizeof(*destination));
    }
}

// A start that fails ends without "UDP stopped": the error is its only word.
void UdpTransport::FailStart(const std::wstring& message)
{
    SetDestination(nullptr);
    m_running = false;
    PostTransportEvent(*this, TransportEventKind::Error, message);
}

void UdpTransport::Run(ConnectionSettings settings)
{
    const SOCKET s = OpenStoredSocket(m_socket, SOCK_DGRAM, IPPROTO_UDP, m_stopRequested);
    if (s == INVALID_SOCKET) {
        FailStart(FormatSocketError(L"UDP socket failed"));
        return;
    }
    DWORD timeoutMs = 200;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
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
        FailStart(FormatSocketError(L"UDP bind failed"));
        return;
    }

    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(settings.port);
    if (settings.isServer == 0 && InetPtonW(AF_INET, settings.ip.c_str(), &destination.sin_addr) != 1) {
        FailStart(L"Invalid UDP destination IP address.");
        return;
    }
    SetDestination(&destination);
    PostTransportEvent(*this, TransportEventKind::Status,
                       settings.isServer == 1 ? L"UDP listener started" : L"UDP client ready");

    std::vector<uint8_t> buffer(kReceiveBufferSize, 0);
    bool failed = false;
    int receiveError = 0;
    while (m_running) {
        sockaddr_storage sender{};
        int senderLength = sizeof(sender);
        const int received = recvfrom(s, reinterpret_cast<char*>(buffer.data()), kReceiveBufferSize, 0,
                                      reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (received == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            if (error == WSAETIMEDOUT || error == WSAECONNRESET)
                continue;
            failed = true;
            receiveError = error;
            break;
        }
        std::vector<uint8_t> datagram(buffer.begin(), buffer.begin() + received);
        std::wstring text = DecodeReceivedText(datagram.data(), datagram.size());
        PostTransportEvent(*this, TransportEventKind::Received, std::move(text),
                           FormatEndpoint(reinterpret_cast<const sockaddr*>(&sender)), std::move(datagram));
    }
    if (failed && m_running) {
        WSASetLastError(receiveError);
        PostTransportEvent(*this, TransportEventKind::Error, FormatSocketError(L"UDP receive failed"));
    }
    m_running = false;
    PostTransportEvent(*this, TransportEventKind::Status, L"UDP stopped");
}
