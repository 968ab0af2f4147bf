#include "engine/UdpTransport.h"

#include <mstcpip.h>

#include <cstring>

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace {

// A flood of datagrams must not keep the worker from a stop or its sends.
constexpr int kDatagramsPerWake = 64;

} // namespace

void UdpTransport::Start(HWND notifyWnd, const ConnectionSettings& settings, const LinkOptions& options)
{
    Stop();
    m_options = options;
    m_listener = settings.isServer == 1; // before the worker: the window reads it too
    StartWorker(notifyWnd, [this, settings] { Run(settings); });
}

void UdpTransport::Stop()
{
    RequestStop();
    JoinWorker();
    m_sendQueue.Close();
}

SendResult UdpTransport::Queue(OutgoingPtr payload, const sockaddr* to, int length)
{
    // The listener's destination is the any-address. Windows refuses to send
    // there; other stacks deliver it to this very socket. Refuse it alike.
    if (reinterpret_cast<const sockaddr_in*>(to)->sin_addr.s_addr == htonl(INADDR_ANY))
        return SendResult::Refused;
    const auto* bytes = reinterpret_cast<const uint8_t*>(to);
    payload->address.assign(bytes, bytes + length);
    const SendResult result = m_sendQueue.Push(std::move(payload));
    if (result == SendResult::Queued)
        Wake();
    return result;
}

SendResult UdpTransport::Send(OutgoingPtr payload)
{
    std::lock_guard<std::mutex> lock(m_destinationMutex);
    if (!m_ready || m_destinationLength == 0)
        return SendResult::Refused;
    return Queue(std::move(payload), reinterpret_cast<const sockaddr*>(&m_destination), m_destinationLength);
}

SendResult UdpTransport::SendTo(uint32_t, const std::wstring& peer, OutgoingPtr payload)
{
    const size_t colon = peer.rfind(L':');
    if (!m_listener || colon == std::wstring::npos || colon + 1 == peer.size() || peer.size() - colon > 6)
        return SendResult::Refused;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    unsigned long port = 0;
    for (size_t i = colon + 1; i < peer.size(); ++i) {
        if (peer[i] < L'0' || peer[i] > L'9')
            return SendResult::Refused;
        port = port * 10 + unsigned(peer[i] - L'0');
    }
    if (port == 0 || port > 65535 || InetPtonW(AF_INET, peer.substr(0, colon).c_str(), &to.sin_addr) != 1)
        return SendResult::Refused;
    to.sin_port = htons(uint16_t(port));
    std::lock_guard<std::mutex> lock(m_destinationMutex);
    if (!m_ready)
        return SendResult::Refused;
    return Queue(std::move(payload), reinterpret_cast<const sockaddr*>(&to), int(sizeof(to)));
}

void UdpTransport::WriteQueued(SOCKET s)
{
    for (;;) {
        if (!m_pending)
            m_pending = m_sendQueue.Pop();
        if (!m_pending)
            return;
        const Outgoing& out = *m_pending;
        const int sent = sendto(s, reinterpret_cast<const char*>(out.bytes.data()), int(out.bytes.size()), 0,
                                reinterpret_cast<const sockaddr*>(out.address.data()), int(out.address.size()));
        if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
            return; // FD_WRITE says when there is room
        if (sent == SOCKET_ERROR)
            PostDropped(out.bytes.size(), FormatSocketError(L"the send failed"));
        else
            PostSent(m_pending, out.bytes.size(),
                     // Only a payload for one peer is shown with its peer.
                     out.tag.toOnePeer ? FormatEndpoint(reinterpret_cast<const sockaddr*>(out.address.data()))
                                       : std::wstring());
        m_pending.reset();
    }
}

void UdpTransport::SetSocket(SOCKET s, const sockaddr_in* destination)
{
    std::lock_guard<std::mutex> lock(m_destinationMutex);
    m_ready = destination && s != INVALID_SOCKET;
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
    std::lock_guard<std::mutex> lock(m_destinationMutex);
    if (!m_ready)
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
    // A destination that is a broadcast address (255.255.255.255 or a
    // subnet's) is refused unless the socket asks for it.
    const BOOL broadcast = TRUE;
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&broadcast), sizeof(broadcast));

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(settings.isServer == 1 ? settings.port : settings.net.localPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!settings.net.localIp.empty() && InetPtonW(AF_INET, settings.net.localIp.c_str(), &local.sin_addr) != 1) {
        FailStart(s, L"Invalid local IP address.");
        return;
    }
    in_addr group{};
    const bool joins = settings.isServer == 1 && !settings.net.multicastGroup.empty();
    if (joins && (InetPtonW(AF_INET, settings.net.multicastGroup.c_str(), &group) != 1 ||
                  !IN_MULTICAST(ntohl(group.s_addr)))) {
        FailStart(s, L"Invalid multicast group address.");
        return;
    }
    // A group's datagrams are addressed to the group, not to the adapter's
    // own address: the listener takes them on every address and names the
    // adapter when it joins. Others on this machine may listen to the group
    // on the same port.
    const in_addr adapter = local.sin_addr;
    if (joins) {
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        const BOOL reuse = TRUE;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse));
    }
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == SOCKET_ERROR) {
        FailStart(s, FormatSocketError(L"UDP bind failed"));
        return;
    }
    ip_mreq membership{};
    membership.imr_multiaddr = group;
    membership.imr_interface = adapter;
    if (joins && setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&membership),
                            sizeof(membership)) == SOCKET_ERROR) {
        FailStart(s, FormatSocketError(L"Multicast join failed"));
        return;
    }

    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(settings.port);
    if (settings.isServer == 0 && InetPtonW(AF_INET, settings.ip.c_str(), &destination.sin_addr) != 1) {
        FailStart(s, L"Invalid UDP destination IP address.");
        return;
    }
    if (settings.isServer == 0 && IN_MULTICAST(ntohl(destination.sin_addr.s_addr)) &&
        !SetMulticastSending(s, settings, adapter)) {
        FailStart(s, FormatSocketError(L"Multicast send options failed"));
        return;
    }
    SocketEvent event;
    if (!event.Watch(s, FD_READ | FD_WRITE)) {
        FailStart(s, FormatSocketError(L"UDP socket failed"));
        return;
    }
    m_sendQueue.Open();
    SetSocket(s, &destination);
    if (joins)
        Post(TransportEventKind::Status, L"Joined multicast group " + settings.net.multicastGroup +
                                             (settings.net.localIp.empty() ? L"" : L" on " + settings.net.localIp));
    Post(TransportEventKind::Status, settings.isServer == 1 ? L"UDP listener started" : L"UDP client ready");

    const bool stopped = ServeUntilStopped(s, event);
    if (!stopped)
        Post(TransportEventKind::Error, FormatSocketError(L"UDP receive failed"), {}, {}, true);
    SetSocket(INVALID_SOCKET, nullptr);
    PostDropped(m_sendQueue.Close() + (m_pending ? m_pending->bytes.size() : 0), L"the link closed");
    m_pending.reset();
    if (joins && setsockopt(s, IPPROTO_IP, IP_DROP_MEMBERSHIP, reinterpret_cast<const char*>(&membership),
                            sizeof(membership)) == 0)
        Post(TransportEventKind::Status, L"Left multicast group " + settings.net.multicastGroup);
    CloseSocket(s);
    PostEnd(TransportEventKind::Status, L"UDP stopped");
}

bool UdpTransport::SetMulticastSending(SOCKET s, const ConnectionSettings& settings, in_addr adapter)
{
    const DWORD ttl = settings.net.multicastTtl;
    const DWORD loopback = settings.net.multicastLoopback ? 1 : 0;
    return setsockopt(s, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&ttl), sizeof(ttl)) == 0 &&
           setsockopt(s, IPPROTO_IP, IP_MULTICAST_LOOP, reinterpret_cast<const char*>(&loopback),
                      sizeof(loopback)) == 0 &&
           (adapter.s_addr == htonl(INADDR_ANY) ||
            setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&adapter), sizeof(adapter)) == 0);
}

// True when stopped; false when a receive failed, with its error as the
// thread's last socket error.
bool UdpTransport::ServeUntilStopped(SOCKET s, SocketEvent& event)
{
    std::vector<uint8_t> buffer(size_t(m_receiveBufferSize), 0);
    bool readAgain = false;
    for (;;) {
        WriteQueued(s);
        const DWORD wait = readAgain ? 0 : INFINITE;
        // A datagram the socket had no room for waits for FD_WRITE, not its moment.
        const Woken woken = WaitForWork(Signals(), event.Get(), m_pending ? wait : m_sendQueue.WaitMs(wait));
        if (woken == Woken::Stop)
            return true;
        WSANETWORKEVENTS happened{};
        if (woken == Woken::Handle && !event.Take(s, happened))
            return false;
        if (woken == Woken::Handle || readAgain) {
            bool more = false;
            if (!ReceiveWaiting(s, buffer, more))
                return false;
            readAgain = more;
        }
    }
}

bool UdpTransport::ReceiveWaiting(SOCKET s, std::vector<uint8_t>& buffer, bool& more)
{
    more = true; // unless the socket says it has nothing
    for (int i = 0; i < kDatagramsPerWake; ++i) {
        sockaddr_storage sender{};
        int senderLength = sizeof(sender);
        const int received = recvfrom(s, reinterpret_cast<char*>(buffer.data()), int(buffer.size()), 0,
                                      reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (received == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK) {
                more = false;
                return true;
            }
            if (error == WSAECONNRESET)
                continue;
            if (error == WSAEMSGSIZE) {
                // The buffer is full of its start; the rest is gone.
                Answer(sender, senderLength);
                if (!DropForBacklog(buffer.size()))
                    PostReceived(buffer, FormatEndpoint(reinterpret_cast<const sockaddr*>(&sender)), 1);
                continue;
            }
            WSASetLastError(error);
            return false;
        }
        Answer(sender, senderLength);
        // Behind: a datagram has no flow control to wait on; it is dropped
        // and counted.
        if (!DropForBacklog(size_t(received)))
            PostReceived(std::vector<uint8_t>(buffer.begin(), buffer.begin() + received),
                         FormatEndpoint(reinterpret_cast<const sockaddr*>(&sender)));
    }
    return true;
}
