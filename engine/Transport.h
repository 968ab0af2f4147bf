#pragma once

#include "engine/TransportEvent.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

extern const wchar_t* const kWorkerStartFailedText;

// The outline every transport shares: where events go, whether it runs,
// and its worker thread. Start, Stop, Run and the send path are each
// transport's own.
class TransportBase {
public:
    TransportBase() = default;
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
    ~TransportBase() = default;

    // Marks the transport running and starts its worker. When no thread can
    // be made, posts an Error and leaves the transport stopped, so the window
    // never shows a link that has no worker behind it.
    bool StartWorker(HWND notifyWnd, std::function<void()> body,
                     const std::wstring& failureText = kWorkerStartFailedText);
    void RequestStop();
    void JoinWorker();

private:
    std::thread m_worker;
};

// Tests replace the thread launcher to provoke a failed thread creation.
using WorkerLauncher = std::thread (*)(std::function<void()> body);
WorkerLauncher SetWorkerLauncher(WorkerLauncher launcher);
