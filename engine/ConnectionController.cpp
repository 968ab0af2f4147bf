#include "engine/ConnectionController.h"

#include "engine/SerialTransport.h"
#include "engine/TcpClientTransport.h"
#include "engine/TcpServerTransport.h"
#include "engine/UdpTransport.h"

LinkKind LinkKindFor(const ConnectionSettings& settings)
{
    if (settings.useSerial == 1)
        return LinkKind::Serial;
    if (settings.isUdp != 0)
        return LinkKind::Udp;
    return settings.isServer != 0 ? LinkKind::TcpServer : LinkKind::TcpClient;
}

std::unique_ptr<Link> MakeLink(LinkKind kind)
{
    switch (kind) {
    case LinkKind::Serial:
        return std::make_unique<SerialTransport>();
    case LinkKind::Udp:
        return std::make_unique<UdpTransport>();
    case LinkKind::TcpServer:
        return std::make_unique<TcpServerTransport>();
    case LinkKind::TcpClient:
        break;
    }
    return std::make_unique<TcpClientTransport>();
}

void ConnectionController::Start(const ConnectionSettings& settings)
{
    StopAll();
    m_kind = LinkKindFor(settings);
    m_settings = settings;
    m_link = MakeLink(m_kind);
    if (m_kind == LinkKind::Serial)
        static_cast<SerialTransport&>(*m_link).SetCutLines(m_serialLines);
    m_link->SetReconnect(m_reconnect);
    m_link->Start(m_notifyWnd, settings);
}

void ConnectionController::StopAll()
{
    if (m_link)
        m_link->Stop();
}

bool ConnectionController::Send(const std::vector<uint8_t>& payload)
{
    return m_link && m_link->Send(payload);
}

bool ConnectionController::DisconnectClient(uint32_t clientId)
{
    if (!m_link || m_kind != LinkKind::TcpServer)
        return false;
    return static_cast<TcpServerTransport&>(*m_link).Disconnect(clientId);
}

bool ConnectionController::SendToSender(const std::wstring& peer, const std::vector<uint8_t>& payload)
{
    if (!m_link || m_kind != LinkKind::Udp)
        return false;
    return static_cast<UdpTransport&>(*m_link).SendTo(peer, payload);
}

bool ConnectionController::SendToClient(uint32_t clientId, const std::vector<uint8_t>& payload)
{
    if (!m_link || m_kind != LinkKind::TcpServer)
        return false;
    return static_cast<TcpServerTransport&>(*m_link).QueueSendTo(clientId, payload);
}
