#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/SerialLines.h"
#include "engine/Transport.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class LinkKind { TcpClient, TcpServer, Udp, Serial };

// Serial wins over UDP, UDP over the server, the server over the client.
LinkKind LinkKindFor(const ConnectionSettings& settings);

// A TCP client or a serial port that is lost is tried again when asked to.
inline bool Reconnects(LinkKind kind, bool reconnect)
{
    return reconnect && (kind == LinkKind::TcpClient || kind == LinkKind::Serial);
}

// How a link runs besides its settings, fixed for a run.
struct LinkOptions {
    // A TCP client or a serial port that is lost is tried again until it is
    // back or the link is stopped.
    bool reconnect = false;
    // A serial port cuts its lines itself (true), or posts each read for the
    // log's framing to cut.
    bool serialCutsLines = true;
    // A server closes a connection past this many clients at once.
    size_t maxClients = 4096;
};

// What the controller holds: one link of any kind, started on a worker of
// its own, stopped from the interface thread, fed one payload at a time.
// A payload is said to be sent (a Sent event) once the link has written it.
class Link : public TransportBase {
public:
    virtual ~Link() = default;

    // Stops whatever ran, then starts anew; every outcome comes as events.
    virtual void Start(HWND notifyWnd, const ConnectionSettings& settings, const LinkOptions& options) = 0;
    void Start(HWND notifyWnd, const ConnectionSettings& settings) { Start(notifyWnd, settings, LinkOptions{}); }
    // Returns when every thread of the link has ended. Safe at any time.
    virtual void Stop() = 0;
    // To the link's peer, or every client of a server.
    virtual SendResult Send(OutgoingPtr payload) = 0;
    // To one peer: a server's client by its id, a listener's sender by the
    // text its datagrams name it by ("192.0.2.1:5000").
    virtual SendResult SendTo(uint32_t /*clientId*/, const std::wstring& /*peer*/, OutgoingPtr /*payload*/)
    {
        return SendResult::Refused;
    }
    // A serial port's DTR or RTS set, cleared or pulsed, or a Break sent;
    // Refused by every other link and by a port that is not open. The
    // outcome comes as an event.
    virtual SendResult ChangeLine(const LineControl& /*control*/) { return SendResult::Refused; }
    // Closes one client of a server; false for an id no session has.
    virtual bool DisconnectClient(uint32_t /*clientId*/) { return false; }
    // Bytes handed to Send that wait to be written (the largest of a
    // server's clients); a file is fed no faster than the link drains it.
    virtual size_t QueuedBytes() { return 0; }

protected:
    LinkOptions m_options;
};

std::unique_ptr<Link> MakeLink(LinkKind kind);
