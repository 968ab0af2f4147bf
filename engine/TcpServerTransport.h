#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/Transport.h"

#include <cstdint>
#include <vector>

// The TCP server link. Listening and client sessions are not built yet:
// starting it reports that, so the window returns to its idle state.
class TcpServerTransport : public TransportBase {
public:
    TcpServerTransport() = default;
    ~TcpServerTransport() { Stop(); }

    void Start(HWND notifyWnd, const ConnectionSettings& settings);
    void Stop();
    // Queues a copy for every running client session; true when one took it.
    bool QueueSendToAll(const std::vector<uint8_t>& payload);
};
