#include "engine/Transport.h"
#include "text/Utf8.h"

#include <system_error>

const wchar_t* const kWorkerStartFailedText = L"Could not start the link's worker thread.";

static std::thread LaunchThread(std::function<void()> body)
{
    return std::thread(std::move(body));
}

static std::atomic<WorkerLauncher> g_launcher{&LaunchThread};

WorkerLauncher SetWorkerLauncher(WorkerLauncher launcher)
{
    return g_launcher.exchange(launcher ? launcher : &LaunchThread);
}

Woken WaitForWork(const WorkSignals& signals, const HANDLE* handles, DWORD count, DWORD timeoutMs)
{
    HANDLE all[MAXIMUM_WAIT_OBJECTS] = {signals.stop};
    DWORD n = 1;
    for (DWORD i = 0; i < count && n < MAXIMUM_WAIT_OBJECTS - 1; ++i)
        all[n++] = handles[i];
    if (signals.wake)
        all[n++] = signals.wake;
    const DWORD result = WaitForMultipleObjects(n, all, FALSE, timeoutMs);
    if (result >= WAIT_OBJECT_0 + n && result != WAIT_TIMEOUT)
        return Woken::Stop; // a failed wait would never end: treat it as the end
    if (result == WAIT_OBJECT_0 || (signals.stopRequested && *signals.stopRequested))
        return Woken::Stop;
    if (result == WAIT_TIMEOUT)
        return Woken::Timeout;
    return all[result - WAIT_OBJECT_0] == signals.wake ? Woken::Wake : Woken::Handle;
}

TransportBase::TransportBase(HANDLE sharedStop)
    : m_signals{sharedStop ? sharedStop : CreateEventW(nullptr, TRUE, FALSE, nullptr),
                CreateEventW(nullptr, FALSE, FALSE, nullptr), &m_stopRequested},
      m_ownsStop(!sharedStop)
{
}

TransportBase::~TransportBase()
{
    if (m_ownsStop && m_signals.stop)
        CloseHandle(m_signals.stop);
    if (m_signals.wake)
        CloseHandle(m_signals.wake);
}

bool TransportBase::StartWorker(HWND notifyWnd, std::function<void()> body, const std::wstring& failureText,
                                bool endsLink)
{
    m_notifyWnd = notifyWnd;
    m_stopRequested = false;
    if (m_ownsStop)
        ResetEvent(m_signals.stop);
    ResetEvent(m_signals.wake);
    m_running.exchange(true);
    try {
        m_worker = g_launcher.load()(std::move(body));
        return true;
    } catch (const std::system_error&) {
        m_running = false;
        Post(TransportEventKind::Error, failureText, {}, {}, endsLink);
        return false;
    }
}

void TransportBase::RequestStop()
{
    m_stopRequested = true;
    m_running.exchange(false);
    SetEvent(m_ownsStop ? m_signals.stop : m_signals.wake);
}

void TransportBase::JoinWorker()
{
    if (m_worker.joinable())
        m_worker.join();
}

TransportEvent TransportBase::Event(TransportEventKind kind, std::wstring text, const std::wstring& peer) const
{
    TransportEvent event;
    event.kind = kind;
    event.text = std::move(text);
    event.peer = peer;
    event.clientId = m_clientId;
    return event;
}

bool TransportBase::Post(TransportEventKind kind, std::wstring text, const std::wstring& peer,
                         std::vector<uint8_t> data, bool linkEnded, uint32_t damaged) const
{
    TransportEvent event = Event(kind, std::move(text), peer);
    event.linkEnded = linkEnded;
    event.data = std::move(data);
    event.damaged = damaged;
    return PostTransportEvent(*this, std::move(event));
}

void TransportBase::PostReceived(std::vector<uint8_t> block, const std::wstring& peer, uint32_t damaged) const
{
    TransportEvent event = Event(TransportEventKind::Received, DecodeReceivedText(block.data(), block.size()), peer);
    event.receivedUs = SteadyMicroseconds();
    event.data = std::move(block);
    event.damaged = damaged;
    PostTransportEvent(*this, std::move(event));
}

void TransportBase::PostLost(TransportEventKind kind, std::wstring text, const std::wstring& peer) const
{
    TransportEvent event = Event(kind, std::move(text), peer);
    event.connectionLost = true;
    PostTransportEvent(*this, std::move(event));
}

void TransportBase::PostEnd(TransportEventKind kind, std::wstring text, const std::wstring& peer)
{
    m_running = false;
    Post(kind, std::move(text), peer, {}, true);
}

size_t QueuedSize(std::mutex& lock, const SendQueue& queue)
{
    std::lock_guard<std::mutex> guard(lock);
    size_t bytes = 0;
    for (const std::vector<uint8_t>& payload : queue)
        bytes += payload.size();
    return bytes;
}
