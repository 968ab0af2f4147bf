#include "automation/SequenceRunner.h"

#include <algorithm>
#include <cstdio>

namespace {

std::wstring Count(uint64_t n, const wchar_t* one, const wchar_t* many)
{
    return std::to_wstring(n) + L" " + (n == 1 ? one : many);
}

} // namespace

std::wstring MillisecondsText(uint64_t us)
{
    wchar_t text[32];
    swprintf(text, 32, L"%llu.%03llu ms", static_cast<unsigned long long>(us / 1000),
             static_cast<unsigned long long>(us % 1000));
    return text;
}

void SequenceRunner::Start(const Sequence& sequence, uint64_t nowUs)
{
    if (m_running)
        Stop(L"another sequence was started");
    m_sequence = sequence;
    m_running = true;
    m_index = 0;
    m_round = 1;
    m_waiting = Waiting::None;
    m_armed = false;
    m_stepsDone = m_waitsMet = m_timeouts = 0;
    m_lastWrittenUs = 0;
    m_sentThisRound = false;
    m_stepStartUs = m_dueUs = nowUs;
    const std::wstring rounds = sequence.rounds == 0 ? L"until stopped" : Count(sequence.rounds, L"round", L"rounds");
    m_port.Say(false, L"Sequence \"" + sequence.name + L"\" started: " +
                          Count(sequence.steps.size(), L"step", L"steps") + L", " + rounds + L".");
    if (sequence.steps.empty())
        Finish(L"Sequence \"" + sequence.name + L"\" ended: it has no steps.", false);
}

std::wstring SequenceRunner::StepWords(size_t index) const
{
    return L"Sequence \"" + m_sequence.name + L"\" step " + std::to_wstring(index + 1) + L" of " +
           std::to_wstring(m_sequence.steps.size());
}

std::wstring SequenceRunner::Totals() const
{
    return Count(m_stepsDone, L"step", L"steps") + L" done, " + Count(m_waitsMet, L"wait met", L"waits met") +
           L", " + Count(m_timeouts, L"time-out", L"time-outs") + L".";
}

std::wstring SequenceRunner::Progress() const
{
    if (!m_running)
        return L"";
    std::wstring text = L"step " + std::to_wstring(m_index + 1) + L" of " + std::to_wstring(m_sequence.steps.size()) +
                        L", round " + std::to_wstring(m_round);
    if (m_sequence.rounds)
        text += L" of " + std::to_wstring(m_sequence.rounds);
    return text;
}

void SequenceRunner::Finish(const std::wstring& line, bool error)
{
    // A send handed over for after the wait that was cut short does not go.
    if (m_armed && m_withdraw)
        *m_withdraw = true;
    m_armed = false;
    m_running = false;
    m_waiting = Waiting::None;
    m_port.Say(error, line + L" " + Totals());
}

void SequenceRunner::Stop(const std::wstring& why, bool error)
{
    if (!m_running)
        return;
    std::wstring at = L"at step " + std::to_wstring(m_index + 1) + L" of " + std::to_wstring(m_sequence.steps.size());
    if (m_sequence.rounds != 1)
        at += L", round " + std::to_wstring(m_round);
    Finish(L"Sequence \"" + m_sequence.name + L"\" stopped " + at + L": " + why + L".", error);
}

void SequenceRunner::NextStep()
{
    ++m_stepsDone;
    m_waiting = Waiting::None;
    if (++m_index < m_sequence.steps.size())
        return;
    m_index = 0;
    ++m_round;
    m_sentThisRound = false;
}

uint64_t SequenceRunner::Advance(uint64_t nowUs)
{
    for (size_t turn = 0; m_running; ++turn) {
        if (m_waiting == Waiting::Timer) {
            if (nowUs < m_dueUs) {
                const size_t next = m_armed ? SIZE_MAX : SendAfterThis();
                if (next == SIZE_MAX)
                    return m_dueUs;
                if (m_dueUs - nowUs > kLeadUs)
                    return m_dueUs - kLeadUs;
                if (!Send(next, m_dueUs))
                    return kNothingDue;
                m_armed = true;
                return m_dueUs;
            }
            m_port.Say(false, StepWords() + L": waited " + std::to_wstring(m_sequence.steps[m_index].ms) + L" ms.");
            // The next step starts when this one was due, so lateness in
            // waking does not add up over the steps.
            m_stepStartUs = m_dueUs;
            NextStep();
            if (m_armed) {
                m_armed = false;
                NextStep(); // the send that went at the wait's end
                m_sentThisRound = true;
            }
        } else if (m_waiting == Waiting::Message) {
            if (!m_met && nowUs < m_dueUs)
                return m_dueUs;
            const Step& step = m_sequence.steps[m_index];
            if (!m_met) {
                ++m_timeouts;
                const std::wstring line = StepWords() + L": no message matched " + m_awaited.Describe() +
                                          L" within " + std::to_wstring(step.ms) + L" ms";
                if (!step.goOnAfterTimeout) {
                    m_port.Say(true, line + L".");
                    Stop(L"a wait timed out", true);
                    return kNothingDue;
                }
                m_port.Say(false, line + L"; going on.");
            }
            m_stepStartUs = nowUs;
            NextStep();
        } else if (turn == 0) {
            m_stepStartUs = std::max(m_stepStartUs, nowUs); // started, or given back the window
        }
        if (m_sequence.rounds && m_round > m_sequence.rounds) {
            Finish(L"Sequence \"" + m_sequence.name + L"\" ended:", false);
            return kNothingDue;
        }
        if (turn >= kStepsPerTurn)
            return nowUs;
        if (!RunStep(nowUs))
            return kNothingDue;
    }
    return kNothingDue;
}

bool SequenceRunner::RunStep(uint64_t nowUs)
{
    const Step& step = m_sequence.steps[m_index];
    switch (step.kind) {
    case Step::Kind::SendCommand:
    case Step::Kind::SendPayload:
        if (!Send(m_index, 0))
            return false;
        NextStep();
        return true;
    case Step::Kind::Wait:
        m_waiting = Waiting::Timer;
        m_dueUs = m_stepStartUs + uint64_t(step.ms) * 1000;
        return true;
    case Step::Kind::WaitFor:
        if (!m_awaited.Compile(step.match, step.pattern).empty()) {
            Stop(L"its pattern is not valid", true);
            return false;
        }
        m_waiting = Waiting::Message;
        m_met = false;
        m_dueUs = nowUs + uint64_t(step.ms) * 1000;
        m_stepStartUs = nowUs;
        return true;
    }
    return true;
}

size_t SequenceRunner::SendAfterThis() const
{
    size_t next = m_index + 1;
    if (next == m_sequence.steps.size()) {
        if (m_sequence.rounds && m_round >= m_sequence.rounds)
            return SIZE_MAX;
        next = 0;
    }
    const Step::Kind kind = m_sequence.steps[next].kind;
    return kind == Step::Kind::SendCommand || kind == Step::Kind::SendPayload ? next : SIZE_MAX;
}

bool SequenceRunner::Send(size_t index, uint64_t notBeforeUs)
{
    const Step& step = m_sequence.steps[index];
    PayloadForm form = step.payload;
    std::wstring what = L"\"" + step.payload.text + L"\"";
    if (step.kind == Step::Kind::SendCommand) {
        const Command* command = m_port.FindCommand(step.command);
        if (!command) {
            Stop(L"the library has no command named \"" + step.command + L"\"", true);
            return false;
        }
        form = command->payload;
        what = L"\"" + command->name + L"\"";
    }
    const BuiltPayload built = MakePayload(form);
    if (!built.problem.empty()) {
        Stop(built.problem, true);
        return false;
    }
    if (notBeforeUs)
        m_withdraw = std::make_shared<std::atomic<bool>>(false);
    const SendResult result =
        m_port.SendStep(built, form.hex,
                        StepWords(index) + L": sent " + what + L" (" + Count(built.bytes.size(), L"byte", L"bytes") + L").",
                        notBeforeUs, notBeforeUs ? m_withdraw : nullptr);
    if (result != SendResult::Queued) {
        Stop(result == SendResult::BackedUp ? L"the link is backed up" : L"its send failed", true);
        return false;
    }
    m_sentThisRound = true;
    m_lastWrittenUs = 0;
    return true;
}

void SequenceRunner::OnMessage(const uint8_t* data, size_t size, uint64_t arrivedUs)
{
    if (!m_running || m_waiting != Waiting::Message || m_met)
        return;
    if (!m_awaited.Matches(data, size)) {
        if (m_awaited.GaveUp())
            Stop(L"its regular expression took longer than " + std::to_wstring(Pattern::kRegexTimeLimitMs) +
                     L" ms on a message",
                 true);
        return;
    }
    m_met = true;
    ++m_waitsMet;
    std::wstring line = StepWords() + L": " + m_awaited.Describe() + L" came";
    if (m_sentThisRound && m_lastWrittenUs && arrivedUs >= m_lastWrittenUs)
        line += L" " + MillisecondsText(arrivedUs - m_lastWrittenUs) + L" after the last send was written";
    m_port.Say(false, line + L".");
    m_dueUs = 0; // the next step is due at once
}
