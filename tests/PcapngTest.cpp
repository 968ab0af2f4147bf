#include "capture/Journal.h"
#include "capture/PcapngExport.h"
#include "engine/SerialTransport.h"
#include "session/TrafficCore.h"
#include "tests/EventWindow.h"
#include "tests/FakeSerialPort.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>

TEST(Endpoint, PeerTextsOfBothFamilies)
{
    Endpoint e;
    ASSERT_TRUE(ParseEndpoint(L"127.0.0.1:53168", e));
    EXPECT_FALSE(e.v6);
    EXPECT_EQ(e.port, 53168);
    EXPECT_EQ(e.address[0], 127);
    EXPECT_EQ(e.address[3], 1);
    ASSERT_TRUE(ParseEndpoint(L"::1:5000", e));
    EXPECT_TRUE(e.v6);
    EXPECT_EQ(e.port, 5000);
    EXPECT_EQ(e.address[15], 1);
    ASSERT_TRUE(ParseEndpoint(L"[2001:db8::a:b]:443", e));
    EXPECT_EQ(e.address[0], 0x20);
    EXPECT_EQ(e.address[1], 0x01);
    EXPECT_EQ(e.address[3], 0xB8);
    EXPECT_EQ(e.address[13], 0x0A);
    EXPECT_EQ(e.address[15], 0x0B);
    for (const wchar_t* bad : {L"", L"abc", L"1.2.3:5", L"1.2.3.4:70000", L"1.2.3.4:abc", L"1.2.3.4:5x",
                               L"1:2:3:4:5:6:7:8:9:10", L"1::2::3:4", L"1::2:3:4:5:6:7:8:80"})
        EXPECT_FALSE(ParseEndpoint(bad, e)) << bad;
}

#ifdef FERROLINK_TEST_CAPTURE_DIR
namespace {

std::string Hex(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Binary: the reader is a Unix script, which wants bare line feeds.
std::ofstream Out(const std::wstring& name)
{
    return std::ofstream(std::filesystem::path(std::wstring(FERROLINK_TEST_CAPTURE_DIR) + L"\\" + name),
                         std::ios::binary);
}

void Write(const std::wstring& name, const std::vector<uint8_t>& bytes)
{
    std::ofstream file = Out(name);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Endpoint At(const wchar_t* text)
{
    Endpoint e;
    ParseEndpoint(text, e);
    return e;
}

} // namespace

// Files for Wireshark's reader to check (tests/check-pcapng.sh): each with
// what it must find in it, as hex, beside it.
TEST(Pcapng, SamplesForTshark)
{
    const uint64_t t = 1700000000000000;
    std::vector<uint8_t> bigBlock(100000);
    for (size_t i = 0; i < bigBlock.size(); ++i)
        bigBlock[i] = uint8_t(i * 31 + 7);
    const std::vector<uint8_t> request{0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 2};    // Modbus/TCP
    const std::vector<uint8_t> response{0, 1, 0, 0, 0, 7, 1, 3, 4, 0, 10, 0, 11};

    {   // A TCP client: a request, its answer and a block larger than one segment.
        PcapngMaker maker;
        std::vector<uint8_t> file = maker.FileHeader();
        maker.TcpOpen(file, 1, At(L"127.0.0.1:49152"), At(L"127.0.0.1:502"), true, t);
        maker.TcpData(file, 1, true, request.data(), request.size(), t + 10);
        maker.TcpData(file, 1, false, response.data(), response.size(), t + 20);
        maker.TcpData(file, 1, true, bigBlock.data(), bigBlock.size(), t + 30);
        maker.TcpClose(file, 1, t + 40);
        Write(L"tcp-client.pcapng", file);
        std::vector<uint8_t> sent = request;
        sent.insert(sent.end(), bigBlock.begin(), bigBlock.end());
        Out(L"tcp-client.expect")
            << "0 " << Hex(sent) << ' ' << Hex(response) << '\n';
    }
    {   // A TCP server with two clients, one over IPv4 and one over IPv6.
        PcapngMaker maker;
        std::vector<uint8_t> file = maker.FileHeader();
        const std::vector<uint8_t> helloA{'h', 'e', 'l', 'l', 'o', ' ', 'A'}, hiA{'h', 'i', ' ', 'A'};
        const std::vector<uint8_t> helloB{'h', 'e', 'l', 'l', 'o', ' ', 'B'}, hiB{'h', 'i', ' ', 'B'};
        maker.TcpOpen(file, 1, At(L"127.0.0.1:5000"), At(L"127.0.0.1:50001"), false, t);
        maker.TcpOpen(file, 2, At(L"::1:5000"), At(L"::1:50002"), false, t + 1);
        maker.TcpData(file, 1, false, helloA.data(), helloA.size(), t + 2);
        maker.TcpData(file, 2, false, helloB.data(), helloB.size(), t + 3);
        maker.TcpData(file, 2, true, hiB.data(), hiB.size(), t + 4);
        maker.TcpData(file, 1, true, hiA.data(), hiA.size(), t + 5);
        maker.TcpClose(file, 1, t + 6);
        maker.TcpClose(file, 2, t + 7);
        Write(L"tcp-server.pcapng", file);
        Out(L"tcp-server.expect")
            << "0 " << Hex(helloA) << ' ' << Hex(hiA) << '\n'
            << "1 " << Hex(helloB) << ' ' << Hex(hiB) << '\n';
    }
    {   // UDP both ways: direction 0 is sent, 1 received.
        PcapngMaker maker;
        std::vector<uint8_t> file = maker.FileHeader();
        const std::vector<uint8_t> ping{'p', 'i', 'n', 'g'}, pong{'p', 'o', 'n', 'g', '!'};
        maker.Udp(file, At(L"127.0.0.1:40000"), At(L"127.0.0.1:502"), true, ping.data(), ping.size(), t);
        maker.Udp(file, At(L"::1:40000"), At(L"::1:502"), false, pong.data(), pong.size(), t + 1);
        Write(L"udp.pcapng", file);
        Out(L"udp.expect")
            << "0 " << Hex(ping) << '\n'
            << "1 " << Hex(pong) << '\n';
    }
    {   // A journalled TCP server run: two clients, a third whose arrival is not
        // in the journal (it came before a recording began), a send to all of
        // them, one client leaving, and a send to all that reaches the others.
        Journal journal(size_t(1) << 20, L"");
        JournalSession server;
        server.link = JournalSession::Link::TcpServer;
        server.localPort = 5000;
        journal.BeginSession(1, server);
        const std::vector<uint8_t> helloA{'A', '1'}, helloB{'B', '1'}, helloC{'C', '1'}, all{'a', 'l', 'l'},
            onlyB{'B', '!'};
        const auto data = [&](TrafficDirection d, uint32_t client, const wchar_t* peer, const std::vector<uint8_t>& b) {
            journal.Append(d, t, 1, client, peer, b.data(), b.size());
        };
        journal.Mark(JournalEvent::ClientOpened, t, 1, 1, L"127.0.0.1:50001");
        journal.Mark(JournalEvent::ClientOpened, t, 1, 2, L"::1:50002");
        data(TrafficDirection::Received, 1, L"127.0.0.1:50001", helloA);
        data(TrafficDirection::Received, 2, L"::1:50002", helloB);
        data(TrafficDirection::Received, 3, L"127.0.0.1:50003", helloC);
        data(TrafficDirection::Sent, 0, L"", all);
        journal.Mark(JournalEvent::ClientClosed, t, 1, 1, L"127.0.0.1:50001");
        data(TrafficDirection::Sent, 0, L"", onlyB);
        ASSERT_TRUE(WritePcapng(std::wstring(FERROLINK_TEST_CAPTURE_DIR) + L"\\journal-server.pcapng", journal));
        std::vector<uint8_t> toB = all;
        toB.insert(toB.end(), onlyB.begin(), onlyB.end());
        Out(L"journal-server.expect") << "0 " << Hex(helloA) << ' ' << Hex(all) << '\n'
                                      << "1 " << Hex(helloB) << ' ' << Hex(toB) << '\n'
                                      << "2 " << Hex(helloC) << ' ' << Hex(toB) << '\n';
    }
    {   // Serial both ways.
        PcapngMaker maker;
        std::vector<uint8_t> file = maker.FileHeader();
        const std::vector<uint8_t> at{'A', 'T', 'I', '\r'}, ok{'O', 'K', '\r', '\n'};
        maker.Serial(file, true, at.data(), at.size(), t);
        maker.Serial(file, false, ok.data(), ok.size(), t + 1);
        Write(L"serial.pcapng", file);
        Out(L"serial.expect")
            << "0 " << Hex(at) << '\n'
            << "1 " << Hex(ok) << '\n';
    }
    {   // A serial link's run on a scripted port, through the traffic core,
        // recorded as it runs and exported after: the lines as the port
        // opened, a request, CTS coming on, a DTR pulse, a Break each way
        // and the answer.
        TrafficCore core;
        JournalSession serial;
        serial.link = JournalSession::Link::Serial;
        core.NewSession(serial);
        const std::wstring dir(FERROLINK_TEST_CAPTURE_DIR);
        ASSERT_TRUE(core.StartRecording(dir + L"\\serial-lines-recorded.pcapng"));
        FakeSerialPort port;
        EventWindow window;
        SerialTransport link(port);
        size_t taken = 0;
        // Each step's events reach the core before the next step begins.
        const auto until = [&](const std::function<bool(const TransportEvent&)>& seen) {
            const bool found = window.WaitUntil(
                [&](const EventWindow& w) {
                    return std::any_of(w.Events().begin() + ptrdiff_t(taken), w.Events().end(),
                                       [&](const auto& e) { return seen(*e); });
                },
                5000);
            for (; taken < window.Events().size(); ++taken) {
                TransportEvent copy = *window.Events()[taken];
                core.Append(std::move(copy), false);
            }
            return found;
        };
        const auto says = [](const wchar_t* text) { return [text](const TransportEvent& e) { return e.text == text; }; };
        ConnectionSettings settings;
        settings.useSerial = 1;
        settings.serialPort = L"COM3";
        link.Start(window.Handle(), settings);
        ASSERT_TRUE(until([](const TransportEvent& e) { return e.serial == SerialSignal::Lines; }));
        link.Send(MakeOutgoing({'A', 'T', '\r'}));
        ASSERT_TRUE(until([](const TransportEvent& e) { return e.kind == TransportEventKind::Sent; }));
        port.SetInputs(MS_CTS_ON);
        ASSERT_TRUE(until(says(L"CTS on")));
        link.ChangeLine({LineControl::Line::Dtr, LineControl::Action::Pulse, 20});
        ASSERT_TRUE(until(says(L"DTR on")));
        link.ChangeLine({LineControl::Line::Break, LineControl::Action::Pulse, 10});
        ASSERT_TRUE(until(says(L"Break sent (10 ms).")));
        port.DeviceSendsBreak();
        ASSERT_TRUE(until(says(L"Break received.")));
        port.DeviceSends({'O', 'K', '\n'});
        ASSERT_TRUE(until([](const TransportEvent& e) { return e.kind == TransportEventKind::Received; }));
        link.Stop();
        until([](const TransportEvent& e) { return e.linkEnded; });
        core.StopRecording();
        ASSERT_TRUE(WritePcapng(dir + L"\\serial-lines.pcapng", core.Traffic()));
        // direction, event type, CTS, DTR, RTS
        Out(L"serial-lines.expect") << "1 0x00 0 1 1\n"
                                       "0 0x01 0 1 1\n"
                                       "1 0x00 1 1 1\n"
                                       "0 0x00 1 0 1\n"
                                       "0 0x00 1 1 1\n"
                                       "0 0x09 1 1 1\n"
                                       "1 0x09 1 1 1\n"
                                       "1 0x02 1 1 1\n";
    }
}
#endif
