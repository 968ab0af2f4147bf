#include "capture/Journal.h"
#include "capture/Pcapng.h"

#include <windows.h>

#include <set>

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

bool WritePcapng(const std::wstring& path, const Journal& journal)
{
    FileSink out(path);
    if (!out.Ok())
        return false;
    PcapngMaker maker;
    out.Write(maker.FileHeader());
    // A TCP stream per session and client.
    const auto key = [](uint32_t session, uint32_t client) { return session << 16 ^ client; };
    std::set<std::pair<uint32_t, uint32_t>> open;
    uint64_t lastTime = 0;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < journal.RecordCount(); ++i) {
        const JournalRecord& r = journal.Record(i);
        lastTime = r.timeUs;
        const JournalSession* session = journal.Session(r.session);
        if (!session)
            continue;
        const bool outbound = r.direction == TrafficDirection::Sent;
        Endpoint remote;
        const std::wstring& peer = journal.PeerText(r.peer);
        if (!ParseEndpoint(peer, remote) && !ParseEndpoint(session->remote, remote) &&
            session->link != JournalSession::Link::Serial && session->link != JournalSession::Link::TcpServer)
            continue;
        if (r.event != JournalEvent::Data) {
            if (session->link != JournalSession::Link::TcpServer)
                continue;
            const auto stream = std::make_pair(r.session, r.client);
            if (r.event == JournalEvent::ClientOpened && !open.count(stream)) {
                out.Write(maker.TcpOpen(key(r.session, r.client), LocalFor(remote, *session, r.session), remote, false,
                                        r.timeUs));
                open.insert(stream);
            } else if (r.event == JournalEvent::ClientClosed && open.count(stream)) {
                out.Write(maker.TcpClose(key(r.session, r.client), r.timeUs));
                open.erase(stream);
            }
            continue;
        }
        bytes.resize(r.size);
        if (journal.Read(r.offset, bytes.data(), bytes.size()) != bytes.size())
            return false;
        switch (session->link) {
        case JournalSession::Link::Serial:
            out.Write(maker.Serial(outbound, bytes.data(), bytes.size(), r.timeUs));
            break;
        case JournalSession::Link::Udp:
            out.Write(maker.Udp(LocalFor(remote, *session, r.session), remote, outbound, bytes.data(), bytes.size(),
                                r.timeUs));
            break;
        case JournalSession::Link::TcpClient: {
            const auto stream = std::make_pair(r.session, 0u);
            if (!open.count(stream)) {
                ParseEndpoint(session->remote, remote); // the client's lines name only the address
                out.Write(maker.TcpOpen(key(r.session, 0), LocalFor(remote, *session, r.session), remote, true,
                                        r.timeUs));
                open.insert(stream);
            }
            out.Write(maker.TcpData(key(r.session, 0), outbound, bytes.data(), bytes.size(), r.timeUs));
            break;
        }
        case JournalSession::Link::TcpServer:
            for (const auto& stream : open) // to one client, or sent to all of them
                if (stream.first == r.session && (r.client == 0 || stream.second == r.client))
                    out.Write(maker.TcpData(key(stream.first, stream.second), outbound, bytes.data(), bytes.size(),
                                            r.timeUs));
            break;
        }
    }
    for (const auto& stream : open)
        out.Write(maker.TcpClose(key(stream.first, stream.second), lastTime));
    return out.Close();
}
