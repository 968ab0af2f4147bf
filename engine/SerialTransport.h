#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/Link.h"
#include "engine/SerialLines.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// One COM port in overlapped mode on a worker thread that keeps a read
// pending at all times and writes what is queued as soon as it is queued.
class SerialTransport : public Link {
public:
    SerialTransport() = default;
    ~SerialTransport() override { Stop(); }

    void Start(HWND notifyWnd, const ConnectionSettings& settings) override;
    void Stop() override;
    bool Send(const std::vector<uint8_t>& payload) override { return QueueSend(payload); }
    bool IsPortOpen() const { return m_portOpen; }
    // Before Start: false posts each read as it came, for the log's own
    // framing to cut; true (the default) cuts lines here.
    void SetCutLines(bool cut) { m_cutLines = cut; }
    // False unless running, open and the payload is not empty.
    bool QueueSend(const std::vector<uint8_t>& payload);
    size_t QueuedBytes() override { return QueuedSize(m_sendMutex, m_sendQueue); }

private:
    void Run(ConnectionSettings settings);
    bool Configure(HANDLE port, const ConnectionSettings& settings);
    HANDLE OpenPort(const ConnectionSettings& settings, std::wstring& problem);
    // Reads and writes until stopped (true) or the port fails (false).
    bool Pump(HANDLE port, const std::wstring& peer, DWORD& failure);
    void PostLine(std::vector<uint8_t> line, const std::wstring& peer);
    void PostLineErrors(const std::vector<SerialErrorReport::Line>& lines, const std::wstring& peer);

    std::atomic<bool> m_portOpen{false};
    std::mutex m_sendMutex;
    SendQueue m_sendQueue;
    SerialLineCutter m_lines; // the worker's own
    bool m_cutLines = true;
};
