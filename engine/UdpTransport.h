#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/Transport.h"

#include <cstdint>
#include <vector>

// The UDP link. Not built yet: starting it reports that, so the window
// returns to its idle state.
class UdpTransport : public TransportBase {
public:
    UdpTransport() = default;
    ~UdpTransport() { Stop(); }

    void Start(HWND notifyWnd, const ConnectionSettings& settings);
    void Stop();
    // Sends at once on the calling thread; true when the send did not fail.
    bool SendNow(const std::vector<uint8_t>& payload);
};
