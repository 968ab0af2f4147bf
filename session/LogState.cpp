#include "session/LogState.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

SYSTEMTIME LocalTimeAt(uint64_t utcMicroseconds)
{
    ULARGE_INTEGER t{};
    t.QuadPart = (utcMicroseconds + 11644473600000000ull) * 10;
    const FILETIME then{t.LowPart, t.HighPart};
    FILETIME local{};
    SYSTEMTIME time{};
    if (!FileTimeToLocalFileTime(&then, &local) || !FileTimeToSystemTime(&local, &time))
        GetLocalTime(&time);
    return time;
}

SYSTEMTIME LocalTimeBefore(uint64_t microseconds)
{
    const uint64_t now = MicrosecondsNow();
    return LocalTimeAt(now - std::min(now, microseconds));
}

bool LogState::Count(TransportEventKind kind, const std::vector<uint8_t>& bytes, const std::wstring& peer,
                     uint32_t client, uint32_t session, uint64_t timeUs)
{
    bool held = false;
    if (kind == TransportEventKind::Received) {
        m_rxByteCount += bytes.size();
        held = m_journal.Append(TrafficDirection::Received, timeUs, session, client, peer, bytes.data(), bytes.size());
    } else if (kind == TransportEventKind::Sent) {
        m_txByteCount += bytes.size();
        held = m_journal.Append(TrafficDirection::Sent, timeUs, session, client, peer, bytes.data(), bytes.size());
    } else if (kind == TransportEventKind::ClientAdded || kind == TransportEventKind::ClientRemoved) {
        const bool opened = kind == TransportEventKind::ClientAdded;
        m_journal.Mark(opened ? JournalEvent::ClientOpened : JournalEvent::ClientClosed, timeUs, session, client, peer);
    }
    m_logDirty = true;
    return held && !bytes.empty();
}

void LogState::Clear()
{
    m_rxByteCount = m_txByteCount = m_pausedRxBytes = m_unrecordedBytes = m_unpostedBytes = 0;
    m_unsentBytes = m_backloggedBytes = m_unbridgedBytes = 0;
    m_cutDatagrams = m_lineErrors = 0;
    m_logDirty = false;
    m_journal.Clear();
}

std::wstring LostText(const LogState& state)
{
    const uint64_t bytes = state.m_pausedRxBytes + state.m_unrecordedBytes + state.m_unpostedBytes +
                           state.m_unsentBytes + state.m_backloggedBytes + state.m_unbridgedBytes +
                           state.NotKeptBytes();
    const bool damaged = state.m_cutDatagrams + state.m_lineErrors > 0;
    if (!bytes && !damaged)
        return {};
    return L"Lost: " + ShortCount(bytes) + (damaged ? L"+" : L"");
}

std::wstring LostTipText(const LogState& state)
{
    const struct {
        uint64_t count;
        const wchar_t* what;
        const wchar_t* unit;
    } causes[] = {
        {state.m_pausedRxBytes, L"Received while Pause RX was ticked, not logged: ", L" bytes"},
        {state.m_unrecordedBytes, L"Not recorded when a recording failed: ", L" bytes"},
        {state.m_unpostedBytes, L"Received or sent while the link was closing, not logged: ", L" bytes"},
        {state.m_unsentBytes, L"Queued to be sent but never written (a send failed or the link ended): ", L" bytes"},
        {state.m_backloggedBytes, L"Datagrams dropped while the log was behind: ", L" bytes"},
        {state.m_unbridgedBytes, L"Received on one side of the bridge, with nowhere to go on the other: ", L" bytes"},
        {state.NotKeptBytes(), L"Logged, but no longer kept for the hex view and exports: ", L" bytes"},
        {state.m_cutDatagrams, L"Datagrams cut short by the receive buffer: ", L" (their missing bytes are unknown)"},
        {state.m_lineErrors, L"Serial line errors (overrun, overflow, parity, framing): ", L""},
    };
    std::wstring tip;
    for (const auto& cause : causes)
        if (cause.count)
            tip += (tip.empty() ? L"" : L"\r\n") + std::wstring(cause.what) + std::to_wstring(cause.count) + cause.unit;
    return tip;
}

std::wstring ShortCount(uint64_t count)
{
    if (count < 100000)
        return std::to_wstring(count);
    static const wchar_t* const units[] = {L"kB", L"MB", L"GB", L"TB", L"PB", L"EB"};
    double value = double(count) / 1000;
    size_t unit = 0;
    // 999.6 kB shows as 1.00 MB, not as 1000 kB.
    while (value >= 999.5 && unit + 1 < std::size(units)) {
        value /= 1000;
        ++unit;
    }
    wchar_t text[32];
    const wchar_t* format = value < 9.995 ? L"%.2f %ls" : value < 99.95 ? L"%.1f %ls" : L"%.0f %ls";
    swprintf(text, 32, format, value, units[unit]);
    return text;
}

std::wstring CounterText(const wchar_t* label, uint64_t count)
{
    return std::wstring(label) + L": " + ShortCount(count);
}

std::wstring CounterTipText(const wchar_t* label, uint64_t count)
{
    return std::wstring(label) + L": " + std::to_wstring(count) + L" bytes";
}

std::wstring SidesCounterText(const wchar_t* label, uint64_t a, uint64_t b)
{
    return std::wstring(label) + L" A: " + ShortCount(a) + L" B: " + ShortCount(b);
}

std::wstring SidesCounterTipText(const wchar_t* label, uint64_t a, uint64_t b)
{
    return std::wstring(label) + L": " + std::to_wstring(a) + L" bytes on A, " + std::to_wstring(b) + L" bytes on B";
}
