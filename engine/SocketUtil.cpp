#include "engine/SocketUtil.h"
#include "text/SystemError.h"

#include <algorithm>
#include <atomic>
#include <cwchar>

std::wstring DescribeSocketError(int code)
{
    switch (code) {
    case WSAEINTR: return L"interrupted";
    case WSAEACCES: return L"permission denied";
    case WSAEFAULT: return L"bad address";
    case WSAEINVAL: return L"invalid argument";
    case WSAEMFILE: return L"too many open sockets";
    case WSAEWOULDBLOCK: return L"would block";
    case WSAEINPROGRESS: return L"in progress";
    case WSAENOTSOCK: return L"not a socket";
    case WSAEMSGSIZE: return L"message too long";
    case WSAEAFNOSUPPORT: return L"address family not supported";
    case WSAEADDRINUSE: return L"address in use";
    case WSAEADDRNOTAVAIL: return L"address not available";
    case WSAENETDOWN: return L"network down";
    case WSAENETUNREACH: return L"network unreachable";
    case WSAENETRESET: return L"network reset";
    case WSAECONNABORTED: return L"connection aborted";
    case WSAECONNRESET: return L"connection reset";
    case WSAENOBUFS: return L"no buffer space";
    case WSAEISCONN: return L"already connected";
    case WSAENOTCONN: return L"not connected";
    case WSAESHUTDOWN: return L"shut down";
    case WSAETIMEDOUT: return L"timed out";
    case WSAECONNREFUSED: return L"connection refused";
    case WSAEHOSTDOWN: return L"host down";
    case WSAEHOSTUNREACH: return L"host unreachable";
    case WSANOTINITIALISED: return L"sockets not started";
    }
    // Anything rarer: the system's own words.
    return SystemErrorText(DWORD(code));
}

std::wstring FormatSocketError(const std::wstring& message)
{
    return FormatSocketError(message, WSAGetLastError());
}

std::wstring FormatSocketError(const std::wstring& message, int code)
{
    const std::wstring description = code != 0 ? DescribeSocketError(code) : std::wstring();
    return message + L" (WSA " + std::to_wstring(code) + (description.empty() ? L"" : L": " + description) + L")";
}

std::wstring FormatEndpoint(const sockaddr* address)
{
    if (!address)
        return L"unknown";
    wchar_t host[1025] = {};
    wchar_t service[32] = {};
    const socklen_t length = address->sa_family == AF_INET ? 16 : 28;
    if (GetNameInfoW(address, length, host, 1025, service, 32, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return L"unknown";
    return std::wstring(host) + L":" + service;
}

void CloseSocket(SOCKET& socket)
{
    if (socket == INVALID_SOCKET)
        return;
    closesocket(socket);
    socket = INVALID_SOCKET;
}

SocketEvent::~SocketEvent()
{
    if (m_event != WSA_INVALID_EVENT)
        WSACloseEvent(m_event);
}

bool SocketEvent::Watch(SOCKET socket, long events)
{
    return m_event != WSA_INVALID_EVENT && WSAEventSelect(socket, m_event, events) == 0;
}

bool SocketEvent::Take(SOCKET socket, WSANETWORKEVENTS& events)
{
    events = {};
    return WSAEnumNetworkEvents(socket, m_event, &events) == 0;
}

// Done when the payload went out whole; Full when the socket took only part
// (the remainder stays); Dropped when it failed.
static FlushResult SendPending(SOCKET s, PendingSend& pending)
{
    while (!pending.Empty()) {
        const size_t left = pending.bytes.size() - pending.offset;
        const int chunk = int(std::min<size_t>(left, 1u << 30));
        const int sent = send(s, reinterpret_cast<const char*>(pending.bytes.data() + pending.offset), chunk, 0);
        if (sent == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK)
                return FlushResult::Full;
            pending = PendingSend{};
            return FlushResult::Dropped;
        }
        pending.offset += size_t(sent);
    }
    pending = PendingSend{};
    return FlushResult::Done;
}

FlushResult FlushSendQueue(SOCKET s, std::mutex& lock, SendQueue& queue, PendingSend& pending)
{
    if (s == INVALID_SOCKET)
        return FlushResult::Done;
    for (;;) {
        if (pending.Empty()) {
            std::lock_guard<std::mutex> guard(lock);
            if (queue.empty())
                return FlushResult::Done;
            pending.bytes = std::move(queue.front());
            pending.offset = 0;
            queue.pop_front();
        }
        const FlushResult result = SendPending(s, pending);
        if (result != FlushResult::Done)
            return result;
    }
}

// 8 KiB: larger receives are faster on the socket, but a window that logs
// each block as one line cannot keep up with 64 KiB lines.
constexpr size_t kStreamReceiveBufferSize = 8192;
static std::atomic<size_t> g_streamReceiveBufferSize{kStreamReceiveBufferSize};

size_t StreamReceiveBufferSize()
{
    return g_streamReceiveBufferSize;
}

void SetStreamReceiveBufferSize(size_t bytes)
{
    g_streamReceiveBufferSize = bytes ? bytes : kStreamReceiveBufferSize;
}

// A flood must not keep the worker from its queue or from a stop: after
// this many blocks it goes round once, and comes back without waiting.
constexpr int kBlocksPerWake = 16;

enum class ReceiveResult { Drained, More, Closed, Failed };

static ReceiveResult ReceiveWhatIsThere(SOCKET s, std::vector<uint8_t>& buffer,
                                        const std::function<void(std::vector<uint8_t>)>& onBlock, int& error)
{
    for (int i = 0; i < kBlocksPerWake; ++i) {
        const int received = recv(s, reinterpret_cast<char*>(buffer.data()), int(buffer.size()), 0);
        if (received > 0) {
            onBlock(std::vector<uint8_t>(buffer.begin(), buffer.begin() + received));
            continue;
        }
        // 0 is the peer's close; an error other than "nothing yet" ends it too.
        if (received == 0)
            return ReceiveResult::Closed;
        error = WSAGetLastError();
        return error == WSAEWOULDBLOCK ? ReceiveResult::Drained : ReceiveResult::Failed;
    }
    return ReceiveResult::More;
}

StreamEnd RunStream(SOCKET s, SocketEvent& event, const WorkSignals& signals, std::mutex& lock, SendQueue& queue,
                    const std::function<void(std::vector<uint8_t>)>& onBlock, int* error)
{
    int ignored = 0;
    int& failure = error ? *error : ignored;
    std::vector<uint8_t> buffer(StreamReceiveBufferSize());
    PendingSend pending;
    // Reading until the socket says "nothing yet" is what re-arms its read
    // event; a close is reported once, so after a cut-short read the worker
    // reads again rather than wait for an event that may never come.
    bool readAgain = true;
    // A reset can come as a close with an error, the reads then seeing only
    // the end: the error is the reason.
    int closeError = 0;
    for (;;) {
        // A dropped payload ends a round; what is queued behind it goes next.
        while (FlushSendQueue(s, lock, queue, pending) == FlushResult::Dropped) {
        }
        const Woken woken = WaitForWork(signals, event.Get(), readAgain ? 0 : INFINITE);
        if (woken == Woken::Stop)
            return StreamEnd::Stopped;
        WSANETWORKEVENTS happened;
        if (woken == Woken::Handle && !event.Take(s, happened)) {
            failure = WSAGetLastError();
            return StreamEnd::Failed;
        }
        if (woken == Woken::Handle && (happened.lNetworkEvents & FD_CLOSE) && happened.iErrorCode[FD_CLOSE_BIT])
            closeError = happened.iErrorCode[FD_CLOSE_BIT];
        if (woken == Woken::Handle || readAgain) {
            const ReceiveResult result = ReceiveWhatIsThere(s, buffer, onBlock, failure);
            if (result == ReceiveResult::Closed && closeError) {
                failure = closeError;
                return StreamEnd::Failed;
            }
            if (result == ReceiveResult::Closed)
                return StreamEnd::Closed;
            if (result == ReceiveResult::Failed)
                return StreamEnd::Failed;
            readAgain = result == ReceiveResult::More;
        }
    }
}

std::wstring StreamEndReason(StreamEnd end, int error)
{
    switch (end) {
    case StreamEnd::Closed:
        return L" (closed by the peer)";
    case StreamEnd::Failed:
        return FormatSocketError(L"", error);
    case StreamEnd::Stopped:
        break;
    }
    return {};
}
