#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// How received bytes are cut into the log's messages. The numbers are the
// ones the settings file stores.
enum class FramingMode : int32_t { AsReceived = 0, Lines = 1, Delimiter = 2, IdleGap = 3, FixedLength = 4 };

struct FramingOptions {
    static std::vector<uint8_t> CrLf();

    FramingMode mode = FramingMode::AsReceived;
    std::vector<uint8_t> delimiter = CrLf(); // Delimiter: cut after these bytes
    uint32_t idleGapUs = 20000;                 // IdleGap: a message ends after this long without a byte
    uint32_t fixedLength = 16;                  // FixedLength: every so many bytes
    uint32_t flushUs = 500000;                  // a partial message is shown once no byte came for this long
};

// The idle gap for a serial line: the gap asked for, but at least 3.5
// character times at the line's rate (start, data, parity and stop bits),
// and above 19200 baud at least 1750 µs, as Modbus RTU has it.
uint32_t SerialIdleGapUs(uint32_t gapUs, uint32_t baud, uint32_t dataBits, bool parity, uint32_t stopBitsCode);

// The parameter a mode asks for, as the user types it: the delimiter as hex
// pairs, the idle gap in ms, the fixed length in bytes; empty for a mode
// that has none.
std::wstring FramingParameterPrompt(FramingMode mode);
std::wstring FramingParameterText(const FramingOptions& options, FramingMode mode);
// Takes the typed parameter into `options`; an empty text when it was
// taken, else what is wrong with it.
std::wstring SetFramingParameter(FramingOptions& options, FramingMode mode, const std::wstring& text);

struct FramedMessage {
    std::vector<uint8_t> bytes;
    uint64_t firstByteUs = 0; // when its first byte arrived
    // Where its bytes lie one after the other in the caller's store (the
    // blocks' `storedAt`), or kNotStored when they do not.
    uint64_t storedAt = kNotStored;
    static constexpr uint64_t kNotStored = UINT64_MAX;
    uint64_t lastByteUs = 0; // when its last byte arrived
};

// Cuts one peer's received bytes into messages. Times are microseconds on
// one clock, passed in, so tests need no sleeping. Messages come out of Add
// and Tick in order; no byte is lost or shown twice.
class Framer {
public:
    explicit Framer(FramingOptions options = {});

    // A block that arrived at `nowUs` (a read or a datagram), kept by the
    // caller at `storedAt` if anywhere; the messages it completes are
    // appended to `out`.
    void Add(const uint8_t* bytes, size_t count, uint64_t nowUs, std::vector<FramedMessage>& out,
             uint64_t storedAt = FramedMessage::kNotStored);
    // Time has passed without bytes: a held message whose gap or flush time
    // is up comes out.
    void Tick(uint64_t nowUs, std::vector<FramedMessage>& out);
    // When Tick next has something to do; UINT64_MAX when nothing is held.
    uint64_t DueUs() const;
    // Everything held, as one message (the link ended).
    void Flush(std::vector<FramedMessage>& out);
    bool Holding() const { return !m_held.empty(); }
    // The store was emptied: what is held is no longer there.
    void ForgetStore();
    const FramingOptions& Options() const { return m_options; }

private:
    void Emit(size_t count, std::vector<FramedMessage>& out);
    // The length of the first complete message held, or 0.
    size_t CompleteLength() const;

    FramingOptions m_options;
    std::vector<uint8_t> m_held;
    // Each block still held: where it starts in m_held, when it came (a
    // message's first byte takes its block's time) and where it is stored.
    struct Block {
        size_t offset;
        uint64_t timeUs;
        uint64_t storedAt;
    };
    std::vector<Block> m_blocks;
    uint64_t m_lastUs = 0; // when the last bytes arrived
    size_t m_scanned = 0;  // held bytes already searched for an end
};
