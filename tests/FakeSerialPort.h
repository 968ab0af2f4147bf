#pragma once

#include "engine/SerialPortApi.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// A scripted serial port for the link's worker: it reads what the test has
// the device send, keeps what the link writes, has input lines and line
// events the test sets, and notes every call in order with its time. Reads
// and writes finish at once; a wait for port events stays pending until one
// comes, as a real port's does.
class FakeSerialPort : public SerialPortApi {
public:
    struct Call {
        std::wstring what; // "open", "state DTR off RTS on", "write 5", "SETDTR", ...
        uint64_t us;       // SteadyMicroseconds
    };
    // A port with no control lines refuses their calls with this error.
    explicit FakeSerialPort(bool reportsLines = true) : m_reportsLines(reportsLines) {}

    void DeviceSends(const std::vector<uint8_t>& bytes);
    // MS_CTS_ON and the like: the lines that change raise their events.
    void SetInputs(DWORD modemStatus);
    void DeviceSendsBreak();
    // Writes stay pending from now on, until released.
    void HoldWrites();
    void ReleaseWrites();
    // Bytes the driver still holds after a write has finished.
    void SetOutputQueue(DWORD bytes);
    // The adapter is pulled: every call fails, and the port cannot be opened
    // until it is back.
    void Vanish();
    void ComeBack();

    std::vector<Call> Calls() const;
    size_t CountOf(const std::wstring& what) const;
    std::vector<uint8_t> Written() const;

    HANDLE Open(const std::wstring& path) override;
    BOOL Close(HANDLE port) override;
    BOOL GetState(HANDLE port, DCB& dcb) override;
    BOOL SetState(HANDLE port, const DCB& dcb) override;
    BOOL SetTimeouts(HANDLE, const COMMTIMEOUTS&) override { return TRUE; }
    BOOL Purge(HANDLE, DWORD) override { return TRUE; }
    BOOL SetMask(HANDLE port, DWORD events) override;
    BOOL Read(HANDLE port, void* buffer, DWORD size, OVERLAPPED* ov) override;
    BOOL Write(HANDLE port, const void* bytes, DWORD size, OVERLAPPED* ov) override;
    BOOL WaitEvent(HANDLE port, DWORD* events, OVERLAPPED* ov) override;
    BOOL Result(HANDLE port, OVERLAPPED* ov, DWORD* bytes, BOOL wait) override;
    BOOL Cancel(HANDLE port) override;
    BOOL ClearError(HANDLE port, DWORD* errors, COMSTAT* status) override;
    BOOL Escape(HANDLE port, DWORD function) override;
    BOOL ModemStatus(HANDLE port, DWORD* status) override;

    static constexpr DWORD kRefusal = ERROR_NOT_SUPPORTED;

private:
    void Note(std::wstring what);
    // Under the lock: raises events on the pending wait, or keeps them for the next.
    void Raise(DWORD events);
    static void Complete(OVERLAPPED* ov, DWORD bytes, LONG_PTR status = 0);
    // The operation stays pending until completed.
    static BOOL Pend(OVERLAPPED* ov);

    const bool m_reportsLines;
    mutable std::mutex m_lock;
    std::vector<Call> m_calls;
    std::vector<uint8_t> m_toRead, m_written;
    DWORD m_modem = 0, m_mask = 0, m_history = 0, m_errors = 0;
    OVERLAPPED* m_wait = nullptr;
    DWORD* m_waitEvents = nullptr;
    bool m_holdWrites = false;
    OVERLAPPED* m_heldWrite = nullptr;
    DWORD m_heldSize = 0;
    DWORD m_outQueue = 0;
    bool m_gone = false;
};
