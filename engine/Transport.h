#pragma once

#include "engine/TransportEvent.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>
#include <functional>
#include <string>
#include <thread>

extern const wchar_t* const kWorkerStartFailedText;

// What a worker sleeps on besides its own handle: stop (manual reset, set
// by Stop, possibly shared by many workers) and wake (auto reset, set when a
// payload is queued, or with `stopRequested` to stop this worker alone).
struct WorkSignals {
    HANDLE stop = nullptr;
    HANDLE wake = nullptr;
    const std::atomic<bool>* stopRequested = nullptr;
};

// One payload on its way out. A server's payload for all its clients is
// one, shared by their queues: it is said to have left once, when the first
// of them wrote it.
struct Outgoing {
    std::vector<uint8_t> bytes;
    SendTag tag;
    std::atomic<bool> said{false};
    // The queues it was pushed to that are not done with it: its bytes count
    // as lost only when the last lets it go unsaid.
    std::atomic<int> holders{0};
    // This queue is done with it; true when it was the last.
    bool LetGo() { return --holders == 0; }
    // Where a datagram goes, as its socket address; a stream link's own.
    std::vector<uint8_t> address;
    // Its place among its link's sends, for a link that orders other things
    // (a serial Break) among them.
    uint64_t sequence = 0;
};
using OutgoingPtr = std::shared_ptr<Outgoing>;
OutgoingPtr MakeOutgoing(std::vector<uint8_t> bytes, const SendTag& tag = {});

enum class SendResult {
    Queued,
    Refused,  // the link (or the peer) is not there to take it
    BackedUp, // what waits for the link is at its cap
};

// The most that may wait to be written on one link or one server client:
// past it, a send is refused rather than the queue grow until memory runs
// out behind a peer that does not read.
size_t SendQueueCap();
void SetSendQueueCap(size_t bytes); // 0: the default

// Payloads waiting for a link's writer, in order, and whether it takes more.
class SendQueue {
public:
    SendResult Push(OutgoingPtr payload);
    // The next payload, or null, also while the next is not yet due.
    OutgoingPtr Pop();
    // How long a worker may wait before the next payload is due: 0 once it
    // is (its last two milliseconds are waited out here), `otherwise` when
    // none waits for its time. Called on the worker's thread.
    DWORD WaitMs(DWORD otherwise) const;
    // The sequence of the next payload Pop will give, due or not (those taken
    // back before it are dropped); UINT64_MAX when none waits.
    uint64_t NextSequence();
    size_t Bytes() const;
    // Open, and Push would back a payload of that size up now.
    bool FullFor(size_t bytes) const;
    // Takes payloads from now on.
    void Open();
    // Takes none until opened again; what waited is dropped and its bytes
    // returned.
    uint64_t Close();

private:
    void DropWithdrawn(); // under m_lock
    mutable std::mutex m_lock;
    std::deque<OutgoingPtr> m_payloads;
    size_t m_bytes = 0;
    bool m_open = false;
};

// The bytes a link has posted to its window that the window has not yet
// handled. Past the budget a stream link stops reading (its peer then waits,
// by the link's own flow control) and a datagram link drops what comes.
class PostBudget {
public:
    explicit PostBudget(size_t limit) : m_limit(limit), m_room(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~PostBudget() { CloseHandle(m_room); }
    PostBudget(const PostBudget&) = delete;
    PostBudget& operator=(const PostBudget&) = delete;

    bool HasRoom() const { return m_used.load() < int64_t(m_limit); }
    // Signalled once room is made after this call; look at HasRoom again
    // before waiting on it. Workers that share a budget (a server's
    // sessions) may miss a signal another took: they wait for it with
    // kRoomLookMs as a time-out.
    HANDLE RoomEvent()
    {
        m_waiting = true;
        return m_room;
    }
    void Take(size_t bytes) { m_used += int64_t(bytes); }
    void Give(size_t bytes);
    int64_t Used() const { return m_used.load(); }

private:
    size_t m_limit;
    HANDLE m_room;
    std::atomic<int64_t> m_used{0};
    std::atomic<bool> m_waiting{false};
};

// A link's budget of posted but unhandled bytes; what every event costs on
// top of its bytes, so that a flood of one-byte blocks is bounded too.
size_t PostBudgetBytes();
void SetPostBudgetBytes(size_t bytes); // 0: the default
constexpr size_t kEventCost = 128;
constexpr DWORD kRoomLookMs = 20;
// Datagrams dropped, and their bytes, because the window was behind.
uint64_t BackloggedDatagramBytes();

enum class Woken { Stop, Handle, Wake, Timeout };

// One wait on stop, then the worker's handles, then wake; Handle when any of
// the worker's handles is signalled. A stop (by event or request) wins over
// everything else, so that a busy link still notices it.
Woken WaitForWork(const WorkSignals& signals, const HANDLE* handles, DWORD count, DWORD timeoutMs = INFINITE);
inline Woken WaitForWork(const WorkSignals& signals, HANDLE handle, DWORD timeoutMs = INFINITE)
{
    return WaitForWork(signals, &handle, handle ? 1 : 0, timeoutMs);
}

// The outline every worker shares: where events go, whether it runs, its
// thread and the signals it waits on. Start, Stop, Run and the send path
// are each transport's own.
class TransportBase {
public:
    // A worker given a shared stop event ends with everyone who shares it,
    // or alone through its own stop request.
    // Its sessions share a server's budget.
    explicit TransportBase(HANDLE sharedStop = nullptr, std::shared_ptr<PostBudget> budget = nullptr);
    TransportBase(const TransportBase&) = delete;
    TransportBase& operator=(const TransportBase&) = delete;

    bool IsRunning() const { return m_running; }
    const WorkSignals& Signals() const { return m_signals; }
    const std::shared_ptr<PostBudget>& Budget() const { return m_budget; }
    bool HasWorker() const { return m_worker.joinable(); }

    HWND m_notifyWnd = nullptr;
    // Which link of a bridge this is (see TransportEvent::side); set before
    // it starts.
    uint8_t m_side = 0;
    std::atomic<bool> m_running{false};
    // Set by Stop before it joins: a worker must no longer wait for the
    // window, which is blocked in that join.
    std::atomic<bool> m_stopRequested{false};

protected:
    ~TransportBase();

    // Marks the transport running and starts its worker. When no thread can
    // be made, posts an Error and leaves the transport stopped, so the window
    // never shows a link that has no worker behind it. `endsLink` says whether
    // that error ends the link (a client session's does not end the server).
    bool StartWorker(HWND notifyWnd, std::function<void()> body,
                     const std::wstring& failureText = kWorkerStartFailedText, bool endsLink = true);
    // Signals the worker to end; it closes its own handles.
    void RequestStop();
    void JoinWorker();
    // Tells the worker that a payload is queued.
    void Wake() const { SetEvent(m_signals.wake); }

    // `damaged`: see TransportEvent.
    bool Post(TransportEventKind kind, std::wstring text, const std::wstring& peer = {},
              std::vector<uint8_t> data = {}, bool linkEnded = false, uint32_t damaged = 0) const;
    // `damaged`: the block was cut short (a datagram larger than the buffer).
    void PostReceived(std::vector<uint8_t> block, const std::wstring& peer, uint32_t damaged = 0) const;
    // An event of this worker, with its client id.
    TransportEvent Event(TransportEventKind kind, std::wstring text, const std::wstring& peer) const;
    // A status line for the log alone.
    void PostNote(std::wstring text, const std::wstring& peer = {}) const;
    // The connection is gone but the link goes on, to connect again.
    void PostLost(TransportEventKind kind, std::wstring text, const std::wstring& peer = {}) const;
    // The worker's last word about its link: it no longer runs, and the
    // event says the link has ended (a failed start, or the closing status).
    void PostEnd(TransportEventKind kind, std::wstring text, const std::wstring& peer = {});

    // A payload has left whole, or its first `written` bytes have before the
    // link ended.
    void PostSent(const OutgoingPtr& payload, size_t written, const std::wstring& peer = {}) const;
    // Queued bytes that will never leave, and why ("the link closed").
    void PostDropped(uint64_t bytes, const std::wstring& why, const std::wstring& peer = {}) const;
    // A payload whose send failed: the line says why, its bytes count as lost.
    void PostFailedSend(std::wstring text, uint64_t bytes, const std::wstring& peer = {}) const;
    // A received datagram the window has no room for: dropped and counted.
    bool DropForBacklog(size_t bytes) const;

    // Carried on every event of this worker; a server's client session sets it.
    uint32_t m_clientId = 0;

private:
    WorkSignals m_signals;
    bool m_ownsStop;
    std::shared_ptr<PostBudget> m_budget;
    std::thread m_worker;
};

// Tests replace the thread launcher to provoke a failed thread creation.
using WorkerLauncher = std::thread (*)(std::function<void()> body);
WorkerLauncher SetWorkerLauncher(WorkerLauncher launcher);
