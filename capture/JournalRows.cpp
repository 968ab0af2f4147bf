#include "capture/JournalRows.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

void JournalRows::Update()
{
    if (m_journal.RecordCount() < m_firstRow.size() || m_journal.Size() < m_bytes) {
        m_firstRow.clear();
        m_rows = m_bytes = 0;
    }
    for (size_t i = m_firstRow.size(); i < m_journal.RecordCount(); ++i) {
        const JournalRecord& record = m_journal.Record(i);
        m_firstRow.push_back(m_rows);
        m_rows += (record.size + m_bytesPerRow - 1) / m_bytesPerRow;
        m_bytes += record.size;
    }
}

size_t JournalRows::RecordOfRow(uint64_t row) const
{
    // The last record starting at or before the row: markers before a block
    // share its first row and come first.
    const auto after = std::upper_bound(m_firstRow.begin(), m_firstRow.end(), row);
    return size_t(after - m_firstRow.begin()) - 1;
}

HexRows::Row JournalRows::At(uint64_t row) const
{
    const size_t index = RecordOfRow(row);
    const JournalRecord& record = m_journal.Record(index);
    const uint64_t into = (row - m_firstRow[index]) * m_bytesPerRow;
    return Row{record.offset + into, uint32_t(std::min<uint64_t>(m_bytesPerRow, record.size - into)),
               record.direction == TrafficDirection::Sent};
}

uint64_t JournalRows::RowOf(uint64_t offset) const
{
    const size_t index = m_journal.RecordAt(offset);
    return m_firstRow[index] + (offset - m_journal.Record(index).offset) / m_bytesPerRow;
}

std::wstring DescribeJournalByte(const Journal& journal, uint64_t offset)
{
    const JournalRecord& record = journal.Record(journal.RecordAt(offset));
    // Microseconds since 1970 to a FILETIME's 100 ns ticks since 1601.
    const uint64_t ticks = record.timeUs * 10 + 116444736000000000ull;
    FILETIME utc{DWORD(ticks), DWORD(ticks >> 32)}, local{};
    SYSTEMTIME time{};
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&local, &time);
    const bool sent = record.direction == TrafficDirection::Sent;
    wchar_t text[64];
    swprintf(text, 64, L"%ls %02u:%02u:%02u.%06u", sent ? L"TX" : L"RX", time.wHour, time.wMinute, time.wSecond,
             unsigned(record.timeUs % 1000000));
    std::wstring out = text;
    const std::wstring& peer = journal.PeerText(record.peer);
    if (!peer.empty())
        out += (sent ? L" to " : L" from ") + peer;
    return out + L", byte " + std::to_wstring(offset - record.offset + 1) + L" of " + std::to_wstring(record.size);
}
