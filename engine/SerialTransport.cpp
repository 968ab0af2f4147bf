#include "engine/SerialTransport.h"

#include <cstring>

namespace {

constexpr DWORD kReadBufferSize = 4096;

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
    // The worker discards its unfinished line itself once it sees the stop,
    // so the buffer is never touched by two threads.
    const HANDLE port = m_handle.load();
    if (port != INVALID_HANDLE_VALUE)
        CancelIoEx(port, nullptr);
    JoinWorker();
}

bool SerialTransport::QueueSend(const std::vector<uint8_t>& payload)
{
    if (!m_running || !m_portOpen || payload.empty())
        return false;
    std::lock_guard<std::mutex> lock(m_sendMutex);
    m_sendQueue.push_back(payload);
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
        m_running = false;
        PostTransportEvent(*this, TransportEventKind::Error, L"No serial port selected.");
        return;
    }
    const std::wstring path = L"\\\\.\\" + name;
    const HANDLE port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        m_running = false;
        PostTransportEvent(*this, TransportEventKind::Error, L"Unable to open serial port.");
        return;
    }
    m_handle = port;
    if (!Configure(port, settings)) {
        m_handle = INVALID_HANDLE_VALUE;
        CloseHandle(port);
        m_running = false;
        PostTransportEvent(*this, TransportEventKind::Error, L"Unable to configure serial port.", name);
        return;
    }
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 20, 2, 200};
    SetCommTimeouts(port, &timeouts);
    PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);
    m_portOpen = true;
    PostTransportEvent(*this, TransportEventKind::Status,
                       L"Serial opened " + name + L" @ " + std::to_wstring(settings.baud), name);

    std::vector<uint8_t> buffer(kReadBufferSize);
    bool readFailed = false;
    while (m_running) {
        FlushSendQueue(port, name);
        DWORD got = 0;
        if (!ReadFile(port, buffer.data(), kReadBufferSize, &got, nullptr)) {
            readFailed = true;
            break;
        }
        if (got > 0) {
            for (auto& line : m_lines.OnBytes(buffer.data(), got, GetTickCount()))
                PostLine(std::move(line), name);
            continue;
        }
        // A device that went away may keep answering reads with nothing:
        // its state query is what fails then.
        DWORD errors = 0;
        if (!ClearCommError(port, &errors, nullptr)) {
            readFailed = true;
            break;
        }
        PostLine(m_lines.OnIdle(GetTickCount()), name);
    }

    const bool stillMeantToRun = m_running;
    if (readFailed && stillMeantToRun)
        PostTransportEvent(*this, TransportEventKind::Error, L"Serial read failed.", name);
    if (stillMeantToRun)
        PostLine(m_lines.Flush(), name);
    else
        m_lines.Discard(); // stopped: an unfinished line is not posted
    m_portOpen = false;
    m_handle = INVALID_HANDLE_VALUE;
    CloseHandle(port);
    m_running = false;
    PostTransportEvent(*this, TransportEventKind::Status, L"Serial closed", name);
}

void SerialTransport::PostLine(std::vector<uint8_t> line, const std::wstring& peer)
{
    if (line.empty())
        return;
    std::wstring text = DecodeReceivedText(line.data(), line.size());
    PostTransportEvent(*this, TransportEventKind::Received, std::move(text), peer, std::move(line));
}

// False after a failed write; what is still queued waits for the next round.
bool SerialTransport::FlushSendQueue(HANDLE port, const std::wstring& peer)
{
    for (;;) {
        std::vector<uint8_t> payload;
        {
            std::lock_guard<std::mutex> lock(m_sendMutex);
            if (m_sendQueue.empty())
                return true;
            payload = std::move(m_sendQueue.front());
            m_sendQueue.pop_front();
        }
        DWORD written = 0;
        if (!WriteFile(port, payload.data(), DWORD(payload.size()), &written, nullptr) || written != payload.size()) {
            PostTransportEvent(*this, TransportEventKind::Error, L"Serial write failed.", peer);
            return false;
        }
    }
}
