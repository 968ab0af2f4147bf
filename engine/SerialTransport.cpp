#include "engine/SerialTransport.h"

#include "text/SystemError.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr DWORD kReadBufferSize = 4096;
// For a driver that cannot tell when a byte arrives: how long to wait
// before the next read asks again.
constexpr DWORD kNoCharEventRetryMs = 20;
constexpr DWORD kReopenMs = 1000;
constexpr DWORD kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr DWORD kLineEvents = kModemEvents | EV_BREAK | EV_ERR;
constexpr uint64_t kBreakDrainUs = 2000000;

// One overlapped operation with an event of its own, which the system
// clears when the operation starts and sets when it is done.
class Operation {
public:
    Operation() { m_ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Operation()
    {
        if (m_ov.hEvent)
            CloseHandle(m_ov.hEvent);
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    bool Valid() const { return m_ov.hEvent != nullptr; }
    bool Busy() const { return m_busy; }
    bool Done() const { return m_busy && HasOverlappedIoCompleted(&m_ov); }
    HANDLE Event() const { return m_ov.hEvent; }
    // The OVERLAPPED for a new operation; false (and not busy) when the
    // call that got it failed outright.
    OVERLAPPED* Begin()
    {
        const HANDLE event = m_ov.hEvent;
        m_ov = OVERLAPPED{};
        m_ov.hEvent = event;
        m_busy = true;
        return &m_ov;
    }
    bool Started(BOOL result)
    {
        m_busy = result || GetLastError() == ERROR_IO_PENDING;
        return m_busy;
    }
    // The outcome of a finished operation, with the bytes it moved.
    bool Finish(SerialPortApi& api, HANDLE port, DWORD& bytes, bool wait = false)
    {
        m_busy = false;
        bytes = 0;
        return api.Result(port, &m_ov, &bytes, wait ? TRUE : FALSE) != FALSE;
    }

private:
    OVERLAPPED m_ov{};
    bool m_busy = false;
};

} // namespace

// The control lines of one open port: what the device shows on its inputs,
// DTR and RTS as set, and the pulse or Break under way. The worker's own.
class SerialTransport::Lines {
public:
    // The port is set to report `events` before its lines are first read,
    // so that no change between the two goes unseen.
    Lines(SerialTransport& link, HANDLE port, const ConnectionSettings& settings, uint8_t& outputs, DWORD events)
        : m_link(link), m_port(port), m_handshake(settings.flowControl == 1), m_outputs(outputs),
          m_peer(settings.serialPort)
    {
        if (m_handshake)
            m_outputs &= ~SerialLine::kRts; // the driver's, not ours
        link.m_port.SetMask(port, events | kLineEvents);
        DWORD status = 0;
        m_reported = link.m_port.ModemStatus(port, &status) != FALSE;
        m_inputs = m_reported ? InputLinesFrom(status) : 0;
        // A port that cannot tell its lines (a pseudo-terminal) cannot wait
        // on them either: it would answer every wait at once.
        if (!m_reported)
            link.m_port.SetMask(port, events);
        link.PostLines(m_reported ? SerialSignal::Lines : SerialSignal::LinesUnreported, {}, State(), m_peer);
    }
    // A pulse cut short by the port's going is not the line's state for the
    // next open, and a Break is not left on the line.
    ~Lines()
    {
        if (!m_active)
            return;
        if (m_control.line == LineControl::Line::Break)
            m_link.m_port.Escape(m_port, CLRBREAK);
        else
            m_outputs ^= Bit(m_control.line);
    }
    Lines(const Lines&) = delete;
    Lines& operator=(const Lines&) = delete;

    bool Reported() const { return m_reported; }
    uint8_t State() const { return uint8_t(m_outputs | m_inputs); }
    bool Busy() const { return m_active; }
    // Writes wait while a Break is on the line.
    bool HoldsWrites() const { return m_active && m_control.line == LineControl::Line::Break; }
    // How long until the change under way ends; INFINITE when none is.
    DWORD MsLeft() const
    {
        if (!m_active)
            return INFINITE;
        const uint64_t now = SteadyMicroseconds();
        return now >= m_endUs ? 0 : DWORD((m_endUs - now + 999) / 1000);
    }

    // The device changed an input line (or may have).
    void InputsChanged()
    {
        DWORD status = 0;
        if (!m_link.m_port.ModemStatus(m_port, &status))
            return;
        const uint8_t before = State();
        m_inputs = InputLinesFrom(status);
        if (const std::wstring text = LineChangeText(before, State(), SerialLine::kInputs); !text.empty())
            m_link.PostLines(SerialSignal::Lines, text, State(), m_peer);
    }

    void Begin(const LineControl& control)
    {
        const std::wstring what = LineControlText(control);
        if (control.line == LineControl::Line::Rts && m_handshake) {
            m_link.Post(TransportEventKind::Error,
                        what + L": RTS is driven by RTS/CTS flow control, not by hand; choose another Flow for that.",
                        m_peer);
            return;
        }
        if (control.line == LineControl::Line::Break) {
            if (!Escape(SETBREAK, what))
                return;
            m_link.PostLines(SerialSignal::BreakSent, L"Break sent (" + std::to_wstring(control.ms) + L" ms).", State(),
                             m_peer);
        } else {
            const uint8_t bit = Bit(control.line);
            const bool on = control.action == LineControl::Action::Pulse ? !(m_outputs & bit)
                                                                         : control.action == LineControl::Action::On;
            if (!SetOutput(bit, on, what, what) || control.action != LineControl::Action::Pulse)
                return;
        }
        m_control = control;
        m_active = true;
        m_endUs = SteadyMicroseconds() + uint64_t(control.ms) * 1000;
    }

    // Ends the pulse or Break under way once its time is up; true when it did.
    bool Advance()
    {
        if (!m_active || SteadyMicroseconds() < m_endUs)
            return false;
        m_active = false;
        if (m_control.line == LineControl::Line::Break) {
            Escape(CLRBREAK, L"Ending the Break");
            return true;
        }
        const uint8_t bit = Bit(m_control.line);
        const bool on = !(m_outputs & bit);
        SetOutput(bit, on, L"Ending the pulse", LineChangeText(m_outputs, m_outputs ^ bit, bit));
        return true;
    }

private:
    static uint8_t Bit(LineControl::Line line)
    {
        return line == LineControl::Line::Dtr ? SerialLine::kDtr : SerialLine::kRts;
    }
    // DTR or RTS set as asked, and said with `said`.
    bool SetOutput(uint8_t bit, bool on, const std::wstring& what, const std::wstring& said)
    {
        const bool dtr = bit == SerialLine::kDtr;
        if (!Escape(dtr ? (on ? SETDTR : CLRDTR) : (on ? SETRTS : CLRRTS), what))
            return false;
        m_outputs = uint8_t(on ? m_outputs | bit : m_outputs & ~bit);
        m_link.PostLines(SerialSignal::LinesSet, said, State(), m_peer);
        return true;
    }
    // A port that refuses says so in the log, with its answer.
    bool Escape(DWORD function, const std::wstring& what)
    {
        if (m_link.m_port.Escape(m_port, function))
            return true;
        m_link.Post(TransportEventKind::Error, WithSystemError(what + L": the port refused it", GetLastError()),
                    m_peer);
        return false;
    }

    SerialTransport& m_link;
    HANDLE m_port;
    bool m_handshake;
    uint8_t& m_outputs;
    std::wstring m_peer;
    bool m_reported = false;
    uint8_t m_inputs = 0;
    bool m_active = false;
    LineControl m_control;
    uint64_t m_endUs = 0;
};

void SerialTransport::Start(HWND notifyWnd, const ConnectionSettings& settings, const LinkOptions& options)
{
    Stop();
    m_options = options;
    StartWorker(notifyWnd, [this, settings] { Run(settings); });
}

void SerialTransport::Stop()
{
    RequestStop();
    // The worker cancels its own I/O, drops its unfinished line, says what
    // it did not write and closes the port; nothing of it is touched from here.
    JoinWorker();
    m_sendQueue.Close();
}

SendResult SerialTransport::Send(OutgoingPtr payload)
{
    // A queue closed with the port takes nothing for a port that has gone,
    // to be written to the next one.
    if (!m_running || !payload || payload->bytes.empty())
        return SendResult::Refused;
    std::lock_guard<std::mutex> lock(m_controlLock);
    payload->sequence = m_queued + 1;
    const SendResult result = m_sendQueue.Push(std::move(payload));
    if (result == SendResult::Queued) {
        ++m_queued;
        Wake();
    }
    return result;
}

SendResult SerialTransport::ChangeLine(const LineControl& control)
{
    {
        // Under the lock the port closes with: nothing asked of this port
        // is made to the next.
        std::lock_guard<std::mutex> lock(m_controlLock);
        if (!m_portOpen)
            return SendResult::Refused;
        m_controls.push_back({control, m_queued});
    }
    Wake();
    return SendResult::Queued;
}

bool SerialTransport::Configure(HANDLE port, const ConnectionSettings& s, uint8_t outputs)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!m_port.GetState(port, dcb))
        return false;
    dcb.BaudRate = s.baud;
    dcb.ByteSize = s.dataBits;
    dcb.Parity = s.parity;
    dcb.StopBits = s.stopBits;
    // The flag bits follow BaudRate as one 32-bit word.
    static_assert(sizeof(DCB) == 28, "DCB layout");
    uint32_t flags = 0;
    memcpy(&flags, reinterpret_cast<const char*>(&dcb) + 8, sizeof(flags));
    // DTR and RTS are set here, before the port's first byte: a board
    // that resets on DTR is not reset by being opened.
    flags = SerialFlagWord(flags, s.parity, s.flowControl, outputs & SerialLine::kDtr, outputs & SerialLine::kRts);
    memcpy(reinterpret_cast<char*>(&dcb) + 8, &flags, sizeof(flags));
    return m_port.SetState(port, dcb) != FALSE;
}

// The port opened and configured as on Open; INVALID_HANDLE_VALUE with the
// error line's text in `problem`.
HANDLE SerialTransport::OpenPort(const ConnectionSettings& settings, uint8_t outputs, std::wstring& problem)
{
    const HANDLE port = m_port.Open(L"\\\\.\\" + settings.serialPort);
    if (port == INVALID_HANDLE_VALUE) {
        problem = L"Unable to open serial port.";
        return port;
    }
    if (!Configure(port, settings, outputs)) {
        m_port.Close(port);
        problem = L"Unable to configure serial port.";
        return INVALID_HANDLE_VALUE;
    }
    // A read returns what has come at once; where nothing has, some drivers
    // keep it pending until a byte comes and others return nothing, and the
    // worker then waits for the "byte received" event. Writes have no time
    // limit: a slow rate or a flow-control stop only delays them, and Stop
    // cancels them.
    m_port.SetTimeouts(port, COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0});
    m_port.Purge(port, PURGE_TXCLEAR | PURGE_RXCLEAR);
    return port;
}

void SerialTransport::Run(ConnectionSettings settings)
{
    const std::wstring& name = settings.serialPort;
    if (name.empty()) {
        PostEnd(TransportEventKind::Error, L"No serial port selected.");
        return;
    }
    // DTR and RTS as the user last set them: a port opened again after it
    // went away gets them back.
    uint8_t outputs = uint8_t((settings.dtrAtOpen ? SerialLine::kDtr : 0) | (settings.rtsAtOpen ? SerialLine::kRts : 0));
    std::wstring problem;
    HANDLE port = OpenPort(settings, outputs, problem);
    if (port == INVALID_HANDLE_VALUE) {
        PostEnd(TransportEventKind::Error, problem, problem == L"Unable to open serial port." ? L"" : name);
        return;
    }
    for (;;) {
        m_portOpen = true;
        m_sendQueue.Open();
        Post(TransportEventKind::Status, L"Serial opened " + name + L" @ " + std::to_wstring(settings.baud), name);
        DWORD failure = 0;
        const bool stopped = Pump(port, settings, outputs, failure);
        {
            std::lock_guard<std::mutex> lock(m_controlLock);
            m_portOpen = false;
            m_controls.clear();
        }
        PostDropped(m_sendQueue.Close(), stopped ? L"the port was closed" : L"the port went away", name);
        if (stopped) {
            m_lines.Discard(); // stopped: an unfinished line is not posted
        } else {
            const std::wstring why = WithSystemError(L"Serial read failed.", failure);
            if (m_options.reconnect)
                PostLost(TransportEventKind::Error, why, name);
            else
                Post(TransportEventKind::Error, why, name, {}, true);
            PostLine(m_lines.Flush(), name);
        }
        m_port.Close(port);
        if (stopped || !m_options.reconnect) {
            PostEnd(TransportEventKind::Status, L"Serial closed", name);
            return;
        }
        // Unplugged: the same port name is tried every second, with the
        // same settings, until it is back or the link is closed.
        Post(TransportEventKind::Status, L"Reconnecting\u2026", name);
        port = INVALID_HANDLE_VALUE;
        while (port == INVALID_HANDLE_VALUE) {
            if (WaitForWork(WorkSignals{Signals().stop, nullptr}, HANDLE(nullptr), kReopenMs) == Woken::Stop) {
                PostEnd(TransportEventKind::Status, L"Serial closed", name);
                return;
            }
            port = OpenPort(settings, outputs, problem);
        }
    }
}

bool SerialTransport::Pump(HANDLE port, const ConnectionSettings& settings, uint8_t& outputs, DWORD& failure)
{
    const std::wstring& peer = settings.serialPort;
    Operation read, write, commWait;
    if (!read.Valid() || !write.Valid() || !commWait.Valid()) {
        failure = GetLastError();
        return false;
    }
    Lines lines(*this, port, settings, outputs, EV_RXCHAR);
    // A port that reports its lines is waited on for their changes all the
    // time; one that does not (a pseudo-terminal) only for its next byte,
    // after a read that found none.
    const bool watchLines = lines.Reported();
    DWORD commEvents = 0;
    bool awaitChar = false; // the last read found nothing
    std::vector<uint8_t> buffer(kReadBufferSize);
    OutgoingPtr out; // the payload being written
    size_t outWritten = 0;
    bool failed = false;
    DWORD lastErrorCheck = GetTickCount() - 1000;
    SerialErrorReport lineErrors;
    bool stopped = false;
    DWORD retryMs = INFINITE;
    uint64_t drainSinceUs = 0; // a Break began waiting for the driver's last bytes
    // `writeFailed`: the write failed with the thread's last error, rather than
    // the port closing under it.
    const auto dropOut = [&](bool writeFailed) {
        if (!out)
            return;
        const DWORD error = GetLastError();
        PostSent(out, outWritten, peer); // what did leave of it
        const uint64_t left = out->bytes.size() - outWritten;
        if (writeFailed)
            PostFailedSend(WithSystemError(L"Serial write failed.", error), left, peer);
        else
            PostDropped(left, stopped ? L"the port was closed" : L"the port went away", peer);
        out.reset();
    };
    const auto noteErrors = [&](DWORD errors) {
        PostLineErrors(lineErrors.Note(errors, GetTickCount()), peer, lines.State());
    };

    PostBudget& budget = *Budget();
    while (!failed && !stopped) {
        // Behind: no read is started until the window has caught up; the
        // port's own flow control holds the device back (without it, the
        // driver's buffer does until it overruns, which is reported).
        const bool room = budget.HasRoom();
        if (!read.Busy() && room && !awaitChar && (watchLines || !commWait.Busy()) &&
            !read.Started(m_port.Read(port, buffer.data(), kReadBufferSize, read.Begin()))) {
            failure = GetLastError();
            failed = true;
            break;
        }
        if (!commWait.Busy() && room && (watchLines || (awaitChar && !read.Busy()))) {
            if (!watchLines)
                awaitChar = false; // the next read comes once a byte has
            if (!commWait.Started(m_port.WaitEvent(port, &commEvents, commWait.Begin()))) {
                awaitChar = false;
                retryMs = kNoCharEventRetryMs;
            }
        }
        // A Break waits for what was queued before it, and what is queued
        // after it waits for the Break.
        bool breakNext = false;
        bool controlDue = false;
        bool draining = false;
        LineControl control;
        if (!lines.Busy()) {
            bool asked = false;
            uint64_t after = 0;
            {
                std::lock_guard<std::mutex> lock(m_controlLock);
                if (!m_controls.empty()) {
                    asked = true;
                    control = m_controls.front().control;
                    after = m_controls.front().after;
                }
            }
            if (asked) {
                breakNext = control.line == LineControl::Line::Break;
                const bool before = breakNext && m_sendQueue.NextSequence() <= after;
                controlDue = !breakNext || (!write.Busy() && !out && !before);
                breakNext = breakNext && !before;
                if (controlDue && breakNext) {
                    // A write is done once the driver has the bytes; the
                    // Break waits until they have left, but not for ever (a
                    // flow-control stop may hold them).
                    if (!drainSinceUs)
                        drainSinceUs = SteadyMicroseconds();
                    DWORD errors = 0;
                    COMSTAT status{};
                    if (m_port.ClearError(port, &errors, &status)) {
                        noteErrors(errors);
                        draining = status.cbOutQue > 0 && SteadyMicroseconds() - drainSinceUs < kBreakDrainUs;
                        controlDue = !draining;
                    }
                }
                if (controlDue) {
                    std::lock_guard<std::mutex> lock(m_controlLock);
                    m_controls.pop_front(); // only this thread takes from the front
                    drainSinceUs = 0;
                }
            }
        }
        if (controlDue) {
            lines.Begin(control);
            breakNext = false;
        }
        if (!write.Busy()) {
            if (!out && !breakNext && !lines.HoldsWrites()) {
                out = m_sendQueue.Pop();
                outWritten = 0;
            }
            if (out && !write.Started(m_port.Write(port, out->bytes.data() + outWritten,
                                                   DWORD(out->bytes.size() - outWritten), write.Begin())))
                dropOut(true);
        }

        // Everything that finished is taken in one pass, and the loop always
        // comes to the wait below, where a stop is seen even in a flood.
        bool progressed = controlDue;
        if (read.Done()) {
            progressed = true;
            DWORD got = 0;
            if (!read.Finish(m_port, port, got)) {
                failure = GetLastError();
                failed = true; // a port that has gone away ends its pending read
                break;
            }
            if (got > 0) {
                if (!m_options.serialCutsLines)
                    PostLine(std::vector<uint8_t>(buffer.begin(), buffer.begin() + got), peer);
                else
                    for (auto& line : m_lines.OnBytes(buffer.data(), got, GetTickCount()))
                        PostLine(std::move(line), peer);
                // The driver's line errors spoil or drop bytes: they are said,
                // each kind at most once a second with how often it was seen
                // (asked at most four times a second: it costs a system call).
                if (GetTickCount() - lastErrorCheck >= 250) {
                    lastErrorCheck = GetTickCount();
                    DWORD errors = 0;
                    if (m_port.ClearError(port, &errors, nullptr))
                        noteErrors(errors);
                }
            } else {
                // A device that went away may keep answering reads with
                // nothing: its state query is what fails then.
                DWORD errors = 0;
                failed = !m_port.ClearError(port, &errors, nullptr);
                if (failed)
                    failure = GetLastError();
                else
                    noteErrors(errors);
                awaitChar = true;
            }
        }
        if (commWait.Done()) {
            progressed = true;
            DWORD ignored = 0;
            if (commWait.Finish(m_port, port, ignored) && watchLines) {
                if (commEvents & kModemEvents)
                    lines.InputsChanged();
                DWORD errors = 0;
                if ((commEvents & (EV_BREAK | EV_ERR)) && m_port.ClearError(port, &errors, nullptr))
                    noteErrors(errors);
            }
            awaitChar = false; // the next read takes what came
        }
        if (write.Done()) {
            progressed = true;
            DWORD written = 0;
            const bool finished = write.Finish(m_port, port, written);
            // What the port took did leave, a failed write's part too.
            if (out)
                outWritten += std::min<size_t>(written, out->bytes.size() - outWritten);
            if (!finished) {
                dropOut(true);
            } else if (out && outWritten == out->bytes.size()) {
                PostSent(out, outWritten, peer);
                out.reset();
            } // else what the port did not take yet goes first next time
        }
        // What waited for the pulse or Break goes on at once.
        progressed = lines.Advance() || progressed;
        PostLine(m_lines.OnIdle(GetTickCount()), peer);
        // Errors counted after their kind was said are said when their
        // second is up, bytes or not.
        noteErrors(0);
        if (failed)
            break;

        // Asleep until I/O finishes, a payload is queued, a stop comes, an
        // unfinished line has waited long enough to be posted, or a pulse's
        // time is up.
        DWORD timeout = progressed ? 0 : std::min(retryMs, lines.MsLeft());
        if (draining)
            timeout = std::min<DWORD>(timeout, 1);
        if (!m_lines.Empty())
            timeout = std::min(timeout, DWORD(m_lines.MsUntilIdle(GetTickCount())));
        timeout = std::min(timeout, DWORD(lineErrors.MsUntilDue(GetTickCount())));
        if (!write.Busy() && !out && !breakNext && !lines.HoldsWrites())
            timeout = m_sendQueue.WaitMs(timeout);
        HANDLE busy[4];
        DWORD count = 0;
        for (const Operation* op : {&read, &commWait, &write})
            if (op->Busy())
                busy[count++] = op->Event();
        if (!read.Busy() && !room) {
            busy[count++] = budget.RoomEvent();
            timeout = budget.HasRoom() ? 0 : std::min(timeout, kRoomLookMs);
        }
        stopped = WaitForWork(Signals(), busy, count, timeout) == Woken::Stop;
        if (!progressed)
            retryMs = INFINITE;
    }

    // Nothing may still write into these buffers when they go: each
    // operation is cancelled and waited for on its own event.
    m_port.Cancel(port);
    for (Operation* op : {&read, &write, &commWait}) {
        DWORD moved = 0;
        if (op->Busy())
            op->Finish(m_port, port, moved, true);
        // A write cut short by the cancel still sent what it moved.
        if (op == &write && out)
            outWritten += std::min<size_t>(moved, out->bytes.size() - outWritten);
    }
    // What was counted and not yet said goes with the port.
    PostLineErrors(lineErrors.Flush(), peer, lines.State());
    dropOut(false);
    return stopped;
}

void SerialTransport::PostLineErrors(const std::vector<SerialErrorReport::Line>& lines, const std::wstring& peer,
                                     uint8_t state)
{
    for (const SerialErrorReport::Line& line : lines)
        if (line.isBreak)
            PostLines(SerialSignal::BreakReceived, line.text, state, peer);
        else
            Post(TransportEventKind::Error, line.text, peer, {}, false, line.count);
}

void SerialTransport::PostLines(SerialSignal signal, std::wstring text, uint8_t state, const std::wstring& peer) const
{
    TransportEvent event = Event(TransportEventKind::Status, std::move(text), peer);
    event.serial = signal;
    event.serialLines = state;
    PostTransportEvent(*this, std::move(event));
}

void SerialTransport::PostLine(std::vector<uint8_t> line, const std::wstring& peer)
{
    if (line.empty())
        return;
    PostReceived(std::move(line), peer);
}
