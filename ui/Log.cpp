#include "ui/Log.h"

bool LogState::Count(TransportEventKind kind, const std::vector<uint8_t>& bytes)
{
    if (kind == TransportEventKind::Received) {
        m_rxByteCount += bytes.size();
        m_rxCapture.Append(bytes);
    } else if (kind == TransportEventKind::Sent) {
        m_txByteCount += bytes.size();
    }
    m_logDirty = true;
    return (kind == TransportEventKind::Received || kind == TransportEventKind::Sent) && !bytes.empty();
}

void LogState::Clear()
{
    m_rxByteCount = m_txByteCount = 0;
    m_logDirty = false;
    m_rxCapture.Clear();
}

std::wstring CounterText(const wchar_t* label, uint64_t count)
{
    return std::wstring(label) + L": " + std::to_wstring(count);
}
