#include "engine/SocketUtil.h"

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
