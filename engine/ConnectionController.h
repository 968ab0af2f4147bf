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

    void Start(const ConnectionSettings& settings, const LinkOptions& options = {});
    void StopAll();
    // Hands one payload to the link chosen by the last Start, running or
    // not. Its Sent event comes once the link has written it.
    SendResult Send(std::vector<uint8_t> payload, const SendTag& tag = {});
    // One client of a TCP server by its id, or one sender of a UDP listener
    // by the peer text of its datagrams.
    SendResult SendTo(uint32_t clientId, const std::wstring& peer, std::vector<uint8_t> payload,
                      const SendTag& tag = {});
    // A serial port's DTR, RTS or Break; see Link.
    SendResult ChangeLine(const LineControl& control) { return m_link ? m_link->ChangeLine(control) : SendResult::Refused; }
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
    std::unique_ptr<Link> m_link; // kept after a stop, until the next Start
};
