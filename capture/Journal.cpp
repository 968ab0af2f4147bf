#include "capture/Journal.h"

#include <algorithm>
#include <cstring>
#include <cstdio>

Journal::Journal(size_t ramBudget, std::wstring spillPath)
    : m_budget(std::max(ramBudget, ChunkedBytes::kChunk)), m_spillPath(std::move(spillPath))
{
}

Journal::~Journal()
{
    if (m_spill != INVALID_HANDLE_VALUE)
        CloseHandle(m_spill); // deleted on close
}

uint32_t Journal::PeerIndex(const std::wstring& peer)
{
    const auto [at, added] = m_peerIndex.emplace(peer, uint32_t(m_peers.size()));
    if (added)
        m_peers.push_back(peer);
    return at->second;
}

void Journal::Append(TrafficDirection direction, uint64_t timeUs, uint32_t session, uint32_t client,
                     const std::wstring& peer, const uint8_t* data, size_t size)
{
    if (size == 0)
        return;
    JournalRecord& record = AddRecord(JournalEvent::Data, timeUs, session, client, peer);
    record.size = uint32_t(size);
    record.direction = direction;
    m_memory.Append(data, size);
    m_size += size;
    SpillOverBudget();
}

void Journal::Mark(JournalEvent event, uint64_t timeUs, uint32_t session, uint32_t client, const std::wstring& peer)
{
    AddRecord(event, timeUs, session, client, peer);
}

JournalRecord& Journal::AddRecord(JournalEvent event, uint64_t timeUs, uint32_t session, uint32_t client,
                                  const std::wstring& peer)
{
    JournalRecord& record = m_records.emplace_back();
    record.offset = m_size;
    record.event = event;
    record.timeUs = timeUs;
    record.session = session;
    record.client = client;
    record.peer = PeerIndex(peer);
    return record;
}

// Whole chunks from the front, appended to the file at their own offsets.
// Once over the budget, down to a megabyte under it: a write a megabyte at a
// time costs a fraction of one a chunk at a time.
void Journal::SpillOverBudget()
{
    constexpr size_t kRun = size_t(16) * ChunkedBytes::kChunk;
    if (m_spillFailed || m_memory.size() <= m_budget)
        return;
    if (m_spill == INVALID_HANDLE_VALUE) {
        m_spill = CreateFileW(m_spillPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (m_spill == INVALID_HANDLE_VALUE) {
            m_spillFailed = true;
            return;
        }
    }
    const size_t keep = m_budget > kRun ? m_budget - kRun : 0;
    while (m_memory.size() >= keep + ChunkedBytes::kChunk) {
        const size_t count = std::min(kRun, (m_memory.size() - keep) / ChunkedBytes::kChunk * ChunkedBytes::kChunk);
        m_spillRun.resize(count);
        size_t at = 0;
        m_memory.ForEachRun(0, count, [&](const uint8_t* data, size_t size) {
            std::memcpy(m_spillRun.data() + at, data, size);
            at += size;
        });
        OVERLAPPED where{};
        where.Offset = DWORD(m_memoryStart);
        where.OffsetHigh = DWORD(m_memoryStart >> 32);
        DWORD done = 0;
        if (!WriteFile(m_spill, m_spillRun.data(), DWORD(count), &done, &where) || done != count) {
            m_spillFailed = true; // a full disk: the bytes stay here
            return;
        }
        m_memory.DropFront(count);
        m_memoryStart += count;
    }
}

void Journal::Clear()
{
    m_memory.Clear();
    m_records.clear();
    m_peers.clear();
    m_peerIndex.clear();
    m_memoryStart = m_size = 0;
    m_spillFailed = false;
    if (m_spill != INVALID_HANDLE_VALUE) {
        LARGE_INTEGER zero{};
        SetFilePointerEx(m_spill, zero, nullptr, FILE_BEGIN);
        SetEndOfFile(m_spill);
    }
}

size_t Journal::RecordAt(uint64_t offset) const
{
    const auto after = std::upper_bound(m_records.begin(), m_records.end(), offset,
                                        [](uint64_t at, const JournalRecord& r) { return at < r.offset; });
    return after == m_records.begin() ? 0 : size_t(after - m_records.begin()) - 1;
}

size_t Journal::Read(uint64_t from, uint8_t* out, size_t count) const
{
    if (from >= m_size)
        return 0;
    count = size_t(std::min<uint64_t>(count, m_size - from));
    size_t done = 0;
    if (from < m_memoryStart) {
        const size_t fromFile = size_t(std::min<uint64_t>(count, m_memoryStart - from));
        while (done < fromFile) {
            OVERLAPPED where{};
            const uint64_t at = from + done;
            where.Offset = DWORD(at);
            where.OffsetHigh = DWORD(at >> 32);
            DWORD got = 0;
            const DWORD ask = DWORD(std::min<size_t>(fromFile - done, 1u << 30));
            if (!ReadFile(m_spill, out + done, ask, &got, &where) || got == 0)
                return done;
            done += got;
        }
    }
    const uint64_t memoryFrom = from + done - m_memoryStart;
    m_memory.ForEachRun(size_t(memoryFrom), count - done, [&](const uint8_t* data, size_t size) {
        std::copy(data, data + size, out + done);
        done += size;
    });
    return done;
}

int64_t Journal::Find(const std::vector<uint8_t>& pattern, uint64_t from) const
{
    const uint64_t n = pattern.size();
    if (n == 0 || n > m_size)
        return -1;
    // The spilled bytes, a window at a time; a window reaches n - 1 bytes
    // past its last start so that matches across its end are found.
    constexpr size_t kWindow = size_t(1) << 20;
    std::vector<uint8_t> window;
    while (from < m_memoryStart) {
        window.resize(size_t(std::min<uint64_t>(kWindow + n - 1, m_size - from)));
        window.resize(Read(from, window.data(), window.size()));
        const auto at = std::search(window.begin(), window.end(), pattern.begin(), pattern.end());
        if (at != window.end())
            return int64_t(from + uint64_t(at - window.begin()));
        if (window.size() < n)
            return -1;
        from += window.size() - n + 1;
    }
    const int64_t found = m_memory.Find(pattern, size_t(from - m_memoryStart));
    return found < 0 ? -1 : found + int64_t(m_memoryStart);
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
