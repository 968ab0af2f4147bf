#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Cuts serial input into lines at LF. A chunk ending in CR or LF, a tail
// longer than 8192 bytes, or 150 ms without new bytes flushes what is held.
// The clock is passed in, so tests need no sleeping.
class SerialLineCutter {
public:
    using Line = std::vector<uint8_t>;
    static constexpr size_t kMaxTail = 8192;
    static constexpr uint32_t kIdleFlushMs = 150;

    // The lines to post, in order.
    std::vector<Line> OnBytes(const uint8_t* bytes, size_t count, uint32_t nowMs);
    // After an empty read: the held tail once it has waited long enough.
    Line OnIdle(uint32_t nowMs);
    // How long from nowMs until OnIdle would give the held tail (0: now).
    uint32_t MsUntilIdle(uint32_t nowMs) const;
    Line Flush();
    void Discard() { m_buffer.clear(); }
    bool Empty() const { return m_buffer.empty(); }

private:
    Line m_buffer;
    uint32_t m_lastReceiveTick = 0;
};

// The DCB flag word for a parity and flow choice; driver bits that the
// link does not decide are kept.
uint32_t SerialFlagWord(uint32_t driverFlags, uint8_t parity, uint32_t flowControl);

// Line errors said as they are seen, but each kind at most once a second:
// what is seen meanwhile is counted and said with its count when its
// second is up (or when the port closes).
class SerialErrorReport {
public:
    struct Line {
        std::wstring text; // "Serial line: parity error (3 times)."
        uint32_t count = 0;
    };
    // ClearCommError's flags at that time; the lines due now.
    std::vector<Line> Note(unsigned long errors, uint32_t nowMs);
    // Everything counted and not yet said.
    std::vector<Line> Flush();
    // How long from nowMs until a counted kind is due; UINT32_MAX when none is.
    uint32_t MsUntilDue(uint32_t nowMs) const;

private:
    std::vector<Line> Take(uint32_t nowMs, bool all);

    static constexpr size_t kKinds = 5;
    uint32_t m_counts[kKinds] = {};
    uint32_t m_saidAt[kKinds] = {};
    bool m_said[kKinds] = {};
};
