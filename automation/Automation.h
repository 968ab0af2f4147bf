#pragma once

#include "automation/Library.h"
#include "automation/Responder.h"
#include "automation/SequenceRunner.h"
#include "engine/Transport.h"
#include "engine/TransportEvent.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// What the automation needs of the window.
class AutomationPort {
public:
    virtual ~AutomationPort() = default;
    // As Send sends: to the peers the send area has chosen.
    virtual SendResult Send(const BuiltPayload& payload, const SendTag& tag) = 0;
    // To the peer a message came from: a server's client, a listener's
    // sender, or the one peer of any other link; on a bridge, of its side.
    virtual SendResult Answer(uint8_t side, uint32_t client, const std::wstring& peer, const BuiltPayload& payload,
                              const SendTag& tag) = 0;
    virtual void Say(bool error, const std::wstring& text) = 0;
};

// The library at work, with no window: the responder answers each
// received message as the log shows it, a sequence runs, and the lines that
// say so follow the TX lines of what they sent. Times: steady microseconds
// for what is due, the journal's clock for when bytes came and went.
class Automation : private SequencePort {
public:
    explicit Automation(AutomationPort& port) : m_port(port), m_runner(*this) {}

    const Library& Lib() const { return m_library; }
    void SetLibrary(Library library);
    bool ResponderOn() const { return m_responderOn; }
    void SetResponderOn(bool on) { m_responderOn = on; }
    const Responder& Rules() const { return m_responder; }
    // Received messages matter now: the responder answers, or a step waits for one.
    bool Watching() const { return m_responderOn || m_runner.Running(); }
    void ResetCounts() { m_responder.ResetCounts(); }

    // False when the library has no sequence of that name.
    bool StartSequence(const std::wstring& name, uint64_t nowUs);
    void StopSequence(const std::wstring& why) { m_runner.Stop(why); }
    const SequenceRunner& Runner() const { return m_runner; }

    // A received message as framed for the log, from `peer` (a server's
    // client `client`) on a bridge's `side`, at `arrivedUs` on the
    // journal's clock.
    void OnMessage(const uint8_t* data, size_t size, uint32_t client, const std::wstring& peer, uint64_t arrivedUs,
                   uint64_t nowUs, uint8_t side = 0);
    // A payload was written at `writtenUs`: the line that follows its TX
    // line, or none.
    std::wstring OnWritten(const SendTag& tag, uint64_t writtenUs);
    // Does what is due; when it must be called again (kNothingDue: never).
    uint64_t Advance(uint64_t nowUs);
    // Replies still waiting their delay are dropped, a sequence stops.
    void OnLinkEnded();
    size_t PendingReplies() const { return m_pending.size(); }

    static constexpr uint64_t kNothingDue = SequenceRunner::kNothingDue;
    // Lines waiting for their payload's writing; past this, the oldest go.
    static constexpr size_t kNotesKept = 65536;

private:
    SendResult SendStep(const BuiltPayload& payload, bool asHex, std::wstring written, uint64_t notBeforeUs,
                        std::shared_ptr<const std::atomic<bool>> withdrawn) override;
    void Say(bool error, const std::wstring& text) override { m_port.Say(error, text); }
    const Command* FindCommand(const std::wstring& name) const override { return m_library.FindCommand(name); }

    struct Pending {
        uint8_t side;
        uint32_t client;
        std::wstring peer;
        Reply reply;
        uint64_t requestUs;
        std::wstring rule; // named when it matched: the library may change before it is due
    };
    void SendReply(const Pending& pending);
    std::wstring RuleWords(size_t rule) const;
    uint32_t AddNote(std::wstring text, uint64_t requestUs, bool sequence);

    AutomationPort& m_port;
    Library m_library;
    Responder m_responder;
    bool m_responderOn = false;
    SequenceRunner m_runner;
    std::multimap<uint64_t, Pending> m_pending; // by when each is due
    struct Note {
        std::wstring text;
        uint64_t requestUs; // 0: a sequence's send, whose line has no reply time
        bool sequence;
    };
    std::map<uint32_t, Note> m_notes;
    uint32_t m_nextNote = 1;
};
