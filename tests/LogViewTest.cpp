#include "logview/LogView.h"
#include "tests/EventWindow.h"

#include <gtest/gtest.h>

#include <windowsx.h>

namespace {

class LogViewWindow : public testing::Test {
protected:
    void SetUp() override
    {
        parent = CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 640, 400, nullptr, nullptr, nullptr, nullptr);
        view = CLogView::Create(parent, RECT{0, 0, 600, 320}, 1007);
        ASSERT_NE(view, nullptr);
    }
    void TearDown() override { DestroyWindow(parent); }

    void Add(const std::wstring& text)
    {
        LogRecord r;
        r.kind = TransportEventKind::Received;
        r.stamped = false;
        r.text = text;
        view->Model().Append(r);
    }
    void Paint()
    {
        const HDC dc = GetDC(view->Handle());
        SendMessageW(view->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
        ReleaseDC(view->Handle(), dc);
    }
    LPARAM At(int column, int row) const
    {
        const LogGeometry g = view->Geometry();
        return MAKELPARAM(column * g.charWidth + 1, row * g.lineHeight + 1);
    }

    HWND parent = nullptr;
    CLogView* view = nullptr;
};

} // namespace

TEST_F(LogViewWindow, PaintsEveryByteValueAndLongLinesWithoutFault)
{
    std::wstring all;
    for (int c = 0; c < 0x10000; c += 7)
        all += wchar_t(c);
    Add(all);
    Add(std::wstring(65536, L'\x0627')); // a right-to-left script, unshaped
    for (int i = 0; i < 1000; ++i) {
        const std::vector<uint8_t> bytes = PatternBytes(200, uint32_t(i));
        Add(std::wstring(bytes.begin(), bytes.end()));
    }
    view->Refresh(true);
    Paint();
    view->Model().SetLeftColumn(30000);
    Paint();
    EXPECT_EQ(view->Model().TopLine(), view->Model().EndLine() - uint64_t(view->Rows()));
}

TEST_F(LogViewWindow, MouseSelectsAndTheTextReadsAsTheLog)
{
    Add(L"first line");
    Add(L"second line");
    view->Refresh(false);
    SendMessageW(view->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, At(4, 0));
    SendMessageW(view->Handle(), WM_MOUSEMOVE, MK_LBUTTON, At(10, 1));
    SendMessageW(view->Handle(), WM_LBUTTONUP, 0, At(10, 1));
    EXPECT_EQ(view->Model().SelectedText(view->Options()), L"first line\r\nRX  second");
    SendMessageW(view->Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, At(12, 1));
    EXPECT_EQ(view->Model().SelectedText(view->Options()), L"line");

    const std::wstring expected = L"RX  first line\r\nRX  second line\r\n";
    EXPECT_EQ(SendMessageW(view->Handle(), WM_GETTEXTLENGTH, 0, 0), LRESULT(expected.size()));
    wchar_t buffer[64] = {};
    EXPECT_EQ(SendMessageW(view->Handle(), WM_GETTEXT, 64, reinterpret_cast<LPARAM>(buffer)), LRESULT(expected.size()));
    EXPECT_EQ(std::wstring(buffer), expected);
    EXPECT_EQ(SendMessageW(view->Handle(), WM_GETTEXT, 5, reinterpret_cast<LPARAM>(buffer)), 4); // cut to the room
    EXPECT_STREQ(buffer, L"RX  ");
}

TEST_F(LogViewWindow, NewLinesMoveTheViewOnlyWhenFollowingTheEnd)
{
    for (int i = 0; i < 200; ++i)
        Add(L"line " + std::to_wstring(i));
    view->Refresh(false);
    SendMessageW(view->Handle(), WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), 0);
    view->Model().SetTopLine(20);
    view->Model().SetCaret(LogPosition{25, 2}, false);
    for (int i = 200; i < 300; ++i)
        Add(L"line " + std::to_wstring(i));
    view->Refresh(false);
    EXPECT_EQ(view->Model().TopLine(), 20u);
    EXPECT_EQ(view->Model().Caret(), (LogPosition{25, 2}));
    view->Refresh(true);
    EXPECT_EQ(view->Model().TopLine(), 300u - uint64_t(view->Rows()));
    EXPECT_EQ(view->Model().Caret(), (LogPosition{25, 2})); // the view follows, the caret stays

    // Following, the newest line stays in view however the view is resized;
    // not following, the top line stays.
    for (const int height : {100, 40, 320}) {
        MoveWindow(view->Handle(), 0, 0, 600, height, TRUE);
        EXPECT_EQ(view->Model().TopLine() + uint64_t(view->Rows()), 300u) << height;
    }
    view->Refresh(false);
    const uint64_t top = view->Model().TopLine();
    MoveWindow(view->Handle(), 0, 0, 600, 100, TRUE);
    EXPECT_EQ(view->Model().TopLine(), top);
}

TEST_F(LogViewWindow, OnlyTheSelectedCellsArePaintedSelected)
{
    for (int i = 0; i < 5; ++i)
        Add(L"line number " + std::to_wstring(i));
    view->Refresh(false);
    view->Model().SetCaret(LogPosition{2, 4}, false);
    view->Model().SetCaret(LogPosition{3, 8}, true);
    const LogGeometry g = view->Geometry();
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, 600, 320);
    const HGDIOBJ previous = SelectObject(dc, bitmap);
    SendMessageW(view->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    // The top-left pixel of a cell is its background.
    const auto cell = [&](int column, int row) { return GetPixel(dc, column * g.charWidth, row * g.lineHeight); };
    EXPECT_EQ(cell(5, 1), LogColours::Background); // above the selection
    EXPECT_EQ(cell(3, 2), LogColours::Background); // before its start
    EXPECT_EQ(cell(5, 2), LogColours::SelectionFill);
    EXPECT_EQ(cell(1, 3), LogColours::SelectionFill);
    EXPECT_EQ(cell(9, 3), LogColours::Background); // after its end
    EXPECT_EQ(cell(5, 4), LogColours::Background);
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

TEST_F(LogViewWindow, ScrollingStopsWithTheLastLineAtTheBottom)
{
    for (int i = 0; i < 200; ++i)
        Add(L"line " + std::to_wstring(i));
    view->Refresh(false);
    const uint64_t lastTop = 200u - uint64_t(view->Rows());
    SendMessageW(view->Handle(), WM_VSCROLL, MAKEWPARAM(SB_BOTTOM, 0), 0);
    EXPECT_EQ(view->Model().TopLine(), lastTop);
    SendMessageW(view->Handle(), WM_VSCROLL, MAKEWPARAM(SB_LINEDOWN, 0), 0);
    SendMessageW(view->Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-WHEEL_DELTA)), 0);
    EXPECT_EQ(view->Model().TopLine(), lastTop);
    for (int i = 0; i < 3; ++i) // a fine wheel: a third of a notch is one line
        SendMessageW(view->Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(WHEEL_DELTA / 3)), 0);
    EXPECT_EQ(view->Model().TopLine(), lastTop - 3);
    SendMessageW(view->Handle(), WM_VSCROLL, MAKEWPARAM(SB_TOP, 0), 0);
    EXPECT_EQ(view->Model().TopLine(), 0u);
}

// However much the log holds and however long its lines, a tick and a paint
// make only the cells in view: nothing that grows with the log can freeze it.
TEST_F(LogViewWindow, ATickAndAPaintMakeOnlyTheCellsInView)
{
    for (int i = 0; i < 100000; ++i)
        Add(L"line " + std::to_wstring(i));
    Add(std::wstring(1 << 20, L'x'));
    for (int i = 0; i < view->Rows(); ++i)
        Add(std::wstring(70000, L'y'));
    const uint64_t before = view->Model().TextMade();
    view->Refresh(true);
    Paint();
    view->Model().SetLeftColumn(60000);
    Paint();
    const uint64_t cells = uint64_t(view->Rows() + 1) * uint64_t(view->Columns() + 1);
    EXPECT_LE(view->Model().TextMade() - before, 2 * cells);
}

// Drawing the scroll bars costs more than the text: under a flood at the
// line bound the thumb stays put, and so must the bars.
TEST_F(LogViewWindow, ScrollBarsAreDrawnAgainOnlyWhenTheyChange)
{
    LogModel::Limits limits;
    limits.lines = 1000;
    view->Model().SetLimits(limits);
    for (int i = 0; i < 1000; ++i)
        Add(L"line " + std::to_wstring(i));
    view->Refresh(true);
    const uint64_t drawn = view->FrameDraws();
    for (int i = 0; i < 200; ++i) {
        Add(L"more " + std::to_wstring(i));
        view->Refresh(true);
    }
    EXPECT_EQ(view->FrameDraws(), drawn);
    const auto thumbTop = [&] {
        SCROLLBARINFO bar{};
        bar.cbSize = sizeof(bar);
        GetScrollBarInfo(view->Handle(), OBJID_VSCROLL, &bar);
        return bar.xyThumbTop;
    };
    const int bottom = thumbTop();
    SendMessageW(view->Handle(), WM_VSCROLL, MAKEWPARAM(SB_TOP, 0), 0);
    EXPECT_EQ(view->FrameDraws(), drawn + 1);
    EXPECT_LT(thumbTop(), bottom);
}
