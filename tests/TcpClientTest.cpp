#include "engine/TcpClientTransport.h"
#include "tests/EventWindow.h"
#include "tests/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

using Kind = TransportEventKind;

namespace {

ConnectionSettings ClientSettings(const std::wstring& ip, uint16_t port)
{
    ConnectionSettings s;
    s.ip = ip;
    s.port = port;
    return s;
}

std::vector<uint8_t> Bytes(const char* text)
{
    return std::vector<uint8_t>(text, text + strlen(text));
}

// Fills a listener that never accepts, so that one more connection attempt
// gets no answer at all (its SYN is dropped) and has to wait out the time-out.
std::vector<PeerSocket> FillBacklog(const Listener& listener)
{
    std::vector<PeerSocket> held;
    for (int i = 0; i < 16; ++i) {
        PeerSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        u_long nonBlocking = 1;
        ioctlsocket(s.Get(), FIONBIO, &nonBlocking);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(listener.Port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(s.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(s.Get(), &writable);
        timeval timeout{0, 300000};
        const bool answered = select(0, nullptr, &writable, nullptr, &timeout) > 0;
        held.push_back(std::move(s));
        if (!answered)
            break;
    }
    return held;
}

bool Connected(EventWindow& window)
{
    return window.WaitUntil(
        [](const EventWindow& w) {
            return w.Has(Kind::Status, L"TCP client connected") || w.Count(Kind::Error) > 0;
        },
        5000) &&
           window.Has(Kind::Status, L"TCP client connected");
}

} // namespace

// A client connected to a peer on 127.0.0.1, for the cases that start from
// an open link.
class TcpClientConnected : public testing::Test {
protected:
    bool Connect()
    {
        client.Start(window.Handle(), ClientSettings(L"127.0.0.1", listener.Port()));
        peer = listener.Accept(5000);
        return peer.Valid() && Connected(window);
    }
    void TearDown() override { client.Stop(); }

    Listener listener;
    EventWindow window;
    TcpClientTransport client;
    PeerSocket peer;
};

class TcpClientLoopback : public testing::TestWithParam<const wchar_t*> {};

TEST_P(TcpClientLoopback, ConnectsAndExchangesBytesBothWays)
{
    const std::wstring ip = GetParam();
    Listener listener(ip.c_str());
    ASSERT_TRUE(listener.Valid());
    EventWindow window;
    TcpClientTransport client;
    client.Start(window.Handle(), ClientSettings(ip, listener.Port()));
    PeerSocket peer = listener.Accept(5000);
    ASSERT_TRUE(peer.Valid());
    ASSERT_TRUE(Connected(window));

    const std::vector<uint8_t> incoming = {'h', 'i', 0x00, 0xC3, 0xA9, 0xFF};
    ASSERT_TRUE(peer.SendAll(incoming));
    ASSERT_TRUE(window.WaitUntil([&](const EventWindow& w) { return w.ReceivedBytes() == incoming; }, 5000));

    const auto& events = window.Events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0]->text, L"TCP client connecting...");
    EXPECT_EQ(events[1]->text, L"TCP client connected");
    EXPECT_EQ(events[2]->kind, Kind::Received);
    EXPECT_EQ(events[2]->peer, ip);

    const std::vector<uint8_t> outgoing = {0x00, 0x01, 0x7F, 0x80, 0xFE, 'o', 'k'};
    ASSERT_TRUE(client.QueueSend(outgoing));
    EXPECT_EQ(peer.Receive(outgoing.size(), 5000), outgoing);
    client.Stop();
    EXPECT_FALSE(client.HasWorker());
}

INSTANTIATE_TEST_SUITE_P(IPv4AndIPv6, TcpClientLoopback, testing::Values(L"127.0.0.1", L"::1"),
                         [](const testing::TestParamInfo<const wchar_t*>& info) {
                             return info.index == 0 ? std::string("IPv4") : std::string("IPv6");
                         });

TEST(TcpClient, RefusedPortReportsWsa10061AndNoDisconnect)
{
    EventWindow window;
    TcpClientTransport client;
    client.Start(window.Handle(), ClientSettings(L"127.0.0.1", ClosedLoopbackPort()));
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Error) > 0; }, 10000));
    window.PumpFor(200);
    EXPECT_EQ(window.Texts(),
              (std::vector<std::wstring>{L"TCP client connecting...", L"TCP connect failed (WSA 10061: connection refused)"}));
    EXPECT_FALSE(client.IsRunning());
    EXPECT_FALSE(client.QueueSend(Bytes("x")));
}

// With Reconnect, a lost or refused connection is tried again after 1, 2,
// 4 ... s: the link comes back and carries bytes again, nothing is queued
// while it is down, and a stop during a wait ends it at once.
TEST(TcpClient, ReconnectsWithGrowingWaitsUntilStopped)
{
    EventWindow window;
    auto listener = std::make_unique<Listener>();
    const uint16_t port = listener->Port();
    TcpClientTransport client;
    client.Start(window.Handle(), ClientSettings(L"127.0.0.1", port), LinkOptions{true});
    PeerSocket peer = listener->Accept(5000);
    ASSERT_TRUE(Connected(window));
    const auto count = [&](const std::wstring& text) {
        const std::vector<std::wstring> texts = window.Texts();
        return size_t(std::count(texts.begin(), texts.end(), text));
    };
    listener.reset(); // the device reboots: its port refuses for a while
    peer.Close();
    ASSERT_TRUE(window.WaitUntil([&](const EventWindow&) { return count(L"Reconnecting in 1 s\u2026") == 1; }, 5000));
    EXPECT_FALSE(client.QueueSend(Bytes("lost")));
    ASSERT_TRUE(window.WaitUntil([&](const EventWindow&) { return count(L"Reconnecting in 2 s\u2026") == 1; }, 5000));
    EXPECT_EQ(count(L"TCP connect failed (WSA 10061: connection refused)"), 1u);
    listener = std::make_unique<Listener>(L"127.0.0.1", SOMAXCONN, port);
    ASSERT_TRUE(listener->Valid());
    PeerSocket again = listener->Accept(8000);
    ASSERT_TRUE(again.Valid());
    ASSERT_TRUE(window.WaitUntil([&](const EventWindow&) { return count(L"TCP client connected") == 2; }, 5000));
    ASSERT_TRUE(client.QueueSend(Bytes("hi")));
    EXPECT_EQ(again.Receive(2, 5000), Bytes("hi"));
    for (const auto& e : window.Events())
        EXPECT_FALSE(e->linkEnded) << testing::PrintToString(e->text);

    again.Close(); // lost again: the waits start over at 1 s
    ASSERT_TRUE(window.WaitUntil([&](const EventWindow&) { return count(L"Reconnecting in 1 s\u2026") == 2; }, 5000));
    const ULONGLONG before = GetTickCount64();
    client.Stop();
    EXPECT_LT(GetTickCount64() - before, 900u);
    EXPECT_FALSE(client.HasWorker());
    window.PumpFor(100);
    ASSERT_FALSE(window.Events().empty());
    EXPECT_TRUE(window.Events().back()->linkEnded);
}

// Stopped while connecting, right after a refusal, while waiting, while
// trying again: each stop is prompt and leaves no thread.
TEST(TcpClient, StopInEveryReconnectStateLeavesNoThread)
{
    const uint16_t port = ClosedLoopbackPort();
    for (const DWORD after : {0u, 5u, 40u, 400u, 1005u, 1500u}) {
        EventWindow window;
        TcpClientTransport client;
        client.Start(window.Handle(), ClientSettings(L"127.0.0.1", port), LinkOptions{true});
        Sleep(after);
        const ULONGLONG before = GetTickCount64();
        client.Stop();
        EXPECT_LT(GetTickCount64() - before, 900u) << after;
        EXPECT_FALSE(client.HasWorker()) << after;
        EXPECT_FALSE(client.IsRunning()) << after;
    }
}

TEST(TcpClient, HostNameIsNotResolved)
{
    EventWindow window;
    TcpClientTransport client;
    client.Start(window.Handle(), ClientSettings(L"localhost", 5000));
    ASSERT_TRUE(window.WaitForText(Kind::Error, L"Invalid IP address.", 5000));
    window.PumpFor(100);
    EXPECT_EQ(window.Texts(), (std::vector<std::wstring>{L"TCP client connecting...", L"Invalid IP address."}));
    EXPECT_FALSE(client.IsRunning());
}

TEST(TcpClient, UnansweredConnectGivesUpAfterThreeSeconds)
{
    Listener listener(L"127.0.0.1", 0);
    ASSERT_TRUE(listener.Valid());
    const auto held = FillBacklog(listener);
    EventWindow window;
    TcpClientTransport client;
    const ULONGLONG started = GetTickCount64();
    client.Start(window.Handle(), ClientSettings(L"127.0.0.1", listener.Port()));
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Error) > 0; }, 10000));
    const ULONGLONG waited = GetTickCount64() - started;
    EXPECT_GE(waited, 2900u);
    EXPECT_LT(waited, 6000u);
    EXPECT_EQ(window.Texts().back().rfind(L"TCP connect failed (WSA ", 0), 0u);
    client.Stop();
}

TEST(TcpClient, StopDuringTheConnectWaitReturnsWithinItAndLeavesNoThread)
{
    Listener listener(L"127.0.0.1", 0);
    const auto held = FillBacklog(listener);
    EventWindow window;
    const size_t threadsBefore = CountProcessThreads();
    EXPECT_TRUE(LeavesNoHandles([&] {
        TcpClientTransport client;
        client.Start(window.Handle(), ClientSettings(L"127.0.0.1", listener.Port()));
        ASSERT_TRUE(window.WaitForText(Kind::Status, L"TCP client connecting...", 5000));
        window.PumpFor(300);
        const ULONGLONG stopping = GetTickCount64();
        client.Stop();
        EXPECT_LT(GetTickCount64() - stopping, 500u); // the wait ends with the stop, not with its time-out
        EXPECT_FALSE(client.HasWorker());
        EXPECT_FALSE(client.IsRunning());
        window.PumpFor(0);
        window.Clear();
    }));
    EXPECT_EQ(CountProcessThreads(), threadsBefore);
}

TEST_F(TcpClientConnected, LargeBurstArrivesInBufferSizedBlocksThenPeerCloses)
{
    ASSERT_TRUE(Connect());

    const size_t block = StreamReceiveBufferSize();
    const std::vector<uint8_t> burst = PatternBytes(3 * block + 100, 7);
    ASSERT_TRUE(peer.SendAll(burst));
    ASSERT_TRUE(window.WaitUntil([&](const EventWindow& w) { return w.ReceivedBytes().size() >= burst.size(); },
                                 10000));
    EXPECT_EQ(window.ReceivedBytes(), burst);
    EXPECT_GE(window.Count(Kind::Received), 4u);
    for (const auto& e : window.Events())
        if (e->kind == Kind::Received) {
            EXPECT_LE(e->data.size(), block);
            EXPECT_FALSE(e->data.empty());
        }

    // A close that comes with more bytes than one wake takes: the close is
    // reported once, and still seen after the last of them.
    window.Clear();
    const std::vector<uint8_t> last = PatternBytes(32 * block, 8);
    ASSERT_TRUE(peer.SendAll(last));
    peer.Close();
    ASSERT_TRUE(window.WaitForText(Kind::Status, L"TCP client disconnected (closed by the peer)", 5000));
    EXPECT_TRUE(window.ReceivedBytes() == last);
    EXPECT_FALSE(client.IsRunning());
    EXPECT_FALSE(client.QueueSend(Bytes("too late")));
}

TEST_F(TcpClientConnected, ManyQueuedPayloadsReachASlowReaderCompleteAndInOrder)
{
    ASSERT_TRUE(Connect());

    // Far more than the socket buffers hold, so sends are refused part-way
    // and must be resumed where they stopped.
    std::vector<uint8_t> expected;
    for (uint32_t i = 0; i < 1000; ++i) {
        const std::vector<uint8_t> payload = PatternBytes(8000 + i % 97, i);
        ASSERT_TRUE(client.QueueSend(payload));
        expected.insert(expected.end(), payload.begin(), payload.end());
    }
    Sleep(500); // let the writer run into the full buffer before reading
    const std::vector<uint8_t> received = peer.Receive(expected.size(), 15000);
    ASSERT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected);
    EXPECT_FALSE(peer.WaitClosed(100)); // nothing more, no duplicates
}

TEST_F(TcpClientConnected, AQueuedPayloadLeavesAtOnceAndStopIsPrompt)
{
    ASSERT_TRUE(Connect());
    // The worker sleeps until a payload is queued, so the byte does not wait
    // for a poll (which took 10 ms and more).
    const double median = MedianDeliveryMs([&](const std::vector<uint8_t>& p) { return client.QueueSend(p); },
                                           [&](size_t n, int ms) { return peer.Receive(n, ms); }, 15);
    EXPECT_GE(median, 0.0);
    // The faults this catches wait for a tick (100 ms) or a look (250 ms);
    // a busy machine now and then takes more than a few milliseconds.
    EXPECT_LT(median, 20.0);
    const ULONGLONG stopping = GetTickCount64();
    client.Stop();
    EXPECT_LT(GetTickCount64() - stopping, 500u);
    EXPECT_TRUE(peer.WaitClosed(2000));
}

// A payload handed over ahead of its time leaves at that time, not before
// and not a poll later; what is queued behind it waits its turn.
TEST_F(TcpClientConnected, APayloadDueLaterLeavesAtItsTime)
{
    ASSERT_TRUE(Connect());
    SendTag tag;
    tag.notBeforeUs = SteadyMicroseconds() + 80000;
    ASSERT_EQ(client.Send(MakeOutgoing(Bytes("due"), tag)), SendResult::Queued);
    ASSERT_TRUE(client.QueueSend(Bytes("then")));
    EXPECT_TRUE(peer.Receive(1, 40).empty());
    EXPECT_EQ(peer.Receive(7, 5000), Bytes("duethen"));
    const uint64_t arrived = SteadyMicroseconds();
    EXPECT_GE(arrived, tag.notBeforeUs);
    EXPECT_LT(arrived, tag.notBeforeUs + 30000);
}

TEST_F(TcpClientConnected, EmptyPayloadIsQueuedAndSendsNothing)
{
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(client.QueueSend({}));
    ASSERT_TRUE(client.QueueSend(Bytes("after")));
    EXPECT_EQ(peer.Receive(5, 5000), Bytes("after"));
}

TEST(TcpClient, RepeatedStartStopLeavesNoThreadOrSocketBehind)
{
    const size_t threadsBefore = CountProcessThreads();
    Listener listener;
    std::atomic<bool> accepting{true};
    std::vector<PeerSocket> accepted;
    std::thread acceptor([&] {
        while (accepting) {
            PeerSocket s = listener.Accept(50);
            if (s.Valid())
                accepted.push_back(std::move(s));
        }
        for (PeerSocket s = listener.Accept(300); s.Valid(); s = listener.Accept(300))
            accepted.push_back(std::move(s));
    });

    EventWindow window;
    TcpClientTransport client;
    for (int cycle = 0; cycle < 300; ++cycle) {
        client.Start(window.Handle(), ClientSettings(L"127.0.0.1", listener.Port()));
        if (cycle % 3 == 0) // some stops while connected, others while connecting
            window.WaitForText(Kind::Status, L"TCP client connected", 2000);
        client.Stop();
        EXPECT_FALSE(client.HasWorker());
        window.PumpFor(0);
        window.Clear();
    }
    accepting = false;
    acceptor.join();

    EXPECT_EQ(CountProcessThreads(), threadsBefore);
    EXPECT_GE(accepted.size(), 100u);
    size_t stillOpen = 0;
    for (PeerSocket& s : accepted)
        stillOpen += s.WaitClosed(2000) ? 0 : 1;
    EXPECT_EQ(stillOpen, 0u);
}

namespace {

std::atomic<int> g_postCalls{0};

// Refuses two posts out of three, like a queue that is full most of the time.
BOOL WINAPI MostlyFullQueue(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (++g_postCalls % 3 != 0)
        return FALSE;
    return PostMessageW(wnd, msg, wp, lp);
}

BOOL WINAPI AlwaysFullQueue(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

struct PostReplacement {
    explicit PostReplacement(PostMessageFunction post) { SetPostMessageFunction(post); }
    ~PostReplacement() { SetPostMessageFunction(nullptr); }
};

} // namespace

TEST_F(TcpClientConnected, FullMessageQueueSlowsReceivingButLosesNothing)
{
    ASSERT_TRUE(Connect());

    PostReplacement full(&MostlyFullQueue);
    const std::vector<uint8_t> flood = PatternBytes(256 * 1024, 3);
    std::thread sender([&] { peer.SendAll(flood); });
    const bool all = window.WaitUntil(
        [&](const EventWindow& w) { return w.ReceivedBytes().size() >= flood.size(); }, 30000);
    sender.join();
    ASSERT_TRUE(all);
    EXPECT_TRUE(window.ReceivedBytes() == flood);
}

TEST_F(TcpClientConnected, StopIsNotHeldUpByAQueueThatNeverDrains)
{
    ASSERT_TRUE(Connect());

    PostReplacement full(&AlwaysFullQueue);
    ASSERT_TRUE(peer.SendAll(Bytes("stuck")));
    Sleep(200); // the worker is now retrying its post
    const ULONGLONG stopping = GetTickCount64();
    client.Stop();
    EXPECT_LT(GetTickCount64() - stopping, 1000u);
    EXPECT_FALSE(client.HasWorker());
}

namespace {

std::thread NoThreads(std::function<void()>)
{
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

} // namespace

TEST(TcpClient, WorkerThatCannotStartIsReportedAndLeavesItStopped)
{
    EventWindow window;
    TcpClientTransport client;
    SetWorkerLauncher(&NoThreads);
    client.Start(window.Handle(), ClientSettings(L"127.0.0.1", 5000));
    SetWorkerLauncher(nullptr);
    EXPECT_FALSE(client.IsRunning());
    EXPECT_FALSE(client.HasWorker());
    EXPECT_FALSE(client.QueueSend(Bytes("x")));
    ASSERT_TRUE(window.WaitForText(Kind::Error, kWorkerStartFailedText, 2000));
}

TEST(TcpClient, StopIsSafeWhenNeverStartedAndTwice)
{
    TcpClientTransport client;
    client.Stop();
    client.Stop();
    EXPECT_FALSE(client.IsRunning());
    EXPECT_FALSE(client.QueueSend(Bytes("x")));
}
