#include "capture/Journal.h"

#include <algorithm>
#include <new>
#include <cstring>
#include <cstdio>

Journal::Journal(size_t ramBudget, std::wstring spillPath)
    : m_budget(std::max(ramBudget, ChunkedBytes::kChunk)), m_spillPath(std::move(spillPath))
{
}

Journal::~Journal()
{
    // Both are deleted on close.
    if (m_spill != INVALID_HANDLE_VALUE)
        CloseHandle(m_spill);
    if (m_recordSpill != INVALID_HANDLE_VALUE)
        CloseHandle(m_recordSpill);
}

namespace {

HANDLE MakeSpillFile(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

OVERLAPPED At(uint64_t offset)
{
    OVERLAPPED where{};
    where.Offset = DWORD(offset);
    where.OffsetHigh = DWORD(offset >> 32);
    return where;
}

void Truncate(HANDLE file)
{
    if (file == INVALID_HANDLE_VALUE)
        return;
    LARGE_INTEGER zero{};
    SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
}

} // namespace

uint32_t Journal::PeerIndex(const std::wstring& peer)
{
    const auto known = m_peerIndex.find(peer);
    if (known != m_peerIndex.end())
        return known->second;
    const uint32_t index = uint32_t(m_peers.size());
    m_peers.push_back(peer);
    try {
        m_peerIndex.emplace(peer, index);
    } catch (...) {
        m_peers.pop_back();
        throw;
    }
    return index;
}

bool Journal::Append(TrafficDirection direction, uint64_t timeUs, uint32_t session, uint32_t client,
                     const std::wstring& peer, const uint8_t* data, size_t size)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (size == 0)
        return true;
    // The bytes first, then the record: either can find no memory, and then
    // the other is taken back, so that every record's bytes are where it says.
    const size_t held = m_memory.size();
    try {
        m_memory.Append(data, size);
        JournalRecord& record = AddRecord(JournalEvent::Data, timeUs, session, client, peer);
        record.size = uint32_t(size);
        record.direction = direction;
    } catch (const std::bad_alloc&) {
        m_memory.DropBack(m_memory.size() - held);
        m_unheld += size;
        return false;
    }
    m_size += size;
    try {
        SpillOverBudget();
    } catch (const std::bad_alloc&) {
        // Over the budget a while: the next block tries again.
    }
    return true;
}

void Journal::Mark(JournalEvent event, uint64_t timeUs, uint32_t session, uint32_t client, const std::wstring& peer)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    AddRecord(event, timeUs, session, client, peer);
}

void Journal::MarkSerial(JournalEvent event, TrafficDirection direction, uint8_t lines, uint64_t timeUs,
                         uint32_t session, const std::wstring& peer)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_serialLines = lines;
    AddRecord(event, timeUs, session, 0, peer).direction = direction;
}

JournalRecord& Journal::AddRecord(JournalEvent event, uint64_t timeUs, uint32_t session, uint32_t client,
                                  const std::wstring& peer)
{
    const uint32_t peerIndex = PeerIndex(peer);
    if (m_pages.empty() || m_pages.back().size() == kPageRecords) {
        std::vector<JournalRecord> page;
        page.reserve(kPageRecords);
        m_pageOffset.push_back(m_size);
        try {
            m_pages.push_back(std::move(page));
        } catch (...) {
            m_pageOffset.pop_back();
            throw;
        }
    }
    // The newest page is never spilled, and has room: the reference holds.
    JournalRecord& record = m_pages.back().emplace_back();
    ++m_recordCount;
    record.offset = m_size;
    record.event = event;
    record.timeUs = timeUs;
    record.session = session;
    record.client = client;
    record.peer = peerIndex;
    record.lines = m_serialLines;
    try {
        SpillRecordsOverBudget();
    } catch (const std::bad_alloc&) {
        // The records stay in memory a while: the next one tries again.
    }
    return record;
}

// Whole chunks from the front, appended to the file at their own offsets.
// Once over the budget, down to four megabytes under it: a write of four
// megabytes costs a fraction of sixty-four writes of a chunk.
void Journal::SpillOverBudget()
{
    constexpr size_t kRun = size_t(64) * ChunkedBytes::kChunk;
    const size_t budget = ByteBudget();
    if (m_memory.size() <= budget)
        return;
    if (m_forgetting == Forgetting::No && m_spill == INVALID_HANDLE_VALUE) {
        m_spill = MakeSpillFile(m_spillPath);
        if (m_spill == INVALID_HANDLE_VALUE) {
            m_spillFailed = true;
            m_spillError = GetLastError();
            m_forgetting = Forgetting::SpillFailed;
        }
    }
    const size_t keep = budget > kRun ? budget - kRun : 0;
    while (m_memory.size() >= keep + ChunkedBytes::kChunk) {
        const size_t count = std::min(kRun, (m_memory.size() - keep) / ChunkedBytes::kChunk * ChunkedBytes::kChunk);
        if (m_forgetting == Forgetting::No && m_diskEnd + count > m_diskCap)
            m_forgetting = Forgetting::DiskCap;
        if (m_forgetting == Forgetting::No) {
            m_spillRun.resize(count);
            size_t at = 0;
            m_memory.ForEachRun(0, count, [&](const uint8_t* data, size_t size) {
                std::memcpy(m_spillRun.data() + at, data, size);
                at += size;
            });
            OVERLAPPED where = At(m_memoryStart);
            DWORD done = 0;
            if (!WriteFile(m_spill, m_spillRun.data(), DWORD(count), &done, &where) || done != count) {
                m_spillFailed = true; // a full disk: the file keeps what it took before
                m_spillError = GetLastError();
                m_forgetting = Forgetting::SpillFailed;
            } else {
                m_diskEnd += count;
            }
        }
        // Kept on disk, or no longer kept at all: either way memory stays
        // within its budget.
        m_memory.DropFront(count);
        m_memoryStart += count;
    }
}

// Whole pages from the front, each written at its own place in one write.
void Journal::SpillRecordsOverBudget()
{
    const size_t pageBytes = kPageRecords * sizeof(JournalRecord);
    while (!m_recordSpillFailed && m_pages.size() > 1 && RecordsInMemory() * sizeof(JournalRecord) > RecordBudget()) {
        if (m_recordSpill == INVALID_HANDLE_VALUE) {
            // No path yet: not a file named ".records" wherever we are.
            m_recordSpill = m_spillPath.empty() ? INVALID_HANDLE_VALUE : MakeSpillFile(m_spillPath + L".records");
            if (m_recordSpill == INVALID_HANDLE_VALUE) {
                m_recordSpillFailed = true;
                return;
            }
        }
        OVERLAPPED where = At(uint64_t(m_firstMemoryPage) * pageBytes);
        DWORD done = 0;
        if (!WriteFile(m_recordSpill, m_pages.front().data(), DWORD(pageBytes), &done, &where) || done != pageBytes) {
            m_recordSpillFailed = true; // they stay here
            return;
        }
        m_pages.pop_front();
        ++m_firstMemoryPage;
    }
}

const JournalRecord* Journal::Page(size_t page, size_t& count) const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return CachedPage(page, count, m_readPage);
}

const JournalRecord* Journal::CachedPage(size_t page, size_t& count, SpilledPage& cache) const
{
    count = 0;
    if (page >= m_firstMemoryPage) {
        const size_t at = page - m_firstMemoryPage;
        if (at >= m_pages.size())
            return nullptr;
        count = m_pages[at].size();
        return m_pages[at].data();
    }
    if (cache.index != page) {
        const size_t pageBytes = kPageRecords * sizeof(JournalRecord);
        cache.records.resize(kPageRecords);
        OVERLAPPED where = At(uint64_t(page) * pageBytes);
        DWORD got = 0;
        if (!ReadFile(m_recordSpill, cache.records.data(), DWORD(pageBytes), &got, &where) || got != pageBytes) {
            cache.index = SIZE_MAX;
            ++m_readFailures;
            return nullptr;
        }
        cache.index = page;
    }
    count = kPageRecords;
    return cache.records.data();
}

void Journal::Clear()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_memory.Clear();
    std::deque<std::vector<JournalRecord>>().swap(m_pages);
    m_pageOffset.clear();
    m_firstMemoryPage = m_recordCount = 0;
    m_readPage.index = m_recordPage.index = SIZE_MAX;
    m_peers.clear();
    m_peerIndex.clear();
    m_memoryStart = m_size = 0;
    m_diskEnd = 0;
    m_unheld = 0;
    m_forgetting = Forgetting::No;
    m_spillError = 0;
    m_spillFailed = m_recordSpillFailed = false;
    Truncate(m_spill);
    Truncate(m_recordSpill);
}

size_t Journal::RecordAt(uint64_t offset) const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    // The last record that starts at or before it: its page first, by the
    // pages' first offsets, then in the page.
    const auto afterPage = std::upper_bound(m_pageOffset.begin(), m_pageOffset.end(), offset);
    const size_t page = afterPage == m_pageOffset.begin() ? 0 : size_t(afterPage - m_pageOffset.begin()) - 1;
    size_t count = 0;
    const JournalRecord* records = Page(page, count);
    const auto after = std::upper_bound(records, records + count, offset,
                                        [](uint64_t at, const JournalRecord& r) { return at < r.offset; });
    return page * kPageRecords + (after == records ? 0 : size_t(after - records) - 1);
}

size_t Journal::Read(uint64_t from, uint8_t* out, size_t count) const
{
    size_t done = 0;
    while (done < count) {
        const uint64_t at = from + done;
        size_t fromFile = 0;
        {
            std::lock_guard<std::recursive_mutex> lock(m_lock);
            if (at >= m_size || !IsKept(at))
                break;
            if (at >= m_memoryStart) {
                const size_t want = size_t(std::min<uint64_t>(count - done, m_size - at));
                m_memory.ForEachRun(size_t(at - m_memoryStart), want, [&](const uint8_t* data, size_t size) {
                    std::copy(data, data + size, out + done);
                    done += size;
                });
                break;
            }
            fromFile = size_t(std::min<uint64_t>(count - done, m_diskEnd - at));
        }
        // On disk: written once, never changed until Clear, which no reader
        // outlives; the lock is not needed for it.
        for (size_t read = 0; read < fromFile;) {
            OVERLAPPED where = At(at + read);
            DWORD got = 0;
            const DWORD ask = DWORD(std::min<size_t>(fromFile - read, 1u << 30));
            if (!ReadFile(m_spill, out + done + read, ask, &got, &where) || got == 0) {
                ++m_readFailures;
                return done + read;
            }
            read += got;
        }
        done += fromFile;
    }
    return done;
}

int64_t Journal::Find(const std::vector<uint8_t>& pattern, uint64_t from, const std::atomic<bool>* cancel,
                      std::atomic<uint64_t>* reached) const
{
    const uint64_t n = pattern.size();
    if (n == 0)
        return -1;
    // A window at a time, each read under the lock on its own, so that the
    // writer is never kept waiting for the whole search; a window reaches
    // n - 1 bytes past its last start so that matches across its end are
    // found. Bytes no longer kept hold no match, nor one across them.
    constexpr size_t kWindow = size_t(1) << 20;
    std::vector<uint8_t> window;
    const uint64_t failures = ReadFailures();
    for (;;) {
        uint64_t end = 0, size = 0;
        {
            std::lock_guard<std::recursive_mutex> lock(m_lock);
            size = m_size;
            if (!IsKept(from))
                from = m_memoryStart;
            end = from < m_diskEnd && m_diskEnd < m_memoryStart ? m_diskEnd : m_size;
        }
        if (from + n > end) {
            if (end == size)
                return -1;
            from = end; // past the file's end: on from where memory begins
            continue;
        }
        const size_t want = size_t(std::min<uint64_t>(kWindow + n - 1, end - from));
        window.resize(want);
        window.resize(Read(from, window.data(), want));
        const auto at = std::search(window.begin(), window.end(), pattern.begin(), pattern.end());
        if (at != window.end())
            return int64_t(from + uint64_t(at - window.begin()));
        if (window.size() < n) {
            // Forgotten since the look above, or not to be read back.
            if (ReadFailures() == failures)
                continue;
            return -1;
        }
        if (reached)
            *reached = from + window.size();
        if (cancel && cancel->load())
            return -1;
        from += window.size() - n + 1;
    }
}

namespace {

// False when something in it could not be deleted (a copy still uses it).
bool RemoveFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryW(folder.c_str()) != FALSE;
}

} // namespace

JournalFolder::JournalFolder(const std::wstring& parent)
    : m_path(parent + L"\\journal-" + std::to_wstring(GetCurrentProcessId()))
{
    CreateDirectoryW(m_path.c_str(), nullptr);
    m_marker = CreateFileW((m_path + L"\\in-use").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

JournalFolder::~JournalFolder()
{
    if (m_marker != INVALID_HANDLE_VALUE)
        CloseHandle(m_marker);
    RemoveFolder(m_path);
}

void RemoveStaleJournalFolders(const std::wstring& parent)
{
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((parent + L"\\journal-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveFolder(parent + L"\\" + found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}
