#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/SerialLines.h"
#include "engine/Transport.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// One COM port in synchronous mode on a worker thread that alternates
// between writing the queue and reading with a 20 ms time-out.
class SerialTransport : public TransportBase {
public:
    SerialTransport() = default;
    ~SerialTransport() { Stop(); }

    void Start(HWND notifyWnd, const ConnectionSettings& settings);
    void Stop();
    bool IsPortOpen() const { return m_portOpen; }
    // False unless running, open and the payload is not empty.
    bool QueueSend(const std::vector<uint8_t>& payload);

private:
    void Run(ConnectionSettings settings);
    bool Configure(HANDLE port, const ConnectionSettings& settings);
    bool FlushSendQueue(HANDLE port, const std::wstring& peer);
    void PostLine(std::vector<uint8_t> line, const std::wstring& peer);

    std::atomic<bool> m_portOpen{false};
    std::atomic<HANDLE> m_handle{INVALID_HANDLE_VALUE};
    std::mutex m_sendMutex;
    std::deque<std::vector<uint8_t>> m_sendQueue;
    SerialLineCutter m_lines; // the worker's own
};
