#include "engine/Transport.h"

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

bool TransportBase::StartWorker(HWND notifyWnd, std::function<void()> body, const std::wstring& failureText)
{
    m_notifyWnd = notifyWnd;
    m_stopRequested = false;
    m_running.exchange(true);
    try {
        m_worker = g_launcher.load()(std::move(body));
        return true;
    } catch (const std::system_error&) {
        m_running = false;
        PostTransportEvent(*this, TransportEventKind::Error, failureText);
        return false;
    }
}

void TransportBase::RequestStop()
{
    m_stopRequested = true;
    m_running.exchange(false);
}

void TransportBase::JoinWorker()
{
    if (m_worker.joinable())
        m_worker.join();
}
