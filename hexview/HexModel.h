#pragma once

#include "capture/ChunkedBytes.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The text a copy of these bytes makes: hex pairs with a blank between, or
// their characters with '.' for what is not printable. `continued`: they
// follow bytes already made.
void AppendCopyText(std::wstring& text, const uint8_t* bytes, size_t count, bool ascii, bool continued);
// How many characters a copy of `count` bytes makes.
uint64_t CopyTextLength(uint64_t count, bool ascii);

struct HexViewConfig {
    int32_t m_addressBytes = 2; // 0 none, 1 two digits, 2 four digits, other eight
    int32_t m_bytesPerLine = 16;
    bool m_readOnly = true;
};

// What the model needs from its window: the client height it lays rows
// into, and somewhere to send repaints and the scroll bar state.
class HexViewHost {
public:
    virtual int ClientHeight() const = 0;
    virtual void Repaint() = 0;
    virtual void RepaintBand(int y, int height) = 0;
    virtual void SetScroll(int maximum, int page, int position) = 0;

protected:
    ~HexViewHost() = default;
};

// Where the rows come from: the model's own bytes in rows of equal length,
// or a store that lays out its own (traffic: each block starts a row). Rows
// partition the bytes in order, so offsets and rows map both ways.
class HexRows {
public:
    struct Row {
        uint64_t start = 0;
        uint32_t length = 0;
        bool sent = false; // drawn in the log's TX colour
    };
    virtual uint64_t ByteCount() const = 0;
    virtual uint64_t RowCount() const = 0;
    // For row < RowCount().
    virtual Row At(uint64_t row) const = 0;
    // For offset < ByteCount().
    virtual uint64_t RowOf(uint64_t offset) const = 0;
    virtual size_t Read(uint64_t from, uint8_t* out, size_t count) const = 0;

protected:
    ~HexRows() = default;
};

// Receives one row's drawing; the window turns it into GDI calls.
class HexRowPainter {
public:
    virtual void Fill(int x, int y, int width, int height, COLORREF colour) = 0;
    // One character on its cell's background colour.
    virtual void Char(int x, int y, wchar_t c, COLORREF text, COLORREF background) = 0;
    virtual void Text(int x, int y, const std::wstring& text, COLORREF colour) = 0;

protected:
    ~HexRowPainter() = default;
};

namespace HexColours {
constexpr COLORREF Background = RGB(0, 0, 0);
constexpr COLORREF Address = RGB(180, 180, 70);
constexpr COLORREF Text = RGB(120, 255, 120); // also received bytes, as in the log
constexpr COLORREF Sent = RGB(110, 190, 255);
constexpr COLORREF CaretFill = RGB(20, 110, 210);
constexpr COLORREF SelectionOwn = RGB(60, 60, 170);
constexpr COLORREF SelectionOther = RGB(20, 20, 70);
constexpr COLORREF CaretMirror = RGB(0, 50, 90);
constexpr COLORREF Highlight = RGB(255, 255, 255);
constexpr COLORREF Divider = RGB(40, 70, 40);
} // namespace HexColours

// The hex dump without a window: buffer, caret, selection, scrolling, the
// key, character and mouse rules, hit testing, geometry and row drawing.
class HexModel {
public:
    enum class CharResult { Handled, Default, Copy };
    enum Hit { HitNothing = 0, HitHex = 1, HitChar = 2 };

    HexModel() : m_ownRows(*this) {}
    HexModel(const HexModel&) = delete;
    HexModel& operator=(const HexModel&) = delete;

    void Configure(const HexViewConfig& config);
    void SetHost(HexViewHost* host) { m_host = host; }
    void SetFontMetrics(int charWidth, int charHeight);
    // Shows another store's rows instead of its own bytes (read-only views);
    // null goes back to its own. The store must outlive the model or be
    // taken back first; what it gained shows at CatchUp or ScrollToEnd.
    void ShowRows(const HexRows* rows);

    // Operations of the control.
    // With `show` false the scroll bar and the picture wait for CatchUp or
    // ScrollToEnd: a flood of small blocks then costs the window once a tick.
    void AppendBytes(const std::vector<uint8_t>& bytes, bool show = true);
    void ScrollToEnd();
    // The shown store gained rows: they show at CatchUp or ScrollToEnd.
    void RowsGrew() { m_behind = true; }
    void CatchUp();
    void Clear();
    void ResetEditor();
    // The editor holds these bytes, the caret after them.
    void SetContent(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> GetContent() const;
    void SelectFound(int64_t index, int64_t length);
    // Every byte, in the hex column; nothing when there are none.
    void SelectAll();
    // The selection as clipboard text; empty when there is none.
    std::wstring SelectionText() const;
    // The bytes selected, and in which column (none: count 0).
    struct Range {
        uint64_t from = 0, count = 0;
        bool ascii = false;
    };
    Range SelectedRange() const;

    // Input, already decoded from the window messages. Each returns false
    // (or Default) when the window's default processing should follow.
    bool OnLButtonDown(int x, int y, bool shift); // true: a byte was hit, capture the mouse
    void OnMouseMove(int x, int y, bool leftButton);
    bool OnLButtonUp(); // true: release the capture
    bool OnKeyDown(int key, bool shift);
    CharResult OnChar(wchar_t c);
    void OnVScroll(int code, int trackPosition);
    void OnWheel(int delta);
    void OnFocus(bool focused);
    void OnSize();

    int HitTest(int x, int y, int64_t& index, int32_t& nibble) const;

    // Geometry.
    int LineHeight() const { return m_charHeight + 2; }
    int AddressWidth() const;
    int HexCellX(int column) const;
    int DividerX() const;
    int CharCellX(int column) const;
    int32_t Bpl() const { return m_bytesPerLine < 1 ? 1 : m_bytesPerLine; }
    int64_t Size() const { return int64_t(m_rows->ByteCount()); }
    int64_t TotalRows() const;
    int32_t VisibleRows() const;
    int64_t LastTopRow() const;
    // The byte under the mouse, for saying which block it is in; -1 for none.
    int64_t Pointed() const { return m_pointed; }

    // Draws the visible rows into a client area of the given size.
    void Paint(HexRowPainter& painter, int clientWidth, int clientHeight) const;
    void DrawRow(HexRowPainter& painter, int64_t row, int y) const;
    std::wstring AddressText(int64_t row) const;

    // State, read by tests and the window. Data() is the model's own bytes.
    const ChunkedBytes& Data() const { return m_data; }
    const HexRows& Rows() const { return *m_rows; }
    bool ReadOnly() const { return m_readOnly; }
    int64_t TopLine() const { return m_topLine; }
    int64_t Caret() const { return m_caret; }
    int32_t CaretNibble() const { return m_caretNibble; }
    bool CaretInAscii() const { return m_caretInAscii; }
    bool HasFocus() const { return m_hasFocus; }
    int64_t ContentLength() const { return m_contentLength; }
    int64_t SelAnchor() const { return m_selAnchor; }
    int64_t SelEnd() const { return m_selEnd; }
    bool SelInAscii() const { return m_selInAscii; }
    bool Dragging() const { return m_dragging; }
    void SetTopLine(int64_t line) { m_topLine = line; }

private:
    // The model's own bytes in rows of Bpl() each.
    class OwnRows : public HexRows {
    public:
        explicit OwnRows(const HexModel& model) : m_model(model) {}
        uint64_t ByteCount() const override { return m_model.m_data.size(); }
        uint64_t RowCount() const override;
        Row At(uint64_t row) const override;
        uint64_t RowOf(uint64_t offset) const override { return offset / uint64_t(m_model.Bpl()); }
        size_t Read(uint64_t from, uint8_t* out, size_t count) const override;

    private:
        const HexModel& m_model;
    };

    // The scroll bar counts in int: beyond that many rows a unit is several.
    int64_t ScrollScale() const;
    void UpdateScrollInfo();
    void ClampTopLine();
    void SetCaret(int64_t index, bool inAscii, int32_t nibble);
    void InvalidateCaretRow();
    void Repaint();
    void DropSelection() { m_selAnchor = -1; }
    bool Selected(int64_t index) const;
    bool MoveCaretByKey(int key, bool shift);
    void Backspace();
    void TypeChar(wchar_t c);
    void TypeHexDigit(int value);
    void GrowForTyping(int64_t next);

    int32_t m_addressBytes = 2;
    int32_t m_bytesPerLine = 16;
    bool m_readOnly = true;
    ChunkedBytes m_data;
    OwnRows m_ownRows;
    const HexRows* m_rows = &m_ownRows;
    int32_t m_charWidth = 8;
    int32_t m_charHeight = 14;
    int64_t m_topLine = 0;
    int64_t m_caret = 0;
    int32_t m_caretNibble = 0;
    bool m_caretInAscii = false;
    bool m_hasFocus = false;
    int64_t m_contentLength = 0;
    int64_t m_selAnchor = -1;
    int64_t m_selEnd = -1;
    bool m_selInAscii = false;
    bool m_dragging = false;
    int64_t m_pointed = -1;

    HexViewHost* m_host = nullptr;
    bool m_behind = false; // bytes came that the scroll bar and picture do not show yet
};
