#include "engine/TcpServerTransport.h"
#include "tests/EventWindow.h"
#include "tests/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using Kind = TransportEventKind;

namespace {

class TcpServer : public testing::Test {
protected:
    void TearDown() override { server.Stop(); }

    bool Listen()
    {
        port = ClosedLoopbackPort();
        ConnectionSettings s;
        s.isServer = 1;
        s.ip = L"0.0.0.0";
        s.port = port;
        server.Start(window.Handle(), s);
        return window.WaitForText(Kind::Status, L"TCP server listening on " + std::to_wstring(port), 5000);
    }
    // Connects a client and waits for its session to be announced.
    PeerSocket Join()
    {
        const size_t before = window.Count(Kind::ClientAdded);
        PeerSocket client = ConnectTo(L"127.0.0.1", port);
        window.WaitUntil([&](const EventWindow& w) { return w.Count(Kind::ClientAdded) > before; }, 5000);
        return client;
    }
    std::vector<std::wstring> PeersOf(Kind kind) const
    {
        std::vector<std::wstring> peers;
        for (const auto& e : window.Events())
            if (e->kind == kind)
                peers.push_back(e->peer);
        return peers;
    }
    static std::wstring LocalEndpoint(const PeerSocket& s)
    {
        sockaddr_in a{};
        int size = sizeof(a);
        getsockname(s.Get(), reinterpret_cast<sockaddr*>(&a), &size);
        return L"127.0.0.1:" + std::to_wstring(ntohs(a.sin_port));
    }

    EventWindow window;
    TcpServerTransport server;
    uint16_t port = 0;
};

} // namespace

TEST_F(TcpServer, PortZeroIsShownAsConfigured)
{
    ConnectionSettings s;
    s.isServer = 1;
    s.port = 0;
    server.Start(window.Handle(), s);
    EXPECT_TRUE(window.WaitForText(Kind::Status, L"TCP server listening on 0", 5000));
}

TEST_F(TcpServer, PortInUseGivesOneErrorAndNoStop)
{
    PeerSocket holder(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(holder.Get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    ASSERT_EQ(listen(holder.Get(), 1), 0);
    int size = sizeof(a);
    getsockname(holder.Get(), reinterpret_cast<sockaddr*>(&a), &size);
    ConnectionSettings s;
    s.isServer = 1;
    s.port = ntohs(a.sin_port);
    server.Start(window.Handle(), s);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return !w.Events().empty(); }, 5000));
    window.PumpFor(300);
    ASSERT_EQ(window.Events().size(), 1u);
    EXPECT_EQ(window.Events()[0]->kind, Kind::Error);
    EXPECT_EQ(window.Events()[0]->text.rfind(L"TCP server listen failed (WSA ", 0), 0u);
}

TEST_F(TcpServer, PayloadsGoToEveryClientAndLeaversAreSkipped)
{
    ASSERT_TRUE(Listen());
    EXPECT_FALSE(server.QueueSendToAll({'x'})); // nobody to send to
    PeerSocket a = Join(), b = Join(), c = Join();
    ASSERT_TRUE(a.Valid() && b.Valid() && c.Valid());
    EXPECT_EQ(PeersOf(Kind::ClientAdded),
              (std::vector<std::wstring>{LocalEndpoint(a), LocalEndpoint(b), LocalEndpoint(c)}));
    EXPECT_TRUE(window.Has(Kind::ClientAdded, L"Client connected"));

    const std::vector<uint8_t> payload = {0x00, 0xFF, 'h', 'i', 0x0A};
    ASSERT_TRUE(server.QueueSendToAll(payload));
    for (PeerSocket* client : {&a, &b, &c})
        EXPECT_EQ(client->Receive(payload.size(), 5000), payload);

    ASSERT_TRUE(b.SendAll({0xC3, 0x28}));
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Received) == 1; }, 5000));
    EXPECT_EQ(window.ReceivedBytes(), (std::vector<uint8_t>{0xC3, 0x28}));
    const std::wstring bPeer = LocalEndpoint(b);
    b.Close();
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::ClientRemoved) == 1; }, 5000));
    EXPECT_EQ(PeersOf(Kind::ClientRemoved), (std::vector<std::wstring>{bPeer}));
    EXPECT_TRUE(window.Has(Kind::ClientRemoved, L"Client disconnected (closed by the peer)"));
    EXPECT_FALSE(window.Has(Kind::Status, L"TCP server stopped"));

    ASSERT_TRUE(server.QueueSendToAll({'2'}));
    EXPECT_EQ(a.Receive(1, 5000), (std::vector<uint8_t>{'2'}));
    EXPECT_EQ(c.Receive(1, 5000), (std::vector<uint8_t>{'2'}));
}

TEST_F(TcpServer, StopReportsTheServerThenEachClientInOrder)
{
    const size_t threadsBefore = CountProcessThreads();
    ASSERT_TRUE(Listen());
    PeerSocket first = Join(), second = Join();
    const std::wstring firstPeer = LocalEndpoint(first), secondPeer = LocalEndpoint(second);
    window.Clear();
    const ULONGLONG stopping = GetTickCount64();
    server.Stop();
    EXPECT_LT(GetTickCount64() - stopping, 500u);
    window.PumpFor(200);
    ASSERT_EQ(window.Events().size(), 3u);
    EXPECT_EQ(window.Events()[0]->text, L"TCP server stopped");
    EXPECT_EQ(window.Events()[1]->kind, Kind::ClientRemoved);
    EXPECT_EQ(window.Events()[1]->peer, firstPeer);
    EXPECT_EQ(window.Events()[2]->peer, secondPeer);
    EXPECT_EQ(server.SessionCount(), 0u);
    EXPECT_FALSE(server.HasWorker());
    EXPECT_EQ(CountProcessThreads(), threadsBefore);
    EXPECT_TRUE(first.WaitClosed(2000));
    EXPECT_TRUE(second.WaitClosed(2000));
}

TEST_F(TcpServer, StopWithClientsLeavesNoHandle)
{
    // The thread library keeps a few records of ended threads for reuse, as
    // many as ran at once; a leak per session would leave eight or more.
    EXPECT_LT(HandlesLeftBehind([&] {
        ASSERT_TRUE(Listen());
        std::vector<PeerSocket> clients;
        for (int i = 0; i < 8; ++i)
            clients.push_back(Join());
        server.Stop();
        EXPECT_TRUE(clients[0].WaitClosed(2000));
    }),
              4);
}

TEST_F(TcpServer, SlowClientStillGetsEveryByteInOrder)
{
    ASSERT_TRUE(Listen());
    PeerSocket slow = Join();
    std::vector<uint8_t> expected;
    for (uint32_t i = 0; i < 400; ++i) {
        const std::vector<uint8_t> payload = PatternBytes(10000 + i % 13, i);
        ASSERT_TRUE(server.QueueSendToAll(payload));
        expected.insert(expected.end(), payload.begin(), payload.end());
    }
    Sleep(500); // its window fills up before it reads
    const std::vector<uint8_t> received = slow.Receive(expected.size(), 15000);
    ASSERT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected);
}

TEST_F(TcpServer, ManyShortLivedClientsLeaveNothingBehind)
{
    const size_t threadsBefore = CountProcessThreads();
    ASSERT_TRUE(Listen());
    for (int i = 0; i < 200; ++i) {
        PeerSocket client = ConnectTo(L"127.0.0.1", port);
        ASSERT_TRUE(client.Valid()) << i;
        if (i % 4 == 0)
            client.SendAll({'x'});
        if (i % 20 == 0)
            window.PumpFor(0);
    }
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::ClientRemoved) == 200; }, 20000));
    server.Stop();
    EXPECT_EQ(window.Count(Kind::ClientAdded), 200u);
    EXPECT_EQ(server.SessionCount(), 0u);
    EXPECT_EQ(CountProcessThreads(), threadsBefore);
}

namespace {

std::atomic<int> g_launches{0};

// The accept thread starts normally; the first session thread cannot.
std::thread FailSecondLaunch(std::function<void()> body)
{
    if (++g_launches == 2)
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(body));
}

} // namespace

TEST_F(TcpServer, ClientWithoutAThreadIsClosedAndReported)
{
    g_launches = 0;
    SetWorkerLauncher(&FailSecondLaunch);
    const bool listening = Listen();
    PeerSocket refused = ConnectTo(L"127.0.0.1", port);
    const bool reported = window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Error) == 1; }, 5000);
    SetWorkerLauncher(nullptr);
    ASSERT_TRUE(listening);
    ASSERT_TRUE(reported);
    EXPECT_FALSE(window.Events().back()->linkEnded); // the server itself goes on
    EXPECT_TRUE(refused.WaitClosed(2000));
    EXPECT_EQ(server.SessionCount(), 0u);
    PeerSocket accepted = Join(); // the server goes on accepting
    EXPECT_EQ(window.Count(Kind::ClientAdded), 1u);
}

TEST_F(TcpServer, EachClientHasItsOwnIdAndCanBeSentToAlone)
{
    ASSERT_TRUE(Listen());
    PeerSocket a = Join(), b = Join();
    ASSERT_EQ(window.Count(Kind::ClientAdded), 2u);
    std::vector<uint32_t> ids;
    for (const auto& e : window.Events())
        if (e->kind == Kind::ClientAdded)
            ids.push_back(e->clientId);
    ASSERT_NE(ids[0], 0u);
    ASSERT_NE(ids[0], ids[1]);

    ASSERT_TRUE(server.QueueSendTo(ids[1], {'b'}));
    EXPECT_EQ(b.Receive(1, 5000), (std::vector<uint8_t>{'b'}));
    // What each client sends and its leaving carry its id too.
    ASSERT_TRUE(a.SendAll({'a'}));
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Received) == 1; }, 5000));
    a.Close();
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::ClientRemoved) == 1; }, 5000));
    for (const auto& e : window.Events()) {
        if (e->kind == Kind::Received || e->kind == Kind::ClientRemoved) {
            EXPECT_EQ(e->clientId, ids[0]);
        }
    }
    EXPECT_FALSE(server.QueueSendTo(ids[0], {'x'})); // gone
    EXPECT_FALSE(server.QueueSendTo(12345678, {'x'}));
    ASSERT_TRUE(server.QueueSendToAll({'2'}));
    EXPECT_EQ(b.Receive(1, 5000), (std::vector<uint8_t>{'2'})); // nothing else came before it

    const double median = MedianDeliveryMs([&](const std::vector<uint8_t>& p) { return server.QueueSendTo(ids[1], p); },
                                           [&](size_t n, int ms) { return b.Receive(n, ms); }, 15);
    EXPECT_GE(median, 0.0);
    // The faults this catches wait for a tick (100 ms) or a look (250 ms);
    // a busy machine now and then takes more than a few milliseconds.
    EXPECT_LT(median, 20.0);
}

// Three clients: bytes for one reach only it, and one dropped by the server
// sees its connection close while the others and the server go on.
TEST_F(TcpServer, OneClientOfThreeIsSentToAndOneIsDisconnected)
{
    ASSERT_TRUE(Listen());
    PeerSocket a = Join(), b = Join(), c = Join();
    std::vector<uint32_t> ids;
    for (const auto& e : window.Events())
        if (e->kind == Kind::ClientAdded)
            ids.push_back(e->clientId);
    ASSERT_EQ(ids.size(), 3u);

    ASSERT_TRUE(server.QueueSendTo(ids[1], {'b'}));
    EXPECT_EQ(b.Receive(1, 5000), (std::vector<uint8_t>{'b'}));
    EXPECT_TRUE(a.Receive(1, 200).empty());
    EXPECT_TRUE(c.Receive(1, 200).empty());

    ASSERT_TRUE(server.Disconnect(ids[0]));
    EXPECT_TRUE(a.WaitClosed(5000));
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::ClientRemoved) == 1; }, 5000));
    for (const auto& e : window.Events()) {
        if (e->kind == Kind::ClientRemoved) {
            EXPECT_EQ(e->clientId, ids[0]);
            EXPECT_EQ(e->text, L"Client disconnected (by you)");
        }
    }
    EXPECT_FALSE(server.Disconnect(ids[0])); // gone already
    EXPECT_EQ(server.SessionCount(), 2u);
    ASSERT_TRUE(server.QueueSendToAll({'!'}));
    EXPECT_EQ(b.Receive(1, 5000), (std::vector<uint8_t>{'!'}));
    EXPECT_EQ(c.Receive(1, 5000), (std::vector<uint8_t>{'!'}));
    EXPECT_FALSE(window.Has(Kind::Status, L"TCP server stopped"));
}

// A file is fed while the server's queues are short: a client that stops
// reading holds it back, and one that then leaves must let it go on.
TEST_F(TcpServer, AClientThatLeavesTakesItsQueueAlong)
{
    ASSERT_TRUE(Listen());
    PeerSocket stuck = Join();
    const std::vector<uint8_t> block(1 << 16, 'q');
    for (int i = 0; i < 400 && server.QueuedBytes() < block.size(); ++i)
        ASSERT_TRUE(server.QueueSendToAll(block)); // until the socket's buffers are full
    ASSERT_GE(server.QueuedBytes(), block.size());
    stuck.Close();
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::ClientRemoved) == 1; }, 5000));
    EXPECT_EQ(server.QueuedBytes(), 0u);
}

TEST_F(TcpServer, ClientsThatResetBeforeBeingAcceptedDoNotStopTheServer)
{
    ASSERT_TRUE(Listen());
    for (int i = 0; i < 20; ++i) {
        PeerSocket aborted = ConnectTo(L"127.0.0.1", port);
        ASSERT_TRUE(aborted.Valid());
        linger abort{1, 0};
        setsockopt(aborted.Get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof(abort));
    } // each closes with a reset, most before the server takes it
    PeerSocket normal = Join();
    ASSERT_TRUE(normal.Valid());
    // Resets taken from the backlog may be reported after it: it is one of them.
    const auto joined = [&] {
        const auto peers = PeersOf(Kind::ClientAdded);
        return std::find(peers.begin(), peers.end(), LocalEndpoint(normal)) != peers.end();
    };
    ASSERT_TRUE(window.WaitUntil([&](const EventWindow&) { return joined(); }, 5000))
        << testing::PrintToString(PeersOf(Kind::ClientAdded)) << " reported, not "
        << testing::PrintToString(LocalEndpoint(normal));
    EXPECT_FALSE(window.Has(Kind::Status, L"TCP server stopped"));
    for (const auto& e : window.Events())
        EXPECT_FALSE(e->kind == Kind::Error && e->linkEnded) << "ended by: " << testing::PrintToString(e->text);
    ASSERT_TRUE(server.QueueSendToAll({'k'}));
    EXPECT_EQ(normal.Receive(1, 5000), (std::vector<uint8_t>{'k'}));
}

TEST_F(TcpServer, ASecondServerOnTheSamePortIsRefused)
{
    ASSERT_TRUE(Listen());
    EventWindow secondWindow;
    TcpServerTransport second;
    ConnectionSettings s;
    s.isServer = 1;
    s.port = port;
    second.Start(secondWindow.Handle(), s);
    ASSERT_TRUE(secondWindow.WaitUntil([](const EventWindow& w) { return !w.Events().empty(); }, 5000));
    const TransportEvent& first = *secondWindow.Events()[0];
    second.Stop();
    if (first.kind == Kind::Status)
        GTEST_SKIP() << "this socket layer lets a second listener share the port";
    // Address in use, or (for a port held exclusively) permission denied.
    EXPECT_EQ(first.kind, Kind::Error);
    EXPECT_EQ(first.text.rfind(L"TCP server listen failed (WSA 100", 0), 0u) << testing::PrintToString(first.text);
    EXPECT_TRUE(first.linkEnded);
}

TEST_F(TcpServer, StartsRacingStopsNeverReportAFailure)
{
    port = ClosedLoopbackPort();
    ConnectionSettings s;
    s.isServer = 1;
    s.port = port;
    for (int i = 0; i < 100; ++i) {
        server.Start(window.Handle(), s);
        if (i % 2)
            Sleep(1);
        server.Stop();
    }
    window.PumpFor(100);
    EXPECT_EQ(window.Count(Kind::Error), 0u) << testing::PrintToString(window.Texts());
}

// The server listens on IPv6 and IPv4 at once: a client of ::1 and one of
// 127.0.0.1 are both served, each named as its own family writes it.
TEST_F(TcpServer, ClientsOfBothFamiliesAreServed)
{
    ASSERT_TRUE(Listen());
    PeerSocket v4 = ConnectTo(L"127.0.0.1", port);
    PeerSocket v6 = ConnectTo(L"::1", port);
    ASSERT_TRUE(v4.Valid());
    ASSERT_TRUE(v6.Valid());
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::ClientAdded) == 2; }, 5000));
    const std::vector<std::wstring> peers = PeersOf(Kind::ClientAdded);
    EXPECT_EQ(std::count_if(peers.begin(), peers.end(), [](const auto& p) { return p.rfind(L"127.0.0.1:", 0) == 0; }), 1)
        << peers[0] << L" " << peers[1];
    EXPECT_EQ(std::count_if(peers.begin(), peers.end(), [](const auto& p) { return p.rfind(L"::1:", 0) == 0; }), 1);
    EXPECT_EQ(server.Send(MakeOutgoing({'h', 'i'})), SendResult::Queued);
    for (PeerSocket* client : {&v4, &v6})
        EXPECT_EQ(client->Receive(2, 5000), (std::vector<uint8_t>{'h', 'i'}));
}
