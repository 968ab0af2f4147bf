#include "engine/SerialPortApi.h"

namespace {

class SystemPort final : public SerialPortApi {
public:
    HANDLE Open(const std::wstring& path) override
    {
        return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    }
    BOOL Close(HANDLE port) override { return CloseHandle(port); }
    BOOL GetState(HANDLE port, DCB& dcb) override { return GetCommState(port, &dcb); }
    BOOL SetState(HANDLE port, const DCB& dcb) override
    {
        DCB copy = dcb;
        return SetCommState(port, &copy);
    }
    BOOL SetTimeouts(HANDLE port, const COMMTIMEOUTS& timeouts) override
    {
        COMMTIMEOUTS copy = timeouts;
        return SetCommTimeouts(port, &copy);
    }
    BOOL Purge(HANDLE port, DWORD flags) override { return PurgeComm(port, flags); }
    BOOL SetMask(HANDLE port, DWORD events) override { return SetCommMask(port, events); }
    BOOL Read(HANDLE port, void* buffer, DWORD size, OVERLAPPED* ov) override
    {
        return ReadFile(port, buffer, size, nullptr, ov);
    }
    BOOL Write(HANDLE port, const void* bytes, DWORD size, OVERLAPPED* ov) override
    {
        return WriteFile(port, bytes, size, nullptr, ov);
    }
    BOOL WaitEvent(HANDLE port, DWORD* events, OVERLAPPED* ov) override { return WaitCommEvent(port, events, ov); }
    BOOL Result(HANDLE port, OVERLAPPED* ov, DWORD* bytes, BOOL wait) override
    {
        return GetOverlappedResult(port, ov, bytes, wait);
    }
    BOOL Cancel(HANDLE port) override { return CancelIoEx(port, nullptr); }
    BOOL ClearError(HANDLE port, DWORD* errors, COMSTAT* status) override
    {
        return ClearCommError(port, errors, status);
    }
    BOOL Escape(HANDLE port, DWORD function) override { return EscapeCommFunction(port, function); }
    BOOL ModemStatus(HANDLE port, DWORD* status) override { return GetCommModemStatus(port, status); }
};

} // namespace

SerialPortApi& SystemSerialPort()
{
    static SystemPort port;
    return port;
}
