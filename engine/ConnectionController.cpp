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
    m_sides[1] = Side{};
    m_sendSide = 0;
    StartSide(0, settings, options);
}

void ConnectionController::StartSecond(const ConnectionSettings& settings, const LinkOptions& options)
{
    StopSide(1);
    StartSide(1, settings, options);
}

void ConnectionController::StartSide(uint8_t side, const ConnectionSettings& settings, const LinkOptions& options)
{
    Side& s = m_sides[side];
    s.kind = LinkKindFor(settings);
    s.settings = settings;
    s.link = MakeLink(s.kind);
    s.link->m_side = side;
    s.link->Start(m_notifyWnd, settings, options);
}

void ConnectionController::StopAll()
{
    StopSide(0);
    StopSide(1);
}

void ConnectionController::StopSide(uint8_t side)
{
    if (m_sides[side & 1].link)
        m_sides[side & 1].link->Stop();
}

SendResult ConnectionController::Send(std::vector<uint8_t> payload, const SendTag& tag)
{
    return SendOn(m_sendSide, MakeOutgoing(std::move(payload), tag));
}

SendResult ConnectionController::SendOn(uint8_t side, OutgoingPtr payload)
{
    Link* link = m_sides[side & 1].link.get();
    return link ? link->Send(std::move(payload)) : SendResult::Refused;
}

SendResult ConnectionController::SendTo(uint32_t clientId, const std::wstring& peer, std::vector<uint8_t> payload,
                                        const SendTag& tag)
{
    Link* link = SendLink();
    return link ? link->SendTo(clientId, peer, MakeOutgoing(std::move(payload), tag)) : SendResult::Refused;
}

size_t ConnectionController::QueuedBytesOn(uint8_t side) const
{
    Link* link = m_sides[side & 1].link.get();
    return link ? link->QueuedBytes() : 0;
}

bool ConnectionController::DisconnectClient(uint32_t clientId)
{
    for (Side& side : m_sides)
        if (side.link && side.link->DisconnectClient(clientId))
            return true;
    return false;
}

bool ConnectionController::IsRunningOn(uint8_t side) const
{
    const Link* link = m_sides[side & 1].link.get();
    return link && link->IsRunning();
}

bool ConnectionController::AnyWorker() const
{
    for (const Side& side : m_sides)
        if (side.link && side.link->HasWorker())
            return true;
    return false;
}
