#include "engine/UdpTransport.h"
#include "tests/EventWindow.h"
#include "tests/LoopbackPeer.h"

#include <gtest/gtest.h>

using Kind = TransportEventKind;
using Bytes = std::vector<uint8_t>;

namespace {

class Udp : public testing::Test {
protected:
    void TearDown() override { udp.Stop(); }

    bool StartListener()
    {
        port = ClosedLoopbackPort();
        ConnectionSettings s;
        s.isUdp = 1;
        s.isServer = 1;
        s.port = port;
        udp.Start(window.Handle(), s);
        return window.WaitForText(Kind::Status, L"UDP listener started", 5000);
    }
    bool StartClient(const std::wstring& ip, uint16_t destination)
    {
        ConnectionSettings s;
        s.isUdp = 1;
        s.ip = ip;
        s.port = destination;
        udp.Start(window.Handle(), s);
        // The run that Start stopped may still have its "UDP stopped" queued.
        return window.WaitUntil([](const EventWindow& w) {
                   return w.Count(Kind::Error) > 0 || w.Has(Kind::Status, L"UDP client ready");
               }, 5000) &&
               window.Has(Kind::Status, L"UDP client ready");
    }
    bool WaitReceived(size_t count)
    {
        return window.WaitUntil([&](const EventWindow& w) { return w.Count(Kind::Received) >= count; }, 5000);
    }
    const TransportEvent* NthReceived(size_t n) const
    {
        for (const auto& e : window.Events())
            if (e->kind == Kind::Received && n-- == 0)
                return e.get();
        return nullptr;
    }

    EventWindow window;
    UdpTransport udp;
    uint16_t port = 0;
};

} // namespace

TEST_F(Udp, ListenerShowsEachSenderAndAnswersTheLast)
{
    ASSERT_TRUE(StartListener());
    EXPECT_FALSE(udp.SendNow({'x'})); // nobody to answer yet
    UdpPeer one, two;
    ASSERT_TRUE(one.SendTo(port, {'a', 'b'}));
    ASSERT_TRUE(WaitReceived(1));
    ASSERT_TRUE(two.SendTo(port, {}));
    ASSERT_TRUE(WaitReceived(2));
    EXPECT_EQ(NthReceived(0)->peer, L"127.0.0.1:" + std::to_wstring(one.Port()));
    EXPECT_EQ(NthReceived(0)->data, (Bytes{'a', 'b'}));
    EXPECT_EQ(NthReceived(1)->peer, L"127.0.0.1:" + std::to_wstring(two.Port()));
    EXPECT_TRUE(NthReceived(1)->data.empty());
    ASSERT_TRUE(udp.SendNow({'x'}));
    Bytes got;
    uint16_t from = 0;
    ASSERT_TRUE(two.Receive(got, 5000, &from));
    EXPECT_EQ(got, Bytes{'x'});
    EXPECT_EQ(from, port);
    EXPECT_FALSE(one.Receive(got, 200));
}

TEST_F(Udp, LargeDatagramArrivesWhole)
{
    ASSERT_TRUE(StartListener());
    UdpPeer sender;
    const Bytes big = PatternBytes(20000, 5);
    ASSERT_TRUE(sender.SendTo(port, big));
    ASSERT_TRUE(WaitReceived(1));
    EXPECT_TRUE(NthReceived(0)->data == big);
    EXPECT_EQ(window.Count(Kind::Error), 0u);
}

// A datagram larger than the buffer is not an error that ends the link: its
// start is logged and the block is marked as cut short.
TEST_F(Udp, DatagramLargerThanTheBufferIsKeptInPartAndMarked)
{
    udp.SetReceiveBufferSize(100);
    ASSERT_TRUE(StartListener());
    UdpPeer sender;
    const Bytes big = PatternBytes(150, 7);
    ASSERT_TRUE(sender.SendTo(port, big));
    ASSERT_TRUE(sender.SendTo(port, {'o', 'k'}));
    ASSERT_TRUE(WaitReceived(2));
    EXPECT_EQ(NthReceived(0)->data, Bytes(big.begin(), big.begin() + 100));
    EXPECT_EQ(NthReceived(0)->damaged, 1u);
    EXPECT_EQ(NthReceived(0)->peer, L"127.0.0.1:" + std::to_wstring(sender.Port()));
    EXPECT_EQ(NthReceived(1)->data, (Bytes{'o', 'k'}));
    EXPECT_EQ(NthReceived(1)->damaged, 0u);
    EXPECT_EQ(window.Count(Kind::Error), 0u);
}

TEST_F(Udp, ClientTalksToAnEchoPeer)
{
    UdpPeer echo;
    ASSERT_TRUE(StartClient(L"127.0.0.1", echo.Port()));
    ASSERT_TRUE(udp.SendNow({'p', 'i', 'n', 'g'}));
    Bytes got;
    uint16_t from = 0;
    ASSERT_TRUE(echo.Receive(got, 5000, &from));
    EXPECT_EQ(got, (Bytes{'p', 'i', 'n', 'g'}));
    ASSERT_TRUE(echo.SendTo(from, {'p', 'o', 'n', 'g'}));
    ASSERT_TRUE(WaitReceived(1));
    EXPECT_EQ(NthReceived(0)->data, (Bytes{'p', 'o', 'n', 'g'}));
    EXPECT_EQ(NthReceived(0)->peer, L"127.0.0.1:" + std::to_wstring(echo.Port()));
}

TEST_F(Udp, RefusedDatagramDoesNotEndTheLoop)
{
    UdpPeer gone;
    ASSERT_TRUE(StartClient(L"127.0.0.1", gone.Port()));
    ASSERT_TRUE(udp.SendNow({'1'}));
    Bytes got;
    uint16_t clientPort = 0;
    ASSERT_TRUE(gone.Receive(got, 5000, &clientPort));
    gone.Close();
    ASSERT_TRUE(udp.SendNow({'2'})); // refused: "port unreachable" comes back
    window.PumpFor(300);
    UdpPeer live;
    ASSERT_TRUE(live.SendTo(clientPort, {'o', 'k'}));
    ASSERT_TRUE(WaitReceived(1));
    EXPECT_EQ(NthReceived(0)->data, (Bytes{'o', 'k'}));
    EXPECT_EQ(window.Count(Kind::Error), 0u);
    EXPECT_FALSE(window.Has(Kind::Status, L"UDP stopped"));
    EXPECT_TRUE(udp.IsRunning());
}

TEST_F(Udp, HostNameIsRefusedWithoutStop)
{
    ASSERT_FALSE(StartClient(L"localhost", 9));
    window.PumpFor(200);
    EXPECT_EQ(window.Texts(), (std::vector<std::wstring>{L"Invalid UDP destination IP address."}));
    EXPECT_FALSE(udp.SendNow({'x'}));
}

TEST_F(Udp, FailedStartForgetsTheEarlierDestination)
{
    UdpPeer target;
    ASSERT_TRUE(StartClient(L"127.0.0.1", target.Port()));
    ASSERT_TRUE(udp.SendNow({'1'}));
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Sent) == 1; }, 5000));
    window.Clear();
    ASSERT_FALSE(StartClient(L"not-an-address", target.Port()));
    EXPECT_FALSE(udp.SendNow({'2'}));
    Bytes got;
    ASSERT_TRUE(target.Receive(got, 2000));
    EXPECT_EQ(got, (Bytes{'1'}));
    EXPECT_FALSE(target.Receive(got, 200));
}

TEST_F(Udp, StopWhileReceivingIsNoError)
{
    ASSERT_TRUE(StartListener());
    window.PumpFor(250);
    udp.Stop();
    window.PumpFor(100);
    EXPECT_TRUE(window.Has(Kind::Status, L"UDP stopped"));
    EXPECT_EQ(window.Count(Kind::Error), 0u);
    EXPECT_FALSE(udp.HasWorker());
    EXPECT_FALSE(udp.SendNow({'x'}));
}

TEST_F(Udp, ListenerBindFailureIsReported)
{
    PeerSocket holder(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(holder.Get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    int size = sizeof(a);
    getsockname(holder.Get(), reinterpret_cast<sockaddr*>(&a), &size);
    ConnectionSettings s;
    s.isUdp = 1;
    s.isServer = 1;
    s.port = ntohs(a.sin_port);
    udp.Start(window.Handle(), s);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return !w.Events().empty(); }, 5000));
    window.PumpFor(200);
    ASSERT_EQ(window.Events().size(), 1u);
    EXPECT_EQ(window.Events()[0]->text.rfind(L"UDP bind failed (WSA ", 0), 0u);
    EXPECT_FALSE(udp.SendNow({'x'}));
}

// A client whose destination is a broadcast address sends to it: the
// socket asks for broadcast permission, without which the send failed.
TEST_F(Udp, AClientSendsToABroadcastAddress)
{
    PeerSocket listener(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY); // a socket bound to one address hears no broadcast
    ASSERT_EQ(bind(listener.Get(), reinterpret_cast<sockaddr*>(&any), sizeof(any)), 0);
    int size = sizeof(any);
    getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&any), &size);
    ASSERT_TRUE(StartClient(L"127.255.255.255", ntohs(any.sin_port)));
    ASSERT_EQ(udp.Send(MakeOutgoing({'a', 'l', 'l'})), SendResult::Queued);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Sent) + w.Count(Kind::Error) > 0; },
                                 5000));
    EXPECT_EQ(window.Count(Kind::Error), 0u) << window.Texts().back();
    EXPECT_EQ(listener.Receive(3, 5000), (Bytes{'a', 'l', 'l'}));
}
