#include "engine/SocketUtil.h"

#include <gtest/gtest.h>

TEST(FormatSocketError, AppendsTheLastSocketError)
{
    WSASetLastError(10061);
    EXPECT_EQ(FormatSocketError(L"TCP connect failed"), L"TCP connect failed (WSA 10061)");
    WSASetLastError(0);
    EXPECT_EQ(FormatSocketError(L"bind failed"), L"bind failed (WSA 0)");
}

TEST(FormatEndpoint, NumericHostAndPort)
{
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(5000);
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(FormatEndpoint(reinterpret_cast<sockaddr*>(&v4)), L"127.0.0.1:5000");

    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(65535);
    v6.sin6_addr.s6_addr[15] = 1;
    EXPECT_EQ(FormatEndpoint(reinterpret_cast<sockaddr*>(&v6)), L"::1:65535");
}

TEST(FormatEndpoint, UnknownWhenTheAddressCannotBeNamed)
{
    sockaddr_storage odd{};
    odd.ss_family = 12345;
    EXPECT_EQ(FormatEndpoint(reinterpret_cast<sockaddr*>(&odd)), L"unknown");
    EXPECT_EQ(FormatEndpoint(nullptr), L"unknown");
}

TEST(CloseSocketOnce, OnlyTheFirstTakerCloses)
{
    std::atomic<SOCKET> shared{socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
    ASSERT_NE(shared.load(), INVALID_SOCKET);
    const SOCKET original = shared.load();
    CloseSocketOnce(shared, true);
    EXPECT_EQ(shared.load(), INVALID_SOCKET);
    CloseSocketOnce(shared, true); // second close is a no-op
    EXPECT_EQ(shared.load(), INVALID_SOCKET);
    // The handle really is closed.
    int type = 0;
    int size = sizeof(type);
    EXPECT_EQ(getsockopt(original, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size),
              SOCKET_ERROR);
}
