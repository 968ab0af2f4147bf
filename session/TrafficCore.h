#pragma once

#include "capture/Recorder.h"
#include "engine/Link.h"
#include "engine/Transport.h"
#include "framing/Framer.h"
#include "logview/LogModel.h"
#include "session/LogState.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// What the journal needs to write a run of that link's traffic as packets.
JournalSession SessionFor(LinkKind kind, const ConnectionSettings& settings);

// What the links' traffic becomes, with no window: every block journalled
// as it came, each peer's received bytes framed into lines, each run of a
// link numbered, the recording fed and the counters kept. The lines go to
// the log model it is given; the window only shows them.
class TrafficCore {
public:
    TrafficCore() = default;
    TrafficCore(const TrafficCore&) = delete;
    TrafficCore& operator=(const TrafficCore&) = delete;

    // Where lines go, and how a text recording writes them; none: traffic
    // is only journalled, counted and recorded.
    void SetLines(LogModel* lines, const LogShowOptions* shown)
    {
        m_lines = lines;
        m_shown = shown;
    }
    // Whether lines logged from now on carry their time.
    void SetStamped(bool stamped) { m_stamped = stamped; }

    // A received message as the log shows it (a read, a datagram or what
    // framing made), after its line: what a responder answers.
    struct Message {
        const uint8_t* bytes;
        size_t size;
        uint32_t client; // a server's client; 0 for the other links
        const std::wstring& peer;
        uint64_t arrivedUs; // when its last byte came, on the journal's clock
        uint8_t side;       // the link it came on: a bridge's first (0) or second (1)
    };
    void SetMessageWatcher(std::function<void(const Message&)> watcher) { m_watcher = std::move(watcher); }
    // The line that follows a written payload's TX line, by its tag; an
    // empty text for none.
    void SetWrittenNote(std::function<std::wstring(const SendTag&, uint64_t writtenUs)> note)
    {
        m_note = std::move(note);
    }

    // A line the window makes (status, errors), with no bytes of traffic.
    void Append(TransportEventKind kind, std::wstring text);
    // A link's event; its bytes move into the journal. Its line names the
    // peer when the link has several. A Sent event is a payload the link has
    // written, shown as its tag says.
    void Append(TransportEvent&& event, bool namesPeer);
    // Blocks from here on belong to a new run of the link, whose received
    // lines are framed so (each peer on its own). `retunable`: a new choice
    // of framing applies to this run at once. Side 0 ends a bridge; side 1,
    // begun after it, makes one: the second link's run, framed on its own,
    // and every line of either side marked with it.
    void NewSession(JournalSession info, const FramingOptions& framing = {}, bool retunable = false,
                    uint8_t side = 0);
    bool Bridged() const { return m_bridged; }
    // A choice of framing for the running link; ignored by one that cannot
    // take it now.
    void Retune(const FramingOptions& framing);
    // What the framers hold whose time is up goes to the log (`all`: all
    // of it, the link is closing).
    void FlushFraming(bool all);
    // When a framer next has a message whose time is up (SteadyMicroseconds);
    // UINT64_MAX when none holds any.
    uint64_t FramingDueUs() const;
    // The link (of that side) has ended: every client still open is said to
    // have gone, so none is left behind with its framer and its capture
    // stream open. Returns the events it made, for the client list.
    std::vector<TransportEvent> CloseOpenClients(uint8_t side = 0);

    // Received while Pause RX was ticked: counted as lost, and said in the
    // log once Pause RX is unticked.
    void CountPausedRx(size_t bytes);
    void SayPausedRx();
    // Received on one side of a bridge and not handed on: counted as lost.
    void CountUnbridged(uint64_t bytes)
    {
        m_state.m_unbridgedBytes += bytes;
        m_state.m_logDirty = m_state.m_logDirty || bytes;
    }

    // Records to that file from now on, in the format its name says; an ERR
    // line when it cannot be made. Stops a recording already running.
    bool StartRecording(const std::wstring& path);
    void StopRecording();
    const Recorder& Recording() const { return m_recorder; }
    // Once a tick: a recording that failed is ended and said; what the
    // engine dropped since is counted.
    void Check();

    // Bytes received and sent on each side of a bridge, since the last Clear.
    struct SideCounts {
        uint64_t rx = 0, tx = 0;
    };
    const SideCounts& CountsOf(uint8_t side) const { return m_counts[side & 1]; }

    void Clear();
    const LogState& State() const { return m_state; }
    const Journal& Traffic() const { return m_state.m_journal; }
    Journal& Traffic() { return m_state.m_journal; }
    // Something changed that the log, the hex view or the counters show;
    // cleared by the call.
    bool TakeDirty();
    // The journal grew since the last call.
    bool TakeJournalGrew();

private:
    // A block journalled and, unless `lineless`, shown as a line made from
    // its bytes by the record's rule.
    void AppendBlock(TransportEventKind kind, std::vector<uint8_t> bytes, const std::wstring& peer, uint32_t client,
                     uint64_t timeUs, bool namesPeer, const LogRecord& shape, bool lineless = false);
    void AppendOfSide(TransportEvent&& event, bool namesPeer);
    void AppendFramed(TransportEvent&& event, bool namesPeer, uint64_t timeUs);
    // A serial port's lines or a Break: journalled, and a line when it says something.
    void AppendSerial(TransportEvent&& event, uint64_t timeUs);
    // A block in the journal: where it went, and whether it holds traffic
    // (the hex view then has rows to show).
    struct Journalled {
        size_t recordsBefore;
        uint64_t at;
        bool stored;
    };
    Journalled JournalBlock(TransportEventKind kind, const std::vector<uint8_t>& bytes, const std::wstring& peer,
                            uint32_t client, uint64_t timeUs);
    // `arrivedUs`: when the block that completed them came; 0 for messages
    // let go by their time.
    void AppendMessages(std::vector<FramedMessage>& messages, uint32_t client, const std::wstring& peer,
                        bool namesPeer, uint64_t arrivedUs);
    void AddLine(LogRecord record, uint64_t timeUs);
    void RestartFraming(const FramingOptions& framing);
    void FlushFramers(bool all, uint32_t onlyClient);
    // What a pcapng or bytes recording takes of a block just journalled.
    void Record(TransportEventKind kind, std::vector<uint8_t> bytes, size_t journalRecordsBefore);
    void RecordLastLine();
    void SayWhatIsNotKept();

    // A framer per peer (a server's client id; 0 for the others), with what
    // its lines show as the peer.
    struct PeerFramer {
        Framer framer;
        std::wstring peer;
        bool namesPeer = false;
    };
    // One link's run: its journal session and its framers.
    struct LinkRun {
        uint32_t session = 0;
        JournalSession info; // a connection made again is a new session of it
        FramingOptions framing;
        bool retunable = false;
        std::map<uint32_t, PeerFramer> framers;
    };
    LinkRun& Run() { return m_runs[m_side]; }
    uint8_t LineSide() const { return m_bridged ? uint8_t(m_side + 1) : 0; }

    std::function<void(const Message&)> m_watcher;
    std::function<std::wstring(const SendTag&, uint64_t)> m_note;
    uint64_t m_lastLineUs = 0; // the time of the line before, for the next one's
    LogModel* m_lines = nullptr;
    const LogShowOptions* m_shown = nullptr;
    bool m_stamped = true;
    LogState m_state;
    bool m_journalGrew = false;
    uint32_t m_lastSession = 0;
    LinkRun m_runs[2];
    bool m_bridged = false;
    uint8_t m_side = 0;     // of the event being taken; the window's own lines are side 0's
    uint8_t m_lineSide = 0; // what the lines made now are marked with (LogRecord::side)
    SideCounts m_counts[2];
    // A server's clients that joined and have not been seen leaving, with
    // their side.
    struct OpenClient {
        uint8_t side;
        std::wstring peer;
    };
    std::map<uint32_t, OpenClient> m_openClients;
    uint64_t m_pausedThisTime = 0;
    uint64_t m_unpostedSeen = UnpostedTrafficBytes(); // of the engine's count, already counted here
    uint64_t m_backloggedSeen = BackloggedDatagramBytes();
    Recorder m_recorder;
    bool m_forgettingSaid = false;
    bool m_unheldSaid = false;
};
