#pragma once

// The far end of the tests' virtual serial port: the other end of the
// pseudo-terminal pair, every wait bounded.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

inline const std::wstring kSerialDir = FERROLINK_TEST_SERIAL_DIR;

inline bool PathExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The far end of the test port, opened as a serial port of its own.
class SerialPeer {
public:
    SerialPeer()
    {
        m_handle = CreateFileW(L"\\\\.\\" FERROLINK_TEST_PEER_PORT, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (m_handle != INVALID_HANDLE_VALUE) {
            COMMTIMEOUTS t{MAXDWORD, 0, 20, 2, 200};
            SetCommTimeouts(m_handle, &t);
        }
    }
    ~SerialPeer()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }
    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    bool Write(const std::vector<uint8_t>& bytes)
    {
        DWORD written = 0;
        return WriteFile(m_handle, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size();
    }
    std::vector<uint8_t> Read(size_t count, int timeoutMs)
    {
        std::vector<uint8_t> out;
        const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeoutMs);
        uint8_t buffer[4096];
        while (out.size() < count && GetTickCount64() < deadline) {
            DWORD got = 0;
            if (!ReadFile(m_handle, buffer, DWORD(std::min<size_t>(sizeof(buffer), count - out.size())), &got, nullptr))
                break;
            out.insert(out.end(), buffer, buffer + got);
        }
        return out;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};
