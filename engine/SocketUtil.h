#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <string>

// "message (WSA n)" with the calling thread's last socket error.
std::wstring FormatSocketError(const std::wstring& message);

// "host:port" in numeric form (IPv6 without brackets), or "unknown".
std::wstring FormatEndpoint(const sockaddr* address);

// A socket shared between Stop and a worker is taken with an exchange
// first, so whichever side gets the valid value is the one that closes it.
void CloseSocketOnce(std::atomic<SOCKET>& socket, bool shutdownFirst);
