#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/Transport.h"

#include <atomic>
#include <cstdint>
#include <vector>

// The serial link. Not built yet: starting it reports that, so the window
// returns to its idle state.
class SerialTransport : public TransportBase {
public:
    SerialTransport() = default;
    ~SerialTransport() { Stop(); }

    void Start(HWND notifyWnd, const ConnectionSettings& settings);
    void Stop();
    bool IsPortOpen() const { return m_portOpen; }
    bool QueueSend(const std::vector<uint8_t>& payload);

private:
    std::atomic<bool> m_portOpen{false};
};
