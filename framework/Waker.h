#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

// Posts one message to a window at a moment on the steady clock
// (SteadyMicroseconds), to within a millisecond or so: a window timer is
// late by up to a tick of the system clock (15.6 ms). One wake is pending
// at a time; a new moment replaces it.
class Waker {
public:
    static constexpr uint64_t kNever = UINT64_MAX;

    Waker() = default;
    ~Waker() { Stop(); }
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    // The thread starts with the first wake asked for.
    void Attach(HWND wnd, UINT message)
    {
        m_wnd = wnd;
        m_message = message;
    }
    void WakeAt(uint64_t steadyUs);
    // The posted message was taken: the next wake may be posted.
    void Taken() { m_posted = false; }
    void Stop();

private:
    void Run();

    HWND m_wnd = nullptr;
    UINT m_message = 0;
    std::thread m_thread;
    HANDLE m_changed = nullptr; // a new moment, or the end
    std::mutex m_mutex;
    uint64_t m_dueUs = kNever;
    bool m_stopping = false;
    std::atomic<bool> m_posted{false};
};
