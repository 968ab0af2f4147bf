#pragma once

#include "capture/ChunkedBytes.h"
#include "engine/TransportEvent.h"

#include <cstdint>
#include <string>
#include <vector>

// What the window keeps of its traffic besides the log's lines: the
// counters, the received-bytes capture, and whether a refresh is due.
class LogState {
public:
    // Counts one logged event. True when its bytes belong in the log's hex view.
    bool Count(TransportEventKind kind, const std::vector<uint8_t>& bytes);
    void Clear();

    bool m_logDirty = false;
    uint64_t m_rxByteCount = 0;
    uint64_t m_txByteCount = 0;
    ChunkedBytes m_rxCapture;
};

// "RX: n" / "TX: n" up to 99999; above, three digits and a unit ("RX: 52.4
// MB", powers of 1000), so that every 64-bit count fits the counter.
std::wstring CounterText(const wchar_t* label, uint64_t count);
// The exact count, for the counter's tooltip: "RX: 52431234 bytes".
std::wstring CounterTipText(const wchar_t* label, uint64_t count);
