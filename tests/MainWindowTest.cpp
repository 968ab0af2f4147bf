#include "framework/Dpi.h"
#include "logview/LogView.h"
#include "res/resource.h"
#include "tests/DialogPump.h"
#include "tests/EventWindow.h"
#include "tests/LoopbackPeer.h"
#include "ui/Layout.h"
#include "ui/MainDlg.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <thread>

namespace {

// The main window created modeless on the test thread and driven the way a
// person would, through its controls' notifications.
class MainWindow : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dialog.Create()); }

    Window Item(int id) const { return dialog.Item(id); }
    std::wstring Caption() const { return Window(dialog.Handle()).Text(); }

    void Choose(int comboId, int position)
    {
        Item(comboId).Select(position);
        SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(Item(comboId).Handle()));
    }
    void Click(int id)
    {
        SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(Item(id).Handle()));
    }
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
    {
        return PumpDialogUntil(dialog, done, timeoutMs);
    }
    void PressKey(HWND target, WPARAM key)
    {
        MSG msg{target, WM_KEYDOWN, key, 1, GetTickCount(), {}};
        dialog.RouteMessage(msg);
    }
    void SetCtrl(bool down)
    {
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_CONTROL] = down ? 0x80 : 0;
        SetKeyboardState(keys);
    }
    void Tick() const { SendMessageW(dialog.Handle(), WM_TIMER, 2, 0); }
    // What the log edit shows after the next refresh tick.
    std::wstring Log() const
    {
        Tick();
        return Item(IDC_LOG_EDIT).Text();
    }
    bool Contains(const std::wstring& text, const std::wstring& part) const
    {
        return text.find(part) != std::wstring::npos;
    }

    CMainDlg dialog;
};

} // namespace

TEST_F(MainWindow, StartsIdleAndDisconnected)
{
    EXPECT_EQ(Item(IDC_STATUS).Text(), L"Idle");
    EXPECT_EQ(Item(IDC_CONNECT).Text(), L"Connect");
    EXPECT_EQ(Caption(), L"Ferrolink");
    EXPECT_FALSE(Item(IDC_HEX_CHECK).Visible());
    EXPECT_TRUE(Item(IDC_TIMESTAMP).Checked());
    EXPECT_TRUE(Item(IDC_AUTOSCROLL).Checked());
    EXPECT_FALSE(Item(IDC_PAUSE_RX).Checked());
    EXPECT_EQ(Item(IDC_REPEAT_MS).Text(), L"1000");
    EXPECT_EQ(Item(IDC_IP_EDIT).Text(), L"127.0.0.1");
    EXPECT_EQ(Item(IDC_PORT_EDIT).Text(), L"5000");
    EXPECT_EQ(Item(IDC_BAUD).Text(), L"115200");
    EXPECT_EQ(Item(IDC_DATA_BITS).Text(), L"8");
    EXPECT_TRUE(Contains(Log(), L"SYS Ready.\r\n"));
    EXPECT_TRUE(Item(IDC_LOG_TABS));
    EXPECT_TRUE(Item(IDC_SEND_TABS));
    EXPECT_FALSE(dialog.Connected());
}

TEST_F(MainWindow, SerialChoiceSwapsTheControlSets)
{
    Choose(IDC_COMM_COMBO, CommSerial);
    for (int id : kNetworkSet)
        EXPECT_FALSE(Item(id).Visible()) << id;
    for (int id : kSerialSet)
        EXPECT_TRUE(Item(id).Visible()) << id;
    EXPECT_EQ(Item(IDC_CONNECT).Text(), L"Open");
    EXPECT_GT(Item(IDC_CONNECT).RectInParent().left, Item(IDC_FLOW).RectInParent().right); // after Flow

    Choose(IDC_COMM_COMBO, CommTcp);
    for (int id : kNetworkSet)
        EXPECT_TRUE(Item(id).Visible()) << id;
    for (int id : kSerialSet)
        EXPECT_FALSE(Item(id).Visible()) << id;
    EXPECT_EQ(Item(IDC_CONNECT).Text(), L"Connect");
    EXPECT_EQ(Item(IDC_CONNECT).RectInParent().left, 632);
}

TEST_F(MainWindow, ServerModeListensOnEveryAddress)
{
    Choose(IDC_MODE_COMBO, ModeServer);
    EXPECT_EQ(Item(IDC_IP_EDIT).Text(), L"0.0.0.0");
    EXPECT_FALSE(Item(IDC_IP_EDIT).Enabled());
    Choose(IDC_MODE_COMBO, ModeClient);
    EXPECT_EQ(Item(IDC_IP_EDIT).Text(), L"127.0.0.1");
    EXPECT_TRUE(Item(IDC_IP_EDIT).Enabled());
    Item(IDC_IP_EDIT).SetText(L"::1");
    Choose(IDC_MODE_COMBO, ModeClient);
    EXPECT_EQ(Item(IDC_IP_EDIT).Text(), L"::1");
}

TEST_F(MainWindow, ConnectsToALoopbackPeerAndNoticesItLeaving)
{
    Listener listener;
    Item(IDC_PORT_EDIT).SetText(std::to_wstring(listener.Port()));
    Click(IDC_CONNECT);
    EXPECT_EQ(Caption(), L"TCP - Client - 127.0.0.1:" + std::to_wstring(listener.Port()));
    EXPECT_EQ(Item(IDC_CONNECT).Text(), L"Disconnect");
    for (int id : {IDC_COMM_COMBO, IDC_MODE_COMBO, IDC_IP_EDIT, IDC_PORT_EDIT, IDC_SERIAL_PORT, IDC_BAUD,
                   IDC_DATA_BITS, IDC_STOP_BITS, IDC_PARITY, IDC_FLOW, IDC_REFRESH_PORTS})
        EXPECT_FALSE(Item(id).Enabled()) << id;

    PeerSocket peer = listener.Accept(5000);
    ASSERT_TRUE(peer.Valid());
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_STATUS).Text() == L"TCP client connected"; }, 5000));
    ASSERT_TRUE(peer.SendAll({'p', 'i', 'n', 'g'}));
    ASSERT_TRUE(PumpUntil([&] { return Contains(Log(), L"RX  ping"); }, 5000));

    peer.Close();
    ASSERT_TRUE(PumpUntil([&] { return !dialog.Connected(); }, 5000));
    EXPECT_EQ(Item(IDC_STATUS).Text(), L"TCP client disconnected (closed by the peer)");
    EXPECT_EQ(Item(IDC_CONNECT).Text(), L"Connect");
    EXPECT_EQ(Caption(), L"Ferrolink");
    EXPECT_TRUE(Item(IDC_PORT_EDIT).Enabled());
    EXPECT_TRUE(Item(IDC_IP_EDIT).Enabled());
}

TEST_F(MainWindow, RefusedConnectReturnsToConnect)
{
    Item(IDC_PORT_EDIT).SetText(std::to_wstring(ClosedLoopbackPort()));
    Click(IDC_CONNECT);
    EXPECT_TRUE(dialog.Connected());
    ASSERT_TRUE(PumpUntil([&] { return !dialog.Connected(); }, 10000));
    EXPECT_EQ(Item(IDC_CONNECT).Text(), L"Connect");
    EXPECT_EQ(Caption(), L"Ferrolink");
    EXPECT_TRUE(Contains(Log(), L"ERR TCP connect failed (WSA 10061: connection refused)"));
    // The status line says why the link ended, not what it was doing.
    EXPECT_EQ(Item(IDC_STATUS).Text(), L"TCP connect failed (WSA 10061: connection refused)");
}

TEST_F(MainWindow, ConnectThenDisconnectLeavesNoWorker)
{
    Listener listener;
    Item(IDC_PORT_EDIT).SetText(std::to_wstring(listener.Port()));
    Click(IDC_CONNECT);
    Click(IDC_CONNECT);
    EXPECT_FALSE(dialog.Connected());
    EXPECT_FALSE(dialog.Controller().AnyWorker());
    EXPECT_EQ(Item(IDC_STATUS).Text(), L"Disconnected");
    const std::wstring log = Log();
    const size_t starting = log.find(L"SYS Starting connection...");
    ASSERT_NE(starting, std::wstring::npos);
    EXPECT_NE(log.find(L"SYS Disconnected.", starting), std::wstring::npos);
}

// Paused bytes are not logged, but not lost silently either: they are
// counted as lost, and said in the log when Pause RX is unticked.
TEST_F(MainWindow, PauseRxDropsDataButNotStatus)
{
    Listener listener;
    Item(IDC_PORT_EDIT).SetText(std::to_wstring(listener.Port()));
    Item(IDC_PAUSE_RX).SetCheck(true);
    Click(IDC_CONNECT);
    PeerSocket peer = listener.Accept(5000);
    ASSERT_TRUE(PumpUntil([&] { return Contains(Log(), L"SYS TCP client connected"); }, 5000));
    ASSERT_TRUE(peer.SendAll({'q', 'u', 'i', 'e', 't'}));
    peer.Close();
    ASSERT_TRUE(PumpUntil([&] { return !dialog.Connected(); }, 5000));
    EXPECT_FALSE(Contains(Log(), L"quiet"));
    EXPECT_TRUE(Item(IDC_LOST).Visible());
    EXPECT_EQ(Item(IDC_LOST).Text(), L"Lost: 5");
    Item(IDC_PAUSE_RX).SetCheck(false);
    Click(IDC_PAUSE_RX);
    EXPECT_TRUE(Contains(Log(), L"SYS Pause RX: 5 bytes received while paused were not logged.\r\n"));
    Click(IDC_CLEAR);
    Tick();
    EXPECT_FALSE(Item(IDC_LOST).Visible());
}

TEST_F(MainWindow, PortAndBaudOutOfRangeAreRefusedAndNothingStarts)
{
    Choose(IDC_COMM_COMBO, CommTcp);
    Item(IDC_PORT_EDIT).SetText(L"99999");
    Click(IDC_CONNECT);
    EXPECT_FALSE(dialog.Connected());
    EXPECT_FALSE(dialog.Controller().AnyWorker());
    EXPECT_TRUE(Contains(Log(), L"ERR Port must be a whole number from 0 to 65535, not \"99999\".\r\n"));

    Choose(IDC_COMM_COMBO, CommSerial);
    Item(IDC_BAUD).SetText(L"abc");
    Click(IDC_CONNECT);
    EXPECT_FALSE(dialog.Connected());
    EXPECT_FALSE(dialog.Controller().AnyWorker());
    EXPECT_TRUE(Contains(Log(), L"ERR Baud must be a whole number from 1 to 16000000, not \"abc\".\r\n"));
    EXPECT_EQ(Item(IDC_CONNECT).Text(), L"Open");
    Choose(IDC_COMM_COMBO, CommTcp);
}

TEST_F(MainWindow, SendWithoutALinkIsLoggedAsAnError)
{
    Item(IDC_SEND_EDIT).SetText(L"hello");
    Click(IDC_SEND);
    EXPECT_TRUE(Contains(Log(), L"ERR Send failed: no active transport.\r\n"));
}

TEST_F(MainWindow, EnterInTheSendEditIsTakenWhenEnterSends)
{
    Item(IDC_ENTER_SENDS).SetCheck(true);
    const HWND edit = Item(IDC_SEND_EDIT).Handle();
    Item(IDC_SEND_EDIT).SetText(L"x");
    SetFocus(edit);
    SetCtrl(false);
    PressKey(edit, VK_RETURN);
    EXPECT_FALSE(dialog.Ended());
    EXPECT_TRUE(Contains(Log(), L"Send failed: no active transport."));

    Item(IDC_SEND_EDIT).SetText(L"ab");
    Item(IDC_SEND_EDIT).Send(EM_SETSEL, 1, 1);
    SetCtrl(true);
    PressKey(edit, VK_RETURN);
    SetCtrl(false);
    EXPECT_EQ(Item(IDC_SEND_EDIT).Text(), L"a\r\nb");
    EXPECT_FALSE(dialog.Ended());
}

TEST_F(MainWindow, EnterInASingleLineBoxKeepsTheWindowOpen)
{
    for (int id : {IDC_IP_EDIT, IDC_PORT_EDIT, IDC_FIND_EDIT}) {
        SetFocus(Item(id).Handle());
        PressKey(Item(id).Handle(), VK_RETURN);
        PumpUntil([] { return false; }, 20);
        EXPECT_FALSE(dialog.Ended()) << id;
        EXPECT_TRUE(IsWindow(dialog.Handle())) << id;
    }
}

TEST_F(MainWindow, EscapeLeavesTheWindowOpenAndTheCloseBoxClosesItAndStopsTheLink)
{
    const auto pressEscapeIn = [&](int id) {
        SetFocus(Item(id).Handle());
        PressKey(Item(id).Handle(), VK_ESCAPE);
        MSG typed{Item(id).Handle(), WM_CHAR, VK_ESCAPE, 1, GetTickCount(), {}};
        dialog.RouteMessage(typed);
        PumpUntil([] { return false; }, 50); // what the edit may have posted
        return !dialog.Ended();
    };
    for (int id : {IDC_IP_EDIT, IDC_PORT_EDIT, IDC_SEND_EDIT, IDC_FIND_EDIT, IDC_REPEAT_MS, IDC_LOG_EDIT})
        ASSERT_TRUE(pressEscapeIn(id)) << id;
    Listener listener;
    Item(IDC_PORT_EDIT).SetText(std::to_wstring(listener.Port()));
    Click(IDC_CONNECT);
    PeerSocket peer = listener.Accept(5000);
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_STATUS).Text() == L"TCP client connected"; }, 5000));
    for (int id : {IDC_SEND_EDIT, IDC_FIND_EDIT, IDC_CONNECT})
        ASSERT_TRUE(pressEscapeIn(id)) << id;
    EXPECT_TRUE(dialog.Controller().AnyWorker());
    SendMessageW(dialog.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(dialog.Ended());
    EXPECT_EQ(dialog.Result(), IDCANCEL);
    EXPECT_FALSE(dialog.Controller().AnyWorker());
    EXPECT_TRUE(peer.WaitClosed(2000));
}

TEST_F(MainWindow, ClientListFollowsClientEventsById)
{
    auto post = [&](TransportEventKind kind, const wchar_t* peer, uint32_t id) {
        auto* e = NewEvent(kind, L"", peer, id, false, {});
        SendMessageW(dialog.Handle(), WM_TRANSPORT_EVENT, 0, reinterpret_cast<LPARAM>(e));
    };
    const Window list = Item(IDC_CLIENT_LIST);
    post(TransportEventKind::ClientAdded, L"127.0.0.1:50001", 1);
    post(TransportEventKind::ClientAdded, L"::1:50002", 2);
    // A new client that got the endpoint of one not yet gone.
    post(TransportEventKind::ClientAdded, L"127.0.0.1:50001", 3);
    EXPECT_EQ(list.Send(LB_GETCOUNT), 3);
    post(TransportEventKind::ClientRemoved, L"10.0.0.1:1", 9); // not listed: nothing changes
    EXPECT_EQ(list.Send(LB_GETCOUNT), 3);
    post(TransportEventKind::ClientRemoved, L"127.0.0.1:50001", 3);
    ASSERT_EQ(list.Send(LB_GETCOUNT), 2);
    EXPECT_EQ(list.Send(LB_GETITEMDATA, 0), 1); // the older entry stays
    post(TransportEventKind::ClientRemoved, L"127.0.0.1:50001", 1);
    ASSERT_EQ(list.Send(LB_GETCOUNT), 1);
    wchar_t text[64] = {};
    list.Send(LB_GETTEXT, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, L"::1:50002");
    EXPECT_EQ(SendMessageW(dialog.Handle(), WM_TRANSPORT_EVENT, 0, 0), 0);
}

// After a resize, and after the window moved to a screen of twice the DPI,
// every control sits where the layout puts it and the fonts follow.
TEST_F(MainWindow, ControlsSitWhereTheLayoutPutsThemAfterAResizeAndADpiChange)
{
    // The DPI the layout and its text were made at: lower where the
    // window is too small at its own.
    int shownDpi = 0;
    const auto check = [&](int dpi) {
        RECT client{};
        GetClientRect(dialog.Handle(), &client);
        const auto insets = [&](int tabsId) {
            RECT r{0, 0, 1000, 1000};
            TabCtrl_AdjustRect(Item(tabsId).Handle(), FALSE, &r);
            return TabInsets{int(r.left), int(r.top), int(1000 - r.right), int(1000 - r.bottom)};
        };
        LayoutInput in;
        in.cx = client.right;
        in.cy = client.bottom;
        in.dpi = dpi;
        in.serial = Item(IDC_COMM_COMBO).Selection() == CommSerial;
        in.clientList = Item(IDC_COMM_COMBO).Selection() == CommTcp && Item(IDC_MODE_COMBO).Selection() == 1;
        in.logTabs = insets(IDC_LOG_TABS);
        in.sendTabs = insets(IDC_SEND_TABS);
        shownDpi = LayoutDpi(in);
        for (const Placement& p : LayoutFor(in)) {
            if (p.visibility == Visibility::Hide || !Item(p.id))
                continue;
            const RECT r = Item(p.id).RectInParent();
            EXPECT_EQ(r.left, p.x) << p.id << " at " << dpi;
            EXPECT_EQ(r.top, p.y) << p.id << " at " << dpi;
            EXPECT_EQ(r.right - r.left, p.width) << p.id << " at " << dpi;
            wchar_t kind[32] = {};
            GetClassNameW(Item(p.id).Handle(), kind, 32);
            if (lstrcmpiW(kind, L"ComboBox") != 0) { // a combo box's own height is its field's, not its list's
                EXPECT_EQ(r.bottom - r.top, p.height) << p.id << " at " << dpi;
            }
        }
    };
    Choose(IDC_MODE_COMBO, 1); // with the client list shown
    SetWindowPos(dialog.Handle(), nullptr, 0, 0, 1100, 760, SWP_NOZORDER | SWP_NOACTIVATE);
    const int dpi = WindowDpi(dialog.Handle());
    check(dpi);
    ASSERT_EQ(shownDpi, dpi);
    const int lineHeight = dialog.LogView()->Geometry().lineHeight;

    RECT suggested{0, 0, 2200, 1520};
    SendMessageW(dialog.Handle(), WM_DPICHANGED, MAKEWPARAM(2 * dpi, 2 * dpi), reinterpret_cast<LPARAM>(&suggested));
    check(2 * dpi);
    EXPECT_GE(dialog.LogView()->Geometry().lineHeight, lineHeight * shownDpi / dpi - 2);
    EXPECT_LE(dialog.LogView()->Geometry().lineHeight, lineHeight * shownDpi / dpi + 2);
}

// However large the DPI, the window can be shrunk to fit its screen, and at
// the size it can be shrunk to the layout fits whole where the screen has
// room for it.
TEST_F(MainWindow, TheMinimumSizeNeverExceedsTheWorkArea)
{
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int dpi = WindowDpi(dialog.Handle());
    for (const int scale : {1, 2, 3}) {
        RECT suggested{0, 0, 1100 * scale, 760 * scale};
        SendMessageW(dialog.Handle(), WM_DPICHANGED, MAKEWPARAM(scale * dpi, scale * dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        MINMAXINFO info{};
        SendMessageW(dialog.Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
        EXPECT_LE(info.ptMinTrackSize.x, work.right - work.left) << scale;
        EXPECT_LE(info.ptMinTrackSize.y, work.bottom - work.top) << scale;
        if (scale == 1) {
            SetWindowPos(dialog.Handle(), nullptr, 0, 0, info.ptMinTrackSize.x, info.ptMinTrackSize.y,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            RECT client{};
            GetClientRect(dialog.Handle(), &client);
            const ClientSize least = MinimumClientSize(dpi);
            EXPECT_GE(client.right, least.cx);
            EXPECT_GE(client.bottom, least.cy);
        }
    }
    // Maximized at three times the DPI, on a screen far too small for that,
    // every control still lies inside the window.
    ShowWindow(dialog.Handle(), SW_MAXIMIZE);
    RECT client{};
    GetClientRect(dialog.Handle(), &client);
    EXPECT_LE(client.right, work.right - work.left);
    EXPECT_LE(client.bottom, work.bottom - work.top);
    for (HWND child = GetWindow(dialog.Handle(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child))
            continue;
        const RECT r = Window(child).RectInParent();
        wchar_t kind[32] = {};
        GetClassNameW(child, kind, 32);
        const bool combo = lstrcmpiW(kind, L"ComboBox") == 0; // its height takes in its dropped list
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right && (combo || r.bottom <= client.bottom))
            << GetDlgCtrlID(child) << " at " << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom;
    }
    ShowWindow(dialog.Handle(), SW_RESTORE);
}

TEST_F(MainWindow, NewSessionIsOnTheSystemMenu)
{
    const HMENU menu = GetSystemMenu(dialog.Handle(), FALSE);
    wchar_t text[64] = {};
    ASSERT_GT(GetMenuStringW(menu, IDM_NEW_SESSION, text, 64, MF_BYCOMMAND), 0);
    EXPECT_STREQ(text, L"New Session");
}

TEST_F(MainWindow, ServerModeListsItsClients)
{
    const uint16_t port = ClosedLoopbackPort();
    Choose(IDC_MODE_COMBO, ModeServer);
    Item(IDC_PORT_EDIT).SetText(std::to_wstring(port));
    Click(IDC_CONNECT);
    EXPECT_EQ(Caption(), L"TCP - Server - 0.0.0.0:" + std::to_wstring(port));
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_STATUS).Text() == L"TCP server listening on " + std::to_wstring(port); }, 5000));
    const Window list = Item(IDC_CLIENT_LIST);
    PeerSocket client = ConnectTo(L"127.0.0.1", port);
    ASSERT_TRUE(PumpUntil([&] { return list.Send(LB_GETCOUNT) == 1; }, 5000));
    Item(IDC_SEND_EDIT).SetText(L"to all");
    Click(IDC_SEND);
    EXPECT_EQ(client.Receive(6, 5000), (std::vector<uint8_t>{'t', 'o', ' ', 'a', 'l', 'l'}));
    client.Close();
    ASSERT_TRUE(PumpUntil([&] { return list.Send(LB_GETCOUNT) == 0; }, 5000));
    EXPECT_TRUE(dialog.Connected()); // a leaving client does not end the server
    Click(IDC_CONNECT);
    EXPECT_FALSE(dialog.Controller().AnyWorker());
}

TEST_F(MainWindow, UdpClientSendsDatagrams)
{
    UdpPeer peer;
    Choose(IDC_COMM_COMBO, CommUdp);
    Item(IDC_PORT_EDIT).SetText(std::to_wstring(peer.Port()));
    Click(IDC_CONNECT);
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_STATUS).Text() == L"UDP client ready"; }, 5000));
    Item(IDC_SEND_EDIT).SetText(L"dgram");
    Click(IDC_SEND);
    std::vector<uint8_t> got;
    ASSERT_TRUE(peer.Receive(got, 5000));
    EXPECT_EQ(got, (std::vector<uint8_t>{'d', 'g', 'r', 'a', 'm'}));
}

TEST_F(MainWindow, RandomBytesThroughALinkAreShownAndCountedWithoutFault)
{
    Listener listener;
    Item(IDC_PORT_EDIT).SetText(std::to_wstring(listener.Port()));
    Click(IDC_CONNECT);
    PeerSocket peer = listener.Accept(5000);
    ASSERT_TRUE(PumpUntil([&] { return Item(IDC_STATUS).Text() == L"TCP client connected"; }, 5000));
    CLogView* view = dialog.LogView();
    ASSERT_NE(view, nullptr);
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, 800, 400);
    const HGDIOBJ previous = SelectObject(dc, bitmap);

    // Every byte value, as a binary device would send them.
    const size_t total = 1 << 20;
    std::thread sender([&] {
        const std::vector<uint8_t> bytes = PatternBytes(total, 99);
        const size_t chunk = total / 32;
        for (size_t at = 0; at < total; at += chunk) { // paced, so the counter is seen moving
            peer.SendAll(std::vector<uint8_t>(bytes.begin() + ptrdiff_t(at), bytes.begin() + ptrdiff_t(at + chunk)));
            Sleep(15);
        }
    });
    std::vector<std::wstring> counts;
    PumpUntil([&] {
        Tick();
        SendMessageW(view->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
        const std::wstring now = Item(IDC_RX_COUNT).Text();
        if (counts.empty() || counts.back() != now)
            counts.push_back(now);
        return dialog.Log().m_rxByteCount >= total;
    }, 20000);
    sender.join();
    EXPECT_EQ(dialog.Log().m_rxByteCount, total);
    EXPECT_GT(counts.size(), 2u); // the counter moved while the bytes came
    EXPECT_GT(view->Model().LineCount(), 1u);

    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    Click(IDC_CONNECT);
}

TEST_F(MainWindow, ArrowKeysReachTheLogAndCtrlCCopiesItsSelection)
{
    for (const wchar_t* text : {L"one", L"two"}) {
        auto* e = NewEvent(TransportEventKind::Received, text, L"", 0, false, std::vector<uint8_t>(text, text + wcslen(text)));
        SendMessageW(dialog.Handle(), WM_TRANSPORT_EVENT, 0, reinterpret_cast<LPARAM>(e));
    }
    Tick();
    CLogView* view = dialog.LogView();
    SetFocus(view->Handle());
    view->Model().SetCaret(LogPosition{view->Model().FirstLine(), 0}, false);
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    PressKey(view->Handle(), VK_DOWN); // through the dialog's own key handling
    PressKey(view->Handle(), VK_DOWN);
    PressKey(view->Handle(), VK_END);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(view->Model().SelectedText(view->Options()) + L"\r\n", Log());
    SetCtrl(true);
    PressKey(view->Handle(), 'C');
    SetCtrl(false);
    EXPECT_EQ(ClipboardText(dialog.Handle()) + L"\r\n", Log());
}
