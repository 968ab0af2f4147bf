#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/Link.h"
#include "engine/SocketUtil.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// One IPv4 datagram socket on a worker thread. As a listener it binds the
// port and answers: it sends to whoever sent the last datagram. As a client
// it binds any port and sends to the given address. Datagrams are queued
// and written by the worker, so a full socket never holds up the caller.
class UdpTransport : public Link {
public:
    // Holds the largest datagram.
    static constexpr int kReceiveBufferSize = 65536;

    UdpTransport() = default;
    ~UdpTransport() override { Stop(); }

    using Link::Start;
    void Start(HWND notifyWnd, const ConnectionSettings& settings, const LinkOptions& options) override;
    void Stop() override;
    // One datagram to the destination (a listener's: the last sender).
    SendResult Send(OutgoingPtr payload) override;
    // A listener's datagram to one sender, named as its datagrams name it
    // ("192.0.2.1:5000"); refused for another text or a stopped link.
    SendResult SendTo(uint32_t clientId, const std::wstring& peer, OutgoingPtr payload) override;
    bool SendNow(const std::vector<uint8_t>& payload) { return Send(MakeOutgoing(payload)) == SendResult::Queued; }
    bool SendTo(const std::wstring& peer, const std::vector<uint8_t>& payload)
    {
        return SendTo(0, peer, MakeOutgoing(payload)) == SendResult::Queued;
    }
    size_t QueuedBytes() override { return m_sendQueue.Bytes(); }
    // Before Start. Tests make it small to cut a datagram short, which the
    // full size never does.
    void SetReceiveBufferSize(int size) { m_receiveBufferSize = size; }

private:
    void Run(ConnectionSettings settings);
    bool ServeUntilStopped(SOCKET s, SocketEvent& event);
    // Receives what is there; false when the socket failed. `more`: it
    // stopped before the socket ran dry.
    bool ReceiveWaiting(SOCKET s, std::vector<uint8_t>& buffer, bool& more);
    // Writes what is queued until the socket is full.
    void WriteQueued(SOCKET s);
    // Null clears both: then nothing can be sent.
    void SetSocket(SOCKET s, const sockaddr_in* destination);
    SendResult Queue(OutgoingPtr payload, const sockaddr* to, int length);
    void FailStart(SOCKET& s, const std::wstring& message);
    // A client sending to a group: its TTL, whether its own datagrams come
    // back to this machine, and the adapter they leave by.
    static bool SetMulticastSending(SOCKET s, const ConnectionSettings& settings, in_addr adapter);

    // The destination becomes each datagram's sender.
    void Answer(const sockaddr_storage& sender, int length);

    int m_receiveBufferSize = kReceiveBufferSize;
    bool m_listener = false;
    std::mutex m_destinationMutex; // guards the socket's presence and the destination
    bool m_ready = false;
    sockaddr_storage m_destination{};
    int m_destinationLength = 0;
    SendQueue m_sendQueue;
    OutgoingPtr m_pending; // the worker's: refused by a full socket, goes first
};
