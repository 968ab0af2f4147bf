#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

// Bytes held in fixed-size chunks. Appending never moves what is held, so a
// store of hundreds of megabytes grows at the cost of the new bytes alone (a
// vector's reallocation copies everything, which froze the window for most
// of a second), and the oldest bytes go a chunk at a time.
class ChunkedBytes {
public:
    static constexpr size_t kChunk = size_t(1) << 16;

    ChunkedBytes() = default;
    // For small stores and tests; copies.
    ChunkedBytes(const std::vector<uint8_t>& bytes) { Append(bytes.data(), bytes.size()); }
    ChunkedBytes(ChunkedBytes&&) noexcept = default;
    ChunkedBytes& operator=(ChunkedBytes&&) noexcept = default;

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    uint8_t operator[](size_t index) const { return At(index); }
    uint8_t& operator[](size_t index) { return At(index); }
    uint8_t back() const { return At(m_size - 1); }

    void Append(const uint8_t* data, size_t count);
    void Append(const std::vector<uint8_t>& bytes) { Append(bytes.data(), bytes.size()); }
    void push_back(uint8_t byte) { Append(&byte, 1); }
    // The oldest `count` bytes go; whole chunks are freed as they empty.
    void DropFront(size_t count);
    // The newest `count` bytes go (an append that failed half way).
    void DropBack(size_t count) { m_size -= std::min(count, m_size); }
    // Empty, with all memory given back.
    void Clear();

    std::vector<uint8_t> Copy(size_t from = 0, size_t count = SIZE_MAX) const;
    // Calls `visit(data, size)` for each contiguous run of [from, from + count).
    template <class Visit>
    void ForEachRun(size_t from, size_t count, Visit visit) const
    {
        count = from < m_size ? std::min(count, m_size - from) : 0;
        size_t at = m_head + from;
        while (count > 0) {
            const size_t run = std::min(count, kChunk - at % kChunk);
            visit(m_chunks[at / kChunk].get() + at % kChunk, run);
            at += run;
            count -= run;
        }
    }
    // The first match at or after `from`; -1 when there is none.
    int64_t Find(const std::vector<uint8_t>& pattern, size_t from) const;
    // Memory held for the bytes, for the benchmarks.
    size_t Held() const { return m_chunks.size() * kChunk; }

    friend bool operator==(const ChunkedBytes& a, const std::vector<uint8_t>& b) { return a.Copy() == b; }

private:
    uint8_t& At(size_t index) const
    {
        const size_t at = m_head + index;
        return m_chunks[at / kChunk][at % kChunk];
    }

    std::deque<std::unique_ptr<uint8_t[]>> m_chunks;
    std::unique_ptr<uint8_t[]> m_spare; // the last one dropped, for the next to come
    size_t m_head = 0; // where the first byte sits in the first chunk
    size_t m_size = 0;
};
