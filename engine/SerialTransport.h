#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/Link.h"
#include "engine/SerialLines.h"
#include "engine/SerialPortApi.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// One COM port in overlapped mode on a worker thread that keeps a read
// pending at all times and writes what is queued as soon as it is queued.
// Where the port reports its control lines, the worker also waits on their
// changes, and it sets DTR and RTS and sends Breaks as asked.
class SerialTransport : public Link {
public:
    // The port's calls go through `port` (a test's scripted port).
    explicit SerialTransport(SerialPortApi& port = SystemSerialPort()) : m_port(port) {}
    ~SerialTransport() override { Stop(); }

    using Link::Start;
    void Start(HWND notifyWnd, const ConnectionSettings& settings, const LinkOptions& options) override;
    void Stop() override;
    // Refused unless running, open and the payload is not empty.
    SendResult Send(OutgoingPtr payload) override;
    bool QueueSend(const std::vector<uint8_t>& payload) { return Send(MakeOutgoing(payload)) == SendResult::Queued; }
    SendResult ChangeLine(const LineControl& control) override;
    bool IsPortOpen() const { return m_portOpen; }
    size_t QueuedBytes() override { return m_sendQueue.Bytes(); }

private:
    class Lines;
    void Run(ConnectionSettings settings);
    bool Configure(HANDLE port, const ConnectionSettings& settings, uint8_t outputs);
    HANDLE OpenPort(const ConnectionSettings& settings, uint8_t outputs, std::wstring& problem);
    // Reads and writes until stopped (true) or the port fails (false).
    // `outputs`: DTR and RTS as they are set, kept for the next open.
    bool Pump(HANDLE port, const ConnectionSettings& settings, uint8_t& outputs, DWORD& failure);
    void PostLine(std::vector<uint8_t> line, const std::wstring& peer);
    void PostLineErrors(const std::vector<SerialErrorReport::Line>& lines, const std::wstring& peer, uint8_t state);
    void PostLines(SerialSignal signal, std::wstring text, uint8_t lines, const std::wstring& peer) const;

    SerialPortApi& m_port;
    std::atomic<bool> m_portOpen{false};
    // A Break goes in order with the payloads: after those queued before it.
    struct QueuedControl {
        LineControl control;
        uint64_t after = 0; // payloads queued before it
    };
    std::mutex m_controlLock;
    std::deque<QueuedControl> m_controls; // guarded by m_controlLock; emptied as the port closes
    uint64_t m_queued = 0; // payloads ever queued; guarded by m_controlLock
    SendQueue m_sendQueue; // open while the port is
    SerialLineCutter m_lines; // the worker's own
};
