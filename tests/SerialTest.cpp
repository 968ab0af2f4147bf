#include "engine/SerialLines.h"
#include "engine/SerialTransport.h"
#include "framing/Framer.h"
#include "tests/EventWindow.h"
#include "tests/SerialPeer.h"
#include "res/resource.h"
#include "settings/Framing.h"
#include "settings/LibraryStore.h"
#include "settings/SettingsStore.h"
#include "ui/MainDlg.h"
#include "ui/SerialOptions.h"

#include <gtest/gtest.h>

#include <algorithm>

using Kind = TransportEventKind;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes B(const char* text)
{
    return Bytes(text, text + strlen(text));
}

std::vector<Bytes> Feed(SerialLineCutter& cutter, const char* text, uint32_t now)
{
    return cutter.OnBytes(reinterpret_cast<const uint8_t*>(text), strlen(text), now);
}

} // namespace

// Each kind is said when first seen, then at most once a second with how
// often it was seen meanwhile; what is left is said when the port closes.
TEST(SerialLines, EachKindOfLineErrorIsSaidAtMostOnceASecond)
{
    SerialErrorReport report;
    const auto texts = [](const std::vector<SerialErrorReport::Line>& lines) {
        std::vector<std::wstring> t;
        for (const auto& line : lines)
            t.push_back(line.text);
        return t;
    };
    EXPECT_EQ(texts(report.Note(CE_RXPARITY, 0)), (std::vector<std::wstring>{L"Serial line: parity error."}));
    EXPECT_TRUE(report.Note(CE_RXPARITY, 250).empty());
    EXPECT_EQ(report.MsUntilDue(250), 750u);
    EXPECT_EQ(texts(report.Note(CE_OVERRUN | CE_RXPARITY, 500)),
              (std::vector<std::wstring>{L"Serial line: overrun (bytes lost)."})); // a kind of its own
    const auto later = report.Note(CE_RXPARITY, 1000);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later[0].text, L"Serial line: parity error (3 times).");
    EXPECT_EQ(later[0].count, 3u);
    EXPECT_TRUE(report.Note(CE_TXFULL, 1100).empty()); // not about received bytes
    EXPECT_EQ(report.MsUntilDue(1100), UINT32_MAX);
    report.Note(CE_OVERRUN, 1200);
    EXPECT_EQ(texts(report.Flush()), (std::vector<std::wstring>{L"Serial line: overrun (bytes lost)."}));
    EXPECT_TRUE(report.Flush().empty());
}

TEST(SerialLines, CrLfSplitAcrossTwoReads)
{
    SerialLineCutter cutter;
    EXPECT_EQ(Feed(cutter, "ok\r", 0), (std::vector<Bytes>{B("ok\r")}));
    EXPECT_EQ(Feed(cutter, "\n", 5), (std::vector<Bytes>{B("\n")}));
    EXPECT_TRUE(cutter.Empty());
}

TEST(SerialLines, ThreeLinesThenATailThatWaits)
{
    SerialLineCutter cutter;
    EXPECT_EQ(Feed(cutter, "a\nbb\nccc\ntail", 1000), (std::vector<Bytes>{B("a\n"), B("bb\n"), B("ccc\n")}));
    EXPECT_FALSE(cutter.Empty());
    EXPECT_TRUE(cutter.OnIdle(1149).empty()); // not yet 150 ms
    EXPECT_EQ(cutter.OnIdle(1150), B("tail"));
    EXPECT_TRUE(cutter.OnIdle(5000).empty());
}

TEST(SerialLines, IdleFlushSurvivesTheTickWrap)
{
    SerialLineCutter cutter;
    Feed(cutter, "x", 0xFFFFFFF0u);
    EXPECT_TRUE(cutter.OnIdle(0x10u).empty()); // 32 ms later
    EXPECT_EQ(cutter.OnIdle(0x90u), B("x"));
}

TEST(SerialLines, EndlessStreamIsFlushedPast8192Bytes)
{
    SerialLineCutter cutter;
    const Bytes chunk(4096, 'z');
    EXPECT_TRUE(cutter.OnBytes(chunk.data(), chunk.size(), 0).empty());
    EXPECT_TRUE(cutter.OnBytes(chunk.data(), chunk.size(), 1).empty()); // exactly 8192: still held
    const auto lines = cutter.OnBytes(chunk.data(), 1, 2);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 8193u);
    EXPECT_TRUE(cutter.Empty());
}

TEST(SerialLines, DiscardDropsTheTail)
{
    SerialLineCutter cutter;
    Feed(cutter, "half", 0);
    cutter.Discard();
    EXPECT_TRUE(cutter.OnIdle(1000).empty());
    EXPECT_TRUE(cutter.Flush().empty());
}

TEST(SerialFlags, MaskForEachParityAndFlowChoice)
{
    const struct {
        uint8_t parity;
        uint32_t flow;
        uint32_t expected;
    } cases[] = {
        {0, 0, 0x1011}, {1, 0, 0x1013}, {4, 0, 0x1013}, {0, 1, 0x2015}, {2, 1, 0x2017}, {0, 2, 0x1311},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SerialFlagWord(0, c.parity, c.flow), c.expected) << int(c.parity) << "/" << c.flow;
    // Bits the link does not decide keep the driver's values ...
    const uint32_t driver = 0x8 | 0x40 | 0x80 | 0x400 | 0x800 | 0x4000 | 0xFFFF0000u;
    EXPECT_EQ(SerialFlagWord(driver, 0, 0), driver | 0x1011);
    // ... and those it decides are cleared first.
    EXPECT_EQ(SerialFlagWord(0x3337, 0, 0), 0x1011u);
}

namespace {


class SerialPort : public testing::Test {
protected:
    void SetUp() override
    {
        // After a test that made the pair vanish, it takes a moment to return.
        const ULONGLONG deadline = GetTickCount64() + 5000;
        while ((PathExists(kSerialDir + L"/vanish") || !SerialPeer().Valid()) && GetTickCount64() < deadline)
            Sleep(20);
        // What an earlier test left on its way to the far end is not this test's.
        SerialPeer().Read(SIZE_MAX, 100);
    }
    void TearDown() override { serial.Stop(); }

    // The pty pair goes away, as a pulled adapter does, and comes back a
    // moment later.
    static bool PullAdapter()
    {
        const HANDLE request = CreateFileW((kSerialDir + L"/vanish").c_str(), GENERIC_WRITE, 0, nullptr,
                                           CREATE_ALWAYS, 0, nullptr);
        if (request == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(request);
        return true;
    }

    bool Open()
    {
        ConnectionSettings s;
        s.useSerial = 1;
        s.serialPort = FERROLINK_TEST_COM_PORT;
        serial.Start(window.Handle(), s, options);
        return window.WaitUntil([](const EventWindow& w) { return !w.Events().empty(); }, 5000) &&
               window.Has(Kind::Status, std::wstring(L"Serial opened ") + FERROLINK_TEST_COM_PORT + L" @ 115200");
    }

    EventWindow window;
    SerialTransport serial;
    LinkOptions options; // what Open starts the port with
};

} // namespace

TEST_F(SerialPort, OpensExchangesAndStops)
{
    ASSERT_TRUE(Open());
    EXPECT_EQ(window.Events()[0]->peer, FERROLINK_TEST_COM_PORT);
    SerialPeer peer;
    ASSERT_TRUE(peer.Valid());

    ASSERT_TRUE(peer.Write({'o', 'n', 'e', '\r', '\n', 0x00, 0xFF, 't', 'w', 'o'}));
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Received) == 2; }, 5000));
    std::vector<Bytes> lines;
    for (const auto& e : window.Events())
        if (e->kind == Kind::Received)
            lines.push_back(e->data);
    EXPECT_EQ(lines, (std::vector<Bytes>{B("one\r\n"), Bytes{0x00, 0xFF, 't', 'w', 'o'}}));

    const Bytes out = {0x00, 0x7F, 0x80, 0xFF, '\r', '\n'};
    ASSERT_TRUE(serial.QueueSend(out));
    EXPECT_FALSE(serial.QueueSend({}));
    EXPECT_EQ(peer.Read(out.size(), 5000), out);

    const ULONGLONG stopping = GetTickCount64();
    serial.Stop();
    EXPECT_LT(GetTickCount64() - stopping, 1000u);
    window.PumpFor(50);
    EXPECT_TRUE(window.Has(Kind::Status, L"Serial closed"));
    EXPECT_EQ(window.Count(Kind::Error), 0u);
    EXPECT_FALSE(serial.QueueSend(out));
}

TEST_F(SerialPort, StopDropsAnUnfinishedLine)
{
    ASSERT_TRUE(Open());
    SerialPeer peer;
    ASSERT_TRUE(peer.Write(B("partial")));
    Sleep(40); // read by the worker, but not yet idle for 150 ms
    serial.Stop();
    window.PumpFor(50);
    EXPECT_EQ(window.Count(Kind::Received), 0u);
    EXPECT_TRUE(window.Has(Kind::Status, L"Serial closed"));
}

TEST_F(SerialPort, FarEndVanishingEndsTheLink)
{
    ASSERT_TRUE(Open());
    ASSERT_TRUE(PullAdapter());
    ASSERT_TRUE(window.WaitForText(Kind::Status, L"Serial closed", 10000));
    std::vector<std::wstring> texts = window.Texts();
    ASSERT_GE(texts.size(), 3u);
    // The system's reason follows the text, as socket errors give theirs.
    EXPECT_EQ(texts[texts.size() - 2].rfind(L"Serial read failed. (error ", 0), 0u)
        << testing::PrintToString(texts[texts.size() - 2]);
    EXPECT_EQ(texts.back(), L"Serial closed");
    EXPECT_FALSE(serial.IsRunning());
}

// With Reconnect, a pulled adapter is tried every second until it is back,
// and the link goes on; Close during the wait ends it at once.
TEST_F(SerialPort, AVanishedPortIsOpenedAgainWhenItComesBack)
{
    options.reconnect = true;
    ASSERT_TRUE(Open());
    ASSERT_TRUE(PullAdapter());
    ASSERT_TRUE(window.WaitForText(Kind::Status, L"Reconnecting\u2026", 10000));
    EXPECT_TRUE(serial.IsRunning());
    const auto opened = [](const EventWindow& w) {
        size_t n = 0;
        for (const auto& e : w.Events())
            n += e->kind == Kind::Status && e->text.rfind(L"Serial opened ", 0) == 0;
        return n;
    };
    ASSERT_TRUE(window.WaitUntil([&](const EventWindow& w) { return opened(w) == 2; }, 10000));
    for (const auto& e : window.Events())
        EXPECT_FALSE(e->linkEnded) << testing::PrintToString(e->text);
    SerialPeer peer;
    ASSERT_TRUE(peer.Valid());
    ASSERT_TRUE(peer.Write({'b', 'a', 'c', 'k', '\n'}));
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Received) >= 1; }, 5000));
    ASSERT_TRUE(serial.QueueSend({'o', 'k'}));
    EXPECT_EQ(peer.Read(2, 5000), (std::vector<uint8_t>{'o', 'k'}));

    // Pulled again, and closed while it is away: the stop does not wait
    // for the next try.
    ASSERT_TRUE(PullAdapter());
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Error) >= 2; }, 10000));
    const ULONGLONG before = GetTickCount64();
    serial.Stop();
    EXPECT_LT(GetTickCount64() - before, 900u);
    EXPECT_FALSE(serial.HasWorker());
}

// Modbus RTU framed by the idle gap: the reads are passed on as they come,
// so frames written with a pause between them are told apart.
TEST_F(SerialPort, ReadsArePostedAsTheyComeWhenTheLogFramesThem)
{
    options.serialCutsLines = false;
    ASSERT_TRUE(Open());
    SerialPeer peer;
    ASSERT_TRUE(peer.Valid());
    const std::vector<uint8_t> request{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
    const std::vector<uint8_t> reply{0x01, 0x03, 0x02, 0x00, 0x2A, 0x38, 0x5B};
    ASSERT_TRUE(peer.Write(request));
    Sleep(100);
    ASSERT_TRUE(peer.Write(reply));
    std::vector<uint8_t> got;
    std::vector<uint64_t> times;
    ASSERT_TRUE(window.WaitUntil([&](const EventWindow& w) {
        got.clear();
        for (const auto& e : w.Events())
            if (e->kind == Kind::Received)
                got.insert(got.end(), e->data.begin(), e->data.end());
        return got.size() >= request.size() + reply.size();
    }, 5000));
    Framer framer(FramingOptions{FramingMode::IdleGap, {}, SerialIdleGapUs(20000, 115200, 8, false, 0)});
    std::vector<FramedMessage> frames;
    for (const auto& e : window.Events())
        if (e->kind == Kind::Received)
            framer.Add(e->data.data(), e->data.size(), e->receivedUs, frames);
    framer.Flush(frames);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].bytes, request); // a 0x0A inside is no line end here
    EXPECT_EQ(frames[1].bytes, reply);
}

TEST_F(SerialPort, BadNamesAreReported)
{
    ConnectionSettings s;
    s.useSerial = 1;
    serial.Start(window.Handle(), s);
    ASSERT_TRUE(window.WaitForText(Kind::Error, L"No serial port selected.", 5000));
    s.serialPort = L"COM250";
    serial.Start(window.Handle(), s);
    ASSERT_TRUE(window.WaitForText(Kind::Error, L"Unable to open serial port.", 5000));
    window.PumpFor(50);
    EXPECT_EQ(window.Texts().size(), 2u);
    // A second open of a port that is already open is refused on Windows;
    // Wine allows it, so that case is left to the platform.
}

TEST_F(SerialPort, TestPortsAreListed)
{
    const std::vector<std::wstring> ports = FindSerialPorts();
    const auto com7 = std::find(ports.begin(), ports.end(), FERROLINK_TEST_COM_PORT);
    const auto com8 = std::find(ports.begin(), ports.end(), FERROLINK_TEST_PEER_PORT);
    ASSERT_NE(com7, ports.end());
    ASSERT_NE(com8, ports.end());
    EXPECT_LT(com7, com8);
}

namespace {

// The window's messages and its refresh run until `done` holds, 5 s at most.
bool PumpWindowUntil(CMainDlg& dialog, const std::function<bool()>& done)
{
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (!done() && GetTickCount64() < deadline) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            dialog.RouteMessage(msg);
        SendMessageW(dialog.Handle(), WM_TIMER, 2, 0);
        Sleep(5);
    }
    return done();
}

} // namespace

TEST_F(SerialPort, WindowOpensReadsAndClosesThePort)
{
    CMainDlg dialog;
    ASSERT_TRUE(dialog.Create());
    const Window comm = dialog.Item(IDC_COMM_COMBO);
    comm.Select(CommSerial);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_COMM_COMBO, CBN_SELCHANGE), 0);
    const Window ports = dialog.Item(IDC_SERIAL_PORT);
    const int index = int(ports.Send(CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(FERROLINK_TEST_COM_PORT)));
    ASSERT_GE(index, 0);
    ports.Select(index);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_REFRESH_PORTS, BN_CLICKED), 0);
    EXPECT_EQ(ports.Text(), FERROLINK_TEST_COM_PORT); // kept across a refresh

    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    EXPECT_EQ(Window(dialog.Handle()).Text(), std::wstring(L"Serial - ") + FERROLINK_TEST_COM_PORT + L" - 115200");
    EXPECT_EQ(dialog.Item(IDC_CONNECT).Text(), L"Close");
    SerialPeer peer;
    ASSERT_TRUE(peer.Valid());
    const auto pump = [&](const std::function<bool()>& done) { return PumpWindowUntil(dialog, done); };
    ASSERT_TRUE(pump([&] { return dialog.Item(IDC_STATUS).Text().rfind(L"Serial opened", 0) == 0; }));
    ASSERT_TRUE(peer.Write(B("hello\n")));
    ASSERT_TRUE(pump([&] { return dialog.Item(IDC_LOG_EDIT).Text().find(L"RX  hello\n") != std::wstring::npos; }));
    dialog.Item(IDC_SEND_EDIT).SetText(L"AT");
    dialog.Item(IDC_CR).SetCheck(true);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_SEND, BN_CLICKED), 0);
    EXPECT_EQ(peer.Read(3, 5000), B("AT\r"));
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    EXPECT_EQ(dialog.Item(IDC_CONNECT).Text(), L"Open");
    EXPECT_FALSE(dialog.Controller().AnyWorker());
}

// Ferrolink standing in for a Modbus RTU device on its serial port: the
// master's request, cut by the line's idle gap, gets the reply with the
// request's address and the reply's own CRC.
TEST_F(SerialPort, TheResponderAnswersAMastersRequest)
{
    DeleteFileW(SettingsFilePath().c_str());
    FramingOptions gap;
    gap.mode = FramingMode::IdleGap;
    gap.idleGapUs = 20000;
    SaveFraming(FramedLink::Serial, gap);
    CMainDlg dialog;
    ASSERT_TRUE(dialog.Create());
    Library library;
    library.rules.push_back(ResponderRule{L"holding", true, MatchKind::Hex, L"?? 03 00 00 00 01 ?? ??",
                                          PayloadForm{true, L"{@0} 03 02 00 07", false, LineEnding::None,
                                                      Checksum::Crc16Modbus}});
    dialog.AutomationPart().ChangeLibrary(library);
    dialog.AutomationPart().SetResponderOn(true);
    dialog.Item(IDC_COMM_COMBO).Select(CommSerial);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_COMM_COMBO, CBN_SELCHANGE), 0);
    const Window ports = dialog.Item(IDC_SERIAL_PORT);
    ports.Select(int(ports.Send(CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(FERROLINK_TEST_COM_PORT))));
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    SerialPeer peer;
    ASSERT_TRUE(peer.Valid());
    const auto pump = [&](const std::function<bool()>& done) { return PumpWindowUntil(dialog, done); };
    ASSERT_TRUE(pump([&] { return dialog.Item(IDC_STATUS).Text().rfind(L"Serial opened", 0) == 0; }));
    ASSERT_TRUE(peer.Write({0x11, 0x03, 0x00, 0x00, 0x00, 0x01, 0x87, 0x5A}));
    Bytes reply;
    ASSERT_TRUE(pump([&] {
        const Bytes part = peer.Read(7 - reply.size(), 5);
        reply.insert(reply.end(), part.begin(), part.end());
        return reply.size() >= 7;
    }));
    Bytes expected = {0x11, 0x03, 0x02, 0x00, 0x07};
    const std::vector<uint8_t> crc = ChecksumBytes(Checksum::Crc16Modbus, expected.data(), expected.size());
    expected.insert(expected.end(), crc.begin(), crc.end());
    EXPECT_EQ(reply, expected);
    EXPECT_EQ(dialog.AutomationPart().RuleMatches(0), 1u);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    dialog.Destroy();
    DeleteFileW(SettingsFilePath().c_str());
    DeleteFileW(LibraryFilePath().c_str());
}

namespace {

// The far end's device, read from the test's own side of the pair.
Bytes ReadSlowly(SerialPeer& peer, size_t count, int pauseMs, int timeoutMs)
{
    Bytes got;
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeoutMs);
    while (got.size() < count && GetTickCount64() < deadline) {
        const Bytes part = peer.Read(std::min<size_t>(1024, count - got.size()), 200);
        got.insert(got.end(), part.begin(), part.end());
        Sleep(DWORD(pauseMs));
    }
    return got;
}

} // namespace

TEST_F(SerialPort, WritesThatOutgrowTheDeviceArriveWholeAndInOrder)
{
    ASSERT_TRUE(Open());
    SerialPeer peer;
    ASSERT_TRUE(peer.Valid());
    // Far more than the device holds, so writes wait for a slow reader.
    Bytes expected;
    for (uint32_t i = 0; i < 12; ++i) {
        const Bytes payload = PatternBytes(10000 + i, i);
        ASSERT_TRUE(serial.QueueSend(payload));
        expected.insert(expected.end(), payload.begin(), payload.end());
    }
    Sleep(300);
    const Bytes got = ReadSlowly(peer, expected.size(), 2, 20000);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
    EXPECT_EQ(window.Count(Kind::Error), 0u);
}

// Nothing is in flight at the stop here; a stop during a write is the next test.
TEST_F(SerialPort, OpeningSendingAndClosingLeavesNoHandlesOrThreads)
{
    const size_t threadsBefore = CountProcessThreads();
    EXPECT_TRUE(LeavesNoHandles([&] {
        window.Clear();
        ASSERT_TRUE(Open());
        SerialPeer peer;
        const std::vector<uint8_t> payload = PatternBytes(2000, 11);
        ASSERT_TRUE(serial.QueueSend(payload));
        EXPECT_EQ(peer.Read(payload.size(), 5000), payload);
        serial.Stop();
        window.PumpFor(50);
        EXPECT_TRUE(window.Has(Kind::Status, L"Serial closed"));
    }));
    EXPECT_EQ(SettledThreadCount(threadsBefore), threadsBefore);
}

TEST_F(SerialPort, StopDuringAWriteIsPromptAndNoFailure)
{
    ASSERT_TRUE(Open());
    SerialPeer peer; // never reads: the write stays pending
    ASSERT_TRUE(serial.QueueSend(PatternBytes(256 * 1024, 9)));
    ASSERT_TRUE(serial.QueueSend(PatternBytes(1000, 10)));
    Sleep(200);
    const ULONGLONG stopping = GetTickCount64();
    serial.Stop();
    EXPECT_LT(GetTickCount64() - stopping, 500u);
    window.PumpFor(50);
    EXPECT_TRUE(window.Has(Kind::Status, L"Serial closed"));
    // No write failed; what had not left is said, never shown as sent.
    uint64_t sent = 0, dropped = 0;
    for (const auto& e : window.Events()) {
        if (e->kind == Kind::Sent)
            sent += e->data.size();
        if (e->kind == Kind::Error) {
            EXPECT_NE(e->text.find(L"queued bytes were not sent: the port was closed."), std::wstring::npos) << e->text;
            dropped += e->lostBytes;
        }
    }
    EXPECT_EQ(sent + dropped, 256u * 1024 + 1000);
    EXPECT_GT(dropped, 0u);
    // What got through before the stop, so that the next test's port is empty.
    const ULONGLONG draining = GetTickCount64() + 10000;
    for (int quiet = 0; quiet < 6 && GetTickCount64() < draining;)
        quiet = peer.Read(SIZE_MAX, 100).empty() ? quiet + 1 : 0;
}

TEST_F(SerialPort, AQueuedPayloadLeavesAtOnce)
{
    ASSERT_TRUE(Open());
    SerialPeer peer;
    ASSERT_TRUE(peer.Valid());
    const double median = MedianDeliveryMs([&](const Bytes& p) { return serial.QueueSend(p); },
                                           [&](size_t n, int ms) { return peer.Read(n, ms); }, 15);
    EXPECT_GE(median, 0.0);
    // The old worker read with a 20 ms time-out between writes.
    EXPECT_LT(median, 10.0);
}

// A pseudo-terminal has no control lines: the port says so once, and each
// change asked of it is an error with its answer, promptly, with the data
// flowing on.
TEST_F(SerialPort, APortWithoutControlLinesRefusesChangesPromptly)
{
    ASSERT_TRUE(Open());
    const auto unreported = [](const EventWindow& w) {
        return std::any_of(w.Events().begin(), w.Events().end(),
                           [](const auto& e) { return e->serial == SerialSignal::LinesUnreported; });
    };
    ASSERT_TRUE(window.WaitUntil(unreported, 5000));
    const ULONGLONG asked = GetTickCount64();
    ASSERT_EQ(serial.ChangeLine({LineControl::Line::Dtr, LineControl::Action::Pulse, 50}), SendResult::Queued);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Error) == 1; }, 5000));
    EXPECT_LT(GetTickCount64() - asked, 3000u); // no hang, however busy the machine
    std::wstring refusal;
    for (const auto& e : window.Events())
        if (e->kind == Kind::Error)
            refusal = e->text;
    EXPECT_EQ(refusal.rfind(L"DTR pulse 50 ms: the port refused it (error ", 0), 0u) << refusal;

    // Its driver takes a Break and does nothing with it.
    serial.ChangeLine({LineControl::Line::Break, LineControl::Action::Pulse, 20});
    ASSERT_TRUE(window.WaitForText(Kind::Status, L"Break sent (20 ms).", 5000));
    SerialPeer peer;
    ASSERT_TRUE(peer.Write(B("still here\n")));
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Received) == 1; }, 5000));
    EXPECT_EQ(window.ReceivedBytes(), B("still here\n"));
}

// The window's line controls: DTR chosen off while closed is stored and is
// what the port opens with; a Break and a pulse reach the port, whose
// refusal is logged; a length out of bounds is refused in the window.
TEST_F(SerialPort, TheWindowsLineControlsReachThePort)
{
    DeleteFileW(SettingsFilePath().c_str());
    CMainDlg dialog;
    ASSERT_TRUE(dialog.Create());
    dialog.Item(IDC_COMM_COMBO).Select(CommSerial);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_COMM_COMBO, CBN_SELCHANGE), 0);
    const Window ports = dialog.Item(IDC_SERIAL_PORT);
    ports.Select(int(ports.Send(CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(FERROLINK_TEST_COM_PORT))));
    const auto click = [&](int id) { SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); };
    const auto log = [&] { return dialog.Item(IDC_LOG_EDIT).Text(); };
    const auto pump = [&](const std::function<bool()>& done) { return PumpWindowUntil(dialog, done); };
    EXPECT_TRUE(dialog.Item(IDC_DTR).Visible());
    EXPECT_FALSE(dialog.Item(IDC_BREAK).Enabled());

    click(IDC_DTR);
    EXPECT_EQ(dialog.Item(IDC_DTR).Send(BM_GETCHECK), BST_UNCHECKED);
    EXPECT_EQ(ReadSettingInt(L"Serial", L"DtrAtOpen", 1), 0);
    click(IDC_CONNECT);
    ASSERT_TRUE(pump([&] { return dialog.Item(IDC_STATUS).Text().rfind(L"Serial opened", 0) == 0; }));
    ASSERT_TRUE(dialog.Item(IDC_BREAK).Enabled());
    click(IDC_BREAK);
    ASSERT_TRUE(pump([&] { return log().find(L"SYS Break sent (250 ms).") != std::wstring::npos; }));
    click(IDC_PULSE_DTR);
    ASSERT_TRUE(pump([&] { return log().find(L"ERR DTR pulse 100 ms: the port refused it (error ") != std::wstring::npos; }));
    EXPECT_EQ(dialog.Item(IDC_DTR).Send(BM_GETCHECK), BST_UNCHECKED); // as the port opened
    EXPECT_EQ(dialog.Item(IDC_RTS).Send(BM_GETCHECK), BST_CHECKED);
    EXPECT_EQ(dialog.Item(IDC_STATUS).Text().rfind(L"Serial opened", 0), 0u);
    dialog.Item(IDC_PULSE_MS).SetText(L"0");
    click(IDC_PULSE_RTS);
    EXPECT_NE(log().find(L"ERR A pulse lasts 1 to 10000 ms."), std::wstring::npos);

    click(IDC_CONNECT);
    EXPECT_FALSE(dialog.Item(IDC_BREAK).Enabled());
    EXPECT_EQ(dialog.Item(IDC_DTR).Send(BM_GETCHECK), BST_UNCHECKED);
    DeleteFileW(SettingsFilePath().c_str());
}
