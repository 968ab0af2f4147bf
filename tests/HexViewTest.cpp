#include "hexview/HexView.h"

#include <gtest/gtest.h>

namespace {

// Both configurations in a hidden top-level window, driven by messages.
class HexViewWindow : public testing::Test {
protected:
    void SetUp() override
    {
        parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 800, 400, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(parent, nullptr);
        log = CHexView::Create(parent, RECT{0, 0, 620, 200}, 1051, HexViewConfig{2, 16, true});
        editor = CHexView::Create(parent, RECT{0, 200, 620, 300}, 1052, HexViewConfig{0, 16, false});
        ASSERT_NE(log, nullptr);
        ASSERT_NE(editor, nullptr);
        editor->ResetEditor();
    }
    void TearDown() override { DestroyWindow(parent); }

    LRESULT Send(CHexView* view, UINT msg, WPARAM wp = 0, LPARAM lp = 0)
    {
        return SendMessageW(view->Handle(), msg, wp, lp);
    }
    SCROLLINFO Scroll(CHexView* view)
    {
        SCROLLINFO si{};
        si.cbSize = sizeof(si);
        si.fMask = SIF_ALL;
        GetScrollInfo(view->Handle(), SB_VERT, &si);
        return si;
    }
    // Renders the view into a memory bitmap and reads one pixel.
    COLORREF PixelAt(CHexView* view, int x, int y)
    {
        RECT client{};
        GetClientRect(view->Handle(), &client);
        const HDC screen = GetDC(nullptr);
        const HDC dc = CreateCompatibleDC(screen);
        const HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
        const HGDIOBJ old = SelectObject(dc, bitmap);
        SendMessageW(view->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
        const COLORREF pixel = GetPixel(dc, x, y);
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
        ReleaseDC(nullptr, screen);
        return pixel;
    }

    HWND parent = nullptr;
    CHexView* log = nullptr;
    CHexView* editor = nullptr;
};

} // namespace

TEST_F(HexViewWindow, FontMetricsComeFromTheFixedPitchFont)
{
    EXPECT_GT(log->Model().LineHeight(), 10);
    EXPECT_EQ(log->Model().HexCellX(1) - log->Model().HexCellX(0), 3 * (log->Model().CharCellX(1) - log->Model().CharCellX(0)));
    // At 150 % and 200 % the font grows and the columns stay aligned.
    const int height = log->Model().LineHeight();
    for (const int dpi : {144, 192}) {
        log->SetDpi(dpi);
        const HexModel& m = log->Model();
        EXPECT_NEAR(m.LineHeight(), height * dpi / 96, 2) << dpi;
        const int cell = m.CharCellX(1) - m.CharCellX(0);
        for (int column = 1; column < 16; ++column) {
            const int gap = column >= 8 ? cell : 0; // between the two halves of a row
            EXPECT_EQ(m.HexCellX(column) - m.HexCellX(0), 3 * cell * column + gap) << dpi;
            EXPECT_EQ(m.CharCellX(column) - m.CharCellX(0), cell * column) << dpi;
        }
    }
    log->SetDpi(96);
    EXPECT_EQ(Send(editor, WM_GETDLGCODE), LRESULT(DLGC_WANTALLKEYS));
    EXPECT_NE(Send(log, WM_GETDLGCODE) & DLGC_WANTCHARS, 0);
}

TEST_F(HexViewWindow, ScrollBarFollowsTheData)
{
    SCROLLINFO si = Scroll(log);
    EXPECT_EQ(si.nMin, 0);
    EXPECT_EQ(si.nMax, 0);
    log->AppendBytes(std::vector<uint8_t>(16 * 50, 0xAB));
    si = Scroll(log);
    EXPECT_EQ(si.nMax, 49);
    EXPECT_EQ(int(si.nPage), log->Model().VisibleRows());
    log->ScrollToEnd();
    EXPECT_EQ(Scroll(log).nPos, 50 - log->Model().VisibleRows());

    Send(log, WM_VSCROLL, SB_TOP);
    EXPECT_EQ(Scroll(log).nPos, 0);
    Send(log, WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-120)));
    EXPECT_EQ(log->Model().TopLine(), 3);
    EXPECT_EQ(Scroll(log).nPos, 3);
    Send(log, WM_KEYDOWN, VK_END);
    EXPECT_EQ(log->Model().TopLine(), log->Model().LastTopRow());
}

TEST_F(HexViewWindow, EditorTakesTypedDigitsAndCharacters)
{
    SetFocus(editor->Handle());
    Send(editor, WM_CHAR, L'4');
    Send(editor, WM_CHAR, L'1');
    Send(editor, WM_KEYDOWN, VK_TAB);
    Send(editor, WM_CHAR, L'Z');
    EXPECT_EQ(editor->GetContent(), (std::vector<uint8_t>{0x41, 'Z'}));
    Send(editor, WM_CHAR, L'x'); // not a digit in the hex column, but this caret is in the characters
    EXPECT_EQ(editor->GetContent().size(), 3u);
    Send(log, WM_CHAR, L'5'); // the log view ignores typing
    EXPECT_TRUE(log->Model().Data().empty());
}

TEST_F(HexViewWindow, ClickSelectsAndTakesTheFocus)
{
    log->AppendBytes({0x00, 0x0A, 0xFF});
    const HexModel& m = log->Model();
    const int y = 1;
    Send(log, WM_LBUTTONDOWN, 0, MAKELPARAM(m.HexCellX(0), y));
    EXPECT_EQ(GetFocus(), log->Handle());
    Send(log, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(m.HexCellX(2), y));
    Send(log, WM_LBUTTONUP, 0, MAKELPARAM(m.HexCellX(2), y));
    EXPECT_EQ(m.SelAnchor(), 0);
    EXPECT_EQ(m.SelEnd(), 2);
    EXPECT_FALSE(m.Dragging());
    EXPECT_EQ(GetCapture(), nullptr);

    Send(log, WM_CHAR, 3); // Ctrl+C
    if (OpenClipboard(parent)) {
        const HANDLE data = GetClipboardData(CF_UNICODETEXT);
        const auto* text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
        EXPECT_STREQ(text ? text : L"(none)", L"00 0A FF");
        if (text)
            GlobalUnlock(data);
        CloseClipboard();
    }
}

TEST_F(HexViewWindow, PaintsTheColourTable)
{
    const HexModel& m = editor->Model();
    SetFocus(editor->Handle());
    Send(editor, WM_CHAR, L'4'); // caret now on the low digit of byte 0
    const int mid = m.LineHeight() / 2;
    const int bottom = m.LineHeight() - 1; // fills are a line tall, glyphs are not
    const int w = m.HexCellX(1) / 3;        // character width
    EXPECT_EQ(PixelAt(editor, m.HexCellX(0) + w + 1, bottom), HexColours::CaretFill);
    EXPECT_EQ(PixelAt(editor, m.DividerX(), mid), HexColours::Divider);
    EXPECT_EQ(PixelAt(editor, m.CharCellX(0) + 1, bottom), HexColours::CaretMirror);
    EXPECT_EQ(PixelAt(editor, m.CharCellX(5), mid), HexColours::Background);

    log->AppendBytes({0x41, 0x42});
    Send(log, WM_LBUTTONDOWN, 0, MAKELPARAM(log->Model().CharCellX(1), 1));
    Send(log, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(PixelAt(log, log->Model().CharCellX(1) + 1, bottom), HexColours::SelectionOwn);
    EXPECT_EQ(PixelAt(log, log->Model().HexCellX(1) + 1, bottom), HexColours::SelectionOther);
    EXPECT_EQ(PixelAt(log, log->Model().HexCellX(0) + 1, bottom), HexColours::Background);
}

TEST_F(HexViewWindow, InvalidatesOnlyWhatCanBeSeenAndAgainAfterEachPaint)
{
    const std::vector<uint8_t> block(8192, 0x41); // more rows than fit: the scroll bar stays
    RECT update{};
    log->AppendBytes(block);
    log->ScrollToEnd();
    EXPECT_FALSE(GetUpdateRect(log->Handle(), &update, FALSE)) << "hidden: painted in full when shown";

    ShowWindow(parent, SW_SHOWNA);
    UpdateWindow(log->Handle());
    EXPECT_FALSE(GetUpdateRect(log->Handle(), &update, FALSE));
    for (int round = 0; round < 2; ++round) {
        log->AppendBytes(block);
        log->ScrollToEnd();
        RECT client{};
        GetClientRect(log->Handle(), &client);
        ASSERT_TRUE(GetUpdateRect(log->Handle(), &update, FALSE)) << "round " << round;
        EXPECT_TRUE(EqualRect(&update, &client));
        UpdateWindow(log->Handle()); // the paint that the next append must not take for granted
        EXPECT_FALSE(GetUpdateRect(log->Handle(), &update, FALSE));
    }
    ShowWindow(parent, SW_HIDE);
}
