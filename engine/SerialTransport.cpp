#include "engine/SerialTransport.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr DWORD kReadBufferSize = 4096;
// For a driver that cannot tell when a byte arrives: how long to wait
// before the next read asks again.
constexpr DWORD kNoCharEventRetryMs = 20;

// One overlapped operation; the port's read and write share one event,
// and which of them finished is read from the OVERLAPPED itself.
struct Operation {
    OVERLAPPED ov{};
    bool busy = false;
    bool Done() const { return busy && HasOverlappedIoCompleted(&ov); }
    void Begin(HANDLE event)
    {
        ov = OVERLAPPED{};
        ov.hEvent = event;
        busy = true;
    }
};

struct Event {
    HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Event()
    {
        if (handle)
            CloseHandle(handle);
    }
};

// False when the call failed outright; a pending start counts as started.
bool Started(BOOL result)
{
    return result || GetLastError() == ERROR_IO_PENDING;
}

} // namespace

void SerialTransport::Start(HWND notifyWnd, const ConnectionSettings& settings)
{
    Stop();
    StartWorker(notifyWnd, [this, settings] { Run(settings); });
}

void SerialTransport::Stop()
{
    RequestStop();
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        m_sendQueue.clear();
    }
    // The worker cancels its own I/O, drops its unfinished line and closes
    // the port; nothing of it is touched from here.
    JoinWorker();
}

bool SerialTransport::QueueSend(const std::vector<uint8_t>& payload)
{
    if (!m_running || !m_portOpen || payload.empty())
        return false;
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        m_sendQueue.push_back(payload);
    }
    Wake();
    return true;
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

void SerialTransport::Run(ConnectionSettings settings)
{
    const std::wstring& name = settings.serialPort;
    if (name.empty()) {
        PostEnd(TransportEventKind::Error, L"No serial port selected.");
        return;
    }
    const std::wstring path = L"\\\\.\\" + name;
    const HANDLE port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        PostEnd(TransportEventKind::Error, L"Unable to open serial port.");
        return;
    }
    if (!Configure(port, settings)) {
        CloseHandle(port);
        PostEnd(TransportEventKind::Error, L"Unable to configure serial port.", name);
        return;
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
    m_portOpen = true;
    Post(TransportEventKind::Status, L"Serial opened " + name + L" @ " + std::to_wstring(settings.baud), name);

    const bool stopped = Pump(port, name);
    if (!stopped) {
        Post(TransportEventKind::Error, L"Serial read failed.", name, {}, true);
        PostLine(m_lines.Flush(), name);
    } else {
        m_lines.Discard(); // stopped: an unfinished line is not posted
    }
    m_portOpen = false;
    CloseHandle(port);
    PostEnd(TransportEventKind::Status, L"Serial closed", name);
}

bool SerialTransport::Pump(HANDLE port, const std::wstring& peer)
{
    Event io;
    if (!io.handle)
        return false;
    Operation read, write, charWait;
    DWORD charMask = 0;
    bool awaitChar = false; // the last read found nothing
    std::vector<uint8_t> buffer(kReadBufferSize);
    std::vector<uint8_t> out; // the payload being written; its unwritten rest
    bool stopped = false;
    bool failed = false;
    DWORD timeout = INFINITE;

    while (!stopped && !failed) {
        if (!read.busy && !charWait.busy) {
            if (awaitChar) {
                charWait.Begin(io.handle);
                if (!Started(WaitCommEvent(port, &charMask, &charWait.ov))) {
                    charWait.busy = false;
                    timeout = kNoCharEventRetryMs;
                }
                awaitChar = false;
            } else {
                read.Begin(io.handle);
                if (!Started(ReadFile(port, buffer.data(), kReadBufferSize, nullptr, &read.ov))) {
                    read.busy = false;
                    failed = true;
                    break;
                }
            }
        }
        if (!write.busy) {
            if (out.empty()) {
                std::lock_guard<std::mutex> lock(m_sendMutex);
                if (!m_sendQueue.empty()) {
                    out = std::move(m_sendQueue.front());
                    m_sendQueue.pop_front();
                }
            }
            if (!out.empty()) {
                write.Begin(io.handle);
                if (!Started(WriteFile(port, out.data(), DWORD(out.size()), nullptr, &write.ov))) {
                    write.busy = false;
                    out.clear();
                    Post(TransportEventKind::Error, L"Serial write failed.", peer);
                }
            }
        }

        if (read.Done()) {
            read.busy = false;
            DWORD got = 0;
            if (!GetOverlappedResult(port, &read.ov, &got, FALSE)) {
                failed = true; // a port that has gone away ends its pending read
                break;
            }
            if (got > 0) {
                for (auto& line : m_lines.OnBytes(buffer.data(), got, GetTickCount()))
                    PostLine(std::move(line), peer);
                continue;
            }
            // A device that went away may keep answering reads with nothing:
            // its state query is what fails then.
            DWORD errors = 0;
            failed = !ClearCommError(port, &errors, nullptr);
            awaitChar = true;
            continue;
        }
        if (charWait.Done()) {
            charWait.busy = false;
            DWORD ignored = 0;
            GetOverlappedResult(port, &charWait.ov, &ignored, FALSE);
            continue; // the next read takes what came
        }
        if (write.Done()) {
            write.busy = false;
            DWORD written = 0;
            if (GetOverlappedResult(port, &write.ov, &written, FALSE)) {
                // What the port did not take yet goes first next time.
                out.erase(out.begin(), out.begin() + std::min<size_t>(written, out.size()));
            } else {
                out.clear();
                Post(TransportEventKind::Error, L"Serial write failed.", peer);
            }
            continue;
        }

        // Sleep until I/O completes, a payload is queued, a stop comes, or an
        // unfinished line has waited long enough to be posted. A completion
        // between the checks above and the reset is caught by checking again.
        ResetEvent(io.handle);
        if (read.Done() || write.Done() || charWait.Done())
            continue;
        if (!m_lines.Empty())
            timeout = std::min(timeout, DWORD(m_lines.MsUntilIdle(GetTickCount())));
        const Woken woken = WaitForWork(Signals(), io.handle, timeout);
        timeout = INFINITE;
        switch (woken) {
        case Woken::Stop:
            stopped = true;
            break;
        case Woken::Timeout:
            PostLine(m_lines.OnIdle(GetTickCount()), peer);
            break;
        case Woken::Handle:
        case Woken::Wake:
            break;
        }
    }

    // Nothing may still write into these buffers when they go.
    CancelIoEx(port, nullptr);
    DWORD ignored = 0;
    for (Operation* op : {&read, &write, &charWait})
        if (op->busy)
            GetOverlappedResult(port, &op->ov, &ignored, TRUE);
    return stopped;
}

void SerialTransport::PostLine(std::vector<uint8_t> line, const std::wstring& peer)
{
    if (line.empty())
        return;
    PostReceived(std::move(line), peer);
}
