#include "framework/Waker.h"

#include "engine/TransportEvent.h"

#include <mmsystem.h>

void Waker::WakeAt(uint64_t steadyUs)
{
    if (!m_wnd)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (steadyUs == m_dueUs)
            return;
        m_dueUs = steadyUs;
        if (!m_thread.joinable()) {
            if (steadyUs == kNever)
                return;
            m_changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
            if (!m_changed)
                return;
            m_stopping = false;
            m_thread = std::thread(&Waker::Run, this);
        }
    }
    SetEvent(m_changed);
}

void Waker::Stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    SetEvent(m_changed);
    m_thread.join();
    CloseHandle(m_changed);
    m_changed = nullptr;
    m_dueUs = kNever;
}

void Waker::Run()
{
    // The system's wait is then good to a millisecond, not to its 15.6 ms tick.
    timeBeginPeriod(1);
    for (;;) {
        uint64_t due;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                break;
            due = m_dueUs;
        }
        const uint64_t now = SteadyMicroseconds();
        if (due != kNever && now >= due) {
            // One at a time: a window that is behind gets one, not a queue.
            if (!m_posted.exchange(true) && !PostMessageW(m_wnd, m_message, 0, 0))
                m_posted = false;
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_dueUs == due)
                m_dueUs = kNever;
            continue;
        }
        // To the millisecond: what must leave sooner is handed to its link
        // ahead of time, with its own moment to leave.
        const DWORD waitMs = due == kNever ? INFINITE : DWORD((due - now + 999) / 1000);
        WaitForSingleObject(m_changed, waitMs);
    }
    timeEndPeriod(1);
}
