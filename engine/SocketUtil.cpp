#include "engine/SocketUtil.h"

#include <cstring>
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
    sockaddr_in mapped{};
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (address->sa_family == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
        mapped.sin_family = AF_INET;
        mapped.sin_port = v6->sin6_port;
        memcpy(&mapped.sin_addr, v6->sin6_addr.s6_addr + 12, 4);
        address = reinterpret_cast<const sockaddr*>(&mapped);
    }
    wchar_t host[1025] = {};
    wchar_t service[32] = {};
    const socklen_t length = address->sa_family == AF_INET ? 16 : 28;
    if (GetNameInfoW(address, length, host, 1025, service, 32, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return L"unknown";
    return std::wstring(host) + L":" + service;
}

SOCKET OpenDualStackSocket(int type, int protocol, bool& v6)
{
    SOCKET s = socket(AF_INET6, type, protocol);
    DWORD v6Only = 0;
    v6 = s != INVALID_SOCKET &&
         setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&v6Only), sizeof(v6Only)) == 0;
    if (v6)
        return s;
    CloseSocket(s);
    return socket(AF_INET, type, protocol);
}

int AnyAddress(bool v6, uint16_t port, sockaddr_storage& address)
{
    address = sockaddr_storage{};
    if (v6) {
        auto& any = reinterpret_cast<sockaddr_in6&>(address);
        any.sin6_family = AF_INET6;
        any.sin6_port = htons(port);
        any.sin6_addr = in6addr_any;
        return sizeof(sockaddr_in6);
    }
    auto& any = reinterpret_cast<sockaddr_in&>(address);
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    return sizeof(sockaddr_in);
}

int LocalAddress(const std::wstring& text, uint16_t port, sockaddr_storage& address)
{
    address = sockaddr_storage{};
    addrinfoW hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    hints.ai_family = AF_UNSPEC;
    addrinfoW* found = nullptr;
    const std::wstring service = std::to_wstring(port);
    if (text.empty() || GetAddrInfoW(text.c_str(), service.c_str(), &hints, &found) != 0 || !found)
        return 0;
    const int length = int(std::min(found->ai_addrlen, sizeof(address)));
    memcpy(&address, found->ai_addr, size_t(length));
    FreeAddrInfoW(found);
    return length;
}

bool BindLocal(SOCKET s, const sockaddr_storage& address, int length)
{
    return length == 0 || bind(s, reinterpret_cast<const sockaddr*>(&address), length) == 0;
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

namespace {

class Plain : public StreamIo {
public:
    int Send(SOCKET s, const uint8_t* bytes, int count) override
    {
        return send(s, reinterpret_cast<const char*>(bytes), count, 0);
    }
    int Receive(SOCKET s, uint8_t* buffer, int count) override
    {
        return recv(s, reinterpret_cast<char*>(buffer), count, 0);
    }
};

} // namespace

StreamIo& PlainStream()
{
    static Plain plain;
    return plain;
}

// Done when the payload went out whole; Full when the socket took only part
// (the remainder stays); Dropped when it failed.
static FlushResult SendPending(SOCKET s, PendingSend& pending, StreamIo& io)
{
    const std::vector<uint8_t>& bytes = pending.payload->bytes;
    while (!pending.Empty()) {
        const size_t left = bytes.size() - pending.offset;
        const int chunk = int(std::min<size_t>(left, 1u << 30));
        const int sent = io.Send(s, bytes.data() + pending.offset, chunk);
        if (sent == SOCKET_ERROR)
            return WSAGetLastError() == WSAEWOULDBLOCK ? FlushResult::Full : FlushResult::Dropped;
        pending.offset += size_t(sent);
    }
    return FlushResult::Done;
}

FlushResult FlushSendQueue(SOCKET s, SendQueue& queue, PendingSend& pending,
                           const std::function<void(const OutgoingPtr&, size_t)>& onSent, StreamIo& io)
{
    if (s == INVALID_SOCKET)
        return FlushResult::Done;
    for (;;) {
        if (pending.Empty()) {
            pending = PendingSend{queue.Pop(), 0};
            if (!pending.payload)
                return FlushResult::Done;
        }
        const FlushResult result = SendPending(s, pending, io);
        if (result == FlushResult::Full)
            return result;
        if (result == FlushResult::Done) {
            if (onSent)
                onSent(pending.payload, pending.offset);
            pending.payload->LetGo();
        }
        if (result == FlushResult::Dropped)
            return result; // the caller says what was dropped, then clears it
        pending = PendingSend{};
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
                                        const std::function<void(std::vector<uint8_t>)>& onBlock, int& error,
                                        const PostBudget& budget, StreamIo& io)
{
    for (int i = 0; i < kBlocksPerWake && budget.HasRoom(); ++i) {
        const int received = io.Receive(s, buffer.data(), int(buffer.size()));
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

StreamEnd RunStream(SOCKET s, SocketEvent& event, const TransportBase& worker, SendQueue& queue,
                    const StreamHooks& hooks, int* error, uint64_t* droppedAtEnd)
{
    int ignored = 0;
    int& failure = error ? *error : ignored;
    StreamIo& io = hooks.io ? *hooks.io : PlainStream();
    std::vector<uint8_t> buffer(StreamReceiveBufferSize());
    PendingSend pending;
    PostBudget& budget = *worker.Budget();
    // Reading until the socket says "nothing yet" is what re-arms its read
    // event; a close is reported once, so after a cut-short read the worker
    // reads again rather than wait for an event that may never come.
    bool readAgain = true;
    // A reset can come as a close with an error, the reads then seeing only
    // the end: the error is the reason.
    int closeError = 0;
    const auto end = [&](StreamEnd how) {
        // What the socket took of a payload it did not finish did leave.
        if (!pending.Empty()) {
            const uint64_t left = pending.payload->bytes.size() - pending.offset;
            if (hooks.onSent)
                hooks.onSent(pending.payload, pending.offset);
            if (pending.payload->LetGo() && droppedAtEnd)
                *droppedAtEnd += left;
        }
        return how;
    };
    for (;;) {
        // A dropped payload ends a round; what is queued behind it goes next.
        while (FlushSendQueue(s, queue, pending, hooks.onSent, io) == FlushResult::Dropped) {
            const uint64_t left = pending.payload->bytes.size() - pending.offset;
            const int sendError = WSAGetLastError();
            if (pending.offset && hooks.onSent)
                hooks.onSent(pending.payload, pending.offset);
            const bool last = pending.payload->LetGo();
            pending = PendingSend{};
            WSASetLastError(sendError);
            if (hooks.onDropped)
                hooks.onDropped(last ? left : 0);
        }
        // Behind: the socket's events still wake the worker for its sends
        // and the peer's close, but nothing is read until there is room.
        const bool room = budget.HasRoom();
        const HANDLE handles[2] = {event.Get(), room ? nullptr : budget.RoomEvent()};
        const bool readNow = readAgain && (room || budget.HasRoom());
        DWORD wait = readNow ? 0 : readAgain ? kRoomLookMs : INFINITE;
        // A payload half written waits for the socket's room, not its moment.
        if (pending.Empty())
            wait = queue.WaitMs(wait);
        const Woken woken = WaitForWork(worker.Signals(), handles, room ? 1 : 2, wait);
        if (woken == Woken::Stop)
            return end(StreamEnd::Stopped);
        WSANETWORKEVENTS happened{};
        if (woken == Woken::Handle && !event.Take(s, happened)) {
            failure = WSAGetLastError();
            return end(StreamEnd::Failed);
        }
        if ((happened.lNetworkEvents & FD_CLOSE) && happened.iErrorCode[FD_CLOSE_BIT])
            closeError = happened.iErrorCode[FD_CLOSE_BIT];
        if (happened.lNetworkEvents & (FD_READ | FD_CLOSE))
            readAgain = true;
        if (readAgain && budget.HasRoom()) {
            const ReceiveResult result = ReceiveWhatIsThere(s, buffer, hooks.onBlock, failure, budget, io);
            if (result == ReceiveResult::Closed && closeError) {
                failure = closeError;
                return end(StreamEnd::Failed);
            }
            if (result == ReceiveResult::Closed)
                return end(StreamEnd::Closed);
            if (result == ReceiveResult::Failed)
                return end(StreamEnd::Failed);
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
