#include "engine/ConnectionController.h"

void ConnectionController::Start(const ConnectionSettings& settings)
{
    StopAll();
    m_useSerial = settings.useSerial;
    m_isUdp = settings.isUdp;
    m_isServer = settings.isServer;

    if (m_useSerial == 1)
        m_serial.Start(m_notifyWnd, settings);
    else if (m_isUdp != 0)
        m_udp.Start(m_notifyWnd, settings);
    else if (m_isServer != 0)
        m_tcpServer.Start(m_notifyWnd, settings);
    else
        m_tcpClient.Start(m_notifyWnd, settings);
}

void ConnectionController::StopAll()
{
    m_tcpClient.Stop();
    m_tcpServer.Stop();
    m_udp.Stop();
    m_serial.Stop();
}

bool ConnectionController::Send(const std::vector<uint8_t>& payload)
{
    if (m_useSerial == 1) {
        if (!m_serial.IsRunning() || !m_serial.IsPortOpen() || payload.empty())
            return false;
        return m_serial.QueueSend(payload);
    }
    if (m_isUdp == 0 && m_isServer == 0)
        return m_tcpClient.QueueSend(payload);
    if (m_isUdp == 0)
        return m_tcpServer.QueueSendToAll(payload);
    return m_udp.SendNow(payload);
}

bool ConnectionController::AnyWorker() const
{
    return m_tcpClient.HasWorker() || m_tcpServer.HasWorker() || m_udp.HasWorker() ||
           m_serial.HasWorker();
}
