#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include "engine/Transport.h"
#include "text/SystemError.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// "message (WSA n: description)" with the calling thread's last socket
// error; the description is left out for a code the system cannot name.
std::wstring FormatSocketError(const std::wstring& message);
// A few words for a socket error code, or empty.
std::wstring DescribeSocketError(int code);

// "host:port" in numeric form (IPv6 without brackets), or "unknown". An
// IPv4 peer of a dual-stack socket is named by its IPv4 address.
std::wstring FormatEndpoint(const sockaddr* address);

// An IPv6 socket that takes IPv4 peers too, or (where the system has no
// IPv6, or will not mix them) an IPv4 one; INVALID_SOCKET when neither can
// be made. `v6`: which it is.
SOCKET OpenDualStackSocket(int type, int protocol, bool& v6);
// Every local address of that family, at `port`; its length.
int AnyAddress(bool v6, uint16_t port, sockaddr_storage& address);

// A numeric local address (IPv4, or IPv6 with an optional "%scope") at
// `port`; its length, or 0 for a text that is no such address.
int LocalAddress(const std::wstring& text, uint16_t port, sockaddr_storage& address);
// Binds to the local address chosen, or returns true without a bind when
// none is (an empty text and port 0). False with the socket error as the
// thread's last.
bool BindLocal(SOCKET socket, const sockaddr_storage& address, int length);

// Closes a worker's own socket (an orderly close for a connected one) and
// marks it closed.
void CloseSocket(SOCKET& socket);

// An event that a socket's network events signal (the socket turns
// non-blocking once watched).
class SocketEvent {
public:
    SocketEvent() : m_event(WSACreateEvent()) {}
    ~SocketEvent();
    SocketEvent(const SocketEvent&) = delete;
    SocketEvent& operator=(const SocketEvent&) = delete;

    HANDLE Get() const { return m_event; }
    bool Watch(SOCKET socket, long events);
    // What happened since the last call; resets the event. False on failure.
    bool Take(SOCKET socket, WSANETWORKEVENTS& events);

private:
    WSAEVENT m_event;
};

// What a stream reads and writes through: the socket itself, or a layer
// over it (TLS). Both as send and recv on a non-blocking socket: the bytes
// taken or given, 0 for the peer's close, or SOCKET_ERROR with the error as
// the thread's last (WSAEWOULDBLOCK: not now).
class StreamIo {
public:
    virtual ~StreamIo() = default;
    virtual int Send(SOCKET socket, const uint8_t* bytes, int count) = 0;
    virtual int Receive(SOCKET socket, uint8_t* buffer, int count) = 0;
};

// The socket itself.
StreamIo& PlainStream();

// A payload the socket took only part of (or refused while full); it goes
// out before anything still queued behind it, so no byte is lost or sent
// twice.
struct PendingSend {
    OutgoingPtr payload;
    size_t offset = 0;
    bool Empty() const { return !payload || offset >= payload->bytes.size(); }
};

enum class FlushResult { Done, Full, Dropped };

// Writes the pending remainder, then the queued payloads in order, until
// the queue is empty or the non-blocking socket refuses more; each payload
// written whole goes to onSent. A send error other than WSAEWOULDBLOCK
// drops that payload (its error stays the thread's last) and ends the round.
FlushResult FlushSendQueue(SOCKET socket, SendQueue& queue, PendingSend& pending,
                           const std::function<void(const OutgoingPtr&, size_t written)>& onSent,
                           StreamIo& io = PlainStream());

// The size of one receive on the stream links. Replaceable so that the
// benchmark can compare sizes.
size_t StreamReceiveBufferSize();
void SetStreamReceiveBufferSize(size_t bytes);

// Stopped by this side, closed by the peer, or failed (a reset, say).
enum class StreamEnd { Stopped, Closed, Failed };

// What a stream hands on: each received block of at most the buffer's
// size, and each payload as it leaves.
struct StreamHooks {
    std::function<void(std::vector<uint8_t>)> onBlock;
    std::function<void(const OutgoingPtr&, size_t written)> onSent;
    // A failed send, its bytes dropped; the error is the thread's last.
    std::function<void(uint64_t bytes)> onDropped;
    // What the bytes go through; the socket itself when not set.
    StreamIo* io = nullptr;
};

// Runs a connected stream socket (watched by `event` for read, write and
// close) until the peer closes it, it fails, or stop is signalled. Queued
// payloads leave as soon as wake says they are there. While the window is
// behind (the worker's budget is spent) nothing is read, so the peer waits.
// A failure's socket error goes to `error`. A payload still partly written
// at the end is handed to onSent with what left of it, and dropped.
StreamEnd RunStream(SOCKET socket, SocketEvent& event, const TransportBase& worker, SendQueue& queue,
                    const StreamHooks& hooks, int* error = nullptr, uint64_t* droppedAtEnd = nullptr);

// What follows "disconnected" for a stream that ended so: " (closed by the
// peer)", " (WSA 10054: connection reset)", or nothing when this side
// stopped it.
std::wstring StreamEndReason(StreamEnd end, int error);
// "message (WSA n: description)" for that code.
std::wstring FormatSocketError(const std::wstring& message, int code);
