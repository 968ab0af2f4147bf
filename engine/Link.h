#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/Transport.h"

#include <cstdint>
#include <memory>
#include <vector>

enum class LinkKind { TcpClient, TcpServer, Udp, Serial };

// Serial wins over UDP, UDP over the server, the server over the client.
LinkKind LinkKindFor(const ConnectionSettings& settings);

// What the controller holds: one link of any kind, started on a worker of
// its own, stopped from the interface thread, fed one payload at a time.
class Link : public TransportBase {
public:
    virtual ~Link() = default;

    // Stops whatever ran, then starts anew; every outcome comes as events.
    virtual void Start(HWND notifyWnd, const ConnectionSettings& settings) = 0;
    // Returns when every thread of the link has ended. Safe at any time.
    virtual void Stop() = 0;
    // True when the payload was queued or sent.
    virtual bool Send(const std::vector<uint8_t>& payload) = 0;
    // Bytes handed to Send that wait to be written (the largest of a
    // server's clients); a file is fed no faster than the link drains it.
    virtual size_t QueuedBytes() { return 0; }
    // Before Start: a TCP client or a serial port that is lost is tried
    // again until it is back or the link is stopped.
    void SetReconnect(bool reconnect) { m_reconnect = reconnect; }

protected:
    bool m_reconnect = false;
};

std::unique_ptr<Link> MakeLink(LinkKind kind);
