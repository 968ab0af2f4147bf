#include "automation/Automation.h"

void Automation::SetLibrary(Library library)
{
    m_library = std::move(library);
    m_responder.SetRules(m_library.rules);
}

bool Automation::StartSequence(const std::wstring& name, uint64_t nowUs)
{
    for (const Sequence& sequence : m_library.sequences)
        if (sequence.name == name) {
            m_runner.Start(sequence, nowUs);
            return true;
        }
    return false;
}

std::wstring Automation::RuleWords(size_t rule) const
{
    const std::wstring& name = m_responder.Rule(rule).name;
    return L"Rule " + std::to_wstring(rule + 1) + (name.empty() ? L"" : L" \"" + name + L"\"");
}

uint32_t Automation::AddNote(std::wstring text, uint64_t requestUs, bool sequence)
{
    // A payload the link never wrote leaves its note behind: the oldest go.
    while (m_notes.size() >= kNotesKept)
        m_notes.erase(m_notes.begin());
    const uint32_t id = m_nextNote++;
    if (m_nextNote == 0)
        m_nextNote = 1;
    m_notes[id] = Note{std::move(text), requestUs, sequence};
    return id;
}

void Automation::OnMessage(const uint8_t* data, size_t size, uint32_t client, const std::wstring& peer,
                           uint64_t arrivedUs, uint64_t nowUs, uint8_t side)
{
    m_runner.OnMessage(data, size, arrivedUs);
    if (!m_responderOn)
        return;
    for (Reply& reply : m_responder.Answer(data, size)) {
        const size_t rule = reply.rule;
        Pending pending{side, client, peer, std::move(reply), arrivedUs, RuleWords(rule)};
        if (pending.reply.delayMs == 0)
            SendReply(pending);
        else
            m_pending.emplace(nowUs + uint64_t(pending.reply.delayMs) * 1000, std::move(pending));
    }
}

void Automation::SendReply(const Pending& pending)
{
    const std::wstring& who = pending.rule;
    const std::wstring to = pending.peer.empty() ? L"" : L" " + pending.peer;
    if (pending.reply.gaveUp) {
        m_port.Say(true, who + L"'s regular expression took longer than " +
                             std::to_wstring(Pattern::kRegexTimeLimitMs) +
                             L" ms on a message: the rule is set aside until it is edited.");
        return;
    }
    if (!pending.reply.payload.problem.empty()) {
        m_port.Say(true, who + L" matched but could not answer" + to + L": " + pending.reply.payload.problem + L".");
        return;
    }
    if (pending.reply.payload.bytes.empty())
        return; // an empty reply: the rule only counts its matches
    SendTag tag;
    tag.asHex = pending.reply.asHex;
    tag.checksumFrom = pending.reply.payload.checksum.from;
    tag.checksumCount = pending.reply.payload.checksum.count;
    tag.note = AddNote(who + L" answered" + to, pending.requestUs, false);
    const SendResult result = m_port.Answer(pending.side, pending.client, pending.peer, pending.reply.payload, tag);
    if (result == SendResult::Queued)
        return;
    m_notes.erase(tag.note);
    m_port.Say(true, who + L" could not answer" + to +
                         (result == SendResult::BackedUp ? L": the link is backed up." : L": the peer is gone."));
}

SendResult Automation::SendStep(const BuiltPayload& payload, bool asHex, std::wstring written, uint64_t notBeforeUs,
                                std::shared_ptr<const std::atomic<bool>> withdrawn)
{
    SendTag tag;
    tag.notBeforeUs = notBeforeUs;
    tag.withdrawn = std::move(withdrawn);
    tag.asHex = asHex;
    tag.checksumFrom = payload.checksum.from;
    tag.checksumCount = payload.checksum.count;
    tag.note = AddNote(std::move(written), 0, true);
    const SendResult result = m_port.Send(payload, tag);
    if (result != SendResult::Queued)
        m_notes.erase(tag.note);
    return result;
}

std::wstring Automation::OnWritten(const SendTag& tag, uint64_t writtenUs)
{
    if (!tag.note)
        return L"";
    const auto found = m_notes.find(tag.note);
    if (found == m_notes.end())
        return L"";
    Note note = std::move(found->second);
    m_notes.erase(found);
    if (note.sequence) {
        m_runner.OnWritten(writtenUs);
        return note.text;
    }
    const uint64_t took = writtenUs > note.requestUs ? writtenUs - note.requestUs : 0;
    return note.text + L" in " + MillisecondsText(took) + L".";
}

uint64_t Automation::Advance(uint64_t nowUs)
{
    while (!m_pending.empty() && m_pending.begin()->first <= nowUs) {
        const Pending pending = std::move(m_pending.begin()->second);
        m_pending.erase(m_pending.begin());
        SendReply(pending);
    }
    uint64_t next = m_runner.Advance(nowUs);
    if (!m_pending.empty())
        next = std::min(next, m_pending.begin()->first);
    return next;
}

void Automation::OnLinkEnded()
{
    if (!m_pending.empty())
        m_port.Say(false, std::to_wstring(m_pending.size()) + L" delayed " +
                              (m_pending.size() == 1 ? L"reply was" : L"replies were") +
                              L" not sent: the link has ended.");
    m_pending.clear();
    m_notes.clear();
    m_runner.Stop(L"the link has ended", true);
}
