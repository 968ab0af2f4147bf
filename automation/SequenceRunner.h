#pragma once

#include "automation/Library.h"
#include "automation/Pattern.h"
#include "engine/Transport.h"
#include "engine/TransportEvent.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

// "12.345 ms": microseconds as the automation's lines give times.
std::wstring MillisecondsText(uint64_t us);

// What a running sequence needs of the window: a send as Send makes it,
// the log, and the library's commands.
class SequencePort {
public:
    virtual ~SequencePort() = default;
    // `written`: the line to log once the link has written it; it leaves no
    // earlier than `notBeforeUs` (0: at once), and not at all once
    // `withdrawn` is set.
    virtual SendResult SendStep(const BuiltPayload& payload, bool asHex, std::wstring written, uint64_t notBeforeUs,
                                std::shared_ptr<const std::atomic<bool>> withdrawn) = 0;
    virtual void Say(bool error, const std::wstring& text) = 0;
    virtual const Command* FindCommand(const std::wstring& name) const = 0;
};

// Runs one sequence step by step on the caller's clock (steady
// microseconds): Advance does what is due and says when it must be called
// again; a message that arrives is offered to a waiting step. Each step's
// outcome is one line, and the run ends with one line of totals.
class SequenceRunner {
public:
    static constexpr uint64_t kNothingDue = UINT64_MAX;
    // A round of steps that never waits gives the window back after so many.
    static constexpr size_t kStepsPerTurn = 64;
    // A send after a wait is handed to the link this long before it is due,
    // to leave at its time: a window busy for a moment then does not make it late.
    static constexpr uint64_t kLeadUs = 15000;

    explicit SequenceRunner(SequencePort& port) : m_port(port) {}

    void Start(const Sequence& sequence, uint64_t nowUs);
    // Ends a run with `why` ("stopped by the user") in its last line.
    void Stop(const std::wstring& why, bool error = false);
    uint64_t Advance(uint64_t nowUs);
    // A received message, at `arrivedUs` on the journal's clock.
    void OnMessage(const uint8_t* data, size_t size, uint64_t arrivedUs);
    // The sequence's last payload was written at `writtenUs` (journal clock).
    void OnWritten(uint64_t writtenUs) { m_lastWrittenUs = writtenUs; }

    bool Running() const { return m_running; }
    const std::wstring& Name() const { return m_sequence.name; }
    // "step 2 of 5, round 3 of 10", for the pane.
    std::wstring Progress() const;
    size_t StepIndex() const { return m_index; }

private:
    enum class Waiting { None, Timer, Message };
    std::wstring StepWords(size_t index) const; // `Sequence "Poll" step 2 of 5`
    std::wstring StepWords() const { return StepWords(m_index); }
    std::wstring Totals() const;
    void Finish(const std::wstring& line, bool error);
    // Runs the current step; false when the run ended.
    bool RunStep(uint64_t nowUs);
    // Sends step `index`; false (and stopped) when it could not.
    bool Send(size_t index, uint64_t notBeforeUs);
    // The step after the current one when it is a send; SIZE_MAX otherwise.
    size_t SendAfterThis() const;
    void NextStep();

    SequencePort& m_port;
    Sequence m_sequence;
    bool m_running = false;
    size_t m_index = 0;
    uint32_t m_round = 1;
    Waiting m_waiting = Waiting::None;
    uint64_t m_stepStartUs = 0, m_dueUs = 0;
    Pattern m_awaited;
    bool m_met = false;
    bool m_armed = false; // the send after this wait is with the link already
    std::shared_ptr<std::atomic<bool>> m_withdraw; // takes it back if the run stops first
    uint64_t m_lastWrittenUs = 0;
    bool m_sentThisRound = false; // a reply's time is then counted from that send's writing
    uint64_t m_stepsDone = 0, m_waitsMet = 0, m_timeouts = 0;
};
