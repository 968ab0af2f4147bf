#include "logview/LogModel.h"

#include "logview/LogLine.h"
#include "text/Utf8.h"

#include <gtest/gtest.h>

using Kind = TransportEventKind;

namespace {

LogRecord Line(const std::wstring& text, Kind kind = Kind::Received)
{
    LogRecord r;
    r.kind = kind;
    r.stamped = false;
    r.text = text;
    return r;
}

LogModel::Limits Lines(size_t lines)
{
    LogModel::Limits limits;
    limits.lines = lines;
    return limits;
}

const LogShowOptions kShow;

} // namespace

TEST(LogModel, KeepsExactlyTheNewestLinesAcrossManyTrims)
{
    // The old log settled near 450 lines: it set its count after a trim
    // instead of counting.
    LogModel log(Lines(5000));
    for (int i = 0; i < 12345; ++i)
        log.Append(Line(std::to_wstring(i)));
    EXPECT_EQ(log.LineCount(), 5000u);
    EXPECT_EQ(log.FirstLine(), 7345u);
    EXPECT_EQ(log.LineText(log.FirstLine(), kShow), L"RX  7345");
    EXPECT_EQ(log.LineText(log.EndLine() - 1, kShow), L"RX  12344");

    LogModel::Limits bytes;
    bytes.characters = 100000;
    LogModel longLines(bytes);
    for (int i = 0; i < 20; ++i)
        longLines.Append(Line(std::wstring(8000, L'x')));
    EXPECT_EQ(longLines.LineCount(), 12u);
    EXPECT_LE(longLines.CharacterCount(), 100000u);
    longLines.Append(Line(std::wstring(200000, L'y'))); // larger than the bound: the newest line stays
    EXPECT_EQ(longLines.LineCount(), 1u);
}

TEST(LogModel, TheReadersPlaceStaysOnItsTextWhileLinesComeAndGo)
{
    LogModel log(Lines(100));
    for (int i = 0; i < 100; ++i)
        log.Append(Line(L"line " + std::to_wstring(i)));
    log.SetTopLine(50);
    log.SetCaret(LogPosition{60, 4}, false);
    log.SetCaret(LogPosition{62, 6}, true);
    const std::wstring looked = log.LineText(50, kShow);
    const std::wstring selected = log.SelectedText(kShow);

    for (int i = 100; i < 130; ++i) // the 30 oldest lines go
        log.Append(Line(L"line " + std::to_wstring(i)));
    EXPECT_EQ(log.FirstLine(), 30u);
    EXPECT_EQ(log.TopLine(), 50u);
    EXPECT_EQ(log.LineText(log.TopLine(), kShow), looked);
    EXPECT_EQ(log.SelectedText(kShow), selected);

    for (int i = 130; i < 200; ++i) // now the lines looked at go too
        log.Append(Line(L"line " + std::to_wstring(i)));
    EXPECT_EQ(log.TopLine(), log.FirstLine());
    EXPECT_EQ(log.Caret(), (LogPosition{log.FirstLine(), 0}));
    EXPECT_FALSE(log.HasSelection());
}

TEST(LogModel, CopyTakesExactlyTheSelectionWithCrLfBetweenLines)
{
    LogModel log;
    log.Append(Line(L"first", Kind::Status));
    log.Append(Line(L"second", Kind::Sent));
    log.Append(Line(L"third", Kind::Error));
    log.SetCaret(LogPosition{2, 6}, false);
    log.SetCaret(LogPosition{0, 5}, true); // backwards is the same
    EXPECT_EQ(log.SelectedText(kShow), L"irst\r\nTX  second\r\nERR th");
    log.SetCaret(LogPosition{0, 5}, false);
    log.SetCaret(LogPosition{0, 99}, true);
    EXPECT_EQ(log.SelectedText(kShow), L"irst");
    log.SelectAll(kShow);
    EXPECT_EQ(log.SelectedText(kShow) + L"\r\n", log.AllText(kShow));
}

// Control characters stay in the text as they are, and show as boxes with
// their names, as wide as the names: a click lands on the character it hits.
TEST(LogModel, ControlCharactersAreNamedMarksAndStayInTheText)
{
    LogModel log;
    log.Append(Line(std::wstring(L"hi\r\n\0\t\x7f\x03!", 9)));
    EXPECT_EQ(log.LineText(0, kShow), std::wstring(L"RX  hi\r\n\0\t\x7f\x03!", 13));
    EXPECT_EQ(log.SavedText(0, kShow), log.LineText(0, kShow));
    std::wstring names;
    for (const wchar_t c : log.LineText(0, kShow))
        names += MarkLabel(c, false).empty() ? std::wstring(1, c) : L"[" + MarkLabel(c, false) + L"]";
    EXPECT_EQ(names, L"RX  hi[CR][LF][NUL][TAB][DEL][ETX]!");
    // "RX  hi" is 6 cells, CR and LF 2 each, NUL, TAB, DEL and ETX 3 each.
    EXPECT_EQ(log.LeftmostShowing(0, kShow, 13, 6 + 2 + 2 + 3 + 3 + 3 + 3 + 1), 0u);
    EXPECT_EQ(log.LeftmostShowing(0, kShow, 13, 4), 11u); // "!" and ETX
    LogGeometry g;
    g.charWidth = 8;
    EXPECT_EQ(log.HitTest(6 * 8 + 7, 0, g, kShow), (LogPosition{0, 6}));  // the left half of CR
    EXPECT_EQ(log.HitTest(6 * 8 + 9, 0, g, kShow), (LogPosition{0, 7}));  // its right half
    EXPECT_EQ(log.HitTest(19 * 8 + 1, 0, g, kShow), (LogPosition{0, 11})); // past NUL, TAB and DEL

    // Sixty CR LF pairs: 120 marks of two cells. The caret at the end, and
    // the end of the scroll range, show the end, with a cell for the caret.
    std::wstring pairs;
    for (int i = 0; i < 60; ++i)
        pairs += L"\r\n";
    log.Append(Line(pairs));
    EXPECT_EQ(log.LastLeftColumn(80, kShow), 124u - 39);
    log.SetCaret(LogPosition{1, 124}, false);
    log.ShowCaret(10, 80, kShow);
    EXPECT_EQ(log.LeftColumn(), 124u - 40);
}

// A sent text's bytes that are no text, and its checksum whatever it reads
// as, are raw bytes: shown as hex in their boxes, saved and copied as \xHH,
// never as characters of a code page.
TEST(LogModel, RawBytesOfASentTextShowAsHexAndSaveAsEscapes)
{
    const uint8_t payload[] = {'A', 'T', 0x95, 0x5C, 0xC3, 0xA9, '\r', '\n'};
    const std::wstring text = DecodeSentText(payload, sizeof payload, 3, 1);
    EXPECT_EQ(text, std::wstring(L"AT") + RawByteChar(0x95) + RawByteChar(0x5C) + L"\u00e9\r\n");
    // A character cut by the checksum is no character.
    const uint8_t cut[] = {0xC3, 0xA9, 0x41};
    EXPECT_EQ(DecodeSentText(cut, 3, 1, 1), std::wstring() + RawByteChar(0xC3) + RawByteChar(0xA9) + L"A");
    const uint8_t wrong[] = {0xE0, 0x80, 0xAF, 0xED, 0xA0, 0x80, 0xF4, 0x90, 0x80, 0x80, 0xF0, 0x9F, 0x98, 0x80};
    const std::wstring decoded = DecodeSentText(wrong, sizeof wrong);
    EXPECT_EQ(decoded.substr(decoded.size() - 2), L"\U0001F600"); // the last is well formed
    for (size_t i = 0; i + 2 < decoded.size(); ++i)
        EXPECT_EQ(decoded[i], RawByteChar(wrong[i])) << i; // overlong, a surrogate, past U+10FFFF
    // ESC would hide what follows it as a terminal sequence, and a character
    // that reads as a raw byte would lie: both are raw bytes.
    const uint8_t escape[] = {0x1B, '[', '1', 'm', 0xEE, 0x80, 0x81, 0x7A};
    EXPECT_EQ(StripEscapeSequences(DecodeSentText(escape, sizeof escape, 7, 1)),
              std::wstring() + RawByteChar(0x1B) + L"[1m" + RawByteChar(0xEE) + RawByteChar(0x80) + RawByteChar(0x81) +
                  RawByteChar(0x7A));

    LogModel log;
    LogRecord r = Line(text);
    r.kind = TransportEventKind::Sent;
    r.rawBytes = true;
    log.Append(r);
    EXPECT_EQ(MarkLabel(log.LineText(0, kShow)[6], true), L"95");
    EXPECT_EQ(log.SavedText(0, kShow), L"TX  AT\\x95\\x5C\u00e9\r\n");
    log.SelectAll(kShow);
    EXPECT_EQ(log.SelectedText(kShow), L"TX  AT\\x95\\x5C\u00e9\r\n");
    // A received line holds no raw bytes: such a character is its own.
    EXPECT_TRUE(MarkLabel(RawByteChar(0x95), false).empty());
}

TEST(LogModel, StampsPeersAndMilliseconds)
{
    LogModel log;
    LogRecord r = Line(L"hello");
    r.stamped = true;
    r.time = SYSTEMTIME{2026, 12, 2, 8, 9, 5, 7, 42};
    r.peer = L"127.0.0.1:53168";
    log.Append(r);
    EXPECT_EQ(log.LineText(0, kShow), L"[2026-12-08 09:05:07] RX  127.0.0.1:53168  hello");
    LogShowOptions other;
    other.milliseconds = true;
    other.peers = false;
    EXPECT_EQ(log.LineText(0, other), L"[2026-12-08 09:05:07.042] RX  hello");
}

TEST(LogModel, HitTestingFindsTheNearestCellAndStaysInTheText)
{
    LogModel log;
    for (const wchar_t* text : {L"aaaa", L"bb", L"cccccc"})
        log.Append(Line(text));
    LogGeometry g; // 16 px lines, 8 px cells
    EXPECT_EQ(log.HitTest(0, 0, g, kShow), (LogPosition{0, 0}));
    EXPECT_EQ(log.HitTest(11, 17, g, kShow), (LogPosition{1, 1}));
    EXPECT_EQ(log.HitTest(12, 17, g, kShow), (LogPosition{1, 2}));
    EXPECT_EQ(log.HitTest(999, 17, g, kShow), (LogPosition{1, 6})); // past its end: the end
    EXPECT_EQ(log.HitTest(0, 999, g, kShow), (LogPosition{2, 0}));  // below the last line
    g.topLine = 1;
    g.leftColumn = 4;
    EXPECT_EQ(log.HitTest(8, 0, g, kShow), (LogPosition{1, 5}));
}

TEST(LogModel, FindWalksEveryMatchThenWraps)
{
    LogModel log;
    for (const wchar_t* text : {L"one ab", L"none", L"ab two ab"})
        log.Append(Line(text));
    std::vector<LogPosition> found;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(log.FindNext(L"ab", kShow));
        found.push_back(log.Anchor());
        EXPECT_EQ(log.SelectedText(kShow), L"ab");
    }
    EXPECT_EQ(found, (std::vector<LogPosition>{{0, 8}, {2, 4}, {2, 11}, {0, 8}}));
    // Lines coming and going meanwhile do not lose the walk.
    log.Append(Line(L"ab"));
    ASSERT_TRUE(log.FindNext(L"ab", kShow));
    EXPECT_EQ(log.Anchor(), (LogPosition{2, 4}));
    EXPECT_FALSE(log.FindNext(L"zz", kShow));
    EXPECT_FALSE(log.FindNext(L"", kShow));
}

TEST(LogModel, KeysMoveTheCaretAndExtendTheSelection)
{
    LogModel log;
    for (const wchar_t* text : {L"abc", L"de", L"fghij"})
        log.Append(Line(text)); // shown as "RX  abc" and so on
    log.SetCaret(LogPosition{0, 0}, false);
    log.Move(LogMove::Right, false, 10, kShow);
    log.Move(LogMove::Right, false, 10, kShow);
    EXPECT_EQ(log.Caret(), (LogPosition{0, 2}));
    log.Move(LogMove::Down, true, 10, kShow);
    EXPECT_EQ(log.Anchor(), (LogPosition{0, 2}));
    EXPECT_EQ(log.Caret(), (LogPosition{1, 2}));
    log.Move(LogMove::LineEnd, true, 10, kShow);
    EXPECT_EQ(log.SelectedText(kShow), L"  abc\r\nRX  de");
    log.Move(LogMove::Right, true, 10, kShow); // past a line's end: the next line's start
    EXPECT_EQ(log.Caret(), (LogPosition{2, 0}));
    log.Move(LogMove::Left, false, 10, kShow); // drops the selection at its start
    EXPECT_EQ(log.Caret(), (LogPosition{0, 2}));
    EXPECT_FALSE(log.HasSelection());
    log.Move(LogMove::Last, false, 10, kShow);
    EXPECT_EQ(log.Caret(), (LogPosition{2, 9}));
    log.Move(LogMove::Up, false, 10, kShow); // a shorter line: its end
    EXPECT_EQ(log.Caret(), (LogPosition{1, 6}));
    log.Move(LogMove::PageUp, false, 10, kShow);
    EXPECT_EQ(log.Caret(), (LogPosition{0, 6}));
}

TEST(LogModel, DoubleClickSelectsAWordAndTheViewFollowsTheCaret)
{
    LogModel log;
    log.Append(Line(L"hello, world"));
    log.SelectWord(LogPosition{0, 6}, kShow);
    EXPECT_EQ(log.SelectedText(kShow), L"hello");
    log.SelectWord(LogPosition{0, 9}, kShow);
    EXPECT_EQ(log.SelectedText(kShow), L",");

    for (int i = 0; i < 100; ++i)
        log.Append(Line(std::wstring(size_t(i), L'x')));
    log.SetTopLine(0);
    log.SetCaret(LogPosition{50, 80}, false);
    log.ShowCaret(10, 40, kShow);
    EXPECT_EQ(log.TopLine(), 41u); // the caret's line is the last in view
    EXPECT_EQ(log.LeftColumn(), 40u);
    log.SetCaret(LogPosition{45, 0}, false);
    log.ShowCaret(10, 40, kShow);
    EXPECT_EQ(log.TopLine(), 41u); // already in view: nothing moves
    EXPECT_EQ(log.LeftColumn(), 0u);
}

TEST(LogModel, ReceivedLinesAsHexPairs)
{
    LogModel log;
    LogRecord rx = Line(std::wstring(L"AB\r\n"));
    rx.bytes = {0x41, 0x42, 0x0D, 0x0A};
    log.Append(rx);
    log.Append(Line(L"sent", Kind::Sent));
    LogShowOptions hex;
    hex.receivedAsHex = true;
    EXPECT_EQ(log.LineText(0, hex), L"RX  41 42 0D 0A");
    EXPECT_EQ(log.LineText(1, hex), L"TX  sent"); // only received lines
    // Moves and hit tests rely on the length matching the text.
    for (const LogShowOptions& options : {kShow, hex})
        EXPECT_EQ(log.LineLength(0, options), log.LineText(0, options).size());
    ASSERT_TRUE(log.FindNext(L"0D 0A", hex));
    EXPECT_EQ(log.Anchor(), (LogPosition{0, 10}));
}

// A view asks for the cells it shows; they must be the whole line's cells.
TEST(LogModel, PartOfALineIsThatPartOfTheWholeLine)
{
    LogModel log;
    LogRecord rx = Line(L"payload\r\n");
    rx.stamped = true;
    rx.peer = L"127.0.0.1:9";
    rx.bytes = {0x00, 0x7F, 0xFF, 0x41};
    log.Append(rx);
    LogShowOptions hex;
    hex.receivedAsHex = true;
    for (const LogShowOptions& options : {kShow, hex}) {
        const std::wstring whole = log.LineText(0, options);
        for (size_t from = 0; from <= whole.size() + 1; ++from)
            for (size_t count : {size_t(0), size_t(1), size_t(2), size_t(5), size_t(40), SIZE_MAX})
                ASSERT_EQ(log.LineText(0, options, from, count), whole.substr(std::min(from, whole.size()), count))
                    << from << " " << count;
    }
}

// A received line may leave its bytes to the traffic store and keep only
// where they are: it must read, measure, find and trim exactly as a line
// that holds them, also once its text is no longer kept and is made again.
TEST(LogModel, ALineWhoseBytesTheStoreHoldsReadsAsOneThatHoldsThem)
{
    std::vector<uint8_t> store;
    LogModel own, refers;
    refers.SetTraffic([&](uint64_t at, uint8_t* out, size_t count) {
        const size_t n = at < store.size() ? std::min<size_t>(count, store.size() - size_t(at)) : 0;
        std::copy_n(store.begin() + ptrdiff_t(at), n, out);
        return n;
    });
    const std::string sample = "\x1b[31mred\x1b[0m \xC3\xA9t\xC3\xA9\r\n"; // colour codes, UTF-8
    // One holds its bytes, the other leaves them to the store.
    const auto appendBoth = [&](LogRecord line, const std::vector<uint8_t>& bytes) {
        line.bytes = bytes;
        own.Append(line);
        line.bytes.clear();
        line.trafficAt = store.size();
        line.trafficSize = uint32_t(bytes.size());
        store.insert(store.end(), bytes.begin(), bytes.end());
        refers.Append(line);
    };
    // A sent text with a checksum that reads as a letter, made again from
    // its bytes as a sent line.
    const std::vector<uint8_t> sent = {'A', 'T', 0x41, 0xFF, '\r'};
    LogRecord sentLine = Line(DecodeSentText(sent.data(), sent.size(), 2, 1), Kind::Sent);
    sentLine.rawBytes = true;
    sentLine.binaryFrom = 2;
    sentLine.binaryCount = 1;
    appendBoth(sentLine, sent);
    for (int i = 0; i < 40; ++i) {
        std::string text = sample + std::string(size_t(i % 3) * 150000, char('a' + i % 26)) + std::to_string(i);
        const std::vector<uint8_t> bytes(text.begin(), text.end());
        appendBoth(Line(StripEscapeSequences(DecodeReceivedText(bytes.data(), bytes.size()))), bytes);
    }
    own.Append(Line(L"sent", Kind::Sent));
    refers.Append(Line(L"sent", Kind::Sent));
    ASSERT_EQ(refers.CharacterCount(), own.CharacterCount());
    LogShowOptions hex;
    hex.receivedAsHex = true;
    hex.sentAsHex = true;
    for (const LogShowOptions& options : {kShow, hex}) {
        for (uint64_t line = own.FirstLine(); line < own.EndLine(); ++line) {
            ASSERT_EQ(refers.LineText(line, options), own.LineText(line, options)) << line;
            ASSERT_EQ(refers.LineLength(line, options), own.LineLength(line, options)) << line;
            ASSERT_EQ(refers.LineText(line, options, 20, 7), own.LineText(line, options, 20, 7)) << line;
        }
    }
    EXPECT_EQ(refers.SavedText(0, kShow), L"TX  AT\\x41\\xFF\r");
    EXPECT_EQ(refers.LineText(0, hex), L"TX  41 54 41 FF 0D");
    EXPECT_EQ(refers.LineText(1, kShow), L"RX  red \u00E9t\u00E9\r\n0");
    ASSERT_TRUE(refers.FindNext(L"39", kShow));
    ASSERT_TRUE(own.FindNext(L"39", kShow));
    EXPECT_EQ(refers.Anchor(), own.Anchor());

    LogModel::Limits few;
    few.characters = 400000;
    own.SetLimits(few);
    refers.SetLimits(few);
    EXPECT_EQ(refers.FirstLine(), own.FirstLine());
    EXPECT_EQ(refers.AllText(kShow), own.AllText(kShow));
}
