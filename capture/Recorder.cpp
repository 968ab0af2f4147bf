#include "capture/Recorder.h"

#include <cwctype>

std::wstring LowerCaseExtension(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    const size_t dot = path.find_last_of(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        return {};
    std::wstring extension = path.substr(dot + 1);
    for (wchar_t& c : extension)
        c = wchar_t(std::towlower(c));
    return extension;
}

Recorder::Format Recorder::FormatFor(const std::wstring& path)
{
    const std::wstring extension = LowerCaseExtension(path);
    return extension == L"bin" ? Format::Received : extension == L"pcapng" ? Format::Pcapng : Format::Text;
}

bool Recorder::Start(const std::wstring& path)
{
    Stop();
    m_file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    if (m_file == INVALID_HANDLE_VALUE)
        return false;
    m_path = path;
    m_format = FormatFor(path);
    m_written = 0;
    m_unrecorded = 0;
    m_failed = false;
    m_error = 0;
    m_fellBehind = false;
    m_stopping = false;
    m_queued = 0;
    m_writer = std::thread([this] { Run(); });
    return true;
}

void Recorder::Write(std::vector<uint8_t> bytes)
{
    if (!Recording() || bytes.empty())
        return;
    if (m_failed) {
        m_unrecorded += bytes.size();
        return;
    }
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_queued + bytes.size() > kMaxQueued) {
            m_fellBehind = true;
            m_failed = true;
            m_unrecorded += bytes.size();
            return;
        }
        m_queued += bytes.size();
        m_queue.push_back(std::move(bytes));
    }
    m_wake.notify_one();
}

void Recorder::Stop()
{
    if (!Recording())
        return;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_writer.joinable())
        m_writer.join();
    CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
}

void Recorder::Run()
{
    for (;;) {
        std::vector<uint8_t> next;
        {
            std::unique_lock<std::mutex> hold(m_lock);
            m_wake.wait(hold, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                return; // stopping, and all written
            next = std::move(m_queue.front());
            m_queue.pop_front();
            m_queued -= next.size();
        }
        if (m_failed) {
            m_unrecorded += next.size();
            continue;
        }
        size_t done = 0;
        while (done < next.size()) {
            DWORD wrote = 0;
            const DWORD ask = DWORD(std::min<size_t>(next.size() - done, 1u << 30));
            if (!WriteFile(m_file, next.data() + done, ask, &wrote, nullptr) || wrote == 0) {
                m_error = GetLastError();
                m_failed = true;
                break;
            }
            done += wrote;
        }
        m_written += done;
        if (m_failed)
            m_unrecorded += next.size() - done;
    }
}
