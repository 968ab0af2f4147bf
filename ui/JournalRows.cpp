#include "ui/JournalRows.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

void JournalRows::Update()
{
    if (m_journal.RecordCount() < m_taken || m_journal.Size() < m_bytes) {
        m_pageFirstRow.clear();
        m_taken = 0;
        m_rows = m_bytes = 0;
    }
    m_firstRowsPage = SIZE_MAX; // the last page may have grown
    const size_t count = m_journal.RecordCount();
    while (m_taken < count) {
        const size_t page = m_taken / Journal::kPageRecords;
        if (m_pageFirstRow.size() == page)
            m_pageFirstRow.push_back(m_rows);
        size_t inPage = 0;
        const JournalRecord* records = m_journal.Page(page, inPage);
        const size_t end = std::min(count, page * Journal::kPageRecords + inPage);
        for (size_t i = m_taken; i < end; ++i) {
            const JournalRecord& record = records[i % Journal::kPageRecords];
            m_rows += RowsOf(record);
            m_bytes += record.size;
        }
        if (end <= m_taken)
            break; // a page that cannot be read back
        m_taken = end;
    }
}

const std::vector<uint64_t>& JournalRows::FirstRows(size_t page) const
{
    if (m_firstRowsPage != page) {
        m_firstRows.clear();
        size_t count = 0;
        const JournalRecord* records = m_journal.Page(page, count);
        count = std::min(count, m_taken - std::min(m_taken, page * Journal::kPageRecords));
        uint64_t row = page < m_pageFirstRow.size() ? m_pageFirstRow[page] : m_rows;
        for (size_t i = 0; i < count; ++i) {
            m_firstRows.push_back(row);
            row += RowsOf(records[i]);
        }
        m_firstRowsPage = page;
    }
    return m_firstRows;
}

size_t JournalRows::RecordOfRow(uint64_t row) const
{
    // The last record starting at or before the row: markers before a block
    // share its first row and come first.
    const auto afterPage = std::upper_bound(m_pageFirstRow.begin(), m_pageFirstRow.end(), row);
    const size_t page = afterPage == m_pageFirstRow.begin() ? 0 : size_t(afterPage - m_pageFirstRow.begin()) - 1;
    const std::vector<uint64_t>& first = FirstRows(page);
    const auto after = std::upper_bound(first.begin(), first.end(), row);
    return page * Journal::kPageRecords + (after == first.begin() ? 0 : size_t(after - first.begin()) - 1);
}

HexRows::Row JournalRows::At(uint64_t row) const
{
    const size_t index = RecordOfRow(row);
    const JournalRecord record = m_journal.Record(index);
    const std::vector<uint64_t>& first = FirstRows(index / Journal::kPageRecords);
    const size_t inPage = index % Journal::kPageRecords;
    if (inPage >= first.size())
        return Row{0, 0, false};
    const uint64_t into = (row - first[inPage]) * m_bytesPerRow;
    if (into >= record.size)
        return Row{record.offset, 0, false}; // its page could not be read back
    return Row{record.offset + into, uint32_t(std::min<uint64_t>(m_bytesPerRow, record.size - into)),
               record.direction == TrafficDirection::Sent};
}

uint64_t JournalRows::RowOf(uint64_t offset) const
{
    const size_t index = m_journal.RecordAt(offset);
    const JournalRecord record = m_journal.Record(index);
    const std::vector<uint64_t>& first = FirstRows(index / Journal::kPageRecords);
    const size_t inPage = index % Journal::kPageRecords;
    if (inPage >= first.size())
        return 0;
    return first[inPage] + (offset - record.offset) / m_bytesPerRow;
}

std::wstring DescribeJournalByte(const Journal& journal, uint64_t offset)
{
    const JournalRecord record = journal.Record(journal.RecordAt(offset));
    if (offset < record.offset || offset - record.offset >= record.size)
        return {}; // its record could not be read back
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
