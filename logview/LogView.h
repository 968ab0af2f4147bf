#pragma once

#include "framework/ChildWindow.h"
#include "logview/LogModel.h"

#include <string>

namespace LogColours {
constexpr COLORREF Background = RGB(0, 0, 0);
constexpr COLORREF Received = RGB(120, 255, 120);
constexpr COLORREF Sent = RGB(110, 190, 255);
constexpr COLORREF Error = RGB(255, 110, 110);
constexpr COLORREF System = RGB(210, 210, 210);
constexpr COLORREF Mark = RGB(150, 150, 150); // the boxes of control characters and raw bytes
constexpr COLORREF SelectionText = RGB(255, 255, 255);
constexpr COLORREF SelectionFill = RGB(40, 80, 160);
} // namespace LogColours

COLORREF LogColourOf(TransportEventKind kind);

// Read as text, the log keeps its characters but for NUL, which would end
// the text: each is one visible placeholder.
constexpr wchar_t kNulPlaceholder = 0x2400; // SYMBOL FOR NULL

// The log control: paints only the lines and columns in view, turns mouse,
// keys and scroll bars into model calls, and catches up with new lines once
// per refresh. The window owns this object.
class CLogView : public ChildWindow {
public:
    static constexpr const wchar_t* kClassName = L"FerrolinkLogView";
    // Before a dialog template that names the class is used.
    static bool RegisterWindowClass();
    // Null when the window cannot be created.
    static CLogView* Create(HWND parent, const RECT& rect, int id);

    CLogView(HWND wnd, const CREATESTRUCTW& create);
    ~CLogView() override;

    LogModel& Model() { return m_model; }
    const LogModel& Model() const { return m_model; }
    const LogShowOptions& Options() const { return m_options; }
    void SetOptions(const LogShowOptions& options);

    // Brings the scroll bars and the picture up to date with the model; with
    // `followEnd` the last line comes into view, and stays there through
    // resizes and font changes until a refresh says otherwise. Cheap when
    // nothing changed.
    void Refresh(bool followEnd);
    void CopySelection() const;
    void SelectAll();
    // Selects and shows the next match; false when there is none.
    bool FindNext(const std::wstring& what);

    // How often the scroll bars were drawn again, for the tests and the bench.
    uint64_t FrameDraws() const { return m_frameDraws; }

    struct ThumbLook {
        bool known = false;
        int top = 0, bottom = 0;
        DWORD state = 0;
        friend bool operator==(const ThumbLook&, const ThumbLook&) = default;
    };

    int Rows() const;
    int Columns() const;
    LogGeometry Geometry() const;

protected:
    LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    void SetFont(HFONT font);
    void Paint(HDC dc) override;
    void PaintLine(HDC dc, uint64_t line, int y, int width);
    // A mark's box at x; the width it took.
    int PaintMark(HDC dc, wchar_t c, bool rawBytes, int x, int y, bool selected);
    void UpdateScrollBars();
    // After the caret moved: the view follows it and is painted again.
    void CaretMoved();
    // Following the end, the last line stays at the bottom whatever the size.
    void KeepEndInView();
    void OnScroll(int bar, int request);
    // Scrolls, keeping the last line at the bottom at most and no column
    // past the longest line in view.
    void ScrollTo(int64_t top, int64_t left);
    bool OnKey(int key);
    std::wstring TextForReaders() const;
    LRESULT GetText(size_t room, wchar_t* buffer) const;

    LogModel m_model;
    LogShowOptions m_options;
    HFONT m_font = nullptr; // the dialog's, not owned
    HFONT m_markFont = nullptr;
    int m_lineHeight = 16;
    int m_charWidth = 8;
    bool m_dragging = false;
    bool m_followEnd = false;
    bool m_focused = false;
    int m_wheelRest = 0;
    // What the last refresh saw, to tell whether anything changed since.
    uint64_t m_seenFirst = 0;
    uint64_t m_seenEnd = 0;
    struct BarLook {
        ThumbLook vertical, horizontal;
        friend bool operator==(const BarLook&, const BarLook&) = default;
    };
    BarLook m_barsDrawn; // as the bars were last drawn
    uint64_t m_frameDraws = 0;
};
