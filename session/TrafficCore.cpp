#include "session/TrafficCore.h"

#include "logview/LogLine.h"
#include "text/SystemError.h"
#include "text/Utf8.h"

JournalSession SessionFor(LinkKind kind, const ConnectionSettings& settings)
{
    JournalSession session;
    switch (kind) {
    case LinkKind::TcpClient:
        session.link = JournalSession::Link::TcpClient;
        break;
    case LinkKind::TcpServer:
        session.link = JournalSession::Link::TcpServer;
        session.localPort = settings.port;
        break;
    case LinkKind::Udp:
        session.link = JournalSession::Link::Udp;
        if (settings.isServer)
            session.localPort = settings.port;
        break;
    case LinkKind::Serial:
        session.link = JournalSession::Link::Serial;
        break;
    }
    session.remote = settings.ip + L":" + std::to_wstring(settings.port);
    return session;
}

void TrafficCore::Append(TransportEventKind kind, std::wstring text)
{
    LogRecord record;
    record.kind = kind;
    record.text = StripEscapeSequences(std::move(text));
    m_state.m_logDirty = true;
    AddLine(std::move(record), MicrosecondsNow());
}

void TrafficCore::NewSession(JournalSession info, const FramingOptions& framing, bool retunable, uint8_t side)
{
    side &= 1;
    if (side == 0) {
        // What the last run's framers hold is shown first, marked as its
        // lines were; a bridge that was ends here.
        FlushFraming(true);
        m_runs[1] = LinkRun{};
        m_bridged = false;
    } else {
        m_bridged = true;
    }
    m_side = side;
    RestartFraming(framing);
    Run().retunable = retunable;
    Run().info = info;
    Run().session = ++m_lastSession;
    m_state.m_journal.BeginSession(Run().session, std::move(info));
    m_side = 0;
}

void TrafficCore::Retune(const FramingOptions& framing)
{
    for (uint8_t side : {uint8_t(0), uint8_t(1)}) {
        m_side = side;
        m_lineSide = LineSide();
        if (Run().retunable)
            RestartFraming(framing);
    }
    m_side = 0;
    m_lineSide = 0;
}

void TrafficCore::Append(TransportEvent&& event, bool namesPeer)
{
    // Every line this event makes is of its side; the window's own lines
    // are of none.
    m_side = event.side & 1;
    m_lineSide = LineSide();
    AppendOfSide(std::move(event), namesPeer);
    m_side = 0;
    m_lineSide = 0;
}

void TrafficCore::AppendOfSide(TransportEvent&& event, bool namesPeer)
{
    const uint64_t timeUs = event.arrivedUs ? event.arrivedUs : MicrosecondsNow();
    // A connection made again is a stream of its own in a capture, and what
    // the lost one left held is shown before the line that says it went.
    if (event.connectionLost) {
        RestartFraming(Run().framing);
        Run().session = ++m_lastSession;
        m_state.m_journal.BeginSession(Run().session, Run().info);
    }
    if (event.kind == TransportEventKind::ClientAdded)
        m_openClients[event.clientId] = OpenClient{m_side, event.peer};
    else if (event.kind == TransportEventKind::ClientRemoved && !m_openClients.erase(event.clientId))
        return; // said already, when its link ended
    m_state.m_unsentBytes += event.lostBytes;
    if (Run().framing.mode != FramingMode::AsReceived) {
        if (event.kind == TransportEventKind::Received && !event.damaged) {
            AppendFramed(std::move(event), namesPeer, timeUs);
            return;
        }
        // What a peer still holds comes before its leaving, or the link's end.
        if (event.kind == TransportEventKind::ClientRemoved)
            FlushFramers(true, event.clientId);
        else if (event.linkEnded)
            FlushFramers(true, UINT32_MAX);
    }
    LogRecord shape;
    shape.kind = event.kind;
    if (event.kind == TransportEventKind::Sent) {
        const SendTag& tag = event.sendTag;
        namesPeer = tag.toOnePeer;
        if (!tag.toOnePeer) {
            // A payload for every client is one line and one block, as it
            // was one send.
            event.peer.clear();
            event.clientId = 0;
        }
        shape.hexPairs = tag.asHex;
        shape.rawBytes = !tag.asHex;
        shape.binaryFrom = tag.checksumFrom;
        shape.binaryCount = tag.checksumCount;
    }
    if (event.kind == TransportEventKind::Received || event.kind == TransportEventKind::Sent) {
        const bool cut = event.damaged && event.kind == TransportEventKind::Received;
        const size_t size = event.data.size();
        const SendTag tag = event.sendTag;
        // What a bridge handed on is its other side's RX line already.
        AppendBlock(event.kind, std::move(event.data), event.peer, event.clientId, timeUs, namesPeer, shape,
                    event.kind == TransportEventKind::Sent && tag.bridged);
        if (event.kind == TransportEventKind::Sent && tag.note && m_note)
            if (std::wstring note = m_note(tag, timeUs); !note.empty())
                Append(TransportEventKind::Status, std::move(note));
        if (cut) {
            m_state.m_cutDatagrams += event.damaged;
            Append(TransportEventKind::Error, L"A datagram from " + event.peer +
                                                  L" was larger than the receive buffer: only its first " +
                                                  std::to_wstring(size) + L" bytes were received.");
        }
        return;
    }
    if (event.serial != SerialSignal::None) {
        AppendSerial(std::move(event), timeUs);
        return;
    }
    m_state.m_lineErrors += event.damaged;
    const size_t recordsBefore = m_state.m_journal.RecordCount();
    m_state.Count(event.kind, {}, event.peer, event.clientId, Run().session, timeUs);
    LogRecord record = shape;
    if (namesPeer)
        record.peer = event.peer;
    record.text = StripEscapeSequences(std::move(event.text));
    AddLine(std::move(record), timeUs);
    Record(event.kind, {}, recordsBefore);
}

void TrafficCore::AppendSerial(TransportEvent&& event, uint64_t timeUs)
{
    const bool ours = event.serial == SerialSignal::LinesSet || event.serial == SerialSignal::BreakSent;
    const bool isBreak = event.serial == SerialSignal::BreakSent || event.serial == SerialSignal::BreakReceived;
    const size_t recordsBefore = m_state.m_journal.RecordCount();
    m_state.m_journal.MarkSerial(isBreak ? JournalEvent::SerialBreak : JournalEvent::SerialLines,
                                 ours ? TrafficDirection::Sent : TrafficDirection::Received, event.serialLines, timeUs,
                                 Run().session, event.peer);
    m_state.m_logDirty = true;
    if (!event.text.empty()) {
        LogRecord record;
        record.kind = TransportEventKind::Status;
        record.text = StripEscapeSequences(std::move(event.text));
        AddLine(std::move(record), timeUs);
    }
    Record(TransportEventKind::Status, {}, recordsBefore);
}

void TrafficCore::AppendBlock(TransportEventKind kind, std::vector<uint8_t> bytes, const std::wstring& peer,
                              uint32_t client, uint64_t timeUs, bool namesPeer, const LogRecord& shape, bool lineless)
{
    const Journalled journalled = JournalBlock(kind, bytes, peer, client, timeUs);
    if (m_lines && !lineless) {
        LogRecord record = shape;
        if (namesPeer)
            record.peer = peer;
        record.text = TrafficText(record, bytes.data(), bytes.size());
        // The journal holds the bytes; the line only points at them.
        if (journalled.stored) {
            record.trafficAt = journalled.at;
            record.trafficSize = uint32_t(bytes.size());
        }
        AddLine(std::move(record), timeUs);
    }
    // The watcher adds lines at most, never a journal record, which Record
    // takes the last of.
    if (kind == TransportEventKind::Received && m_watcher)
        m_watcher(Message{bytes.data(), bytes.size(), client, peer, timeUs, m_side});
    Record(kind, std::move(bytes), journalled.recordsBefore);
}

TrafficCore::Journalled TrafficCore::JournalBlock(TransportEventKind kind, const std::vector<uint8_t>& bytes,
                                                  const std::wstring& peer, uint32_t client, uint64_t timeUs)
{
    Journalled journalled{m_state.m_journal.RecordCount(), m_state.m_journal.Size(), false};
    journalled.stored = m_state.Count(kind, bytes, peer, client, Run().session, timeUs);
    if (kind == TransportEventKind::Received)
        m_counts[m_side].rx += bytes.size();
    else if (kind == TransportEventKind::Sent)
        m_counts[m_side].tx += bytes.size();
    m_journalGrew = m_journalGrew || journalled.stored;
    return journalled;
}

void TrafficCore::AddLine(LogRecord record, uint64_t timeUs)
{
    if (!m_lines)
        return;
    record.stamped = m_stamped;
    record.side = m_lineSide;
    record.time = LocalTimeAt(timeUs);
    record.sinceUs = m_lastLineUs ? int64_t(timeUs - m_lastLineUs) : 0;
    m_lastLineUs = timeUs;
    m_lines->Append(std::move(record));
    RecordLastLine();
}

void TrafficCore::AppendFramed(TransportEvent&& event, bool namesPeer, uint64_t timeUs)
{
    const Journalled journalled = JournalBlock(event.kind, event.data, event.peer, event.clientId, timeUs);
    auto& framers = Run().framers;
    auto found = framers.find(event.clientId);
    if (found == framers.end())
        found = framers.emplace(event.clientId, PeerFramer{Framer(Run().framing), event.peer, namesPeer}).first;
    std::vector<FramedMessage> messages;
    found->second.framer.Add(event.data.data(), event.data.size(), event.receivedUs, messages,
                             journalled.stored ? journalled.at : FramedMessage::kNotStored);
    Record(event.kind, std::move(event.data), journalled.recordsBefore);
    AppendMessages(messages, event.clientId, found->second.peer, found->second.namesPeer, timeUs);
}

// Each message is one received line, stamped with its first byte's time; it
// reads its bytes from the journal when they lie there in one run.
void TrafficCore::AppendMessages(std::vector<FramedMessage>& messages, uint32_t client, const std::wstring& peer,
                                 bool namesPeer, uint64_t arrivedUs)
{
    const uint64_t steadyNow = SteadyMicroseconds();
    const uint64_t now = MicrosecondsNow();
    for (FramedMessage& message : messages) {
        // Let go by its time, not by a block: its last byte's time on the journal's clock.
        const uint64_t lastAgo = steadyNow > message.lastByteUs ? steadyNow - message.lastByteUs : 0;
        const uint64_t lastByte = arrivedUs ? arrivedUs : now > lastAgo ? now - lastAgo : now;
        if (!m_lines) {
            if (m_watcher)
                m_watcher(Message{message.bytes.data(), message.bytes.size(), client, peer, lastByte, m_side});
            continue;
        }
        LogRecord record;
        record.kind = TransportEventKind::Received;
        if (namesPeer)
            record.peer = peer;
        record.text = TrafficText(record, message.bytes.data(), message.bytes.size());
        if (message.storedAt != FramedMessage::kNotStored) {
            record.trafficAt = message.storedAt;
            record.trafficSize = uint32_t(message.bytes.size());
        } else {
            record.bytes = message.bytes;
        }
        const uint64_t ago = steadyNow > message.firstByteUs ? steadyNow - message.firstByteUs : 0;
        AddLine(std::move(record), now > ago ? now - ago : now);
        if (m_watcher)
            m_watcher(Message{message.bytes.data(), message.bytes.size(), client, peer, lastByte, m_side});
    }
    m_state.m_logDirty = m_state.m_logDirty || !messages.empty();
}

uint64_t TrafficCore::FramingDueUs() const
{
    uint64_t due = UINT64_MAX;
    for (const LinkRun& run : m_runs)
        for (const auto& [client, framer] : run.framers)
            due = std::min(due, framer.framer.DueUs());
    return due;
}

void TrafficCore::FlushFraming(bool all)
{
    for (uint8_t side : {uint8_t(0), uint8_t(1)}) {
        m_side = side;
        m_lineSide = LineSide();
        FlushFramers(all, UINT32_MAX);
    }
    m_side = 0;
    m_lineSide = 0;
}

void TrafficCore::FlushFramers(bool all, uint32_t onlyClient)
{
    auto& framers = Run().framers;
    if (framers.empty())
        return;
    const uint64_t now = SteadyMicroseconds();
    std::vector<FramedMessage> messages;
    for (auto& [client, framer] : framers) {
        if (onlyClient != UINT32_MAX && client != onlyClient)
            continue;
        messages.clear();
        if (all)
            framer.framer.Flush(messages);
        else
            framer.framer.Tick(now, messages);
        AppendMessages(messages, client, framer.peer, framer.namesPeer, 0);
    }
    if (onlyClient != UINT32_MAX)
        framers.erase(onlyClient);
}

// What every framer holds is shown, and framing starts over.
void TrafficCore::RestartFraming(const FramingOptions& framing)
{
    FlushFramers(true, UINT32_MAX);
    Run().framers.clear();
    Run().framing = framing;
}

std::vector<TransportEvent> TrafficCore::CloseOpenClients(uint8_t side)
{
    std::vector<TransportEvent> gone;
    const std::map<uint32_t, OpenClient> open = m_openClients;
    for (const auto& [client, was] : open) {
        if (was.side != (side & 1))
            continue;
        TransportEvent event;
        event.kind = TransportEventKind::ClientRemoved;
        event.text = L"Client disconnected";
        event.peer = was.peer;
        event.clientId = client;
        event.side = was.side;
        gone.push_back(event);
        Append(std::move(event), true);
    }
    return gone;
}

// A text recording takes each line as the log shows it.
void TrafficCore::RecordLastLine()
{
    if (!m_recorder.Recording() || m_recorder.FileFormat() != Recorder::Format::Text || !m_lines)
        return;
    static const LogShowOptions plain;
    m_recorder.Write(EncodeUtf8(m_lines->SavedText(m_lines->EndLine() - 1, m_shown ? *m_shown : plain) + L"\r\n"));
}

void TrafficCore::Record(TransportEventKind kind, std::vector<uint8_t> bytes, size_t journalRecordsBefore)
{
    if (!m_recorder.Recording() || m_recorder.FileFormat() == Recorder::Format::Text)
        return; // a text recording takes the lines instead
    if (m_recorder.FileFormat() == Recorder::Format::Received) {
        if (kind == TransportEventKind::Received)
            m_recorder.Write(std::move(bytes));
        return;
    }
    const Journal& journal = m_state.m_journal;
    if (journal.RecordCount() == journalRecordsBefore)
        return; // nothing journalled: no traffic, nor a client coming or going
    const JournalRecord& record = journal.Record(journal.RecordCount() - 1);
    m_recorder.Write(record, journal.Session(record.session), journal.PeerText(record.peer), std::move(bytes));
}

bool TrafficCore::StartRecording(const std::wstring& path)
{
    StopRecording();
    if (!m_recorder.Start(path)) {
        Append(TransportEventKind::Error, L"Could not record to " + path + L".");
        return false;
    }
    return true;
}

void TrafficCore::StopRecording()
{
    if (m_recorder.Recording())
        m_recorder.Stop();
}

void TrafficCore::Check()
{
    if (m_recorder.Recording() && m_recorder.Failed()) {
        // The disk filled or went: the recording ends, the link goes on.
        m_recorder.Stop();
        const std::wstring why =
            m_recorder.FellBehind() ? L"the disk did not keep up" : SystemErrorText(m_recorder.Error());
        m_state.m_unrecordedBytes += m_recorder.Unrecorded();
        Append(TransportEventKind::Error, L"Recording to " + m_recorder.Path() + L" stopped: " +
                                              std::to_wstring(m_recorder.Unrecorded()) + L" bytes were not recorded (" +
                                              why + L").");
    }
    SayWhatIsNotKept();
    // Traffic the window never got is known only to the engine.
    const uint64_t unposted = UnpostedTrafficBytes();
    const uint64_t backlogged = BackloggedDatagramBytes();
    if (unposted != m_unpostedSeen || backlogged != m_backloggedSeen) {
        m_state.m_unpostedBytes += unposted - m_unpostedSeen;
        m_state.m_backloggedBytes += backlogged - m_backloggedSeen;
        m_unpostedSeen = unposted;
        m_backloggedSeen = backlogged;
        m_state.m_logDirty = true;
    }
}

// Once for each cause: the journal goes on without the bytes it cannot keep.
void TrafficCore::SayWhatIsNotKept()
{
    const Journal& journal = m_state.m_journal;
    if (journal.Forgets() != Journal::Forgetting::No && !m_forgettingSaid) {
        m_forgettingSaid = true;
        const std::wstring why =
            journal.Forgets() == Journal::Forgetting::DiskCap
                ? L"The journal's file reached its cap (" + std::to_wstring(journal.DiskEnd() >> 20) + L" MB, [Options] JournalDiskMegabytes)"
                : L"The journal's file could not be written (" + SystemErrorText(journal.SpillError()) + L")";
        Append(TransportEventKind::Error,
               why + L": from here on the oldest traffic's bytes are not kept for the hex view and exports; the log "
                     L"and the counters go on.");
    }
    if (journal.UnheldBytes() && !m_unheldSaid) {
        m_unheldSaid = true;
        Append(TransportEventKind::Error, L"Out of memory: " + std::to_wstring(journal.UnheldBytes()) +
                                              L" bytes of traffic were logged but not kept.");
    }
}

void TrafficCore::CountPausedRx(size_t bytes)
{
    m_state.m_pausedRxBytes += bytes;
    m_pausedThisTime += bytes;
    m_state.m_logDirty = true;
}

void TrafficCore::SayPausedRx()
{
    if (!m_pausedThisTime)
        return;
    Append(TransportEventKind::Status, L"Pause RX: " + std::to_wstring(m_pausedThisTime) +
                                           L" bytes received while paused were not logged.");
    m_pausedThisTime = 0;
}

void TrafficCore::Clear()
{
    for (LinkRun& run : m_runs)
        for (auto& [client, framer] : run.framers)
            framer.framer.ForgetStore(); // the journal they point into is emptied
    m_state.Clear();
    m_counts[0] = m_counts[1] = SideCounts{};
    m_pausedThisTime = 0;
    m_lastLineUs = 0;
    m_journalGrew = false;
    m_forgettingSaid = m_unheldSaid = false;
    if (m_lines)
        m_lines->Clear();
}

bool TrafficCore::TakeDirty()
{
    const bool dirty = m_state.m_logDirty;
    m_state.m_logDirty = false;
    return dirty;
}

bool TrafficCore::TakeJournalGrew()
{
    const bool grew = m_journalGrew;
    m_journalGrew = false;
    return grew;
}
