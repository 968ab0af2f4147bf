#pragma once

#include "capture/ChunkedBytes.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

enum class TrafficDirection : uint8_t { Received, Sent };

// What a long read of the journal on another thread (an export, a search)
// reports, and how it is stopped.
struct JobProgress {
    std::atomic<uint64_t> done{0};
    std::atomic<uint64_t> total{0};
    std::atomic<bool> cancel{false};
    // Bytes the journal no longer kept, left out of what was written.
    std::atomic<uint64_t> notKept{0};
    bool Cancelled() const { return cancel.load(); }
};

// A block of bytes, or (with no bytes) a server's client coming or going,
// a serial port's control lines changing, or a Break on its line.
enum class JournalEvent : uint8_t { Data, ClientOpened, ClientClosed, SerialLines, SerialBreak };

// What a run of a link was, for writing its traffic as packets.
struct JournalSession {
    enum class Link : uint8_t { TcpClient, TcpServer, Udp, Serial } link = Link::TcpClient;
    std::wstring remote; // "address:port" that a client connects or sends to
    uint16_t localPort = 0; // where a server or listener listens
};

// One block as it crossed a link.
struct JournalRecord {
    uint64_t offset = 0; // where its bytes start in the journal
    uint32_t size = 0;
    TrafficDirection direction = TrafficDirection::Received;
    uint64_t timeUs = 0;  // microseconds since 1970-01-01 UTC
    uint32_t session = 0; // which run of a link: a reconnect is a new one
    uint32_t client = 0;  // the server's client; 0 for other links
    uint32_t peer = 0;    // index into the journal's peer texts
    JournalEvent event = JournalEvent::Data;
    uint8_t lines = 0; // a serial port's control lines at the time (SerialLine bits)
};

// Every block received or sent, in order, with its bytes. The newest bytes
// and records, up to the RAM budget, are held in memory; older ones go to
// spill files and are read back from them, so the journal is bounded by the
// disk, not by memory, however small its blocks. Once the spill reaches its
// disk cap, or a write to it fails, the oldest bytes in memory are no longer
// kept: the records stay, the bytes between what the file holds and what
// memory holds are gone, and reading them gives nothing.
// The interface thread writes it; one other thread may read it meanwhile
// (an export, a search): every call takes the journal's lock, and bytes on
// disk, which never change once written, are read outside it.
class Journal {
public:
    // Records are held, spilled and read back a page at a time.
    static constexpr size_t kPageRecords = 4096;

    // The spill file is made when first needed and deleted with the journal.
    Journal(size_t ramBudget, std::wstring spillPath);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Where to spill, until the files are made (records go to the same name
    // with ".records" after it).
    void SetSpillPath(std::wstring path) { m_spillPath = std::move(path); }
    void SetBudget(size_t ramBudget) { m_budget = std::max(ramBudget, ChunkedBytes::kChunk); }

    // The most the spill file may hold.
    void SetDiskCap(uint64_t bytes) { m_diskCap = bytes; }

    // False when the block could not be held (no memory for it): then
    // nothing of it is, and the journal is as it was.
    bool Append(TrafficDirection direction, uint64_t timeUs, uint32_t session, uint32_t client,
                const std::wstring& peer, const uint8_t* data, size_t size);
    // A server's client came or went: TCP streams open and close there.
    void Mark(JournalEvent event, uint64_t timeUs, uint32_t session, uint32_t client, const std::wstring& peer);
    // A serial port's lines changed (`direction`: by this end, or by the
    // device), or a Break went or came; every record from here on carries
    // these lines.
    void MarkSerial(JournalEvent event, TrafficDirection direction, uint8_t lines, uint64_t timeUs, uint32_t session,
                    const std::wstring& peer);
    void BeginSession(uint32_t session, JournalSession info)
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        m_sessions[session] = std::move(info);
    }
    // Null for a session never begun; a session once begun stays.
    const JournalSession* Session(uint32_t session) const
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        const auto found = m_sessions.find(session);
        return found == m_sessions.end() ? nullptr : &found->second;
    }
    void Clear();

    uint64_t Size() const
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        return m_size;
    }
    size_t RecordCount() const
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        return m_recordCount;
    }
    // A copy: a spilled record is read back into a page that the next read
    // may replace. A record that cannot be read back is all zero.
    JournalRecord Record(size_t index) const
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        size_t count = 0;
        const JournalRecord* page = CachedPage(index / kPageRecords, count, m_recordPage);
        return index % kPageRecords < count ? page[index % kPageRecords] : JournalRecord{};
    }
    // The records of a page, `count` of them (fewer than a page only at the
    // end; none when it cannot be read back). Valid until the next call, or
    // the next change to the journal: the interface thread's alone.
    const JournalRecord* Page(size_t page, size_t& count) const;
    // How many reads of spilled bytes or records failed so far: what reads
    // the whole journal checks it to fail instead of leaving blocks out.
    uint64_t ReadFailures() const { return m_readFailures.load(); }
    // Stays until Clear.
    const std::wstring& PeerText(uint32_t peer) const
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        return m_peers[peer];
    }
    // The record that holds the byte at `offset` (< Size()).
    size_t RecordAt(uint64_t offset) const;
    // Copies up to `count` bytes from `from`; fewer only at the end, or when
    // the spill file cannot be read back.
    size_t Read(uint64_t from, uint8_t* out, size_t count) const;
    // The first match at or after `from`; -1 when there is none, or when
    // `cancel` was set meanwhile. `reached`: how far it has looked.
    int64_t Find(const std::vector<uint8_t>& pattern, uint64_t from, const std::atomic<bool>* cancel = nullptr,
                 std::atomic<uint64_t>* reached = nullptr) const;

    uint64_t SpilledBytes() const { return m_memoryStart; }
    size_t BytesInMemory() const { return m_memory.size(); }
    size_t RecordsInMemory() const { return (m_recordCount - m_firstMemoryPage * kPageRecords); }
    bool SpillFailed() const { return m_spillFailed; }
    // Why the oldest bytes stopped being kept. These five are for the
    // interface thread, which alone changes them.
    enum class Forgetting { No, DiskCap, SpillFailed };
    Forgetting Forgets() const { return m_forgetting; }
    DWORD SpillError() const { return m_spillError; }
    // Bytes journalled whose bytes are gone: [DiskEnd(), SpilledBytes()).
    uint64_t ForgottenBytes() const { return m_memoryStart - m_diskEnd; }
    uint64_t DiskEnd() const { return m_diskEnd; }
    bool IsKept(uint64_t offset) const
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        return offset < m_diskEnd || offset >= m_memoryStart;
    }
    // Whether every byte of [from, from + count) is kept.
    bool AllKept(uint64_t from, uint64_t count) const
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        return m_diskEnd == m_memoryStart || from + count <= m_diskEnd || from >= m_memoryStart;
    }
    // Blocks that found no memory, and their bytes.
    uint64_t UnheldBytes() const { return m_unheld; }

private:
    // At the end, with no bytes yet.
    struct SpilledPage;
    const JournalRecord* CachedPage(size_t page, size_t& count, SpilledPage& cache) const;
    JournalRecord& AddRecord(JournalEvent event, uint64_t timeUs, uint32_t session, uint32_t client,
                             const std::wstring& peer);
    void SpillOverBudget();
    void SpillRecordsOverBudget();
    // Of the budget, what records may take; the bytes have the rest.
    size_t RecordBudget() const { return std::max(m_budget / 8, kPageRecords * sizeof(JournalRecord)); }
    size_t ByteBudget() const { return std::max(m_budget - std::min(m_budget, RecordBudget()), ChunkedBytes::kChunk); }
    uint32_t PeerIndex(const std::wstring& peer);

    size_t m_budget;
    std::wstring m_spillPath;
    HANDLE m_spill = INVALID_HANDLE_VALUE;
    std::vector<uint8_t> m_spillRun; // what is written at once, reused
    bool m_spillFailed = false;
    DWORD m_spillError = 0;
    uint64_t m_diskCap = UINT64_MAX;
    uint64_t m_diskEnd = 0; // what the spill file holds: bytes [0, m_diskEnd)
    Forgetting m_forgetting = Forgetting::No;
    uint64_t m_unheld = 0;
    ChunkedBytes m_memory;     // bytes [m_memoryStart, m_size)
    uint64_t m_memoryStart = 0; // bytes before it are in the spill file
    uint64_t m_size = 0;
    // Pages [m_firstMemoryPage, ...) are here; those before are in the
    // records' file, each at its own place.
    std::deque<std::vector<JournalRecord>> m_pages;
    size_t m_firstMemoryPage = 0;
    size_t m_recordCount = 0;
    std::vector<uint64_t> m_pageOffset; // where each page's first record starts
    HANDLE m_recordSpill = INVALID_HANDLE_VALUE;
    bool m_recordSpillFailed = false;
    // The spilled page read last: one for Page, whose pointer its caller
    // (the interface thread) holds after the call, one for Record, which
    // any reader may call and which copies under the lock.
    struct SpilledPage {
        std::vector<JournalRecord> records;
        size_t index = SIZE_MAX;
    };
    mutable SpilledPage m_readPage, m_recordPage;
    mutable std::atomic<uint64_t> m_readFailures{0};
    std::deque<std::wstring> m_peers; // a text once added stays where it is
    mutable std::recursive_mutex m_lock;
    std::unordered_map<std::wstring, uint32_t> m_peerIndex; // a server may have seen thousands
    std::map<uint32_t, JournalSession> m_sessions;
    uint8_t m_serialLines = 0;
};

// This run's folder for spill files under `parent` ("journal-<process id>").
// While it lives it holds a marker file open, which no other copy's
// clean-up can delete; with it go the folder and what is in it.
class JournalFolder {
public:
    explicit JournalFolder(const std::wstring& parent);
    ~JournalFolder();
    JournalFolder(const JournalFolder&) = delete;
    JournalFolder& operator=(const JournalFolder&) = delete;

    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
    HANDLE m_marker = INVALID_HANDLE_VALUE;
};

// Removes the journal folders that runs left behind (a crash). A running
// copy's folder stays: its open marker file cannot be deleted.
void RemoveStaleJournalFolders(const std::wstring& parent);
