#include "ui/FileFeed.h"

#include "session/LogState.h"

std::wstring FileFeed::Open(const std::wstring& path, size_t chunkSize)
{
    Close();
    m_failed = false;
    m_sent = m_size = 0;
    m_chunkSize = chunkSize ? chunkSize : 1;
    const size_t slash = path.find_last_of(L"\\/");
    m_name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    m_file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (m_file == INVALID_HANDLE_VALUE)
        return L"Unable to open " + path + L" (error " + std::to_wstring(GetLastError()) + L").";
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(m_file, &size)) {
        const DWORD error = GetLastError();
        Close();
        return L"Unable to read the size of " + path + L" (error " + std::to_wstring(error) + L").";
    }
    m_size = uint64_t(size.QuadPart);
    return {};
}

void FileFeed::Close()
{
    if (m_file != INVALID_HANDLE_VALUE)
        CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
}

std::vector<uint8_t> FileFeed::Next()
{
    if (!IsOpen() || m_failed || AtEnd())
        return {};
    // A file that grew after it was opened is sent as it was then.
    const uint64_t left = m_size - m_sent;
    std::vector<uint8_t> chunk(size_t(left < m_chunkSize ? left : m_chunkSize));
    DWORD got = 0;
    if (!ReadFile(m_file, chunk.data(), DWORD(chunk.size()), &got, nullptr) || got == 0) {
        m_failed = true; // a file cut short reads 0 bytes before its size
        return {};
    }
    chunk.resize(got);
    m_sent += got;
    return chunk;
}

std::wstring FileFeed::ProgressText() const
{
    const unsigned percent = m_size ? unsigned(m_sent * 100 / m_size) : 100;
    return L"Sending " + m_name + L": " + std::to_wstring(percent) + L"% (" + ShortCount(m_sent) + L" of " +
           ShortCount(m_size) + L")";
}
