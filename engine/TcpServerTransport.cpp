#include "engine/TcpServerTransport.h"

void TcpServerTransport::Start(HWND notifyWnd, const ConnectionSettings&)
{
    Stop();
    m_notifyWnd = notifyWnd;
    PostTransportEvent(*this, TransportEventKind::Error, L"TCP server is not available in this build.");
}

void TcpServerTransport::Stop()
{
    RequestStop();
    JoinWorker();
}

bool TcpServerTransport::QueueSendToAll(const std::vector<uint8_t>&)
{
    return false;
}
