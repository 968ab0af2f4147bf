#include "engine/SocketUtil.h"

#include <gtest/gtest.h>

TEST(FormatSocketError, AppendsTheLastSocketErrorAndItsMeaning)
{
    WSASetLastError(10061);
    EXPECT_EQ(FormatSocketError(L"TCP connect failed"), L"TCP connect failed (WSA 10061: connection refused)");
    WSASetLastError(0);
    EXPECT_EQ(FormatSocketError(L"bind failed"), L"bind failed (WSA 0)");
    // A code nobody can name keeps the plain form.
    WSASetLastError(987654);
    EXPECT_EQ(FormatSocketError(L"x"), L"x (WSA 987654)");
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
