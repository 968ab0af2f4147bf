// Prints one line per figure: throughput, responsiveness, memory and scale
// of the real transports and window, in process and headless.
#include "automation/Library.h"
#include "engine/SerialTransport.h"
#include "engine/SocketUtil.h"
#include "engine/TcpClientTransport.h"
#include "engine/TlsSession.h"
#include "framing/Framer.h"
#include "framework/Clipboard.h"
#include "hexview/HexView.h"
#include "logview/LogLine.h"
#include "logview/LogView.h"
#include "res/resource.h"
#include "settings/ConnectionStore.h"
#include "settings/Framing.h"
#include "settings/LogOptions.h"
#include "settings/History.h"
#include "settings/SendOptions.h"
#include "settings/SettingsStore.h"
#include "text/Utf8.h"
#include "session/LogState.h"
#include "ui/AutomationSide.h"
#include "ui/JournalRows.h"
#include "ui/MainDlg.h"

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

void Figure(const char* name, double value, const char* unit)
{
    std::printf("%-58s %12.2f %s\n", name, value, unit);
    std::fflush(stdout);
}

SOCKET Listen(uint16_t& port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    listen(s, SOMAXCONN);
    int size = sizeof(a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    port = ntohs(a.sin_port);
    return s;
}

// A port that a server on every address can take.
uint16_t FreeServerPort()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    int size = sizeof(a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    closesocket(s);
    return ntohs(a.sin_port);
}

SOCKET Connect(uint16_t port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    DWORD timeoutMs = 5000; // a peer nobody answers must not hang the run
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    return s;
}

void SendAll(SOCKET s, const std::vector<char>& block, size_t total)
{
    for (size_t sent = 0; sent < total;) {
        const int n = send(s, block.data(), int(std::min(block.size(), total - sent)), 0);
        if (n <= 0)
            return;
        sent += size_t(n);
    }
}

// Where the window thread's time goes while it pumps: handling link events,
// refresh ticks that had news, paints, everything else.
struct PumpProfile {
    struct Bucket {
        int count = 0;
        double seconds = 0;
        double longest = 0;
        void Add(double s)
        {
            ++count;
            seconds += s;
            longest = std::max(longest, s);
        }
    };
    Bucket events, ticks, otherTicks, logPaints, paints, other, peeks;
};

void Pump(CMainDlg& dialog, PumpProfile* profile = nullptr, Clock::time_point deadline = Clock::time_point::max())
{
    MSG msg;
    for (int n = 0; n < 500 && Clock::now() < deadline; ++n) {
        const auto peek = Clock::now();
        const bool got = PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
        if (profile)
            profile->peeks.Add(Seconds(peek));
        if (!got)
            break;
        if (!profile) {
            dialog.RouteMessage(msg);
            continue;
        }
        PumpProfile::Bucket* bucket = &profile->other;
        if (msg.message == WM_TRANSPORT_EVENT)
            bucket = &profile->events;
        else if (msg.message == WM_TIMER && msg.wParam == 2 /* the log refresh timer */)
            bucket = dialog.Log().m_logDirty ? &profile->ticks : &profile->otherTicks;
        else if (msg.message == WM_PAINT)
            bucket = dialog.LogView() && msg.hwnd == dialog.LogView()->Handle() ? &profile->logPaints : &profile->paints;
        const auto t = Clock::now();
        dialog.RouteMessage(msg);
        bucket->Add(Seconds(t));
    }
}

// As the program's own message loop idles: asleep until a message comes.
void IdleFor(CMainDlg& dialog, double seconds)
{
    const auto start = Clock::now();
    for (double left = seconds; left > 0; left = seconds - Seconds(start)) {
        Pump(dialog);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(left * 1000) + 1, QS_ALLINPUT);
    }
}

bool PumpUntil(CMainDlg& dialog, const std::function<bool()>& done, double timeout, PumpProfile* profile = nullptr)
{
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
    while (!done()) {
        if (Clock::now() >= deadline)
            return false;
        Pump(dialog, profile, deadline);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
    return true;
}

void ProfileFigures(const PumpProfile& p, double total)
{
    const std::pair<const char*, const PumpProfile::Bucket*> rows[] = {
        {"link events", &p.events}, {"refresh ticks with news", &p.ticks}, {"log view paints", &p.logPaints},
        {"other paints", &p.paints},
        {"other messages", &p.other}, {"PeekMessage", &p.peeks}};
    for (const auto& [what, b] : rows) {
        char name[120];
        std::snprintf(name, sizeof(name), "  window thread in %s (%d, longest %.0f ms)", what, b->count, b->longest * 1000);
        Figure(name, b->seconds / total * 100, "% of the time");
    }
}

// Busy time of the whole machine (this process, the wineserver and the
// rest), read from the host's /proc through Wine's Z: drive; -1 elsewhere.
double MachineBusySeconds()
{
    FILE* f = _wfopen(L"Z:\\proc\\stat", L"r");
    if (!f)
        return -1;
    unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0;
    const int read = std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu", &user, &nice, &system, &idle, &iowait,
                                 &irq, &softirq);
    std::fclose(f);
    return read == 7 ? double(user + nice + system + irq + softirq) / 100.0 : -1;
}

double ProcessCpuSeconds()
{
    FILETIME c, e, k, u;
    GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
    auto ticks = [](const FILETIME& f) { return (uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return double(ticks(k) + ticks(u)) / 1e7;
}

double ThreadCpuSeconds()
{
    FILETIME c, e, k, u;
    GetThreadTimes(GetCurrentThread(), &c, &e, &k, &u);
    auto ticks = [](const FILETIME& f) { return (uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return double(ticks(k) + ticks(u)) / 1e7;
}

// Times round trips of WM_NULL to a window from another thread. The window's
// thread must keep pumping until Stop returns, or the last trip would wait
// for nothing and be counted.
class RoundTripProber {
public:
    explicit RoundTripProber(HWND window)
        : m_thread([this, window] {
              while (m_probing) {
                  const auto t = Clock::now();
                  DWORD_PTR result = 0;
                  SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
                  m_trips.push_back(Seconds(t) * 1000);
                  Sleep(10);
              }
              m_done = true;
          })
    {
    }
    std::vector<double> Stop(const std::function<void()>& pump)
    {
        m_probing = false;
        while (!m_done) {
            pump();
            Sleep(1);
        }
        m_thread.join();
        return m_trips;
    }

private:
    std::atomic<bool> m_probing{true};
    std::atomic<bool> m_done{false};
    std::vector<double> m_trips;
    std::thread m_thread;
};

// Switches the window to TCP server mode and connects; returns the port.
uint16_t StartServer(CMainDlg& dialog)
{
    const uint16_t port = FreeServerPort();
    SendMessageW(GetDlgItem(dialog.Handle(), IDC_MODE_COMBO), CB_SETCURSEL, 1, 0);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_MODE_COMBO, CBN_SELCHANGE), 0);
    SetWindowTextW(GetDlgItem(dialog.Handle(), IDC_PORT_EDIT), std::to_wstring(port).c_str());
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    PumpUntil(dialog, [&] { return dialog.Controller().IsRunning(); }, 5);
    Sleep(200); // the accept thread is listening by now
    return port;
}

size_t WorkingSet(bool peak)
{
    PROCESS_MEMORY_COUNTERS c{};
    c.cb = sizeof(c);
    GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof(c));
    return peak ? c.PeakWorkingSetSize : c.WorkingSetSize;
}

double RawReceive(size_t total, size_t bufferSize)
{
    uint16_t port = 0;
    const SOCKET listener = Listen(port);
    std::thread sender([&] {
        const SOCKET s = Connect(port);
        SendAll(s, std::vector<char>(65536, 'r'), total);
        closesocket(s);
    });
    const SOCKET s = accept(listener, nullptr, nullptr);
    std::vector<char> buffer(bufferSize);
    const auto start = Clock::now();
    size_t got = 0;
    while (got < total) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval t{0, 10000};
        if (select(0, &readable, nullptr, nullptr, &t) <= 0)
            continue;
        const int n = recv(s, buffer.data(), int(buffer.size()), 0);
        if (n <= 0)
            break;
        got += size_t(n);
    }
    const double seconds = Seconds(start);
    sender.join();
    closesocket(s);
    closesocket(listener);
    return double(got) / 1e6 / seconds;
}

// True when the TCP payload of the received packets in a pcapng file is
// `total` bytes of `fill`, in order without gaps: the receive flood's.
bool RecordedPayloadIs(const std::wstring& path, size_t total, char fill)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::vector<uint8_t> block;
    size_t payload = 0;
    bool good = true;
    for (;;) {
        uint32_t head[2] = {};
        DWORD got = 0;
        if (!ReadFile(file, head, 8, &got, nullptr) || got < 8 || head[1] < 12)
            break;
        block.resize(head[1] - 8);
        if (!ReadFile(file, block.data(), DWORD(block.size()), &got, nullptr) || got != block.size())
            break;
        if (head[0] != 6) // only enhanced packet blocks carry traffic
            continue;
        uint32_t captured = 0;
        std::memcpy(&captured, block.data() + 12, 4);
        const uint8_t* packet = block.data() + 20;
        // The synthetic IPv4 (20 bytes) and TCP (20 bytes) headers.
        if (captured <= 40 || packet[9] != 6)
            continue;
        if (packet[20 + 13] & 0x07) // SYN, FIN or RST: no payload of the flood's
            continue;
        for (uint32_t i = 40; i < captured; ++i)
            good = good && packet[i] == uint8_t(fill);
        payload += captured - 40;
    }
    CloseHandle(file);
    return good && payload == total;
}

// Connects the window's TCP client to a listener of the bench's; the
// accepted peer socket, with the listener left in `listener`.
SOCKET ConnectWindowToPeer(CMainDlg& dialog, SOCKET& listener)
{
    uint16_t port = 0;
    listener = Listen(port);
    SetWindowTextW(GetDlgItem(dialog.Handle(), IDC_PORT_EDIT), std::to_wstring(port).c_str());
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    const SOCKET peer = accept(listener, nullptr, nullptr);
    PumpUntil(dialog, [&] { return dialog.Controller().IsRunning(); }, 5);
    return peer;
}

// With `recordTo`, the window records the flood to that file from the start
// and the file's payload is compared with what was sent.
void ReceiveFlood(size_t total, size_t bufferSize, const std::wstring& recordTo = {})
{
    SetStreamReceiveBufferSize(bufferSize);
    std::printf("-- receive buffer of %zu bytes%s\n", bufferSize, recordTo.empty() ? "" : ", recording pcapng");
    DeleteFileW(SettingsFilePath().c_str());
    CMainDlg dialog;
    dialog.Create();
    if (!recordTo.empty())
        dialog.LogSide().StartRecording(recordTo);
    SOCKET listener = INVALID_SOCKET;
    const SOCKET peer = ConnectWindowToPeer(dialog, listener);
    const size_t before = WorkingSet(false);
    size_t highest = before; // sampled while the flood runs
    auto lastSample = Clock::now();

    RoundTripProber prober(dialog.Handle());
    const double cpuBefore = ProcessCpuSeconds();
    const double windowCpuBefore = ThreadCpuSeconds();
    const auto start = Clock::now();
    std::thread sender([&] { SendAll(peer, std::vector<char>(65536, 'f'), total); });
    // The window's timers (log refresh every 100 ms) run as in the program.
    PumpProfile profile;
    PumpUntil(dialog, [&] {
        if (Seconds(lastSample) >= 0.1) {
            lastSample = Clock::now();
            highest = std::max(highest, WorkingSet(false));
        }
        return dialog.Log().m_rxByteCount >= total;
    }, 1200, &profile);
    const double seconds = Seconds(start);
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const double windowCpu = ThreadCpuSeconds() - windowCpuBefore;
    const std::vector<double> roundTrips = prober.Stop([&] { Pump(dialog); });
    sender.join();
    Figure("processor time of all the program's threads per GB received", cpu / (double(total) / 1e9), "s");
    Figure("  of it: the window's thread", windowCpu / (double(total) / 1e9), "s");

    Figure("receive flood through the window, MB/s", double(dialog.Log().m_rxByteCount) / 1e6 / seconds, "MB/s");
    const double raw = RawReceive(total, bufferSize);
    Figure("raw Winsock receive loop (same buffer), MB/s", raw, "MB/s");
    Figure("window / raw", double(total) / 1e6 / seconds / raw * 100, "%");
    Figure("window round trip during flood, p50", Percentile(roundTrips, 0.5), "ms");
    Figure("window round trip during flood, p99", Percentile(roundTrips, 0.99), "ms");
    Figure("window round trip during flood, max", Percentile(roundTrips, 1.0), "ms");
    ProfileFigures(profile, seconds);
    Figure("peak working set / bytes received", double(WorkingSet(true)) / double(total), "x");
    Figure("highest working set sampled during the flood", double(highest) / 1e6, "MB");
    const double growth = double(WorkingSet(false)) - double(before);
    Figure("working set growth after flood / bytes received", growth / double(total), "x");
    // What the growth is made of, by the holders' own sizes.
    const double capture = double(dialog.Log().m_journal.BytesInMemory());
    const Journal& journal = dialog.Log().m_journal;
    const double records = double(journal.RecordsInMemory() * sizeof(JournalRecord));
    const LogModel& lines = dialog.LogView()->Model();
    const double logText = double(lines.KeptTextCharacters() * sizeof(wchar_t) + lines.LineCount() * sizeof(LogRecord));
    Figure("  of it: traffic journal in memory / bytes received", capture / double(total), "x");
    Figure("  of it: journal records / bytes received", records / double(total), "x");
    Figure("  of it: log lines (records, texts kept) / bytes received", logText / double(total), "x");
    Figure("  of it: the rest / bytes received", (growth - capture - records - logText) / double(total), "x");
    std::printf("  the log holds %zu lines, the journal %zu blocks\n", lines.LineCount(), journal.RecordCount());
    closesocket(peer);
    closesocket(listener);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    if (recordTo.empty())
        return;
    PumpUntil(dialog, [&] { return !dialog.Controller().IsRunning(); }, 10);
    dialog.LogSide().StopRecording();
    std::printf("  recorded %llu bytes; payload %s\n", (unsigned long long)dialog.LogSide().Recording().Written(),
                RecordedPayloadIs(recordTo, total, 'f') ? "equals what was sent" : "DIFFERS from what was sent");
    DeleteFileW(recordTo.c_str());
}

// Send File over a TCP client to a peer that reads as fast as it can: how
// fast the file goes, how the window answers meanwhile, and what memory it
// takes while a file many times the link's queue streams through.
// The peer's side of a send: counts what arrives until `total` or the end.
std::thread ReadInto(SOCKET peer, std::atomic<size_t>& got, size_t total)
{
    return std::thread([peer, &got, total] {
        std::vector<char> buffer(1 << 16);
        while (got < total) {
            const int n = recv(peer, buffer.data(), int(buffer.size()), 0);
            if (n <= 0)
                break;
            got += size_t(n);
        }
    });
}

void SendFileThroughput(size_t megabytes)
{
    std::printf("-- Send File of %zu MB over TCP\n", megabytes);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"ferrolink-bench\\send-file.bin";
    {
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        const std::vector<char> block(1 << 20, 's');
        DWORD written = 0;
        for (size_t i = 0; i < megabytes; ++i)
            WriteFile(file, block.data(), DWORD(block.size()), &written, nullptr);
        CloseHandle(file);
    }
    const size_t total = megabytes << 20;
    DeleteFileW(SettingsFilePath().c_str());
    CMainDlg dialog;
    dialog.Create();
    SOCKET listener = INVALID_SOCKET;
    const SOCKET peer = ConnectWindowToPeer(dialog, listener);
    std::atomic<size_t> got{0};
    std::thread reader = ReadInto(peer, got, total);
    const size_t before = WorkingSet(false);
    size_t highest = before;
    RoundTripProber prober(dialog.Handle());
    const double windowCpuBefore = ThreadCpuSeconds();
    const auto start = Clock::now();
    dialog.SendSide().SendFile(path);
    PumpUntil(dialog, [&] {
        highest = std::max(highest, WorkingSet(false));
        return got >= total;
    }, 600);
    const double seconds = Seconds(start);
    const double windowCpu = ThreadCpuSeconds() - windowCpuBefore;
    const std::vector<double> roundTrips = prober.Stop([&] { Pump(dialog); });
    reader.join();
    Figure("Send File over TCP, MB/s", double(got) / 1e6 / seconds, "MB/s");
    Figure("  the window's thread per GB sent", windowCpu / (double(total) / 1e9), "s");
    Figure("  window round trip while sending, p99", Percentile(roundTrips, 0.99), "ms");
    Figure("  highest working set growth while sending", double(highest - before) / 1e6, "MB");
    closesocket(peer);
    closesocket(listener);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    DeleteFileW(path.c_str());
}

// The link alone: a payload queued straight on a TCP client, first byte
// timed by the peer's own thread.
void LinkSendLatency()
{
    uint16_t port = 0;
    const SOCKET listener = Listen(port);
    TcpClientTransport client;
    ConnectionSettings settings;
    settings.port = port;
    client.Start(nullptr, settings);
    const SOCKET peer = accept(listener, nullptr, nullptr);
    const auto connecting = Clock::now();
    while (!client.QueueSend({}) && Seconds(connecting) < 5)
        Sleep(10);
    Sleep(100);
    std::vector<double> latencies;
    char c;
    for (int i = 0; i < 200; ++i) {
        Sleep(5);
        const auto t = Clock::now();
        client.QueueSend({'x'});
        if (recv(peer, &c, 1, 0) != 1)
            break;
        latencies.push_back(Seconds(t) * 1000);
    }
    Figure("queue on the TCP client link to first byte (no window), p50", Percentile(latencies, 0.5), "ms");
    Figure("queue on the TCP client link to first byte (no window), p99", Percentile(latencies, 0.99), "ms");
    client.Stop();
    closesocket(peer);
    closesocket(listener);
}

// What a reader sees while data floods in with Auto-scroll unticked: the
// first line in view and the selection, before and after 10 s of flood.
void ReadersPlaceUnderFlood()
{
    DeleteFileW(SettingsFilePath().c_str());
    // A bound that holds the whole 10 s, so that what is measured is the view
    // and not the trim (a trimmed line takes the view with it).
    WriteSettingInt(L"Options", L"LogCharacters", 1 << 30);
    CMainDlg dialog;
    dialog.Create();
    SOCKET listener = INVALID_SOCKET;
    const SOCKET peer = ConnectWindowToPeer(dialog, listener);
    std::atomic<bool> flooding{true};
    std::thread sender([&] {
        const std::vector<char> block(8192, 'p');
        while (flooding && send(peer, block.data(), int(block.size()), 0) > 0) {
        }
    });
    PumpUntil(dialog, [&] { return dialog.LogView()->Model().LineCount() > 500; }, 10);
    CheckDlgButton(dialog.Handle(), IDC_AUTOSCROLL, BST_UNCHECKED);
    LogModel& log = dialog.LogView()->Model();
    const LogShowOptions& show = dialog.LogView()->Options();
    log.SetTopLine(log.FirstLine() + 100);
    log.SetCaret(LogPosition{log.FirstLine() + 110, 3}, false);
    log.SetCaret(LogPosition{log.FirstLine() + 112, 9}, true);
    const uint64_t top = log.TopLine();
    const std::wstring topText = log.LineText(top, show), selected = log.SelectedText(show);
    const uint64_t received = dialog.Log().m_rxByteCount;
    PumpUntil(dialog, [] { return false; }, 10);
    const bool kept = log.TopLine() == top && log.LineText(top, show) == topText && log.SelectedText(show) == selected;
    std::printf("%-58s %12s (%.0f MB came meanwhile)\n", "Auto-scroll unticked, 10 s of flood: view and selection",
                kept ? "unchanged" : "MOVED", double(dialog.Log().m_rxByteCount - received) / 1e6);
    std::fflush(stdout);
    flooding = false;
    closesocket(peer);
    sender.join();
    closesocket(listener);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    DeleteFileW(SettingsFilePath().c_str());
}

void SendLatency(bool server)
{
    DeleteFileW(SettingsFilePath().c_str());
    CMainDlg dialog;
    dialog.Create();
    uint16_t port = 0;
    SOCKET peer = INVALID_SOCKET, listener = INVALID_SOCKET;
    if (server) {
        port = StartServer(dialog);
        peer = Connect(port);
        PumpUntil(dialog, [&] { return SendMessageW(GetDlgItem(dialog.Handle(), IDC_CLIENT_LIST), LB_GETCOUNT, 0, 0) == 1; }, 5);
    } else {
        listener = Listen(port);
        SetWindowTextW(GetDlgItem(dialog.Handle(), IDC_PORT_EDIT), std::to_wstring(port).c_str());
        SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
        peer = accept(listener, nullptr, nullptr);
        DWORD timeoutMs = 5000;
        setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
        PumpUntil(dialog, [&] { return dialog.Controller().IsRunning(); }, 5);
    }
    SetWindowTextW(GetDlgItem(dialog.Handle(), IDC_SEND_EDIT), L"x");
    // The peer notes when each byte arrives on a thread of its own, so the
    // figure is the link's, not the rest of the window's send handler.
    const int rounds = 200;
    std::vector<Clock::time_point> arrivals(rounds);
    const HANDLE arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::thread reader([&] {
        char c;
        for (int i = 0; i < rounds && recv(peer, &c, 1, 0) == 1; ++i) {
            arrivals[size_t(i)] = Clock::now();
            SetEvent(arrived);
        }
    });
    std::vector<double> latencies;
    for (int i = 0; i < rounds; ++i) {
        Sleep(5); // idle between sends, as a person sends
        const auto t = Clock::now();
        SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_SEND, BN_CLICKED), 0);
        if (WaitForSingleObject(arrived, 5000) != WAIT_OBJECT_0)
            break;
        latencies.push_back(std::chrono::duration<double>(arrivals[size_t(i)] - t).count() * 1000);
    }
    reader.join();
    CloseHandle(arrived);
    const char* who = server ? "server session" : "TCP client";
    char name[96];
    std::snprintf(name, sizeof(name), "send to first byte, %s, p50", who);
    Figure(name, Percentile(latencies, 0.5), "ms");
    std::snprintf(name, sizeof(name), "send to first byte, %s, p99", who);
    Figure(name, Percentile(latencies, 0.99), "ms");

    if (!server) {
        // A stream of 64 KB payloads queued straight on the controller's link.
        const size_t count = 400;
        std::thread reader([&] {
            std::vector<char> buffer(65536);
            size_t got = 0;
            while (got < count * 65536) {
                const int n = recv(peer, buffer.data(), int(buffer.size()), 0);
                if (n <= 0)
                    break;
                got += size_t(n);
            }
        });
        const auto t = Clock::now();
        const std::wstring big(65536, L'y');
        SetWindowTextW(GetDlgItem(dialog.Handle(), IDC_SEND_EDIT), big.c_str());
        for (size_t i = 0; i < count; ++i) {
            // The link's queue has a cap: a send past it would be refused.
            PumpUntil(dialog, [&] { return dialog.Controller().QueuedBytes() + big.size() <= SendQueueCap(); }, 10);
            SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_SEND, BN_CLICKED), 0);
        }
        reader.join();
        Figure("stream of 64 KB text payloads through Send, MB/s", double(count * 65536) / 1e6 / Seconds(t), "MB/s");
    }
    closesocket(peer);
    if (listener != INVALID_SOCKET)
        closesocket(listener);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
}

// What the machine does with the window open and no link, for the idle
// figures to be read against.
void IdleBaseline()
{
    CMainDlg dialog;
    dialog.Create();
    const double process0 = ProcessCpuSeconds(), machine0 = MachineBusySeconds();
    const auto idle = Clock::now();
    IdleFor(dialog, 10);
    const double seconds = Seconds(idle);
    Figure("no link: idle CPU of the process over 10 s (one core = 100)", (ProcessCpuSeconds() - process0) / seconds * 100, "%");
    if (machine0 >= 0)
        Figure("no link: idle CPU of the machine (with the wineserver)", (MachineBusySeconds() - machine0) / seconds * 100, "%");
}

// The floor under Disconnect: threads that each wait on their own event and
// a shared stop, woken at once and joined (what ending that many sessions
// costs before any socket is closed).
void ThreadEnds(int n)
{
    const HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back([stop] {
            const HANDLE own = CreateEventW(nullptr, FALSE, FALSE, nullptr);
            const HANDLE both[] = {stop, own};
            WaitForMultipleObjects(2, both, FALSE, INFINITE);
            CloseHandle(own);
        });
    Sleep(500);
    const auto t = Clock::now();
    SetEvent(stop);
    for (auto& thread : threads)
        thread.join();
    char name[120];
    std::snprintf(name, sizeof(name), "  %d waiting threads woken at once and joined (no sockets)", n);
    Figure(name, Seconds(t), "s");
    CloseHandle(stop);
}

void ServerScale(int clients)
{
    CMainDlg dialog;
    dialog.Create();
    const uint16_t port = StartServer(dialog);
    const HWND list = GetDlgItem(dialog.Handle(), IDC_CLIENT_LIST);
    auto listed = [&] { return int(SendMessageW(list, LB_GETCOUNT, 0, 0)); };

    std::vector<SOCKET> sockets;
    const auto start = Clock::now();
    for (int i = 0; i < clients; ++i)
        sockets.push_back(Connect(port));
    char name[120];
    std::snprintf(name, sizeof(name), "  %d clients: connecting them (the bench's side, window not pumped)", clients);
    Figure(name, Seconds(start), "s");
    const double limit = 120;
    PumpProfile profile;
    const bool all = PumpUntil(dialog, [&] { return listed() == clients; }, limit, &profile);
    if (all)
        std::snprintf(name, sizeof(name), "%d clients: all shown in the client list", clients);
    else
        std::snprintf(name, sizeof(name), "%d clients: shown in the list after %.0f s: %d; time", clients, limit, listed());
    const double listing = Seconds(start);
    Figure(name, listing, "s");
    ProfileFigures(profile, listing);

    const std::wstring payload(1024, L'b');
    SetWindowTextW(GetDlgItem(dialog.Handle(), IDC_SEND_EDIT), payload.c_str());
    const auto sent = Clock::now();
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_SEND, BN_CLICKED), 0);
    std::vector<char> buffer(1024);
    int reached = 0;
    for (SOCKET s : sockets) {
        size_t got = 0;
        while (got < 1024) {
            const int n = recv(s, buffer.data(), int(buffer.size() - got), 0);
            if (n <= 0)
                break;
            got += size_t(n);
        }
        reached += got == 1024 ? 1 : 0;
    }
    std::snprintf(name, sizeof(name), "%d clients: 1 KB broadcast received by all (%d reached)", clients, reached);
    Figure(name, Seconds(sent), "s");

    const double process0 = ProcessCpuSeconds(), machine0 = MachineBusySeconds();
    const auto idle = Clock::now();
    IdleFor(dialog, 10);
    const double seconds = Seconds(idle);
    std::snprintf(name, sizeof(name), "%d clients: idle CPU of the process over 10 s (one core = 100)", clients);
    Figure(name, (ProcessCpuSeconds() - process0) / seconds * 100, "%");
    if (machine0 >= 0) {
        std::snprintf(name, sizeof(name), "%d clients: idle CPU of the machine (with the wineserver)", clients);
        Figure(name, (MachineBusySeconds() - machine0) / seconds * 100, "%");
    }
    const auto stop = Clock::now();
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    std::snprintf(name, sizeof(name), "%d clients: Disconnect (all session threads joined)", clients);
    Figure(name, Seconds(stop), "s");
    for (SOCKET s : sockets)
        closesocket(s);
    Pump(dialog); // the farewells of the sessions
}

// An open serial port that nothing is sent to or from.
void SerialIdle(const wchar_t* port)
{
    SerialTransport serial;
    ConnectionSettings settings;
    settings.useSerial = 1;
    settings.serialPort = port;
    serial.Start(nullptr, settings);
    const auto opening = Clock::now();
    while (!serial.IsPortOpen() && serial.IsRunning() && Seconds(opening) < 5)
        Sleep(10);
    if (!serial.IsPortOpen()) {
        std::printf("serial: %ls could not be opened\n", port);
        return;
    }
    Sleep(500);
    const double process0 = ProcessCpuSeconds(), machine0 = MachineBusySeconds();
    const auto idle = Clock::now();
    Sleep(10000);
    const double seconds = Seconds(idle);
    Figure("serial port open and idle: CPU of the process over 10 s", (ProcessCpuSeconds() - process0) / seconds * 100, "%");
    if (machine0 >= 0)
        Figure("serial port open and idle: CPU of the machine", (MachineBusySeconds() - machine0) / seconds * 100, "%");
    serial.Stop();
}

double MicrosPerCall(const std::function<void()>& call)
{
    const int calls = 3000;
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i)
        call();
    return Seconds(start) / calls * 1e6;
}

// `binary`: every character value below 0x100 in turn, a quarter of them
// control characters, which show as named boxes.
LogRecord BenchLine(size_t length, bool binary = false)
{
    LogRecord record;
    record.kind = TransportEventKind::Received;
    GetLocalTime(&record.time);
    record.text.assign(length, L'l');
    if (binary)
        for (size_t i = 0; i < length; ++i)
            record.text[i] = wchar_t(i % 256);
    return record;
}

// Appends at steady state (the oldest line going for each new one) under the
// program's own bounds.
// Returns the log, so that the next one measured cannot reuse its memory.
LogModel AppendCost(size_t length)
{
    const size_t before = WorkingSet(false);
    LogModel log;
    const LogRecord line = BenchLine(length);
    const int lines = 200000;
    for (int i = 0; i < lines; ++i)
        log.Append(line);
    const double perLine = (double(WorkingSet(false)) - double(before)) / double(log.LineCount());
    const auto start = Clock::now();
    for (int i = 0; i < lines; ++i)
        log.Append(line);
    char name[120];
    std::snprintf(name, sizeof(name), "append one %zu-character line to a full log", length);
    Figure(name, Seconds(start) / lines * 1e6, "us");
    std::snprintf(name, sizeof(name), "  the log then holds %zu lines, characters", log.LineCount());
    Figure(name, double(log.CharacterCount()), "");
    Figure("  memory per line held (working set)", perLine, "bytes");
    return log;
}

// A refresh tick that brings news and the paint after it, with the view
// following the end of a log of `lines` lines.
void TickAndPaintCost(CLogView& view, size_t lines, size_t length, bool binary = false)
{
    LogModel& log = view.Model();
    log.Clear();
    LogModel::Limits limits;
    limits.lines = lines;
    limits.characters = size_t(1) << 31;
    log.SetLimits(limits);
    const LogRecord line = BenchLine(length, binary);
    for (size_t i = 0; i < lines; ++i)
        log.Append(line);
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, 900, 300);
    SelectObject(dc, bitmap);
    const int rounds = 50;
    double ticks = 0, paints = 0;
    for (int i = 0; i < rounds; ++i) {
        log.Append(line);
        auto t = Clock::now();
        view.Refresh(true);
        ticks += Seconds(t);
        t = Clock::now();
        SendMessageW(view.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
        paints += Seconds(t);
    }
    DeleteDC(dc);
    DeleteObject(bitmap);
    ReleaseDC(nullptr, screen);
    char name[120];
    std::snprintf(name, sizeof(name), "log of %zu lines of %zu %scharacters: refresh tick / paint", lines, length,
                  binary ? "binary " : "");
    std::printf("%-58s %12.3f / %.3f ms\n", name, ticks / rounds * 1000, paints / rounds * 1000);
    std::fflush(stdout);
}

// What framing costs the window's thread for each block received: 8 KiB of
// 40-byte text lines, as a busy device sends them.
void FramerCosts()
{
    std::printf("-- framing\n");
    std::vector<uint8_t> block;
    while (block.size() + 40 <= 8192) {
        const char line[] = "T1=21.5;T2=19.7;P=1013.2;H=41;ok....\r\n";
        block.insert(block.end(), line, line + 40);
    }
    const struct {
        const char* name;
        FramingMode mode;
    } modes[] = {{"as received", FramingMode::AsReceived}, {"lines", FramingMode::Lines},
                 {"delimiter 0D 0A", FramingMode::Delimiter}, {"idle gap", FramingMode::IdleGap},
                 {"fixed length 64", FramingMode::FixedLength}};
    for (const auto& m : modes) {
        FramingOptions options;
        options.mode = m.mode;
        options.fixedLength = 64;
        Framer framer(options);
        std::vector<FramedMessage> out;
        uint64_t now = 0;
        char name[96];
        std::snprintf(name, sizeof(name), "framer, one 8 KiB block of 40-byte lines: %s", m.name);
        Figure(name, MicrosPerCall([&] {
                   out.clear();
                   framer.Add(block.data(), block.size(), now += 1000, out);
               }),
               "us");
    }
}

void LogCosts()
{
    const LogModel shortLines = AppendCost(80);
    const LogModel longLines = AppendCost(8192);

    CMainDlg dialog;
    dialog.Create();
    {
        // One flood event through the window's handler, made up of its parts.
        const std::vector<uint8_t> block(8192, 'e');
        const std::wstring text = DecodeReceivedText(block.data(), block.size());
        const auto handleEvent = [&] {
            auto event = std::make_unique<TransportEvent>();
            event->kind = TransportEventKind::Received;
            event->text = text;
            event->data = block;
            SendMessageW(dialog.Handle(), WM_TRANSPORT_EVENT, 0, reinterpret_cast<LPARAM>(event.release()));
        };
        Figure("handling one 8 KB received event in the window (log, capture, hex view)", MicrosPerCall(handleEvent),
               "us");
        {
            Journal journal(size_t(64) << 20, L"");
            Figure("  of which could be: the journal's append (no spilling)", MicrosPerCall([&] {
                       journal.Append(TrafficDirection::Received, 0, 1, 0, L"", block.data(), block.size());
                       if (journal.BytesInMemory() > (size_t(60) << 20))
                           journal.Clear();
                   }),
                   "us");
        }
        Figure("  for comparison: a control looked up by id through the dialog's cache",
               MicrosPerCall([&] { dialog.Item(IDC_AUTOSCROLL); }), "us");
        Figure("  for comparison: a control looked up by id by the system (GetDlgItem)",
               MicrosPerCall([&] { GetDlgItem(dialog.Handle(), IDC_AUTOSCROLL); }), "us");
        LogModel growing;
        Figure("  of which could be: the log line", MicrosPerCall([&] {
                   LogRecord record;
                   record.kind = TransportEventKind::Received;
                   GetLocalTime(&record.time);
                   record.text = StripEscapeSequences(text);
                   growing.Append(std::move(record));
               }),
               "us");
        // With Pause RX ticked the handler drops the event: what is left is
        // the message itself and the handler's checks.
        CheckDlgButton(dialog.Handle(), IDC_PAUSE_RX, BST_CHECKED);
        Figure("  of which could be: the message and the handler's checks (Pause RX)", MicrosPerCall(handleEvent), "us");
        CheckDlgButton(dialog.Handle(), IDC_PAUSE_RX, BST_UNCHECKED);
        Figure("  decoding 8 KB on the worker thread, for comparison",
               MicrosPerCall([&] { DecodeReceivedText(block.data(), block.size()); }), "us");
        SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CLEAR, BN_CLICKED), 0);
    }

    CLogView* view = dialog.LogView();
    MoveWindow(view->Handle(), 0, 0, 900, 300, FALSE);
    for (size_t lines : {size_t(1000), size_t(100000), size_t(1000000)})
        TickAndPaintCost(*view, lines, 80);
    for (size_t lines : {size_t(1000), size_t(8000)}) // 8 K lines: the character bound holds about 8000
        TickAndPaintCost(*view, lines, 8192);
    TickAndPaintCost(*view, 1000, 8192, true);
    view->Model().Clear();

    // 1 GB of traffic, 64 KiB a block in turns of received and sent, most of
    // it spilled to disk; the hex view painted at its end, its middle (read
    // back from the spill file) and its start.
    CHexView* hex = dialog.LogHexView();
    MoveWindow(hex->Handle(), 0, 0, 600, 400, FALSE);
    const std::vector<uint8_t> block(65536, 0x5A);
    for (int i = 0; i < 16384; ++i) {
        auto event = std::make_unique<TransportEvent>();
        event->kind = i % 2 ? TransportEventKind::Sent : TransportEventKind::Received;
        event->data = block;
        SendMessageW(dialog.Handle(), WM_TRANSPORT_EVENT, 0, reinterpret_cast<LPARAM>(event.release()));
        if (i % 256 == 0)
            dialog.LogView()->Model().Clear(); // the lines are not what is measured
    }
    SendMessageW(dialog.Handle(), WM_TIMER, 2, 0);
    hex->ScrollToEnd();
    std::printf("  journal: %llu bytes, %llu of them spilled, %zu blocks; hex view: %lld rows\n",
                (unsigned long long)dialog.Log().m_journal.Size(),
                (unsigned long long)dialog.Log().m_journal.SpilledBytes(), dialog.Log().m_journal.RecordCount(),
                (long long)hex->Model().TotalRows());
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, 600, 400);
    SelectObject(dc, bitmap);
    const auto paintAt = [&](const char* name) {
        const auto paint = Clock::now();
        for (int i = 0; i < 20; ++i)
            SendMessageW(hex->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
        Figure(name, Seconds(paint) / 20 * 1000, "ms");
    };
    paintAt("paint of the log hex view, 1 GB journalled, at the end (memory)");
    SendMessageW(hex->Handle(), WM_VSCROLL, SB_TOP, 0);
    hex->SelectFound(int64_t(dialog.Log().m_journal.Size() / 2), 1);
    paintAt("paint of the log hex view, 1 GB journalled, in the middle (spill file)");
    SendMessageW(hex->Handle(), WM_VSCROLL, SB_TOP, 0);
    paintAt("paint of the log hex view, 1 GB journalled, at the start (spill file)");
    DeleteDC(dc);
    DeleteObject(bitmap);
    ReleaseDC(nullptr, screen);
}

// A serial device's traffic: ten million blocks of 8 bytes, the journal at
// its default budget. The records, not the bytes, are what could fill the
// memory here.
void SmallBlocksJournal()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    JournalFolder folder(std::wstring(temp) + L"ferrolink-bench");
    const size_t before = WorkingSet(false);
    {
        Journal journal(size_t(64) << 20, folder.Path() + L"\\traffic.bin");
        JournalRows rows(journal, 16);
        const uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        size_t highest = before;
        const auto start = Clock::now();
        for (uint32_t i = 0; i < 10000000; ++i) {
            journal.Append(i % 2 ? TrafficDirection::Sent : TrafficDirection::Received, i, 1, 0, L"", block, 8);
            if (i % 100000 == 0) {
                rows.Update();
                highest = std::max(highest, WorkingSet(false));
            }
        }
        rows.Update();
        Figure("journal of 10 000 000 blocks of 8 bytes: append per block", Seconds(start) / 1e7 * 1e6, "us");
        Figure("  records held in memory", double(journal.RecordsInMemory()), "");
        Figure("  highest working set growth", (double(highest) - double(before)) / 1e6, "MB");
        std::mt19937_64 random(1);
        Figure("  record of a byte anywhere, looked up (its page read back from the spill file)",
               MicrosPerCall([&] { journal.Record(journal.RecordAt(random() % journal.Size())); }), "us");
    }
}

// What a save costs now that each builds a new file and puts it in the old
// one's place, and what a megabyte in the send box costs the window.
void SettingsAndSendBox()
{
    std::printf("-- Settings and the send box\n");
    DeleteFileW(SettingsFilePath().c_str());
    HistoryList history;
    for (int i = 0; i < 100; ++i)
        history.push_back(L"sent text number " + std::to_wstring(i));
    SaveSendHistory(history);
    std::vector<double> saves, appends;
    for (int i = 0; i < 50; ++i) {
        auto start = Clock::now();
        {
            SettingsLock saving;
            SaveConnectionSettings(ConnectionSettings{});
            SaveSendOptions(SendOptions{});
            MergeSendHistory(history);
            SaveWindowRect(RECT{i, 0, i + 1000, 800});
        }
        saves.push_back(Seconds(start) * 1000);
        start = Clock::now();
        AppendSendHistory(L"appended " + std::to_wstring(i));
        appends.push_back(Seconds(start) * 1000);
    }
    Figure("a close's save (connection, options, 100 texts, rectangle), p50", Percentile(saves, 0.5), "ms");
    Figure("a sent text's history entry, p50", Percentile(appends, 0.5), "ms");

    DeleteFileW(SettingsFilePath().c_str());
    CMainDlg dialog;
    dialog.Create();
    const HWND edit = GetDlgItem(dialog.Handle(), IDC_SEND_EDIT);
    std::wstring text;
    while (text.size() < (1 << 20))
        text += L"0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ the quick brown fox\r\n";
    auto start = Clock::now();
    SetWindowTextW(edit, text.c_str());
    Figure("1 MB of text put into the send box", Seconds(start) * 1000, "ms");
    start = Clock::now();
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"x"));
    Figure("  then one character typed", Seconds(start) * 1000, "ms");
    // Hex dumps and base64 come as one long line.
    std::wstring oneLine = text;
    std::replace(oneLine.begin(), oneLine.end(), L'\r', L'_');
    std::replace(oneLine.begin(), oneLine.end(), L'\n', L'_');
    start = Clock::now();
    SetWindowTextW(edit, oneLine.c_str());
    Figure("1 MB of text in one line put into the send box", Seconds(start) * 1000, "ms");
    start = Clock::now();
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"x"));
    Figure("  then one character typed", Seconds(start) * 1000, "ms");
    SetWindowTextW(edit, text.c_str());
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"x"));
    {
        // The send box as it was: its lines wrap, so each change lays out
        // the whole text again. A tenth of the megabyte.
        const HWND wrapping = CreateWindowExW(
            0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_VSCROLL, 0, 0,
            800, 60, dialog.Handle(), nullptr, nullptr, nullptr);
        SendMessageW(wrapping, EM_SETLIMITTEXT, 0, 0);
        start = Clock::now();
        SetWindowTextW(wrapping, text.substr(0, 100 * 1024).c_str());
        Figure("a wrapping edit, as the send box was: 100 KB in lines put in", Seconds(start) * 1000, "ms");
        start = Clock::now();
        SetWindowTextW(wrapping, oneLine.substr(0, 100 * 1024).c_str());
        Figure("  100 KB in one line put in", Seconds(start) * 1000, "ms");
        start = Clock::now();
        SendMessageW(wrapping, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"x"));
        Figure("  then one character typed", Seconds(start) * 1000, "ms");
        DestroyWindow(wrapping);
    }
    SOCKET listener = INVALID_SOCKET;
    const SOCKET peer = ConnectWindowToPeer(dialog, listener);
    const size_t expected = text.size() + 1; // ASCII, and the typed character
    std::atomic<size_t> got{0};
    std::thread reader = ReadInto(peer, got, expected);
    start = Clock::now();
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_SEND, BN_CLICKED), 0);
    Figure("Send of that 1 MB text: the window's handler", Seconds(start) * 1000, "ms");
    PumpUntil(dialog, [&] { return got >= expected; }, 30);
    Figure("  until the peer has it all and the window is idle", Seconds(start) * 1000, "ms");
    closesocket(peer);
    reader.join();
    closesocket(listener);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    DeleteFileW(SettingsFilePath().c_str());
}

} // namespace


// All 256 byte values, in a pattern that a byte lost or moved shows.
std::vector<char> BinaryBlock(size_t size, size_t at)
{
    std::vector<char> block(size);
    for (size_t i = 0; i < size; ++i)
        block[i] = char(uint8_t((at + i) * 7 + (at + i) / 65536));
    return block;
}

bool FileHoldsTheBinaryFlood(const std::wstring& path, size_t total)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::vector<char> got(1 << 20);
    size_t at = 0;
    bool same = true;
    DWORD n = 0;
    while (same && ReadFile(file, got.data(), DWORD(got.size()), &n, nullptr) && n) {
        const std::vector<char> expected = BinaryBlock(n, at);
        same = std::equal(expected.begin(), expected.end(), got.begin());
        at += n;
    }
    CloseHandle(file);
    return same && at == total;
}

// A flood of binary bytes into the TCP client with the default settings:
// memory must stay within the journal's budget and the link's, however much
// comes. With one log line per byte (Fixed length 1) the window still
// answers, the count is exact and the saved bytes are the sent ones.
void BoundedFlood(size_t total, bool linePerByte)
{
    std::printf("-- binary flood of %zu MB into the TCP client%s\n", total >> 20,
                linePerByte ? ", Framing \"Fixed length 1\"" : "");
    DeleteFileW(SettingsFilePath().c_str());
    if (linePerByte) {
        FramingOptions framing = LoadFraming(FramedLink::Tcp);
        framing.mode = FramingMode::FixedLength;
        framing.fixedLength = 1;
        SaveFraming(FramedLink::Tcp, framing);
    }
    CMainDlg dialog;
    dialog.Create();
    SOCKET listener = INVALID_SOCKET;
    const SOCKET peer = ConnectWindowToPeer(dialog, listener);
    const size_t before = WorkingSet(false);
    size_t highest = before;
    auto lastSample = Clock::now();
    RoundTripProber prober(dialog.Handle());
    const auto start = Clock::now();
    std::thread sender([&] {
        for (size_t sent = 0; sent < total;) {
            const std::vector<char> block = BinaryBlock(std::min<size_t>(1 << 20, total - sent), sent);
            SendAll(peer, block, block.size());
            sent += block.size();
        }
    });
    PumpUntil(dialog, [&] {
        if (Seconds(lastSample) >= 0.1) {
            lastSample = Clock::now();
            highest = std::max(highest, WorkingSet(false));
        }
        return dialog.Log().m_rxByteCount >= total;
    }, 3600);
    const double seconds = Seconds(start);
    const std::vector<double> roundTrips = prober.Stop([&] { Pump(dialog); });
    sender.join();
    const double budget = double(size_t(LoadLogOptions().journalMegabytes) << 20);
    Figure("received through the window, MB/s", double(dialog.Log().m_rxByteCount) / 1e6 / seconds, "MB/s");
    Figure("RX count less bytes sent (0: exact)", double(dialog.Log().m_rxByteCount) - double(total), "bytes");
    Figure("highest working set during the flood", double(highest) / 1e6, "MB");
    Figure("  bound: 2 x journal budget + 100 MB", (2 * budget + 100e6) / 1e6, "MB");
    Figure("working set growth over the flood", (double(WorkingSet(false)) - double(before)) / 1e6, "MB");
    Figure("window round trip during flood, p99", Percentile(roundTrips, 0.99), "ms");
    std::printf("  the log holds %zu lines, the journal %zu blocks (%llu MB spilled)\n",
                dialog.LogView()->Model().LineCount(), dialog.Log().m_journal.RecordCount(),
                (unsigned long long)(dialog.Log().m_journal.SpilledBytes() >> 20));
    closesocket(peer);
    closesocket(listener);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);

    // The whole journal saved: as .bin here, .pcapng in the save figure.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"ferrolink-bench\\flood.bin";
    const auto saving = Clock::now();
    RoundTripProber saveProber(dialog.Handle());
    dialog.LogSide().SaveTo(path);
    PumpUntil(dialog, [&] { return !dialog.LogSide().Busy(); }, 3600);
    const std::vector<double> saveTrips = saveProber.Stop([&] { Pump(dialog); });
    Figure("save as .bin, s", Seconds(saving), "s");
    Figure("window round trip during the save, p99", Percentile(saveTrips, 0.99), "ms");
    std::printf("  the .bin file %s what was sent\n", FileHoldsTheBinaryFlood(path, total) ? "equals" : "DIFFERS from");
    DeleteFileW(path.c_str());
    if (linePerByte) {
        FramingOptions framing = LoadFraming(FramedLink::Tcp);
        framing.mode = FramingMode::AsReceived;
        SaveFraming(FramedLink::Tcp, framing);
    }
}

// After a flood, a save as .pcapng and a copy of a large hex selection run
// off the window's thread: the window answers throughout.
void SaveAndCopyWhileAnswering(size_t total)
{
    std::printf("-- save as .pcapng and Hex Copy after %zu MB\n", total >> 20);
    DeleteFileW(SettingsFilePath().c_str());
    CMainDlg dialog;
    dialog.Create();
    SOCKET listener = INVALID_SOCKET;
    const SOCKET peer = ConnectWindowToPeer(dialog, listener);
    std::thread sender([&] { SendAll(peer, BinaryBlock(1 << 20, 0), total); });
    PumpUntil(dialog, [&] { return dialog.Log().m_rxByteCount >= total; }, 3600);
    sender.join();
    closesocket(peer);
    closesocket(listener);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    const size_t before = WorkingSet(false);

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"ferrolink-bench\\save.pcapng";
    size_t highest = before;
    auto start = Clock::now();
    RoundTripProber prober(dialog.Handle());
    dialog.LogSide().SaveTo(path);
    PumpUntil(dialog, [&] {
        highest = std::max(highest, WorkingSet(false));
        return !dialog.LogSide().Busy();
    }, 3600);
    std::vector<double> trips = prober.Stop([&] { Pump(dialog); });
    WIN32_FILE_ATTRIBUTE_DATA info{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info);
    DeleteFileW(path.c_str());
    Figure("save as .pcapng, s", Seconds(start), "s");
    Figure("  file size", double(uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow) / 1e6, "MB");
    Figure("  window round trip meanwhile, p99", Percentile(trips, 0.99), "ms");
    Figure("  working set growth meanwhile", (double(highest) - double(before)) / 1e6, "MB");

    // The hex view's selection: its newest 16 MB (48 MB of text) to the clipboard.
    TabCtrl_SetCurSel(GetDlgItem(dialog.Handle(), IDC_LOG_TABS), 1);
    NMHDR header{GetDlgItem(dialog.Handle(), IDC_LOG_TABS), UINT_PTR(IDC_LOG_TABS), UINT(TCN_SELCHANGE)};
    SendMessageW(dialog.Handle(), WM_NOTIFY, IDC_LOG_TABS, reinterpret_cast<LPARAM>(&header));
    CHexView* hex = dialog.LogHexView();
    const int64_t size = int64_t(dialog.Log().m_journal.Size());
    hex->SelectFound(size - (16 << 20), 16 << 20);
    highest = WorkingSet(false);
    const size_t copyBefore = highest;
    start = Clock::now();
    RoundTripProber copyProber(dialog.Handle());
    hex->CopySelection();
    PumpUntil(dialog, [&] {
        highest = std::max(highest, WorkingSet(false));
        return !dialog.LogSide().Busy();
    }, 3600);
    trips = copyProber.Stop([&] { Pump(dialog); });
    Figure("Hex Copy of 16 MB (48 MB of text), s", Seconds(start), "s");
    Figure("  window round trip meanwhile, p99", Percentile(trips, 0.99), "ms");
    Figure("  window round trip meanwhile, max", Percentile(trips, 1.0), "ms");
    Figure("  working set growth meanwhile", (double(highest) - double(copyBefore)) / 1e6, "MB");
    // Handed over when a program pastes it: the cost the copy no longer has.
    const auto pasting = Clock::now();
    if (OpenClipboard(nullptr)) {
        GetClipboardData(CF_UNICODETEXT);
        CloseClipboard();
    }
    Figure("  a paste of it (the window hands the text over then)", Seconds(pasting) * 1000, "ms");
}

// A server's client that never reads, sent 1 MB every 10 ms (Repeat's
// pace) for 20 s: its queue stops at the cap, and so does memory.
void StuckClient()
{
    std::printf("-- 1 MB every 10 ms to a server client that never reads, 20 s\n");
    DeleteFileW(SettingsFilePath().c_str());
    CMainDlg dialog;
    dialog.Create();
    const uint16_t port = StartServer(dialog);
    const SOCKET stuck = Connect(port);
    PumpUntil(dialog, [&] { return SendMessageW(GetDlgItem(dialog.Handle(), IDC_CLIENT_LIST), LB_GETCOUNT, 0, 0) == 1; }, 5);
    SetWindowTextW(GetDlgItem(dialog.Handle(), IDC_SEND_EDIT), std::wstring(1 << 20, L'z').c_str());
    const size_t before = WorkingSet(false);
    size_t highest = before;
    int refused = 0, sent = 0;
    const auto start = Clock::now();
    while (Seconds(start) < 20) {
        const auto tick = Clock::now();
        const size_t queued = dialog.Controller().QueuedBytes();
        SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_SEND, BN_CLICKED), 0);
        (dialog.Controller().QueuedBytes() > queued ? sent : refused)++;
        highest = std::max(highest, WorkingSet(false));
        PumpUntil(dialog, [&] { return Seconds(tick) >= 0.01; }, 1);
    }
    Figure("sends taken / refused as backed up", double(sent), "taken");
    Figure("  refused", double(refused), "sends");
    Figure("queued for the client at the end", double(dialog.Controller().QueuedBytes()) / 1e6, "MB");
    Figure("working set growth over 20 s", (double(highest) - double(before)) / 1e6, "MB");
    Figure("  bound: queue cap + 50 MB", double(SendQueueCap() + (50 << 20)) / 1e6, "MB");
    closesocket(stuck);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
}

// 20 000 senders to a UDP listener, each from a port of its own: the list
// keeps the newest 4096, and memory stays put.
void ManySenders(int senders)
{
    std::printf("-- %d UDP senders to a listener\n", senders);
    DeleteFileW(SettingsFilePath().c_str());
    CMainDlg dialog;
    dialog.Create();
    const uint16_t port = FreeServerPort();
    SendMessageW(GetDlgItem(dialog.Handle(), IDC_COMM_COMBO), CB_SETCURSEL, 1, 0);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_COMM_COMBO, CBN_SELCHANGE), 0);
    SendMessageW(GetDlgItem(dialog.Handle(), IDC_MODE_COMBO), CB_SETCURSEL, 1, 0);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_MODE_COMBO, CBN_SELCHANGE), 0);
    SetWindowTextW(GetDlgItem(dialog.Handle(), IDC_PORT_EDIT), std::to_wstring(port).c_str());
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    PumpUntil(dialog, [&] { return dialog.Controller().IsRunning(); }, 5);
    Sleep(200);
    const size_t before = WorkingSet(false);
    size_t highest = before;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto start = Clock::now();
    for (int i = 0; i < senders; ++i) {
        const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sendto(s, "hi", 2, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
        closesocket(s);
        if (i % 200 == 199) {
            Pump(dialog);
            highest = std::max(highest, WorkingSet(false));
        }
    }
    PumpUntil(dialog, [&] { return dialog.Log().m_rxByteCount >= uint64_t(senders) * 2; }, 30);
    highest = std::max(highest, WorkingSet(false));
    Figure("senders sent, s", Seconds(start), "s");
    Figure("entries in the list", double(SendMessageW(GetDlgItem(dialog.Handle(), IDC_CLIENT_LIST), LB_GETCOUNT, 0, 0)),
           "entries");
    Figure("working set growth", (double(highest) - double(before)) / 1e6, "MB");
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
}

// The journal's times of each request (RX) and the reply that followed it
// on the same client (TX), in microseconds.
std::vector<double> RequestToReplyMs(const Journal& journal, size_t& requests, size_t& replies)
{
    std::vector<double> ms;
    std::map<uint32_t, uint64_t> waiting; // client: its request's time
    requests = replies = 0;
    for (size_t i = 0; i < journal.RecordCount(); ++i) {
        const JournalRecord r = journal.Record(i);
        if (r.event != JournalEvent::Data)
            continue;
        if (r.direction == TrafficDirection::Received) {
            ++requests;
            waiting[r.client] = r.timeUs;
        } else if (const auto found = waiting.find(r.client); found != waiting.end()) {
            ++replies;
            ms.push_back(double(r.timeUs - found->second) / 1000);
            waiting.erase(found);
        }
    }
    return ms;
}

void LatencyFigures(const std::vector<double>& ms)
{
    Figure("  request (RX) to reply written (TX), p50", Percentile(ms, 0.5), "ms");
    Figure("  request (RX) to reply written (TX), p99", Percentile(ms, 0.99), "ms");
    Figure("  request (RX) to reply written (TX), max", Percentile(ms, 1.0), "ms");
}

// A Modbus/TCP read of unit `unit` with that transaction id.
std::vector<char> ModbusRead(uint16_t transaction, uint8_t unit)
{
    return {char(transaction >> 8), char(transaction & 0xFF), 0, 0, 0, 6, char(unit), 3, 0, 0, 0, 1};
}

// 20 rules, one per unit id; the reply copies the request's transaction id.
Library DeviceRules()
{
    Library library;
    for (int unit = 1; unit <= 20; ++unit) {
        ResponderRule rule;
        rule.name = L"unit " + std::to_wstring(unit);
        rule.match = MatchKind::Hex;
        wchar_t hex[3];
        std::swprintf(hex, 3, L"%02X", unit);
        rule.pattern = std::wstring(L"?? ?? 00 00 00 06 ") + hex + L" 03 *";
        rule.reply.hex = true;
        rule.reply.text = L"{1} 00 00 00 05 {@6} 03 02 00 2A";
        library.rules.push_back(rule);
    }
    return library;
}

// Clients poll a server that answers by its rules, each waiting for its
// reply before the next request: every `periodMs` (staggered, as masters on
// their own clocks), or at once (0).
void ResponderLatency(int clients, int perClient, int periodMs)
{
    std::printf("-- responder: %d clients, 20 rules, %d requests, %s\n", clients, clients * perClient,
                periodMs ? ("each client every " + std::to_string(periodMs) + " ms").c_str() : "back to back");
    DeleteFileW(SettingsFilePath().c_str());
    CMainDlg dialog;
    dialog.Create();
    dialog.AutomationPart().ChangeLibrary(DeviceRules());
    dialog.AutomationPart().SetResponderOn(true);
    const uint16_t port = StartServer(dialog);
    std::vector<SOCKET> sockets;
    for (int c = 0; c < clients; ++c)
        sockets.push_back(Connect(port));
    PumpUntil(dialog, [&] {
        return SendMessageW(GetDlgItem(dialog.Handle(), IDC_CLIENT_LIST), LB_GETCOUNT, 0, 0) == clients;
    }, 30);
    std::atomic<int> wrong{0}, missing{0}, done{0};
    std::vector<std::thread> pollers;
    const auto start = Clock::now();
    for (int c = 0; c < clients; ++c)
        pollers.emplace_back([&, c] {
            const SOCKET s = sockets[size_t(c)];
            DWORD timeoutMs = 5000;
            setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
            const auto begin = Clock::now();
            for (int i = 0; i < perClient; ++i) {
                if (periodMs) {
                    const double slot = (double(i) * periodMs + double(c) * periodMs / clients) / 1000;
                    // One sleep to the slot: a hundred threads polling the clock would be the load.
                    const double left = slot - Seconds(begin);
                    if (left > 0)
                        Sleep(DWORD(left * 1000));
                }
                const uint16_t transaction = uint16_t(c * perClient + i);
                const uint8_t unit = uint8_t(1 + (c + i) % 20);
                const std::vector<char> request = ModbusRead(transaction, unit);
                send(s, request.data(), int(request.size()), 0);
                char reply[11];
                int got = 0;
                while (got < 11) {
                    const int n = recv(s, reply + got, 11 - got, 0);
                    if (n <= 0)
                        break;
                    got += n;
                }
                if (got < 11) {
                    ++missing;
                    break;
                }
                const std::vector<char> expected = {char(transaction >> 8), char(transaction & 0xFF), 0, 0, 0, 5,
                                                    char(unit), 3, 2, 0, 42};
                if (!std::equal(expected.begin(), expected.end(), reply))
                    ++wrong;
            }
            ++done;
        });
    PumpProfile profile;
    PumpUntil(dialog, [&] { return done == clients; }, 600, &profile);
    for (std::thread& t : pollers)
        t.join();
    const double seconds = Seconds(start);
    ProfileFigures(profile, seconds);
    // Anything more would be a reply doubled.
    PumpUntil(dialog, [&] { return false; }, 0.3);
    int extra = 0;
    for (SOCKET s : sockets) {
        u_long pending = 0;
        ioctlsocket(s, FIONREAD, &pending);
        extra += pending > 0;
        closesocket(s);
    }
    size_t requests = 0, replies = 0;
    const std::vector<double> ms = RequestToReplyMs(dialog.Log().m_journal, requests, replies);
    Figure("requests answered, s", seconds, "s");
    Figure("  requests in the journal", double(requests), "requests");
    Figure("  replies in the journal", double(replies), "replies");
    Figure("  replies wrong (id or client) / missing / doubled", double(wrong + missing + extra), "replies");
    LatencyFigures(ms);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
}

// The same, the masters being native Linux sockets started by run.sh (a
// hundred threads of the bench's own would share Wine's server and the two
// cores with the window).
void ResponderToNativeMasters(uint16_t port, int clients, int perClient)
{
    std::printf("-- responder: %d native masters, 20 rules, %d requests, each master every 100 ms\n", clients,
                clients * perClient);
    DeleteFileW(SettingsFilePath().c_str());
    CMainDlg dialog;
    dialog.Create();
    dialog.AutomationPart().ChangeLibrary(DeviceRules());
    dialog.AutomationPart().SetResponderOn(true);
    SendMessageW(GetDlgItem(dialog.Handle(), IDC_MODE_COMBO), CB_SETCURSEL, 1, 0);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_MODE_COMBO, CBN_SELCHANGE), 0);
    SetWindowTextW(GetDlgItem(dialog.Handle(), IDC_PORT_EDIT), std::to_wstring(port).c_str());
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    const auto start = Clock::now();
    const size_t want = size_t(clients) * size_t(perClient);
    PumpUntil(dialog, [&] {
        const Journal& journal = dialog.Log().m_journal;
        return journal.RecordCount() >= 2 * want + size_t(clients) || Seconds(start) > 150;
    }, 160);
    IdleFor(dialog, 1.0);
    size_t requests = 0, replies = 0;
    const std::vector<double> ms = RequestToReplyMs(dialog.Log().m_journal, requests, replies);
    Figure("requests in the journal", double(requests), "requests");
    Figure("  replies in the journal", double(replies), "replies");
    LatencyFigures(ms);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
}

// 100 steps of a send and a 20 ms wait, timed by the journal's TX times.
void SequenceTiming()
{
    std::printf("-- sequence: 100 rounds of send and wait 20\n");
    DeleteFileW(SettingsFilePath().c_str());
    CMainDlg dialog;
    dialog.Create();
    Library library;
    Sequence sequence{L"pace", 100, {}};
    for (const wchar_t* text : {L"send text: x", L"wait 20"}) {
        Step step;
        ParseStep(text, step);
        sequence.steps.push_back(step);
    }
    library.sequences.push_back(sequence);
    dialog.AutomationPart().ChangeLibrary(library);
    SOCKET listener = INVALID_SOCKET;
    const SOCKET peer = ConnectWindowToPeer(dialog, listener);
    std::atomic<bool> reading{true};
    std::thread reader([&] {
        char buffer[256];
        while (reading && recv(peer, buffer, sizeof(buffer), 0) > 0) {
        }
    });
    dialog.AutomationPart().RunSequence(0);
    // As the program's own loop waits: asleep until a message comes.
    const auto start = Clock::now();
    while (dialog.AutomationPart().Model().Runner().Running() && Seconds(start) < 30) {
        Pump(dialog);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    IdleFor(dialog, 0.2);
    const Journal& journal = dialog.Log().m_journal;
    std::vector<uint64_t> sent;
    for (size_t i = 0; i < journal.RecordCount(); ++i) {
        const JournalRecord r = journal.Record(i);
        if (r.event == JournalEvent::Data && r.direction == TrafficDirection::Sent)
            sent.push_back(r.timeUs);
    }
    std::vector<double> off;
    for (size_t i = 1; i < sent.size(); ++i)
        off.push_back(std::abs(double(sent[i] - sent[i - 1]) / 1000 - 20));
    Figure("sends written", double(sent.size()), "sends");
    Figure("  interval's distance from 20 ms, p50", Percentile(off, 0.5), "ms");
    Figure("  interval's distance from 20 ms, p99", Percentile(off, 0.99), "ms");
    Figure("  interval's distance from 20 ms, max", Percentile(off, 1.0), "ms");
    Figure("  whole run (100 x 20 ms asked)", sent.size() > 1 ? double(sent.back() - sent.front()) / 1000 : 0, "ms");
    reading = false;
    closesocket(peer);
    closesocket(listener);
    reader.join();
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
}

// A master polling at 1000 requests a second for 10 s while the window is
// probed.
void ResponderUnderLoad()
{
    std::printf("-- responder answering 1000 requests/s, 10 s\n");
    DeleteFileW(SettingsFilePath().c_str());
    CMainDlg dialog;
    dialog.Create();
    dialog.AutomationPart().ChangeLibrary(DeviceRules());
    dialog.AutomationPart().SetResponderOn(true);
    const uint16_t port = StartServer(dialog);
    const SOCKET master = Connect(port);
    PumpUntil(dialog, [&] { return SendMessageW(GetDlgItem(dialog.Handle(), IDC_CLIENT_LIST), LB_GETCOUNT, 0, 0) == 1; }, 5);
    std::atomic<size_t> answered{0};
    std::atomic<bool> polling{true};
    std::thread reader([&] {
        char buffer[4096];
        size_t bytes = 0;
        int n;
        while ((n = recv(master, buffer, sizeof(buffer), 0)) > 0) {
            bytes += size_t(n);
            answered = bytes / 11;
        }
    });
    std::thread poller([&] {
        const auto begin = Clock::now();
        for (size_t i = 0; polling && Seconds(begin) < 10; ++i) {
            const std::vector<char> request = ModbusRead(uint16_t(i), uint8_t(1 + i % 20));
            send(master, request.data(), int(request.size()), 0);
            // One a millisecond, on time on average.
            while (Seconds(begin) < double(i + 1) / 1000)
                Sleep(0);
        }
    });
    RoundTripProber prober(dialog.Handle());
    const auto start = Clock::now();
    while (Seconds(start) < 10.5) {
        Pump(dialog);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    polling = false;
    poller.join();
    std::vector<double> trips = prober.Stop([&] { Pump(dialog); });
    IdleFor(dialog, 0.5);
    size_t requests = 0, replies = 0;
    const std::vector<double> ms = RequestToReplyMs(dialog.Log().m_journal, requests, replies);
    Figure("requests sent", double(requests), "requests");
    Figure("  replies the master got", double(answered.load()), "replies");
    Figure("  window round trip meanwhile, p99", Percentile(trips, 0.99), "ms");
    Figure("  window round trip meanwhile, max", Percentile(trips, 1.0), "ms");
    Figure("  request (RX) to reply written (TX), p99", Percentile(ms, 0.99), "ms");
    shutdown(master, SD_BOTH);
    closesocket(master);
    reader.join();
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
}

// CRC-32 (zlib's), by table: what the bridge steps compare both ends by.
class Crc32 {
public:
    Crc32()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            m_table[i] = c;
        }
    }
    void Add(const char* data, size_t size)
    {
        for (size_t i = 0; i < size; ++i)
            m_crc = m_table[(m_crc ^ uint8_t(data[i])) & 0xFF] ^ (m_crc >> 8);
    }
    uint32_t Value() const { return ~m_crc; }

private:
    uint32_t m_table[256];
    uint32_t m_crc = 0xFFFFFFFFu;
};

// Block `index` of a stream: its number in its first bytes, so that a block
// lost, doubled or out of order changes the CRC.
void FillBlock(std::vector<char>& block, uint64_t index, uint32_t seed)
{
    uint32_t x = uint32_t(index) * 2654435761u ^ seed;
    for (char& c : block) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 24);
    }
    std::memcpy(block.data(), &index, sizeof(index));
}

// Sends `total` bytes of numbered blocks; their CRC in `crc`.
std::thread StreamOut(SOCKET s, size_t total, uint32_t seed, uint32_t& crc)
{
    return std::thread([s, total, seed, &crc] {
        std::vector<char> block(65536);
        Crc32 sum;
        for (uint64_t index = 0, sent = 0; sent < total; ++index) {
            FillBlock(block, index, seed);
            const size_t size = std::min(block.size(), total - sent);
            sum.Add(block.data(), size);
            for (size_t off = 0; off < size;) {
                const int n = send(s, block.data() + off, int(size - off), 0);
                if (n <= 0) {
                    crc = sum.Value();
                    return;
                }
                off += size_t(n);
            }
            sent += size;
        }
        crc = sum.Value();
    });
}

// Reads up to `total` bytes; how many came and their CRC.
std::thread StreamIn(SOCKET s, size_t total, std::atomic<size_t>& got, uint32_t& crc)
{
    return std::thread([s, total, &got, &crc] {
        std::vector<char> buffer(65536);
        Crc32 sum;
        while (got < total) {
            const int n = recv(s, buffer.data(), int(std::min(buffer.size(), total - got)), 0);
            if (n <= 0)
                break;
            sum.Add(buffer.data(), size_t(n));
            got += size_t(n);
        }
        crc = sum.Value();
    });
}

// The raw loop a bridge is measured against: recv from one socket and send
// all of it to the other, with the links' own receive size.
double RawCopyLoop(size_t total)
{
    uint16_t inPort = 0, outPort = 0;
    const SOCKET inListener = Listen(inPort), outListener = Listen(outPort);
    const SOCKET source = Connect(inPort);
    const SOCKET from = accept(inListener, nullptr, nullptr);
    const SOCKET to = Connect(outPort);
    const SOCKET sink = accept(outListener, nullptr, nullptr);
    uint32_t sentCrc = 0, gotCrc = 0;
    std::atomic<size_t> got{0};
    const auto start = Clock::now();
    std::thread out = StreamOut(source, total, 1, sentCrc);
    std::thread in = StreamIn(sink, total, got, gotCrc);
    std::vector<char> buffer(StreamReceiveBufferSize());
    for (size_t copied = 0; copied < total;) {
        const int n = recv(from, buffer.data(), int(buffer.size()), 0);
        if (n <= 0)
            break;
        for (int off = 0; off < n;) {
            const int w = send(to, buffer.data() + off, n - off, 0);
            if (w <= 0)
                break;
            off += w;
        }
        copied += size_t(n);
    }
    in.join();
    const double seconds = Seconds(start);
    out.join();
    for (SOCKET s : {source, from, to, sink, inListener, outListener})
        closesocket(s);
    return double(got) / 1e6 / seconds;
}

// A TCP proxy through the window: a source sends to A (the window's TCP
// server), B (its TCP client) hands it on to a sink; both ends' CRC-32s.
void BridgeTcpToTcp(size_t total)
{
    std::printf("-- bridge: %zu MB from a client of A to the server B connects to\n", total >> 20);
    DeleteFileW(SettingsFilePath().c_str());
    uint16_t sinkPort = 0;
    const SOCKET sinkListener = Listen(sinkPort);
    BridgeSettings bridge;
    bridge.on = true;
    bridge.second.ip = L"127.0.0.1";
    bridge.second.port = sinkPort;
    SaveBridgeSettings(bridge);
    CMainDlg dialog;
    dialog.Create();
    const uint16_t port = StartServer(dialog);
    const SOCKET sink = accept(sinkListener, nullptr, nullptr);
    const SOCKET source = Connect(port);
    PumpUntil(dialog, [&] { return dialog.Clients().Roster().Size() > 0; }, 5);
    uint32_t sentCrc = 0, gotCrc = 0;
    std::atomic<size_t> got{0};
    RoundTripProber prober(dialog.Handle());
    const auto start = Clock::now();
    std::thread out = StreamOut(source, total, 1, sentCrc);
    std::thread in = StreamIn(sink, total, got, gotCrc);
    PumpProfile profile;
    const double cpuBefore = ProcessCpuSeconds();
    PumpUntil(dialog, [&] { return got >= total; }, 1200, &profile);
    const double seconds = Seconds(start);
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const std::vector<double> roundTrips = prober.Stop([&] { Pump(dialog); });
    if (got < total) { // what did not come never will: the readers end
        shutdown(sink, SD_BOTH);
        shutdown(source, SD_BOTH);
    }
    in.join();
    out.join();
    Figure("bridge TCP to TCP through the window, MB/s", double(got) / 1e6 / seconds, "MB/s");
    const double raw = RawCopyLoop(total);
    Figure("raw Winsock copy loop (recv, send), MB/s", raw, "MB/s");
    Figure("bridge / raw", double(got) / 1e6 / seconds / raw * 100, "%");
    Figure("window round trip during the bridge, p99", Percentile(roundTrips, 0.99), "ms");
    Figure("window round trip during the bridge, max", Percentile(roundTrips, 1.0), "ms");
    Figure("processor time of all threads per GB bridged", cpu / (double(total) / 1e9), "s");
    ProfileFigures(profile, seconds);
    std::printf("  %zu of %zu bytes; CRC-32 sent %08X, received %08X: %s\n", got.load(), total, sentCrc, gotCrc,
                got == total && sentCrc == gotCrc ? "equal" : "DIFFERENT");
    std::printf("  lost: %ls\n", LostText(dialog.Log()).empty() ? L"nothing" : LostText(dialog.Log()).c_str());
    for (SOCKET s : {source, sink, sinkListener})
        closesocket(s);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
}

// A serial port served on a TCP port, both ways at once: the bench plays
// the device on the far end of the pseudo-terminal pair and B's client.
void BridgeSerialToTcp(const wchar_t* port, const wchar_t* devicePort, size_t total)
{
    std::printf("-- bridge: %ls to a TCP server, %zu MB each way at once\n", port, total >> 20);
    const HANDLE device = CreateFileW((std::wstring(L"\\\\.\\") + devicePort).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        std::printf("  %ls could not be opened\n", devicePort);
        return;
    }
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 20, 2, 200};
    SetCommTimeouts(device, &timeouts);
    DeleteFileW(SettingsFilePath().c_str());
    ConnectionSettings serial;
    serial.useSerial = 1;
    serial.serialPort = port;
    SaveConnectionSettings(serial);
    const uint16_t tcpPort = FreeServerPort();
    BridgeSettings bridge;
    bridge.on = true;
    bridge.second.isServer = 1;
    bridge.second.port = tcpPort;
    SaveBridgeSettings(bridge);
    CMainDlg dialog;
    dialog.Create();
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    PumpUntil(dialog, [&] { return dialog.Controller().IsRunningOn(0) && dialog.Controller().IsRunningOn(1); }, 5);
    IdleFor(dialog, 0.3);
    const SOCKET client = Connect(tcpPort);
    PumpUntil(dialog, [&] { return dialog.Clients().Roster().Size() > 0; }, 5);

    uint32_t toDeviceCrc = 0, atDeviceCrc = 0, toClientCrc = 0, atClientCrc = 0;
    std::atomic<size_t> atDevice{0}, atClient{0};
    // The device's two directions, each on a thread of its own.
    const auto deviceIo = [&](bool write) {
        return std::thread([&, write] {
            std::vector<char> block(write ? 4096 : 65536);
            Crc32 sum;
            const auto deadline = Clock::now() + std::chrono::seconds(300);
            size_t done = 0;
            for (uint64_t index = 0; done < total && Clock::now() < deadline; ++index) {
                DWORD n = 0;
                if (write)
                    FillBlock(block, index, 2);
                const DWORD want = DWORD(std::min(block.size(), total - done));
                if (write) {
                    // A write that times out part-way goes on from where it stopped.
                    DWORD off = 0;
                    for (; off < want && Clock::now() < deadline; off += n)
                        if (!WriteFile(device, block.data() + off, want - off, &n, nullptr))
                            break;
                    sum.Add(block.data(), off);
                    done += off;
                    if (off < want)
                        break;
                    continue;
                }
                if (!ReadFile(device, block.data(), want, &n, nullptr))
                    break;
                sum.Add(block.data(), n);
                done += n;
                atDevice = done;
            }
            (write ? toDeviceCrc : atDeviceCrc) = sum.Value();
        });
    };
    RoundTripProber prober(dialog.Handle());
    const auto start = Clock::now();
    std::thread deviceOut = deviceIo(true);
    std::thread deviceIn = deviceIo(false);
    std::thread clientOut = StreamOut(client, total, 3, toClientCrc);
    std::thread clientIn = StreamIn(client, total, atClient, atClientCrc);
    PumpUntil(dialog, [&] { return atDevice >= total && atClient >= total; }, 300);
    const double seconds = Seconds(start);
    const std::vector<double> roundTrips = prober.Stop([&] { Pump(dialog); });
    if (atDevice < total || atClient < total)
        CancelIoEx(device, nullptr);
    deviceOut.join();
    deviceIn.join();
    clientOut.join();
    shutdown(client, SD_BOTH);
    clientIn.join();
    Figure("bridge serial to TCP, both ways at once, each way MB/s", double(std::min(atDevice.load(), atClient.load())) / 1e6 / seconds, "MB/s");
    Figure("window round trip during it, p99", Percentile(roundTrips, 0.99), "ms");
    std::printf("  device to client: %zu of %zu bytes, CRC-32 %08X / %08X: %s\n", atClient.load(), total, toDeviceCrc,
                atClientCrc, atClient == total && toDeviceCrc == atClientCrc ? "equal" : "DIFFERENT");
    std::printf("  client to device: %zu of %zu bytes, CRC-32 %08X / %08X: %s\n", atDevice.load(), total, toClientCrc,
                atDeviceCrc, atDevice == total && toClientCrc == atDeviceCrc ? "equal" : "DIFFERENT");
    std::printf("  lost: %ls\n", LostText(dialog.Log()).empty() ? L"nothing" : LostText(dialog.Log()).c_str());
    closesocket(client);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    PumpUntil(dialog, [&] { return !dialog.Controller().AnyWorker() || !dialog.Connected(); }, 5);
    CloseHandle(device);
}

// The window's TCP client against a peer of bench/run.sh's that sends
// `total` bytes as soon as it is connected, with TLS or without; the rate
// is timed from the first byte, so that a handshake is not in it.
void FloodFromPeer(uint16_t port, bool tls, size_t total)
{
    std::printf("-- %zu MB from a native peer, %s\n", total >> 20, tls ? "TLS" : "plain TCP");
    DeleteFileW(SettingsFilePath().c_str());
    NetworkOptions options;
    options.acceptAnyCertificate = true; // the peer's certificate is the bench's own
    SaveNetworkOptions(options);
    CMainDlg dialog;
    dialog.Create();
    SendMessageW(GetDlgItem(dialog.Handle(), IDC_TLS), BM_SETCHECK, tls ? BST_CHECKED : BST_UNCHECKED, 0);
    SetWindowTextW(GetDlgItem(dialog.Handle(), IDC_PORT_EDIT), std::to_wstring(port).c_str());
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    if (!PumpUntil(dialog, [&] { return dialog.Log().m_rxByteCount > 0; }, 20)) {
        std::printf("  nothing came from the peer\n");
        return;
    }
    RoundTripProber prober(dialog.Handle());
    const double cpuBefore = ProcessCpuSeconds();
    const auto start = Clock::now();
    PumpUntil(dialog, [&] { return dialog.Log().m_rxByteCount >= total; }, 1200);
    const double seconds = Seconds(start);
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const std::vector<double> roundTrips = prober.Stop([&] { Pump(dialog); });
    const char* kind = tls ? "TLS" : "plain";
    char name[128];
    std::snprintf(name, sizeof(name), "%s flood through the window, MB/s", kind);
    Figure(name, double(dialog.Log().m_rxByteCount) / 1e6 / seconds, "MB/s");
    std::snprintf(name, sizeof(name), "  processor time of all threads per GB, %s", kind);
    Figure(name, cpu / (double(total) / 1e9), "s");
    std::snprintf(name, sizeof(name), "  window round trip during the %s flood, p99", kind);
    Figure(name, Percentile(roundTrips, 0.99), "ms");
    if (dialog.Log().m_rxByteCount != total)
        std::printf("  received %llu bytes of %zu\n", (unsigned long long)dialog.Log().m_rxByteCount, total);
    if (dialog.Controller().IsRunning())
        SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    PumpUntil(dialog, [&] { return !dialog.Controller().IsRunning(); }, 10);
}

// TLS handshakes with a native peer on loopback, as the TCP client makes
// them: the credentials and the handshake, from a connected socket.
void TlsHandshakes(uint16_t port, int count)
{
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const SOCKET s = Connect(port);
        SocketEvent event;
        event.Watch(s, FD_READ | FD_WRITE | FD_CLOSE);
        const HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        const auto start = Clock::now();
        TlsCredentials credentials;
        std::wstring why;
        bool done = credentials.ForClient(why);
        TlsStream tls(credentials);
        done = done && tls.Handshake(s, event, stop, L"127.0.0.1", true, why);
        if (done) {
            ms.push_back(Seconds(start) * 1000);
            if (i == 0) {
                const std::vector<uint8_t> text = EncodeUtf8(tls.Summary());
                std::printf("  %.*s\n", int(text.size()), reinterpret_cast<const char*>(text.data()));
            }
            tls.Close(s);
        } else {
            const std::vector<uint8_t> text = EncodeUtf8(why);
            std::printf("  handshake failed: %.*s\n", int(text.size()), reinterpret_cast<const char*>(text.data()));
        }
        CloseHandle(stop);
        closesocket(s);
    }
    if (ms.empty())
        return;
    Figure("TLS handshake on loopback (credentials and handshake), p50", Percentile(ms, 0.5), "ms");
    Figure("TLS handshake on loopback, max", Percentile(ms, 1.0), "ms");
}

// bench/run.sh's peers: FERROLINK_BENCH_TLS = "plain-port tls-port
// handshake-port", each sending the flood on its first connection (the
// last answers any number).
void TlsAgainstPlain(size_t total)
{
    wchar_t ports[64] = {};
    if (!GetEnvironmentVariableW(L"FERROLINK_BENCH_TLS", ports, 64)) {
        std::printf("-- TLS: bench/run.sh starts the peers\n");
        return;
    }
    unsigned plain = 0, tls = 0, handshakes = 0;
    if (swscanf(ports, L"%u %u %u", &plain, &tls, &handshakes) != 3)
        return;
    FloodFromPeer(uint16_t(plain), false, total);
    FloodFromPeer(uint16_t(tls), true, total);
    TlsHandshakes(uint16_t(handshakes), 20);
}

int main(int argc, char** argv)
{
    WSADATA wsa{};
    WSAStartup(MAKEWORD(2, 2), &wsa);
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    // Keep the user's settings out of it.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    SetEnvironmentVariableW(L"LOCALAPPDATA", (std::wstring(temp) + L"ferrolink-bench").c_str());
    CreateDirectoryW((std::wstring(temp) + L"ferrolink-bench").c_str(), nullptr);
    DeleteFileW(SettingsFilePath().c_str()); // every figure starts from the default link

    const size_t floodMb = argc > 1 ? size_t(std::atoi(argv[1])) : 100;
    const int maxClients = argc > 2 ? std::atoi(argv[2]) : 1000;
    const std::string steps = argc > 3 ? argv[3] : "flood,file,send,server,serial,settings,log";
    auto wanted = [&](const char* step) { return steps.find(step) != std::string::npos; };
    if (wanted("record")) {
        // First in the process, so that its peak working set is its own.
        ReceiveFlood(floodMb << 20, 65536, std::wstring(temp) + L"ferrolink-bench\\flood.pcapng");
        ReceiveFlood(floodMb << 20, 65536);
    }
    if (wanted("flood"))
        for (size_t bufferSize : {size_t(8192), size_t(65536)})
            ReceiveFlood(floodMb << 20, bufferSize);
    SetStreamReceiveBufferSize(0); // the program's own size from here on
    if (wanted("flood"))
        ReadersPlaceUnderFlood();
    if (wanted("file"))
        SendFileThroughput(floodMb);
    if (wanted("send")) {
        LinkSendLatency();
        SendLatency(false);
        SendLatency(true);
    }
    if (wanted("server") || wanted("serial"))
        IdleBaseline();
    for (int clients : {100, 500, 1000})
        if (clients <= maxClients && wanted("server"))
            ServerScale(clients);
    if (maxClients >= 1000 && wanted("server"))
        ThreadEnds(1000);
    if (wanted("serial"))
        SerialIdle(argc > 4 ? std::wstring(argv[4], argv[4] + strlen(argv[4])).c_str() : L"COM7");
    if (wanted("settings"))
        SettingsAndSendBox();
    if (wanted("copy") && !wanted("bounds"))
        SaveAndCopyWhileAnswering(floodMb << 20);
    if (wanted("bounds")) {
        BoundedFlood(floodMb << 20, false);
        BoundedFlood(std::min<size_t>(floodMb, 100) << 20, true);
        SaveAndCopyWhileAnswering(floodMb << 20);
        StuckClient();
        ManySenders(20000);
    }
    if (wanted("automation")) {
        wchar_t port[16] = {};
        if (GetEnvironmentVariableW(L"FERROLINK_BENCH_POLLERS_PORT", port, 16))
            ResponderToNativeMasters(uint16_t(_wtoi(port)), 100, 100);
        ResponderLatency(100, 100, 100);
        ResponderLatency(100, 100, 0);
    }
    if (wanted("automation") || wanted("sequence"))
        SequenceTiming();
    if (wanted("automation"))
        ResponderUnderLoad();
    if (wanted("tls"))
        TlsAgainstPlain(floodMb << 20);
    // "bridge" runs both; "bridgetcp" or "bridgepty" one of them.
    if (wanted("bridge") && !wanted("bridgepty"))
        BridgeTcpToTcp(size_t(argc > 5 ? std::atoi(argv[5]) : 1024) << 20);
    if (wanted("bridge") && !wanted("bridgetcp"))
        BridgeSerialToTcp(L"COM7", L"COM8", size_t(argc > 6 ? std::atoi(argv[6]) : 10) << 20);
    if (wanted("log")) {
        LogCosts();
        FramerCosts();
        SmallBlocksJournal();
    }
    WSACleanup();
    return 0;
}
