#include "engine/SerialLines.h"

#include <windows.h>

#include <algorithm>
#include <iterator>

std::vector<SerialLineCutter::Line> SerialLineCutter::OnBytes(const uint8_t* bytes, size_t count, uint32_t nowMs)
{
    m_lastReceiveTick = nowMs;
    m_buffer.insert(m_buffer.end(), bytes, bytes + count);
    std::vector<Line> lines;
    auto start = m_buffer.begin();
    for (auto lf = std::find(start, m_buffer.end(), uint8_t(0x0A)); lf != m_buffer.end();
         lf = std::find(start, m_buffer.end(), uint8_t(0x0A))) {
        lines.emplace_back(start, lf + 1);
        start = lf + 1;
    }
    m_buffer.erase(m_buffer.begin(), start);
    const uint8_t last = count > 0 ? bytes[count - 1] : 0;
    if (m_buffer.size() > kMaxTail || (count > 0 && (last == 0x0D || last == 0x0A))) {
        Line tail = Flush();
        if (!tail.empty())
            lines.push_back(std::move(tail));
    }
    return lines;
}

SerialLineCutter::Line SerialLineCutter::OnIdle(uint32_t nowMs)
{
    // Unsigned difference: the tick counter's wrap does no harm.
    if (m_buffer.empty() || nowMs - m_lastReceiveTick < kIdleFlushMs)
        return {};
    return Flush();
}

uint32_t SerialLineCutter::MsUntilIdle(uint32_t nowMs) const
{
    const uint32_t waited = nowMs - m_lastReceiveTick;
    return waited >= kIdleFlushMs ? 0 : kIdleFlushMs - waited;
}

SerialLineCutter::Line SerialLineCutter::Flush()
{
    Line tail;
    tail.swap(m_buffer);
    return tail;
}

uint32_t SerialFlagWord(uint32_t driverFlags, uint8_t parity, uint32_t flowControl, bool dtrOn, bool rtsOn)
{
    uint32_t flags = driverFlags & 0xFFFFCCC9u;
    flags |= parity != 0 ? 0x03u : 0x01u; // binary, parity check
    if (dtrOn)
        flags |= 0x10u;
    if (flowControl == 1)
        flags |= 0x2004u; // CTS out + RTS handshake
    else if (rtsOn)
        flags |= 0x1000u;
    if (flowControl == 2)
        flags |= 0x300u; // XON/XOFF both ways
    return flags;
}

uint8_t InputLinesFrom(unsigned long modemStatus)
{
    uint8_t lines = 0;
    if (modemStatus & MS_CTS_ON)
        lines |= SerialLine::kCts;
    if (modemStatus & MS_DSR_ON)
        lines |= SerialLine::kDsr;
    if (modemStatus & MS_RLSD_ON)
        lines |= SerialLine::kDcd;
    if (modemStatus & MS_RING_ON)
        lines |= SerialLine::kRing;
    return lines;
}

std::wstring LineChangeText(uint8_t before, uint8_t after, uint8_t which)
{
    static const struct {
        uint8_t bit;
        const wchar_t* name;
    } kOrder[] = {{SerialLine::kCts, L"CTS"}, {SerialLine::kDsr, L"DSR"}, {SerialLine::kDcd, L"DCD"},
                  {SerialLine::kRing, L"RI"},  {SerialLine::kDtr, L"DTR"}, {SerialLine::kRts, L"RTS"}};
    std::wstring text;
    for (const auto& line : kOrder)
        if ((which & line.bit) && ((before ^ after) & line.bit))
            text += (text.empty() ? L"" : L", ") + std::wstring(line.name) + ((after & line.bit) ? L" on" : L" off");
    return text;
}

std::wstring LineControlText(const LineControl& control)
{
    const std::wstring ms = std::to_wstring(control.ms) + L" ms";
    if (control.line == LineControl::Line::Break)
        return L"Break of " + ms;
    const std::wstring name = control.line == LineControl::Line::Dtr ? L"DTR" : L"RTS";
    switch (control.action) {
    case LineControl::Action::On:
        return name + L" on";
    case LineControl::Action::Off:
        return name + L" off";
    case LineControl::Action::Pulse:
        break;
    }
    return name + L" pulse " + ms;
}

namespace {

const struct {
    unsigned long flag;
    const wchar_t* text;
} kLineErrors[] = {{CE_OVERRUN, L"overrun (bytes lost)"},
                   {CE_RXOVER, L"input buffer overflow (bytes lost)"},
                   {CE_RXPARITY, L"parity error"},
                   {CE_FRAME, L"framing error"},
                   {CE_BREAK, L"Break received"}};

} // namespace

std::vector<SerialErrorReport::Line> SerialErrorReport::Note(unsigned long errors, uint32_t nowMs)
{
    for (size_t i = 0; i < kKinds; ++i)
        if (errors & kLineErrors[i].flag)
            ++m_counts[i];
    return Take(nowMs, false);
}

uint32_t SerialErrorReport::MsUntilDue(uint32_t nowMs) const
{
    uint32_t soonest = UINT32_MAX;
    for (size_t i = 0; i < kKinds; ++i)
        if (m_counts[i] != 0) {
            const uint32_t waited = nowMs - m_saidAt[i];
            soonest = std::min(soonest, !m_said[i] || waited >= 1000 ? 0u : 1000 - waited);
        }
    return soonest;
}

std::vector<SerialErrorReport::Line> SerialErrorReport::Flush()
{
    return Take(0, true);
}

std::vector<SerialErrorReport::Line> SerialErrorReport::Take(uint32_t nowMs, bool all)
{
    static_assert(std::size(kLineErrors) == kKinds, "one count a kind");
    std::vector<Line> due;
    for (size_t i = 0; i < kKinds; ++i) {
        if (m_counts[i] == 0 || (!all && m_said[i] && nowMs - m_saidAt[i] < 1000))
            continue;
        // A Break is something the device did on purpose, not damage.
        const bool isBreak = kLineErrors[i].flag == CE_BREAK;
        std::wstring text = (isBreak ? L"" : L"Serial line: ") + std::wstring(kLineErrors[i].text);
        if (m_counts[i] > 1)
            text += L" (" + std::to_wstring(m_counts[i]) + L" times)";
        due.push_back({text + L".", m_counts[i], isBreak});
        m_counts[i] = 0;
        m_said[i] = true;
        m_saidAt[i] = nowMs;
    }
    return due;
}
