#include "ui/Log.h"

#include "logview/LogLine.h"

#include <algorithm>

bool LogState::Append(TransportEventKind kind, const std::wstring& text, const std::vector<uint8_t>& bytes,
                      const SYSTEMTIME* stamp)
{
    if (kind == TransportEventKind::Received) {
        m_rxByteCount += bytes.size();
        m_rxCapture.insert(m_rxCapture.end(), bytes.begin(), bytes.end());
    } else if (kind == TransportEventKind::Sent) {
        m_txByteCount += bytes.size();
    }
    m_logText += FormatLogLine(kind, text, stamp);
    ++m_logLineCount;
    Trim();
    m_logDirty = true;
    return (kind == TransportEventKind::Received || kind == TransportEventKind::Sent) && !bytes.empty();
}

// About the oldest fifth goes, up to a line end.
void LogState::Trim()
{
    if (m_logLineCount <= kTrimAbove)
        return;
    const size_t cut = m_logText.find(L'\n', m_logText.size() / 5);
    if (cut == std::wstring::npos || cut == 0)
        return;
    m_logText.erase(0, cut + 1);
    m_logLineCount = kLinesAfterTrim;
    // Long lines leave far fewer than 5000 lines after a few trims; the room
    // the text needed before its first trim is given back. Below four times
    // the size it is kept, or growth and shrinking would take turns.
    if (m_logText.capacity() > 4 * m_logText.size())
        m_logText.shrink_to_fit();
}

void LogState::Clear()
{
    // Swapped out, not cleared, so that the memory goes with the text.
    std::wstring().swap(m_logText);
    m_shownLogLength = 0;
    m_logLineCount = 0;
    m_rxByteCount = m_txByteCount = 0;
    m_logDirty = false;
    std::vector<uint8_t>().swap(m_rxCapture);
}

LogState::Refresh LogState::PendingRefresh() const
{
    if (m_shownLogLength > m_logText.size())
        return Refresh::Reload;
    if (m_shownLogLength < m_logText.size())
        return Refresh::AppendTail;
    return Refresh::Nothing;
}

std::wstring LogState::TailForDisplay() const
{
    return ForDisplay(m_logText.substr(std::min(m_shownLogLength, m_logText.size())));
}

std::wstring ForDisplay(std::wstring text)
{
    std::replace(text.begin(), text.end(), L'\0', kNulPlaceholder);
    return text;
}

std::wstring CounterText(const wchar_t* label, uint64_t count)
{
    return std::wstring(label) + L": " + std::to_wstring(count);
}
