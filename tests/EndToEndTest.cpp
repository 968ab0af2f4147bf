// The built program as a user runs it: its own process, driven from outside
// through window messages, against peers this test runs.
#include "res/resource.h"
#include "settings/ConnectionStore.h"
#include "settings/History.h"
#include "settings/SettingsStore.h"
#include "tests/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

std::wstring ExePath()
{
    std::wstring dir = FERROLINK_EXE_DIR;
    // Under Wine the build folder is reached through drive Z:.
    if (!dir.empty() && dir[0] == L'/')
        dir = L"Z:" + dir;
    return dir + L"\\" + FERROLINK_EXE_NAME;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeoutMs);
    while (!done()) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(20);
    }
    return true;
}

struct FoundWindows {
    DWORD pid;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectDialog(HWND wnd, LPARAM lp)
{
    auto* found = reinterpret_cast<FoundWindows*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    wchar_t cls[32] = {};
    GetClassNameW(wnd, cls, 32);
    if ((found->pid == 0 || pid == found->pid) && std::wstring(cls) == L"#32770" && GetDlgItem(wnd, IDC_CONNECT))
        found->windows.push_back(wnd);
    return TRUE;
}

std::vector<HWND> FerrolinkWindows(DWORD pid = 0)
{
    FoundWindows found{pid, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found.windows;
}

// One running copy of Ferrolink and the controls of its window.
class App {
public:
    App()
    {
        std::wstring command = L"\"" + ExePath() + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &m_process))
            return;
        WaitFor([&] {
            const auto windows = FerrolinkWindows(m_process.dwProcessId);
            m_wnd = windows.empty() ? nullptr : windows.front();
            return m_wnd != nullptr;
        }, 20000);
    }
    ~App()
    {
        if (m_process.hProcess) {
            if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
                Close();
                if (WaitForSingleObject(m_process.hProcess, 10000) == WAIT_TIMEOUT)
                    TerminateProcess(m_process.hProcess, 1);
            }
            CloseHandle(m_process.hProcess);
            CloseHandle(m_process.hThread);
        }
    }
    bool Running() const { return m_wnd != nullptr; }
    HWND Wnd() const { return m_wnd; }
    HWND Item(int id) const { return GetDlgItem(m_wnd, id); }

    std::wstring Text(int id) const { return TextOf(Item(id)); }
    static std::wstring TextOf(HWND wnd)
    {
        std::vector<wchar_t> buffer(size_t(SendMessageW(wnd, WM_GETTEXTLENGTH, 0, 0)) + 1);
        SendMessageW(wnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
        return buffer.data();
    }
    void SetText(int id, const std::wstring& text) { SendMessageW(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())); }
    void Click(int id) { SendMessageW(m_wnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id))); }
    void Tick(int id, bool on)
    {
        SendMessageW(Item(id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    void Choose(int id, int position)
    {
        SendMessageW(Item(id), CB_SETCURSEL, WPARAM(position), 0);
        SendMessageW(m_wnd, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(id)));
    }
    // The tab control moves on and tells its parent, as after a key press.
    void NextTab(int tabsId) { SendMessageW(Item(tabsId), WM_KEYDOWN, VK_RIGHT, 0); }
    void TypeChars(int id, const wchar_t* text)
    {
        for (; *text; ++text)
            SendMessageW(Item(id), WM_CHAR, *text, 0);
    }
    bool LogShows(const std::wstring& part, int timeoutMs = 5000)
    {
        return WaitFor([&] { return Text(IDC_LOG_EDIT).find(part) != std::wstring::npos; }, timeoutMs);
    }
    bool StatusIs(const std::wstring& text, int timeoutMs = 5000)
    {
        return WaitFor([&] { return Text(IDC_STATUS) == text; }, timeoutMs);
    }
    void Close() { SendMessageW(m_wnd, WM_CLOSE, 0, 0); }
    bool WaitExit(int timeoutMs) { return WaitForSingleObject(m_process.hProcess, DWORD(timeoutMs)) == WAIT_OBJECT_0; }

private:
    PROCESS_INFORMATION m_process{};
    HWND m_wnd = nullptr;
};

class EndToEnd : public testing::Test {
protected:
    void SetUp() override { DeleteFileW(SettingsFilePath().c_str()); }
    void TearDown() override { DeleteFileW(SettingsFilePath().c_str()); }
};

} // namespace

TEST_F(EndToEnd, TcpClientSessionAndRestart)
{
    Listener listener;
    {
        App app;
        ASSERT_TRUE(app.Running());
        EXPECT_TRUE(app.LogShows(L"SYS Ready."));
        app.SetText(IDC_PORT_EDIT, std::to_wstring(listener.Port()));
        app.Click(IDC_CONNECT);
        PeerSocket peer = listener.Accept(5000);
        ASSERT_TRUE(peer.Valid());
        ASSERT_TRUE(app.StatusIs(L"TCP client connected"));
        EXPECT_EQ(app.Text(IDC_CONNECT), L"Disconnect");

        ASSERT_TRUE(peer.SendAll({'h', 'e', 'l', 'l', 'o', '\r', '\n'}));
        EXPECT_TRUE(app.LogShows(L"RX  hello\r\n"));
        EXPECT_TRUE(WaitFor([&] { return app.Text(IDC_RX_COUNT) == L"RX: 7"; }, 2000));

        app.SetText(IDC_SEND_EDIT, L"status?");
        app.Tick(IDC_LF, true);
        app.Click(IDC_SEND);
        EXPECT_EQ(peer.Receive(8, 5000), (std::vector<uint8_t>{'s', 't', 'a', 't', 'u', 's', '?', 0x0A}));

        app.NextTab(IDC_SEND_TABS);
        app.TypeChars(IDC_SEND_HEX, L"00ff7E");
        app.Click(IDC_SEND);
        EXPECT_EQ(peer.Receive(3, 5000), (std::vector<uint8_t>{0x00, 0xFF, 0x7E}));
        EXPECT_TRUE(app.LogShows(L"TX  00 FF 7E \r\n"));

        app.Click(IDC_CONNECT);
        EXPECT_TRUE(peer.WaitClosed(3000));
        EXPECT_EQ(app.Text(IDC_CONNECT), L"Connect");
        MoveWindow(app.Wnd(), 20, 40, 990, 700, TRUE); // inside the tests' 1024 x 768 screen
        app.Close();
        ASSERT_TRUE(app.WaitExit(10000));
    }
    App again;
    ASSERT_TRUE(again.Running());
    EXPECT_EQ(again.Text(IDC_PORT_EDIT), std::to_wstring(listener.Port()));
    EXPECT_EQ(SendMessageW(again.Item(IDC_HISTORY), CB_GETCOUNT, 0, 0), 2); // the text and the hex bytes
    RECT r{};
    GetWindowRect(again.Wnd(), &r);
    EXPECT_EQ(r.left, 20);
    EXPECT_EQ(r.top, 40);
    EXPECT_EQ(r.right - r.left, 990);
}

TEST_F(EndToEnd, TcpServerWithAClient)
{
    const uint16_t port = ClosedLoopbackPort();
    App app;
    ASSERT_TRUE(app.Running());
    app.Choose(IDC_MODE_COMBO, 1);
    EXPECT_EQ(app.Text(IDC_IP_EDIT), L"0.0.0.0");
    app.SetText(IDC_PORT_EDIT, std::to_wstring(port));
    app.Click(IDC_CONNECT);
    ASSERT_TRUE(app.StatusIs(L"TCP server listening on " + std::to_wstring(port)));
    PeerSocket client = ConnectTo(L"127.0.0.1", port);
    ASSERT_TRUE(WaitFor([&] { return SendMessageW(app.Item(IDC_CLIENT_LIST), LB_GETCOUNT, 0, 0) == 1; }, 5000));
    ASSERT_TRUE(client.SendAll({'u', 'p', '\n'}));
    // Lines of a link with several peers say whose they are.
    sockaddr_in local{};
    int size = sizeof(local);
    getsockname(client.Get(), reinterpret_cast<sockaddr*>(&local), &size);
    const std::wstring peer = L"127.0.0.1:" + std::to_wstring(ntohs(local.sin_port));
    EXPECT_TRUE(app.LogShows(L"RX  " + peer + L"  up\n"));
    EXPECT_TRUE(app.LogShows(L"SYS " + peer + L"  Client connected"));
    app.SetText(IDC_SEND_EDIT, L"down");
    app.Click(IDC_SEND);
    EXPECT_EQ(client.Receive(4, 5000), (std::vector<uint8_t>{'d', 'o', 'w', 'n'}));
    client.Close();
    EXPECT_TRUE(WaitFor([&] { return SendMessageW(app.Item(IDC_CLIENT_LIST), LB_GETCOUNT, 0, 0) == 0; }, 5000));
    app.Click(IDC_CONNECT);
    EXPECT_TRUE(app.LogShows(L"SYS TCP server stopped"));
}

TEST_F(EndToEnd, UdpClientWithAnEchoPeer)
{
    UdpPeer echo;
    App app;
    ASSERT_TRUE(app.Running());
    app.Choose(IDC_COMM_COMBO, 1);
    app.SetText(IDC_PORT_EDIT, std::to_wstring(echo.Port()));
    app.Click(IDC_CONNECT);
    ASSERT_TRUE(app.StatusIs(L"UDP client ready"));
    app.SetText(IDC_SEND_EDIT, L"marco");
    app.Click(IDC_SEND);
    std::vector<uint8_t> got;
    uint16_t from = 0;
    ASSERT_TRUE(echo.Receive(got, 5000, &from));
    EXPECT_EQ(got, (std::vector<uint8_t>{'m', 'a', 'r', 'c', 'o'}));
    ASSERT_TRUE(echo.SendTo(from, {'p', 'o', 'l', 'o'}));
    EXPECT_TRUE(app.LogShows(L"RX  polo"));
    app.Click(IDC_CONNECT);
    EXPECT_EQ(app.Text(IDC_CONNECT), L"Connect");
}

TEST_F(EndToEnd, SerialPortOpenReadWriteClose)
{
    App app;
    ASSERT_TRUE(app.Running());
    app.Choose(IDC_COMM_COMBO, 2);
    EXPECT_EQ(app.Text(IDC_CONNECT), L"Open");
    const HWND ports = app.Item(IDC_SERIAL_PORT);
    const LRESULT index = SendMessageW(ports, CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(FERROLINK_TEST_COM_PORT));
    ASSERT_GE(index, 0);
    SendMessageW(ports, CB_SETCURSEL, WPARAM(index), 0);
    app.Click(IDC_CONNECT);
    ASSERT_TRUE(app.StatusIs(std::wstring(L"Serial opened ") + FERROLINK_TEST_COM_PORT + L" @ 115200"));
    EXPECT_EQ(app.Text(IDC_CONNECT), L"Close");

    const HANDLE peer = CreateFileW(L"\\\\.\\" FERROLINK_TEST_PEER_PORT, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(peer, INVALID_HANDLE_VALUE);
    COMMTIMEOUTS t{MAXDWORD, 0, 20, 2, 200};
    SetCommTimeouts(peer, &t);
    DWORD n = 0;
    WriteFile(peer, "OK\r\n", 4, &n, nullptr);
    EXPECT_TRUE(app.LogShows(L"RX  OK\r\n"));
    app.SetText(IDC_SEND_EDIT, L"ATI");
    app.Tick(IDC_CR, true);
    app.Click(IDC_SEND);
    char reply[8] = {};
    std::string got;
    WaitFor([&] {
        DWORD read = 0;
        if (ReadFile(peer, reply, sizeof(reply), &read, nullptr))
            got.append(reply, read);
        return got.size() >= 4;
    }, 5000);
    EXPECT_EQ(got, "ATI\r");
    CloseHandle(peer);
    app.Click(IDC_CONNECT);
    EXPECT_TRUE(app.LogShows(L"SYS Serial closed"));
}

TEST_F(EndToEnd, NewSessionAndTwoCopiesKeepEachOthersHistory)
{
    Listener listener;
    std::vector<PeerSocket> peers;
    App first;
    ASSERT_TRUE(first.Running());
    const size_t before = FerrolinkWindows().size();
    SendMessageW(first.Wnd(), WM_SYSCOMMAND, IDM_NEW_SESSION, 0);
    // The seconds the new copy takes to show are not a window that did
    // nothing: the status says so until it shows.
    EXPECT_EQ(App::TextOf(GetDlgItem(first.Wnd(), IDC_STATUS)), L"Starting a new window\u2026");
    HWND second = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        for (HWND w : FerrolinkWindows())
            if (w != first.Wnd())
                second = w;
        return FerrolinkWindows().size() > before && second;
    }, 20000));
    EXPECT_TRUE(WaitFor([&] { return App::TextOf(GetDlgItem(first.Wnd(), IDC_STATUS)) == L"Idle"; }, 10000));
    // The new window opens a step down and right, not hidden over the first.
    RECT a{}, b{};
    GetWindowRect(first.Wnd(), &a);
    EXPECT_TRUE(WaitFor([&] {
        GetWindowRect(second, &b);
        return b.left > a.left && b.top > a.top;
    }, 10000)) << b.left << ", " << b.top;

    for (HWND wnd : {first.Wnd(), second}) {
        SendMessageW(GetDlgItem(wnd, IDC_PORT_EDIT), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(std::to_wstring(listener.Port()).c_str()));
        SendMessageW(wnd, WM_COMMAND, MAKEWPARAM(IDC_CONNECT, BN_CLICKED), 0);
        peers.push_back(listener.Accept(5000));
        ASSERT_TRUE(peers.back().Valid());
    }
    ASSERT_TRUE(WaitFor([&] {
        return App::TextOf(GetDlgItem(first.Wnd(), IDC_STATUS)) == L"TCP client connected" &&
               App::TextOf(GetDlgItem(second, IDC_STATUS)) == L"TCP client connected";
    }, 5000));
    for (int i = 0; i < 5; ++i)
        for (HWND wnd : {first.Wnd(), second}) {
            const std::wstring text = (wnd == second ? L"second " : L"first ") + std::to_wstring(i);
            SendMessageW(GetDlgItem(wnd, IDC_SEND_EDIT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
            SendMessageW(wnd, WM_COMMAND, MAKEWPARAM(IDC_SEND, BN_CLICKED), 0);
        }
    SendMessageW(second, WM_CLOSE, 0, 0);
    first.Close();
    ASSERT_TRUE(first.WaitExit(10000));
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(second); }, 10000));
    const HistoryList history = LoadSendHistory();
    EXPECT_EQ(history.size(), 10u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_NE(std::find(history.begin(), history.end(), L"first " + std::to_wstring(i)), history.end());
        EXPECT_NE(std::find(history.begin(), history.end(), L"second " + std::to_wstring(i)), history.end());
    }
}
