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

// The DCB flag word for a parity and flow choice and the state DTR and RTS
// take as the port opens (RTS/CTS flow control drives RTS itself); driver
// bits that the link does not decide are kept.
uint32_t SerialFlagWord(uint32_t driverFlags, uint8_t parity, uint32_t flowControl, bool dtrOn = true,
                        bool rtsOn = true);

// The control lines as a capture's serial header carries them.
namespace SerialLine {
constexpr uint8_t kCts = 0x01, kDcd = 0x02, kDsr = 0x04, kRts = 0x08, kDtr = 0x10, kRing = 0x20;
constexpr uint8_t kInputs = kCts | kDcd | kDsr | kRing;
constexpr uint8_t kOutputs = kRts | kDtr;
} // namespace SerialLine

// GetCommModemStatus's bits as SerialLine bits.
uint8_t InputLinesFrom(unsigned long modemStatus);
// "CTS on, DSR off": the lines of `which` that differ between the two, in
// the order CTS, DSR, DCD, RI, DTR, RTS; empty when none does.
std::wstring LineChangeText(uint8_t before, uint8_t after, uint8_t which);

// A change of DTR or RTS by hand, or a Break, for the port's worker.
struct LineControl {
    enum class Line : uint8_t { Dtr, Rts, Break } line = Line::Dtr;
    enum class Action : uint8_t { On, Off, Pulse } action = Action::On; // a Break is a pulse
    uint32_t ms = 0; // a pulse's or a Break's length
};
constexpr uint32_t kDefaultPulseMs = 100, kDefaultBreakMs = 250;
constexpr uint32_t kLongestControlMs = 10000;
// "DTR off", "RTS pulse 100 ms", "Break of 250 ms".
std::wstring LineControlText(const LineControl& control);

// Line errors, and Breaks the device sent, said as they are seen, but each kind at most once a second:
// what is seen meanwhile is counted and said with its count when its
// second is up (or when the port closes).
class SerialErrorReport {
public:
    struct Line {
        std::wstring text; // "Serial line: parity error (3 times)."
        uint32_t count = 0;
        bool isBreak = false; // "Break received (3 times)."
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
