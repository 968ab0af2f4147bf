// Prints one line per figure: throughput, responsiveness, memory and scale
// of the real transports and window, in process and headless.
#include "hexview/HexView.h"
#include "res/resource.h"
#include "settings/SettingsStore.h"
#include "ui/Log.h"
#include "ui/MainDlg.h"

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
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

void Pump(CMainDlg& dialog)
{
    MSG msg;
    for (int n = 0; n < 500 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++n)
        dialog.RouteMessage(msg);
}

bool PumpUntil(CMainDlg& dialog, const std::function<bool()>& done, double timeout)
{
    const auto start = Clock::now();
    while (!done()) {
        if (Seconds(start) > timeout)
            return false;
        Pump(dialog);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
    return true;
}

// Switches the window to TCP server mode and connects; returns the port.
uint16_t StartServer(CMainDlg& dialog)
{
    const uint16_t port = FreeServerPort();
    SendMessageW(GetDlgItem(dialog.Handle(), IDC_MODE_COMBO), CB_SETCURSEL, 1, 0);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_MODE_COMBO, CBN_SELCHANGE), 0);
    SetWindowTextW(GetDlgItem(dialog.Handle(), IDC_PORT_EDIT), std::to_wstring(port).c_str());
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    PumpUntil(dialog, [&] { return dialog.Controller().TcpServer().IsRunning(); }, 5);
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

double RawReceive(size_t total)
{
    uint16_t port = 0;
    const SOCKET listener = Listen(port);
    std::thread sender([&] {
        const SOCKET s = Connect(port);
        SendAll(s, std::vector<char>(65536, 'r'), total);
        closesocket(s);
    });
    const SOCKET s = accept(listener, nullptr, nullptr);
    std::vector<char> buffer(8192);
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

void ReceiveFlood(size_t total)
{
    DeleteFileW(SettingsFilePath().c_str());
    CMainDlg dialog;
    dialog.Create();
    uint16_t port = 0;
    const SOCKET listener = Listen(port);
    SetWindowTextW(GetDlgItem(dialog.Handle(), IDC_PORT_EDIT), std::to_wstring(port).c_str());
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
    const SOCKET peer = accept(listener, nullptr, nullptr);
    PumpUntil(dialog, [&] { return dialog.Controller().TcpClient().IsRunning(); }, 5);
    const size_t before = WorkingSet(false);

    std::atomic<bool> flooding{true};
    std::vector<double> roundTrips;
    std::thread prober([&] {
        while (flooding) {
            const auto t = Clock::now();
            DWORD_PTR result = 0;
            SendMessageTimeoutW(dialog.Handle(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
            roundTrips.push_back(Seconds(t) * 1000);
            Sleep(10);
        }
    });
    const auto start = Clock::now();
    std::thread sender([&] { SendAll(peer, std::vector<char>(65536, 'f'), total); });
    // The window's timers (log refresh every 100 ms) run as in the program.
    PumpUntil(dialog, [&] { return dialog.Log().m_rxByteCount >= total; }, 600);
    const double seconds = Seconds(start);
    flooding = false;
    sender.join();
    prober.join();

    Figure("receive flood through the window, MB/s", double(dialog.Log().m_rxByteCount) / 1e6 / seconds, "MB/s");
    const double raw = RawReceive(total);
    Figure("raw Winsock receive loop (8192-byte buffer), MB/s", raw, "MB/s");
    Figure("window / raw", double(total) / 1e6 / seconds / raw * 100, "%");
    Figure("window round trip during flood, p50", Percentile(roundTrips, 0.5), "ms");
    Figure("window round trip during flood, p99", Percentile(roundTrips, 0.99), "ms");
    Figure("window round trip during flood, max", Percentile(roundTrips, 1.0), "ms");
    Figure("peak working set / bytes received", double(WorkingSet(true)) / double(total), "x");
    Figure("working set growth after flood / bytes received", (double(WorkingSet(false)) - double(before)) / double(total), "x");
    closesocket(peer);
    closesocket(listener);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
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
        PumpUntil(dialog, [&] { return dialog.Controller().TcpClient().IsRunning(); }, 5);
    }
    SetWindowTextW(GetDlgItem(dialog.Handle(), IDC_SEND_EDIT), L"x");
    std::vector<double> latencies;
    char c;
    for (int i = 0; i < 200; ++i) {
        const auto t = Clock::now();
        SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_SEND, BN_CLICKED), 0);
        recv(peer, &c, 1, 0);
        latencies.push_back(Seconds(t) * 1000);
    }
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
        for (size_t i = 0; i < count; ++i)
            SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_SEND, BN_CLICKED), 0);
        reader.join();
        Figure("stream of 64 KB text payloads through Send, MB/s", double(count * 65536) / 1e6 / Seconds(t), "MB/s");
    }
    closesocket(peer);
    if (listener != INVALID_SOCKET)
        closesocket(listener);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
}

void ServerScale(int clients)
{
    CMainDlg dialog;
    dialog.Create();
    const uint16_t port = StartServer(dialog);
    const HWND list = GetDlgItem(dialog.Handle(), IDC_CLIENT_LIST);

    std::vector<SOCKET> sockets;
    const auto start = Clock::now();
    for (int i = 0; i < clients; ++i) {
        sockets.push_back(Connect(port));
        DWORD timeoutMs = 5000; // a client the server never took must not hang the run
        setsockopt(sockets.back(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
    }
    const bool all = PumpUntil(dialog, [&] { return SendMessageW(list, LB_GETCOUNT, 0, 0) == clients; }, 30);
    char name[96];
    std::snprintf(name, sizeof(name), "%d clients: all shown in the client list%s", clients,
                  all ? "" : " (not all within 30 s)");
    Figure(name, Seconds(start), "s");

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

    FILETIME c, e, k0, u0, k1, u1;
    GetProcessTimes(GetCurrentProcess(), &c, &e, &k0, &u0);
    const auto idle = Clock::now();
    PumpUntil(dialog, [] { return false; }, 5);
    GetProcessTimes(GetCurrentProcess(), &c, &e, &k1, &u1);
    auto ticks = [](const FILETIME& f) { return (uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    const double cpu = double(ticks(k1) - ticks(k0) + ticks(u1) - ticks(u0)) / 1e7;
    std::snprintf(name, sizeof(name), "%d clients: idle CPU over 5 s (one core = 100)", clients);
    Figure(name, cpu / Seconds(idle) * 100, "%");
    for (SOCKET s : sockets)
        closesocket(s);
    SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
}

void LogCosts()
{
    LogState log;
    const std::wstring text(80, L'l');
    SYSTEMTIME now{};
    GetLocalTime(&now);
    for (int i = 0; i < 6000; ++i)
        log.Append(TransportEventKind::Received, text, {}, &now);
    const int lines = 100000;
    const auto start = Clock::now();
    for (int i = 0; i < lines; ++i)
        log.Append(TransportEventKind::Received, text, {}, &now);
    Figure("append one 80-character line at steady state (with trims)", Seconds(start) / lines * 1e6, "us");

    CMainDlg dialog;
    dialog.Create();
    const HWND edit = GetDlgItem(dialog.Handle(), IDC_LOG_EDIT);
    const std::wstring shown = ForDisplay(log.m_logText);
    const auto reload = Clock::now();
    SendMessageW(edit, WM_SETREDRAW, FALSE, 0);
    SetWindowTextW(edit, shown.c_str());
    SendMessageW(edit, WM_SETREDRAW, TRUE, 0);
    Figure("refresh step after a trim (full reload, ~4900 lines of 80)", Seconds(reload) * 1000, "ms");

    CHexView* hex = dialog.LogHexView();
    MoveWindow(hex->Handle(), 0, 0, 600, 400, FALSE);
    hex->AppendBytes(std::vector<uint8_t>(100u << 20, 0x5A));
    hex->ScrollToEnd();
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, 600, 400);
    SelectObject(dc, bitmap);
    const auto paint = Clock::now();
    for (int i = 0; i < 20; ++i)
        SendMessageW(hex->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    Figure("paint of the log hex view holding 100 MB", Seconds(paint) / 20 * 1000, "ms");
    DeleteDC(dc);
    DeleteObject(bitmap);
    ReleaseDC(nullptr, screen);
}

} // namespace

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
    ReceiveFlood(floodMb << 20);
    SendLatency(false);
    SendLatency(true);
    for (int clients : {100, 500, 1000})
        if (clients <= maxClients)
            ServerScale(clients);
    LogCosts();
    WSACleanup();
    return 0;
}
