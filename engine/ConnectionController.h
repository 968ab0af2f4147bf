#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/Link.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The one place where the window starts, stops and feeds the links: one,
// or two joined by a bridge (side 0 and side 1). What the window sends by
// hand goes to the send side. Interface thread only.
class ConnectionController {
public:
    ConnectionController() = default;
    ConnectionController(const ConnectionController&) = delete;
    ConnectionController& operator=(const ConnectionController&) = delete;
    ~ConnectionController() { StopAll(); }

    void SetNotifyWindow(HWND wnd) { m_notifyWnd = wnd; }

    // Side 0, alone: a bridge's second link is forgotten.
    void Start(const ConnectionSettings& settings, const LinkOptions& options = {});
    // Side 1 beside side 0, started after it.
    void StartSecond(const ConnectionSettings& settings, const LinkOptions& options = {});
    void StopAll();

    void SetSendSide(uint8_t side) { m_sendSide = side < 2 && m_sides[side].link ? side : 0; }
    uint8_t SendSide() const { return m_sendSide; }

    // Hands one payload to the send side's link, running or not. Its Sent
    // event comes once the link has written it.
    SendResult Send(std::vector<uint8_t> payload, const SendTag& tag = {});
    // To one side's link, whatever the send side is.
    SendResult SendOn(uint8_t side, OutgoingPtr payload);
    // One client of a TCP server by its id, or one sender of a UDP listener
    // by the peer text of its datagrams.
    SendResult SendTo(uint32_t clientId, const std::wstring& peer, std::vector<uint8_t> payload,
                      const SendTag& tag = {});
    // A serial port's DTR, RTS or Break; see Link.
    // A bridge's lines are those of its serial port: the send side's if it
    // is one, else the other's.
    SendResult ChangeLine(const LineControl& control)
    {
        const int side = SerialSide();
        Link* link = side < 0 ? nullptr : m_sides[side].link.get();
        return link ? link->ChangeLine(control) : SendResult::Refused;
    }
    // The side whose link is a serial port, the send side first; -1 for none.
    int SerialSide() const
    {
        for (uint8_t side : {m_sendSide, uint8_t(m_sendSide ^ 1)})
            if (m_sides[side].link && m_sides[side].kind == LinkKind::Serial)
                return side;
        return -1;
    }
    // Bytes that wait to be written; see Link.
    size_t QueuedBytes() const { return QueuedBytesOn(m_sendSide); }
    size_t QueuedBytesOn(uint8_t side) const;
    // Closes one client of a TCP server (on either side: client ids are
    // never shared); false for another link or an id no session has.
    bool DisconnectClient(uint32_t clientId);

    // Of the send side.
    LinkKind ActiveKind() const { return m_sides[m_sendSide].kind; }
    const ConnectionSettings& ActiveSettings() const { return m_sides[m_sendSide].settings; }
    bool IsRunning() const { return IsRunningOn(m_sendSide); }
    const ConnectionSettings& SettingsOf(uint8_t side) const { return m_sides[side & 1].settings; }
    bool IsRunningOn(uint8_t side) const;
    bool AnyWorker() const;

private:
    struct Side {
        LinkKind kind = LinkKind::TcpClient;
        ConnectionSettings settings;
        std::unique_ptr<Link> link; // kept after a stop, until the next Start
    };
    void StartSide(uint8_t side, const ConnectionSettings& settings, const LinkOptions& options);
    void StopSide(uint8_t side);
    Link* SendLink() const { return m_sides[m_sendSide].link.get(); }

    HWND m_notifyWnd = nullptr;
    Side m_sides[2];
    uint8_t m_sendSide = 0;
};
