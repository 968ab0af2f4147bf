// The log: lines, counters, refresh, tabs and the log tools.
#include "ui/MainDlg.h"

#include "framework/MessageBox.h"
#include "hexview/HexView.h"
#include "logview/LogLine.h"
#include "logview/LogView.h"
#include "res/resource.h"
#include "settings/LogOptions.h"
#include "ui/LogMenu.h"
#include "ui/LogTools.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>

void CMainDlg::AppendLog(TransportEventKind kind, const std::wstring& text, const std::vector<uint8_t>& bytes,
                         const std::wstring& peer)
{
    const bool toHexView = m_log.Count(kind, bytes);
    if (m_logView) {
        LogRecord record;
        record.kind = kind;
        record.stamped = Item(IDC_TIMESTAMP).Checked();
        GetLocalTime(&record.time);
        record.peer = peer;
        record.text = StripEscapeSequences(text);
        if (kind == TransportEventKind::Received)
            record.bytes = bytes;
        m_logView->Model().Append(std::move(record));
    }
    if (toHexView && m_logHexView) {
        m_logHexView->AppendBytes(bytes);
        if (Item(IDC_AUTOSCROLL).Checked())
            m_logHexView->ScrollToEnd();
    }
}

bool CMainDlg::HexTabShown() const
{
    return m_logTabs && TabCtrl_GetCurSel(m_logTabs) == 1;
}

// Once per tick at most: the view catches up with what was logged, so a burst
// of traffic costs one repaint of the lines in view.
void CMainDlg::RefreshLog()
{
    if (!m_log.m_logDirty)
        return;
    m_log.m_logDirty = false;
    if (!HexTabShown() && m_logView)
        m_logView->Refresh(Item(IDC_AUTOSCROLL).Checked());
    UpdateCounters();
}

void CMainDlg::OnLogTabChanged()
{
    const bool ascii = !HexTabShown();
    Item(IDC_LOG_EDIT).Show(ascii);
    if (m_logHexView)
        ShowWindow(m_logHexView->Handle(), ascii ? SW_HIDE : SW_SHOW);
    if (ascii && m_logView)
        m_logView->Refresh(Item(IDC_AUTOSCROLL).Checked());
}

void CMainDlg::OnClear()
{
    m_log.Clear();
    if (m_logView) {
        m_logView->Model().Clear();
        m_logView->Refresh(false);
    }
    if (m_logHexView)
        m_logHexView->Clear();
    UpdateCounters();
}

void CMainDlg::UpdateCounters()
{
    Item(IDC_RX_COUNT).SetText(CounterText(L"RX", m_log.m_rxByteCount));
    Item(IDC_TX_COUNT).SetText(CounterText(L"TX", m_log.m_txByteCount));
}

void CMainDlg::OnCopyLog()
{
    if (HexTabShown()) {
        if (m_logHexView)
            m_logHexView->CopySelection();
    } else if (m_logView) {
        m_logView->CopySelection();
    }
}

void CMainDlg::OnSaveLog()
{
    wchar_t path[MAX_PATH] = L"Ferrolink.log";
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = Handle();
    ofn.lpstrFilter = L"Log Files (*.log)\0*.log\0Binary Files (*.bin)\0*.bin\0Text Files (*.txt)\0*.txt\0"
                      L"All Files (*.*)\0*.*\0";
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = L"log";
    ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER;
    if (!GetSaveFileNameW(&ofn))
        return;
    const std::wstring text = m_logView ? m_logView->Model().AllText(m_logView->Options()) : std::wstring();
    if (!SaveLogFile(path, text, m_log.m_rxCapture))
        ShowErrorBox(Handle(), std::wstring(L"The log could not be written to ") + path + L".");
}

void CMainDlg::OnFindNext()
{
    const std::wstring what = Item(IDC_FIND_EDIT).Text();
    if (what.empty())
        return;
    if (HexTabShown()) {
        if (!m_logHexView)
            return;
        const HexModel& model = m_logHexView->Model();
        const int64_t from = model.SelAnchor() < 0 ? 0 : int64_t(std::min(model.SelAnchor(), model.SelEnd())) + 1;
        const std::vector<uint8_t> pattern = ToAnsiBytes(what);
        const int64_t found = FindInBytes(model.Data(), pattern, from);
        if (found < 0) {
            SayNotFound(what);
            return;
        }
        m_logHexView->SelectFound(int32_t(found), int32_t(pattern.size()));
        SetFocus(m_logHexView->Handle());
        return;
    }
    if (!m_logView)
        return;
    if (m_logView->FindNext(what))
        SetFocus(m_logView->Handle());
    else
        SayNotFound(what);
}

// A search that finds nothing must not look like one that did nothing.
void CMainDlg::SayNotFound(const std::wstring& what)
{
    MessageBeep(MB_ICONASTERISK);
    Item(IDC_STATUS).SetText(L"\"" + what + L"\" not found");
}

void CMainDlg::ApplyLogOptions()
{
    if (!m_logView)
        return;
    LogShowOptions show;
    show.milliseconds = m_logOptions.milliseconds;
    show.peers = m_logOptions.peers;
    show.receivedAsHex = m_logOptions.receivedAsHex;
    m_logView->SetOptions(show);
    LogModel::Limits limits;
    limits.lines = size_t(m_logOptions.lines);
    limits.characters = size_t(m_logOptions.characters);
    m_logView->Model().SetLimits(limits);
}

// At the mouse, or for the keyboard (no position) at the view's corner. The
// chosen item comes back as WM_COMMAND.
void CMainDlg::ShowLogMenu(LPARAM where)
{
    LogMenuState state;
    state.hasSelection = m_logView->Model().HasSelection();
    state.canFind = !Item(IDC_FIND_EDIT).Text().empty();
    state.milliseconds = m_logOptions.milliseconds;
    state.peers = m_logOptions.peers;
    state.receivedAsHex = m_logOptions.receivedAsHex;
    state.autoScroll = Item(IDC_AUTOSCROLL).Checked();
    const HMENU menu = CreatePopupMenu();
    if (!menu)
        return;
    for (const LogMenuItem& item : LogMenuItems(state)) {
        if (!item.id) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        AppendMenuW(menu, MF_STRING | (item.checked ? MF_CHECKED : 0) | (item.enabled ? 0 : MF_GRAYED), item.id,
                    item.text);
    }
    POINT at{short(LOWORD(where)), short(HIWORD(where))};
    if (where == -1) {
        at = POINT{8, 8};
        ClientToScreen(m_logView->Handle(), &at);
    }
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, Handle(), nullptr);
    DestroyMenu(menu);
}

void CMainDlg::OnLogMenu(int id)
{
    if (!m_logView)
        return;
    switch (id) {
    case IDM_LOG_COPY:
        m_logView->CopySelection();
        return;
    case IDM_LOG_SELECT_ALL:
        m_logView->SelectAll();
        return;
    case IDM_LOG_FIND_NEXT:
        OnFindNext();
        return;
    case IDM_LOG_CLEAR:
        OnClear();
        return;
    case IDM_LOG_AUTOSCROLL:
        Item(IDC_AUTOSCROLL).SetCheck(!Item(IDC_AUTOSCROLL).Checked());
        m_logView->Refresh(Item(IDC_AUTOSCROLL).Checked());
        return;
    case IDM_LOG_MILLISECONDS:
        m_logOptions.milliseconds = !m_logOptions.milliseconds;
        break;
    case IDM_LOG_PEERS:
        m_logOptions.peers = !m_logOptions.peers;
        break;
    case IDM_LOG_RECEIVED_HEX:
        m_logOptions.receivedAsHex = !m_logOptions.receivedAsHex;
        break;
    }
    ApplyLogOptions();
    SaveLogOptions(m_logOptions);
}
