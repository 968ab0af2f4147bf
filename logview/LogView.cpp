#include "logview/LogView.h"

#include "framework/Clipboard.h"
#include "logview/LogLine.h"

#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int kWheelLines = 3;

// Where the system draws a bar's thumb and whether the bar is enabled.
CLogView::ThumbLook LookOf(HWND wnd, LONG bar)
{
    SCROLLBARINFO info{};
    info.cbSize = sizeof(info);
    if (!GetScrollBarInfo(wnd, bar, &info))
        return {};
    return {true, info.xyThumbTop, info.xyThumbBottom, info.rgstate[0]};
}

} // namespace

COLORREF LogColourOf(TransportEventKind kind)
{
    switch (kind) {
    case TransportEventKind::Received:
        return LogColours::Received;
    case TransportEventKind::Sent:
        return LogColours::Sent;
    case TransportEventKind::Error:
        return LogColours::Error;
    default:
        return LogColours::System;
    }
}

bool CLogView::RegisterWindowClass()
{
    return Register<CLogView>(kClassName, CS_DBLCLKS, IDC_IBEAM, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

CLogView* CLogView::Create(HWND parent, const RECT& rect, int id)
{
    if (!RegisterWindowClass())
        return nullptr;
    const HWND wnd = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL |
                                                            WS_TABSTOP,
                                     rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                                     reinterpret_cast<HMENU>(INT_PTR(id)), GetModuleHandleW(nullptr), nullptr);
    CLogView* view = wnd ? FromHandle<CLogView>(wnd) : nullptr;
    if (view)
        view->SetFont(reinterpret_cast<HFONT>(SendMessageW(parent, WM_GETFONT, 0, 0)));
    return view;
}

CLogView::CLogView(HWND wnd, const CREATESTRUCTW&) : ChildWindow(wnd) {}

CLogView::~CLogView()
{
    if (m_markFont)
        DeleteObject(m_markFont);
}

void CLogView::SetFont(HFONT font)
{
    m_font = font;
    const HDC dc = GetDC(m_wnd);
    const HGDIOBJ previous = SelectObject(dc, m_font ? m_font : GetStockObject(ANSI_FIXED_FONT));
    TEXTMETRICW metrics{};
    if (GetTextMetricsW(dc, &metrics)) {
        m_lineHeight = std::max<int>(metrics.tmHeight, 1);
        m_charWidth = std::max<int>(metrics.tmAveCharWidth, 1);
    }
    // The marks' names: small enough that each letter fits a cell.
    LOGFONTW small{};
    if (m_markFont)
        DeleteObject(m_markFont);
    m_markFont = nullptr;
    if (GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof(small), &small)) {
        small.lfHeight = -std::max(6, m_lineHeight * 5 / 8);
        small.lfWidth = 0;
        small.lfWeight = FW_BOLD;
        m_markFont = CreateFontIndirectW(&small);
    }
    SelectObject(dc, previous);
    ReleaseDC(m_wnd, dc);
    KeepEndInView();
    UpdateScrollBars();
    InvalidateRect(m_wnd, nullptr, FALSE);
}

void CLogView::SetOptions(const LogShowOptions& options)
{
    m_options = options;
    UpdateScrollBars();
    InvalidateRect(m_wnd, nullptr, FALSE);
}

int CLogView::Rows() const
{
    RECT r{};
    GetClientRect(m_wnd, &r);
    return std::max<int>(r.bottom / m_lineHeight, 1);
}

int CLogView::Columns() const
{
    RECT r{};
    GetClientRect(m_wnd, &r);
    return std::max<int>(r.right / m_charWidth, 1);
}

LogGeometry CLogView::Geometry() const
{
    LogGeometry g;
    g.lineHeight = m_lineHeight;
    g.charWidth = m_charWidth;
    g.topLine = m_model.TopLine();
    g.leftColumn = m_model.LeftColumn();
    return g;
}

void CLogView::KeepEndInView()
{
    if (!m_followEnd || !m_model.LineCount())
        return;
    const uint64_t rows = uint64_t(Rows());
    m_model.SetTopLine(m_model.EndLine() > rows ? m_model.EndLine() - rows : 0);
}

void CLogView::Refresh(bool followEnd)
{
    const bool grew = m_model.EndLine() != m_seenEnd || m_model.FirstLine() != m_seenFirst;
    const uint64_t top = m_model.TopLine();
    m_followEnd = followEnd;
    KeepEndInView();
    if (!grew && top == m_model.TopLine())
        return;
    m_seenEnd = m_model.EndLine();
    m_seenFirst = m_model.FirstLine();
    UpdateScrollBars();
    InvalidateRect(m_wnd, nullptr, FALSE);
}

void CLogView::UpdateScrollBars()
{
    // Both bars stay (disabled when there is nothing to scroll), so the
    // rows in view do not change with the text.
    SCROLLINFO si{};
    si.cbSize = sizeof(si);
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
    si.nMax = int(std::min<size_t>(m_model.LineCount(), INT_MAX)) - 1;
    si.nPage = UINT(Rows());
    si.nPos = int(std::min<uint64_t>(m_model.TopLine() - m_model.FirstLine(), INT_MAX));
    // Drawing the bars costs milliseconds (under Wine more than the text
    // itself), so they are drawn with the next paint and only when what
    // they show moved by a pixel: under a flood the thumb mostly stays put.
    SetScrollInfo(m_wnd, SB_VERT, &si, FALSE);
    // Positions are left columns, up to the one that shows the longest line's end.
    si.nMax = int(std::min<size_t>(m_model.LastLeftColumn(size_t(Columns()), m_options) + size_t(Columns()) - 1, INT_MAX));
    si.nPage = UINT(Columns());
    si.nPos = int(std::min<size_t>(m_model.LeftColumn(), INT_MAX));
    SetScrollInfo(m_wnd, SB_HORZ, &si, FALSE);
    const BarLook look{LookOf(m_wnd, OBJID_VSCROLL), LookOf(m_wnd, OBJID_HSCROLL)};
    if (look.vertical.known && look.horizontal.known && look == m_barsDrawn)
        return;
    m_barsDrawn = look;
    ++m_frameDraws;
    RedrawWindow(m_wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME);
}

void CLogView::CaretMoved()
{
    m_model.ShowCaret(Rows(), Columns(), m_options);
    UpdateScrollBars();
    InvalidateRect(m_wnd, nullptr, FALSE);
}

void CLogView::CopySelection() const
{
    const std::wstring text = m_model.SelectedText(m_options);
    if (!text.empty())
        CopyTextToClipboard(m_wnd, text);
}

void CLogView::SelectAll()
{
    m_model.SelectAll(m_options);
    InvalidateRect(m_wnd, nullptr, FALSE);
}

bool CLogView::FindNext(const std::wstring& what)
{
    if (!m_model.FindNext(what, m_options))
        return false;
    CaretMoved();
    return true;
}

void CLogView::Paint(HDC dc)
{
    RECT client{};
    GetClientRect(m_wnd, &client);
    const HGDIOBJ previous = SelectObject(dc, m_font ? m_font : GetStockObject(ANSI_FIXED_FONT));
    int y = 0;
    for (uint64_t line = m_model.TopLine(); y < client.bottom && m_model.Holds(line); ++line, y += m_lineHeight)
        PaintLine(dc, line, y, client.right);
    if (y < client.bottom) {
        const RECT rest{0, y, client.right, client.bottom};
        SetBkColor(dc, LogColours::Background);
        ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rest, nullptr, 0, nullptr);
    }
    SelectObject(dc, previous);
}

// Only the cells in view are drawn, each run of one look in one call. Text is
// drawn without shaping (ETO_IGNORELANGUAGE), one cell per character, so
// received bytes of any value can neither upset nor slow the layout. A
// character that is no text (CR, LF, NUL, a raw byte) is a small box with
// its name, drawn here: no font has to have a glyph for it.
void CLogView::PaintLine(HDC dc, uint64_t line, int y, int width)
{
    const size_t first = m_model.LeftColumn();
    const std::wstring text = m_model.LineText(line, m_options, first, size_t(width / m_charWidth) + 1);
    const LogRecord& record = m_model.Record(line);
    const LogPosition from = std::min(m_model.Anchor(), m_model.Caret());
    const LogPosition to = std::max(m_model.Anchor(), m_model.Caret());
    const size_t selStart = line > from.line ? 0 : line == from.line ? from.column : SIZE_MAX;
    const size_t selEnd = line < to.line ? SIZE_MAX : line == to.line ? to.column : 0;
    const COLORREF ink = LogColourOf(record.kind);
    // Every mark's name has two letters or more.
    const auto isMark = [&](size_t column) { return MarkCells(text[column - first], record.rawBytes) > 1; };

    const size_t last = first + text.size();
    std::vector<INT> advances(std::max<size_t>(text.size(), 1), m_charWidth);
    int x = 0;
    int caretX = -1;
    for (size_t i = first; i < last && x < width;) {
        if (i == m_model.Caret().column)
            caretX = x;
        const bool selected = i >= selStart && i < selEnd;
        if (isMark(i)) {
            x += PaintMark(dc, text[i - first], record.rawBytes, x, y, selected);
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < last && (j >= selStart && j < selEnd) == selected && !isMark(j) && j != m_model.Caret().column)
            ++j;
        SetTextColor(dc, selected ? LogColours::SelectionText : ink);
        SetBkColor(dc, selected ? LogColours::SelectionFill : LogColours::Background);
        const int runWidth = int(j - i) * m_charWidth;
        const RECT cells{x, y, x + runWidth, y + m_lineHeight};
        ExtTextOutW(dc, x, y, ETO_OPAQUE | ETO_CLIPPED | ETO_IGNORELANGUAGE, &cells, text.data() + (i - first),
                    UINT(j - i), advances.data());
        x += runWidth;
        i = j;
    }
    if (caretX < 0 && m_model.Caret().column >= last)
        caretX = x + int(m_model.Caret().column - last) * m_charWidth;
    if (x < width) {
        const RECT rest{x, y, width, y + m_lineHeight};
        SetBkColor(dc, LogColours::Background);
        ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rest, nullptr, 0, nullptr);
    }

    // Where the keys act: a thin bar at the caret while the view has the focus.
    const LogPosition caret = m_model.Caret();
    if (m_focused && caret.line == line && caret.column >= first && caretX >= 0) {
        const RECT bar{caretX, y, caretX + 1, y + m_lineHeight};
        SetBkColor(dc, ink);
        ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &bar, nullptr, 0, nullptr);
    }
}

int CLogView::PaintMark(HDC dc, wchar_t c, bool rawBytes, int x, int y, bool selected)
{
    const std::wstring label = MarkLabel(c, rawBytes);
    const int cellsWidth = int(std::max<size_t>(label.size(), 1)) * m_charWidth;
    const RECT cells{x, y, x + cellsWidth, y + m_lineHeight};
    SetBkColor(dc, selected ? LogColours::SelectionFill : LogColours::Background);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &cells, nullptr, 0, nullptr);
    const int inset = std::max(1, m_lineHeight / 8);
    RECT box{x + 1, y + inset, x + cellsWidth - 1, y + m_lineHeight - inset};
    SetBkColor(dc, selected ? LogColours::SelectionText : LogColours::Mark);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &box, nullptr, 0, nullptr);
    const HGDIOBJ previous = SelectObject(dc, m_markFont ? m_markFont : GetCurrentObject(dc, OBJ_FONT));
    SetTextColor(dc, selected ? LogColours::SelectionFill : LogColours::Background);
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, label.c_str(), int(label.size()), &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SetBkMode(dc, OPAQUE);
    SelectObject(dc, previous);
    return cellsWidth;
}

void CLogView::ScrollTo(int64_t top, int64_t left)
{
    const int64_t first = int64_t(m_model.FirstLine());
    const int64_t lastTop = std::max<int64_t>(first, int64_t(m_model.EndLine()) - Rows());
    m_model.SetTopLine(uint64_t(std::clamp(top, first, lastTop)));
    const int64_t lastLeft = int64_t(m_model.LastLeftColumn(size_t(Columns()), m_options));
    m_model.SetLeftColumn(size_t(std::clamp<int64_t>(left, 0, lastLeft)));
    UpdateScrollBars();
    InvalidateRect(m_wnd, nullptr, FALSE);
}

void CLogView::OnScroll(int bar, int request)
{
    SCROLLINFO si{};
    si.cbSize = sizeof(si);
    si.fMask = SIF_ALL;
    GetScrollInfo(m_wnd, bar, &si);
    int64_t position = si.nPos;
    const int64_t page = std::max<int64_t>(int64_t(si.nPage) - 1, 1);
    switch (request) {
    case SB_LINEUP: position -= 1; break;
    case SB_LINEDOWN: position += 1; break;
    case SB_PAGEUP: position -= page; break;
    case SB_PAGEDOWN: position += page; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: position = si.nTrackPos; break;
    case SB_TOP: position = 0; break;
    case SB_BOTTOM: position = si.nMax; break;
    default: return;
    }
    if (bar == SB_VERT)
        ScrollTo(int64_t(m_model.FirstLine()) + position, int64_t(m_model.LeftColumn()));
    else
        ScrollTo(int64_t(m_model.TopLine()), position);
}

bool CLogView::OnKey(int key)
{
    const bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    const bool control = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    LogMove move;
    switch (key) {
    case VK_LEFT: move = LogMove::Left; break;
    case VK_RIGHT: move = LogMove::Right; break;
    case VK_UP: move = LogMove::Up; break;
    case VK_DOWN: move = LogMove::Down; break;
    case VK_PRIOR: move = LogMove::PageUp; break;
    case VK_NEXT: move = LogMove::PageDown; break;
    case VK_HOME: move = control ? LogMove::First : LogMove::LineStart; break;
    case VK_END: move = control ? LogMove::Last : LogMove::LineEnd; break;
    case 'A':
        if (!control)
            return false;
        SelectAll();
        return true;
    case 'C':
    case VK_INSERT:
        if (!control)
            return false;
        CopySelection();
        return true;
    default:
        return false;
    }
    m_model.Move(move, shift, Rows(), m_options);
    CaretMoved();
    return true;
}

std::wstring CLogView::TextForReaders() const
{
    std::wstring text = m_model.AllText(m_options);
    std::replace(text.begin(), text.end(), L'\0', kNulPlaceholder);
    return text;
}

LRESULT CLogView::GetText(size_t room, wchar_t* buffer) const
{
    if (!buffer || room == 0)
        return 0;
    const std::wstring text = TextForReaders();
    const size_t count = std::min(text.size(), room - 1);
    memcpy(buffer, text.data(), count * sizeof(wchar_t));
    buffer[count] = L'\0';
    return LRESULT(count);
}

LRESULT CLogView::OnMessage(UINT msg, WPARAM wp, LPARAM lp)
{
    if (HandlePaint(msg, wp))
        return msg == WM_ERASEBKGND ? TRUE : 0;
    switch (msg) {
    case WM_SIZE:
        KeepEndInView();
        UpdateScrollBars();
        InvalidateRect(m_wnd, nullptr, FALSE);
        return 0;
    case WM_SETFONT:
        SetFont(reinterpret_cast<HFONT>(wp));
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(m_font);
    case WM_GETTEXTLENGTH:
        return LRESULT(TextForReaders().size());
    case WM_GETTEXT:
        return GetText(size_t(wp), reinterpret_cast<wchar_t*>(lp));
    case WM_SETTEXT:
        return TRUE; // the log's text is the model's
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_LBUTTONDOWN:
        SetFocus(m_wnd);
        m_model.SetCaret(m_model.HitTest(GET_X_LPARAM(lp), GET_Y_LPARAM(lp), Geometry(), m_options),
                         (wp & MK_SHIFT) != 0);
        m_dragging = true;
        SetCapture(m_wnd);
        InvalidateRect(m_wnd, nullptr, FALSE);
        return 0;
    case WM_MOUSEMOVE:
        if (m_dragging && (wp & MK_LBUTTON)) {
            m_model.SetCaret(m_model.HitTest(GET_X_LPARAM(lp), GET_Y_LPARAM(lp), Geometry(), m_options), true);
            CaretMoved();
        }
        return 0;
    case WM_LBUTTONUP:
        if (m_dragging) {
            m_dragging = false;
            ReleaseCapture();
        }
        return 0;
    case WM_LBUTTONDBLCLK:
        m_model.SelectWord(m_model.HitTest(GET_X_LPARAM(lp), GET_Y_LPARAM(lp), Geometry(), m_options), m_options);
        InvalidateRect(m_wnd, nullptr, FALSE);
        return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        // The menu key and Shift+F10 open the context menu at the keyboard's
        // place, as a right click does at the mouse's.
        if (wp == VK_APPS || (wp == VK_F10 && (GetKeyState(VK_SHIFT) & 0x8000))) {
            SendMessageW(GetParent(m_wnd), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m_wnd), LPARAM(-1));
            return 0;
        }
        if (msg == WM_KEYDOWN && OnKey(int(wp)))
            return 0;
        break;
    case WM_VSCROLL:
        OnScroll(SB_VERT, LOWORD(wp));
        return 0;
    case WM_HSCROLL:
        OnScroll(SB_HORZ, LOWORD(wp));
        return 0;
    case WM_MOUSEWHEEL: {
        // Fine-grained wheels send less than a notch at a time: the rest is
        // kept for the next message.
        m_wheelRest += GET_WHEEL_DELTA_WPARAM(wp);
        const int lines = m_wheelRest * kWheelLines / WHEEL_DELTA;
        m_wheelRest -= lines * WHEEL_DELTA / kWheelLines;
        if (lines)
            ScrollTo(int64_t(m_model.TopLine()) - lines, int64_t(m_model.LeftColumn()));
        return 0;
    }
    case WM_CAPTURECHANGED:
        m_dragging = false;
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        m_focused = msg == WM_SETFOCUS;
        InvalidateRect(m_wnd, nullptr, FALSE);
        break;
    }
    return DefWindowProcW(m_wnd, msg, wp, lp);
}
