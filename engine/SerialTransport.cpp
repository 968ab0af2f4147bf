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
    bool Finish(HANDLE port, DWORD& bytes, bool wait = false)
    {
        m_busy = false;
        bytes = 0;
        return GetOverlappedResult(port, &m_ov, &bytes, wait ? TRUE : FALSE) != FALSE;
    }

private:
    OVERLAPPED m_ov{};
    bool m_busy = false;
};

} // namespace

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
    const SendResult result = m_sendQueue.Push(std::move(payload));
    if (result == SendResult::Queued)
        Wake();
    return result;
}

bool SerialTransport::Configure(HANDLE port, const ConnectionSettings& s)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(port, &dcb))
        return false;
    dcb.BaudRate = s.baud;
    dcb.ByteSize = s.dataBits;
    dcb.Parity = s.parity;
    dcb.StopBits = s.stopBits;
    // The flag bits follow BaudRate as one 32-bit word.
    static_assert(sizeof(DCB) == 28, "DCB layout");
    uint32_t flags = 0;
    memcpy(&flags, reinterpret_cast<const char*>(&dcb) + 8, sizeof(flags));
    flags = SerialFlagWord(flags, s.parity, s.flowControl);
    memcpy(reinterpret_cast<char*>(&dcb) + 8, &flags, sizeof(flags));
    return SetCommState(port, &dcb) != FALSE;
}

// The port opened and configured as on Open; INVALID_HANDLE_VALUE with the
// error line's text in `problem`.
HANDLE SerialTransport::OpenPort(const ConnectionSettings& settings, std::wstring& problem)
{
    const std::wstring path = L"\\\\.\\" + settings.serialPort;
    const HANDLE port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        problem = L"Unable to open serial port.";
        return port;
    }
    if (!Configure(port, settings)) {
        CloseHandle(port);
        problem = L"Unable to configure serial port.";
        return INVALID_HANDLE_VALUE;
    }
    // A read returns what has come at once; where nothing has, some drivers
    // keep it pending until a byte comes and others return nothing, and the
    // worker then waits for the "byte received" event. Writes have no time
    // limit: a slow rate or a flow-control stop only delays them, and Stop
    // cancels them.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(port, &timeouts);
    PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);
    SetCommMask(port, EV_RXCHAR);
    return port;
}

void SerialTransport::Run(ConnectionSettings settings)
{
    const std::wstring& name = settings.serialPort;
    if (name.empty()) {
        PostEnd(TransportEventKind::Error, L"No serial port selected.");
        return;
    }
    std::wstring problem;
    HANDLE port = OpenPort(settings, problem);
    if (port == INVALID_HANDLE_VALUE) {
        PostEnd(TransportEventKind::Error, problem, problem == L"Unable to open serial port." ? L"" : name);
        return;
    }
    for (;;) {
        m_portOpen = true;
        m_sendQueue.Open();
        Post(TransportEventKind::Status, L"Serial opened " + name + L" @ " + std::to_wstring(settings.baud), name);
        DWORD failure = 0;
        const bool stopped = Pump(port, name, failure);
        m_portOpen = false;
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
        CloseHandle(port);
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
            port = OpenPort(settings, problem);
        }
    }
}

bool SerialTransport::Pump(HANDLE port, const std::wstring& peer, DWORD& failure)
{
    Operation read, write, charWait;
    if (!read.Valid() || !write.Valid() || !charWait.Valid()) {
        failure = GetLastError();
        return false;
    }
    DWORD charMask = 0;
    bool awaitChar = false; // the last read found nothing
    std::vector<uint8_t> buffer(kReadBufferSize);
    OutgoingPtr out; // the payload being written
    size_t outWritten = 0;
    bool failed = false;
    DWORD lastErrorCheck = GetTickCount() - 1000;
    SerialErrorReport lineErrors;
    bool stopped = false;
    DWORD retryMs = INFINITE;
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

    PostBudget& budget = *Budget();
    while (!failed && !stopped) {
        // Behind: no read is started until the window has caught up; the
        // port's own flow control holds the device back (without it, the
        // driver's buffer does until it overruns, which is reported).
        if (!read.Busy() && !charWait.Busy() && budget.HasRoom()) {
            if (awaitChar) {
                awaitChar = false;
                if (!charWait.Started(WaitCommEvent(port, &charMask, charWait.Begin())))
                    retryMs = kNoCharEventRetryMs;
            } else if (!read.Started(ReadFile(port, buffer.data(), kReadBufferSize, nullptr, read.Begin()))) {
                failure = GetLastError();
                failed = true;
                break;
            }
        }
        if (!write.Busy()) {
            if (!out) {
                out = m_sendQueue.Pop();
                outWritten = 0;
            }
            if (out && !write.Started(WriteFile(port, out->bytes.data() + outWritten,
                                                DWORD(out->bytes.size() - outWritten), nullptr, write.Begin())))
                dropOut(true);
        }

        // Everything that finished is taken in one pass, and the loop always
        // comes to the wait below, where a stop is seen even in a flood.
        bool progressed = false;
        if (read.Done()) {
            progressed = true;
            DWORD got = 0;
            if (!read.Finish(port, got)) {
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
                    if (ClearCommError(port, &errors, nullptr))
                        PostLineErrors(lineErrors.Note(errors, lastErrorCheck), peer);
                }
            } else {
                // A device that went away may keep answering reads with
                // nothing: its state query is what fails then.
                DWORD errors = 0;
                failed = !ClearCommError(port, &errors, nullptr);
                if (failed)
                    failure = GetLastError();
                awaitChar = true;
            }
        }
        if (charWait.Done()) {
            progressed = true;
            DWORD ignored = 0;
            charWait.Finish(port, ignored); // the next read takes what came
        }
        if (write.Done()) {
            progressed = true;
            DWORD written = 0;
            const bool finished = write.Finish(port, written);
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
        PostLine(m_lines.OnIdle(GetTickCount()), peer);
        // Errors counted after their kind was said are said when their
        // second is up, bytes or not.
        PostLineErrors(lineErrors.Note(0, GetTickCount()), peer);
        if (failed)
            break;

        // Asleep until I/O finishes, a payload is queued, a stop comes, or an
        // unfinished line has waited long enough to be posted.
        DWORD timeout = progressed ? 0 : retryMs;
        if (!m_lines.Empty())
            timeout = std::min(timeout, DWORD(m_lines.MsUntilIdle(GetTickCount())));
        timeout = std::min(timeout, DWORD(lineErrors.MsUntilDue(GetTickCount())));
        if (!write.Busy() && !out)
            timeout = m_sendQueue.WaitMs(timeout);
        HANDLE busy[4];
        DWORD count = 0;
        for (const Operation* op : {&read, &charWait, &write})
            if (op->Busy())
                busy[count++] = op->Event();
        if (!read.Busy() && !charWait.Busy() && !budget.HasRoom()) {
            busy[count++] = budget.RoomEvent();
            timeout = budget.HasRoom() ? 0 : std::min(timeout, kRoomLookMs);
        }
        stopped = WaitForWork(Signals(), busy, count, timeout) == Woken::Stop;
        if (!progressed)
            retryMs = INFINITE;
    }

    // Nothing may still write into these buffers when they go: each
    // operation is cancelled and waited for on its own event.
    CancelIoEx(port, nullptr);
    for (Operation* op : {&read, &write, &charWait}) {
        DWORD moved = 0;
        if (op->Busy())
            op->Finish(port, moved, true);
        // A write cut short by the cancel still sent what it moved.
        if (op == &write && out)
            outWritten += std::min<size_t>(moved, out->bytes.size() - outWritten);
    }
    // What was counted and not yet said goes with the port.
    PostLineErrors(lineErrors.Flush(), peer);
    dropOut(false);
    return stopped;
}

void SerialTransport::PostLineErrors(const std::vector<SerialErrorReport::Line>& lines, const std::wstring& peer)
{
    for (const SerialErrorReport::Line& line : lines)
        Post(TransportEventKind::Error, line.text, peer, {}, false, line.count);
}

void SerialTransport::PostLine(std::vector<uint8_t> line, const std::wstring& peer)
{
    if (line.empty())
        return;
    PostReceived(std::move(line), peer);
}
