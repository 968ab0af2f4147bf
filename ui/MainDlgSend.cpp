// The send composer, its history and repeat sending.
#include "ui/MainDlg.h"

#include "hexview/HexView.h"
#include "res/resource.h"
#include "settings/History.h"
#include "ui/SendComposer.h"

#include <commctrl.h>

#include <algorithm>

void CMainDlg::OnSend()
{
    const SendOptions options = ReadSendOptions();
    const Checksum checksum = Checksum(options.checksum);
    if (m_sendTabs && TabCtrl_GetCurSel(m_sendTabs) == 1) {
        if (!m_sendHexView)
            return;
        std::vector<uint8_t> payload = m_sendHexView->GetContent();
        if (payload.empty())
            return;
        const std::vector<uint8_t> sum = ChecksumBytes(checksum, payload.data(), payload.size());
        payload.insert(payload.end(), sum.begin(), sum.end());
        if (!m_controller.Send(payload)) {
            m_logPane.Append(TransportEventKind::Error, SendFailedText());
            return;
        }
        m_logPane.Append(TransportEventKind::Sent, FormatSentBytes(payload, true), payload);
        if (Item(IDC_CLEAR_AFTER_SEND).Checked())
            m_sendHexView->ResetEditor();
        return;
    }

    const std::wstring text = Item(IDC_SEND_EDIT).Text();
    std::vector<uint8_t> body = EncodeUtf8(text);
    if (options.escapes) {
        Unescaped expanded = ExpandEscapes(text);
        if (!expanded.problem.empty()) {
            m_logPane.Append(TransportEventKind::Error, expanded.problem);
            return;
        }
        body = std::move(expanded.bytes);
    }
    // A framed text protocol puts its checksum before the line ending.
    const std::vector<uint8_t> sum = body.empty() ? std::vector<uint8_t>() : ChecksumBytes(checksum, body.data(), body.size());
    body.insert(body.end(), sum.begin(), sum.end());
    const std::vector<uint8_t> payload = AppendLineEnding(std::move(body), Item(IDC_CR).Checked(),
                                                          Item(IDC_LF).Checked(), Item(IDC_CRLF).Checked());
    if (payload.empty())
        return;
    if (!m_controller.Send(payload)) {
        m_logPane.Append(TransportEventKind::Error, SendFailedText());
        return;
    }
    AddToHistory(text);
    m_logPane.Append(TransportEventKind::Sent, FormatSentBytes(payload, false), payload);
    if (Item(IDC_CLEAR_AFTER_SEND).Checked())
        Item(IDC_SEND_EDIT).SetText(L"");
}

// A listener that no datagram reached yet has nobody to answer.
std::wstring CMainDlg::SendFailedText() const
{
    if (m_connected && m_controller.IsRunning() && m_controller.ActiveKind() == LinkKind::Udp && m_manyPeers)
        return L"Send failed: no datagram has arrived yet, so there is no sender to answer.";
    return L"Send failed: no active transport.";
}

SendOptions CMainDlg::ReadSendOptions() const
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
    options.hexFace = m_sendTabs && TabCtrl_GetCurSel(m_sendTabs) == 1;
    return options;
}

void CMainDlg::AddToHistory(const std::wstring& text)
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
    combo.Send(CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    while (combo.Send(CB_GETCOUNT) > LRESULT(m_history.size()))
        combo.Send(CB_DELETESTRING, WPARAM(combo.Send(CB_GETCOUNT) - 1));
    combo.Select(0);
    AppendSendHistory(entry);
}

void CMainDlg::OnHistorySelChange()
{
    const Window combo = Item(IDC_HISTORY);
    const int selection = combo.Selection();
    if (selection == CB_ERR)
        return;
    if (size_t(selection) >= m_history.size())
        return;
    const Window edit = Item(IDC_SEND_EDIT);
    edit.SetText(m_history[size_t(selection)]);
    SetFocus(edit.Handle());
    edit.Send(EM_SETSEL, 0, -1);
    edit.Send(EM_SCROLLCARET);
}

void CMainDlg::OnSendTabChanged()
{
    const bool ascii = !m_sendTabs || TabCtrl_GetCurSel(m_sendTabs) == 0;
    Item(IDC_SEND_EDIT).Show(ascii);
    Item(IDC_ESCAPES).Show(ascii); // hex bytes have no escapes
    if (m_sendHexView)
        ShowWindow(m_sendHexView->Handle(), ascii ? SW_HIDE : SW_SHOW);
}

void CMainDlg::OnRepeat()
{
    if (m_repeatTimerId) {
        KillTimer(Handle(), m_repeatTimerId);
        m_repeatTimerId = 0;
    }
    if (Item(IDC_REPEAT).Checked())
        m_repeatTimerId = SetTimer(Handle(), kRepeatTimerId, RepeatInterval(Item(IDC_REPEAT_MS).Text()), nullptr);
}
