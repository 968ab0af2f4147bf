// The log: lines, counters, refresh, tabs and the log tools.
#include "ui/MainDlg.h"

#include "framework/MessageBox.h"
#include "hexview/HexView.h"
#include "res/resource.h"
#include "ui/LogTools.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>

void CMainDlg::AppendLog(TransportEventKind kind, const std::wstring& text, const std::vector<uint8_t>& bytes)
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const bool toHexView = m_log.Append(kind, text, bytes, Item(IDC_TIMESTAMP).Checked() ? &now : nullptr);
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

// Once per tick at most: only the new tail goes into the edit, with
// redrawing off, so a burst of traffic costs one repaint.
void CMainDlg::RefreshLog()
{
    if (!m_log.m_logDirty)
        return;
    m_log.m_logDirty = false;
    if (HexTabShown()) {
        UpdateCounters();
        return;
    }
    const Window edit = Item(IDC_LOG_EDIT);
    switch (m_log.PendingRefresh()) {
    case LogState::Refresh::Reload:
        ReloadLogEdit();
        break;
    case LogState::Refresh::AppendTail: {
        const std::wstring tail = m_log.TailForDisplay();
        edit.Send(WM_SETREDRAW, FALSE);
        const WPARAM end = WPARAM(GetWindowTextLengthW(edit.Handle()));
        edit.Send(EM_SETSEL, end, LPARAM(end));
        edit.Send(EM_SCROLLCARET);
        edit.Send(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(tail.c_str()));
        m_log.MarkShown();
        edit.Send(WM_SETREDRAW, TRUE);
        InvalidateRect(edit.Handle(), nullptr, TRUE);
        break;
    }
    case LogState::Refresh::Nothing:
        break;
    }
    if (Item(IDC_AUTOSCROLL).Checked())
        ScrollLogToEnd();
    UpdateCounters();
}

void CMainDlg::ReloadLogEdit()
{
    const Window edit = Item(IDC_LOG_EDIT);
    edit.Send(WM_SETREDRAW, FALSE);
    edit.SetText(ForDisplay(m_log.m_logText));
    m_log.MarkShown();
    edit.Send(WM_SETREDRAW, TRUE);
    InvalidateRect(edit.Handle(), nullptr, TRUE);
}

void CMainDlg::ScrollLogToEnd()
{
    const Window edit = Item(IDC_LOG_EDIT);
    const WPARAM end = WPARAM(GetWindowTextLengthW(edit.Handle()));
    edit.Send(EM_SETSEL, end, LPARAM(end));
    edit.Send(EM_SCROLLCARET);
    edit.Send(EM_SCROLLCARET);
}

void CMainDlg::OnLogTabChanged()
{
    const bool ascii = !HexTabShown();
    Item(IDC_LOG_EDIT).Show(ascii);
    if (m_logHexView)
        ShowWindow(m_logHexView->Handle(), ascii ? SW_HIDE : SW_SHOW);
    if (ascii && m_log.PendingRefresh() != LogState::Refresh::Nothing) {
        ReloadLogEdit();
        if (Item(IDC_AUTOSCROLL).Checked())
            ScrollLogToEnd();
    }
}

void CMainDlg::OnClear()
{
    m_log.Clear();
    Item(IDC_LOG_EDIT).SetText(L"");
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
    } else {
        Item(IDC_LOG_EDIT).Send(WM_COPY);
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
    if (!SaveLogFile(path, m_log.m_logText, m_log.m_rxCapture))
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
        if (found < 0)
            return;
        m_logHexView->SelectFound(int32_t(found), int32_t(pattern.size()));
        SetFocus(m_logHexView->Handle());
        return;
    }
    const Window edit = Item(IDC_LOG_EDIT);
    DWORD start = 0, end = 0;
    edit.Send(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const size_t found = FindInLogText(m_log.m_logText, what, start, end);
    if (found == std::wstring::npos)
        return;
    edit.Send(EM_SETSEL, WPARAM(found), LPARAM(found + what.size()));
    edit.Send(EM_SCROLLCARET);
    SetFocus(edit.Handle());
}
