#include "engine/SerialTransport.h"

void SerialTransport::Start(HWND notifyWnd, const ConnectionSettings&)
{
    Stop();
    m_notifyWnd = notifyWnd;
    PostTransportEvent(*this, TransportEventKind::Error, L"Serial is not available in this build.");
}

void SerialTransport::Stop()
{
    RequestStop();
    JoinWorker();
}

bool SerialTransport::QueueSend(const std::vector<uint8_t>&)
{
    return false;
}
