#pragma once

#include "engine/TransportEvent.h"

#include <atomic>
#include <cstdint>
#include <deque>
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

// Payloads waiting for a link's writer, in order.
using SendQueue = std::deque<std::vector<uint8_t>>;

// The bytes of the queue's payloads, under its lock.
size_t QueuedSize(std::mutex& lock, const SendQueue& queue);

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
    explicit TransportBase(HANDLE sharedStop = nullptr);
    TransportBase(const TransportBase&) = delete;
    TransportBase& operator=(const TransportBase&) = delete;

    bool IsRunning() const { return m_running; }
    bool HasWorker() const { return m_worker.joinable(); }

    HWND m_notifyWnd = nullptr;
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
    const WorkSignals& Signals() const { return m_signals; }

    // `damaged`: see TransportEvent.
    bool Post(TransportEventKind kind, std::wstring text, const std::wstring& peer = {},
              std::vector<uint8_t> data = {}, bool linkEnded = false, uint32_t damaged = 0) const;
    // `damaged`: the block was cut short (a datagram larger than the buffer).
    void PostReceived(std::vector<uint8_t> block, const std::wstring& peer, uint32_t damaged = 0) const;
    // An event of this worker, with its client id.
    TransportEvent Event(TransportEventKind kind, std::wstring text, const std::wstring& peer) const;
    // The connection is gone but the link goes on, to connect again.
    void PostLost(TransportEventKind kind, std::wstring text, const std::wstring& peer = {}) const;
    // The worker's last word about its link: it no longer runs, and the
    // event says the link has ended (a failed start, or the closing status).
    void PostEnd(TransportEventKind kind, std::wstring text, const std::wstring& peer = {});

    // Carried on every event of this worker; a server's client session sets it.
    uint32_t m_clientId = 0;

private:
    WorkSignals m_signals;
    bool m_ownsStop;
    std::thread m_worker;
};

// Tests replace the thread launcher to provoke a failed thread creation.
using WorkerLauncher = std::thread (*)(std::function<void()> body);
WorkerLauncher SetWorkerLauncher(WorkerLauncher launcher);
