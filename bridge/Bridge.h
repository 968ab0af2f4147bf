#pragma once

#include "engine/Transport.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// How a bridge goes on when one of its links ends or loses its connection.
enum class BridgeEnd : uint8_t {
    StopBoth,  // the other link is stopped too
    KeepOther, // the other stays open; the lost one comes back if it reconnects
};

// What the window does about a side's event, by the bridge's choice.
enum class BridgeAction : uint8_t {
    None,      // the bridge goes on
    KeepOther, // that side is gone for good; the other goes on alone
    StopBoth,  // the bridge ends: both links are stopped
};
// `ended`: the side's link has ended; `lost`: its connection went and it
// connects again; `otherRunning`: the other side's link still runs.
BridgeAction BridgeActionFor(BridgeEnd choice, bool ended, bool lost, bool otherRunning);

// Two links joined: every block received on one side is handed to the
// other, unchanged and in order. What the other cannot take now (its queue
// at its cap, or its connection being made again) is held with the budget
// ticket of the event that brought it, so that the first link reads no more
// until it has gone: a slow side slows the other through its own flow
// control, and nothing is dropped. Where the other side has nobody to take
// it (a server with no client, a listener no one has sent to) or has ended,
// it is dropped and counted. Interface thread only; no window.
class Bridge {
public:
    using Forward = std::function<SendResult(uint8_t side, OutgoingPtr payload)>;
    // `waits[side]`: that side's link, when it is not there, comes back by
    // itself (a TCP client or a serial port, reconnecting), so what is for
    // it waits for it.
    Bridge(Forward forward, bool waits0, bool waits1);

    // What the window does with each of the links' events before the log
    // takes it: a received block goes on (with its event's ticket), a block
    // the bridge handed on that has left makes room for what is held, and
    // a side that ends or loses its connection is answered by `choice`.
    BridgeAction Take(TransportEvent& event, BridgeEnd choice, bool otherRunning);

    // A block received on `side`, with the ticket of its event.
    void Received(uint8_t side, const std::vector<uint8_t>& bytes, BudgetTicket ticket);
    // Tries again what is held: after the other side wrote something, and
    // once a tick.
    void Pump();
    // That side's link has ended for good: what waited for it is dropped,
    // and so is all that comes for it from now on.
    void Ended(uint8_t side);

    // Waiting to go to that side.
    size_t HeldFor(uint8_t side) const { return m_to[side & 1].heldBytes; }
    // Received on `side` and never forwarded.
    uint64_t DroppedFrom(uint8_t side) const { return m_to[(side & 1) ^ 1].dropped; }
    // Lines that tell the user when forwarding to a side stops and starts
    // again; taken by the call.
    std::vector<std::wstring> TakeNews();
    // Bytes dropped since the last call, to be counted as lost.
    uint64_t TakeDropped()
    {
        const uint64_t dropped = m_droppedUntaken;
        m_droppedUntaken = 0;
        return dropped;
    }

    // The tag of what the bridge hands on: journalled and counted as sent,
    // with no line of its own (the other side's RX line shows it).
    static SendTag Tag();

private:
    struct Held {
        OutgoingPtr payload;
        BudgetTicket ticket;
    };
    struct Direction {
        std::deque<Held> held;
        size_t heldBytes = 0;
        uint64_t dropped = 0;
        uint64_t droppedThisTime = 0;
        bool waits = false;
        bool ended = false;
    };
    // Hands on what is held for `to` while it takes it.
    void Drain(uint8_t to);
    void Drop(uint8_t to, size_t bytes);
    void SayForwarding(uint8_t to);

    Forward m_forward;
    Direction m_to[2];
    std::vector<std::wstring> m_news;
    uint64_t m_droppedUntaken = 0;
};

// "A" or "B": how the log and the window name a bridge's sides.
const wchar_t* SideName(uint8_t side);
