#include "engine/UdpTransport.h"

void UdpTransport::Start(HWND notifyWnd, const ConnectionSettings&)
{
    Stop();
    m_notifyWnd = notifyWnd;
    PostTransportEvent(*this, TransportEventKind::Error, L"UDP is not available in this build.");
}

void UdpTransport::Stop()
{
    RequestStop();
    JoinWorker();
}

bool UdpTransport::SendNow(const std::vector<uint8_t>&)
{
    return false;
}
