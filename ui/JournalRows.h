#pragma once

#include "capture/Journal.h"
#include "hexview/HexModel.h"

#include <cstdint>
#include <string>
#include <vector>

// The journal's traffic as hex rows. Each block starts a row of its own, so
// an exchange reads as alternating rows, and sent blocks keep their colour.
class JournalRows : public HexRows {
public:
    JournalRows(const Journal& journal, int32_t bytesPerRow)
        : m_journal(journal), m_bytesPerRow(uint64_t(std::max(bytesPerRow, 1)))
    {
    }

    // Takes in the blocks journalled since the last call; after the
    // journal's Clear, starts over.
    void Update();

    uint64_t ByteCount() const override { return m_bytes; }
    uint64_t RowCount() const override { return m_rows; }
    Row At(uint64_t row) const override;
    uint64_t RowOf(uint64_t offset) const override;
    size_t Read(uint64_t from, uint8_t* out, size_t count) const override
    {
        return m_journal.Read(from, out, size_t(std::min<uint64_t>(count, m_bytes - std::min(from, m_bytes))));
    }

private:
    uint64_t RowsOf(const JournalRecord& record) const { return (record.size + m_bytesPerRow - 1) / m_bytesPerRow; }
    // The record whose rows hold `row`.
    size_t RecordOfRow(uint64_t row) const;
    // The first row of each record of a journal page (a marker has none of
    // its own, and shares the next block's), worked out when first asked.
    const std::vector<uint64_t>& FirstRows(size_t page) const;

    const Journal& m_journal;
    uint64_t m_bytesPerRow;
    // Per page, not per record: a journal of small blocks keeps its
    // records on disk, and its rows must not fill the memory instead.
    std::vector<uint64_t> m_pageFirstRow;
    size_t m_taken = 0; // records taken in
    uint64_t m_rows = 0;
    uint64_t m_bytes = 0;
    mutable size_t m_firstRowsPage = SIZE_MAX;
    mutable std::vector<uint64_t> m_firstRows;
};

// For the status text: "RX 15:20:48.123456 from 127.0.0.1:5000, byte 3 of 20"
// for the block that holds `offset` (< journal.Size()), in local time.
std::wstring DescribeJournalByte(const Journal& journal, uint64_t offset);
