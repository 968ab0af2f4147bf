#include "ui/LogPane.h"

#include "capture/PcapngExport.h"
#include "framework/ChildWindow.h"
#include "framework/FileDialog.h"
#include "framework/MessageBox.h"
#include "framework/PopupMenu.h"
#include "hexview/HexView.h"
#include "logview/LogLine.h"
#include "logview/LogView.h"
#include "res/resource.h"
#include "settings/Framing.h"
#include "settings/SettingsStore.h"
#include "text/SystemError.h"
#include "text/Utf8.h"
#include "ui/ControlRules.h"
#include "ui/FramingDialog.h"
#include "ui/LogMenu.h"
#include "ui/LogTools.h"
#include "ui/SendComposer.h"
#include "ui/StatusText.h"

#include <commctrl.h>

#include <algorithm>

void LogPane::Attach(Window dialog, HWND tabs, HFONT font, StatusText& status)
{
    m_dialog = dialog;
    m_status = &status;
    m_tabs = tabs;
    m_timestampBox = dialog.Item(IDC_TIMESTAMP);
    m_autoScrollBox = dialog.Item(IDC_AUTOSCROLL);
    const Window view = dialog.Item(IDC_LOG_EDIT);
    m_view = ChildWindow::FromHandle<CLogView>(view.Handle());
    if (m_view) {
        m_view->Model().SetTraffic(
            [this](uint64_t at, uint8_t* out, size_t count) { return m_core.Traffic().Read(at, out, count); });
        m_core.SetLines(&m_view->Model(), &m_shown);
    }
    view.Send(WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    m_options = LoadLogOptions();
    ApplyOptions();
    // Traffic beyond the budget goes to a folder of this run's own; what a
    // crashed run left behind goes first.
    const std::wstring settings = SettingsFilePath();
    const std::wstring parent = settings.substr(0, settings.find_last_of(L'\\'));
    RemoveStaleJournalFolders(parent);
    m_journalFolder = std::make_unique<JournalFolder>(parent);
    m_core.Traffic().SetSpillPath(m_journalFolder->Path() + L"\\traffic.bin");
    m_core.Traffic().SetBudget(size_t(m_options.journalMegabytes) << 20);
    m_core.Traffic().SetDiskCap(uint64_t(m_options.journalDiskMegabytes) << 20);
    m_hexView = CHexView::Create(dialog.Handle(), RECT{0, 0, 10, 10}, IDC_LOG_HEX, HexViewConfig{2, 16, true});
    if (m_hexView) {
        ShowWindow(m_hexView->Handle(), SW_HIDE);
        m_hexView->ShowRows(&m_hexRows);
        m_hexView->OnPoint([this](int64_t offset) { ShowPointed(offset); });
    }
    AddCounterTips();
}

// The counters shorten large counts; their tooltips give the exact ones,
// asked for when shown (TTN_GETDISPINFO).
void LogPane::AddCounterTips()
{
    m_tips = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, m_dialog.Handle(), nullptr, GetModuleHandleW(nullptr),
                             nullptr);
    if (!m_tips)
        return;
    SendMessageW(m_tips, TTM_SETMAXTIPWIDTH, 0, 600); // lets the Lost tip break its lines
    for (int id : {IDC_RX_COUNT, IDC_TX_COUNT, IDC_LOST}) {
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = m_dialog.Handle();
        tool.uId = reinterpret_cast<UINT_PTR>(m_dialog.Item(id).Handle());
        tool.lpszText = LPSTR_TEXTCALLBACKW;
        SendMessageW(m_tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

bool LogPane::OnNotify(const NMHDR& header)
{
    if (header.code != TTN_GETDISPINFOW || header.hwndFrom != m_tips)
        return false;
    auto& info = const_cast<NMTTDISPINFOW&>(reinterpret_cast<const NMTTDISPINFOW&>(header));
    const HWND from = HWND(header.idFrom);
    if (from == m_dialog.Item(IDC_LOST).Handle())
        m_tipText = LostTipText(m_core.State());
    else if (from == m_dialog.Item(IDC_RX_COUNT).Handle())
        m_tipText = CounterTipText(L"RX", m_core.State().m_rxByteCount);
    else
        m_tipText = CounterTipText(L"TX", m_core.State().m_txByteCount);
    info.lpszText = m_tipText.data();
    return true;
}

void LogPane::SetDpi(int dpi, HFONT font)
{
    if (m_view)
        SendMessageW(m_view->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (m_hexView)
        m_hexView->SetDpi(dpi);
}

void LogPane::Detach()
{
    StopRecording(); // a capture file ends with its streams closed
    m_core.SetLines(nullptr, nullptr);
    m_tips = nullptr; // owned by the dialog, which destroys it
    m_view = nullptr;
    m_hexView = nullptr;
    m_tabs = nullptr;
}

void LogPane::Append(TransportEventKind kind, std::wstring text)
{
    m_core.SetStamped(m_timestampBox.Checked());
    m_core.Append(kind, std::move(text));
}

void LogPane::Append(TransportEvent&& event, bool namesPeer)
{
    m_core.SetStamped(m_timestampBox.Checked());
    m_core.Append(std::move(event), namesPeer);
}

void LogPane::ChooseFraming(FramingMode mode)
{
    if (!m_chosen.framed)
        return;
    const FramedLink link = m_chosen.framing;
    FramingOptions options = LoadFraming(link);
    if (!FramingParameterPrompt(mode).empty()) {
        FramingDialog ask(options, mode);
        if (ask.DoModal(m_dialog.Handle()) != IDOK)
            return;
        options = ask.Options();
    }
    options.mode = mode;
    SaveFraming(link, options);
    // A TCP link running now is framed so from here on.
    if (link == FramedLink::Tcp)
        m_core.Retune(options);
}

bool LogPane::StartRecording(const std::wstring& path)
{
    m_core.SetStamped(m_timestampBox.Checked());
    const bool started = m_core.StartRecording(path);
    ShowRecording();
    return started;
}

void LogPane::StopRecording()
{
    if (!m_core.Recording().Recording())
        return;
    m_core.StopRecording();
    ShowRecording();
}

// The Record button's caption and, while recording, the file and its size.
void LogPane::ShowRecording()
{
    const Recorder& recorder = m_core.Recording();
    const bool recording = recorder.Recording();
    m_dialog.Item(IDC_RECORD).SetText(recording ? L"Stop" : L"Record");
    const Window status = m_dialog.Item(IDC_RECORD_STATUS);
    if (recording) {
        const std::wstring& path = recorder.Path();
        const std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
        const uint64_t written = recorder.Written();
        const std::wstring text =
            L"Recording to " + name + L": " + ShortCount(written) + (written < 100000 ? L" bytes" : L"");
        if (status.Text() != text)
            status.SetText(text);
    }
    status.Show(recording);
}

void LogPane::ToggleRecording()
{
    if (m_core.Recording().Recording()) {
        StopRecording();
        return;
    }
    const std::wstring path = AskFileName(m_dialog.Handle(), true, L"Ferrolink.pcapng",
                                          L"Wireshark capture (*.pcapng)\0*.pcapng\0Log Files (*.log)\0*.log\0"
                                          L"Binary Files (*.bin)\0*.bin\0All Files (*.*)\0*.*\0",
                                          L"pcapng", L"Record to");
    if (!path.empty())
        StartRecording(path);
}

bool LogPane::HexTabShown() const
{
    return m_tabs && TabCtrl_GetCurSel(m_tabs) == 1;
}

bool LogPane::AutoScroll() const
{
    return m_autoScrollBox.Checked();
}

void LogPane::Refresh()
{
    // Blocks still queued may have come before a held message's time is
    // up: a tick waits until the window has taken them.
    MSG queued;
    if (!PeekMessageW(&queued, m_dialog.Handle(), WM_TRANSPORT_EVENT, WM_TRANSPORT_EVENT, PM_NOREMOVE))
        m_core.FlushFraming(false);
    const bool wasRecording = m_core.Recording().Recording();
    m_core.Check();
    if (wasRecording)
        ShowRecording();
    if (m_core.TakeJournalGrew())
        m_hexBehind = true;
    if (!m_core.TakeDirty())
        return;
    if (!HexTabShown() && m_view)
        m_view->Refresh(AutoScroll());
    if (m_hexBehind)
        CatchUpHexView(AutoScroll());
    UpdateCounters();
}

void LogPane::CatchUpHexView(bool toEnd)
{
    m_hexBehind = false;
    m_hexRows.Update();
    if (!m_hexView)
        return;
    m_hexView->RowsGrew();
    if (toEnd)
        m_hexView->ScrollToEnd();
    else
        m_hexView->CatchUp();
}

void LogPane::ShowPointed(int64_t offset)
{
    const Journal& journal = m_core.Traffic();
    const bool onByte = offset >= 0 && uint64_t(offset) < journal.Size();
    m_status->Point(onByte ? DescribeJournalByte(journal, uint64_t(offset)) : std::wstring());
}

void LogPane::OnTabChanged()
{
    const bool ascii = !HexTabShown();
    m_dialog.Item(IDC_LOG_EDIT).Show(ascii);
    if (m_hexView)
        ShowWindow(m_hexView->Handle(), ascii ? SW_HIDE : SW_SHOW);
    if (ascii && m_view)
        m_view->Refresh(AutoScroll());
}

bool LogPane::OnCommand(int id, int code)
{
    switch (id) {
    case IDC_CLEAR:
        if (code == BN_CLICKED)
            Clear();
        return true;
    case IDC_COPY:
        if (code == BN_CLICKED)
            Copy();
        return true;
    case IDC_SAVE:
        if (code == BN_CLICKED)
            Save();
        return true;
    case IDC_FIND_NEXT:
        if (code == BN_CLICKED)
            FindNext();
        return true;
    case IDC_RECORD:
        if (code == BN_CLICKED)
            ToggleRecording();
        return true;
    case IDC_PAUSE_RX:
        if (code == BN_CLICKED)
            OnPauseRxChanged(m_dialog.Item(IDC_PAUSE_RX).Checked());
        return true;
    case IDC_AUTOSCROLL:
        if (code == BN_CLICKED && m_view)
            m_view->Refresh(AutoScroll());
        return true;
    case IDM_LOG_RECORD:
        ToggleRecording();
        return true;
    case IDM_LOG_FRAMING_FIRST:
    case IDM_LOG_FRAMING_FIRST + 1:
    case IDM_LOG_FRAMING_FIRST + 2:
    case IDM_LOG_FRAMING_FIRST + 3:
    case IDM_LOG_FRAMING_LAST:
        ChooseFraming(FramingMode(id - IDM_LOG_FRAMING_FIRST));
        return true;
    case IDM_LOG_COPY:
    case IDM_LOG_SELECT_ALL:
    case IDM_LOG_FIND_NEXT:
    case IDM_LOG_CLEAR:
    case IDM_LOG_MILLISECONDS:
    case IDM_LOG_PEERS:
    case IDM_LOG_RECEIVED_HEX:
    case IDM_LOG_SENT_HEX:
    case IDM_LOG_AUTOSCROLL:
        OnMenu(id);
        return true;
    }
    return false;
}

bool LogPane::OnContextMenu(HWND from, LPARAM where)
{
    if (!m_view || from != m_view->Handle())
        return false;
    ShowMenu(where);
    return true;
}

void LogPane::Clear()
{
    m_core.Clear();
    if (m_view)
        m_view->Refresh(false);
    m_hexRows.Update();
    m_hexBehind = false;
    if (m_hexView)
        m_hexView->Clear();
    UpdateCounters();
}

void LogPane::UpdateCounters()
{
    const LogState& state = m_core.State();
    m_dialog.Item(IDC_RX_COUNT).SetText(CounterText(L"RX", state.m_rxByteCount));
    m_dialog.Item(IDC_TX_COUNT).SetText(CounterText(L"TX", state.m_txByteCount));
    // Nothing lost in a normal run: then it takes no room.
    const Window lost = m_dialog.Item(IDC_LOST);
    const std::wstring text = LostText(state);
    if (!text.empty() && lost.Text() != text)
        lost.SetText(text);
    lost.Show(!text.empty());
}

void LogPane::OnPauseRxChanged(bool paused)
{
    if (paused)
        return;
    m_core.SetStamped(m_timestampBox.Checked());
    m_core.SayPausedRx();
}

void LogPane::Copy()
{
    if (HexTabShown()) {
        if (m_hexView)
            m_hexView->CopySelection();
    } else if (m_view) {
        m_view->CopySelection();
    }
}

void LogPane::Save()
{
    const std::wstring path =
        AskFileName(m_dialog.Handle(), true, L"Ferrolink.log",
                    L"Log Files (*.log)\0*.log\0Binary Files (*.bin)\0*.bin\0Text Files (*.txt)\0*.txt\0"
                    L"Wireshark capture (*.pcapng)\0*.pcapng\0All Files (*.*)\0*.*\0",
                    L"log", nullptr);
    if (path.empty())
        return;
    if (IsCaptureName(path)) {
        if (!WritePcapng(path, m_core.Traffic()))
            ShowErrorBox(m_dialog.Handle(), std::wstring(L"The capture could not be written to ") + path + L".");
        return;
    }
    const std::wstring text = m_view ? m_view->Model().AllText(m_view->Options()) : std::wstring();
    if (!SaveLogFile(path, text, m_core.Traffic()))
        ShowErrorBox(m_dialog.Handle(), std::wstring(L"The log could not be written to ") + path + L".");
}

void LogPane::FindNext(bool fromFindBox)
{
    const std::wstring what = m_dialog.Item(IDC_FIND_EDIT).Text();
    if (what.empty())
        return;
    if (HexTabShown()) {
        if (!m_hexView)
            return;
        CatchUpHexView(false); // a match may be in bytes that came since the tick
        const HexModel& model = m_hexView->Model();
        const int64_t from = model.SelAnchor() < 0 ? 0 : std::min(model.SelAnchor(), model.SelEnd()) + 1;
        const std::vector<uint8_t> pattern = ToAnsiBytes(what);
        const int64_t found = FindInBytes(m_core.Traffic(), pattern, from);
        if (found < 0) {
            SayNotFound(what);
            return;
        }
        m_hexView->SelectFound(found, int64_t(pattern.size()));
        if (!fromFindBox)
            SetFocus(m_hexView->Handle());
        return;
    }
    if (!m_view)
        return;
    if (m_view->FindNext(what)) {
        if (!fromFindBox)
            SetFocus(m_view->Handle());
    } else
        SayNotFound(what);
}

// A search that finds nothing must not look like one that did nothing.
void LogPane::SayNotFound(const std::wstring& what)
{
    MessageBeep(MB_ICONASTERISK);
    m_status->Pass(L"\"" + what + L"\" not found");
}

void LogPane::ApplyOptions()
{
    if (!m_view)
        return;
    LogShowOptions show;
    show.milliseconds = m_options.milliseconds;
    show.peers = m_options.peers;
    show.receivedAsHex = m_options.receivedAsHex;
    show.sentAsHex = m_options.sentAsHex;
    m_view->SetOptions(show);
    m_shown = show;
    LogModel::Limits limits;
    limits.lines = size_t(m_options.lines);
    limits.characters = size_t(m_options.characters);
    m_view->Model().SetLimits(limits);
}

// At the mouse, or for the keyboard (no position) at the view's corner. The
// chosen item comes back to the dialog as WM_COMMAND.
void LogPane::ShowMenu(LPARAM where)
{
    LogMenuState state;
    state.hasSelection = m_view->Model().HasSelection();
    state.canFind = !m_dialog.Item(IDC_FIND_EDIT).Text().empty();
    state.milliseconds = m_options.milliseconds;
    state.peers = m_options.peers;
    state.peersApply = m_chosen.manyPeers;
    state.receivedAsHex = m_options.receivedAsHex;
    state.sentAsHex = m_options.sentAsHex;
    state.autoScroll = AutoScroll();
    state.recording = m_core.Recording().Recording();
    if (m_chosen.framed)
        state.framing = int(LoadFraming(m_chosen.framing).mode);
    ShowPopupMenu(m_dialog.Handle(), m_view->Handle(), where, LogMenuItems(state));
}

void LogPane::OnMenu(int id)
{
    if (!m_view)
        return;
    switch (id) {
    case IDM_LOG_COPY:
        m_view->CopySelection();
        return;
    case IDM_LOG_SELECT_ALL:
        m_view->SelectAll();
        return;
    case IDM_LOG_FIND_NEXT:
        FindNext();
        return;
    case IDM_LOG_CLEAR:
        Clear();
        return;
    case IDM_LOG_AUTOSCROLL:
        m_autoScrollBox.SetCheck(!AutoScroll());
        m_view->Refresh(AutoScroll());
        return;
    case IDM_LOG_MILLISECONDS:
        m_options.milliseconds = !m_options.milliseconds;
        break;
    case IDM_LOG_PEERS:
        m_options.peers = !m_options.peers;
        break;
    case IDM_LOG_RECEIVED_HEX:
        m_options.receivedAsHex = !m_options.receivedAsHex;
        break;
    case IDM_LOG_SENT_HEX:
        m_options.sentAsHex = !m_options.sentAsHex;
        break;
    }
    ApplyOptions();
    SaveLogOptions(m_options);
}
