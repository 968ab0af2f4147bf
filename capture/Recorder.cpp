#include "capture/Recorder.h"

#include <cwctype>

std::wstring LowerCaseExtension(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    const size_t dot = path.find_last_of(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        return {};
    std::wstring extension = path.substr(dot + 1);
    for (wchar_t& c : extension)
        c = wchar_t(std::towlower(c));
    return extension;
}

Recorder::Format Recorder::FormatFor(const std::wstring& path)
{
    const std::wstring extension = LowerCaseExtension(path);
    return extension == L"bin" ? Format::Received : extension == L"pcapng" ? Format::Pcapng : Format::Text;
}

bool Recorder::Start(const std::wstring& path)
{
    Stop();
    m_file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    if (m_file == INVALID_HANDLE_VALUE)
        return false;
    m_path = path;
    m_format = FormatFor(path);
    m_written = 0;
    m_unrecorded = 0;
    m_failed = false;
    m_error = 0;
    m_fellBehind = false;
    m_stopping = false;
    m_idle = false;
    m_queued = 0;
    m_packets = PcapngFromJournal();
    m_writer = std::thread([this] { Run(); });
    return true;
}

void Recorder::Write(std::vector<uint8_t> bytes)
{
    if (bytes.empty())
        return;
    Entry entry;
    entry.bytes = std::move(bytes);
    entry.charge = sizeof(Entry);
    Queue(std::move(entry));
}

void Recorder::Write(const JournalRecord& record, const JournalSession* session, const std::wstring& peer,
                     std::vector<uint8_t> bytes)
{
    Entry entry;
    entry.bytes = std::move(bytes);
    entry.block = true;
    entry.record = record;
    if (record.event == JournalEvent::Data) // the packets read only what is there
        entry.record.size = uint32_t(std::min<size_t>(record.size, entry.bytes.size()));
    if (session) // without one it still gives the packets their latest time
        entry.session = *session;
    entry.peer = peer;
    entry.charge = sizeof(Entry) + (peer.size() + (session ? session->remote.size() : 0)) * sizeof(wchar_t);
    Queue(std::move(entry));
}

void Recorder::Queue(Entry entry)
{
    if (!Recording())
        return;
    const size_t size = entry.bytes.size();
    if (m_failed) {
        m_unrecorded += size;
        return;
    }
    entry.charge += size;
    const size_t charge = entry.charge;
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_queued + charge > kMaxQueued) {
            m_fellBehind = true;
            m_failed = true;
            m_unrecorded += size;
            return;
        }
        m_queued += charge;
        m_queue.push_back(std::move(entry));
        // Waking the writer costs the window a switch of threads (a tenth of
        // a millisecond here): only an idle writer is woken, or one that
        // has much to take before its gathering time is up.
        wake = m_idle || (m_queued >= kWakeAt && m_queued - charge < kWakeAt);
        m_idle = false;
    }
    if (wake)
        m_wake.notify_one();
}

void Recorder::Stop()
{
    if (!Recording())
        return;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_writer.joinable())
        m_writer.join();
    CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
}

void Recorder::Flush(std::vector<uint8_t>& out, Taken& taken)
{
    size_t done = 0;
    while (!m_failed && done < out.size()) {
        DWORD wrote = 0;
        const DWORD ask = DWORD(std::min<size_t>(out.size() - done, 1u << 30));
        if (!WriteFile(m_file, out.data() + done, ask, &wrote, nullptr) || wrote == 0) {
            m_error = GetLastError();
            m_failed = true;
            break;
        }
        done += wrote;
    }
    m_written += done;
    if (done < out.size()) {
        // What the file lacks: for raw bytes exactly what was not written;
        // a capture's packets are whole or useless.
        m_unrecorded += m_format == Format::Pcapng ? taken.bytes : out.size() - done;
    }
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_queued -= taken.charge;
    }
    out.clear();
    taken = Taken();
}

// Packets are made here, and written in runs of a few megabytes: a write
// per small block would cost the disk more than the blocks do. While blocks
// come, they are gathered for a moment at a time without waking this
// thread; once none came for that long, it sleeps until the next.
void Recorder::Run()
{
    std::vector<uint8_t> out;
    Taken taken; // what `out` stands for
    if (m_format == Format::Pcapng)
        out = m_packets.Start();
    for (;;) {
        std::deque<Entry> batch;
        {
            std::unique_lock<std::mutex> hold(m_lock);
            m_wake.wait_for(hold, std::chrono::milliseconds(kGatherMs),
                            [this] { return m_stopping || m_queued >= kWakeAt; });
            if (m_queue.empty() && !m_stopping) {
                m_idle = true;
                m_wake.wait(hold, [this] { return m_stopping || !m_queue.empty(); });
                m_idle = false;
                continue; // and gather what follows the first
            }
            if (m_queue.empty())
                break; // stopping, and all taken
            batch.swap(m_queue);
        }
        for (Entry& next : batch) {
            taken.bytes += next.bytes.size();
            taken.charge += next.charge;
            if (m_failed) {
                // Made, or just taken, but never to be written.
                m_unrecorded += taken.bytes;
                out.clear();
                Flush(out, taken); // gives their room in the queue back
                continue;
            }
            if (next.block)
                m_packets.Take(out, next.record, next.session ? &*next.session : nullptr, next.peer,
                               next.bytes.data());
            else
                out.insert(out.end(), next.bytes.begin(), next.bytes.end());
            if (out.size() >= kRun)
                Flush(out, taken);
        }
        Flush(out, taken);
    }
    if (m_format == Format::Pcapng && !m_failed)
        m_packets.Finish(out);
    Flush(out, taken);
}
