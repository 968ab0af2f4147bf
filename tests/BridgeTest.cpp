// Two real links joined by a bridge on loopback peers and the virtual
// serial port, driven as the window drives them: each event goes through
// the bridge before it is kept.
#include "bridge/Bridge.h"
#include "capture/PcapngExport.h"
#include "engine/ConnectionController.h"
#include "res/resource.h"
#include "session/TrafficCore.h"
#include "settings/ConnectionStore.h"
#include "tests/DialogPump.h"
#include "tests/EventWindow.h"
#include "tests/LoopbackPeer.h"
#include "tests/SerialPeer.h"
#include "ui/MainDlg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <filesystem>
#include <thread>

using Kind = TransportEventKind;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t kBudget = 256 * 1024;

ConnectionSettings ServerOn(uint16_t port)
{
    ConnectionSettings s;
    s.isServer = 1;
    s.port = port;
    return s;
}


// The window's part: the links' events through the bridge, then into the
// traffic core, what the bridge dropped counted and said there, and a bridge
// that ends stopped.
class BridgeTest : public testing::Test {
protected:
    void SetUp() override
    {
        // Small, so that a few MB must be held back to arrive whole.
        SetPostBudgetBytes(kBudget);
        SetSendQueueCap(kBudget);
        controller.SetNotifyWindow(window.Handle());
        window.SetHandler([this](TransportEvent& event) { Take(event); });
    }
    void TearDown() override
    {
        controller.StopAll();
        SetPostBudgetBytes(0);
        SetSendQueueCap(0);
    }

    void Start(const ConnectionSettings& a, const ConnectionSettings& b, LinkOptions optionsA = {},
               LinkOptions optionsB = {})
    {
        bridge = std::make_unique<Bridge>(
            [this](uint8_t side, OutgoingPtr payload) { return controller.SendOn(side, std::move(payload)); },
            Reconnects(LinkKindFor(a), optionsA.reconnect), Reconnects(LinkKindFor(b), optionsB.reconnect));
        core.NewSession(SessionFor(LinkKindFor(a), a), {}, false, 0);
        controller.Start(a, optionsA);
        core.NewSession(SessionFor(LinkKindFor(b), b), {}, false, 1);
        controller.StartSecond(b, optionsB);
    }

    void Take(TransportEvent& event)
    {
        const uint8_t side = event.side;
        const BridgeAction action = bridge->Take(event, choice, controller.IsRunningOn(side ^ 1));
        actions.push_back(action);
        core.CountUnbridged(bridge->TakeDropped());
        for (std::wstring& news : bridge->TakeNews())
            core.Append(Kind::Status, std::move(news));
        TransportEvent copy = event; // the window keeps its own
        core.Append(std::move(copy), true);
        if (action == BridgeAction::StopBoth)
            controller.StopAll();
    }

    // Pumps, and lets the bridge try what it holds, as the window's tick does.
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
    {
        return window.WaitUntil(
            [&](const EventWindow&) {
                bridge->Pump();
                return done();
            },
            timeoutMs);
    }

    // A client of the server on `port`, once it listens.
    PeerSocket ClientOf(uint16_t port)
    {
        PeerSocket client;
        for (int i = 0; i < 50 && !client.Valid(); ++i) {
            client = ConnectTo(L"127.0.0.1", port);
            if (!client.Valid())
                PumpUntil([] { return false; }, 20);
        }
        return client;
    }

    EventWindow window;
    ConnectionController controller;
    TrafficCore core;
    std::unique_ptr<Bridge> bridge;
    BridgeEnd choice = BridgeEnd::StopBoth;
    std::vector<BridgeAction> actions;
};

// The bridge's own peers: a client of its TCP server (side A), and the
// server its TCP client (side B) connects to.
struct Proxy {
    Listener server;
    uint16_t port = ClosedLoopbackPort();
    PeerSocket client, upstream;
};

} // namespace

// Both ways through a TCP proxy, byte for byte, and a far end that reads
// nothing for a while: the client's bytes wait in its own link's flow
// control, within the bridge's bounds, and none is lost.
TEST_F(BridgeTest, ProxyCarriesBothWaysAndASlowSideHoldsTheOtherBack)
{
    Proxy proxy;
    ASSERT_TRUE(proxy.server.Valid());
    Start(ServerOn(proxy.port), LoopbackClientSettings(proxy.server.Port()));
    proxy.client = ClientOf(proxy.port);
    proxy.upstream = proxy.server.Accept(5000);
    ASSERT_TRUE(proxy.client.Valid() && proxy.upstream.Valid());

    const size_t total = 24u << 20;
    const Bytes flood = PatternBytes(total, 7);
    std::atomic<bool> sent{false};
    std::thread sender([&] { sent = proxy.client.SendAll(flood); });
    size_t mostHeld = 0;
    PumpUntil([&] {
        mostHeld = std::max(mostHeld, bridge->HeldFor(1) + controller.QueuedBytesOn(1));
        return false;
    }, 1500);
    EXPECT_FALSE(sent.load()) << "the stalled far end should hold the client back";
    // What the bridge holds is what one budget's events brought, and the
    // second link's queue; the rest waits in the sockets.
    EXPECT_LE(mostHeld, kBudget + kBudget + (64u << 10));

    Bytes got;
    std::thread reader([&] { got = proxy.upstream.Receive(total, 30000); });
    PumpUntil([&] { return core.CountsOf(1).tx >= total && sent.load(); }, 30000);
    reader.join();
    sender.join();
    ASSERT_TRUE(sent.load());
    EXPECT_EQ(got.size(), total);
    EXPECT_TRUE(got == flood) << "bytes differ";

    const Bytes answer = PatternBytes(1u << 20, 9);
    std::thread back([&] { proxy.upstream.SendAll(answer); });
    Bytes returned;
    std::thread readBack([&] { returned = proxy.client.Receive(answer.size(), 20000); });
    PumpUntil([&] { return core.CountsOf(0).tx >= answer.size(); }, 20000);
    back.join();
    readBack.join();
    EXPECT_TRUE(returned == answer) << returned.size();
    EXPECT_EQ(core.CountsOf(0).rx, total);
    EXPECT_EQ(core.CountsOf(1).tx, total);
    EXPECT_EQ(core.CountsOf(1).rx, answer.size());
    EXPECT_EQ(LostText(core.State()), L"");
}

// A server side gives every client all of it: one that reads late holds
// the bridge back instead of missing what the others got.
TEST_F(BridgeTest, EveryClientOfAServerSideGetsAllOfItEvenOneThatReadsLate)
{
    Listener upstream;
    const uint16_t port = ClosedLoopbackPort();
    Start(LoopbackClientSettings(upstream.Port()), ServerOn(port));
    PeerSocket source = upstream.Accept(5000);
    PeerSocket quick = ClientOf(port), late = ClientOf(port);
    ASSERT_TRUE(source.Valid() && quick.Valid() && late.Valid());
    ASSERT_TRUE(PumpUntil([&] { return window.Count(Kind::ClientAdded) == 2; }, 5000));

    const size_t total = 8u << 20;
    const Bytes flood = PatternBytes(total, 5);
    std::atomic<bool> sent{false};
    std::thread sender([&] { sent = source.SendAll(flood); });
    Bytes atQuick, atLate;
    std::thread quickReader([&] { atQuick = quick.Receive(total, 30000); });
    PumpUntil([] { return false; }, 1000); // the late one reads nothing yet
    std::thread lateReader([&] { atLate = late.Receive(total, 30000); });
    PumpUntil([&] { return sent.load() && core.CountsOf(1).tx >= total; }, 30000);
    sender.join();
    quickReader.join();
    lateReader.join();
    EXPECT_TRUE(atQuick == flood) << atQuick.size();
    EXPECT_TRUE(atLate == flood) << atLate.size();
    EXPECT_EQ(LostText(core.State()), L"");
}

// A device on the serial port served on a TCP port, both ways at once.
TEST_F(BridgeTest, SerialServedOnATcpPortBothWaysAtOnce)
{
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while ((PathExists(kSerialDir + L"/vanish") || !SerialPeer().Valid()) && GetTickCount64() < deadline)
        Sleep(20);
    SerialPeer().Read(SIZE_MAX, 100);
    ConnectionSettings serial;
    serial.useSerial = 1;
    serial.serialPort = FERROLINK_TEST_COM_PORT;
    LinkOptions raw;
    raw.serialCutsLines = false;
    const uint16_t port = ClosedLoopbackPort();
    Start(serial, ServerOn(port), raw);
    PeerSocket client = ClientOf(port);
    ASSERT_TRUE(client.Valid());
    ASSERT_TRUE(PumpUntil([&] { return window.Count(Kind::ClientAdded) == 1; }, 5000));

    const size_t each = 256u << 10;
    const Bytes fromDevice = PatternBytes(each, 3), fromNetwork = PatternBytes(each, 4);
    SerialPeer device;
    ASSERT_TRUE(device.Valid());
    Bytes atDevice, atClient;
    std::thread deviceSide([&] {
        std::thread reader([&] { atDevice = device.Read(each, 20000); });
        device.Write(fromDevice);
        reader.join();
    });
    std::thread networkSide([&] {
        std::thread reader([&] { atClient = client.Receive(each, 20000); });
        client.SendAll(fromNetwork);
        reader.join();
    });
    PumpUntil([&] { return core.CountsOf(0).tx >= each && core.CountsOf(1).tx >= each; }, 20000);
    deviceSide.join();
    networkSide.join();
    EXPECT_TRUE(atDevice == fromNetwork) << atDevice.size();
    EXPECT_TRUE(atClient == fromDevice) << atClient.size();
    EXPECT_EQ(LostText(core.State()), L"");
}

// When the far server goes: by default both links stop; kept open, the
// client's side stays, and what it sends then is counted as lost.
TEST_F(BridgeTest, ASideThatEndsStopsBothOrLeavesTheOtherOpen)
{
    for (BridgeEnd how : {BridgeEnd::StopBoth, BridgeEnd::KeepOther}) {
        SCOPED_TRACE(int(how));
        choice = how;
        window.Clear();
        actions.clear();
        Proxy proxy;
        Start(ServerOn(proxy.port), LoopbackClientSettings(proxy.server.Port()));
        proxy.client = ClientOf(proxy.port);
    proxy.upstream = proxy.server.Accept(5000);
    ASSERT_TRUE(proxy.client.Valid() && proxy.upstream.Valid());
        proxy.upstream.Close();
        ASSERT_TRUE(PumpUntil([&] { return !controller.IsRunningOn(1); }, 5000));
        PumpUntil([] { return false; }, 100);
        if (how == BridgeEnd::StopBoth) {
            EXPECT_FALSE(controller.IsRunningOn(0));
            EXPECT_TRUE(proxy.client.WaitClosed(5000));
            continue;
        }
        EXPECT_TRUE(controller.IsRunningOn(0));
        EXPECT_NE(std::find(actions.begin(), actions.end(), BridgeAction::KeepOther), actions.end());
        ASSERT_TRUE(proxy.client.SendAll({'l', 'o', 's', 't'}));
        ASSERT_TRUE(PumpUntil([&] { return core.State().m_unbridgedBytes == 4; }, 5000));
        EXPECT_EQ(LostText(core.State()), L"Lost: 4");
        controller.StopAll();
    }
}

// A bridged session's capture: the two links are two TCP streams of one
// file, each holding the conversation as its link carried it, in order.
TEST_F(BridgeTest, CaptureHoldsBothSidesAsStreamsOfOneSession)
{
    Proxy proxy;
    Start(ServerOn(proxy.port), LoopbackClientSettings(proxy.server.Port()));
    proxy.client = ClientOf(proxy.port);
    proxy.upstream = proxy.server.Accept(5000);
    ASSERT_TRUE(proxy.client.Valid() && proxy.upstream.Valid());
    Bytes requests, answers;
    for (int i = 1; i <= 3; ++i) {
        const std::string request = "GET " + std::to_string(i) + "\r\n", answer = "OK " + std::to_string(i) + "\r\n";
        ASSERT_TRUE(proxy.client.SendAll(Bytes(request.begin(), request.end())));
        Bytes at;
        std::thread reader([&] { at = proxy.upstream.Receive(request.size(), 5000); });
        PumpUntil([&] { return core.CountsOf(1).tx >= requests.size() + request.size(); }, 5000);
        reader.join();
        ASSERT_EQ(at, Bytes(request.begin(), request.end()));
        ASSERT_TRUE(proxy.upstream.SendAll(Bytes(answer.begin(), answer.end())));
        std::thread readBack([&] { at = proxy.client.Receive(answer.size(), 5000); });
        PumpUntil([&] { return core.CountsOf(0).tx >= answers.size() + answer.size(); }, 5000);
        readBack.join();
        ASSERT_EQ(at, Bytes(answer.begin(), answer.end()));
        requests.insert(requests.end(), request.begin(), request.end());
        answers.insert(answers.end(), answer.begin(), answer.end());
    }
    controller.StopAll();
    window.PumpFor(50);

    // Each request is received on A before it is sent on B, and each answer
    // received on B before it is sent on A, with times that never go back.
    const Journal& journal = core.Traffic();
    std::string order;
    uint64_t last = 0;
    for (size_t i = 0; i < journal.RecordCount(); ++i) {
        const JournalRecord r = journal.Record(i);
        if (r.event != JournalEvent::Data)
            continue;
        const bool sideB = journal.Session(r.session)->link == JournalSession::Link::TcpClient;
        order += std::string(r.direction == TrafficDirection::Received ? "r" : "s") + (sideB ? "B " : "A ");
        EXPECT_GE(r.timeUs, last);
        last = r.timeUs;
    }
    EXPECT_EQ(order, "rA sB rB sA rA sB rB sA rA sB rB sA ");

#ifdef FERROLINK_TEST_CAPTURE_DIR
    // For tests/check-pcapng.sh: tshark follows both streams.
    const std::wstring dir(FERROLINK_TEST_CAPTURE_DIR);
    ASSERT_TRUE(WritePcapng(dir + L"\\bridge.pcapng", journal));
    const auto hex = [](const Bytes& bytes) {
        std::string out;
        for (uint8_t b : bytes) {
            out += "0123456789abcdef"[b >> 4];
            out += "0123456789abcdef"[b & 15];
        }
        return out;
    };
    // A's stream: its client sent the requests; B's: the bridge did.
    std::ofstream(std::filesystem::path(dir + L"\\bridge.expect"), std::ios::binary)
        << "0 " << hex(requests) << ' ' << hex(answers) << '\n'
        << "1 " << hex(requests) << ' ' << hex(answers) << '\n';
#endif
}

TEST(BridgeRules, WhatASideThatEndsOrIsLostDoes)
{
    using A = BridgeAction;
    EXPECT_EQ(BridgeActionFor(BridgeEnd::StopBoth, false, false, true), A::None);
    EXPECT_EQ(BridgeActionFor(BridgeEnd::StopBoth, false, true, true), A::StopBoth); // lost, even to reconnect
    EXPECT_EQ(BridgeActionFor(BridgeEnd::StopBoth, true, false, true), A::StopBoth);
    EXPECT_EQ(BridgeActionFor(BridgeEnd::KeepOther, false, true, true), A::None); // it reconnects by itself
    EXPECT_EQ(BridgeActionFor(BridgeEnd::KeepOther, true, false, true), A::KeepOther);
    EXPECT_EQ(BridgeActionFor(BridgeEnd::KeepOther, true, false, false), A::StopBoth); // nothing is left
}

// What waits for a side that is away goes, in order, once it is back; a
// side with nobody to take it drops and says so once, and again when it
// takes bytes again.
TEST(BridgeRules, HeldBytesGoInOrderAndDropsAreSaidOnce)
{
    std::vector<std::pair<uint8_t, Bytes>> forwarded;
    SendResult answer = SendResult::Refused;
    Bridge bridge(
        [&](uint8_t side, OutgoingPtr payload) {
            if (answer == SendResult::Queued)
                forwarded.push_back({side, payload->bytes});
            return answer;
        },
        false, true);
    bridge.Received(0, {1, 2}, {}); // for B, which reconnects: held
    bridge.Received(0, {3}, {});
    EXPECT_EQ(bridge.HeldFor(1), 3u);
    answer = SendResult::BackedUp;
    bridge.Pump();
    EXPECT_EQ(bridge.HeldFor(1), 3u);
    answer = SendResult::Queued;
    bridge.Pump();
    EXPECT_EQ(forwarded, (std::vector<std::pair<uint8_t, Bytes>>{{1, {1, 2}}, {1, {3}}}));
    EXPECT_TRUE(bridge.TakeNews().empty());

    answer = SendResult::Refused; // A has no peer: B's bytes are dropped
    bridge.Received(1, {4, 5}, {});
    bridge.Received(1, {6}, {});
    EXPECT_EQ(bridge.HeldFor(0), 0u);
    EXPECT_EQ(bridge.DroppedFrom(1), 3u);
    EXPECT_EQ(bridge.TakeDropped(), 3u);
    EXPECT_EQ(bridge.TakeNews().size(), 1u);
    answer = SendResult::Queued;
    bridge.Received(1, {7}, {});
    const auto news = bridge.TakeNews();
    ASSERT_EQ(news.size(), 1u);
    EXPECT_NE(news[0].find(L"3 bytes from B"), std::wstring::npos) << news[0];

    answer = SendResult::Refused;
    bridge.Received(0, {8}, {});
    bridge.Ended(1); // what waited for B goes with it, and all that comes after
    bridge.Received(0, {9}, {});
    EXPECT_EQ(bridge.HeldFor(1), 0u);
    EXPECT_EQ(bridge.DroppedFrom(0), 2u);
}

// Through the window: a TCP server (A) joined to a TCP client (B) of an
// upstream server; each side's lines are marked, each side counted, and
// when the upstream goes the bridge stops as a whole.
TEST(BridgeWindow, AProxyThroughTheWindowMarksItsSidesAndStopsAsAWhole)
{
    Listener upstream;
    BridgeSettings bridge;
    bridge.on = true;
    bridge.second = LoopbackClientSettings(upstream.Port());
    SaveBridgeSettings(bridge);
    struct Unbridge {
        ~Unbridge() { SaveBridgeSettings({}); } // the tests after this one have no bridge
    } unbridge;
    CMainDlg dialog;
    ASSERT_TRUE(dialog.Create());
    const auto command = [&](int id, int code) {
        SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(id, code),
                     reinterpret_cast<LPARAM>(dialog.Item(id).Handle()));
    };
    const auto log = [&] {
        SendMessageW(dialog.Handle(), WM_TIMER, 2, 0);
        return dialog.Item(IDC_LOG_EDIT).Text();
    };
    const auto logHas = [&](const std::wstring& part) { return log().find(part) != std::wstring::npos; };
    dialog.Item(IDC_MODE_COMBO).Select(1);
    command(IDC_MODE_COMBO, CBN_SELCHANGE);
    const uint16_t port = ClosedLoopbackPort();
    dialog.Item(IDC_PORT_EDIT).SetText(std::to_wstring(port));
    command(IDC_CONNECT, BN_CLICKED);
    PeerSocket server = upstream.Accept(5000);
    ASSERT_TRUE(server.Valid());
    PeerSocket client;
    for (int i = 0; i < 50 && !client.Valid(); ++i) {
        client = ConnectTo(L"127.0.0.1", port);
        if (!client.Valid())
            PumpDialogUntil(dialog, [] { return false; }, 20);
    }
    ASSERT_TRUE(client.Valid());

    // The window hands on what comes: it must run while the peers wait.
    Bytes there;
    std::thread upstreamReader([&] { there = server.Receive(4, 5000); });
    ASSERT_TRUE(client.SendAll({'p', 'i', 'n', 'g'}));
    PumpDialogUntil(dialog, [&] { return dialog.LogSide().Core().CountsOf(1).tx >= 4; }, 5000);
    upstreamReader.join();
    EXPECT_EQ(there, (Bytes{'p', 'i', 'n', 'g'}));
    ASSERT_TRUE(server.SendAll({'p', 'o', 'n', 'g', '!'}));
    Bytes back;
    std::thread reader([&] { back = client.Receive(5, 5000); });
    PumpDialogUntil(dialog, [&] { return dialog.LogSide().Core().CountsOf(0).tx >= 5; }, 5000);
    reader.join();
    EXPECT_EQ(back, (Bytes{'p', 'o', 'n', 'g', '!'}));
    ASSERT_TRUE(PumpDialogUntil(dialog, [&] { return logHas(L"RX  B> pong!"); }, 5000)) << log();
    EXPECT_TRUE(logHas(L"  ping")) << log();
    EXPECT_TRUE(logHas(L"RX  A> 127.0.0.1:")) << log();
    EXPECT_FALSE(logHas(L"TX  ")) << "what the bridge hands on is the other side's RX line";
    EXPECT_EQ(dialog.Item(IDC_RX_COUNT).Text(), L"RX A: 4 B: 5");
    EXPECT_EQ(dialog.Item(IDC_TX_COUNT).Text(), L"TX A: 5 B: 4");

    server.Close();
    ASSERT_TRUE(PumpDialogUntil(dialog, [&] { return !dialog.Connected(); }, 5000));
    EXPECT_TRUE(logHas(L"Bridge stopped: B has ended.")) << log();
    EXPECT_TRUE(client.WaitClosed(5000));
    EXPECT_FALSE(dialog.Controller().AnyWorker() && dialog.Controller().IsRunningOn(0));
}
