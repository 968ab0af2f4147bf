#include "hexview/HexModel.h"
#include "ui/JournalRows.h"

#include <gtest/gtest.h>

namespace {

struct FakeHost : HexViewHost {
    int height = 160; // ten rows of 16 pixels
    int repaints = 0;
    std::vector<std::pair<int, int>> bands;
    int scrollMax = -1, scrollPage = -1, scrollPos = -1;

    int ClientHeight() const override { return height; }
    void Repaint() override { ++repaints; }
    void RepaintBand(int y, int h) override { bands.emplace_back(y, h); }
    void SetScroll(int maximum, int page, int position) override
    {
        scrollMax = maximum;
        scrollPage = page;
        scrollPos = position;
    }
};

struct Cell {
    int x, y;
    wchar_t c;
    COLORREF text, background;
};

struct RecordingPainter : HexRowPainter {
    std::vector<Cell> chars;
    std::vector<RECT> fills;
    std::vector<COLORREF> fillColours;
    std::vector<std::wstring> texts;

    void Fill(int x, int y, int w, int h, COLORREF colour) override
    {
        fills.push_back(RECT{x, y, x + w, y + h});
        fillColours.push_back(colour);
    }
    void Char(int x, int y, wchar_t c, COLORREF text, COLORREF background) override
    {
        chars.push_back({x, y, c, text, background});
    }
    void Text(int, int, const std::wstring& text, COLORREF) override { texts.push_back(text); }

    const Cell* At(int x, int y) const
    {
        for (const Cell& c : chars)
            if (c.x == x && c.y == y)
                return &c;
        return nullptr;
    }
};

std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(uint8_t(v));
    return out;
}

class HexEditor : public testing::Test {
protected:
    void SetUp() override
    {
        model.Configure({0, 16, false});
        model.SetHost(&host);
        model.ResetEditor();
        model.OnFocus(true);
    }
    void Type(const wchar_t* text)
    {
        for (; *text; ++text)
            model.OnChar(*text);
    }
    FakeHost host;
    HexModel model;
};

class HexLogView : public testing::Test {
protected:
    void SetUp() override
    {
        model.Configure({2, 16, true});
        model.SetHost(&host);
    }
    FakeHost host;
    HexModel model;
};

} // namespace

TEST(HexGeometry, LogViewColumnsWithTwoByteAddresses)
{
    HexModel model;
    model.Configure({2, 16, true});
    EXPECT_EQ(model.AddressWidth(), 48);
    const int expected[16] = {48, 72, 96, 120, 144, 168, 192, 216, 248, 272, 296, 320, 344, 368, 392, 416};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(model.HexCellX(i), expected[i]) << i;
    EXPECT_EQ(model.DividerX(), 444);
    EXPECT_EQ(model.CharCellX(0), 448);
    EXPECT_EQ(model.CharCellX(15), 568); // the last character ends at 575
    EXPECT_EQ(model.LineHeight(), 16);
}

TEST(HexGeometry, EditorHasNoAddressColumn)
{
    HexModel model;
    model.Configure({0, 16, false});
    EXPECT_EQ(model.HexCellX(0), 0);
    EXPECT_EQ(model.HexCellX(8), 200);
    EXPECT_EQ(model.DividerX(), 396);
    model.Configure({1, 16, true});
    EXPECT_EQ(model.AddressWidth(), 32);
    model.Configure({4, 16, true});
    EXPECT_EQ(model.AddressWidth(), 80);
}

TEST_F(HexLogView, EmptyBufferHasOneRowAndZeroRange)
{
    model.Clear();
    EXPECT_EQ(model.TotalRows(), 1);
    EXPECT_EQ(host.scrollMax, 0);
    EXPECT_EQ(host.scrollPos, 0);
    RecordingPainter p;
    model.Paint(p, 600, 160);
    EXPECT_TRUE(p.chars.empty());
    ASSERT_EQ(p.fillColours.size(), 1u);
    EXPECT_EQ(p.fillColours[0], HexColours::Background);
}

TEST_F(HexLogView, SeventeenBytesMakeTwoRows)
{
    std::vector<uint8_t> bytes(17, 0x41);
    bytes[16] = 0x7F;
    model.AppendBytes(bytes);
    EXPECT_EQ(model.TotalRows(), 2);
    EXPECT_EQ(host.scrollMax, 1);
    EXPECT_EQ(host.scrollPage, 10);
    RecordingPainter p;
    model.DrawRow(p, 1, 16);
    EXPECT_EQ(p.chars.size(), 3u); // two hex digits and one character
    EXPECT_EQ(p.fills.back().left, 444);
    EXPECT_EQ(p.At(448, 16)->c, L'.'); // 0x7F is not printable
    EXPECT_EQ(p.texts, (std::vector<std::wstring>{L"0010  "}));
}

TEST_F(HexLogView, CharactersAndAddresses)
{
    model.AppendBytes(Bytes({0x20, 0x7E, 0x80, 0x00}));
    RecordingPainter p;
    model.DrawRow(p, 0, 0);
    EXPECT_EQ(p.At(448, 0)->c, L' ');
    EXPECT_EQ(p.At(456, 0)->c, L'~');
    EXPECT_EQ(p.At(464, 0)->c, L'.');
    EXPECT_EQ(p.At(472, 0)->c, L'.');
    EXPECT_EQ(model.AddressText(0), L"0000  ");
    EXPECT_EQ(model.AddressText(0xFFF), L"FFF0  ");
    EXPECT_EQ(model.AddressText(0x1000), L"0000  "); // wraps after FFF0
    model.Configure({4, 16, true});
    EXPECT_EQ(model.AddressText(0x1000), L"00010000  ");
}

TEST_F(HexLogView, NeverShowsACaret)
{
    model.AppendBytes(Bytes({1, 2, 3}));
    model.OnFocus(true);
    RecordingPainter p;
    model.DrawRow(p, 0, 0);
    for (const Cell& c : p.chars)
        EXPECT_EQ(c.background, HexColours::Background);
}

TEST_F(HexLogView, SelectionColoursFollowTheColumnItWasMadeIn)
{
    model.AppendBytes(Bytes({0x41, 0x42, 0x43}));
    model.OnLButtonDown(449, 1, false); // character column, byte 0
    model.OnMouseMove(465, 1, true);    // drag to byte 2
    EXPECT_EQ(model.SelAnchor(), 0);
    EXPECT_EQ(model.SelEnd(), 2);
    EXPECT_TRUE(model.SelInAscii());
    RecordingPainter p;
    model.DrawRow(p, 0, 0);
    EXPECT_EQ(p.At(448, 0)->background, HexColours::SelectionOwn);
    EXPECT_EQ(p.At(448, 0)->text, HexColours::Highlight);
    EXPECT_EQ(p.At(48, 0)->background, HexColours::SelectionOther);
    EXPECT_EQ(p.At(48, 0)->text, HexColours::Text);
    EXPECT_EQ(p.At(96, 0)->background, HexColours::SelectionOther);
    EXPECT_EQ(model.SelectionText(), L"ABC");

    model.OnLButtonDown(49, 1, false); // hex column, byte 0
    RecordingPainter q;
    model.DrawRow(q, 0, 0);
    EXPECT_EQ(q.At(48, 0)->background, HexColours::SelectionOwn);
    EXPECT_EQ(q.At(448, 0)->background, HexColours::SelectionOther);
    EXPECT_EQ(q.At(72, 0)->background, HexColours::Background);
}

TEST_F(HexLogView, CopyTexts)
{
    model.AppendBytes(Bytes({0x00, 0x0A, 0xFF}));
    model.OnLButtonDown(48, 0, false);
    model.OnLButtonDown(96, 0, true);
    EXPECT_EQ(model.SelectionText(), L"00 0A FF");
    model.Clear();
    model.AppendBytes(Bytes({0x41, 0x0A, 0x42}));
    model.OnLButtonDown(448, 0, false);
    model.OnLButtonDown(464, 0, true);
    EXPECT_EQ(model.SelectionText(), L"A.B");
    model.Clear();
    EXPECT_EQ(model.SelectionText(), L"");
}

TEST_F(HexLogView, HitTestingSkipsGapsAndTheDivider)
{
    model.AppendBytes(std::vector<uint8_t>(20, 0));
    int64_t index = -1;
    int32_t nibble = -1;
    EXPECT_EQ(model.HitTest(48, 0, index, nibble), HexModel::HitHex);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(nibble, 0);
    EXPECT_EQ(model.HitTest(63, 0, index, nibble), HexModel::HitHex);
    EXPECT_EQ(nibble, 1);
    EXPECT_EQ(model.HitTest(64, 0, index, nibble), HexModel::HitNothing); // space between cells
    EXPECT_EQ(model.HitTest(240, 0, index, nibble), HexModel::HitNothing); // middle gap
    EXPECT_EQ(model.HitTest(444, 0, index, nibble), HexModel::HitNothing); // divider
    EXPECT_EQ(model.HitTest(575, 0, index, nibble), HexModel::HitChar);
    EXPECT_EQ(index, 15);
    EXPECT_EQ(model.HitTest(456, 16, index, nibble), HexModel::HitChar);
    EXPECT_EQ(index, 17);
    EXPECT_EQ(model.HitTest(448 + 8 * 4, 16, index, nibble), HexModel::HitNothing); // past the data
    EXPECT_EQ(model.HitTest(48, 32, index, nibble), HexModel::HitNothing);          // past the rows
    EXPECT_EQ(model.HitTest(10, 0, index, nibble), HexModel::HitNothing);           // address
}

TEST_F(HexLogView, ScrollKeysWheelAndScrollBar)
{
    model.AppendBytes(std::vector<uint8_t>(16 * 40, 0)); // 40 rows, 10 visible: last top row 30
    EXPECT_EQ(model.LastTopRow(), 30);
    EXPECT_FALSE(model.OnKeyDown(VK_LEFT, false));
    EXPECT_FALSE(model.OnKeyDown(VK_RIGHT, false));
    model.OnKeyDown(VK_NEXT, false);
    EXPECT_EQ(model.TopLine(), 10);
    model.OnKeyDown(VK_END, false);
    EXPECT_EQ(model.TopLine(), 30);
    model.OnKeyDown(VK_DOWN, false);
    EXPECT_EQ(model.TopLine(), 30);
    model.OnKeyDown(VK_NEXT, false);
    EXPECT_EQ(model.TopLine(), 30);
    model.OnKeyDown(VK_PRIOR, false);
    EXPECT_EQ(model.TopLine(), 20);
    model.OnKeyDown(VK_HOME, false);
    model.OnKeyDown(VK_UP, false);
    EXPECT_EQ(model.TopLine(), 0);

    model.OnWheel(-120);
    EXPECT_EQ(model.TopLine(), 3);
    model.OnWheel(60);
    EXPECT_EQ(model.TopLine(), 3);
    model.OnWheel(-240 * 10);
    EXPECT_EQ(model.TopLine(), 30);
    model.OnWheel(120);
    EXPECT_EQ(model.TopLine(), 27);
    EXPECT_EQ(host.scrollPos, 27);

    model.OnVScroll(SB_TOP, 0);
    EXPECT_EQ(model.TopLine(), 0);
    model.OnVScroll(SB_LINEUP, 0);
    EXPECT_EQ(model.TopLine(), 0);
    model.OnVScroll(SB_PAGEDOWN, 0);
    EXPECT_EQ(model.TopLine(), 10);
    model.OnVScroll(SB_THUMBTRACK, 99);
    EXPECT_EQ(model.TopLine(), 30);
    model.OnVScroll(SB_THUMBPOSITION, 12);
    EXPECT_EQ(model.TopLine(), 12);
    model.OnVScroll(SB_ENDSCROLL, 0);
    EXPECT_EQ(model.TopLine(), 12);
}

TEST_F(HexLogView, ScrollToEndAndShrinkingWindow)
{
    model.AppendBytes(std::vector<uint8_t>(16 * 40, 0));
    model.ScrollToEnd();
    EXPECT_EQ(model.TopLine(), 30);
    host.height = 16 * 20;
    model.OnSize();
    EXPECT_EQ(model.TopLine(), 20);
    EXPECT_EQ(host.scrollPage, 20);
}

// A flood's blocks reach the window once a tick, not once each.
TEST_F(HexLogView, QuietAppendsWaitForTheCatchUp)
{
    const int repaints = host.repaints;
    for (int i = 0; i < 40; ++i)
        model.AppendBytes(std::vector<uint8_t>(16, 0), false);
    EXPECT_EQ(host.repaints, repaints);
    model.CatchUp();
    EXPECT_EQ(host.scrollMax, 39);
    EXPECT_EQ(host.repaints, repaints + 1);
    model.CatchUp(); // nothing new
    EXPECT_EQ(host.repaints, repaints + 1);
}

TEST_F(HexLogView, SelectFoundBringsTheMatchIntoView)
{
    model.AppendBytes(std::vector<uint8_t>(16 * 100, 0));
    model.SelectFound(16 * 50 + 3, 4);
    EXPECT_EQ(model.SelAnchor(), 803);
    EXPECT_EQ(model.SelEnd(), 806);
    EXPECT_TRUE(model.SelInAscii());
    EXPECT_EQ(model.TopLine(), 45);
    model.SelectFound(16 * 99 + 10, 50); // runs past the end
    EXPECT_EQ(model.SelEnd(), 1599);
    EXPECT_EQ(model.TopLine(), 90);
    model.SelectFound(16 * 92, 1); // already visible: no scrolling
    EXPECT_EQ(model.TopLine(), 90);
    EXPECT_EQ(model.Caret(), 0); // the read-only view has no caret to move
}

// Traffic: each block starts a row, sent blocks are drawn in the log's TX
// colour, and offsets, rows, hit tests and copies agree across blocks.
TEST_F(HexLogView, JournalBlocksStartRowsInTheirDirectionsColour)
{
    Journal journal(ChunkedBytes::kChunk, L"");
    JournalRows rows(journal, 16);
    const std::vector<uint8_t> request(20, 'Q'), reply{'O', 'K', '\n'};
    journal.Append(TrafficDirection::Received, 1, 1, 0, L"10.0.0.1:7", request.data(), request.size());
    journal.Mark(JournalEvent::ClientClosed, 2, 1, 0, L"10.0.0.1:7");
    journal.Append(TrafficDirection::Sent, 3, 1, 0, L"10.0.0.1:7", reply.data(), reply.size());
    journal.Append(TrafficDirection::Received, 4, 1, 0, L"10.0.0.1:7", request.data(), 1);
    rows.Update();
    model.ShowRows(&rows);
    model.CatchUp();
    EXPECT_EQ(model.TotalRows(), 4); // 16 + 4, 3, 1
    EXPECT_EQ(host.scrollMax, 3);
    EXPECT_EQ(rows.RowOf(19), 1u);
    EXPECT_EQ(rows.RowOf(20), 2u);
    EXPECT_EQ(rows.RowOf(23), 3u);

    RecordingPainter p;
    model.Paint(p, 600, 160);
    EXPECT_EQ(p.texts, (std::vector<std::wstring>{L"0000  ", L"0010  ", L"0014  ", L"0017  "}));
    EXPECT_EQ(p.At(48, 16)->c, L'5'); // "Q" is 0x51
    EXPECT_EQ(p.At(48 + 24 * 4, 16), nullptr); // the request's second row has four bytes
    EXPECT_EQ(p.At(48, 16)->text, HexColours::Text);
    EXPECT_EQ(p.At(48, 32)->text, HexColours::Sent);
    EXPECT_EQ(p.At(448, 32)->c, L'O');
    EXPECT_EQ(p.At(448, 48)->text, HexColours::Text);

    int64_t index = -1;
    int32_t nibble = -1;
    EXPECT_EQ(model.HitTest(449, 33, index, nibble), HexModel::HitChar);
    EXPECT_EQ(index, 20);
    model.OnLButtonDown(448 + 8 * 2, 16, false); // the request's 19th byte
    model.OnMouseMove(449, 33, true);            // to the reply's first
    EXPECT_EQ(model.SelectionText(), L"QQO");
    EXPECT_EQ(model.Pointed(), 20);
    model.OnMouseMove(449, 33 + 16 * 5, false); // below the rows
    EXPECT_EQ(model.Pointed(), -1);

    const std::wstring said = DescribeJournalByte(journal, 21);
    EXPECT_EQ(said.substr(0, 3), L"TX ");
    EXPECT_NE(said.find(L" to 10.0.0.1:7, byte 2 of 3"), std::wstring::npos) << said;
    EXPECT_NE(DescribeJournalByte(journal, 0).find(L" from 10.0.0.1:7, byte 1 of 20"), std::wstring::npos);

    journal.Clear();
    rows.Update();
    model.Clear();
    EXPECT_EQ(model.TotalRows(), 1);
    EXPECT_EQ(rows.ByteCount(), 0u);
}

namespace {

// Bytes enough for more rows than a scroll bar counts: 2^36, byte i = i.
struct HugeRows : HexRows {
    static constexpr uint64_t kBytes = uint64_t(1) << 36;
    uint64_t ByteCount() const override { return kBytes; }
    uint64_t RowCount() const override { return kBytes / 16; }
    Row At(uint64_t row) const override { return Row{row * 16, 16, false}; }
    uint64_t RowOf(uint64_t offset) const override { return offset / 16; }
    size_t Read(uint64_t from, uint8_t* out, size_t count) const override
    {
        for (size_t i = 0; i < count; ++i)
            out[i] = uint8_t(from + i);
        return count;
    }
};

} // namespace

TEST_F(HexLogView, OffsetsAreSixtyFourBitAndTheScrollBarScales)
{
    HugeRows huge;
    model.ShowRows(&huge);
    model.ScrollToEnd();
    EXPECT_EQ(model.TopLine(), int64_t(HugeRows::kBytes / 16) - 10);
    EXPECT_GT(host.scrollMax, 0x20000000); // in range, and its thumb still at the end
    EXPECT_EQ(host.scrollPos, host.scrollMax - host.scrollPage + 1);
    model.OnVScroll(SB_THUMBTRACK, host.scrollMax / 2);
    EXPECT_NEAR(double(model.TopLine()), double(HugeRows::kBytes / 32), 16.0);

    const int64_t found = int64_t(HugeRows::kBytes) - 256 + 'A';
    model.SelectFound(found, 2);
    EXPECT_EQ(model.SelAnchor(), found);
    EXPECT_EQ(model.TopLine(), int64_t(HugeRows::kBytes / 16) - 17); // its row in the middle
    int64_t index = -1;
    int32_t nibble = -1;
    ASSERT_EQ(model.HitTest(model.HexCellX(1), 16 * 5, index, nibble), HexModel::HitHex);
    EXPECT_EQ(index, found);
    EXPECT_EQ(model.SelectionText(), L"AB");
    EXPECT_EQ(model.AddressText(model.TopLine()), L"FEF0  ");
}

TEST_F(HexEditor, StartsWithOneEmptyCell)
{
    EXPECT_EQ(model.Data(), Bytes({0}));
    EXPECT_TRUE(model.GetContent().empty());
    // The cell to type into is empty, not a "00" that looks like a byte.
    RecordingPainter p;
    model.DrawRow(p, 0, 0);
    EXPECT_EQ(p.At(0, 0)->c, L' ');
    EXPECT_EQ(p.At(0, 0)->background, HexColours::CaretFill);
    EXPECT_EQ(p.At(model.CharCellX(0), 0)->c, L' ');
    // A first digit typed into it shows; the byte counts once it is whole.
    Type(L"417");
    RecordingPainter typed;
    model.DrawRow(typed, 0, 0);
    EXPECT_EQ(typed.At(model.HexCellX(1), 0)->c, L'7');
    EXPECT_EQ(typed.At(model.HexCellX(1) + (model.HexCellX(1) - model.HexCellX(0)) / 3, 0)->c, L' ');
    EXPECT_EQ(typed.At(model.CharCellX(0), 0)->c, L'A');
    EXPECT_EQ(typed.At(model.CharCellX(1), 0)->c, L' ');
}

TEST_F(HexEditor, TypingHexDigits)
{
    Type(L"41");
    EXPECT_EQ(model.Data(), Bytes({0x41, 0x00}));
    EXPECT_EQ(model.ContentLength(), 1);
    EXPECT_EQ(model.Caret(), 1);
    EXPECT_EQ(model.CaretNibble(), 0);
    Type(L"7");
    EXPECT_EQ(model.Data(), Bytes({0x41, 0x70}));
    EXPECT_EQ(model.ContentLength(), 1);
    EXPECT_EQ(model.GetContent(), Bytes({0x41}));
    Type(L"f");
    EXPECT_EQ(model.GetContent(), Bytes({0x41, 0x7F}));
    EXPECT_EQ(model.OnChar(L'g'), HexModel::CharResult::Default);
    EXPECT_EQ(model.OnChar(3), HexModel::CharResult::Copy);
}

TEST_F(HexEditor, TabThenCharacters)
{
    model.OnKeyDown(VK_TAB, false);
    EXPECT_TRUE(model.CaretInAscii());
    Type(L"AB");
    EXPECT_EQ(model.Data(), Bytes({0x41, 0x42, 0x00}));
    EXPECT_EQ(model.ContentLength(), 2);
    EXPECT_EQ(model.OnChar(L'\x7F'), HexModel::CharResult::Handled); // ignored, not passed on
    EXPECT_EQ(model.Data().size(), 3u);
}

TEST_F(HexEditor, BackspaceCutsTheContent)
{
    Type(L"112233");
    ASSERT_EQ(model.Data(), Bytes({0x11, 0x22, 0x33, 0x00}));
    ASSERT_EQ(model.ContentLength(), 3);
    model.OnKeyDown(VK_LEFT, false); // byte 2, low digit
    model.OnKeyDown(VK_LEFT, false); // byte 2, high digit
    ASSERT_EQ(model.Caret(), 2);
    ASSERT_EQ(model.CaretNibble(), 0);
    model.OnKeyDown(VK_BACK, false);
    EXPECT_EQ(model.Data(), Bytes({0x11, 0x20, 0x33, 0x00}));
    EXPECT_EQ(model.ContentLength(), 1);
    EXPECT_EQ(model.Caret(), 1);
    EXPECT_EQ(model.CaretNibble(), 1);
    model.OnKeyDown(VK_BACK, false); // low digit: clears the high digit of the same byte
    EXPECT_EQ(model.Data()[1], 0x00);
    EXPECT_EQ(model.CaretNibble(), 0);
    EXPECT_EQ(model.ContentLength(), 1);

    model.OnKeyDown(VK_HOME, false);
    model.OnKeyDown(VK_BACK, false); // at byte 0 nothing happens
    EXPECT_EQ(model.Data()[0], 0x11);
}

TEST_F(HexEditor, BackspaceInTheCharacterColumn)
{
    model.OnKeyDown(VK_TAB, false);
    Type(L"xyz");
    model.OnKeyDown(VK_BACK, false);
    EXPECT_EQ(model.Data(), Bytes({'x', 'y', 0, 0}));
    EXPECT_EQ(model.ContentLength(), 2);
    EXPECT_EQ(model.Caret(), 2);
}

TEST_F(HexEditor, DeleteZeroesInPlace)
{
    Type(L"112233");
    model.OnKeyDown(VK_HOME, false);
    model.OnKeyDown(VK_RIGHT, false);
    model.OnKeyDown(VK_RIGHT, false);
    ASSERT_EQ(model.Caret(), 1);
    model.OnKeyDown(VK_DELETE, false);
    EXPECT_EQ(model.Data(), Bytes({0x11, 0x00, 0x33, 0x00}));
    EXPECT_EQ(model.ContentLength(), 3);
}

TEST_F(HexEditor, UpAndDownClampToTheEnds)
{
    for (int i = 0; i < 40; ++i)
        Type(L"00"); // 41 bytes: three rows
    model.OnKeyDown(VK_HOME, false);
    for (int i = 0; i < 5; ++i)
        model.OnKeyDown(VK_RIGHT, false), model.OnKeyDown(VK_RIGHT, false);
    ASSERT_EQ(model.Caret(), 5);
    model.OnKeyDown(VK_UP, false);
    EXPECT_EQ(model.Caret(), 0);
    model.OnKeyDown(VK_DOWN, false);
    model.OnKeyDown(VK_DOWN, false);
    EXPECT_EQ(model.Caret(), 32);
    model.OnKeyDown(VK_DOWN, false);
    EXPECT_EQ(model.Caret(), 40);
    model.OnKeyDown(VK_PRIOR, false);
    EXPECT_EQ(model.Caret(), 0);
    model.OnKeyDown(VK_END, false);
    EXPECT_EQ(model.Caret(), 40);
}

TEST_F(HexEditor, ShiftMovesExtendTheSelectionAndPlainMovesDropIt)
{
    Type(L"000102");
    model.OnKeyDown(VK_HOME, false);
    model.OnKeyDown(VK_RIGHT, true);
    EXPECT_EQ(model.SelAnchor(), 0);
    EXPECT_EQ(model.SelEnd(), 1);
    model.OnKeyDown(VK_RIGHT, true);
    EXPECT_EQ(model.SelEnd(), 2);
    EXPECT_EQ(model.SelectionText(), L"00 01 02");
    model.OnKeyDown(VK_RIGHT, false); // high to low digit: the selection stays
    EXPECT_EQ(model.SelAnchor(), 0);
    model.OnKeyDown(VK_LEFT, false);
    model.OnKeyDown(VK_LEFT, false); // a byte move drops it
    EXPECT_EQ(model.SelAnchor(), -1);
}

TEST_F(HexEditor, ShiftClickSelectsFromTheCaret)
{
    Type(L"0001020304");
    model.OnKeyDown(VK_HOME, false);
    model.OnKeyDown(VK_RIGHT, false);
    model.OnKeyDown(VK_RIGHT, false); // caret on byte 1
    model.OnLButtonDown(3 * 8 * 4, 0, true); // byte 4
    EXPECT_EQ(model.SelAnchor(), 1);
    EXPECT_EQ(model.SelEnd(), 4);
    EXPECT_EQ(model.Caret(), 4);
    model.OnLButtonDown(3 * 8 * 2 + 9, 0, false); // plain click: low digit of byte 2
    EXPECT_EQ(model.SelAnchor(), 2);
    EXPECT_EQ(model.SelEnd(), 2);
    EXPECT_EQ(model.CaretNibble(), 1);
    EXPECT_TRUE(model.Dragging());
    EXPECT_TRUE(model.OnLButtonUp());
    EXPECT_FALSE(model.OnLButtonUp());
}

TEST_F(HexEditor, CaretIsDrawnOnlyWhileFocused)
{
    Type(L"4");
    RecordingPainter focused;
    model.DrawRow(focused, 0, 0);
    EXPECT_EQ(focused.At(8, 0)->background, HexColours::CaretFill);  // low digit under the caret
    EXPECT_EQ(focused.At(0, 0)->background, HexColours::Background);
    EXPECT_EQ(focused.At(400, 0)->background, HexColours::CaretMirror); // mirrored in the characters
    model.OnFocus(false);
    RecordingPainter unfocused;
    model.DrawRow(unfocused, 0, 0);
    for (const Cell& c : unfocused.chars)
        EXPECT_EQ(c.background, HexColours::Background);
}

TEST_F(HexEditor, ResetAfterTypingEmptiesTheContent)
{
    Type(L"abcd");
    model.ResetEditor();
    EXPECT_TRUE(model.GetContent().empty());
    EXPECT_EQ(model.Data(), Bytes({0}));
    EXPECT_EQ(model.Caret(), 0);
    EXPECT_FALSE(model.CaretInAscii());
}

TEST_F(HexEditor, CaretMovesScrollTheView)
{
    host.height = 32; // two rows
    for (int i = 0; i < 64; ++i)
        Type(L"00");
    EXPECT_EQ(model.Caret(), 64);
    EXPECT_EQ(model.TopLine(), 3); // row 4 is the last visible one
    model.OnKeyDown(VK_HOME, false);
    EXPECT_EQ(model.TopLine(), 0);
}
