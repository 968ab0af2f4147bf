#pragma once

#include "capture/Journal.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <system_error>
#include <thread>

// One piece of long work on a thread of its own (a save, a search, a copy),
// so that the window never waits on it. The window looks at it on its tick;
// the work touches no window, only what it was given and its progress.
class BackgroundJob {
public:
    BackgroundJob() = default;
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;
    ~BackgroundJob()
    {
        Cancel();
        Wait();
    }

    // False when no thread could be made: the work has not run.
    bool Start(std::function<void(JobProgress&)> work)
    {
        Wait();
        m_progress.done = m_progress.total = m_progress.notKept = 0;
        m_progress.cancel = false;
        m_finished = false;
        try {
            m_thread = std::thread([this, work = std::move(work)] {
                try {
                    work(m_progress);
                } catch (...) {
                    // No memory for it, say: it ends having done nothing
                    // more, and its owner finds what it left unset.
                }
                m_finished = true;
            });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }
    bool Running() const { return m_thread.joinable(); }
    // Once, when the work has ended: its thread is joined, and what it left
    // can be read.
    bool TakeFinished()
    {
        if (!m_thread.joinable() || !m_finished)
            return false;
        m_thread.join();
        return true;
    }
    void Cancel() { m_progress.cancel = true; }
    bool Cancelled() const { return m_progress.Cancelled(); }
    void Wait()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    // How far it got, 0 to 100.
    int Percent() const
    {
        const uint64_t total = m_progress.total, done = m_progress.done;
        return total ? int(std::min<uint64_t>(100, done * 100 / total)) : 0;
    }
    const JobProgress& Progress() const { return m_progress; }

private:
    JobProgress m_progress;
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};
