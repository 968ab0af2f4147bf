#pragma once

#include "capture/Journal.h"
#include "capture/PcapngExport.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The extension after the file name's last dot, in lower case; empty when
// there is none.
std::wstring LowerCaseExtension(const std::wstring& path);

// Writes traffic to a file while the link runs, on a thread of its own, so
// that a slow or full disk never holds the window up. The window hands it
// bytes already in the file's format or, for a capture, the journal's
// blocks, which become packets on the writer's thread. A write that fails
// ends the recording: it then counts what it could not write, and says so.
class Recorder {
public:
    enum class Format { Text, Received, Pcapng };
    // What may wait for the disk at most (bytes, and what a block's entry
    // costs besides); beyond, the recording ends as if the disk were full,
    // so that neither memory nor a Stop waits on it.
    static constexpr size_t kMaxQueued = size_t(64) << 20;
    // ".bin" records the received bytes, ".pcapng" all traffic for
    // Wireshark, any other name the log's lines.
    static Format FormatFor(const std::wstring& path);

    Recorder() = default;
    ~Recorder() { Stop(); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Makes (or replaces) the file and starts writing; false when it cannot
    // be made.
    bool Start(const std::wstring& path);
    // What to append next. Ignored when not recording.
    void Write(std::vector<uint8_t> bytes);
    // A capture's next block, with its bytes (none for a client's coming or
    // going); `session` may be null (then it makes no packet).
    void Write(const JournalRecord& record, const JournalSession* session, const std::wstring& peer,
               std::vector<uint8_t> bytes);
    // Writes what is queued, then closes the file.
    void Stop();

    bool Recording() const { return m_file != INVALID_HANDLE_VALUE; }
    Format FileFormat() const { return m_format; }
    const std::wstring& Path() const { return m_path; }
    uint64_t Written() const { return m_written; }
    bool Failed() const { return m_failed; }
    // After a failure: the bytes handed over that are not in the file.
    uint64_t Unrecorded() const { return m_unrecorded; }
    DWORD Error() const { return m_error; }
    // The failure was a disk that could not keep up, not a write error.
    bool FellBehind() const { return m_fellBehind; }

private:
    static constexpr size_t kRun = size_t(4) << 20; // bytes written at once
    static constexpr int kGatherMs = 50;
    static constexpr size_t kWakeAt = size_t(16) << 20; // queued bytes that wake a gathering writer
    struct Entry {
        std::vector<uint8_t> bytes;
        bool block = false; // a capture's block, made into packets when written
        JournalRecord record;
        std::optional<JournalSession> session; // none: the block makes no packet
        std::wstring peer;
        size_t charge = 0; // against kMaxQueued: a million one-byte blocks are not a megabyte
    };
    // What the writer has taken and not yet written.
    struct Taken {
        uint64_t bytes = 0; // handed over, for what is not recorded
        size_t charge = 0;  // its room in the queue
    };
    void Queue(Entry entry);
    void Run();
    // Writes `out`, which stands for `taken`, and gives its room in the
    // queue back; what the file refused counts as not recorded.
    void Flush(std::vector<uint8_t>& out, Taken& taken);

    std::wstring m_path;
    Format m_format = Format::Text;
    HANDLE m_file = INVALID_HANDLE_VALUE;
    std::thread m_writer;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Entry> m_queue;                // guarded by m_lock
    bool m_stopping = false;                  // guarded by m_lock
    bool m_idle = false;                      // waits for the next entry; guarded by m_lock
    size_t m_queued = 0; // charges of the entries queued or taken and not yet written; guarded by m_lock
    std::atomic<uint64_t> m_written{0};
    std::atomic<uint64_t> m_unrecorded{0};
    std::atomic<bool> m_failed{false};
    std::atomic<DWORD> m_error{0};
    std::atomic<bool> m_fellBehind{false};
    PcapngFromJournal m_packets; // the writer's own
};
