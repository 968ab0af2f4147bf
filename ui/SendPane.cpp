#include "ui/SendPane.h"

#include "bridge/Bridge.h"
#include "framework/FileDialog.h"
#include "framework/PopupMenu.h"
#include "hexview/HexView.h"
#include "res/resource.h"
#include "text/Hex.h"
#include "text/Utf8.h"
#include "ui/ClientList.h"
#include "ui/LogPane.h"
#include "ui/SendComposer.h"
#include "ui/StatusText.h"

#include <commctrl.h>

#include <algorithm>

namespace {

// A file is fed while the link has less than this waiting, and for at most
// this long a tick, so the window stays quick and memory stays small.
constexpr size_t kFileQueueBytes = 1 << 20;
constexpr ULONGLONG kFileTickMs = 15;
constexpr UINT kFileTimerMs = 10;
constexpr uint64_t kDatagramBytesPerTurn = 64 * 1024;

} // namespace

void SendPane::Attach(Window dialog, HWND tabs, ConnectionController& controller, LogPane& log, ClientList& clients,
                      StatusText& status)
{
    m_dialog = dialog;
    m_status = &status;
    m_tabs = tabs;
    m_controller = &controller;
    m_log = &log;
    m_clients = &clients;
    const HWND edit = Item(IDC_SEND_EDIT).Handle();
    // No cap on what can be typed or pasted beyond the system's own.
    SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
    m_edit.Attach(edit, [this, edit](UINT msg, WPARAM wp, LPARAM lp, LRESULT&) {
        if (msg == WM_CONTEXTMENU) {
            ShowEditMenu(lp);
            return true;
        }
        return SelectAllOnCtrlA(edit, msg, wp);
    });
    m_hexView = CHexView::Create(dialog.Handle(), RECT{0, 0, 10, 10}, IDC_SEND_HEX, HexViewConfig{0, 16, false});
    if (m_hexView) {
        m_hexView->ResetEditor();
        ShowWindow(m_hexView->Handle(), SW_HIDE);
    }
    Item(IDC_SEND_FILE).SetText(L"Send File\u2026");
    const Window checksum = Item(IDC_CHECKSUM);
    for (int kind = 0; kind < kChecksumCount; ++kind)
        checksum.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ChecksumName(Checksum(kind))));
    ApplyOptions(LoadSendOptions());
    m_history = LoadSendHistory();
    const Window history = Item(IDC_HISTORY);
    history.Send(CB_RESETCONTENT);
    for (const std::wstring& entry : m_history)
        history.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(HistoryDisplayText(entry).c_str()));
}

void SendPane::Detach()
{
    m_file.Close();
    m_edit.Detach();
    m_hexView = nullptr;
}

void SendPane::ApplyOptions(const SendOptions& options)
{
    Item(IDC_CHECKSUM).Select(options.checksum);
    Item(IDC_ESCAPES).SetCheck(options.escapes);
    Item(IDC_CR).SetCheck(options.cr);
    Item(IDC_LF).SetCheck(options.lf);
    Item(IDC_CRLF).SetCheck(options.crlf);
    Item(IDC_ENTER_SENDS).SetCheck(options.enterSends);
    Item(IDC_REPEAT_MS).SetText(std::to_wstring(options.repeatMs));
    Item(IDC_CLEAR_AFTER_SEND).SetCheck(options.clearAfterSend);
    SetPeerChoice(m_peerChoice); // fills the choice
    Item(IDC_SEND_TARGET).Select(options.toSelected ? 1 : 0);
    if (m_tabs && options.hexFace) {
        TabCtrl_SetCurSel(m_tabs, 1);
        OnTabChanged();
    }
}

SendOptions SendPane::ReadOptions() const
{
    SendOptions options;
    options.escapes = Item(IDC_ESCAPES).Checked();
    options.checksum = std::max(0, Item(IDC_CHECKSUM).Selection());
    options.cr = Item(IDC_CR).Checked();
    options.lf = Item(IDC_LF).Checked();
    options.crlf = Item(IDC_CRLF).Checked();
    options.enterSends = Item(IDC_ENTER_SENDS).Checked();
    options.repeatMs = int32_t(RepeatInterval(Item(IDC_REPEAT_MS).Text()));
    options.clearAfterSend = Item(IDC_CLEAR_AFTER_SEND).Checked();
    options.hexFace = HexFace();
    // While bridged the choice names sides: what is kept is the choice as
    // it was before.
    options.toSelected = m_sideItems.empty() ? Item(IDC_SEND_TARGET).Selection() == 1 : m_toSelectedUnbridged;
    return options;
}

void SendPane::SaveState()
{
    SaveSendOptions(ReadOptions());
    MergeSendHistory(m_history);
}

bool SendPane::HexFace() const
{
    return m_tabs && TabCtrl_GetCurSel(m_tabs) == 1;
}

void SendPane::SetLinkOpen(bool open, bool byUser)
{
    m_linkOpen = open;
    if (open)
        return;
    if (m_repeatTimer)
        StopRepeat(byUser ? L"" : L"Repeat stopped: the link has ended.");
    if (m_file.IsOpen())
        EndFile(L"File send stopped: the link has ended after " + FileProgressWords() + L".", !byUser);
}

void SendPane::SetPeerChoice(PeerChoice choice)
{
    m_peerChoice = choice;
    if (!m_sideItems.empty())
        return; // the bridge's choice stays until the bridge goes
    const Window target = Item(IDC_SEND_TARGET);
    const int chosen = std::max(0, target.Selection());
    target.Send(CB_RESETCONTENT);
    const wchar_t* first = choice == PeerChoice::Senders ? L"to last sender" : L"to all";
    target.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(first));
    target.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"to selected"));
    target.Select(chosen);
}

void SendPane::SetBridge(bool bridged, uint8_t listedSide, PeerChoice listed)
{
    const bool was = !m_sideItems.empty();
    m_sideItems.clear();
    if (!bridged) {
        if (was) {
            // The single link's choice comes back as it was.
            SetPeerChoice(m_peerChoiceUnbridged);
            Item(IDC_SEND_TARGET).Select(m_toSelectedUnbridged ? 1 : 0);
        }
        m_controller->SetSendSide(0);
        return;
    }
    if (!was) {
        m_peerChoiceUnbridged = m_peerChoice;
        m_toSelectedUnbridged = Item(IDC_SEND_TARGET).Selection() == 1;
    }
    m_peerChoice = listed;
    m_listedSide = listedSide;
    const Window target = Item(IDC_SEND_TARGET);
    target.Send(CB_RESETCONTENT);
    for (uint8_t side : {uint8_t(0), uint8_t(1)}) {
        m_sideItems.push_back({side, false});
        target.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>((std::wstring(L"to ") + SideName(side)).c_str()));
        if (side == listedSide && m_peerChoice != PeerChoice::None) {
            m_sideItems.push_back({side, true});
            target.Send(CB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>((std::wstring(L"to ") + SideName(side) + L": selected").c_str()));
        }
    }
    target.Select(0);
    FollowSideChoice();
}

void SendPane::FollowSideChoice()
{
    // A file goes whole to the side it began on; the choice applies after.
    if (m_file.IsOpen())
        return;
    const int chosen = Item(IDC_SEND_TARGET).Selection();
    if (chosen >= 0 && size_t(chosen) < m_sideItems.size())
        m_controller->SetSendSide(m_sideItems[size_t(chosen)].side);
}

bool SendPane::ChoiceIsSelected() const
{
    const int chosen = Item(IDC_SEND_TARGET).Selection();
    if (!m_sideItems.empty())
        return chosen >= 0 && size_t(chosen) < m_sideItems.size() && m_sideItems[size_t(chosen)].selected;
    return m_peerChoice != PeerChoice::None && chosen == 1;
}

bool SendPane::Send(bool toSelected)
{
    m_backedUp = false;
    // Its bytes would land in the middle of the file at the peer.
    if (m_file.IsOpen()) {
        m_log->Append(TransportEventKind::Error, L"Send failed: a file is being sent (Cancel Send stops it).");
        return false;
    }
    const SendOptions options = ReadOptions();
    PayloadForm form;
    form.checksum = Checksum(options.checksum);
    const SendTargets targets = TargetsNow(toSelected || ChoiceIsSelected());
    if (HexFace()) {
        if (!m_hexView)
            return true;
        const std::vector<uint8_t> bytes = m_hexView->GetContent();
        if (bytes.empty())
            return true;
        form.hex = true;
        if (!Deliver(FinishPayload(form, bytes).bytes, targets, true))
            return false;
        AddToHistory(HexHistoryEntry(bytes));
        if (options.clearAfterSend)
            m_hexView->ResetEditor();
        return true;
    }

    const std::wstring text = Item(IDC_SEND_EDIT).Text();
    form.text = text;
    form.escapes = options.escapes;
    form.ending = LineEndingFor(options.cr, options.lf, options.crlf);
    const BuiltPayload built = MakePayload(form);
    if (!built.problem.empty()) {
        m_log->Append(TransportEventKind::Error, built.problem);
        return false;
    }
    if (built.bytes.empty())
        return true;
    if (!Deliver(built.bytes, targets, false, built.checksum))
        return false;
    AddToHistory(TextHistoryEntry(text));
    if (options.clearAfterSend)
        Item(IDC_SEND_EDIT).SetText(L"");
    return true;
}

SendPane::SendTargets SendPane::TargetsNow(bool toSelected) const
{
    SendTargets targets;
    if (toSelected) {
        targets.everyone = false;
        targets.peers = m_clients->SelectedEntries();
        if (targets.peers.empty())
            targets.problem = L"Send failed: no client is selected.";
    } else if (m_linkOpen && m_clients->Senders() &&
               (m_sideItems.empty() || m_controller->SendSide() == m_listedSide)) {
        // A listener answers whoever sent last as the list saw it, so the
        // log, the counts and the file all name the same peer.
        targets.everyone = false;
        if (const RosterEntry* last = m_clients->LastSender())
            targets.peers.push_back(*last);
        else
            targets.problem = L"Send failed: no datagram has arrived yet, so there is no sender to answer.";
    }
    return targets;
}

bool SendPane::Deliver(const std::vector<uint8_t>& payload, const SendTargets& targets, bool asHex,
                       ChecksumSpan checksum)
{
    SendTag tag;
    tag.asHex = asHex;
    tag.checksumFrom = checksum.from;
    tag.checksumCount = checksum.count;
    return DeliverTagged(payload, targets, tag) == SendResult::Queued;
}

SendResult SendPane::DeliverTagged(const std::vector<uint8_t>& payload, const SendTargets& targets, SendTag tag)
{
    if (!targets.problem.empty()) {
        m_log->Append(TransportEventKind::Error, targets.problem);
        return SendResult::Refused;
    }
    if (targets.everyone) {
        const SendResult result = m_controller->Send(payload, tag);
        if (result == SendResult::BackedUp)
            SayBackedUp();
        else if (result != SendResult::Queued)
            m_log->Append(TransportEventKind::Error, SendFailedText());
        if (result == SendResult::Queued)
            m_repeatSkipSaid = false;
        return result;
    }
    // Each peer's line and record name it: the capture puts the bytes in
    // its stream alone.
    tag.toOnePeer = true;
    size_t reached = 0, backedUp = 0;
    for (const RosterEntry& peer : targets.peers) {
        const SendResult result = m_controller->SendTo(m_clients->Senders() ? 0 : peer.id, peer.peer, payload, tag);
        reached += result == SendResult::Queued;
        backedUp += result == SendResult::BackedUp;
    }
    if (reached == 0 && backedUp > 0)
        SayBackedUp();
    else if (reached == 0)
        m_log->Append(TransportEventKind::Error, L"Send failed: the chosen peers could not be reached.");
    else if (reached < targets.peers.size())
        m_log->Append(TransportEventKind::Error, L"Send reached " + std::to_wstring(reached) + L" of the " +
                                                     std::to_wstring(targets.peers.size()) + L" chosen peers" +
                                                     (backedUp ? L" (the others are backed up)." : L"."));
    if (reached > 0)
        m_repeatSkipSaid = false;
    return reached > 0 ? SendResult::Queued : backedUp > 0 ? SendResult::BackedUp : SendResult::Refused;
}

SendResult SendPane::SendPayload(const BuiltPayload& payload, const SendTag& tag)
{
    if (m_file.IsOpen()) {
        m_log->Append(TransportEventKind::Error, L"Send failed: a file is being sent (Cancel Send stops it).");
        return SendResult::Refused;
    }
    return DeliverTagged(payload.bytes, TargetsNow(ChoiceIsSelected()), tag);
}

bool SendPane::SendCommand(const Command& command)
{
    if (m_file.IsOpen()) {
        m_log->Append(TransportEventKind::Error, L"Send failed: a file is being sent (Cancel Send stops it).");
        return false;
    }
    const BuiltPayload built = MakePayload(command.payload);
    if (!built.problem.empty()) {
        m_log->Append(TransportEventKind::Error, L"Command \"" + command.name + L"\": " + built.problem);
        return false;
    }
    if (built.bytes.empty())
        return true;
    if (!Deliver(built.bytes, TargetsNow(ChoiceIsSelected()), command.payload.hex, built.checksum))
        return false;
    // As for Send: what went, as the history keeps it.
    std::vector<uint8_t> bytes;
    if (command.payload.hex && ParseHexBytes(command.payload.text, bytes))
        AddToHistory(HexHistoryEntry(bytes));
    else if (!command.payload.hex)
        AddToHistory(TextHistoryEntry(command.payload.text));
    return true;
}

void SendPane::SayBackedUp()
{
    m_backedUp = true;
    const std::wstring waiting = std::to_wstring(m_controller->QueuedBytes()) + L" bytes wait to be written";
    if (!m_inRepeatTick) {
        m_log->Append(TransportEventKind::Error, L"Send failed: the link is backed up (" + waiting + L").");
        return;
    }
    // Every tick would say it again: once, until a send goes again.
    if (!m_repeatSkipSaid)
        m_log->Append(TransportEventKind::Error, L"Repeat skips its sends while the link is backed up (" + waiting +
                                                     L").");
    m_repeatSkipSaid = true;
}

std::wstring SendPane::SendFailedText() const
{
    if (m_linkOpen && m_controller->IsRunning() && m_controller->ActiveKind() == LinkKind::TcpServer &&
        m_clients->Roster().Size() == 0)
        return L"Send failed: no client is connected.";
    return L"Send failed: no active transport.";
}

void SendPane::AddToHistory(const std::wstring& text)
{
    HistoryList trimmed;
    AddToHistoryList(trimmed, text);
    if (trimmed.empty())
        return;
    const std::wstring& entry = trimmed.front();
    const Window combo = Item(IDC_HISTORY);
    // Sent again (a repeat tick, say): nothing changes, nothing is written.
    if (!m_history.empty() && m_history.front() == entry) {
        if (combo.Selection() != 0)
            combo.Select(0);
        return;
    }
    for (size_t i = m_history.size(); i-- > 0;)
        if (m_history[i] == entry)
            combo.Send(CB_DELETESTRING, WPARAM(i));
    AddToHistoryList(m_history, entry);
    combo.Send(CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(HistoryDisplayText(entry).c_str()));
    while (combo.Send(CB_GETCOUNT) > LRESULT(m_history.size()))
        combo.Send(CB_DELETESTRING, WPARAM(combo.Send(CB_GETCOUNT) - 1));
    combo.Select(0);
    combo.FitDroppedList();
    AppendSendHistory(entry);
}

void SendPane::OnHistoryChosen()
{
    const int selection = Item(IDC_HISTORY).Selection();
    if (selection < 0 || size_t(selection) >= m_history.size())
        return;
    const std::wstring& entry = m_history[size_t(selection)];
    std::vector<uint8_t> bytes;
    if (HexHistoryBytes(entry, bytes)) {
        if (!m_hexView || !m_tabs)
            return;
        TabCtrl_SetCurSel(m_tabs, 1);
        OnTabChanged();
        m_hexView->SetContent(bytes);
        SetFocus(m_hexView->Handle());
        return;
    }
    if (HexFace()) {
        TabCtrl_SetCurSel(m_tabs, 0);
        OnTabChanged();
    }
    const Window edit = Item(IDC_SEND_EDIT);
    edit.SetText(entry);
    SetFocus(edit.Handle());
    edit.Send(EM_SETSEL, 0, -1);
    edit.Send(EM_SCROLLCARET);
}

void SendPane::OnTabChanged()
{
    const bool ascii = !HexFace();
    Item(IDC_SEND_EDIT).Show(ascii);
    Item(IDC_ESCAPES).Show(ascii); // hex bytes have no escapes
    if (m_hexView)
        ShowWindow(m_hexView->Handle(), ascii ? SW_HIDE : SW_SHOW);
}

void SendPane::OnRepeat()
{
    if (m_repeatTimer) {
        KillTimer(m_dialog.Handle(), m_repeatTimer);
        m_repeatTimer = 0;
    }
    if (!Item(IDC_REPEAT).Checked())
        return;
    if (!m_linkOpen) {
        Item(IDC_REPEAT).SetCheck(false);
        m_log->Append(TransportEventKind::Error, L"Repeat needs an open link.");
        return;
    }
    m_repeatTimer = SetTimer(m_dialog.Handle(), kRepeatTimerId, RepeatInterval(Item(IDC_REPEAT_MS).Text()), nullptr);
}

void SendPane::StopRepeat(const std::wstring& error)
{
    if (m_repeatTimer)
        KillTimer(m_dialog.Handle(), m_repeatTimer);
    m_repeatTimer = 0;
    Item(IDC_REPEAT).SetCheck(false);
    if (error.empty())
        m_log->Append(TransportEventKind::Status, L"Repeat stopped.");
    else
        m_log->Append(TransportEventKind::Error, error);
}

bool SendPane::OnTimer(UINT_PTR id)
{
    if (id == kRepeatTimerId) {
        // A tick already queued does nothing once Repeat is off.
        if (m_repeatTimer && Item(IDC_REPEAT).Checked()) {
            // A send that failed fails again on every tick: its error line
            // says why once, and Repeat stops. A link that is backed up
            // drains: that tick is skipped.
            m_inRepeatTick = true;
            const bool sent = Send();
            m_inRepeatTick = false;
            if (!sent && !m_backedUp)
                StopRepeat(L"");
        }
        return true;
    }
    if (id == kFileTimerId) {
        FeedFile();
        return true;
    }
    return false;
}

bool SendPane::OnCommand(int id, int code)
{
    switch (id) {
    case IDC_SEND:
        if (code == BN_CLICKED)
            Send();
        return true;
    case IDM_CLIENTS_SEND:
        Send(true);
        return true;
    case IDC_HISTORY:
        if (code == CBN_SELCHANGE)
            OnHistoryChosen();
        return true;
    case IDC_ESCAPES:
    case IDC_CHECKSUM:
    case IDC_CR:
    case IDC_LF:
    case IDC_CRLF:
    case IDC_ENTER_SENDS:
    case IDC_CLEAR_AFTER_SEND:
    case IDC_SEND_TARGET:
        if (code == CBN_SELCHANGE)
            FollowSideChoice();
        if (code == BN_CLICKED || code == CBN_SELCHANGE)
            SaveSendOptions(ReadOptions());
        return true;
    case IDC_REPEAT:
        if (code == BN_CLICKED)
            OnRepeat();
        return true;
    case IDC_SEND_FILE:
    case IDM_SEND_FILE:
        if (m_file.IsOpen())
            EndFile(L"File send cancelled after " + FileProgressWords() + L".", false);
        else
            StartFile();
        return true;
    case IDM_SEND_UNDO:
    case IDM_SEND_CUT:
    case IDM_SEND_COPY:
    case IDM_SEND_PASTE:
    case IDM_SEND_DELETE:
    case IDM_SEND_SELECT_ALL:
        OnEditMenu(id);
        return true;
    }
    return false;
}

bool SendPane::OnNotify(const NMHDR& header)
{
    if (header.code != TCN_SELCHANGE || header.idFrom != IDC_SEND_TABS)
        return false;
    OnTabChanged();
    return true;
}

bool SendPane::PreTranslateMessage(const MSG& msg)
{
    const HWND edit = Item(IDC_SEND_EDIT).Handle();
    if (msg.hwnd != edit)
        return false;
    // A multi-line edit in a dialog closes the dialog on Escape.
    if ((msg.message == WM_KEYDOWN || msg.message == WM_CHAR) && msg.wParam == VK_ESCAPE)
        return true;
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN && Item(IDC_ENTER_SENDS).Checked()) {
        if (GetKeyState(VK_CONTROL) & 0x8000)
            Item(IDC_SEND_EDIT).Send(EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"\r\n"));
        else
            Send();
        return true;
    }
    return false;
}

bool SendPane::OnOK(HWND focus)
{
    if (focus != Item(IDC_SEND_EDIT).Handle() || !Item(IDC_ENTER_SENDS).Checked())
        return false;
    Send();
    return true;
}

void SendPane::SetDpi(int dpi)
{
    if (m_hexView)
        m_hexView->SetDpi(dpi);
}

// The edit's own menu, with Send File added.
void SendPane::ShowEditMenu(LPARAM where)
{
    const Window edit = Item(IDC_SEND_EDIT);
    DWORD start = 0, end = 0;
    edit.Send(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const bool selection = start != end;
    const bool canPaste = IsClipboardFormatAvailable(CF_UNICODETEXT) != FALSE;
    ShowPopupMenu(m_dialog.Handle(), edit.Handle(), where,
                  {{IDM_SEND_UNDO, L"Undo", false, edit.Send(EM_CANUNDO) != 0},
                   {0},
                   {IDM_SEND_CUT, L"Cut", false, selection},
                   {IDM_SEND_COPY, L"Copy", false, selection},
                   {IDM_SEND_PASTE, L"Paste", false, canPaste},
                   {IDM_SEND_DELETE, L"Delete", false, selection},
                   {0},
                   {IDM_SEND_SELECT_ALL, L"Select All", false, edit.Send(WM_GETTEXTLENGTH) > 0},
                   {0},
                   {IDM_SEND_FILE, m_file.IsOpen() ? L"Cancel Send File" : L"Send File\u2026"}});
}

void SendPane::OnEditMenu(int id)
{
    const Window edit = Item(IDC_SEND_EDIT);
    switch (id) {
    case IDM_SEND_UNDO:
        edit.Send(EM_UNDO);
        break;
    case IDM_SEND_CUT:
        edit.Send(WM_CUT);
        break;
    case IDM_SEND_COPY:
        edit.Send(WM_COPY);
        break;
    case IDM_SEND_PASTE:
        edit.Send(WM_PASTE);
        break;
    case IDM_SEND_DELETE:
        edit.Send(WM_CLEAR);
        break;
    case IDM_SEND_SELECT_ALL:
        edit.Send(EM_SETSEL, 0, -1);
        break;
    }
}

void SendPane::StartFile()
{
    const std::wstring path = AskFileName(m_dialog.Handle(), false, L"", L"All Files (*.*)\0*.*\0", nullptr,
                                          L"Send File");
    if (!path.empty())
        SendFile(path);
}

void SendPane::SendFile(const std::wstring& path)
{
    if (!m_linkOpen) {
        m_log->Append(TransportEventKind::Error, L"Send File needs an open link.");
        return;
    }
    if (m_file.IsOpen())
        return;
    // The file goes whole to the peers chosen now, whatever is picked later.
    m_fileTargets = TargetsNow(ChoiceIsSelected());
    if (!m_fileTargets.problem.empty()) {
        m_log->Append(TransportEventKind::Error, m_fileTargets.problem);
        return;
    }
    // A serial line takes a quarter of a second's worth at a time, so that
    // a cancel is not followed by minutes of bytes still queued.
    const ConnectionSettings& link = m_controller->ActiveSettings();
    m_fileBacklog = kFileQueueBytes;
    size_t chunk = kFileChunk;
    if (m_controller->ActiveKind() == LinkKind::Udp)
        chunk = kFileDatagram;
    if (m_controller->ActiveKind() == LinkKind::Serial) {
        m_fileBacklog = std::max<size_t>(64, link.baud / 10 / 4);
        chunk = std::min(chunk, m_fileBacklog);
    }
    const std::wstring problem = m_file.Open(path, chunk);
    if (!problem.empty()) {
        m_log->Append(TransportEventKind::Error, problem);
        return;
    }
    m_log->Append(TransportEventKind::Status, L"Sending file " + path + L" (" + std::to_wstring(m_file.Size()) +
                                                  L" bytes).");
    Item(IDC_SEND_FILE).SetText(L"Cancel Send");
    SetTimer(m_dialog.Handle(), kFileTimerId, kFileTimerMs, nullptr);
    FeedFile();
}

std::wstring SendPane::FileProgressWords() const
{
    return std::to_wstring(m_file.Sent()) + L" of " + std::to_wstring(m_file.Size()) + L" bytes";
}

void SendPane::FeedFile()
{
    if (!m_file.IsOpen())
        return;
    const ULONGLONG start = GetTickCount64();
    // Datagrams have no queue to wait on: a turn sends so many at most.
    const bool datagrams = m_controller->ActiveKind() == LinkKind::Udp;
    uint64_t thisTurn = 0;
    while (GetTickCount64() - start < kFileTickMs && m_controller->QueuedBytes() < m_fileBacklog &&
           !(datagrams && thisTurn >= kDatagramBytesPerTurn)) {
        if (m_file.AtEnd()) {
            // Sent once the link has written it all, not when it was handed over.
            if (m_controller->QueuedBytes() > 0)
                break;
            EndFile(L"Sent file " + m_file.Name() + L": " + std::to_wstring(m_file.Sent()) + L" bytes.", false);
            return;
        }
        std::vector<uint8_t> chunk = m_file.Next();
        if (chunk.empty()) {
            EndFile(L"File send stopped: " + m_file.Name() + L" could not be read after " +
                        std::to_wstring(m_file.Sent()) + L" bytes.",
                    true);
            return;
        }
        thisTurn += chunk.size();
        // A file's chunks are logged as text, whichever face is shown.
        if (!Deliver(chunk, m_fileTargets, false)) {
            EndFile(L"File send stopped after " + std::to_wstring(m_file.Sent() - chunk.size()) + L" of " +
                        std::to_wstring(m_file.Size()) + L" bytes.",
                    true);
            return;
        }
    }
    m_status->SetProgress(m_file.ProgressText());
}

void SendPane::EndFile(const std::wstring& line, bool error)
{
    KillTimer(m_dialog.Handle(), kFileTimerId);
    m_file.Close();
    FollowSideChoice();
    Item(IDC_SEND_FILE).SetText(L"Send File\u2026");
    m_status->SetProgress(L"");
    m_log->Append(error ? TransportEventKind::Error : TransportEventKind::Status, line);
}
