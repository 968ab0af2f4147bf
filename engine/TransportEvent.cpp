#include "engine/TransportEvent.h"

#include "engine/Transport.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>

static std::atomic<PostMessageFunction> g_post{&PostMessageW};
static std::atomic<uint64_t> g_unposted{0};

uint64_t UnpostedTrafficBytes()
{
    return g_unposted.load();
}

PostMessageFunction SetPostMessageFunction(PostMessageFunction post)
{
    return g_post.exchange(post ? post : &PostMessageW);
}

// Waiting only helps when another thread drains the queue: never while the
// window's own thread is the poster, or is blocked in Stop, or is gone.
static bool WorthRetrying(const TransportBase& transport, HWND wnd)
{
    return !transport.m_stopRequested && IsWindow(wnd) &&
           GetWindowThreadProcessId(wnd, nullptr) != GetCurrentThreadId();
}

bool PostTransportEvent(const TransportBase& transport, TransportEventKind kind, std::wstring text,
                        const std::wstring& peer, std::vector<uint8_t> data)
{
    TransportEvent event;
    event.kind = kind;
    event.text = std::move(text);
    event.peer = peer;
    event.data = std::move(data);
    return PostTransportEvent(transport, std::move(event));
}

bool PostTransportEvent(const TransportBase& transport, TransportEvent event)
{
    const HWND wnd = transport.m_notifyWnd;
    auto record = std::make_unique<TransportEvent>(std::move(event));
    record->side = transport.m_side;
    DWORD pause = 1;
    while (wnd) {
        if (g_post.load()(wnd, WM_TRANSPORT_EVENT, 0, reinterpret_cast<LPARAM>(record.get()))) {
            record.release(); // the window owns it now
            return true;
        }
        if (!WorthRetrying(transport, wnd))
            break;
        Sleep(pause);
        pause = std::min<DWORD>(pause * 2, 16);
    }
    // Given up: traffic that no window will show counts as lost.
    if (record->kind == TransportEventKind::Received || record->kind == TransportEventKind::Sent)
        g_unposted += record->data.size();
    return false;
}

uint64_t MicrosecondsNow()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime; // 100 ns since 1601
    return ticks / 10 - 11644473600000000ull;
}

uint64_t SteadyMicroseconds()
{
    static const int64_t frequency = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return f.QuadPart > 0 ? f.QuadPart : 1;
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return uint64_t(now.QuadPart / frequency * 1000000 + now.QuadPart % frequency * 1000000 / frequency);
}


BudgetTicket::BudgetTicket(std::shared_ptr<PostBudget> budget, size_t bytes) : m_budget(std::move(budget)), m_bytes(bytes)
{
    if (m_budget)
        m_budget->Take(bytes);
}

BudgetTicket& BudgetTicket::operator=(BudgetTicket&& other) noexcept
{
    if (this != &other) {
        Release();
        m_budget = std::move(other.m_budget);
        m_bytes = other.m_bytes;
    }
    return *this;
}

void BudgetTicket::Release()
{
    if (m_budget)
        m_budget->Give(m_bytes);
    m_budget.reset();
}
