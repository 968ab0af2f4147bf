#include "engine/SocketUtil.h"

#include <algorithm>
#include <cwchar>

std::wstring FormatSocketError(const std::wstring& message)
{
    return message + L" (WSA " + std::to_wstring(WSAGetLastError()) + L")";
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

void CloseSocketOnce(std::atomic<SOCKET>& socket, bool shutdownFirst)
{
    const SOCKET taken = socket.exchange(INVALID_SOCKET);
    if (taken == INVALID_SOCKET)
        return;
    if (shutdownFirst)
        shutdown(taken, SD_BOTH);
    closesocket(taken);
}

// True when the payload went out whole; false when the socket is full (the
// remainder stays) or failed (the payload is dropped).
static bool SendPending(SOCKET s, PendingSend& pending)
{
    while (!pending.Empty()) {
        const size_t left = pending.bytes.size() - pending.offset;
        const int chunk = int(std::min<size_t>(left, 1u << 30));
        const int sent = send(s, reinterpret_cast<const char*>(pending.bytes.data() + pending.offset), chunk, 0);
        if (sent == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                pending = PendingSend{};
            return false;
        }
        pending.offset += size_t(sent);
    }
    pending = PendingSend{};
    return true;
}

void FlushSendQueue(SOCKET s, std::mutex& lock, SendQueue& queue, PendingSend& pending)
{
    if (s == INVALID_SOCKET)
        return;
    for (;;) {
        if (pending.Empty()) {
            std::lock_guard<std::mutex> guard(lock);
            if (queue.empty())
                return;
            pending.bytes = std::move(queue.front());
            pending.offset = 0;
            queue.pop_front();
        }
        if (!SendPending(s, pending))
            return;
    }
}

bool StreamPass(SOCKET s, std::mutex& lock, SendQueue& queue, PendingSend& pending, std::vector<uint8_t>& buffer,
                const std::function<void(std::vector<uint8_t>)>& onBlock)
{
    FlushSendQueue(s, lock, queue, pending);
    if (s == INVALID_SOCKET)
        return false;
    fd_set readable, writable;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_SET(s, &readable);
    // While the socket refuses more, wake as soon as it takes bytes again.
    if (!pending.Empty())
        FD_SET(s, &writable);
    timeval timeout{0, 10000};
    const int ready = select(0, &readable, &writable, nullptr, &timeout);
    if (ready == SOCKET_ERROR)
        return false;
    if (ready == 0 || !FD_ISSET(s, &readable))
        return true;
    const int received = recv(s, reinterpret_cast<char*>(buffer.data()), int(buffer.size()), 0);
    if (received > 0) {
        onBlock(std::vector<uint8_t>(buffer.begin(), buffer.begin() + received));
        return true;
    }
    return received < 0 && WSAGetLastError() == WSAEWOULDBLOCK;
}

void ReplaceSocket(std::atomic<SOCKET>& slot, SOCKET created)
{
    const SOCKET previous = slot.exchange(created);
    if (previous != INVALID_SOCKET)
        closesocket(previous);
}

SOCKET OpenStoredSocket(std::atomic<SOCKET>& slot, int type, int protocol, const std::atomic<bool>& stopRequested)
{
    const SOCKET created = socket(AF_INET, type, protocol);
    const int createError = WSAGetLastError();
    ReplaceSocket(slot, created);
    if (created == INVALID_SOCKET) {
        WSASetLastError(createError);
        return INVALID_SOCKET;
    }
    if (stopRequested)
        CloseSocketOnce(slot, false);
    return created;
}
