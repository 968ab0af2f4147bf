#pragma once

#include "engine/TransportEvent.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// A message-only window on the test thread that collects posted transport
// events, as the main window would receive them.
class EventWindow {
public:
    EventWindow();
    ~EventWindow();
    EventWindow(const EventWindow&) = delete;
    EventWindow& operator=(const EventWindow&) = delete;

    HWND Handle() const { return m_wnd; }
    // Sees each event as it comes, before it is kept (and its budget
    // ticket, if it left it there, let go).
    void SetHandler(std::function<void(TransportEvent&)> handler) { m_handler = std::move(handler); }

    // Pumps messages until the predicate holds over the events collected so
    // far, or the time-out passes. Never blocks longer than the time-out.
    bool WaitUntil(const std::function<bool(const EventWindow&)>& done, int timeoutMs);
    bool WaitForText(TransportEventKind kind, const std::wstring& text, int timeoutMs);
    // Pumps for a fixed time, to see what else arrives.
    void PumpFor(int ms);

    const std::vector<std::unique_ptr<TransportEvent>>& Events() const { return m_events; }
    size_t Count(TransportEventKind kind) const;
    bool Has(TransportEventKind kind, const std::wstring& text) const;
    // Received bytes joined in arrival order.
    std::vector<uint8_t> ReceivedBytes() const;
    std::vector<std::wstring> Texts() const;
    void Clear() { m_events.clear(); }

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
    HWND m_wnd = nullptr;
    std::function<void(TransportEvent&)> m_handler;
    std::vector<std::unique_ptr<TransportEvent>> m_events;
};

size_t CountProcessThreads();
// What the file holds, read whole; the file is deleted.
std::string TakeFileContents(const std::wstring& path);
// The clipboard's text, or "(none)".
std::wstring ClipboardText(HWND owner);
size_t CountProcessHandles();
// The thread count once it is down to `expected`, or after 3 s.
size_t SettledThreadCount(size_t expected);
// Runs `cycle` once to let the system make what it makes once (socket layer
// caches, the thread library's reused records), then up to three times
// more, and gives the least growth in open handles over one of those runs.
long HandlesLeftBehind(const std::function<void()>& cycle);
inline bool LeavesNoHandles(const std::function<void()>& cycle)
{
    return HandlesLeftBehind(cycle) <= 0;
}

std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed);

using PayloadSender = std::function<bool(const std::vector<uint8_t>&)>;
// The far end's read of up to `count` bytes, waiting at most `timeoutMs`.
using FarEndReader = std::function<std::vector<uint8_t>(size_t count, int timeoutMs)>;

// The median time, over `rounds` one-byte payloads handed to `send` while
// the link is idle, until the byte reaches the far end; negative when one is
// lost or another byte comes.
double MedianDeliveryMs(const PayloadSender& send, const FarEndReader& receive, int rounds);

// An event on the heap, as a worker posts it.
inline TransportEvent* NewEvent(TransportEventKind kind, std::wstring text, std::wstring peer = {}, uint32_t client = 0,
                                bool linkEnded = false, std::vector<uint8_t> data = {})
{
    auto* event = new TransportEvent;
    event->kind = kind;
    event->text = std::move(text);
    event->peer = std::move(peer);
    event->clientId = client;
    event->linkEnded = linkEnded;
    event->data = std::move(data);
    return event;
}
