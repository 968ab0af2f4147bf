#include "bridge/Bridge.h"

BridgeAction BridgeActionFor(BridgeEnd choice, bool ended, bool lost, bool otherRunning)
{
    if (!ended && !lost)
        return BridgeAction::None;
    if (choice == BridgeEnd::StopBoth)
        return BridgeAction::StopBoth;
    if (!ended)
        return BridgeAction::None; // it connects again by itself
    return otherRunning ? BridgeAction::KeepOther : BridgeAction::StopBoth;
}

const wchar_t* SideName(uint8_t side)
{
    return (side & 1) ? L"B" : L"A";
}

Bridge::Bridge(Forward forward, bool waits0, bool waits1) : m_forward(std::move(forward))
{
    m_to[0].waits = waits0;
    m_to[1].waits = waits1;
}

SendTag Bridge::Tag()
{
    SendTag tag;
    tag.bridged = true;
    return tag;
}

BridgeAction Bridge::Take(TransportEvent& event, BridgeEnd choice, bool otherRunning)
{
    const uint8_t side = event.side & 1;
    if (event.kind == TransportEventKind::Received)
        Received(side, event.data, std::move(event.ticket));
    else if (event.kind == TransportEventKind::Sent && event.sendTag.bridged)
        Pump();
    const BridgeAction action = BridgeActionFor(choice, event.linkEnded, event.connectionLost, otherRunning);
    if (event.linkEnded)
        Ended(side);
    return action;
}

void Bridge::Received(uint8_t side, const std::vector<uint8_t>& bytes, BudgetTicket ticket)
{
    const uint8_t to = (side & 1) ^ 1;
    Direction& d = m_to[to];
    if (bytes.empty())
        return;
    if (d.ended) {
        Drop(to, bytes.size());
        return;
    }
    d.held.push_back(Held{MakeOutgoing(bytes, Tag()), std::move(ticket)});
    d.heldBytes += bytes.size();
    Drain(to);
}

void Bridge::Pump()
{
    Drain(0);
    Drain(1);
}

void Bridge::Drain(uint8_t to)
{
    Direction& d = m_to[to];
    while (!d.held.empty()) {
        Held& next = d.held.front();
        const size_t size = next.payload->bytes.size();
        const SendResult result = m_forward(to, next.payload);
        if (result == SendResult::BackedUp)
            return; // its link takes it once it has written what it holds
        if (result == SendResult::Refused && d.waits)
            return; // its connection is being made again
        if (result == SendResult::Refused)
            Drop(to, size);
        else
            SayForwarding(to);
        d.heldBytes -= size;
        d.held.pop_front(); // its ticket goes with it: the sender may read on
    }
}

void Bridge::Ended(uint8_t side)
{
    Direction& d = m_to[side & 1];
    d.ended = true;
    while (!d.held.empty()) {
        Drop(side & 1, d.held.front().payload->bytes.size());
        d.heldBytes -= d.held.front().payload->bytes.size();
        d.held.pop_front();
    }
}

void Bridge::Drop(uint8_t to, size_t bytes)
{
    Direction& d = m_to[to];
    const uint8_t from = to ^ 1;
    if (!d.droppedThisTime)
        m_news.push_back(std::wstring(L"Bridge: ") + SideName(to) +
                         (d.ended ? L" has closed" : L" has no peer to take them") + L": what " + SideName(from) +
                         L" receives is not forwarded, and is counted as lost.");
    d.dropped += bytes;
    d.droppedThisTime += bytes;
    m_droppedUntaken += bytes;
}

void Bridge::SayForwarding(uint8_t to)
{
    Direction& d = m_to[to];
    if (!d.droppedThisTime)
        return;
    m_news.push_back(std::wstring(L"Bridge: ") + SideName(to) + L" takes bytes again; " +
                     std::to_wstring(d.droppedThisTime) + L" bytes from " + SideName(to ^ 1) +
                     L" were not forwarded meanwhile.");
    d.droppedThisTime = 0;
}

std::vector<std::wstring> Bridge::TakeNews()
{
    std::vector<std::wstring> news;
    news.swap(m_news);
    return news;
}
