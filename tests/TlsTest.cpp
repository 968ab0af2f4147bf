// TLS against OpenSSL's own peers on loopback. tests/check-tls.sh makes the
// certificate, runs `openssl s_server -rev` (each line comes back reversed)
// and `openssl s_client`, and runs these with where to find them; run
// alone, they are skipped.
#include "capture/PcapngExport.h"
#include "engine/TcpClientTransport.h"
#include "engine/TcpServerTransport.h"
#include "session/TrafficCore.h"
#include "tests/EventWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

using Kind = TransportEventKind;
using Bytes = std::vector<uint8_t>;

namespace {

std::wstring Env(const wchar_t* name)
{
    wchar_t value[1024] = {};
    const DWORD n = GetEnvironmentVariableW(name, value, 1024);
    return n && n < 1024 ? std::wstring(value) : std::wstring();
}

#define NEED_PEER(var)                                                                                                 \
    const std::wstring var = Env(L"FERROLINK_TLS_DIR");                                                                \
    if (var.empty())                                                                                                   \
    GTEST_SKIP() << "run by tests/check-tls.sh"

bool WaitForStatusOrError(EventWindow& window, const std::wstring& status, size_t errorsBefore = 0)
{
    return window.WaitUntil(
               [&](const EventWindow& w) {
                   return w.Count(Kind::Error) > errorsBefore || w.Has(Kind::Status, status) ||
                          std::any_of(w.Events().begin(), w.Events().end(), [](const auto& e) { return e->linkEnded; });
               },
               10000) &&
           window.Has(Kind::Status, status);
}

std::wstring LastError(const EventWindow& window)
{
    std::wstring last;
    for (const auto& e : window.Events())
        if (e->kind == Kind::Error)
            last = e->text;
    return last;
}

const TransportEvent* NoteStarting(const EventWindow& window, const wchar_t* start)
{
    for (const auto& e : window.Events())
        if (e->kind == Kind::Status && e->text.rfind(start, 0) == 0)
            return e.get();
    return nullptr;
}

Bytes ReceivedBytes(const EventWindow& window)
{
    Bytes all;
    for (const auto& e : window.Events())
        if (e->kind == Kind::Received)
            all.insert(all.end(), e->data.begin(), e->data.end());
    return all;
}

// Lines that together take several records, every byte printable; the
// reversing server takes a line of up to 16 KiB at a time.
Bytes LongLines()
{
    Bytes lines;
    for (int line = 0; line < 3; ++line) {
        for (int i = 0; i < 12000; ++i)
            lines.push_back(uint8_t('!' + (i * 7 + i / 95 + line) % 94));
        lines.push_back('\n');
    }
    return lines;
}

// Each line reversed, as the reversing server answers.
Bytes Reversed(const Bytes& lines)
{
    Bytes out;
    auto start = lines.begin();
    for (auto end = std::find(start, lines.end(), '\n'); end != lines.end(); end = std::find(start, lines.end(), '\n')) {
        out.insert(out.end(), std::make_reverse_iterator(end), std::make_reverse_iterator(start));
        out.push_back('\n');
        start = end + 1;
    }
    return out;
}

// The bytes as one line of hex digits, for the script to compare.
void WriteHex(const std::wstring& path, const Bytes& bytes)
{
    std::string hex;
    for (const uint8_t b : bytes) {
        hex += "0123456789abcdef"[b >> 4];
        hex += "0123456789abcdef"[b & 15];
    }
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, hex.data(), DWORD(hex.size()), &written, nullptr);
    CloseHandle(file);
}

} // namespace

// Untrusted, the server's certificate stops the connection and says why;
// accepted anyway, the session is described and bytes go both ways whole.
TEST(TlsPeer, AClientRefusesAnUntrustedServerUnlessToldToAcceptAny)
{
    NEED_PEER(dir);
    ConnectionSettings s;
    s.ip = L"127.0.0.1";
    s.port = uint16_t(_wtoi(Env(L"FERROLINK_TLS_REV_PORT").c_str()));
    s.tls = true;
    EventWindow window;
    TcpClientTransport client;
    client.Start(window.Handle(), s);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Error) > 0; }, 10000));
    window.PumpFor(100);
    const std::wstring refused = LastError(window);
    EXPECT_EQ(refused.rfind(L"The server's certificate (CN=127.0.0.1) is refused: ", 0), 0u) << refused;
    EXPECT_NE(refused.find(L"Accept any certificate"), std::wstring::npos) << refused;
    EXPECT_EQ(window.Count(Kind::Received), 0u);
    client.Stop();

    s.net.acceptAnyCertificate = true;
    window.Clear();
    client.Start(window.Handle(), s);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return NoteStarting(w, L"TLS: ") || w.Count(Kind::Error) > 1; },
                                 10000))
        << LastError(window);
    const TransportEvent* note = NoteStarting(window, L"TLS: ");
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->logOnly);
    EXPECT_NE(note->text.find(L"TLS 1."), std::wstring::npos) << note->text;
    EXPECT_NE(note->text.find(L"certificate CN=127.0.0.1, expires 20"), std::wstring::npos) << note->text;

    const Bytes line = LongLines();
    ASSERT_EQ(client.Send(MakeOutgoing(line)), SendResult::Queued);
    const Bytes reversed = Reversed(line);
    EXPECT_TRUE(window.WaitUntil([&](const EventWindow& w) { return ReceivedBytes(w).size() >= reversed.size(); }, 10000));
    EXPECT_EQ(ReceivedBytes(window), reversed);
    size_t sent = 0;
    for (const auto& e : window.Events())
        if (e->kind == Kind::Sent)
            sent += e->data.size();
    EXPECT_EQ(sent, line.size()); // the plaintext, as it left
    client.Stop();
    window.PumpFor(100);

    // Its capture: the plaintext, as the script has tshark follow it.
    TrafficCore core;
    JournalSession session;
    session.link = JournalSession::Link::TcpClient;
    session.remote = L"127.0.0.1:" + std::to_wstring(s.port);
    core.NewSession(session);
    for (const auto& e : window.Events()) {
        TransportEvent copy = *e;
        core.Append(std::move(copy), false);
    }
    ASSERT_TRUE(WritePcapng(dir + L"\\tls-client.pcapng", core.Traffic()));
    WriteHex(dir + L"\\tls-client.sent", line);
    WriteHex(dir + L"\\tls-client.received", reversed);
}

// A server on a .pfx certificate serves OpenSSL's client, and its capture
// holds the plaintext, which the script has tshark follow.
TEST(TlsPeer, AServerWithAPfxServesOpensslsClient)
{
    NEED_PEER(dir);
    ConnectionSettings s;
    s.isServer = 1;
    s.port = uint16_t(_wtoi(Env(L"FERROLINK_TLS_SERVER_PORT").c_str()));
    s.tls = true;
    s.net.certificateFile = dir + L"\\server.pfx";
    s.certificatePassword = L"wrong";
    EventWindow window;
    TcpServerTransport server;
    server.Start(window.Handle(), s);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Error) > 0; }, 10000));
    EXPECT_NE(LastError(window).find(L"is the password right?"), std::wstring::npos) << LastError(window);

    s.certificatePassword = L"ferrolink-test";
    TrafficCore core;
    JournalSession session;
    session.link = JournalSession::Link::TcpServer;
    session.localPort = s.port;
    core.NewSession(session);
    window.Clear();
    server.Start(window.Handle(), s);
    const bool listening =
        WaitForStatusOrError(window, L"TCP server listening on " + std::to_wstring(s.port) + L" with TLS");
    const std::wstring startError = LastError(window);
    if (!listening && startError.find(L"This system's TLS provider cannot serve TLS (0x80090302") == 0) {
        // Wine's provider is a client only; the script is told not to wait.
        CloseHandle(CreateFileW((dir + L"\\no-server-side").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                nullptr));
        GTEST_SKIP() << "this system's TLS provider has no server side: " << startError;
    }
    ASSERT_TRUE(listening) << LastError(window);
    // The script's client connects once it sees this.
    CloseHandle(CreateFileW((dir + L"\\listening").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const Bytes hello{'h', 'e', 'l', 'l', 'o', ' ', 'f', 'r', 'o', 'm', ' ', 'o', 'p', 'e', 'n', 's', 's', 'l', '\n'};
    ASSERT_TRUE(window.WaitUntil([&](const EventWindow& w) { return ReceivedBytes(w).size() >= hello.size(); }, 20000))
        << LastError(window);
    EXPECT_EQ(ReceivedBytes(window), hello);
    ASSERT_NE(NoteStarting(window, L"TLS: "), nullptr);
    const std::string answer = "hello from ferrolink\n";
    ASSERT_EQ(server.Send(MakeOutgoing(Bytes(answer.begin(), answer.end()))), SendResult::Queued);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Sent) > 0; }, 5000));
    window.PumpFor(500);
    server.Stop();
    window.PumpFor(100);
    for (const auto& e : window.Events()) {
        TransportEvent copy = *e;
        core.Append(std::move(copy), true);
    }
    ASSERT_TRUE(WritePcapng(dir + L"\\tls-server.pcapng", core.Traffic()));
}
