#include "capture/Journal.h"
#include "capture/PcapngExport.h"

#include <windows.h>


namespace {

// The local end of a session: the peer's own address (so that both ends
// are of one family) with the port this side used, or a made-up client
// port where the system chose it.
Endpoint LocalFor(const Endpoint& remote, const JournalSession& session, uint32_t sessionId)
{
    Endpoint local = remote;
    local.port = session.localPort ? session.localPort : uint16_t(49152 + sessionId % 16384);
    return local;
}

class FileSink {
public:
    explicit FileSink(const std::wstring& path)
        : m_file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~FileSink()
    {
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(m_file);
    }
    bool Ok() const { return m_file != INVALID_HANDLE_VALUE && m_ok; }
    void Write(const std::vector<uint8_t>& bytes)
    {
        DWORD done = 0;
        m_ok = m_ok && (bytes.empty() || (WriteFile(m_file, bytes.data(), DWORD(bytes.size()), &done, nullptr) &&
                                          done == bytes.size()));
    }
    bool Close()
    {
        const bool closed = m_file != INVALID_HANDLE_VALUE && CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
        return closed && m_ok;
    }

private:
    HANDLE m_file;
    bool m_ok = true;
};

} // namespace

void PcapngFromJournal::Take(std::vector<uint8_t>& out, const JournalRecord& r, const JournalSession* session,
                             const std::wstring& peer, const uint8_t* data)
{
    m_lastTime = r.timeUs;
    if (!session)
        return;
    const auto key = [](uint32_t sessionId, uint32_t client) { return uint64_t(sessionId) << 32 | client; };
    const bool outbound = r.direction == TrafficDirection::Sent;
    Endpoint remote;
    if (!ParseEndpoint(peer, remote))
        ParseEndpoint(session->remote, remote);
    if (r.event == JournalEvent::SerialLines || r.event == JournalEvent::SerialBreak) {
        if (session->link == JournalSession::Link::Serial)
            m_maker.Serial(out,
                           r.event == JournalEvent::SerialBreak ? PcapngMaker::SerialEvent::Break
                                                                : PcapngMaker::SerialEvent::StatusChange,
                           outbound, r.lines, r.timeUs);
        return;
    }
    if (r.event != JournalEvent::Data) {
        if (session->link != JournalSession::Link::TcpServer)
            return;
        const auto stream = std::make_pair(r.session, r.client);
        if (r.event == JournalEvent::ClientOpened && !m_open.count(stream)) {
            m_maker.TcpOpen(out, key(r.session, r.client), LocalFor(remote, *session, r.session), remote, false,
                            r.timeUs);
            m_open.insert(stream);
        } else if (r.event == JournalEvent::ClientClosed && m_open.count(stream)) {
            m_maker.TcpClose(out, key(r.session, r.client), r.timeUs);
            m_open.erase(stream);
        }
        return;
    }
    switch (session->link) {
    case JournalSession::Link::Serial:
        m_maker.Serial(out, outbound, data, r.size, r.timeUs, r.lines);
        break;
    case JournalSession::Link::Udp:
        m_maker.Udp(out, LocalFor(remote, *session, r.session), remote, outbound, data, r.size, r.timeUs);
        break;
    case JournalSession::Link::TcpClient: {
        const auto stream = std::make_pair(r.session, 0u);
        if (!m_open.count(stream)) {
            ParseEndpoint(session->remote, remote); // the client's lines name only the address
            m_maker.TcpOpen(out, key(r.session, 0), LocalFor(remote, *session, r.session), remote, true, r.timeUs);
            m_open.insert(stream);
        }
        m_maker.TcpData(out, key(r.session, 0), outbound, data, r.size, r.timeUs);
        break;
    }
    case JournalSession::Link::TcpServer:
        // A client that came before a recording began gets its stream here.
        if (r.client != 0 && !m_open.count(std::make_pair(r.session, r.client)) && ParseEndpoint(peer, remote)) {
            m_maker.TcpOpen(out, key(r.session, r.client), LocalFor(remote, *session, r.session), remote, false,
                            r.timeUs);
            m_open.insert(std::make_pair(r.session, r.client));
        }
        for (const auto& stream : m_open) // to one client, or sent to all of them
            if (stream.first == r.session && (r.client == 0 || stream.second == r.client))
                m_maker.TcpData(out, key(stream.first, stream.second), outbound, data, r.size, r.timeUs);
        break;
    }
}

void PcapngFromJournal::Finish(std::vector<uint8_t>& out)
{
    for (const auto& stream : m_open)
        m_maker.TcpClose(out, uint64_t(stream.first) << 32 | stream.second, m_lastTime);
    m_open.clear();
}

bool WritePcapng(const std::wstring& path, const Journal& journal, JobProgress* progress)
{
    bool cancelled = false;
    {
        FileSink out(path);
        if (!out.Ok())
            return false;
        PcapngFromJournal packets;
        out.Write(packets.Start());
        std::vector<uint8_t> bytes, blocks;
        const uint64_t failures = journal.ReadFailures();
        const size_t records = journal.RecordCount();
        if (progress)
            progress->total = records;
        for (size_t i = 0; i < records; ++i) {
            if (progress) {
                progress->done = i;
                cancelled = progress->Cancelled();
                if (cancelled)
                    break;
            }
            const JournalRecord r = journal.Record(i);
            if (journal.ReadFailures() != failures)
                return false; // a record that cannot be read back
            bytes.resize(r.size);
            if (journal.Read(r.offset, bytes.data(), bytes.size()) != bytes.size()) {
                if (journal.AllKept(r.offset, r.size))
                    return false;
                if (progress)
                    progress->notKept += r.size;
                continue; // its bytes are gone: the block is left out
            }
            blocks.clear();
            packets.Take(blocks, r, journal.Session(r.session), journal.PeerText(r.peer), bytes.data());
            out.Write(blocks);
        }
        if (!cancelled) {
            blocks.clear();
            packets.Finish(blocks);
            out.Write(blocks);
            return out.Close();
        }
        out.Close();
    }
    DeleteFileW(path.c_str());
    return false;
}
