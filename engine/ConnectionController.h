#pragma once

#include "engine/ConnectionSettings.h"
#include "engine/SerialTransport.h"
#include "engine/TcpClientTransport.h"
#include "engine/TcpServerTransport.h"
#include "engine/UdpTransport.h"

#include <cstdint>
#include <vector>

// The one place where the window starts, stops and feeds the transports.
// Interface thread only.
class ConnectionController {
public:
    ConnectionController() = default;
    ConnectionController(const ConnectionController&) = delete;
    ConnectionController& operator=(const ConnectionController&) = delete;
    ~ConnectionController() { StopAll(); }

    void SetNotifyWindow(HWND wnd) { m_notifyWnd = wnd; }

    void Start(const ConnectionSettings& settings);
    void StopAll();
    // Hands one payload to the transport chosen by the last Start, running
    // or not; true when it was queued or sent.
    bool Send(const std::vector<uint8_t>& payload);

    const TcpClientTransport& TcpClient() const { return m_tcpClient; }
    const TcpServerTransport& TcpServer() const { return m_tcpServer; }
    const UdpTransport& Udp() const { return m_udp; }
    const SerialTransport& Serial() const { return m_serial; }
    bool AnyWorker() const;

private:
    HWND m_notifyWnd = nullptr;
    uint32_t m_useSerial = 0;
    uint32_t m_isUdp = 0;
    uint32_t m_isServer = 0;
    TcpClientTransport m_tcpClient;
    TcpServerTransport m_tcpServer;
    UdpTransport m_udp;
    SerialTransport m_serial;
};
