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

    using Link::Start;
    void Start(HWND notifyWnd, const ConnectionSettings& settings, const LinkOptions& options) override;
    void Stop() override;
    // Refused unless running, open and the payload is not empty.
    SendResult Send(OutgoingPtr payload) override;
    bool QueueSend(const std::vector<uint8_t>& payload) { return Send(MakeOutgoing(payload)) == SendResult::Queued; }
    bool IsPortOpen() const { return m_portOpen; }
    size_t QueuedBytes() override { return m_sendQueue.Bytes(); }

private:
    void Run(ConnectionSettings settings);
    bool Configure(HANDLE port, const ConnectionSettings& settings);
    HANDLE OpenPort(const ConnectionSettings& settings, std::wstring& problem);
    // Reads and writes until stopped (true) or the port fails (false).
    bool Pump(HANDLE port, const std::wstring& peer, DWORD& failure);
    void PostLine(std::vector<uint8_t> line, const std::wstring& peer);
    void PostLineErrors(const std::vector<SerialErrorReport::Line>& lines, const std::wstring& peer);

    std::atomic<bool> m_portOpen{false};
    SendQueue m_sendQueue; // open while the port is
    SerialLineCutter m_lines; // the worker's own
};
