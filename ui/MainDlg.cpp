#include "ui/MainDlg.h"

#include "framework/Dpi.h"
#include "hexview/HexView.h"
#include "logview/LogView.h"
#include "res/resource.h"
#include "settings/ConnectionStore.h"
#include "settings/Framing.h"
#include "settings/History.h"
#include "settings/LogOptions.h"
#include "settings/SendOptions.h"
#include "settings/SettingsStore.h"
#include "ui/ControlRules.h"
#include "ui/BridgeDialog.h"
#include "ui/EventRules.h"
#include "ui/LinkFields.h"
#include "ui/NetworkDialog.h"
#include "ui/SerialOptions.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>

namespace {

// Controls that only make sense while no link is open.
const int kConnectionControls[] = {IDC_COMM_COMBO, IDC_MODE_COMBO, IDC_PORT_EDIT, IDC_SERIAL_PORT,
                                   IDC_BAUD,       IDC_DATA_BITS,  IDC_STOP_BITS, IDC_PARITY,
                                   IDC_FLOW,       IDC_REFRESH_PORTS, IDC_RECONNECT, IDC_TLS,
                                   IDC_NET_OPTIONS, IDC_BRIDGE};

const int kCombosWithItemHeight[] = {IDC_COMM_COMBO, IDC_MODE_COMBO, IDC_HISTORY, IDC_CHECKSUM, IDC_SEND_TARGET,
                                     IDC_SERIAL_PORT, IDC_BAUD, IDC_DATA_BITS, IDC_STOP_BITS, IDC_PARITY, IDC_FLOW};

const LinkFieldIds kMainLinkFields{IDC_COMM_COMBO, IDC_MODE_COMBO, IDC_IP_EDIT,    IDC_PORT_EDIT,
                                   IDC_SERIAL_PORT, IDC_BAUD,      IDC_DATA_BITS, IDC_STOP_BITS,
                                   IDC_PARITY,      IDC_FLOW};

TabInsets MeasureTabInsets(HWND tabs)
{
    RECT r{0, 0, 1000, 1000};
    if (tabs)
        TabCtrl_AdjustRect(tabs, FALSE, &r);
    return {int(r.left), int(r.top), int(1000 - r.right), int(1000 - r.bottom)};
}

} // namespace

CMainDlg::CMainDlg() : Dialog(IDD_FERROLINK_DIALOG)
{
    CLogView::RegisterWindowClass(); // the dialog template names its class
}

CMainDlg::~CMainDlg()
{
    if (m_newSession)
        CloseHandle(m_newSession);
    SetSettingsSaveFailureReport(nullptr);
    m_controller.StopAll();
    Destroy();
    if (m_font)
        DeleteObject(m_font);
    if (m_smallFont)
        DeleteObject(m_smallFont);
}

BOOL CMainDlg::OnInitDialog()
{
    const HWND wnd = Handle();
    const HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
    SendMessageW(wnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(wnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    SetWindowTextW(wnd, L"Ferrolink");

    if (HMENU menu = GetSystemMenu(wnd, FALSE)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, IDM_NEW_SESSION, L"New Session");
    }

    FillLinkFields(Handle(), kMainLinkFields);

    Item(IDC_TIMESTAMP).SetCheck(true);
    Item(IDC_AUTOSCROLL).SetCheck(true);

    m_dpi = m_shownDpi = WindowDpi(wnd);
    KeepDialogLayoutOnDpiChange(wnd);
    ApplyDpi();
    SetSettingsSaveFailureReport(
        [this](const std::wstring& message) { m_logPane.Append(TransportEventKind::Error, message); });
    // Everything stored is read under one lock: a copy that hangs holding
    // it costs one wait, not one per area.
    SettingsLock loading;
    RemoveStaleSettingsDrafts();
    m_status.Attach(Item(IDC_STATUS));
    m_logPane.Attach(Window(wnd), CreateTabs(IDC_LOG_TABS), m_font, m_status);

    m_clients.Attach(Window(wnd), m_controller);
    m_sendPane.Attach(Window(wnd), CreateTabs(IDC_SEND_TABS), m_controller, m_logPane, m_clients, m_status);
    m_automation.Attach(Window(wnd), m_controller, m_logPane, m_sendPane, m_clients);
    m_serialStrip.Attach(Window(wnd), m_controller, m_logPane);

    Item(IDC_HEX_CHECK).Show(false);

    ApplySettingsToControls(LoadConnectionSettings());
    Item(IDC_RECONNECT).SetCheck(LoadReconnect());
    m_bridgeSettings = LoadBridgeSettings();
    ShowBridgeChoice();

    m_controller.SetNotifyWindow(wnd);
    SetConnectedState(false);
    OnCommunicationChanged();
    m_logPane.Append(TransportEventKind::Status, L"Ready.");
    m_refreshTimerId = SetTimer(wnd, kRefreshTimerId, kRefreshMs, nullptr);
    LayoutForClientSize();
    PlaceWindow();
    return TRUE;
}

namespace {

ScreenRect ToScreenRect(const RECT& r)
{
    return {int(r.left), int(r.top), int(r.right), int(r.bottom)};
}

ScreenRect WorkAreaOf(HMONITOR monitor)
{
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (monitor && GetMonitorInfoW(monitor, &info))
        return ToScreenRect(info.rcWork);
    RECT work{0, 0, 1024, 768};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return ToScreenRect(work);
}

} // namespace

// The framing chosen for the link about to start.
FramingOptions CMainDlg::FramingFor(LinkKind kind, const ConnectionSettings& settings)
{
    if (kind == LinkKind::Udp)
        return {}; // a datagram is a message
    if (kind != LinkKind::Serial)
        return LoadFraming(FramedLink::Tcp);
    FramingOptions framing = LoadFraming(FramedLink::Serial);
    framing.idleGapUs =
        SerialIdleGapUs(framing.idleGapUs, settings.baud, settings.dataBits, settings.parity != 0, settings.stopBits);
    return framing;
}

// Always inside the work area of a monitor that is there: where the session
// that started this one asked, where it was saved, or the template's size
// in the middle of the screen it opens on.
void CMainDlg::PlaceWindow()
{
    const SIZE least = MinimumWindowSize();
    const int minWidth = int(least.cx), minHeight = int(least.cy);
    RECT current{};
    GetWindowRect(Handle(), &current);
    RECT wanted{};
    bool known = LoadWindowRect(wanted);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    if ((startup.dwFlags & STARTF_USEPOSITION) && (startup.dwFlags & STARTF_USESIZE)) {
        wanted = RECT{LONG(startup.dwX), LONG(startup.dwY), LONG(startup.dwX + startup.dwXSize),
                      LONG(startup.dwY + startup.dwYSize)};
        known = true;
    }
    ScreenRect placed;
    if (known) {
        const ScreenRect work = WorkAreaOf(MonitorFromRect(&wanted, MONITOR_DEFAULTTONEAREST));
        placed = FitIntoWorkArea(ToScreenRect(wanted), work, minWidth, minHeight);
    } else {
        const ScreenRect work = WorkAreaOf(MonitorFromWindow(Handle(), MONITOR_DEFAULTTOPRIMARY));
        placed = FirstStartRect(int(current.right - current.left), int(current.bottom - current.top), work, minWidth,
                                minHeight);
    }
    // Moved onto a monitor of another scale, the window is told its new DPI
    // with a rectangle scaled once more: the one placed here already fits.
    m_placing = true;
    MoveWindow(Handle(), placed.left, placed.top, placed.Width(), placed.Height(), TRUE);
    m_placing = false;
}

void CMainDlg::SaveWindowState()
{
    SettingsLock saving;
    SaveConnectionSettings(ReadSettingsFromControls());
    m_sendPane.SaveState();
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    if (!GetWindowPlacement(Handle(), &placement))
        return;
    RECT rect{};
    if (placement.showCmd == SW_SHOWMINIMIZED || placement.showCmd == SW_SHOWMAXIMIZED || IsIconic(Handle()) ||
        IsZoomed(Handle()))
        rect = placement.rcNormalPosition;
    else
        GetWindowRect(Handle(), &rect);
    SaveWindowRect(rect);
}

PeerChoice CMainDlg::ChoiceOf(const ConnectionSettings& settings)
{
    if (!ManyPeers(settings))
        return PeerChoice::None;
    return LinkKindFor(settings) == LinkKind::Udp ? PeerChoice::Senders : PeerChoice::Clients;
}

// A server's clients and a listener's senders are listed and can be chosen.
PeerChoice CMainDlg::PeersChosen() const
{
    if (IsSerialChosen() || Item(IDC_MODE_COMBO).Selection() != 1)
        return PeerChoice::None;
    return Item(IDC_COMM_COMBO).Selection() == CommUdp ? PeerChoice::Senders : PeerChoice::Clients;
}

HWND CMainDlg::CreateTabs(int id)
{
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TCS_FLATBUTTONS;
    const HWND tabs = CreateWindowExW(0, WC_TABCONTROLW, L"", style, 0, 0, 0, 0, Handle(),
                                      reinterpret_cast<HMENU>(INT_PTR(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(tabs, WM_SETFONT, SendMessageW(Handle(), WM_GETFONT, 0, 0), FALSE);
    const wchar_t* const names[] = {L"ASCII", L"Hex"};
    for (int i = 0; i < 2; ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(names[i]);
        TabCtrl_InsertItem(tabs, i, &item);
    }
    // Below the views it frames, or it would paint over them.
    SetWindowPos(tabs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return tabs;
}

INT_PTR CMainDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_COMMAND:
        if (LOWORD(wp) != IDOK && LOWORD(wp) != IDCANCEL) {
            OnCommand(LOWORD(wp), HIWORD(wp));
            return TRUE;
        }
        break;
    case WM_RENDERFORMAT:
        if (wp == CF_UNICODETEXT)
            m_logPane.Clipboard().Render();
        return TRUE;
    case WM_RENDERALLFORMATS:
        m_logPane.Clipboard().RenderAll(Handle());
        return TRUE;
    case WM_DESTROYCLIPBOARD:
        m_logPane.Clipboard().Drop();
        return TRUE;
    case WM_DRAWITEM:
        return m_serialStrip.OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp)) ? TRUE : FALSE;
    case WM_TRANSPORT_EVENT:
        SetWindowLongPtrW(Handle(), DWLP_MSGRESULT, OnTransportEvent(wp, lp));
        return TRUE;
    case AutomationSide::WM_AUTOMATION_DUE:
        m_automation.OnDue();
        return TRUE;
    case WM_TIMER:
        OnTimer(wp);
        return TRUE;
    case WM_NOTIFY:
        OnNotify(*reinterpret_cast<const NMHDR*>(lp));
        SetWindowLongPtrW(Handle(), DWLP_MSGRESULT, 0);
        return TRUE;
    case WM_SIZE:
        if (Item(IDC_LOG_EDIT))
            LayoutControls(LOWORD(lp), HIWORD(lp));
        return TRUE;
    case WM_GETMINMAXINFO:
        OnGetMinMaxInfo(*reinterpret_cast<MINMAXINFO*>(lp));
        return TRUE;
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wp), *reinterpret_cast<const RECT*>(lp));
        return TRUE;
    case WM_CONTEXTMENU: {
        const HWND from = reinterpret_cast<HWND>(wp);
        return m_logPane.OnContextMenu(from, lp) || m_clients.OnContextMenu(from, lp) ? TRUE : FALSE;
    }
    case WM_SYSCOMMAND:
        if ((wp & 0xFFF0) == IDM_NEW_SESSION) {
            StartNewSession();
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        Close();
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    }
    return Dialog::OnMessage(msg, wp, lp);
}

void CMainDlg::OnCommand(int id, int code)
{
    if (m_logPane.OnCommand(id, code) || m_sendPane.OnCommand(id, code) ||
        (code == BN_CLICKED && m_serialStrip.OnCommand(id)))
        return;
    switch (id) {
    case IDM_CLIENTS_DISCONNECT:
        m_clients.DisconnectSelected();
        break;
    case IDM_CLIENTS_SELECT_ALL:
        m_clients.SelectAll();
        break;
    case IDC_CONNECT:
        if (code == BN_CLICKED)
            OnConnect();
        break;
    case IDC_COMM_COMBO:
        if (code == CBN_SELCHANGE)
            OnCommunicationChanged();
        break;
    case IDC_MODE_COMBO:
        if (code == CBN_SELCHANGE) {
            OnModeChanged();
            LayoutForClientSize(); // the client list comes and goes with server mode
        }
        break;
    case IDC_REFRESH_PORTS:
        if (code == BN_CLICKED)
            RefreshSerialPortList(Item(IDC_SERIAL_PORT));
        break;
    case IDC_RECONNECT:
        if (code == BN_CLICKED)
            SaveReconnect(Item(IDC_RECONNECT).Checked());
        break;
    case IDC_AUTOMATION:
        if (code == BN_CLICKED)
            m_automation.ShowWindow();
        break;
    case IDC_NET_OPTIONS:
        if (code == BN_CLICKED)
            EditNetworkOptions();
        break;
    case IDC_BRIDGE:
        if (code == BN_CLICKED)
            EditBridge();
        break;
    }
}

bool CMainDlg::PreTranslateMessage(MSG& msg)
{
    return m_automation.PreTranslateMessage(msg) || m_sendPane.PreTranslateMessage(msg);
}

// Enter in a single-line box lands here. It must not close the window: the
// link, the connection choices and the window position would go with it.
void CMainDlg::OnOK()
{
    const HWND focus = GetFocus();
    if (m_sendPane.OnOK(focus))
        return;
    if (focus == Item(IDC_FIND_EDIT).Handle())
        m_logPane.FindNext(true);
}

// Escape. It used to close the window, and with it the link, at a slip of
// the finger; the close box, Alt+F4 and the system menu close it.
void CMainDlg::OnCancel() {}

void CMainDlg::Close()
{
    if (m_refreshTimerId)
        KillTimer(Handle(), m_refreshTimerId);
    m_refreshTimerId = 0;
    SaveWindowState();
    m_controller.StopAll();
    EndDialog(IDCANCEL);
}

// A further, independent copy: same executable, no arguments, not watched.
void CMainDlg::StartNewSession()
{
    wchar_t path[MAX_PATH] = {};
    if (GetModuleFileNameW(nullptr, path, MAX_PATH) == 0) {
        m_logPane.Append(TransportEventKind::Error, L"Unable to locate current executable.");
        return;
    }
    std::wstring commandLine = L"\"" + std::wstring(path) + L"\"";
    // Opened exactly over this one, the new window would look like nothing
    // happened: it is told where to open, one caption lower.
    RECT current{};
    GetWindowRect(Handle(), &current);
    const SIZE least = MinimumWindowSize();
    const ScreenRect next =
        CascadedRect(ToScreenRect(current), GetSystemMetrics(SM_CYCAPTION),
                     WorkAreaOf(MonitorFromWindow(Handle(), MONITOR_DEFAULTTONEAREST)), int(least.cx), int(least.cy));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USEPOSITION | STARTF_USESIZE;
    startup.dwX = DWORD(next.left);
    startup.dwY = DWORD(next.top);
    startup.dwXSize = DWORD(next.Width());
    startup.dwYSize = DWORD(next.Height());
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(path, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        m_logPane.Append(TransportEventKind::Error, L"Unable to start new session.");
        return;
    }
    CloseHandle(process.hThread);
    // Under Wine a new copy takes seconds to show: the status says so meanwhile.
    if (m_newSession)
        CloseHandle(m_newSession);
    m_newSession = process.hProcess;
    m_status.Pass(kStartingNewWindow, kNewSessionWaitMs);
}

// Said until the new copy waits for its user, or has gone, or long enough.
void CMainDlg::WatchNewSession()
{
    if (!m_newSession)
        return;
    if (WaitForInputIdle(m_newSession, 0) == WAIT_TIMEOUT &&
        WaitForSingleObject(m_newSession, 0) == WAIT_TIMEOUT)
        return;
    CloseHandle(m_newSession);
    m_newSession = nullptr;
    m_status.EndPass(kStartingNewWindow);
}

void CMainDlg::OnDestroy()
{
    m_controller.StopAll();
    m_automation.Detach(); // its window is owned by this one
    m_serialStrip.Detach();
    m_logPane.Detach(); // the views go with this window
    m_sendPane.Detach();
    // Events the stopped workers posted last would otherwise leak with the window.
    DeleteQueuedEvents();
}

void CMainDlg::TakeQueuedEvents()
{
    MSG msg;
    while (PeekMessageW(&msg, Handle(), WM_TRANSPORT_EVENT, WM_TRANSPORT_EVENT, PM_REMOVE))
        OnTransportEvent(msg.wParam, msg.lParam);
}

// A client whose leaving never reached the window (its event was lost)
// leaves now, with the link.
void CMainDlg::LinkEnded(uint8_t side)
{
    for (const TransportEvent& gone : m_logPane.Core().CloseOpenClients(side))
        if (side == m_listedSide)
            m_clients.OnEvent(gone, ClientListChange::Remove);
    // A bridge's other side goes on, and what the automation does with it.
    if (!m_bridge || m_bridgeEnding || !m_controller.IsRunningOn(side ^ 1))
        m_automation.LinkEnded();
}

// Both links are stopped first, so what is held keeps them from reading;
// then what was held, and what they posted last, is counted as lost (the
// last is still logged), and said after it.
void CMainDlg::ForgetBridge()
{
    if (!m_bridge)
        return;
    m_controller.StopAll();
    m_bridge->Ended(0);
    m_bridge->Ended(1);
    m_bridgeEnding = true;
    TakeQueuedEvents();
    m_bridgeEnding = false;
    BridgeNews();
    m_bridge.reset();
}

void CMainDlg::BridgeNews()
{
    if (!m_bridge)
        return;
    m_logPane.Core().CountUnbridged(m_bridge->TakeDropped());
    for (std::wstring& news : m_bridge->TakeNews())
        m_logPane.Append(TransportEventKind::Status, std::move(news));
}

// One side has ended and the bridge with it: the other is stopped, and
// what both posted last is shown before the line that says so.
void CMainDlg::EndBridge(uint8_t side, bool lost)
{
    ForgetBridge();
    LinkEnded(0);
    LinkEnded(1);
    m_logPane.FlushFraming();
    m_logPane.Append(TransportEventKind::Status, std::wstring(L"Bridge stopped: ") + SideName(side) +
                                                     (lost ? L" lost its connection." : L" has ended."));
    if (m_connected) {
        SetConnectedState(false);
        UpdateWindowTitle(nullptr);
    }
}

void CMainDlg::DeleteQueuedEvents()
{
    MSG msg;
    while (PeekMessageW(&msg, Handle(), WM_TRANSPORT_EVENT, WM_TRANSPORT_EVENT, PM_REMOVE))
        delete reinterpret_cast<TransportEvent*>(msg.lParam);
}

void CMainDlg::OnConnect()
{
    if (m_connected) {
        m_controller.StopAll();
        // What came before Disconnect is shown before the line that says
        // so, and nothing after it: the stopped workers posted their last.
        ForgetBridge();
        TakeQueuedEvents();
        LinkEnded(0);
        LinkEnded(1);
        m_logPane.FlushFraming();
        m_status.SetLink(L"Disconnected");
        m_logPane.Append(TransportEventKind::Status, L"Disconnected.");
        SetConnectedState(false, true);
        UpdateWindowTitle(nullptr);
        return;
    }
    const ControlValues values = ReadControlValues();
    const std::wstring problem = ControlValuesProblem(values);
    if (!problem.empty()) {
        m_status.Pass(problem);
        m_logPane.Append(TransportEventKind::Error, problem);
        return;
    }
    ConnectionSettings settings = SettingsFromControls(values);
    settings.net = m_network;
    SaveConnectionSettings(settings);
    // With no file chosen the server says so itself; there is nothing to unlock.
    if (LinkKindFor(settings) == LinkKind::TcpServer && settings.tls && !settings.net.certificateFile.empty() &&
        !CertificatePassword(settings.net.certificateFile, settings.certificatePassword)) {
        m_logPane.Append(TransportEventKind::Error, L"A TLS server needs its certificate's password.");
        return;
    }
    m_logPane.Append(TransportEventKind::Status, L"Starting connection...");
    m_endErrorShown = false;
    BridgeSettings bridge = m_bridgeSettings;
    // A serial B opens with its lines as the row's boxes say, when the row is its.
    if (bridge.second.useSerial == 1 && !IsSerialChosen()) {
        bridge.second.dtrAtOpen = m_serialStrip.DtrAtOpen();
        bridge.second.rtsAtOpen = m_serialStrip.RtsAtOpen();
    }
    const LogOptions bounds = LoadLogOptions();
    // The client list shows A's peers, or B's when only B has them.
    const bool peersOnB = bridge.on && ManyPeers(bridge.second) && !ManyPeers(settings);
    const ConnectionSettings& listed = peersOnB ? bridge.second : settings;
    m_clients.Reset(LinkKindFor(listed) == LinkKind::Udp && listed.isServer == 1, size_t(bounds.udpSenders));
    m_listedSide = peersOnB ? 1 : 0;
    m_bridge.reset();
    StartLink(0, settings);
    if (bridge.on) {
        const bool reconnect = Item(IDC_RECONNECT).Checked();
        m_bridge = std::make_unique<Bridge>(
            [this](uint8_t side, OutgoingPtr payload) { return m_controller.SendOn(side, std::move(payload)); },
            Reconnects(LinkKindFor(settings), reconnect), Reconnects(LinkKindFor(bridge.second), reconnect));
        m_logPane.Append(TransportEventKind::Status, L"Bridge: A is " + WindowTitle(&settings) + L", B is " +
                                                         WindowTitle(&bridge.second) + L".");
        StartLink(1, bridge.second);
    }
    m_sendPane.SetBridge(bridge.on, m_listedSide, ChoiceOf(listed));
    SetConnectedState(true);
    UpdateWindowTitle(&settings);
    if (bridge.on)
        SetWindowTextW(Handle(), (WindowTitle(&settings) + L"  <->  " + WindowTitle(&bridge.second)).c_str());
}

bool CMainDlg::ManyPeers(const ConnectionSettings& settings)
{
    const LinkKind kind = LinkKindFor(settings);
    return kind == LinkKind::TcpServer || (kind == LinkKind::Udp && settings.isServer == 1);
}

// One link's run: its framing, its session in the journal, its start.
void CMainDlg::StartLink(uint8_t side, const ConnectionSettings& settings)
{
    const LinkKind kind = LinkKindFor(settings);
    m_manyPeers[side] = ManyPeers(settings);
    FramingOptions framing = FramingFor(kind, settings);
    // A serial line cuts its own lines, as it always did; any other framing
    // sees every read as it came.
    const bool portCutsLines = kind == LinkKind::Serial && framing.mode == FramingMode::Lines;
    LinkOptions options;
    options.serialCutsLines = portCutsLines;
    options.reconnect = Item(IDC_RECONNECT).Checked();
    options.maxClients = size_t(LoadLogOptions().tcpClients);
    if (portCutsLines)
        framing.mode = FramingMode::AsReceived;
    m_logPane.NewSession(SessionFor(kind, settings), framing,
                         kind == LinkKind::TcpClient || kind == LinkKind::TcpServer, side);
    if (side == 0)
        m_controller.Start(settings, options);
    else
        m_controller.StartSecond(settings, options);
}

LRESULT CMainDlg::OnTransportEvent(WPARAM, LPARAM lp)
{
    std::unique_ptr<TransportEvent> event(reinterpret_cast<TransportEvent*>(lp));
    if (!event)
        return 0;
    const uint8_t side = event->side & 1;
    // A bridge hands on what came before anything else is done with it.
    BridgeAction bridgeAction =
        m_bridge ? m_bridge->Take(*event, m_bridgeSettings.whenOneEnds, m_controller.IsRunningOn(side ^ 1))
                 : BridgeAction::None;
    if (m_bridgeEnding)
        bridgeAction = BridgeAction::None; // it is being ended already
    const bool paused = Item(IDC_PAUSE_RX).Checked();
    EventReaction reaction = ReactionTo(*event, paused, m_endErrorShown);
    // A bridge is connected until it ends as a whole.
    if (m_bridge && bridgeAction != BridgeAction::StopBoth)
        reaction.endConnected = false;
    if (paused && event->kind == TransportEventKind::Received)
        m_logPane.CountPausedRx(event->data.size());
    // The list is one side's; the other's writes are not its clients'.
    if (side == m_listedSide)
        m_clients.OnEvent(*event, reaction.clientList);
    if (!m_bridge || side == m_controller.SerialSide())
        m_serialStrip.OnEvent(*event);
    if (reaction.showStatus) {
        m_status.SetLink(m_bridge ? std::wstring(SideName(side)) + L": " + event->text : event->text);
        m_endErrorShown = event->kind == TransportEventKind::Error;
    }
    if (reaction.endConnected && bridgeAction != BridgeAction::StopBoth) {
        SetConnectedState(false);
        UpdateWindowTitle(nullptr);
    }
    const bool ended = event->linkEnded;
    const bool lost = event->connectionLost && !ended;
    if (reaction.log) {
        const bool namesPeer = m_manyPeers[side] && event->kind != TransportEventKind::Status &&
                               event->kind != TransportEventKind::Error;
        const bool received = event->kind == TransportEventKind::Received;
        m_logPane.Append(std::move(*event), namesPeer);
        m_automation.AfterEvent(received);
    }
    BridgeNews();
    if (ended)
        LinkEnded(side);
    if (bridgeAction == BridgeAction::KeepOther)
        m_logPane.Append(TransportEventKind::Status, std::wstring(L"Bridge: ") + SideName(side) + L" has ended; " +
                                                         SideName(side ^ 1) + L" stays open.");
    if (bridgeAction == BridgeAction::StopBoth && m_bridge)
        EndBridge(side, lost);
    // The timer's message waits for an empty queue, which a flood never
    // leaves: then the events themselves keep the window moving.
    if (GetTickCount64() - m_lastRefresh >= kRefreshMs)
        OnRefreshTick();
    return 0;
}

// What does not follow the layout: the fonts and the combo boxes' item
// heights, at the DPI the layout is made at.
void CMainDlg::ApplyDpi()
{
    const HFONT old = m_font;
    m_font = CreateFontW(-ScaleForDpi(14, m_shownDpi), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"Consolas");
    ApplyControlFont();
    for (int id : kCombosWithItemHeight) {
        Item(id).Send(CB_SETITEMHEIGHT, WPARAM(-1), ScaleForDpi(20, m_shownDpi));
        Item(id).Send(CB_SETITEMHEIGHT, 0, ScaleForDpi(20, m_shownDpi));
    }
    if (!old)
        return;
    m_logPane.SetDpi(m_shownDpi, m_font);
    m_sendPane.SetDpi(m_shownDpi);
    DeleteObject(old);
}

// The controls' own font is the dialog's, which the system made for the
// window's DPI; a layout made smaller than that gets it smaller too, or
// the text would not fit its boxes.
void CMainDlg::ApplyControlFont()
{
    // The dialog's font is made anew by the system when the DPI changes.
    const HFONT system = reinterpret_cast<HFONT>(SendMessageW(Handle(), WM_GETFONT, 0, 0));
    const HFONT had = reinterpret_cast<HFONT>(Item(IDC_CONNECT).Send(WM_GETFONT));
    const HFONT oldSmall = m_smallFont;
    m_smallFont = nullptr;
    LOGFONTW font{};
    if (m_shownDpi != m_dpi && system && GetObjectW(system, sizeof(font), &font)) {
        font.lfHeight = MulDiv(font.lfHeight, m_shownDpi, m_dpi);
        font.lfWidth = 0;
        m_smallFont = CreateFontIndirectW(&font);
    }
    const HFONT wanted = m_smallFont ? m_smallFont : system;
    // The log and hex views have fonts of their own.
    if (wanted != had)
        for (HWND child = GetWindow(Handle(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            if (reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)) == had)
                SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(wanted), TRUE);
    if (oldSmall && oldSmall != wanted)
        DeleteObject(oldSmall);
}

// Never larger than the work area, so that the whole window can always be
// seen and shrunk; at the window's DPI the layout fits it whole.
SIZE CMainDlg::MinimumWindowSize() const
{
    const ClientSize least = MinimumClientSize(m_dpi);
    const RECT frame = WindowRectForClient(Handle(), RECT{0, 0, least.cx, least.cy}, m_dpi);
    const ScreenRect work = WorkAreaOf(MonitorFromWindow(Handle(), MONITOR_DEFAULTTONEAREST));
    return SIZE{std::min<LONG>(frame.right - frame.left, work.Width()),
                std::min<LONG>(frame.bottom - frame.top, work.Height())};
}

void CMainDlg::OnGetMinMaxInfo(MINMAXINFO& info) const
{
    const SIZE least = MinimumWindowSize();
    info.ptMinTrackSize = POINT{least.cx, least.cy};
}

// Moved to another monitor or its scale changed: the system suggests the
// window's new rectangle, and everything is laid out again for the new DPI.
void CMainDlg::OnDpiChanged(int dpi, const RECT& suggested)
{
    m_dpi = m_shownDpi = dpi > 0 ? dpi : 96;
    ApplyDpi();
    if (!m_placing)
        SetWindowPos(Handle(), nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                     suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    LayoutForClientSize();
}

void CMainDlg::OnTimer(UINT_PTR id)
{
    if (id == kRefreshTimerId)
        OnRefreshTick();
    else
        m_sendPane.OnTimer(id);
}

void CMainDlg::OnRefreshTick()
{
    m_lastRefresh = GetTickCount64();
    if (m_bridge) {
        m_bridge->Pump();
        BridgeNews();
    }
    m_logPane.Refresh();
    m_clients.Refresh();
    m_automation.Refresh();
    WatchNewSession();
    m_status.Update();
}

void CMainDlg::OnNotify(const NMHDR& header)
{
    if (m_logPane.OnNotify(header) || m_sendPane.OnNotify(header))
        return;
    if (header.code == TCN_SELCHANGE && header.idFrom == IDC_LOG_TABS)
        m_logPane.OnTabChanged();
}

void CMainDlg::SetConnectedState(bool connected, bool byUser)
{
    m_connected = connected;
    m_sendPane.SetLinkOpen(connected, byUser);
    // A bridge's serial port may be either side.
    const int serialSide = m_controller.SerialSide();
    m_serialStrip.SetOpen(connected && serialSide >= 0,
                          serialSide >= 0 ? m_controller.SettingsOf(uint8_t(serialSide)).flowControl : 0);
    Item(IDC_CONNECT).SetText(ConnectCaption(IsSerialChosen(), connected));
    for (int id : kConnectionControls)
        Item(id).Enable(!connected);
    if (!connected)
        m_sendPane.SetBridge(false);
    if (connected)
        Item(IDC_IP_EDIT).Enable(false);
    else
        OnModeChanged();
    LayoutForClientSize();
}

void CMainDlg::UpdateWindowTitle(const ConnectionSettings* settings)
{
    SetWindowTextW(Handle(), WindowTitle(settings).c_str());
}

bool CMainDlg::IsSerialChosen() const
{
    return Item(IDC_COMM_COMBO).Selection() == CommSerial;
}

ConnectionSettings CMainDlg::ReadSettingsFromControls() const
{
    return SettingsFromControls(ReadControlValues());
}

ControlValues CMainDlg::ReadControlValues() const
{
    ControlValues c = ReadLinkFields(Handle(), kMainLinkFields);
    c.dtr = m_serialStrip.DtrAtOpen();
    c.rts = m_serialStrip.RtsAtOpen();
    c.tls = Item(IDC_TLS).Checked();
    return c;
}

void CMainDlg::ApplySettingsToControls(const ConnectionSettings& settings)
{
    ShowLinkSettings(Handle(), kMainLinkFields, settings);
    m_serialStrip.SetLinesAtOpen(settings.dtrAtOpen, settings.rtsAtOpen);
    Item(IDC_TLS).SetCheck(settings.tls);
    m_network = settings.net;
}

void CMainDlg::EditBridge()
{
    BridgeDialog dialog(m_bridgeSettings);
    if (dialog.DoModal(Handle()) != IDOK)
        return;
    m_bridgeSettings = dialog.Settings();
    SaveBridgeSettings(m_bridgeSettings);
    ShowBridgeChoice();
    OnCommunicationChanged(); // B's peers may be listed, its serial lines shown
}

void CMainDlg::ShowBridgeChoice()
{
    Item(IDC_BRIDGE).SetText(m_bridgeSettings.on ? L"Bridge: on..." : L"Bridge...");
}

void CMainDlg::EditNetworkOptions()
{
    NetworkOptionsDialog dialog(m_network, ReadSettingsFromControls());
    if (dialog.DoModal(Handle()) != IDOK)
        return;
    m_network = dialog.Options();
    SaveNetworkOptions(m_network);
}

bool CMainDlg::CertificatePassword(const std::wstring& file, std::wstring& password)
{
    if (file != m_passwordFile || m_passwordFile.empty()) {
        PasswordDialog dialog(file);
        if (dialog.DoModal(Handle()) != IDOK)
            return false;
        m_passwordFile = file;
        m_password = dialog.Password();
    }
    password = m_password;
    return true;
}

void CMainDlg::OnCommunicationChanged()
{
    const HWND wnd = Handle();
    SendMessageW(wnd, WM_SETREDRAW, FALSE, 0);
    const bool serial = IsSerialChosen();
    for (int id : kNetworkSet)
        Item(id).Show(!serial);
    for (int id : kSerialSet)
        Item(id).Show(serial);
    for (int id : kSerialLineSet)
        Item(id).Show(serial || (m_bridgeSettings.on && m_bridgeSettings.second.useSerial == 1));
    OnModeChanged();
    Item(IDC_CONNECT).SetText(ConnectCaption(serial, false));
    if (Item(IDC_LOG_EDIT))
        LayoutForClientSize();
    SendMessageW(wnd, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
}

void CMainDlg::OnModeChanged()
{
    m_sendPane.SetPeerChoice(PeersChosen());
    const int communication = Item(IDC_COMM_COMBO).Selection();
    m_logPane.SetChosenLink({communication != CommUdp,
                             communication == CommSerial ? FramedLink::Serial : FramedLink::Tcp,
                             PeersChosen() != PeerChoice::None});
    // Only a TCP client or a serial port is tried again.
    Item(IDC_RECONNECT).Enable(!m_connected && (communication == CommSerial ||
                                                (communication == CommTcp && Item(IDC_MODE_COMBO).Selection() == 0)));
    Item(IDC_TLS).Enable(!m_connected && communication == CommTcp);
    if (IsSerialChosen())
        return;
    const Window ip = Item(IDC_IP_EDIT);
    const IpEditState state = IpEditForMode(Item(IDC_MODE_COMBO).Selection(), ip.Text());
    if (state.text != ip.Text())
        ip.SetText(state.text);
    ip.Enable(state.enabled);
}

void CMainDlg::LayoutForClientSize()
{
    const RECT client = Window(Handle()).ClientRect();
    LayoutControls(client.right, client.bottom);
}

void CMainDlg::LayoutControls(int cx, int cy)
{
    LayoutInput input;
    input.cx = cx;
    input.cy = cy;
    input.dpi = m_dpi;
    input.serial = IsSerialChosen();
    // A bridge's second link lists its peers where the first has none.
    input.clientList = PeersChosen() != PeerChoice::None || (m_bridgeSettings.on && ManyPeers(m_bridgeSettings.second));
    input.sideChoice = m_bridgeSettings.on;
    input.serialLines = m_bridgeSettings.on && m_bridgeSettings.second.useSerial == 1;
    // A layout made smaller has its text made smaller first, which the tabs'
    // insets follow.
    const int shown = LayoutDpi(input);
    if (shown != m_shownDpi && m_font) {
        m_shownDpi = shown;
        ApplyDpi();
    }
    input.logTabs = MeasureTabInsets(m_logPane.Tabs());
    input.sendTabs = MeasureTabInsets(m_sendPane.Tabs());
    // One batch, then one repaint of everything: moved one by one, controls
    // were left unpainted at their new places and stale images behind.
    const std::vector<Placement> layout = LayoutFor(input);
    HDWP batch = BeginDeferWindowPos(int(layout.size()));
    for (const Placement& p : layout) {
        const Window control = Item(p.id);
        if (!control || !batch)
            continue;
        UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
        if (p.visibility != Visibility::Keep)
            flags |= p.visibility == Visibility::Show ? SWP_SHOWWINDOW : SWP_HIDEWINDOW;
        const bool combo = std::find(std::begin(kCombosWithItemHeight), std::end(kCombosWithItemHeight), p.id) !=
                           std::end(kCombosWithItemHeight);
        const int height = combo && p.visibility != Visibility::Hide ? control.DroppedHeight(p.height) : p.height;
        batch = DeferWindowPos(batch, control.Handle(), nullptr, p.x, p.y, p.width, height, flags);
    }
    if (batch)
        EndDeferWindowPos(batch);
    RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}
