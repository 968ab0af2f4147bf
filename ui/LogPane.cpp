#include "ui/LogPane.h"

#include "capture/PcapngExport.h"
#include "framework/ChildWindow.h"
#include "framework/Clipboard.h"
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
        m_hexView->OnCopy([this] { CopyHex(); });
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
        m_tipText = m_core.Bridged() ? SidesCounterTipText(L"RX", m_core.CountsOf(0).rx, m_core.CountsOf(1).rx)
                                     : CounterTipText(L"RX", m_core.State().m_rxByteCount);
    else
        m_tipText = m_core.Bridged() ? SidesCounterTipText(L"TX", m_core.CountsOf(0).tx, m_core.CountsOf(1).tx)
                                     : CounterTipText(L"TX", m_core.State().m_txByteCount);
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
    StopJob();
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
    CheckJob();
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
        if (code == BN_CLICKED && !CancelJob(Job::Copy) && !CancelJob(Job::CopyToFile))
            Copy();
        return true;
    case IDC_SAVE:
        if (code == BN_CLICKED && !CancelJob(Job::Save))
            Save();
        return true;
    case IDC_FIND_NEXT:
        if (code == BN_CLICKED && !CancelJob(Job::Find))
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
    case IDM_LOG_SINCE_PREVIOUS:
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
    if (m_hexView && from == m_hexView->Handle()) {
        const bool any = m_hexView->Model().SelAnchor() >= 0;
        ShowPopupMenu(m_dialog.Handle(), from, where,
                      {{IDM_LOG_COPY, L"&Copy\tCtrl+C", false, any}, {IDM_LOG_SELECT_ALL, L"Select &All\tCtrl+A"}});
        return true;
    }
    if (!m_view || from != m_view->Handle())
        return false;
    ShowMenu(where);
    return true;
}

void LogPane::Clear()
{
    StopJob(); // it reads what goes now
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
    if (m_core.Bridged()) {
        m_dialog.Item(IDC_RX_COUNT).SetText(SidesCounterText(L"RX", m_core.CountsOf(0).rx, m_core.CountsOf(1).rx));
        m_dialog.Item(IDC_TX_COUNT).SetText(SidesCounterText(L"TX", m_core.CountsOf(0).tx, m_core.CountsOf(1).tx));
    } else {
        m_dialog.Item(IDC_RX_COUNT).SetText(CounterText(L"RX", state.m_rxByteCount));
        m_dialog.Item(IDC_TX_COUNT).SetText(CounterText(L"TX", state.m_txByteCount));
    }
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
    if (!path.empty())
        SaveTo(path);
}

// A capture or the received bytes are read from the journal on the job's
// thread; the log's text, bounded by its limits, is made here and only
// written there.
void LogPane::SaveTo(const std::wstring& path)
{
    if (JobRefuses())
        return;
    const Journal& journal = m_core.Traffic();
    SaysSaving(path);
    if (IsCaptureName(path)) {
        StartJob(Job::Save, [this, path, &journal](JobProgress& progress) {
            m_jobOk = WritePcapng(path, journal, &progress);
        });
        return;
    }
    std::wstring text = m_view && !IsBinaryLogName(path) ? m_view->Model().AllText(m_view->Options()) : std::wstring();
    StartJob(Job::Save, [this, path, &journal, text = std::move(text)](JobProgress& progress) {
        m_jobOk = SaveLogFile(path, text, journal, &progress);
    });
}

void LogPane::SaysSaving(const std::wstring& path)
{
    m_jobPath = path;
    m_jobWhat = L"Saving " + path.substr(path.find_last_of(L"\\/") + 1);
}

// One job at a time: another waits until it ends or its button stops it.
bool LogPane::JobRefuses()
{
    if (m_jobKind == Job::None)
        return false;
    if (m_job.TakeFinished()) {
        FinishJob();
        return false;
    }
    m_status->Pass(m_jobWhat + L" is still under way; its button stops it.");
    return true;
}

bool LogPane::StartJob(Job job, std::function<void(JobProgress&)> work)
{
    m_jobOk = false;
    m_jobFound = -1;
    if (!m_job.Start(std::move(work))) {
        ShowErrorBox(m_dialog.Handle(), L"Could not start a thread for this; nothing was done.");
        return false;
    }
    m_jobKind = job;
    const int button = job == Job::Save ? IDC_SAVE : job == Job::Find ? IDC_FIND_NEXT : IDC_COPY;
    m_dialog.Item(button).SetText(job == Job::Find ? L"Stop" : L"Cancel");
    m_status->SetProgress(m_jobWhat + L"\u2026");
    return true;
}

bool LogPane::CancelJob(Job clicked)
{
    if (m_jobKind != clicked || !m_job.Running())
        return false;
    m_job.Cancel();
    return true;
}

void LogPane::StopJob()
{
    if (m_jobKind == Job::None)
        return;
    if (!m_job.TakeFinished()) {
        m_job.Cancel();
        m_job.Wait();
    }
    FinishJob();
}

void LogPane::CheckJob()
{
    if (m_jobKind == Job::None)
        return;
    if (!m_job.TakeFinished()) {
        m_status->SetProgress(m_jobWhat + L"\u2026 " + std::to_wstring(m_job.Percent()) + L"%");
        return;
    }
    FinishJob();
}

// Back on the window's thread, with the job's thread ended: what it left is
// shown, put on the clipboard or said.
void LogPane::FinishJob()
{
    const Job job = m_jobKind;
    m_jobKind = Job::None;
    m_status->SetProgress(L"");
    m_dialog.Item(IDC_SAVE).SetText(L"Save");
    m_dialog.Item(IDC_COPY).SetText(L"Copy");
    m_dialog.Item(IDC_FIND_NEXT).SetText(L"Next");
    const JobProgress& progress = m_job.Progress();
    if (m_jobClipboard && progress.Cancelled()) {
        GlobalFree(m_jobClipboard);
        m_jobClipboard = nullptr;
    }
    if (progress.Cancelled()) {
        m_status->Pass(m_jobWhat + L": cancelled");
        return;
    }
    const uint64_t notKept = progress.notKept;
    const std::wstring gone = notKept ? L" " + std::to_wstring(notKept) +
                                            L" bytes of the oldest traffic were no longer kept and are not in it."
                                      : std::wstring();
    switch (job) {
    case Job::Save:
    case Job::CopyToFile:
        if (!m_jobOk)
            ShowErrorBox(m_dialog.Handle(), (job == Job::Save && IsCaptureName(m_jobPath)
                                                 ? L"The capture could not be written to "
                                                 : L"The log could not be written to ") +
                                                m_jobPath + L".");
        else if (!gone.empty())
            ShowErrorBox(m_dialog.Handle(), L"Saved to " + m_jobPath + L"." + gone);
        else
            m_status->Pass(L"Saved to " + m_jobPath);
        break;
    case Job::Find:
        if (m_jobFound < 0) {
            SayNotFound(m_dialog.Item(IDC_FIND_EDIT).Text());
        } else if (m_hexView) {
            CatchUpHexView(false); // the match may lie in bytes that came since the tick
            m_hexView->SelectFound(m_jobFound, int64_t(m_jobPatternSize));
        }
        break;
    case Job::Copy:
        if (!m_jobOk)
            ShowErrorBox(m_dialog.Handle(), L"The selection could not be read back from the journal, or there was "
                                            L"no memory for its text.");
        m_clipboard.Offer(m_dialog.Handle(), m_jobClipboard);
        m_jobClipboard = nullptr;
        break;
    case Job::None:
        break;
    }
}

// The selected bytes are read and made into text on the job's thread; a
// text larger than a clipboard can sensibly take is offered to a file.
void LogPane::CopyHex()
{
    if (!m_hexView || JobRefuses())
        return;
    CatchUpHexView(false);
    const HexModel::Range range = m_hexView->Model().SelectedRange();
    if (!range.count)
        return;
    constexpr uint64_t kClipboardCharacters = uint64_t(64) << 20;
    const uint64_t length = CopyTextLength(range.count, range.ascii);
    if (length > kClipboardCharacters) {
        if (!AskYesNo(m_dialog.Handle(), L"The selection makes " + ShortCount(length * 2) +
                                             L" of text, more than the clipboard can sensibly take.\n\nSave it "
                                             L"to a file instead?"))
            return;
        const std::wstring path = AskFileName(m_dialog.Handle(), true, L"Ferrolink-bytes.txt",
                                              L"Text Files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0", L"txt",
                                              L"Save the selection to");
        if (!path.empty())
            SaveHexText(path, range);
        return;
    }
    const Journal& journal = m_core.Traffic();
    m_jobWhat = L"Copying " + ShortCount(range.count) + L" bytes";
    StartJob(Job::Copy, [this, range, &journal](JobProgress& progress) {
        std::wstring text;
        if (!MakeCopyText(journal, range, progress, text))
            return;
        m_jobClipboard = MakeClipboardText(text);
        m_jobOk = m_jobClipboard != nullptr;
    });
}

void LogPane::SaveHexText(const std::wstring& path, HexModel::Range range)
{
    if (JobRefuses())
        return;
    const Journal& journal = m_core.Traffic();
    SaysSaving(path);
    StartJob(Job::CopyToFile, [this, path, range, &journal](JobProgress& progress) {
        m_jobOk = SaveCopyText(path, journal, range, progress);
    });
}

void LogPane::FindNext(bool fromFindBox)
{
    const std::wstring what = m_dialog.Item(IDC_FIND_EDIT).Text();
    if (what.empty())
        return;
    if (HexTabShown()) {
        if (!m_hexView)
            return;
        if (JobRefuses())
            return;
        CatchUpHexView(false); // a match may be in bytes that came since the tick
        const HexModel& model = m_hexView->Model();
        const int64_t from = model.SelAnchor() < 0 ? 0 : std::min(model.SelAnchor(), model.SelEnd()) + 1;
        std::vector<uint8_t> pattern = ToAnsiBytes(what);
        m_jobPatternSize = pattern.size();
        m_jobWhat = L"Looking for \"" + what + L"\"";
        const Journal& journal = m_core.Traffic();
        if (StartJob(Job::Find, [this, &journal, from, pattern = std::move(pattern)](JobProgress& progress) {
                m_jobFound = FindInBytes(journal, pattern, from, &progress);
            }) &&
            !fromFindBox)
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
    show.sincePrevious = m_options.sincePrevious;
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
    state.sincePrevious = m_options.sincePrevious;
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
    if (HexTabShown() && m_hexView && (id == IDM_LOG_COPY || id == IDM_LOG_SELECT_ALL)) {
        if (id == IDM_LOG_COPY)
            CopyHex();
        else
            m_hexView->SelectAll();
        return;
    }
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
    case IDM_LOG_SINCE_PREVIOUS:
        m_options.sincePrevious = !m_options.sincePrevious;
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
