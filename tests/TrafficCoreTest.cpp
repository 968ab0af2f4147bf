#include "engine/SerialLines.h"
#include "logview/LogLine.h"
#include "session/TrafficCore.h"
#include "tests/EventWindow.h"

#include <gtest/gtest.h>


namespace {

using Kind = TransportEventKind;

class TrafficCoreTest : public testing::Test {
protected:
    void SetUp() override { core.SetLines(&lines, &shown); }

    void Feed(TransportEvent* event, bool namesPeer = false)
    {
        core.Append(std::move(*event), namesPeer);
        delete event;
    }
    TransportEvent* Received(const std::string& text, uint32_t client = 0, std::wstring peer = L"peer")
    {
        TransportEvent* event =
            NewEvent(Kind::Received, L"", std::move(peer), client, false, std::vector<uint8_t>(text.begin(), text.end()));
        event->receivedUs = SteadyMicroseconds();
        return event;
    }
    TransportEvent* Sent(std::vector<uint8_t> bytes, SendTag tag = {})
    {
        TransportEvent* event = NewEvent(Kind::Sent, L"", L"", 0, false, std::move(bytes));
        event->sendTag = tag;
        return event;
    }
    std::wstring Line(size_t fromEnd = 1) const { return lines.LineText(lines.EndLine() - fromEnd, shown); }
    std::vector<std::wstring> Lines() const
    {
        std::vector<std::wstring> all;
        for (uint64_t line = lines.FirstLine(); line < lines.EndLine(); ++line)
            all.push_back(lines.LineText(line, shown));
        return all;
    }

    LogModel lines;
    LogShowOptions shown;
    TrafficCore core;
};

} // namespace

// A line's text is what its bytes decode to, whatever the event said; the
// journal and the line carry the time the worker saw the block, not the
// time the window took it; only what left counts as sent.
TEST_F(TrafficCoreTest, LinesAreMadeOfTheirBytesAndStampedWhenTheBlocksArrived)
{
    core.SetStamped(false);
    core.NewSession(JournalSession{JournalSession::Link::TcpClient, L"127.0.0.1:7", 0});
    TransportEvent* rx = Received("AT\r\n");
    rx->text = L"not what the bytes say";
    const uint64_t arrived = MicrosecondsNow() - 90'000'000; // a window 90 s behind
    rx->arrivedUs = arrived;
    Feed(rx);
    EXPECT_EQ(Line(), L"RX  AT\r\n");
    ASSERT_EQ(core.Traffic().RecordCount(), 1u);
    EXPECT_EQ(core.Traffic().Record(0).timeUs, arrived);
    const SYSTEMTIME shownTime = lines.Record(lines.EndLine() - 1).time;
    const SYSTEMTIME expected = LocalTimeAt(arrived);
    EXPECT_EQ(shownTime.wMinute * 60 + shownTime.wSecond, expected.wMinute * 60 + expected.wSecond);

    SendTag hex;
    hex.asHex = true;
    Feed(Sent({'A', 'T', 0x0D}, hex));
    EXPECT_EQ(Line(), L"TX  41 54 0D ");
    SendTag summed;
    summed.checksumFrom = 2;
    summed.checksumCount = 1;
    Feed(Sent({'A', 'T', 'A', '\r'}, summed));
    EXPECT_EQ(lines.SavedText(lines.EndLine() - 1, shown), L"TX  AT\\x41\r");
    // Made again from the journal, a line reads as it did.
    for (uint64_t line = lines.FirstLine(); line < lines.EndLine(); ++line) {
        const LogRecord& record = lines.Record(line);
        std::vector<uint8_t> bytes(record.trafficSize);
        ASSERT_EQ(core.Traffic().Read(record.trafficAt, bytes.data(), bytes.size()), bytes.size());
        EXPECT_EQ(L"RX  " + TrafficText(record, bytes.data(), bytes.size()), L"RX  " + lines.LineText(line, shown).substr(4));
    }
    // Bytes that were queued and never left are lost, never sent.
    TransportEvent* dropped = NewEvent(Kind::Error, L"1000 queued bytes were not sent: the link closed.");
    dropped->lostBytes = 1000;
    Feed(dropped);
    EXPECT_EQ(core.State().m_txByteCount, 7u);
    EXPECT_EQ(core.State().m_rxByteCount, 4u);
    EXPECT_EQ(LostText(core.State()), L"Lost: 1000");
    EXPECT_NE(LostTipText(core.State()).find(L"never written"), std::wstring::npos);
    EXPECT_EQ(core.Traffic().RecordCount(), 3u);
}

// Each client's bytes are framed on their own, a held message is shown
// before its client's leaving, and a connection made again starts a new
// session of the capture.
TEST_F(TrafficCoreTest, EachPeerIsFramedOnItsOwnAndAReconnectIsANewSession)
{
    core.SetStamped(false);
    FramingOptions framing;
    framing.mode = FramingMode::Delimiter;
    framing.delimiter = {';'};
    core.NewSession(JournalSession{JournalSession::Link::TcpServer, L"", 7000}, framing, true);
    Feed(NewEvent(Kind::ClientAdded, L"Client connected", L"a", 1), true);
    Feed(NewEvent(Kind::ClientAdded, L"Client connected", L"b", 2), true);
    Feed(Received("on", 1, L"a"), true);
    Feed(Received("tw", 2, L"b"), true);
    Feed(Received("e;o;", 2, L"b"), true);
    Feed(Received("x", 1, L"a"), true);
    Feed(NewEvent(Kind::ClientRemoved, L"Client disconnected", L"a", 1), true);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"SYS a  Client connected", L"SYS b  Client connected",
                                                  L"RX  b  twe;", L"RX  b  o;", L"RX  a  onx",
                                                  L"SYS a  Client disconnected"}));
    // The journal keeps the reads as they came, each in its client's stream.
    EXPECT_EQ(core.Traffic().RecordCount(), 2u + 4u + 1u);
    EXPECT_EQ(core.Traffic().Record(2).client, 1u);
    EXPECT_EQ(core.Traffic().Record(3).size, 2u);

    TransportEvent* lost = NewEvent(Kind::Status, L"TCP client disconnected");
    lost->connectionLost = true;
    Feed(lost);
    Feed(Received("later;", 2, L"b"), true);
    EXPECT_EQ(core.Traffic().Record(core.Traffic().RecordCount() - 1).session, 2u);
    EXPECT_NE(core.Traffic().Session(2), nullptr);
}

// A client whose leaving never reached the window leaves with its link:
// its held message first, then one line, a closed stream and an entry to
// take from the list; a leaving that turns up later is not said twice.
TEST_F(TrafficCoreTest, ClientsLeftOpenWhenTheLinkEndsAreClosedOnce)
{
    core.SetStamped(false);
    FramingOptions framing;
    framing.mode = FramingMode::Lines;
    core.NewSession(JournalSession{JournalSession::Link::TcpServer, L"", 7000}, framing, true);
    Feed(NewEvent(Kind::ClientAdded, L"Client connected", L"a", 1), true);
    Feed(NewEvent(Kind::ClientAdded, L"Client connected", L"b", 2), true);
    Feed(NewEvent(Kind::ClientRemoved, L"Client disconnected (closed by the peer)", L"b", 2), true);
    Feed(Received("half", 1, L"a"), true);
    const std::vector<TransportEvent> gone = core.CloseOpenClients();
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0].clientId, 1u);
    EXPECT_EQ(Line(2), L"RX  a  half");
    EXPECT_EQ(Line(), L"SYS a  Client disconnected");
    const Journal& journal = core.Traffic();
    EXPECT_EQ(journal.Record(journal.RecordCount() - 1).event, JournalEvent::ClientClosed);
    const size_t before = lines.LineCount();
    Feed(NewEvent(Kind::ClientRemoved, L"Client disconnected", L"a", 1), true);
    EXPECT_EQ(lines.LineCount(), before);
    EXPECT_TRUE(core.CloseOpenClients().empty());
}

// A recording of received bytes takes each block as it is journalled, and
// a text recording each line as the log shows it.
TEST_F(TrafficCoreTest, RecordingsTakeTheBlocksAndTheLines)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring stem = std::wstring(temp) + L"ferrolink-core-" + std::to_wstring(GetTickCount64());
    const auto contents = TakeFileContents;
    core.SetStamped(false);
    core.NewSession(JournalSession{});
    ASSERT_TRUE(core.StartRecording(stem + L".bin"));
    Feed(Received("ab"));
    Feed(Sent({'s'}));
    Feed(Received("c"));
    core.StopRecording();
    ASSERT_TRUE(core.StartRecording(stem + L".log"));
    Feed(Received("line"));
    core.StopRecording();
    EXPECT_EQ(contents(stem + L".bin"), "abc");
    EXPECT_EQ(contents(stem + L".log"), "RX  line\r\n");
    EXPECT_FALSE(core.StartRecording(L"Z:\\no\\such\\folder\\x.bin"));
    EXPECT_EQ(Line(), L"ERR Could not record to Z:\\no\\such\\folder\\x.bin.");
}

// What a responder answers is what the log shows: a message framing joined
// from several reads, each client's on its own, after its line; an
// automation's note follows the TX line of what it sent; and each line can
// show its time after the one before.
TEST_F(TrafficCoreTest, TheWatcherSeesTheLogsMessagesAndANoteFollowsItsTxLine)
{
    core.SetStamped(false);
    std::vector<std::string> seen;
    core.SetMessageWatcher([&](const TrafficCore::Message& m) {
        seen.push_back(std::to_string(m.client) + ":" + std::string(m.bytes, m.bytes + m.size) + "@" +
                       std::to_string(lines.LineCount()));
    });
    core.SetWrittenNote([](const SendTag& tag, uint64_t) { return tag.note == 7 ? L"Rule 1 answered" : L""; });
    FramingOptions framing;
    framing.mode = FramingMode::Lines;
    core.NewSession(JournalSession{JournalSession::Link::TcpServer, L"", 7000}, framing, true);
    Feed(Received("01 0", 1, L"a"), true);
    Feed(Received("3\r", 2, L"b"), true);
    Feed(Received("3 00\r\n", 1, L"a"), true);
    Feed(Received("\n", 2, L"b"), true);
    EXPECT_EQ(seen, (std::vector<std::string>{"1:01 03 00\r\n@1", "2:3\r\n@2"}));
    SendTag tag;
    tag.note = 7;
    Feed(Sent({'O', 'K'}, tag));
    tag.note = 8;
    Feed(Sent({'N', 'O'}, tag));
    EXPECT_EQ(Lines().back(), L"TX  NO");
    EXPECT_EQ(Lines()[Lines().size() - 2], L"SYS Rule 1 answered");

    core.NewSession(JournalSession{JournalSession::Link::TcpClient, L"127.0.0.1:7", 0});
    TransportEvent* first = Received("x");
    first->arrivedUs = 5'000'000;
    TransportEvent* second = Received("y");
    second->arrivedUs = 5'012'345;
    Feed(first);
    Feed(second);
    EXPECT_EQ(seen.back(), "0:y@" + std::to_string(lines.LineCount()));
    shown.sincePrevious = true;
    EXPECT_EQ(Line(), L"     +12.345 ms RX  y");
    EXPECT_EQ(lines.LineLength(lines.EndLine() - 1, shown), Line().size());
    EXPECT_EQ(FormatSincePrevious(-1500), L"      -1.500 ms ");
    EXPECT_EQ(FormatSincePrevious(INT64_MAX), L"+9999999.999 ms ");
}

// A message framing lets go by its time is told to the watcher with its last
// byte's time, and the core says when that time comes.
TEST_F(TrafficCoreTest, AMessageLetGoByItsGapCarriesItsLastBytesTime)
{
    std::vector<uint64_t> times;
    core.SetMessageWatcher([&](const TrafficCore::Message& m) { times.push_back(m.arrivedUs); });
    FramingOptions gap;
    gap.mode = FramingMode::IdleGap;
    gap.idleGapUs = 20000;
    core.NewSession(JournalSession{JournalSession::Link::TcpClient, L"127.0.0.1:7", 0}, gap);
    EXPECT_EQ(core.FramingDueUs(), UINT64_MAX);
    TransportEvent* first = Received("\x01\x03");
    const uint64_t steadyFirst = first->receivedUs;
    Feed(first);
    Sleep(5);
    TransportEvent* last = Received("\x05\x06");
    const uint64_t wallLast = MicrosecondsNow();
    Feed(last);
    EXPECT_GT(core.FramingDueUs(), steadyFirst + 20000);
    Sleep(40);
    core.FlushFraming(false);
    ASSERT_EQ(times.size(), 1u);
    EXPECT_GE(times[0] + 2000, wallLast);
    EXPECT_LT(times[0], wallLast + 10000); // not when it was let go, 40 ms on
    EXPECT_EQ(core.FramingDueUs(), UINT64_MAX);
}

// A serial port's lines are journalled at each change, this end's and the
// device's told apart; the lines as the port opened make no log line, and
// the data after a change carries the new lines.
TEST_F(TrafficCoreTest, SerialLineChangesAreJournalledAndSaidOnlyWhenTheyChange)
{
    using namespace SerialLine;
    core.SetStamped(false);
    core.NewSession(JournalSession{JournalSession::Link::Serial, L"", 0});
    const auto lineEvent = [&](SerialSignal signal, const wchar_t* text, uint8_t state) {
        TransportEvent* event = NewEvent(Kind::Status, text, L"COM3");
        event->serial = signal;
        event->serialLines = state;
        Feed(event);
    };
    lineEvent(SerialSignal::Lines, L"", kDtr | kRts);
    lineEvent(SerialSignal::LinesSet, L"DTR off", kRts);
    lineEvent(SerialSignal::Lines, L"DSR on", kRts | kDsr);
    Feed(Received("ok"));
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"SYS DTR off", L"SYS DSR on", L"RX  ok"}));
    const Journal& journal = core.Traffic();
    ASSERT_EQ(journal.RecordCount(), 4u);
    const TrafficDirection expected[] = {TrafficDirection::Received, TrafficDirection::Sent,
                                         TrafficDirection::Received, TrafficDirection::Received};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(journal.Record(i).event, JournalEvent::SerialLines);
        EXPECT_EQ(journal.Record(i).direction, expected[i]) << i;
    }
    EXPECT_EQ(journal.Record(3).event, JournalEvent::Data);
    EXPECT_EQ(journal.Record(3).lines, kRts | kDsr);
}
