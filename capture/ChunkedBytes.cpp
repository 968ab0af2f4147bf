#include "capture/ChunkedBytes.h"

#include <algorithm>
#include <cstring>

void ChunkedBytes::Append(const uint8_t* data, size_t count)
{
    while (count > 0) {
        const size_t end = m_head + m_size;
        if (end == m_chunks.size() * kChunk) {
            // Uninitialised, and the dropped one when there is one: fresh
            // memory costs a page fault a page, about as much as the copy.
            m_chunks.push_back(m_spare ? std::move(m_spare) : std::unique_ptr<uint8_t[]>(new uint8_t[kChunk]));
        }
        const size_t run = std::min(count, kChunk - end % kChunk);
        std::memcpy(m_chunks[end / kChunk].get() + end % kChunk, data, run);
        data += run;
        count -= run;
        m_size += run;
    }
}

void ChunkedBytes::DropFront(size_t count)
{
    count = std::min(count, m_size);
    m_head += count;
    m_size -= count;
    while (m_head >= kChunk) {
        m_spare = std::move(m_chunks.front());
        m_chunks.pop_front();
        m_head -= kChunk;
    }
    if (m_size == 0 && m_head > 0) { // nothing left to keep the chunk for
        m_chunks.clear();
        m_head = 0;
    }
}

void ChunkedBytes::Clear()
{
    std::deque<std::unique_ptr<uint8_t[]>>().swap(m_chunks);
    m_spare.reset();
    m_head = m_size = 0;
}

std::vector<uint8_t> ChunkedBytes::Copy(size_t from, size_t count) const
{
    std::vector<uint8_t> out;
    out.reserve(from < m_size ? std::min(count, m_size - from) : 0);
    ForEachRun(from, count, [&](const uint8_t* data, size_t size) { out.insert(out.end(), data, data + size); });
    return out;
}

int64_t ChunkedBytes::Find(const std::vector<uint8_t>& pattern, size_t from) const
{
    if (pattern.empty() || pattern.size() > m_size || from > m_size - pattern.size())
        return -1;
    const size_t last = m_size - pattern.size(); // the last place a match can start
    int64_t found = -1;
    size_t base = from;
    ForEachRun(from, last - from + 1, [&](const uint8_t* data, size_t size) {
        for (size_t i = 0; found < 0 && i < size;) {
            const auto* first = static_cast<const uint8_t*>(std::memchr(data + i, pattern[0], size - i));
            if (!first)
                break;
            const size_t at = base + size_t(first - data);
            size_t k = 1;
            while (k < pattern.size() && At(at + k) == pattern[k])
                ++k;
            if (k == pattern.size())
                found = int64_t(at);
            i = size_t(first - data) + 1;
        }
        base += size;
    });
    return found;
}
