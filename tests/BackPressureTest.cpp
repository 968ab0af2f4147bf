#include "engine/TcpClientTransport.h"
#include "engine/TcpServerTransport.h"
#include "engine/UdpTransport.h"
#include "tests/EventWindow.h"
#include "tests/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>

namespace {

using Kind = TransportEventKind;
using Bytes = std::vector<uint8_t>;

constexpr size_t kBudget = 64 * 1024;

// Small budgets and queues, so that a test reaches them in a blink.
class Bounded : public testing::Test {
protected:
    void SetUp() override
    {
        SetPostBudgetBytes(kBudget);
        SetSendQueueCap(256 * 1024);
    }
    void TearDown() override
    {
        SetPostBudgetBytes(0);
        SetSendQueueCap(0);
    }

    static Bytes Pattern(size_t size)
    {
        Bytes bytes(size);
        for (size_t i = 0; i < size; ++i)
            bytes[i] = uint8_t(i * 31 + i / 251);
        return bytes;
    }
    static uint64_t SentBytes(const EventWindow& window)
    {
        uint64_t sent = 0;
        for (const auto& e : window.Events())
            if (e->kind == Kind::Sent)
                sent += e->data.size();
        return sent;
    }
    static uint64_t LostBytes(const EventWindow& window)
    {
        uint64_t lost = 0;
        for (const auto& e : window.Events())
            lost += e->lostBytes;
        return lost;
    }

    EventWindow window;
};

} // namespace

// While the window takes nothing, the worker stops reading once its budget
// is spent, and the peer is held back by TCP itself; once the window
// catches up every byte arrives, in order.
TEST_F(Bounded, AStreamStopsReadingPastItsBudgetAndLosesNothing)
{
    Listener listener;
    TcpClientTransport client;
    client.Start(window.Handle(), LoopbackClientSettings(listener.Port()));
    PeerSocket peer = listener.Accept(5000);
    ASSERT_TRUE(peer.Valid());
    ASSERT_TRUE(window.WaitForText(Kind::Status, L"TCP client connected", 5000));

    const Bytes flood = Pattern(8 << 20);
    std::atomic<bool> written{false};
    std::thread writer([&] {
        peer.SendAll(flood);
        written = true;
    });
    Sleep(500); // no pumping: events wait in the queue, holding the budget
    const int64_t held = client.Budget()->Used();
    EXPECT_GT(held, 0);
    EXPECT_LE(held, int64_t(kBudget + StreamReceiveBufferSize() + kEventCost));
    EXPECT_FALSE(written.load()) << "the peer was never held back";

    ASSERT_TRUE(window.WaitUntil([&](const EventWindow& w) { return w.ReceivedBytes().size() >= flood.size(); },
                                 30000));
    writer.join();
    EXPECT_TRUE(window.ReceivedBytes() == flood);
    client.Stop();
}

// Datagrams have no flow control: past the budget they are dropped and
// counted, and what the window was given plus what was dropped is all that
// came.
TEST_F(Bounded, ADatagramLinkDropsAndCountsPastItsBudget)
{
    UdpTransport udp;
    ConnectionSettings s;
    s.isUdp = 1;
    s.isServer = 1;
    s.port = ClosedLoopbackPort();
    udp.Start(window.Handle(), s);
    ASSERT_TRUE(window.WaitForText(Kind::Status, L"UDP listener started", 5000));
    const uint64_t droppedBefore = BackloggedDatagramBytes();
    UdpPeer sender;
    const Bytes datagram = Pattern(1000);
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(sender.SendTo(s.port, datagram));
        if (i % 50 == 49)
            Sleep(20); // the socket's own buffer must not be what drops them
    }
    Sleep(300);
    window.PumpFor(200);
    const uint64_t dropped = BackloggedDatagramBytes() - droppedBefore;
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(window.ReceivedBytes().size() + dropped, 300u * datagram.size());
    udp.Stop();
}

// A client that never reads fills its session's queue to the cap; a send
// past it is refused as backed up, and the queue never grows beyond it.
TEST_F(Bounded, ASendPastTheQueueCapIsRefusedAsBackedUp)
{
    TcpServerTransport server;
    ConnectionSettings s;
    s.isServer = 1;
    s.port = ClosedLoopbackPort();
    server.Start(window.Handle(), s);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return !w.Events().empty(); }, 5000));
    PeerSocket stuck = ConnectTo(L"127.0.0.1", s.port);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::ClientAdded) == 1; }, 5000));
    const uint32_t id = window.Events().back()->clientId;

    const Bytes block = Pattern(64 * 1024);
    SendResult result = SendResult::Queued;
    int queued = 0;
    for (int i = 0; i < 2000 && result == SendResult::Queued; ++i) {
        result = server.SendTo(id, L"", MakeOutgoing(block));
        queued += result == SendResult::Queued;
        if (i % 64 == 0)
            Sleep(10); // the socket's buffers fill first
    }
    EXPECT_EQ(result, SendResult::BackedUp);
    EXPECT_LE(server.QueuedBytes(), SendQueueCap());
    server.Stop();
    window.PumpFor(100);
    // Stopped with bytes queued: they are said to be dropped, never sent.
    EXPECT_EQ(SentBytes(window) + LostBytes(window), uint64_t(queued) * block.size());
}

// A link that ends with payloads waiting says how many bytes never left;
// they are never reported as sent. A client whose connect fails drops
// what waited for it.
TEST_F(Bounded, PayloadsDroppedAtALinksEndAreNeverSaidToBeSent)
{
    Listener listener;
    TcpClientTransport client;
    client.Start(window.Handle(), LoopbackClientSettings(listener.Port()));
    PeerSocket peer = listener.Accept(5000); // never reads
    ASSERT_TRUE(window.WaitForText(Kind::Status, L"TCP client connected", 5000));
    const Bytes block = Pattern(128 * 1024);
    int queued = 0;
    SendResult result = SendResult::Queued;
    // Until the queue stays full: the system's buffers take megabytes first.
    for (int i = 0, full = 0; i < 4000 && full < 3; ++i) {
        result = client.Send(MakeOutgoing(block));
        queued += result == SendResult::Queued;
        full = result == SendResult::BackedUp ? full + 1 : 0;
        if (result == SendResult::BackedUp)
            Sleep(50);
    }
    ASSERT_EQ(result, SendResult::BackedUp);
    client.Stop();
    window.PumpFor(100);
    EXPECT_GT(LostBytes(window), 0u);
    EXPECT_EQ(SentBytes(window) + LostBytes(window), uint64_t(queued) * block.size());
    EXPECT_TRUE(window.Has(Kind::Error, std::to_wstring(LostBytes(window)) +
                                            L" queued bytes were not sent: the link closed."));

    window.Clear();
    TcpClientTransport refused;
    refused.Start(window.Handle(), LoopbackClientSettings(ClosedLoopbackPort()));
    ASSERT_EQ(refused.Send(MakeOutgoing({'w', 'a', 'i', 't'})), SendResult::Queued); // waits for the connect
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Error) >= 2; }, 10000));
    EXPECT_TRUE(window.Has(Kind::Error, L"4 queued bytes were not sent: the connection failed."));
    EXPECT_EQ(window.Count(Kind::Sent), 0u);
}

// Past its cap the server turns a connection away at once and says how
// many it turned away, a line a second at most; the clients it has go on.
TEST_F(Bounded, AServerPastItsCapTurnsClientsAway)
{
    TcpServerTransport server;
    ConnectionSettings s;
    s.isServer = 1;
    s.port = ClosedLoopbackPort();
    LinkOptions options;
    options.maxClients = 2;
    server.Start(window.Handle(), s, options);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return !w.Events().empty(); }, 5000));
    std::vector<PeerSocket> clients;
    for (int i = 0; i < 2; ++i) {
        clients.push_back(ConnectTo(L"127.0.0.1", s.port));
        ASSERT_TRUE(window.WaitUntil([&](const EventWindow& w) { return w.Count(Kind::ClientAdded) == size_t(i + 1); },
                                     5000));
    }
    for (int i = 0; i < 5; ++i)
        clients.push_back(ConnectTo(L"127.0.0.1", s.port));
    const auto turnedAway = [](const EventWindow& w) {
        int count = 0;
        for (const auto& e : w.Events())
            if (e->kind == Kind::Error && e->text.find(L" turned away: the server serves 2 at most.") != std::wstring::npos)
                count += std::stoi(e->text);
        return count;
    };
    ASSERT_TRUE(window.WaitUntil([&](const EventWindow& w) { return turnedAway(w) == 5; }, 5000));
    EXPECT_LE(window.Count(Kind::Error), 2u);
    EXPECT_EQ(window.Count(Kind::ClientAdded), 2u);
    EXPECT_TRUE(clients[2].WaitClosed(2000));
    ASSERT_TRUE(server.QueueSendToAll({'k'}));
    EXPECT_EQ(clients[0].Receive(1, 5000), Bytes{'k'});
    server.Stop();
}

// A payload for every client is one, in each client's queue: it counts as
// lost once, by the last queue that lets it go, and not at all once one of
// them has written it.
TEST(SendQueue, APayloadSharedByQueuesIsLostOnceAndNotAfterItLeft)
{
    SendQueue a, b, c;
    for (SendQueue* q : {&a, &b, &c})
        q->Open();
    const OutgoingPtr shared = MakeOutgoing(Bytes(100, 'x'));
    for (SendQueue* q : {&a, &b, &c})
        ASSERT_EQ(q->Push(shared), SendResult::Queued);
    EXPECT_EQ(a.Close(), 0u);
    EXPECT_EQ(b.Close(), 0u);
    EXPECT_EQ(c.Close(), 100u);
    EXPECT_EQ(c.Push(MakeOutgoing({'y'})), SendResult::Refused);

    SendQueue d, e;
    d.Open();
    e.Open();
    const OutgoingPtr left = MakeOutgoing(Bytes(50, 'z'));
    d.Push(left);
    e.Push(left);
    ASSERT_EQ(d.Pop(), left);
    left->said = true; // d's writer wrote it
    left->LetGo();
    EXPECT_EQ(e.Close(), 0u);

    // A payload taken back before it left is passed over, not sent.
    SendQueue w;
    w.Open();
    auto back = std::make_shared<std::atomic<bool>>(false);
    SendTag later;
    later.notBeforeUs = SteadyMicroseconds() + 60'000'000;
    later.withdrawn = back;
    w.Push(MakeOutgoing(Bytes(10, 'w'), later));
    const OutgoingPtr next = MakeOutgoing(Bytes(3, 'n'));
    w.Push(next);
    EXPECT_EQ(w.Pop(), nullptr); // not yet due, and what is behind it waits
    EXPECT_GT(w.WaitMs(INFINITE), 1000u);
    *back = true;
    EXPECT_EQ(w.WaitMs(INFINITE), 0u);
    EXPECT_EQ(w.Pop(), next);
    EXPECT_EQ(w.Bytes(), 0u);

    // Past the cap a push is refused, except into an empty queue.
    SetSendQueueCap(64);
    SendQueue f;
    f.Open();
    EXPECT_EQ(f.Push(MakeOutgoing(Bytes(100, 'b'))), SendResult::Queued);
    EXPECT_EQ(f.Push(MakeOutgoing(Bytes(1, 'c'))), SendResult::BackedUp);
    EXPECT_EQ(f.Bytes(), 100u);
    SetSendQueueCap(0);
}
