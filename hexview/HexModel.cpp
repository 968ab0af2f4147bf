#include "hexview/HexModel.h"
#include "text/Hex.h"

#include <algorithm>
#include <cwchar>

namespace {

int64_t Clamp(int64_t value, int64_t low, int64_t high)
{
    return std::max(low, std::min(value, high));
}

bool Printable(unsigned c)
{
    return c >= 0x20 && c <= 0x7E;
}

} // namespace

void HexModel::Configure(const HexViewConfig& config)
{
    m_addressBytes = config.m_addressBytes;
    m_bytesPerLine = config.m_bytesPerLine;
    m_readOnly = config.m_readOnly;
}

void HexModel::SetFontMetrics(int charWidth, int charHeight)
{
    m_charWidth = charWidth;
    m_charHeight = charHeight;
}

void HexModel::ShowRows(const HexRows* rows)
{
    m_rows = rows ? rows : &m_ownRows;
    m_topLine = m_caret = m_caretNibble = 0;
    m_pointed = -1;
    DropSelection();
    m_behind = true;
}

uint64_t HexModel::OwnRows::RowCount() const
{
    const uint64_t bpl = uint64_t(m_model.Bpl());
    return (m_model.m_data.size() + bpl - 1) / bpl;
}

HexRows::Row HexModel::OwnRows::At(uint64_t row) const
{
    const uint64_t bpl = uint64_t(m_model.Bpl()), start = row * bpl;
    return Row{start, uint32_t(std::min<uint64_t>(bpl, m_model.m_data.size() - start)), false};
}

size_t HexModel::OwnRows::Read(uint64_t from, uint8_t* out, size_t count) const
{
    size_t done = 0;
    m_model.m_data.ForEachRun(size_t(from), count, [&](const uint8_t* data, size_t size) {
        std::copy(data, data + size, out + done);
        done += size;
    });
    return done;
}

// ---- geometry -------------------------------------------------------------

int HexModel::AddressWidth() const
{
    return m_addressBytes != 0 ? (2 * m_addressBytes + 2) * m_charWidth : 0;
}

int HexModel::HexCellX(int column) const
{
    const int gap = column < m_bytesPerLine / 2 ? 0 : m_charWidth;
    return AddressWidth() + 3 * m_charWidth * column + gap;
}

int HexModel::DividerX() const
{
    return AddressWidth() + (3 * m_bytesPerLine + 2) * m_charWidth - m_charWidth / 2;
}

int HexModel::CharCellX(int column) const
{
    return AddressWidth() + (3 * m_bytesPerLine + 2 + column) * m_charWidth;
}

int64_t HexModel::TotalRows() const
{
    return std::max<int64_t>(1, int64_t(m_rows->RowCount()));
}

int32_t HexModel::VisibleRows() const
{
    const int height = m_host ? m_host->ClientHeight() : 0;
    return std::max(1, height / LineHeight());
}

int64_t HexModel::LastTopRow() const
{
    return std::max<int64_t>(0, TotalRows() - VisibleRows());
}

// ---- operations ----------------------------------------------------------

int64_t HexModel::ScrollScale() const
{
    return TotalRows() / 0x40000000 + 1;
}

void HexModel::UpdateScrollInfo()
{
    if (!m_host)
        return;
    const int64_t scale = ScrollScale();
    const int maximum = int((TotalRows() - 1) / scale), page = std::max(1, int(VisibleRows() / scale));
    // Scaled down, the last rows would leave the thumb short of the end.
    m_host->SetScroll(maximum, page, m_topLine >= LastTopRow() && scale > 1 ? maximum - page + 1 : int(m_topLine / scale));
}

void HexModel::ClampTopLine()
{
    m_topLine = std::max<int64_t>(0, std::min(m_topLine, LastTopRow()));
}

void HexModel::Repaint()
{
    if (m_host)
        m_host->Repaint();
}

void HexModel::AppendBytes(const std::vector<uint8_t>& bytes, bool show)
{
    m_data.Append(bytes);
    m_behind = true;
    if (show)
        CatchUp();
}

void HexModel::ScrollToEnd()
{
    m_topLine = LastTopRow();
    m_behind = true;
    CatchUp();
}

void HexModel::CatchUp()
{
    if (!m_behind)
        return;
    m_behind = false;
    UpdateScrollInfo();
    Repaint();
}

void HexModel::Clear()
{
    m_data.Clear(); // a cleared log gives its memory back
    m_topLine = m_caret = m_caretNibble = 0;
    m_pointed = -1;
    m_caretInAscii = false;
    m_contentLength = 0;
    DropSelection();
    UpdateScrollInfo();
    Repaint();
}

void HexModel::ResetEditor()
{
    m_data.Clear();
    m_data.push_back(0x00);
    DropSelection();
    m_caret = m_caretNibble = 0;
    m_caretInAscii = false;
    m_topLine = 0;
    m_contentLength = 0;
    UpdateScrollInfo();
    Repaint();
}

void HexModel::SetContent(const std::vector<uint8_t>& bytes)
{
    ResetEditor();
    m_data.Clear();
    m_data.Append(bytes);
    m_data.push_back(0x00); // the cell the next byte is typed into
    m_contentLength = int64_t(bytes.size());
    UpdateScrollInfo();
    SetCaret(m_contentLength, false, 0);
    Repaint();
}

std::vector<uint8_t> HexModel::GetContent() const
{
    const int64_t n = std::max<int64_t>(0, std::min<int64_t>(m_contentLength, int64_t(m_data.size())));
    return m_data.Copy(0, size_t(n));
}

void HexModel::SelectFound(int64_t index, int64_t length)
{
    if (Size() == 0)
        return;
    m_selAnchor = Clamp(index, 0, Size() - 1);
    m_selEnd = std::max<int64_t>(0, std::min(index + length, Size()) - 1);
    m_selInAscii = true;
    const int64_t row = int64_t(m_rows->RowOf(uint64_t(m_selAnchor)));
    const int32_t visible = VisibleRows();
    if (row < m_topLine || row >= m_topLine + visible) {
        m_topLine = std::max<int64_t>(0, row - visible / 2);
        ClampTopLine();
        UpdateScrollInfo();
    }
    if (!m_readOnly) {
        m_caret = m_selAnchor;
        m_caretNibble = 0;
        m_caretInAscii = true;
    }
    Repaint();
}

bool HexModel::Selected(int64_t index) const
{
    if (m_selAnchor < 0)
        return false;
    return index >= std::min(m_selAnchor, m_selEnd) && index <= std::max(m_selAnchor, m_selEnd);
}

HexModel::Range HexModel::SelectedRange() const
{
    if (m_selAnchor < 0 || Size() == 0)
        return {};
    const int64_t lo = Clamp(std::min(m_selAnchor, m_selEnd), 0, Size() - 1);
    const int64_t hi = Clamp(std::max(m_selAnchor, m_selEnd), 0, Size() - 1);
    return Range{uint64_t(lo), uint64_t(hi - lo + 1), m_selInAscii};
}

std::wstring HexModel::SelectionText() const
{
    const Range range = SelectedRange();
    std::vector<uint8_t> bytes(size_t(range.count));
    bytes.resize(m_rows ? m_rows->Read(range.from, bytes.data(), bytes.size()) : 0);
    std::wstring text;
    AppendCopyText(text, bytes.data(), bytes.size(), range.ascii, false);
    return text;
}

void HexModel::SelectAll()
{
    if (Size() == 0)
        return;
    m_selAnchor = 0;
    m_selEnd = Size() - 1;
    m_selInAscii = false;
    Repaint();
}

void AppendCopyText(std::wstring& text, const uint8_t* bytes, size_t count, bool ascii, bool continued)
{
    text.reserve(text.size() + size_t(CopyTextLength(count, ascii)) + 1);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (ascii) {
            text += Printable(b) ? wchar_t(b) : L'.';
        } else {
            if (i > 0 || continued)
                text += L' ';
            text += kHexDigits[b >> 4];
            text += kHexDigits[b & 15];
        }
    }
}

uint64_t CopyTextLength(uint64_t count, bool ascii)
{
    return ascii || count == 0 ? count : 3 * count - 1;
}

// ---- caret and hit testing -----------------------------------------------

void HexModel::InvalidateCaretRow()
{
    if (m_host && !m_data.empty())
        m_host->RepaintBand(int((m_caret / Bpl() - m_topLine) * LineHeight()), LineHeight());
}

void HexModel::SetCaret(int64_t index, bool inAscii, int32_t nibble)
{
    InvalidateCaretRow();
    m_caretNibble = nibble;
    m_caretInAscii = inAscii;
    m_caret = m_data.empty() ? 0 : Clamp(index, 0, Size() - 1);
    if (!m_data.empty()) {
        const int64_t row = m_caret / Bpl();
        const int32_t visible = VisibleRows();
        const int64_t before = m_topLine;
        if (row < m_topLine)
            m_topLine = row;
        else if (row >= m_topLine + visible)
            m_topLine = row - visible + 1;
        if (m_topLine != before) {
            UpdateScrollInfo();
            Repaint();
        }
    }
    InvalidateCaretRow();
}

int HexModel::HitTest(int x, int y, int64_t& index, int32_t& nibble) const
{
    if (Size() == 0 || y < 0)
        return HitNothing;
    const int64_t row = m_topLine + y / LineHeight();
    if (row >= int64_t(m_rows->RowCount()))
        return HitNothing;
    const HexRows::Row r = m_rows->At(uint64_t(row));
    const int64_t rowStart = int64_t(r.start), length = r.length;
    for (int i = 0; i < length; ++i) {
        const int x0 = HexCellX(i);
        if (x >= x0 && x < x0 + 2 * m_charWidth) {
            index = rowStart + i;
            nibble = x - x0 >= m_charWidth ? 1 : 0;
            return HitHex;
        }
    }
    const int xa = CharCellX(0);
    if (x < xa)
        return HitNothing;
    const int col = (x - xa) / m_charWidth;
    if (col >= length)
        return HitNothing;
    index = rowStart + col;
    nibble = 0;
    return HitChar;
}

// ---- mouse ---------------------------------------------------------------

bool HexModel::OnLButtonDown(int x, int y, bool shift)
{
    int64_t index = 0;
    int32_t nibble = 0;
    const int hit = HitTest(x, y, index, nibble);
    if (hit == HitNothing)
        return false;
    const bool inAscii = hit == HitChar;
    if (shift) {
        if (m_selAnchor < 0) {
            m_selAnchor = m_caret;
            m_selInAscii = inAscii;
        }
    } else {
        m_selAnchor = index;
        m_selInAscii = inAscii;
    }
    m_selEnd = index;
    if (!m_readOnly)
        SetCaret(index, inAscii, hit == HitHex ? nibble : 0);
    m_dragging = true;
    Repaint();
    return true;
}

void HexModel::OnMouseMove(int x, int y, bool leftButton)
{
    int64_t index = 0;
    int32_t nibble = 0;
    const bool hit = HitTest(x, y, index, nibble) != HitNothing;
    m_pointed = hit ? index : -1;
    if (!m_dragging || !leftButton)
        return;
    if (hit && index != m_selEnd) {
        m_selEnd = index;
        Repaint();
    }
}

bool HexModel::OnLButtonUp()
{
    if (!m_dragging)
        return false;
    m_dragging = false;
    return true;
}

// ---- keys ----------------------------------------------------------------

bool HexModel::OnKeyDown(int key, bool shift)
{
    if (m_readOnly) {
        const int64_t visible = VisibleRows(), last = LastTopRow();
        switch (key) {
        case VK_PRIOR: m_topLine = std::max<int64_t>(0, m_topLine - visible); break;
        case VK_NEXT: m_topLine = m_topLine + visible <= last ? m_topLine + visible : last; break;
        case VK_END: m_topLine = last; break;
        case VK_HOME: m_topLine = 0; break;
        case VK_UP: m_topLine = std::max<int64_t>(0, m_topLine - 1); break;
        case VK_DOWN: m_topLine = std::min(m_topLine + 1, last); break;
        default: return false;
        }
        UpdateScrollInfo();
        Repaint();
        return true;
    }

    switch (key) {
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_HOME:
    case VK_END:
        return MoveCaretByKey(key, shift);
    case VK_TAB:
        DropSelection();
        InvalidateCaretRow();
        m_caretInAscii = !m_caretInAscii;
        m_caretNibble = 0;
        InvalidateCaretRow();
        return true;
    case VK_DELETE:
        DropSelection();
        if (!m_data.empty()) {
            m_data[size_t(m_caret)] = 0;
            InvalidateCaretRow();
        }
        return true;
    case VK_BACK:
        DropSelection();
        if (!m_data.empty())
            Backspace();
        return true;
    }
    return false;
}

bool HexModel::MoveCaretByKey(int key, bool shift)
{
    if (m_data.empty())
        return true;
    const bool hex = !m_caretInAscii;
    // Between the two digits of one byte: the selection is left alone.
    if (key == VK_LEFT && hex && m_caretNibble == 1 && !shift) {
        SetCaret(m_caret, false, 0);
        return true;
    }
    if (key == VK_RIGHT && hex && m_caretNibble == 0 && !shift) {
        SetCaret(m_caret, false, 1);
        return true;
    }

    const bool hadSelection = m_selAnchor >= 0;
    if (!shift) {
        DropSelection();
    } else if (m_selAnchor < 0) {
        m_selAnchor = m_caret;
        m_selInAscii = m_caretInAscii;
    }

    const int64_t caret = m_caret, bpl = Bpl(), page = int64_t(VisibleRows()) * bpl;
    switch (key) {
    case VK_LEFT:
        if (caret >= 1)
            SetCaret(m_caret - 1, m_caretInAscii, hex ? 1 : 0);
        break;
    case VK_RIGHT:
        if (caret + 1 < Size())
            SetCaret(m_caret + 1, m_caretInAscii, 0);
        break;
    case VK_UP: SetCaret(Clamp(caret - bpl, 0, Size() - 1), m_caretInAscii, 0); break;
    case VK_DOWN: SetCaret(Clamp(caret + bpl, 0, Size() - 1), m_caretInAscii, 0); break;
    case VK_PRIOR: SetCaret(Clamp(caret - page, 0, Size() - 1), m_caretInAscii, 0); break;
    case VK_NEXT: SetCaret(Clamp(caret + page, 0, Size() - 1), m_caretInAscii, 0); break;
    case VK_HOME: SetCaret(0, m_caretInAscii, 0); break;
    case VK_END: SetCaret(Size() - 1, m_caretInAscii, 0); break;
    }

    if (shift) {
        m_selEnd = m_caret;
        m_selInAscii = m_caretInAscii;
        Repaint();
    } else if (hadSelection) {
        Repaint(); // the dropped selection may span rows the caret never touched
    }
    return true;
}

void HexModel::Backspace()
{
    if (m_caretInAscii) {
        if (m_caret >= 1) {
            m_data[size_t(m_caret - 1)] = 0;
            m_contentLength = std::min(m_contentLength, m_caret - 1);
            SetCaret(m_caret - 1, true, 0);
        }
    } else if (m_caretNibble == 1) {
        InvalidateCaretRow();
        m_data[size_t(m_caret)] &= 0x0F;
        m_caretNibble = 0;
        m_contentLength = std::min(m_contentLength, m_caret);
        InvalidateCaretRow();
    } else if (m_caret >= 1) {
        m_data[size_t(m_caret - 1)] &= 0xF0;
        m_contentLength = std::min(m_contentLength, m_caret - 1);
        SetCaret(m_caret - 1, false, 1);
    }
}

// ---- characters ------------------------------------------------------------

HexModel::CharResult HexModel::OnChar(wchar_t c)
{
    if (c == 3)
        return CharResult::Copy;
    if (c == 1) { // Ctrl+A
        SelectAll();
        return CharResult::Handled;
    }
    if (m_readOnly)
        return CharResult::Default;
    if (m_caretInAscii) {
        if (Printable(c))
            TypeChar(c);
        return CharResult::Handled;
    }
    const int value = HexValue(c);
    if (value < 0)
        return CharResult::Default;
    TypeHexDigit(value);
    return CharResult::Handled;
}

void HexModel::GrowForTyping(int64_t next)
{
    if (next >= Size()) {
        m_data.push_back(0x00);
        UpdateScrollInfo();
    }
    m_contentLength = std::max(m_contentLength, next);
}

void HexModel::TypeChar(wchar_t c)
{
    DropSelection();
    if (m_data.empty())
        m_data.push_back(0x00);
    m_data[size_t(m_caret)] = uint8_t(c);
    const int64_t next = m_caret + 1;
    GrowForTyping(next);
    SetCaret(next, true, 0);
}

void HexModel::TypeHexDigit(int value)
{
    DropSelection();
    if (m_data.empty())
        m_data.push_back(0x00);
    InvalidateCaretRow();
    uint8_t& b = m_data[size_t(m_caret)];
    if (m_caretNibble == 0) {
        b = uint8_t((value << 4) | (b & 0x0F));
        m_caretNibble = 1;
        InvalidateCaretRow();
        return;
    }
    b = uint8_t((b & 0xF0) | value);
    const int64_t next = m_caret + 1;
    GrowForTyping(next);
    SetCaret(next, false, 0);
}

// ---- scrolling and focus -------------------------------------------------

void HexModel::OnVScroll(int code, int trackPosition)
{
    const int64_t page = VisibleRows(), last = LastTopRow();
    switch (code) {
    case SB_LINEUP: m_topLine = std::max<int64_t>(0, m_topLine - 1); break;
    case SB_LINEDOWN: m_topLine = std::min(m_topLine + 1, last); break;
    case SB_PAGEUP: m_topLine = std::max<int64_t>(0, m_topLine - page); break;
    case SB_PAGEDOWN: m_topLine = std::min(m_topLine + page, last); break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: m_topLine = std::min(int64_t(trackPosition) * ScrollScale(), last); break;
    case SB_TOP: m_topLine = 0; break;
    case SB_BOTTOM: m_topLine = last; break;
    default: break;
    }
    UpdateScrollInfo();
    Repaint();
}

void HexModel::OnWheel(int delta)
{
    const int notches = delta / 120;
    m_topLine = std::max<int64_t>(0, std::min(m_topLine - 3 * notches, LastTopRow()));
    UpdateScrollInfo();
    Repaint();
}

void HexModel::OnFocus(bool focused)
{
    m_hasFocus = focused;
    InvalidateCaretRow();
}

void HexModel::OnSize()
{
    ClampTopLine();
    UpdateScrollInfo();
    Repaint();
}

// ---- drawing ---------------------------------------------------------------

std::wstring HexModel::AddressText(int64_t row) const
{
    const uint32_t start =
        uint32_t(row < int64_t(m_rows->RowCount()) ? m_rows->At(uint64_t(row)).start : uint64_t(row) * Bpl());
    wchar_t text[16];
    if (m_addressBytes == 1)
        swprintf(text, 16, L"%02X  ", start & 0xFF);
    else if (m_addressBytes == 2)
        swprintf(text, 16, L"%04X  ", start & 0xFFFF);
    else
        swprintf(text, 16, L"%08X  ", start);
    return text;
}

void HexModel::Paint(HexRowPainter& painter, int clientWidth, int clientHeight) const
{
    painter.Fill(0, 0, clientWidth, clientHeight, HexColours::Background);
    const int64_t visible = VisibleRows(), total = int64_t(m_rows->RowCount());
    for (int64_t i = 0; i < visible; ++i) {
        const int64_t row = m_topLine + i;
        if (row >= total)
            break;
        DrawRow(painter, row, int(i) * LineHeight());
    }
}

void HexModel::DrawRow(HexRowPainter& painter, int64_t row, int y) const
{
    using namespace HexColours;
    if (row < 0 || row >= int64_t(m_rows->RowCount()))
        return;
    const HexRows::Row r = m_rows->At(uint64_t(row));
    const int64_t start = int64_t(r.start);
    uint8_t bytes[256];
    const int count = int(m_rows->Read(r.start, bytes, std::min<size_t>(r.length, sizeof bytes)));
    if (count < 1)
        return;
    const COLORREF plain = r.sent ? Sent : Text;
    const bool showCaret = !m_readOnly && m_hasFocus;
    const int h = LineHeight(), w = m_charWidth;

    if (m_addressBytes > 0)
        painter.Text(0, y, AddressText(row), Address);

    // The editor's cell after its last byte is where the next one is typed:
    // empty, but for a first digit typed into it, so that it never reads as
    // a byte that would be sent.
    const auto typingCell = [&](int64_t index) { return !m_readOnly && index >= m_contentLength; };
    for (int i = 0; i < count; ++i) {
        const int64_t index = start + i;
        const uint8_t b = bytes[i];
        const bool caretHere = showCaret && index == m_caret;
        const bool halfTyped = caretHere && !m_caretInAscii && m_caretNibble == 1;
        const wchar_t high = typingCell(index) && !halfTyped ? L' ' : kHexDigits[b >> 4];
        const wchar_t low = typingCell(index) ? L' ' : kHexDigits[b & 15];
        const int x = HexCellX(i);
        COLORREF fill = Background, text = plain;
        if (caretHere && !m_caretInAscii) {
            const int caretX = m_caretNibble == 0 ? x : x + w;
            painter.Fill(caretX, y, w, h, CaretFill);
            painter.Char(x, y, high, m_caretNibble == 0 ? Highlight : Text,
                         m_caretNibble == 0 ? CaretFill : Background);
            painter.Char(x + w, y, low, m_caretNibble == 1 ? Highlight : Text,
                         m_caretNibble == 1 ? CaretFill : Background);
            continue;
        }
        if (Selected(index) && !m_selInAscii) {
            fill = SelectionOwn;
            text = Highlight;
        } else if (caretHere && m_caretInAscii) {
            fill = CaretMirror;
        } else if (Selected(index) && m_selInAscii) {
            fill = SelectionOther;
        }
        if (fill != Background)
            painter.Fill(x, y, 2 * w, h, fill);
        painter.Char(x, y, high, text, fill);
        painter.Char(x + w, y, low, text, fill);
    }

    painter.Fill(DividerX(), y, 1, h, Divider);

    for (int i = 0; i < count; ++i) {
        const int64_t index = start + i;
        const uint8_t b = bytes[i];
        const wchar_t c = typingCell(index) ? L' ' : Printable(b) ? wchar_t(b) : L'.';
        const bool caretHere = showCaret && index == m_caret;
        COLORREF fill = Background, text = plain;
        if (caretHere && m_caretInAscii) {
            fill = CaretFill;
            text = Highlight;
        } else if (Selected(index) && m_selInAscii) {
            fill = SelectionOwn;
            text = Highlight;
        } else if (caretHere && !m_caretInAscii) {
            fill = CaretMirror;
        } else if (Selected(index) && !m_selInAscii) {
            fill = SelectionOther;
        }
        const int x = CharCellX(i);
        if (fill != Background)
            painter.Fill(x, y, w, h, fill);
        painter.Char(x, y, c, text, fill);
    }
}
