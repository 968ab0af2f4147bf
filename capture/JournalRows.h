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
    // The record whose rows hold `row`.
    size_t RecordOfRow(uint64_t row) const;

    const Journal& m_journal;
    uint64_t m_bytesPerRow;
    std::vector<uint64_t> m_firstRow; // of each record taken in; a marker has none of its own
    uint64_t m_rows = 0;
    uint64_t m_bytes = 0;
};

// For the status text: "RX 15:20:48.123456 from 127.0.0.1:5000, byte 3 of 20"
// for the block that holds `offset` (< journal.Size()), in local time.
std::wstring DescribeJournalByte(const Journal& journal, uint64_t offset);
