#pragma once

#include "capture/ChunkedBytes.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

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
constexpr COLORREF Text = RGB(120, 255, 120);
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

    // The log view's buffer is held below 2^31 bytes so that 32-bit indices
    // stay valid: beyond the limit the oldest bytes go, a multiple of 64 KiB
    // at a time so the remaining rows keep their addresses.
    static constexpr int64_t kDefaultByteLimit = 0x7FFF0000;
    static constexpr int64_t kTrimStep = 0x10000;

    explicit HexModel(int64_t byteLimit = kDefaultByteLimit) : m_byteLimit(byteLimit) {}

    void Configure(const HexViewConfig& config);
    void SetHost(HexViewHost* host) { m_host = host; }
    void SetFontMetrics(int charWidth, int charHeight);

    // Operations of the control.
    // With `show` false the scroll bar and the picture wait for CatchUp or
    // ScrollToEnd: a flood of small blocks then costs the window once a tick.
    void AppendBytes(const std::vector<uint8_t>& bytes, bool show = true);
    void ScrollToEnd();
    void CatchUp();
    void Clear();
    void ResetEditor();
    std::vector<uint8_t> GetContent() const;
    void SelectFound(int32_t index, int32_t length);
    // The selection as clipboard text; empty when there is none.
    std::wstring SelectionText() const;

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

    int HitTest(int x, int y, int32_t& index, int32_t& nibble) const;

    // Geometry.
    int LineHeight() const { return m_charHeight + 2; }
    int AddressWidth() const;
    int HexCellX(int column) const;
    int DividerX() const;
    int CharCellX(int column) const;
    int32_t Bpl() const { return m_bytesPerLine < 1 ? 1 : m_bytesPerLine; }
    int32_t Size() const { return int32_t(m_data.size()); }
    int32_t TotalRows() const;
    int32_t VisibleRows() const;
    int32_t LastTopRow() const;

    // Draws the visible rows into a client area of the given size.
    void Paint(HexRowPainter& painter, int clientWidth, int clientHeight) const;
    void DrawRow(HexRowPainter& painter, int32_t row, int y) const;
    std::wstring AddressText(int32_t row) const;

    // State, read by tests and the window.
    const ChunkedBytes& Data() const { return m_data; }
    bool ReadOnly() const { return m_readOnly; }
    int32_t TopLine() const { return m_topLine; }
    int32_t Caret() const { return m_caret; }
    int32_t CaretNibble() const { return m_caretNibble; }
    bool CaretInAscii() const { return m_caretInAscii; }
    bool HasFocus() const { return m_hasFocus; }
    int32_t ContentLength() const { return m_contentLength; }
    int32_t SelAnchor() const { return m_selAnchor; }
    int32_t SelEnd() const { return m_selEnd; }
    bool SelInAscii() const { return m_selInAscii; }
    bool Dragging() const { return m_dragging; }
    void SetTopLine(int32_t line) { m_topLine = line; }

private:
    void UpdateScrollInfo();
    void ClampTopLine();
    void SetCaret(int32_t index, bool inAscii, int32_t nibble);
    void InvalidateCaretRow();
    void Repaint();
    void DropSelection() { m_selAnchor = -1; }
    bool Selected(int32_t index) const;
    bool MoveCaretByKey(int key, bool shift);
    void Backspace();
    void TypeChar(wchar_t c);
    void TypeHexDigit(int value);
    void GrowForTyping(int32_t next);
    void TrimToLimit(size_t incoming);

    int32_t m_addressBytes = 2;
    int32_t m_bytesPerLine = 16;
    bool m_readOnly = true;
    ChunkedBytes m_data;
    int32_t m_charWidth = 8;
    int32_t m_charHeight = 14;
    int32_t m_topLine = 0;
    int32_t m_caret = 0;
    int32_t m_caretNibble = 0;
    bool m_caretInAscii = false;
    bool m_hasFocus = false;
    int32_t m_contentLength = 0;
    int32_t m_selAnchor = -1;
    int32_t m_selEnd = -1;
    bool m_selInAscii = false;
    bool m_dragging = false;

    HexViewHost* m_host = nullptr;
    int64_t m_byteLimit;
    bool m_behind = false; // bytes came that the scroll bar and picture do not show yet
};
