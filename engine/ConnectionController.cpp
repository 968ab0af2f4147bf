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

void ConnectionController::Start(const ConnectionSettings& settings, const LinkOptions& options)
{
    StopAll();
    m_kind = LinkKindFor(settings);
    m_settings = settings;
    m_link = MakeLink(m_kind);
    m_link->Start(m_notifyWnd, settings, options);
}

void ConnectionController::StopAll()
{
    if (m_link)
        m_link->Stop();
}

SendResult ConnectionController::Send(std::vector<uint8_t> payload, const SendTag& tag)
{
    return m_link ? m_link->Send(MakeOutgoing(std::move(payload), tag)) : SendResult::Refused;
}

SendResult ConnectionController::SendTo(uint32_t clientId, const std::wstring& peer, std::vector<uint8_t> payload,
                                        const SendTag& tag)
{
    return m_link ? m_link->SendTo(clientId, peer, MakeOutgoing(std::move(payload), tag)) : SendResult::Refused;
}

bool ConnectionController::DisconnectClient(uint32_t clientId)
{
    return m_link && m_link->DisconnectClient(clientId);
}
