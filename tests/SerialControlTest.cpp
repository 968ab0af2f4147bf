#include "engine/SerialLines.h"
#include "engine/SerialTransport.h"
#include "tests/EventWindow.h"
#include "tests/FakeSerialPort.h"
#include "ui/SerialStrip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>

using Kind = TransportEventKind;
using Action = LineControl::Action;
using Line = LineControl::Line;

namespace {

class SerialControl : public testing::Test {
protected:
    void TearDown() override { link.Stop(); }

    void Open(uint32_t flowControl = 0, bool dtr = true, bool rts = true)
    {
        ConnectionSettings s;
        s.useSerial = 1;
        s.serialPort = L"COM9";
        s.flowControl = flowControl;
        s.dtrAtOpen = dtr;
        s.rtsAtOpen = rts;
        link.Start(window.Handle(), s, options);
        ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return LinesEvent(w, 0) != nullptr; }, 5000));
    }
    std::vector<std::wstring> CallsNamed(const std::wstring& prefix) const
    {
        std::vector<std::wstring> found;
        for (const auto& call : port.Calls())
            if (call.what.rfind(prefix, 0) == 0)
                found.push_back(call.what);
        return found;
    }

    // The `n`th event about the lines, null while there is none.
    static const TransportEvent* LinesEvent(const EventWindow& w, size_t n)
    {
        for (const auto& e : w.Events())
            if (e->serial != SerialSignal::None && n-- == 0)
                return e.get();
        return nullptr;
    }
    bool WaitForLinesEvent(size_t n) { return window.WaitUntil([n](const EventWindow& w) { return LinesEvent(w, n); }, 5000); }

    // Where in the port's calls the first one named `what` is; -1 when none is.
    ptrdiff_t IndexOf(const std::wstring& what) const
    {
        const auto calls = port.Calls();
        const auto found = std::find_if(calls.begin(), calls.end(), [&](const auto& c) { return c.what == what; });
        return found == calls.end() ? -1 : found - calls.begin();
    }
    uint64_t TimeOf(const std::wstring& what) const { return port.Calls()[size_t(IndexOf(what))].us; }

    FakeSerialPort port;
    EventWindow window;
    LinkOptions options;
    SerialTransport link{port};
};

} // namespace

TEST_F(SerialControl, LinesAtOpenAreSetBeforeTheFirstByteAndNeverRaisedOnTheWay)
{
    Open(0, false, false);
    ASSERT_EQ(link.Send(MakeOutgoing({'h', 'i'})), SendResult::Queued);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Sent) == 1; }, 5000));
    const ptrdiff_t state = IndexOf(L"state DTR off RTS off");
    ASSERT_GE(state, 0);
    EXPECT_LT(state, IndexOf(L"write 2"));
    EXPECT_EQ(IndexOf(L"open"), 0);
    EXPECT_EQ(port.CountOf(L"SETDTR") + port.CountOf(L"SETRTS"), 0u);
    // The lamps start from what the port said, and DTR and RTS as set.
    EXPECT_EQ(LinesEvent(window, 0)->serial, SerialSignal::Lines);
    EXPECT_EQ(LinesEvent(window, 0)->serialLines, 0);
}

TEST_F(SerialControl, APulseInvertsTheLineForItsLengthThenPutsItBack)
{
    Open();
    ASSERT_EQ(LinesEvent(window, 0)->serialLines, SerialLine::kDtr | SerialLine::kRts);
    ASSERT_EQ(link.ChangeLine({Line::Dtr, Action::Pulse, 100}), SendResult::Queued);
    ASSERT_TRUE(WaitForLinesEvent(2));
    const ptrdiff_t clear = IndexOf(L"CLRDTR"), set = IndexOf(L"SETDTR");
    ASSERT_GE(clear, 0);
    ASSERT_GT(set, clear);
    const uint64_t heldUs = TimeOf(L"SETDTR") - TimeOf(L"CLRDTR");
    EXPECT_GE(heldUs, 100000u);
    EXPECT_LT(heldUs, 400000u); // a busy machine may be late, never early
    EXPECT_EQ(LinesEvent(window, 1)->text, L"DTR pulse 100 ms");
    EXPECT_EQ(LinesEvent(window, 1)->serialLines, SerialLine::kRts);
    EXPECT_EQ(LinesEvent(window, 2)->text, L"DTR on");
    EXPECT_EQ(LinesEvent(window, 2)->serialLines, SerialLine::kDtr | SerialLine::kRts);

    // Changes queued together are made in order, each said once.
    link.ChangeLine({Line::Rts, Action::Off});
    link.ChangeLine({Line::Rts, Action::Pulse, 30}); // from off: on for 30 ms
    link.ChangeLine({Line::Dtr, Action::Off});
    ASSERT_TRUE(WaitForLinesEvent(6));
    std::vector<std::wstring> said;
    for (size_t i = 3; i <= 6; ++i)
        said.push_back(LinesEvent(window, i)->text);
    EXPECT_EQ(said, (std::vector<std::wstring>{L"RTS off", L"RTS pulse 30 ms", L"RTS off", L"DTR off"}));
    EXPECT_EQ(LinesEvent(window, 6)->serialLines, 0);
    EXPECT_EQ(window.Count(Kind::Error), 0u);
}

TEST_F(SerialControl, InputLinesArriveAsTheyChangeWithoutPolling)
{
    Open();
    window.PumpFor(100);
    const size_t calls = port.Calls().size();
    window.PumpFor(200);
    EXPECT_EQ(port.Calls().size(), calls); // idle: the port is not asked anything

    port.SetInputs(MS_CTS_ON | MS_DSR_ON);
    ASSERT_TRUE(WaitForLinesEvent(1));
    EXPECT_EQ(LinesEvent(window, 1)->text, L"CTS on, DSR on");
    EXPECT_EQ(LinesEvent(window, 1)->serialLines, SerialLine::kCts | SerialLine::kDsr | SerialLine::kDtr |
                                                       SerialLine::kRts);
    port.SetInputs(MS_DSR_ON | MS_RLSD_ON | MS_RING_ON);
    ASSERT_TRUE(WaitForLinesEvent(2));
    EXPECT_EQ(LinesEvent(window, 2)->text, L"CTS off, DCD on, RI on");
    // Bytes still flow beside the wait for the lines.
    port.DeviceSends({'o', 'k', '\n'});
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Received) == 1; }, 5000));
    EXPECT_EQ(window.ReceivedBytes(), (std::vector<uint8_t>{'o', 'k', '\n'}));
}

TEST_F(SerialControl, ABreakWaitsForTheBytesBeforeItAndHoldsTheOnesAfter)
{
    Open();
    port.HoldWrites();
    link.Send(MakeOutgoing({'1'}));
    link.ChangeLine({Line::Break, Action::Pulse, 60});
    link.Send(MakeOutgoing({'2', '2'}));
    ASSERT_TRUE(window.WaitUntil([&](const EventWindow&) { return port.CountOf(L"write 1") == 1; }, 5000));
    window.PumpFor(100);
    EXPECT_EQ(port.CountOf(L"SETBREAK"), 0u); // the write is still under way
    port.SetOutputQueue(1);
    port.ReleaseWrites();
    window.PumpFor(100);
    EXPECT_EQ(port.CountOf(L"SETBREAK"), 0u); // the driver still holds its byte
    port.SetOutputQueue(0);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Sent) == 2; }, 5000));
    port.ReleaseWrites();
    const ptrdiff_t on = IndexOf(L"SETBREAK"), off = IndexOf(L"CLRBREAK");
    EXPECT_GT(on, IndexOf(L"written 1"));
    EXPECT_GT(off, on);
    EXPECT_GT(IndexOf(L"write 2"), off);
    EXPECT_GE(TimeOf(L"CLRBREAK") - TimeOf(L"SETBREAK"), 60000u);
    ASSERT_TRUE(LinesEvent(window, 1));
    EXPECT_EQ(LinesEvent(window, 1)->serial, SerialSignal::BreakSent);
    EXPECT_EQ(LinesEvent(window, 1)->text, L"Break sent (60 ms).");
}

// A payload taken back before it left (a stopped sequence's) does not hold
// up the Break queued after it.
TEST_F(SerialControl, APayloadTakenBackDoesNotHoldABreak)
{
    Open();
    auto withdrawn = std::make_shared<std::atomic<bool>>(false);
    SendTag tag;
    tag.notBeforeUs = SteadyMicroseconds() + 60'000'000;
    tag.withdrawn = withdrawn;
    link.Send(MakeOutgoing({'x'}, tag));
    link.ChangeLine({Line::Break, Action::Pulse, 10});
    window.PumpFor(100);
    EXPECT_EQ(port.CountOf(L"SETBREAK"), 0u); // in order behind it
    *withdrawn = true;
    link.Send(MakeOutgoing({'y', 'y'}));
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Sent) == 1; }, 5000));
    EXPECT_GT(IndexOf(L"write 2"), IndexOf(L"CLRBREAK"));
    EXPECT_EQ(port.CountOf(L"write 1"), 0u);
}

// An adapter pulled and put back: the port opens again with DTR and RTS as
// they were set by hand, a pulse cut short by the loss undone.
TEST_F(SerialControl, APortOpenedAgainGetsTheLinesAsTheyWereSet)
{
    options.reconnect = true;
    Open();
    link.ChangeLine({Line::Dtr, Action::Off});
    link.ChangeLine({Line::Rts, Action::Pulse, 10000});
    ASSERT_TRUE(WaitForLinesEvent(2));
    port.Vanish();
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Error) >= 1; }, 5000));
    port.ComeBack();
    ASSERT_TRUE(window.WaitUntil([&](const EventWindow&) { return CallsNamed(L"state").size() == 2; }, 5000));
    EXPECT_EQ(CallsNamed(L"state"), (std::vector<std::wstring>{L"state DTR on RTS on", L"state DTR off RTS on"}));
    EXPECT_EQ(port.CountOf(L"SETRTS"), 0u); // nothing of the cut pulse reached the new port
}

TEST_F(SerialControl, ABreakFromTheDeviceIsSaidAndNotCountedAsDamage)
{
    Open();
    port.DeviceSendsBreak();
    ASSERT_TRUE(WaitForLinesEvent(1));
    EXPECT_EQ(LinesEvent(window, 1)->serial, SerialSignal::BreakReceived);
    EXPECT_EQ(LinesEvent(window, 1)->kind, Kind::Status);
    EXPECT_EQ(LinesEvent(window, 1)->text, L"Break received.");
    EXPECT_EQ(LinesEvent(window, 1)->damaged, 0u);
    EXPECT_EQ(window.Count(Kind::Error), 0u);
}

TEST_F(SerialControl, RtsUnderHardwareFlowControlIsRefusedWithTheReason)
{
    Open(1);
    EXPECT_EQ(IndexOf(L"state DTR on RTS handshake"), 1);
    EXPECT_EQ(LinesEvent(window, 0)->serialLines, SerialLine::kDtr); // RTS is the driver's
    link.ChangeLine({Line::Rts, Action::Pulse, 50});
    link.ChangeLine({Line::Dtr, Action::Off});
    ASSERT_TRUE(WaitForLinesEvent(1));
    ASSERT_EQ(window.Count(Kind::Error), 1u);
    EXPECT_NE(window.Texts()[2].find(L"RTS/CTS flow control"), std::wstring::npos) << window.Texts()[2];
    EXPECT_EQ(port.CountOf(L"SETRTS") + port.CountOf(L"CLRRTS"), 0u);
    EXPECT_EQ(LinesEvent(window, 1)->text, L"DTR off");
}

TEST(SerialControlLines, APortWithoutLinesSaysSoAndRefusesEachChangeWithItsAnswer)
{
    FakeSerialPort port(false);
    EventWindow window;
    SerialTransport link(port);
    ConnectionSettings s;
    s.useSerial = 1;
    s.serialPort = L"COM9";
    link.Start(window.Handle(), s);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Events().size() >= 2; }, 5000));
    EXPECT_EQ(window.Events()[1]->serial, SerialSignal::LinesUnreported);
    EXPECT_EQ(window.Events()[1]->serialLines, SerialLine::kDtr | SerialLine::kRts);
    link.ChangeLine({Line::Dtr, Action::Off});
    link.ChangeLine({Line::Break, Action::Pulse, 10});
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Error) == 2; }, 5000));
    const std::wstring answer = L"(error " + std::to_wstring(FakeSerialPort::kRefusal);
    for (const std::wstring& text : window.Texts()) {
        if (text.find(L"refused") != std::wstring::npos) {
            EXPECT_NE(text.find(answer), std::wstring::npos) << text;
        }
    }
    EXPECT_EQ(window.Texts()[2].rfind(L"DTR off: the port refused it", 0), 0u) << window.Texts()[2];
    // Still open, and still moving bytes.
    link.Send(MakeOutgoing({'x'}));
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Sent) == 1; }, 5000));
    link.Stop();
    EXPECT_EQ(link.ChangeLine({Line::Dtr, Action::On}), SendResult::Refused);
}

TEST(SerialStripRules, LampsBoxesAndLengths)
{
    using namespace SerialLine;
    const LampsView lit = LampsFor(true, SerialSignal::Lines, kCts | kRing | kDtr);
    EXPECT_EQ(lit.lamps[0], Lamp::On);  // CTS
    EXPECT_EQ(lit.lamps[1], Lamp::Off); // DSR
    EXPECT_EQ(lit.lamps[2], Lamp::Off); // DCD
    EXPECT_EQ(lit.lamps[3], Lamp::On);  // RI
    EXPECT_TRUE(LampsFor(true, SerialSignal::LinesUnreported, 0).unreported);
    EXPECT_EQ(LampsFor(false, SerialSignal::Lines, kCts).lamps[0], Lamp::Unknown); // closed
    EXPECT_EQ(LampsFor(true, SerialSignal::None, kCts).lamps[0], Lamp::Unknown);  // not heard from yet

    EXPECT_EQ(LineBoxState(false, true, true, false), BST_UNCHECKED); // closed: the choice
    EXPECT_EQ(LineBoxState(true, false, false, true), BST_UNCHECKED); // open: the line
    EXPECT_EQ(LineBoxState(true, true, false, true), BST_INDETERMINATE);

    EXPECT_EQ(ControlLengthMs(L"250"), 250u);
    EXPECT_EQ(ControlLengthMs(L" 10000"), 10000u);
    for (const wchar_t* bad : {L"", L"0", L"10001", L"12abc", L"-5", L"99999999999"})
        EXPECT_EQ(ControlLengthMs(bad), 0u) << bad;
}
