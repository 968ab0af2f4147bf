#pragma once

#include <windows.h>

#include <string>

// The calls the serial link makes on its port, so that a test can stand a
// scripted port in for a real one: a pseudo-terminal has no control lines,
// and a device's lamps cannot be switched from a test. Each means what the
// Win32 call of that name means, handles and OVERLAPPED records alike; the
// port is opened for overlapped use.
class SerialPortApi {
public:
    virtual ~SerialPortApi() = default;
    virtual HANDLE Open(const std::wstring& path) = 0;
    virtual BOOL Close(HANDLE port) = 0;
    virtual BOOL GetState(HANDLE port, DCB& dcb) = 0;
    virtual BOOL SetState(HANDLE port, const DCB& dcb) = 0;
    virtual BOOL SetTimeouts(HANDLE port, const COMMTIMEOUTS& timeouts) = 0;
    virtual BOOL Purge(HANDLE port, DWORD flags) = 0;
    virtual BOOL SetMask(HANDLE port, DWORD events) = 0;
    virtual BOOL Read(HANDLE port, void* buffer, DWORD size, OVERLAPPED* ov) = 0;
    virtual BOOL Write(HANDLE port, const void* bytes, DWORD size, OVERLAPPED* ov) = 0;
    virtual BOOL WaitEvent(HANDLE port, DWORD* events, OVERLAPPED* ov) = 0;
    virtual BOOL Result(HANDLE port, OVERLAPPED* ov, DWORD* bytes, BOOL wait) = 0;
    virtual BOOL Cancel(HANDLE port) = 0;
    // `status` may be null.
    virtual BOOL ClearError(HANDLE port, DWORD* errors, COMSTAT* status) = 0;
    // SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK.
    virtual BOOL Escape(HANDLE port, DWORD function) = 0;
    virtual BOOL ModemStatus(HANDLE port, DWORD* status) = 0;
};

// The system's own port calls.
SerialPortApi& SystemSerialPort();
