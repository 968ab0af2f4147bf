#include "framing/Framer.h"

#include "text/Hex.h"

#include <algorithm>
#include <climits>

namespace {

// A line's CR may yet be followed by its LF: it waits this long for it.
constexpr uint64_t kCrWaitUs = 50000;
// Bytes that never make a message (a stream with no delimiter) come out in
// pieces of this size at most.
constexpr size_t kMaxHeld = 65536;

} // namespace

uint32_t SerialIdleGapUs(uint32_t gapUs, uint32_t baud, uint32_t dataBits, bool parity, uint32_t stopBitsCode)
{
    if (baud == 0)
        return gapUs;
    // Stop-bit codes 0, 1, 2 are one, one and a half and two bits: counted
    // in half bits to stay whole.
    const uint64_t halfBits = 2 * (1 + uint64_t(dataBits) + (parity ? 1 : 0)) + (stopBitsCode == 0 ? 2 : stopBitsCode == 1 ? 3 : 4);
    uint64_t gap = (7 * halfBits * 1000000 / 2 / 2 + baud - 1) / baud; // 3.5 characters, rounded up
    if (baud > 19200)
        gap = 1750;
    return uint32_t(std::max<uint64_t>(gapUs, gap));
}

std::vector<uint8_t> FramingOptions::CrLf()
{
    return {0x0D, 0x0A};
}

std::wstring FramingParameterPrompt(FramingMode mode)
{
    switch (mode) {
    case FramingMode::Delimiter:
        return L"Cut after these bytes, as hex pairs (such as 0D 0A or 03):";
    case FramingMode::IdleGap:
        return L"A message ends when no byte has come for (ms, 1 to 60000):";
    case FramingMode::FixedLength:
        return L"Every message is this many bytes (1 to 65536):";
    case FramingMode::AsReceived:
    case FramingMode::Lines:
        break;
    }
    return {};
}

std::wstring FramingParameterText(const FramingOptions& options, FramingMode mode)
{
    switch (mode) {
    case FramingMode::Delimiter:
        return HexBytesText(options.delimiter);
    case FramingMode::IdleGap:
        return std::to_wstring(options.idleGapUs / 1000);
    case FramingMode::FixedLength:
        return std::to_wstring(options.fixedLength);
    case FramingMode::AsReceived:
    case FramingMode::Lines:
        break;
    }
    return {};
}

std::wstring SetFramingParameter(FramingOptions& options, FramingMode mode, const std::wstring& text)
{
    if (mode == FramingMode::Delimiter) {
        std::vector<uint8_t> bytes;
        if (!ParseHexBytes(text, bytes) || bytes.empty() || bytes.size() > 16)
            return L"Type 1 to 16 bytes as hex pairs, such as 0D 0A.";
        options.delimiter = std::move(bytes);
        return {};
    }
    if (mode != FramingMode::IdleGap && mode != FramingMode::FixedLength)
        return {};
    const uint32_t most = mode == FramingMode::IdleGap ? 60000 : 65536;
    uint64_t value = 0;
    bool digits = false;
    for (const wchar_t c : text) {
        if (c == L' ')
            continue;
        if (c < L'0' || c > L'9' || value > most)
            return L"Type a whole number from 1 to " + std::to_wstring(most) + L".";
        value = value * 10 + uint64_t(c - L'0');
        digits = true;
    }
    if (!digits || value < 1 || value > most)
        return L"Type a whole number from 1 to " + std::to_wstring(most) + L".";
    if (mode == FramingMode::IdleGap)
        options.idleGapUs = uint32_t(value) * 1000;
    else
        options.fixedLength = uint32_t(value);
    return {};
}

Framer::Framer(FramingOptions options) : m_options(std::move(options))
{
    if (m_options.mode == FramingMode::Delimiter && m_options.delimiter.empty())
        m_options.mode = FramingMode::AsReceived;
    if (m_options.mode == FramingMode::FixedLength && m_options.fixedLength == 0)
        m_options.fixedLength = 1;
}

void Framer::Add(const uint8_t* bytes, size_t count, uint64_t nowUs, std::vector<FramedMessage>& out,
                 uint64_t storedAt)
{
    if (count == 0)
        return;
    if (m_options.mode == FramingMode::AsReceived) {
        out.push_back({std::vector<uint8_t>(bytes, bytes + count), nowUs, storedAt});
        return;
    }
    // A gap ends what came before it; a partial message that waited too
    // long goes out first.
    Tick(nowUs, out);
    m_blocks.push_back({m_held.size(), nowUs, storedAt});
    m_held.insert(m_held.end(), bytes, bytes + count);
    m_lastUs = nowUs;
    for (size_t length = CompleteLength(); length != 0; length = CompleteLength())
        Emit(length, out);
    while (m_held.size() >= kMaxHeld)
        Emit(kMaxHeld, out);
    // What is held has no end in it; a Lines scan stops short of a CR that
    // may still get its LF.
    m_scanned = m_held.size();
    if (m_options.mode == FramingMode::Lines && !m_held.empty() && m_held.back() == 0x0D)
        --m_scanned;
}

void Framer::Tick(uint64_t nowUs, std::vector<FramedMessage>& out)
{
    if (m_held.empty())
        return;
    if (nowUs >= DueUs())
        Emit(m_held.size(), out);
}

uint64_t Framer::DueUs() const
{
    if (m_held.empty())
        return UINT64_MAX;
    // Counted from the last byte: a slow line is not cut while it comes.
    if (m_options.mode == FramingMode::IdleGap)
        return m_lastUs + m_options.idleGapUs;
    uint64_t due = m_lastUs + m_options.flushUs;
    if (m_options.mode == FramingMode::Lines && m_held.back() == 0x0D)
        due = std::min(due, m_lastUs + kCrWaitUs);
    return due;
}

void Framer::ForgetStore()
{
    for (Block& block : m_blocks)
        block.storedAt = FramedMessage::kNotStored;
}

void Framer::Flush(std::vector<FramedMessage>& out)
{
    if (!m_held.empty())
        Emit(m_held.size(), out);
}

size_t Framer::CompleteLength() const
{
    const size_t size = m_held.size();
    switch (m_options.mode) {
    case FramingMode::Lines:
        for (size_t i = m_scanned; i < size; ++i) {
            if (m_held[i] == 0x0A)
                return i + 1;
            if (m_held[i] == 0x0D && i + 1 < size)
                return m_held[i + 1] == 0x0A ? i + 2 : i + 1;
        }
        return 0;
    case FramingMode::Delimiter: {
        const std::vector<uint8_t>& d = m_options.delimiter;
        const size_t from = m_scanned >= d.size() ? m_scanned - (d.size() - 1) : 0;
        const auto at = std::search(m_held.begin() + ptrdiff_t(from), m_held.end(), d.begin(), d.end());
        return at == m_held.end() ? 0 : size_t(at - m_held.begin()) + d.size();
    }
    case FramingMode::FixedLength:
        return size >= m_options.fixedLength ? m_options.fixedLength : 0;
    case FramingMode::AsReceived:
    case FramingMode::IdleGap:
        break;
    }
    return 0;
}

void Framer::Emit(size_t count, std::vector<FramedMessage>& out)
{
    count = std::min(count, m_held.size());
    // The block the next byte is in becomes the first; the message's bytes
    // are stored in one run when each of its blocks follows the one before.
    const Block& head = m_blocks.front();
    uint64_t storedAt = head.storedAt;
    size_t first = 0;
    for (; first + 1 < m_blocks.size() && m_blocks[first + 1].offset < count; ++first) {
        const Block &a = m_blocks[first], &b = m_blocks[first + 1];
        if (a.storedAt == FramedMessage::kNotStored || b.storedAt != a.storedAt + (b.offset - a.offset))
            storedAt = FramedMessage::kNotStored;
    }
    const uint64_t lastByteUs = m_blocks[first].timeUs;
    if (first + 1 < m_blocks.size() && m_blocks[first + 1].offset == count)
        ++first; // the next byte starts a block of its own
    out.push_back({std::vector<uint8_t>(m_held.begin(), m_held.begin() + ptrdiff_t(count)), head.timeUs, storedAt,
                   lastByteUs});
    m_held.erase(m_held.begin(), m_held.begin() + ptrdiff_t(count));
    m_blocks.erase(m_blocks.begin(), m_blocks.begin() + ptrdiff_t(first));
    // What is left of the first block starts later in its store.
    if (!m_blocks.empty() && m_blocks.front().offset < count && m_blocks.front().storedAt != FramedMessage::kNotStored)
        m_blocks.front().storedAt += count - m_blocks.front().offset;
    for (Block& block : m_blocks)
        block.offset = block.offset > count ? block.offset - count : 0;
    if (m_held.empty())
        m_blocks.clear();
    m_scanned = 0; // the rest is searched again from its start
}
