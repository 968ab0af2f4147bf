#include "tests/FakeSerialPort.h"

#include "engine/TransportEvent.h"

#include <algorithm>

namespace {

const HANDLE kPort = reinterpret_cast<HANDLE>(uintptr_t(0x5e41));
constexpr LONG_PTR kPending = 0x103;     // STATUS_PENDING
constexpr LONG_PTR kCancelled = 0xC0000120; // STATUS_CANCELLED

} // namespace

void FakeSerialPort::Complete(OVERLAPPED* ov, DWORD bytes, LONG_PTR status)
{
    ov->InternalHigh = bytes;
    ov->Internal = ULONG_PTR(status);
    SetEvent(ov->hEvent);
}

BOOL FakeSerialPort::Pend(OVERLAPPED* ov)
{
    ov->Internal = ULONG_PTR(kPending);
    ResetEvent(ov->hEvent);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

void FakeSerialPort::Note(std::wstring what)
{
    m_calls.push_back({std::move(what), SteadyMicroseconds()});
}

void FakeSerialPort::Raise(DWORD events)
{
    m_history |= events & m_mask;
    if (m_wait && m_history) {
        *m_waitEvents = m_history;
        m_history = 0;
        Complete(m_wait, 0);
        m_wait = nullptr;
    }
}

void FakeSerialPort::DeviceSends(const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_toRead.insert(m_toRead.end(), bytes.begin(), bytes.end());
    Raise(EV_RXCHAR);
}

void FakeSerialPort::SetInputs(DWORD modemStatus)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const DWORD changed = m_modem ^ modemStatus;
    m_modem = modemStatus;
    DWORD events = 0;
    if (changed & MS_CTS_ON)
        events |= EV_CTS;
    if (changed & MS_DSR_ON)
        events |= EV_DSR;
    if (changed & MS_RLSD_ON)
        events |= EV_RLSD;
    if (changed & MS_RING_ON)
        events |= EV_RING;
    Raise(events);
}

void FakeSerialPort::DeviceSendsBreak()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_errors |= CE_BREAK;
    Raise(EV_BREAK);
}

void FakeSerialPort::HoldWrites()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_holdWrites = true;
}

void FakeSerialPort::ReleaseWrites()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_holdWrites = false;
    if (m_heldWrite) {
        Note(L"written " + std::to_wstring(m_heldSize));
        Complete(m_heldWrite, m_heldSize);
        m_heldWrite = nullptr;
    }
}

void FakeSerialPort::SetOutputQueue(DWORD bytes)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_outQueue = bytes;
}

void FakeSerialPort::Vanish()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_gone = true;
    if (m_wait) {
        Complete(m_wait, 0, kCancelled);
        m_wait = nullptr;
    }
}

void FakeSerialPort::ComeBack()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_gone = false;
}

std::vector<FakeSerialPort::Call> FakeSerialPort::Calls() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_calls;
}

size_t FakeSerialPort::CountOf(const std::wstring& what) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return size_t(std::count_if(m_calls.begin(), m_calls.end(), [&](const Call& c) { return c.what == what; }));
}

std::vector<uint8_t> FakeSerialPort::Written() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_written;
}

HANDLE FakeSerialPort::Open(const std::wstring&)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_gone) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    Note(L"open");
    return kPort;
}

BOOL FakeSerialPort::Close(HANDLE)
{
    std::lock_guard<std::mutex> lock(m_lock);
    Note(L"close");
    return TRUE;
}

BOOL FakeSerialPort::GetState(HANDLE, DCB& dcb)
{
    dcb = DCB{};
    dcb.DCBlength = sizeof(DCB);
    return TRUE;
}

BOOL FakeSerialPort::SetState(HANDLE, const DCB& dcb)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const wchar_t* rts = dcb.fRtsControl == RTS_CONTROL_HANDSHAKE ? L"handshake"
                         : dcb.fRtsControl == RTS_CONTROL_ENABLE  ? L"on"
                                                                  : L"off";
    Note(std::wstring(L"state DTR ") + (dcb.fDtrControl == DTR_CONTROL_ENABLE ? L"on" : L"off") + L" RTS " + rts);
    return TRUE;
}

BOOL FakeSerialPort::SetMask(HANDLE, DWORD events)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_mask = events;
    m_history = 0;
    if (m_wait) { // a wait pending ends with no events
        *m_waitEvents = 0;
        Complete(m_wait, 0);
        m_wait = nullptr;
    }
    return TRUE;
}

BOOL FakeSerialPort::Read(HANDLE, void* buffer, DWORD size, OVERLAPPED* ov)
{
    std::lock_guard<std::mutex> lock(m_lock);
    Note(L"read");
    if (m_gone) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const DWORD got = DWORD(std::min<size_t>(size, m_toRead.size()));
    std::copy(m_toRead.begin(), m_toRead.begin() + got, static_cast<uint8_t*>(buffer));
    m_toRead.erase(m_toRead.begin(), m_toRead.begin() + got);
    Complete(ov, got);
    return TRUE;
}

BOOL FakeSerialPort::Write(HANDLE, const void* bytes, DWORD size, OVERLAPPED* ov)
{
    std::lock_guard<std::mutex> lock(m_lock);
    Note(L"write " + std::to_wstring(size));
    const auto* from = static_cast<const uint8_t*>(bytes);
    m_written.insert(m_written.end(), from, from + size);
    if (m_holdWrites) {
        m_heldWrite = ov;
        m_heldSize = size;
        return Pend(ov);
    }
    Complete(ov, size);
    return TRUE;
}

BOOL FakeSerialPort::WaitEvent(HANDLE, DWORD* events, OVERLAPPED* ov)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_wait) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (m_history) {
        *events = m_history;
        m_history = 0;
        Complete(ov, 0);
        return TRUE;
    }
    m_wait = ov;
    m_waitEvents = events;
    return Pend(ov);
}

BOOL FakeSerialPort::Result(HANDLE, OVERLAPPED* ov, DWORD* bytes, BOOL wait)
{
    if (wait)
        WaitForSingleObject(ov->hEvent, INFINITE);
    std::lock_guard<std::mutex> lock(m_lock);
    if (ov->Internal == ULONG_PTR(kPending)) {
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    *bytes = DWORD(ov->InternalHigh);
    if (ov->Internal == ULONG_PTR(kCancelled)) {
        SetLastError(ERROR_OPERATION_ABORTED);
        return FALSE;
    }
    return TRUE;
}

BOOL FakeSerialPort::Cancel(HANDLE)
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (OVERLAPPED** pending : {&m_wait, &m_heldWrite})
        if (*pending) {
            Complete(*pending, 0, kCancelled);
            *pending = nullptr;
        }
    return TRUE;
}

BOOL FakeSerialPort::ClearError(HANDLE, DWORD* errors, COMSTAT* status)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_gone) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (status) {
        *status = COMSTAT{};
        status->cbOutQue = m_outQueue;
    }
    *errors = m_errors;
    m_errors = 0;
    return TRUE;
}

BOOL FakeSerialPort::Escape(HANDLE, DWORD function)
{
    static const wchar_t* const kNames[] = {L"?", L"SETXOFF", L"SETXON", L"SETRTS", L"CLRRTS",
                                            L"SETDTR", L"CLRDTR", L"RESETDEV", L"SETBREAK", L"CLRBREAK"};
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_reportsLines) {
        Note(L"refused");
        SetLastError(kRefusal);
        return FALSE;
    }
    Note(function < std::size(kNames) ? kNames[function] : L"?");
    return TRUE;
}

BOOL FakeSerialPort::ModemStatus(HANDLE, DWORD* status)
{
    std::lock_guard<std::mutex> lock(m_lock);
    Note(L"modem");
    if (!m_reportsLines) {
        SetLastError(kRefusal);
        return FALSE;
    }
    *status = m_modem;
    return TRUE;
}
