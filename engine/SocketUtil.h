#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// "message (WSA n)" with the calling thread's last socket error.
std::wstring FormatSocketError(const std::wstring& message);

// "host:port" in numeric form (IPv6 without brackets), or "unknown".
std::wstring FormatEndpoint(const sockaddr* address);

// A socket shared between Stop and a worker is taken with an exchange
// first, so whichever side gets the valid value is the one that closes it.
void CloseSocketOnce(std::atomic<SOCKET>& socket, bool shutdownFirst);

// A payload the socket took only part of (or refused while full); it goes
// out before anything still queued behind it, so no byte is lost or sent
// twice.
struct PendingSend {
    std::vector<uint8_t> bytes;
    size_t offset = 0;
    bool Empty() const { return offset >= bytes.size(); }
};

using SendQueue = std::deque<std::vector<uint8_t>>;

// Worker step of the stream links: writes the pending remainder, then the
// queued payloads in order, until the queue is empty or the non-blocking
// socket refuses more. The lock is never held during a socket call. A send
// error other than WSAEWOULDBLOCK drops that payload and ends the round.
void FlushSendQueue(SOCKET socket, std::mutex& lock, SendQueue& queue, PendingSend& pending);

// One pass of a stream link's worker: flush the queue, wait up to 10 ms for
// bytes (or for room while a remainder waits), receive one block of at most
// the buffer's size and hand it on. False when the link has ended (closed by
// the peer, or a socket failure).
bool StreamPass(SOCKET socket, std::mutex& lock, SendQueue& queue, PendingSend& pending,
                std::vector<uint8_t>& buffer, const std::function<void(std::vector<uint8_t>)>& onBlock);

// Stores a new socket where an older one may still be, closing the older.
void ReplaceSocket(std::atomic<SOCKET>& slot, SOCKET created);

// Makes an IPv4 socket and stores it in the slot. When a stop was asked for
// before it was stored, Stop could not close it, so it is closed here and the
// caller's next calls on it fail. INVALID_SOCKET on failure, with the
// creation's error as the thread's last error.
SOCKET OpenStoredSocket(std::atomic<SOCKET>& slot, int type, int protocol, const std::atomic<bool>& stopRequested);
