#include "settings/History.h"
#include "ui/SendComposer.h"

#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;

TEST(BuildPayload, Utf8WithLineEndings)
{
    EXPECT_EQ(BuildPayload(L"h\u00e9llo", false, false, true), (Bytes{0x68, 0xC3, 0xA9, 0x6C, 0x6C, 0x6F, 0x0D, 0x0A}));
    const struct {
        bool cr, lf, crlf;
        Bytes ending;
    } cases[] = {
        {false, false, false, {}},         {true, false, false, {0x0D}},      {false, true, false, {0x0A}},
        {true, true, false, {0x0D, 0x0A}}, {false, false, true, {0x0D, 0x0A}}, {true, true, true, {0x0D, 0x0A}},
        {true, false, true, {0x0D, 0x0A}},
    };
    for (const auto& c : cases) {
        Bytes expected = {'a'};
        expected.insert(expected.end(), c.ending.begin(), c.ending.end());
        EXPECT_EQ(BuildPayload(L"a", c.cr, c.lf, c.crlf), expected) << c.cr << c.lf << c.crlf;
    }
    EXPECT_EQ(BuildPayload(L"", false, true, false), (Bytes{0x0A}));
    EXPECT_TRUE(BuildPayload(L"", false, false, false).empty());
}

TEST(BuildPayload, SurrogatesAndWideCharacters)
{
    EXPECT_EQ(BuildPayload(std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}, false, false, false),
              (Bytes{0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_EQ(BuildPayload(std::wstring{L'a', wchar_t(0xD800), L'b'}, false, false, false),
              (Bytes{'a', 0xEF, 0xBF, 0xBD, 'b'}));
    EXPECT_EQ(BuildPayload(std::wstring{wchar_t(0xDC00)}, false, false, false), (Bytes{0xEF, 0xBF, 0xBD}));
    EXPECT_EQ(BuildPayload(std::wstring{wchar_t(0xD800)}, false, true, false), (Bytes{0xEF, 0xBF, 0xBD, 0x0A}));
    EXPECT_EQ(BuildPayload(L"\u4e2d", false, false, false), (Bytes{0xE4, 0xB8, 0xAD}));
    EXPECT_EQ(BuildPayload(std::wstring(1, L'\0'), false, false, false), (Bytes{0x00}));
}

TEST(FormatSentBytes, HexPairsAndText)
{
    EXPECT_EQ(FormatSentBytes({0x0A, 0xFF}, true), L"0A FF ");
    EXPECT_EQ(FormatSentBytes({0x41}, true), L"41 ");
    EXPECT_EQ(FormatSentBytes({}, true), L"");
    EXPECT_EQ(FormatSentBytes({0x68, 0xC3, 0xA9, 0x0D, 0x0A}, false), L"h\u00e9\r\n");
    EXPECT_EQ(FormatSentBytes({}, false), L"");
}

// A hex payload's entry gives its bytes back; a text that began with a tab
// is trimmed on its way in, so it never passes for one.
TEST(HistoryEntries, HexOnesComeBackAndATabbedTextStaysText)
{
    const std::vector<uint8_t> bytes{0x00, 0x41, 0xFF};
    std::vector<uint8_t> back;
    EXPECT_TRUE(HexHistoryBytes(HexHistoryEntry(bytes), back));
    EXPECT_EQ(back, bytes);
    EXPECT_EQ(HistoryDisplayText(HexHistoryEntry(bytes)), L"Hex: 00 41 FF");
    HistoryList list;
    AddToHistoryList(list, TextHistoryEntry(L"\tAB CD"));
    AddToHistoryList(list, HexHistoryEntry({0xAB}));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_FALSE(HexHistoryBytes(list[1], back));
    EXPECT_EQ(HistoryDisplayText(list[1]), L"AB CD");
    EXPECT_TRUE(HexHistoryBytes(list[0], back));
}

TEST(RepeatInterval, AtLeastOneMillisecond)
{
    EXPECT_EQ(RepeatInterval(L"1000"), 1000u);
    EXPECT_EQ(RepeatInterval(L""), 1u);
    EXPECT_EQ(RepeatInterval(L"0"), 1u);
    EXPECT_EQ(RepeatInterval(L"-50"), 1u);
    EXPECT_EQ(RepeatInterval(L"  25ms"), 25u);
}

TEST(ExpandEscapes, EachEscapeIsItsByteAndAMalformedOneSendsNothing)
{
    EXPECT_EQ(ExpandEscapes(L"AT\\r\\n").bytes, (Bytes{'A', 'T', 0x0D, 0x0A}));
    EXPECT_EQ(ExpandEscapes(L"\\t\\0\\\\\\x02\\xfF\u00e9").bytes, (Bytes{0x09, 0x00, '\\', 0x02, 0xFF, 0xC3, 0xA9}));
    EXPECT_EQ(ExpandEscapes(L"\\x414").bytes, (Bytes{'A', '4'})); // two digits, no more
    EXPECT_EQ(ExpandEscapes(L"\\\\x41").bytes, (Bytes{'\\', 'x', '4', '1'}));
    EXPECT_TRUE(ExpandEscapes(L"").bytes.empty());
    const struct {
        const wchar_t* text;
        const wchar_t* named;
        int at;
    } bad[] = {
        {L"ab\\x4", L"\\x4", 3}, {L"\\q", L"\\q", 1}, {L"ok\\", L"\\", 3}, {L"\\xg1", L"\\x", 1}, {L"\\x4g", L"\\x4", 1},
    };
    for (const auto& b : bad) {
        const Unescaped got = ExpandEscapes(b.text);
        EXPECT_TRUE(got.bytes.empty()) << b.text;
        EXPECT_EQ(got.problem, L"The escape \"" + std::wstring(b.named) + L"\" at character " + std::to_wstring(b.at) +
                                   L" is not one of \\r \\n \\t \\0 \\\\ \\xHH; nothing was sent.")
            << b.text;
    }
}

// The catalogue's check values, over "123456789", in each one's byte order.
TEST(ChecksumBytes, CheckValuesInTheirByteOrder)
{
    const Bytes check = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const auto of = [&](Checksum kind) { return ChecksumBytes(kind, check.data(), check.size()); };
    EXPECT_EQ(of(Checksum::None), Bytes{});
    EXPECT_EQ(of(Checksum::Sum8), Bytes{0xDD});
    EXPECT_EQ(of(Checksum::Xor8), Bytes{0x31});
    EXPECT_EQ(of(Checksum::Crc16Modbus), (Bytes{0x37, 0x4B}));
    EXPECT_EQ(of(Checksum::Crc16CcittFalse), (Bytes{0x29, 0xB1}));
    EXPECT_EQ(of(Checksum::Crc32), (Bytes{0x26, 0x39, 0xF4, 0xCB}));
    // A Modbus RTU request as a device checks it: read two registers from 0.
    const Bytes request = {0x01, 0x03, 0x00, 0x00, 0x00, 0x02};
    EXPECT_EQ(ChecksumBytes(Checksum::Crc16Modbus, request.data(), request.size()), (Bytes{0xC4, 0x0B}));
}
