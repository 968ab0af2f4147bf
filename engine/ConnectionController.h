#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/Link.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The one place where the window starts, stops and feeds the links.
// Interface thread only.
class ConnectionController {
public:
    ConnectionController() = default;
    ConnectionController(const ConnectionController&) = delete;
    ConnectionController& operator=(const ConnectionController&) = delete;
    ~ConnectionController() { StopAll(); }

    void SetNotifyWindow(HWND wnd) { m_notifyWnd = wnd; }
    // For the next Start: a serial link cuts lines itself (true), or posts
    // each read for the log's framing.
    void SetSerialLines(bool cut) { m_serialLines = cut; }
    // For the next Start: a lost TCP client or serial port is tried again.
    void SetReconnect(bool reconnect) { m_reconnect = reconnect; }

    void Start(const ConnectionSettings& settings);
    void StopAll();
    // Hands one payload to the link chosen by the last Start, running or
    // not; true when it was queued or sent.
    bool Send(const std::vector<uint8_t>& payload);
    // One client of the TCP server chosen by the last Start.
    bool SendToClient(uint32_t clientId, const std::vector<uint8_t>& payload);
    // One sender of a UDP listener, by the peer text of its datagrams.
    bool SendToSender(const std::wstring& peer, const std::vector<uint8_t>& payload);
    // Bytes that wait to be written; see Link.
    size_t QueuedBytes() const { return m_link ? m_link->QueuedBytes() : 0; }
    // Closes one client of a TCP server; false for another link or an id
    // no session has.
    bool DisconnectClient(uint32_t clientId);

    LinkKind ActiveKind() const { return m_kind; }
    const ConnectionSettings& ActiveSettings() const { return m_settings; }
    bool IsRunning() const { return m_link && m_link->IsRunning(); }
    bool AnyWorker() const { return m_link && m_link->HasWorker(); }

private:
    HWND m_notifyWnd = nullptr;
    LinkKind m_kind = LinkKind::TcpClient;
    ConnectionSettings m_settings;
    bool m_serialLines = true;
    bool m_reconnect = false;
    std::unique_ptr<Link> m_link; // kept after a stop, until the next Start
};
