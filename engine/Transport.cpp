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

TransportBase::TransportBase(HANDLE sharedStop, std::shared_ptr<PostBudget> budget)
    : m_signals{sharedStop ? sharedStop : CreateEventW(nullptr, TRUE, FALSE, nullptr),
                CreateEventW(nullptr, FALSE, FALSE, nullptr), &m_stopRequested},
      m_ownsStop(!sharedStop),
      m_budget(budget ? std::move(budget) : std::make_shared<PostBudget>(PostBudgetBytes()))
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
    event.arrivedUs = MicrosecondsNow();
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
    TransportEvent event = Event(TransportEventKind::Received, {}, peer);
    event.receivedUs = SteadyMicroseconds();
    event.ticket = BudgetTicket(m_budget, block.size() + kEventCost);
    event.data = std::move(block);
    event.damaged = damaged;
    PostTransportEvent(*this, std::move(event));
}

void TransportBase::PostSent(const OutgoingPtr& payload, size_t written, const std::wstring& peer) const
{
    if (!payload || written == 0 || payload->said.exchange(true))
        return;
    TransportEvent event = Event(TransportEventKind::Sent, {}, peer);
    event.sendTag = payload->tag;
    event.ticket = BudgetTicket(m_budget, written + kEventCost);
    // The queue's was the last hold on a payload for one peer.
    if (written == payload->bytes.size() && payload.use_count() == 1)
        event.data = std::move(payload->bytes);
    else
        event.data.assign(payload->bytes.begin(), payload->bytes.begin() + ptrdiff_t(written));
    PostTransportEvent(*this, std::move(event));
}

void TransportBase::PostDropped(uint64_t bytes, const std::wstring& why, const std::wstring& peer) const
{
    if (bytes)
        PostFailedSend(std::to_wstring(bytes) + L" queued bytes were not sent: " + why + L".", bytes, peer);
}

void TransportBase::PostFailedSend(std::wstring text, uint64_t bytes, const std::wstring& peer) const
{
    TransportEvent event = Event(TransportEventKind::Error, std::move(text), peer);
    event.lostBytes = bytes;
    PostTransportEvent(*this, std::move(event));
}

static std::atomic<uint64_t> g_backloggedDatagramBytes{0};

uint64_t BackloggedDatagramBytes()
{
    return g_backloggedDatagramBytes.load();
}

bool TransportBase::DropForBacklog(size_t bytes) const
{
    if (m_budget->HasRoom())
        return false;
    g_backloggedDatagramBytes += bytes;
    return true;
}

void TransportBase::PostNote(std::wstring text, const std::wstring& peer) const
{
    TransportEvent event = Event(TransportEventKind::Status, std::move(text), peer);
    event.logOnly = true;
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

OutgoingPtr MakeOutgoing(std::vector<uint8_t> bytes, const SendTag& tag)
{
    auto payload = std::make_shared<Outgoing>();
    payload->bytes = std::move(bytes);
    payload->tag = tag;
    return payload;
}

namespace {

// A size tests and the benchmark may set; 0 gives the default back.
class Tunable {
public:
    explicit constexpr Tunable(size_t fallback) : m_fallback(fallback), m_value(fallback) {}
    size_t Get() const { return m_value.load(); }
    void Set(size_t bytes) { m_value = bytes ? bytes : m_fallback; }

private:
    size_t m_fallback;
    std::atomic<size_t> m_value;
};

Tunable g_sendQueueCap{size_t(16) << 20};
// A few MiB: enough that a busy link never waits on a window that keeps
// up, little beside the journal's budget when it does not.
Tunable g_postBudget{size_t(4) << 20};

} // namespace

size_t SendQueueCap()
{
    return g_sendQueueCap.Get();
}

void SetSendQueueCap(size_t bytes)
{
    g_sendQueueCap.Set(bytes);
}

size_t PostBudgetBytes()
{
    return g_postBudget.Get();
}

void SetPostBudgetBytes(size_t bytes)
{
    g_postBudget.Set(bytes);
}

void PostBudget::Give(size_t bytes)
{
    const int64_t left = m_used.fetch_sub(int64_t(bytes)) - int64_t(bytes);
    if (left < int64_t(m_limit) && m_waiting.exchange(false))
        SetEvent(m_room);
}

bool SendQueue::FullFor(size_t bytes) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_open && !m_payloads.empty() && m_bytes + bytes > SendQueueCap(); // as Push sees it
}

SendResult SendQueue::Push(OutgoingPtr payload)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_open)
        return SendResult::Refused;
    // One payload larger than the cap still goes, into an empty queue.
    if (!m_payloads.empty() && m_bytes + payload->bytes.size() > SendQueueCap())
        return SendResult::BackedUp;
    m_bytes += payload->bytes.size();
    ++payload->holders;
    m_payloads.push_back(std::move(payload));
    return SendResult::Queued;
}

void SendQueue::DropWithdrawn()
{
    while (!m_payloads.empty() && m_payloads.front()->tag.withdrawn && *m_payloads.front()->tag.withdrawn) {
        m_bytes -= m_payloads.front()->bytes.size();
        m_payloads.front()->LetGo(); // taken back, not lost
        m_payloads.pop_front();
    }
}

uint64_t SendQueue::NextSequence()
{
    std::lock_guard<std::mutex> guard(m_lock);
    DropWithdrawn();
    return m_payloads.empty() ? UINT64_MAX : m_payloads.front()->sequence;
}

OutgoingPtr SendQueue::Pop()
{
    std::lock_guard<std::mutex> guard(m_lock);
    DropWithdrawn();
    if (m_payloads.empty())
        return nullptr;
    const uint64_t due = m_payloads.front()->tag.notBeforeUs;
    if (due && due > SteadyMicroseconds())
        return nullptr;
    OutgoingPtr next = std::move(m_payloads.front());
    m_payloads.pop_front();
    m_bytes -= next->bytes.size();
    return next;
}

DWORD SendQueue::WaitMs(DWORD otherwise) const
{
    uint64_t due = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_payloads.empty() || !m_payloads.front()->tag.notBeforeUs)
            return otherwise;
        const SendTag& tag = m_payloads.front()->tag;
        if (tag.withdrawn && *tag.withdrawn)
            return 0; // the next Pop takes it out
        due = tag.notBeforeUs;
    }
    // A wait may last a millisecond longer than asked: the last two are
    // spent here, on the clock alone (a wait for the worker's events would
    // ask the system each time round), by a worker the scheduler does not
    // put aside meanwhile, and with the queue free for the window's sends.
    const uint64_t now = SteadyMicroseconds();
    if (due > now + 2000)
        return std::min<DWORD>(otherwise, DWORD(std::min<uint64_t>((due - now) / 1000 - 2, 0xFFFFFFF0u)));
    const HANDLE self = GetCurrentThread();
    const int priority = GetThreadPriority(self);
    SetThreadPriority(self, THREAD_PRIORITY_TIME_CRITICAL);
    while (SteadyMicroseconds() < due)
        YieldProcessor();
    SetThreadPriority(self, priority);
    return 0;
}

size_t SendQueue::Bytes() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bytes;
}

void SendQueue::Open()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_open = true;
}

uint64_t SendQueue::Close()
{
    std::deque<OutgoingPtr> dropped;
    uint64_t bytes = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_open = false;
        dropped.swap(m_payloads);
        m_bytes = 0;
    }
    // A payload for every client that another has written, or still holds,
    // is not lost yet.
    for (const OutgoingPtr& payload : dropped)
        if (payload->LetGo() && !payload->said.load())
            bytes += payload->bytes.size();
    return bytes;
}
