#pragma once

#include "capture/Journal.h"
#include "engine/TransportEvent.h"

#include <cstdint>
#include <string>
#include <vector>

// The local time that many microseconds ago.
SYSTEMTIME LocalTimeBefore(uint64_t microseconds);
// The local time of that many microseconds since 1970-01-01 UTC.
SYSTEMTIME LocalTimeAt(uint64_t utcMicroseconds);

// What the window keeps of its traffic besides the log's lines: the
// counters, the journal of every block, and whether a refresh is due.
class LogState {
public:
    // Counts one logged event and journals its bytes. True when they belong
    // in the log's hex view.
    bool Count(TransportEventKind kind, const std::vector<uint8_t>& bytes, const std::wstring& peer = {},
               uint32_t client = 0, uint32_t session = 0, uint64_t timeUs = 0);
    void Clear();

    bool m_logDirty = false;
    uint64_t m_rxByteCount = 0;
    uint64_t m_txByteCount = 0;
    uint64_t m_pausedRxBytes = 0; // received while Pause RX was ticked: not logged
    uint64_t m_unrecordedBytes = 0; // handed to a recording that failed
    uint64_t m_unpostedBytes = 0; // received or sent, but no event reached the window
    uint64_t m_unsentBytes = 0; // queued to be sent, never written (a send failed, the link ended)
    uint64_t m_backloggedBytes = 0; // datagrams dropped while the window was behind
    uint64_t m_unbridgedBytes = 0; // received on one side of a bridge with nowhere to go on the other
    uint64_t m_cutDatagrams = 0; // larger than the receive buffer
    uint64_t m_lineErrors = 0; // serial overrun, overflow, parity, framing
    // Traffic whose bytes the journal no longer holds (its disk cap, a
    // failed spill, no memory for a block).
    uint64_t NotKeptBytes() const { return m_journal.ForgottenBytes() + m_journal.UnheldBytes(); }
    // Spilled where the window says, once it knows its folder.
    Journal m_journal{size_t(64) << 20, std::wstring()};
};

// "Lost: n" for the bytes known to be lost, with a "+" when traffic was also
// damaged by an unknown number of bytes; empty when nothing was lost.
std::wstring LostText(const LogState& state);
// One line per cause that lost something.
std::wstring LostTipText(const LogState& state);

// "RX: n" / "TX: n" up to 99999; above, three digits and a unit ("RX: 52.4
// MB", powers of 1000), so that every 64-bit count fits the counter.
std::wstring CounterText(const wchar_t* label, uint64_t count);
// The count part of it: "99999" or "52.4 MB".
std::wstring ShortCount(uint64_t count);
// The exact count, for the counter's tooltip: "RX: 52431234 bytes".
std::wstring CounterTipText(const wchar_t* label, uint64_t count);
// A bridge's counter, each side's count: "RX A: 1200 B: 52.4 MB", and its
// tooltip with the exact counts.
std::wstring SidesCounterText(const wchar_t* label, uint64_t a, uint64_t b);
std::wstring SidesCounterTipText(const wchar_t* label, uint64_t a, uint64_t b);
