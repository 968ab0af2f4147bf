#include "ui/SerialStrip.h"

#include "res/resource.h"
#include "settings/ConnectionStore.h"
#include "ui/LogPane.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>

const wchar_t* const kLampNames[4] = {L"CTS", L"DSR", L"DCD", L"RI"};

LampsView LampsFor(bool open, SerialSignal signal, uint8_t lines)
{
    LampsView view;
    if (!open || signal == SerialSignal::None)
        return view;
    if (signal == SerialSignal::LinesUnreported) {
        view.unreported = true;
        return view;
    }
    const uint8_t bits[4] = {SerialLine::kCts, SerialLine::kDsr, SerialLine::kDcd, SerialLine::kRing};
    for (size_t i = 0; i < 4; ++i)
        view.lamps[i] = (lines & bits[i]) ? Lamp::On : Lamp::Off;
    return view;
}

int LineBoxState(bool open, bool driven, bool lineOn, bool choiceOn)
{
    if (!open)
        return choiceOn ? BST_CHECKED : BST_UNCHECKED;
    if (driven)
        return BST_INDETERMINATE;
    return lineOn ? BST_CHECKED : BST_UNCHECKED;
}

uint32_t ControlLengthMs(const std::wstring& text)
{
    uint64_t ms = 0;
    size_t digits = 0;
    for (wchar_t c : text) {
        if (c == L' ' && digits == 0)
            continue;
        if (c < L'0' || c > L'9' || ++digits > 6)
            return 0;
        ms = ms * 10 + uint64_t(c - L'0');
    }
    return ms >= 1 && ms <= kLongestControlMs ? uint32_t(ms) : 0;
}

namespace {

void AddTip(HWND tips, Window dialog, int id, const wchar_t* text)
{
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = dialog.Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(dialog.Item(id).Handle());
    tool.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

} // namespace

void SerialStrip::Attach(Window dialog, ConnectionController& controller, LogPane& log)
{
    m_dialog = dialog;
    m_controller = &controller;
    m_log = &log;
    const SerialControlLengths lengths = LoadSerialControlLengths();
    dialog.Item(IDC_PULSE_MS).SetText(std::to_wstring(lengths.pulseMs));
    dialog.Item(IDC_BREAK_MS).SetText(std::to_wstring(lengths.breakMs));
    dialog.Item(IDC_PULSE_MS).Send(EM_SETLIMITTEXT, 5);
    dialog.Item(IDC_BREAK_MS).Send(EM_SETLIMITTEXT, 5);
    m_tips = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, dialog.Handle(), nullptr, GetModuleHandleW(nullptr),
                             nullptr);
    if (m_tips) {
        SendMessageW(m_tips, TTM_SETMAXTIPWIDTH, 0, 400);
        const wchar_t* const box = L"While the port is open, the line itself: a click sets or clears it. While it is "
                                   L"closed, what the line is as the port opens (a board that resets on DTR is not "
                                   L"reset by opening its port).";
        AddTip(m_tips, dialog, IDC_DTR, box);
        AddTip(m_tips, dialog, IDC_RTS, box);
        AddTip(m_tips, dialog, IDC_PULSE_DTR, L"The line the other way for the length beside, then back.");
        AddTip(m_tips, dialog, IDC_PULSE_RTS, L"The line the other way for the length beside, then back.");
        AddTip(m_tips, dialog, IDC_BREAK, L"Holds the line in Break for the length beside (1 to 10000 ms).");
        AddTip(m_tips, dialog, IDC_LINE_LAMPS, L"The device's lines: lit while it asserts them.");
    }
    Show();
}

void SerialStrip::SetLinesAtOpen(bool dtr, bool rts)
{
    m_dtrAtOpen = dtr;
    m_rtsAtOpen = rts;
    Show();
}

void SerialStrip::SetOpen(bool open, uint32_t flowControl)
{
    m_open = open;
    m_handshake = flowControl == 1;
    m_signal = SerialSignal::None;
    m_lines = 0;
    Show();
}

void SerialStrip::OnEvent(const TransportEvent& event)
{
    if (!m_open)
        return;
    if (event.connectionLost) { // reconnecting: nothing is known until the port is back
        m_signal = SerialSignal::None;
        m_lines = 0;
        Show();
        return;
    }
    if (event.serial == SerialSignal::None)
        return;
    // Whether the lamps are heard comes with the lines as the port opened;
    // every event after it carries them.
    if (event.serial == SerialSignal::LinesUnreported || m_signal == SerialSignal::None)
        m_signal = event.serial == SerialSignal::LinesUnreported ? event.serial : SerialSignal::Lines;
    m_lines = event.serialLines;
    Show();
}

bool SerialStrip::OnCommand(int id)
{
    switch (id) {
    case IDC_DTR:
    case IDC_RTS: {
        const bool dtr = id == IDC_DTR;
        if (!m_open) {
            (dtr ? m_dtrAtOpen : m_rtsAtOpen) = !(dtr ? m_dtrAtOpen : m_rtsAtOpen);
            SaveLinesAtOpen(m_dtrAtOpen, m_rtsAtOpen);
            Show();
            return true;
        }
        const uint8_t bit = dtr ? SerialLine::kDtr : SerialLine::kRts;
        // The box changes when the port says the line did.
        Change(dtr ? LineControl::Line::Dtr : LineControl::Line::Rts,
               (m_lines & bit) ? LineControl::Action::Off : LineControl::Action::On);
        return true;
    }
    case IDC_PULSE_DTR:
    case IDC_PULSE_RTS:
        if (const uint32_t ms = LengthIn(IDC_PULSE_MS, L"A pulse"))
            Change(id == IDC_PULSE_DTR ? LineControl::Line::Dtr : LineControl::Line::Rts, LineControl::Action::Pulse,
                   ms);
        return true;
    case IDC_BREAK:
        if (const uint32_t ms = LengthIn(IDC_BREAK_MS, L"A Break"))
            Change(LineControl::Line::Break, LineControl::Action::Pulse, ms);
        return true;
    default:
        return false;
    }
}

uint32_t SerialStrip::LengthIn(int editId, const wchar_t* what)
{
    const uint32_t ms = ControlLengthMs(m_dialog.Item(editId).Text());
    if (!ms) {
        m_log->Append(TransportEventKind::Error, std::wstring(what) + L" lasts 1 to 10000 ms.");
        return 0;
    }
    SerialControlLengths lengths{ControlLengthMs(m_dialog.Item(IDC_PULSE_MS).Text()),
                                 ControlLengthMs(m_dialog.Item(IDC_BREAK_MS).Text())};
    if (lengths.pulseMs && lengths.breakMs)
        SaveSerialControlLengths(lengths);
    return ms;
}

void SerialStrip::Change(LineControl::Line line, LineControl::Action action, uint32_t ms)
{
    const LineControl control{line, action, ms};
    if (m_controller->ChangeLine(control) != SendResult::Queued)
        m_log->Append(TransportEventKind::Error, LineControlText(control) + L": the port is not open.");
}

void SerialStrip::Show()
{
    if (!m_dialog)
        return;
    m_dialog.Item(IDC_DTR).Send(BM_SETCHECK,
                                WPARAM(LineBoxState(m_open, false, m_lines & SerialLine::kDtr, m_dtrAtOpen)));
    m_dialog.Item(IDC_RTS).Send(BM_SETCHECK,
                                WPARAM(LineBoxState(m_open, m_handshake, m_lines & SerialLine::kRts, m_rtsAtOpen)));
    for (int id : {IDC_PULSE_DTR, IDC_PULSE_RTS, IDC_BREAK})
        m_dialog.Item(id).Enable(m_open);
    InvalidateRect(m_dialog.Item(IDC_LINE_LAMPS).Handle(), nullptr, TRUE);
}

bool SerialStrip::OnDrawItem(const DRAWITEMSTRUCT& item) const
{
    if (item.CtlID != IDC_LINE_LAMPS)
        return false;
    const HDC dc = item.hDC;
    RECT r = item.rcItem;
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    const HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0)));
    SetBkMode(dc, TRANSPARENT);
    const LampsView view = LampsFor(m_open, m_signal, m_lines);
    if (view.unreported) {
        SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
        DrawTextW(dc, L"CTS, DSR, DCD, RI: not reported", -1, &r, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
        SelectObject(dc, oldFont);
        return true;
    }
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    const int height = r.bottom - r.top;
    const int diameter = std::max(6, std::min(height - 2, int(metrics.tmAscent)));
    const int gap = std::max(4, int(metrics.tmAveCharWidth) * 2 / 3);
    int x = r.left;
    for (size_t i = 0; i < 4; ++i) {
        const Lamp lamp = view.lamps[i];
        const COLORREF fill = lamp == Lamp::On    ? RGB(40, 190, 60)
                              : lamp == Lamp::Off ? RGB(90, 90, 90)
                                                  : GetSysColor(COLOR_BTNFACE);
        const HBRUSH brush = CreateSolidBrush(fill);
        const HPEN pen = CreatePen(PS_SOLID, 1, lamp == Lamp::On ? RGB(20, 110, 30) : GetSysColor(COLOR_GRAYTEXT));
        const HGDIOBJ oldBrush = SelectObject(dc, brush), oldPen = SelectObject(dc, pen);
        const int top = r.top + (height - diameter) / 2;
        Ellipse(dc, x, top, x + diameter, top + diameter);
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        DeleteObject(brush);
        DeleteObject(pen);
        x += diameter + gap;
        SetTextColor(dc, GetSysColor(lamp == Lamp::Unknown ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
        RECT text{x, r.top, r.right, r.bottom};
        DrawTextW(dc, kLampNames[i], -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
        SIZE size{};
        GetTextExtentPoint32W(dc, kLampNames[i], int(wcslen(kLampNames[i])), &size);
        x += size.cx + 3 * gap;
    }
    SelectObject(dc, oldFont);
    return true;
}
