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

TEST(RepeatInterval, AtLeastOneMillisecond)
{
    EXPECT_EQ(RepeatInterval(L"1000"), 1000u);
    EXPECT_EQ(RepeatInterval(L""), 1u);
    EXPECT_EQ(RepeatInterval(L"0"), 1u);
    EXPECT_EQ(RepeatInterval(L"-50"), 1u);
    EXPECT_EQ(RepeatInterval(L"  25ms"), 25u);
}
