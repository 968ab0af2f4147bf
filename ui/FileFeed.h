#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A file read a chunk at a time as a link takes it, never whole.
class FileFeed {
public:
    FileFeed() = default;
    FileFeed(const FileFeed&) = delete;
    FileFeed& operator=(const FileFeed&) = delete;
    ~FileFeed() { Close(); }

    // An empty text when the file is open; else why it is not.
    std::wstring Open(const std::wstring& path, size_t chunkSize);
    void Close();
    bool IsOpen() const { return m_file != INVALID_HANDLE_VALUE; }

    // The next chunk, at most the chunk size; empty at the end, or when the
    // read failed (then `Failed`).
    std::vector<uint8_t> Next();
    bool Failed() const { return m_failed; }
    bool AtEnd() const { return m_sent >= m_size; }

    const std::wstring& Name() const { return m_name; }
    uint64_t Size() const { return m_size; }
    uint64_t Sent() const { return m_sent; }
    // "Sending name: 30% (1.20 MB of 4.00 MB)".
    std::wstring ProgressText() const;

private:
    HANDLE m_file = INVALID_HANDLE_VALUE;
    std::wstring m_name;
    size_t m_chunkSize = 0;
    uint64_t m_size = 0;
    uint64_t m_sent = 0;
    bool m_failed = false;
};
