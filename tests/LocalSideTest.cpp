#include "engine/TcpClientTransport.h"
#include "engine/TcpServerTransport.h"
#include "engine/UdpTransport.h"
#include "tests/EventWindow.h"
#include "tests/LoopbackPeer.h"

#include <gtest/gtest.h>

using Kind = TransportEventKind;
using Bytes = std::vector<uint8_t>;

namespace {

const wchar_t* const kGroup = L"239.1.2.3";

bool WaitForStatusOrError(EventWindow& window, const std::wstring& status)
{
    return window.WaitUntil([&](const EventWindow& w) { return w.Count(Kind::Error) > 0 || w.Has(Kind::Status, status); },
                            5000) &&
           window.Has(Kind::Status, status);
}

std::wstring FirstError(const EventWindow& window)
{
    for (const auto& e : window.Events())
        if (e->kind == Kind::Error)
            return e->text;
    return {};
}

std::wstring PeerName(const PeerSocket& s)
{
    sockaddr_storage a{};
    int size = sizeof(a);
    getpeername(s.Get(), reinterpret_cast<sockaddr*>(&a), &size);
    return FormatEndpoint(reinterpret_cast<const sockaddr*>(&a));
}

// A UDP socket bound to every address at a port of its own, joined to the
// group on the loopback adapter when asked.
class DatagramPeer {
public:
    explicit DatagramPeer(bool joinGroup = false) : m_socket(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP))
    {
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        bind(m_socket.Get(), reinterpret_cast<sockaddr*>(&any), sizeof(any));
        int size = sizeof(any);
        getsockname(m_socket.Get(), reinterpret_cast<sockaddr*>(&any), &size);
        m_port = ntohs(any.sin_port);
        if (joinGroup) {
            ip_mreq m{};
            InetPtonW(AF_INET, kGroup, &m.imr_multiaddr);
            m.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
            m_joined = setsockopt(m_socket.Get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&m),
                                  sizeof(m)) == 0;
        }
    }
    uint16_t Port() const { return m_port; }
    bool Joined() const { return m_joined; }
    // One datagram and who sent it, or false after the time-out.
    bool Receive(Bytes& bytes, std::wstring& from, int timeoutMs)
    {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_socket.Get(), &readable);
        timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        if (select(0, &readable, nullptr, nullptr, &timeout) != 1)
            return false;
        char buffer[2048];
        sockaddr_storage sender{};
        int size = sizeof(sender);
        const int got = recvfrom(m_socket.Get(), buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&sender), &size);
        if (got < 0)
            return false;
        bytes.assign(buffer, buffer + got);
        from = FormatEndpoint(reinterpret_cast<const sockaddr*>(&sender));
        return true;
    }
    // To the group on the loopback adapter.
    bool SendToGroup(uint16_t port, const Bytes& bytes)
    {
        in_addr adapter{};
        adapter.s_addr = htonl(INADDR_LOOPBACK);
        setsockopt(m_socket.Get(), IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&adapter), sizeof(adapter));
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        InetPtonW(AF_INET, kGroup, &to.sin_addr);
        return sendto(m_socket.Get(), reinterpret_cast<const char*>(bytes.data()), int(bytes.size()), 0,
                      reinterpret_cast<sockaddr*>(&to), sizeof(to)) == int(bytes.size());
    }

private:
    PeerSocket m_socket;
    uint16_t m_port = 0;
    bool m_joined = false;
};

} // namespace

// A client bound to one local address and port is seen by its peer as
// coming from there, over TCP and UDP alike.
TEST(LocalSide, AClientLeavesFromTheChosenAddressAndPort)
{
    Listener listener(L"127.0.0.1");
    ASSERT_TRUE(listener.Valid());
    EventWindow window;
    TcpClientTransport client;
    ConnectionSettings s;
    s.ip = L"127.0.0.1";
    s.port = listener.Port();
    s.net.localIp = L"127.0.0.2";
    s.net.localPort = ClosedLoopbackPort();
    client.Start(window.Handle(), s);
    PeerSocket peer = listener.Accept(5000);
    ASSERT_TRUE(peer.Valid());
    ASSERT_TRUE(WaitForStatusOrError(window, L"TCP client connected")) << FirstError(window);
    EXPECT_EQ(PeerName(peer), L"127.0.0.2:" + std::to_wstring(s.net.localPort));
    client.Stop();

    // Wine binds a UDP socket to every address of the adapter that has the
    // one asked for, so only the port can be seen there.
    DatagramPeer receiver;
    UdpTransport udp;
    s.isUdp = 1;
    s.port = receiver.Port();
    s.net.localIp = L"127.0.0.1";
    s.net.localPort = ClosedLoopbackPort();
    udp.Start(window.Handle(), s);
    ASSERT_TRUE(WaitForStatusOrError(window, L"UDP client ready")) << FirstError(window);
    ASSERT_EQ(udp.Send(MakeOutgoing({'u'})), SendResult::Queued);
    Bytes got;
    std::wstring from;
    ASSERT_TRUE(receiver.Receive(got, from, 5000));
    EXPECT_EQ(from, L"127.0.0.1:" + std::to_wstring(s.net.localPort));
    udp.Stop();
}

// An address this machine does not have is refused with the system's
// reason (Wine lets a UDP socket bind to any address, so that is left
// out); a text that is no numeric address never gets that far.
TEST(LocalSide, ARefusedBindIsAnErrorWithItsReason)
{
    Listener listener(L"127.0.0.1");
    EventWindow window;
    TcpClientTransport client;
    TcpServerTransport server;
    ConnectionSettings s;
    s.ip = L"127.0.0.1";
    s.port = listener.Port();
    s.net.localIp = L"198.51.100.1"; // a documentation address no test machine has
    client.Start(window.Handle(), s);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Error) > 0; }, 5000));
    EXPECT_EQ(FirstError(window).rfind(L"TCP bind failed (WSA 10049", 0), 0u) << FirstError(window);
    s.isServer = 1;
    server.Start(window.Handle(), s);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Error) > 1; }, 5000));
    EXPECT_EQ(window.Texts().back().rfind(L"TCP server listen failed (WSA 10049", 0), 0u) << window.Texts().back();

    TcpClientTransport tcp;
    UdpTransport udp;
    Link* const links[] = {&tcp, &server, &udp};
    for (Link* link : links) {
        const size_t before = window.Count(Kind::Error);
        s.isServer = link == &server;
        s.isUdp = link == &udp;
        s.net.localIp = L"localhost";
        link->Start(window.Handle(), s);
        ASSERT_TRUE(window.WaitUntil([&](const EventWindow& w) { return w.Count(Kind::Error) > before; }, 5000));
        EXPECT_EQ(window.Texts().back(), L"Invalid local IP address.");
        link->Stop();
    }
}

TEST(LocalSide, AServerOnOneAddressServesThatAddressAlone)
{
    EventWindow window;
    TcpServerTransport server;
    ConnectionSettings s;
    s.isServer = 1;
    s.port = ClosedLoopbackPort();
    s.net.localIp = L"127.0.0.2";
    server.Start(window.Handle(), s);
    ASSERT_TRUE(WaitForStatusOrError(window, L"TCP server listening on " + std::to_wstring(s.port) + L" at 127.0.0.2"))
        << FirstError(window);
    EXPECT_FALSE(ConnectTo(L"127.0.0.1", s.port).Valid());
    PeerSocket client = ConnectTo(L"127.0.0.2", s.port);
    ASSERT_TRUE(client.Valid());
    EXPECT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::ClientAdded) == 1; }, 5000));
    server.Stop();
}

// A listener joined to a group on the loopback adapter hears a peer that
// sends to the group, names it as any sender, and leaves the group when
// it stops.
TEST(Multicast, AListenerJoinedOnLoopbackHearsTheGroup)
{
    EventWindow window;
    UdpTransport udp;
    ConnectionSettings s;
    s.isUdp = 1;
    s.isServer = 1;
    s.port = ClosedLoopbackPort();
    s.net.localIp = L"127.0.0.1";
    s.net.multicastGroup = kGroup;
    udp.Start(window.Handle(), s);
    ASSERT_TRUE(WaitForStatusOrError(window, L"UDP listener started")) << FirstError(window);
    EXPECT_TRUE(window.Has(Kind::Status, L"Joined multicast group 239.1.2.3 on 127.0.0.1"));
    DatagramPeer sender;
    ASSERT_TRUE(sender.SendToGroup(s.port, {'g', 'r', 'p'}));
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Received) > 0; }, 5000));
    for (const auto& e : window.Events())
        if (e->kind == Kind::Received) {
            EXPECT_EQ(e->data, (Bytes{'g', 'r', 'p'}));
            EXPECT_EQ(e->peer, L"127.0.0.1:" + std::to_wstring(sender.Port()));
        }
    udp.Stop();
    window.PumpFor(50);
    EXPECT_TRUE(window.Has(Kind::Status, L"Left multicast group 239.1.2.3"));
    EXPECT_EQ(window.Texts().back(), L"UDP stopped");

    s.net.multicastGroup = L"10.0.0.1";
    udp.Start(window.Handle(), s);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Error) > 0; }, 5000));
    EXPECT_EQ(FirstError(window), L"Invalid multicast group address.");
}

// A client sending to a group sets its options and leaves by the chosen
// adapter, where a member of the group on this machine hears it. (Whether
// the machine's own members hear it is not seen on loopback: what leaves by
// it comes back in anyway.)
TEST(Multicast, AClientSendsToTheGroupByTheChosenAdapter)
{
    DatagramPeer member(true);
    ASSERT_TRUE(member.Joined());
    EventWindow window;
    UdpTransport udp;
    ConnectionSettings s;
    s.isUdp = 1;
    s.ip = kGroup;
    s.port = member.Port();
    s.net.localIp = L"127.0.0.1";
    s.net.multicastTtl = 4;
    s.net.multicastLoopback = false;
    udp.Start(window.Handle(), s);
    ASSERT_TRUE(WaitForStatusOrError(window, L"UDP client ready")) << FirstError(window);
    ASSERT_EQ(udp.Send(MakeOutgoing({'m', 'c'})), SendResult::Queued);
    Bytes got;
    std::wstring from;
    ASSERT_TRUE(member.Receive(got, from, 5000));
    EXPECT_EQ(got, (Bytes{'m', 'c'}));
    EXPECT_EQ(window.Count(Kind::Error), 0u);
    udp.Stop();
}
