#include "engine/TransportEvent.h"
#include "text/Utf8.h"

#include <gtest/gtest.h>

static std::wstring Decode(const std::vector<uint8_t>& bytes)
{
    return DecodeReceivedText(bytes.data(), bytes.size());
}

static std::wstring Ansi(const std::vector<uint8_t>& bytes)
{
    const auto source = reinterpret_cast<const char*>(bytes.data());
    const int chars = MultiByteToWideChar(CP_ACP, 0, source, int(bytes.size()), nullptr, 0);
    std::wstring text(size_t(chars), L'\0');
    MultiByteToWideChar(CP_ACP, 0, source, int(bytes.size()), text.data(), chars);
    return text;
}

// What the system's own decoder makes of the block, strict UTF-8 first.
static std::wstring SystemDecode(const std::vector<uint8_t>& bytes)
{
    const auto source = reinterpret_cast<const char*>(bytes.data());
    const int chars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, source, int(bytes.size()), nullptr, 0);
    if (chars <= 0)
        return Ansi(bytes);
    std::wstring text(size_t(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, source, int(bytes.size()), text.data(), chars);
    return text;
}

TEST(DecodeReceivedText, AgreesWithTheSystemsDecoder)
{
    const std::vector<std::vector<uint8_t>> edges = {
        {0x7F}, {0xC2, 0x80}, {0xDF, 0xBF}, {0xE0, 0xA0, 0x80}, {0xEF, 0xBF, 0xBF}, {0xF0, 0x90, 0x80, 0x80},
        {0xF4, 0x8F, 0xBF, 0xBF}, {0xED, 0x9F, 0xBF}, {0xEE, 0x80, 0x80},
        // overlong, surrogate, past U+10FFFF, cut short, stray continuation
        {0xC0, 0x80}, {0xC1, 0xBF}, {0xE0, 0x9F, 0xBF}, {0xF0, 0x8F, 0xBF, 0xBF}, {0xED, 0xA0, 0x80},
        {0xED, 0xBF, 0xBF}, {0xF4, 0x90, 0x80, 0x80}, {0xF5, 0x80, 0x80, 0x80}, {0xFF}, {'a', 0xE2, 0x82},
        {0x80, 'a'}, {0xE2, 0x28, 0xA1}};
    for (const auto& edge : edges)
        EXPECT_EQ(Decode(edge), SystemDecode(edge)) << int(edge[0]) << " " << edge.size();
    // Blocks of every kind of byte, and text of every length of character.
    uint32_t x = 7;
    const auto next = [&] { return x = x * 1103515245u + 12345u, x >> 16; };
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> block;
        if (round % 2) {
            for (int i = 0; i < 500; ++i)
                block.push_back(uint8_t(next()));
        } else {
            std::wstring text;
            for (int i = 0; i < 300; ++i) {
                const uint32_t pick = next() % 4;
                const uint32_t code = pick == 0   ? next() % 0x80
                                      : pick == 1 ? 0x80 + next() % 0x780
                                      : pick == 2 ? 0xE000 + next() % 0x2000
                                                  : 0x10000 + next() % 0x10000;
                if (code >= 0x10000) {
                    text += wchar_t(0xD800 + ((code - 0x10000) >> 10));
                    text += wchar_t(0xDC00 + ((code - 0x10000) & 0x3FF));
                } else {
                    text += wchar_t(code);
                }
            }
            block = EncodeUtf8(text);
            if (round % 4 == 2)
                block.resize(block.size() - 1); // a character cut at the block's end
        }
        EXPECT_EQ(Decode(block), SystemDecode(block)) << "round " << round;
    }
}

TEST(DecodeReceivedText, ValidUtf8)
{
    EXPECT_EQ(Decode({0x48, 0x69}), L"Hi");
    EXPECT_EQ(Decode({0xC3, 0xA9}), std::wstring(1, wchar_t(0x00E9)));
    EXPECT_EQ(Decode({0xF0, 0x9F, 0x98, 0x80}), (std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}));
}

TEST(DecodeReceivedText, InvalidUtf8FallsBackToAnsiCodePage)
{
    const std::vector<uint8_t> lone = {0xE9};
    EXPECT_EQ(Decode(lone), Ansi(lone));
    EXPECT_EQ(Decode(lone).size(), 1u);
}

TEST(DecodeReceivedText, BlockSplitInsideASequenceIsAnsiInFull)
{
    std::vector<uint8_t> block(8191, 'a');
    block.push_back(0xC3); // first half of é; the rest comes in the next block
    const std::wstring text = Decode(block);
    EXPECT_EQ(text, Ansi(block));
    EXPECT_EQ(text.size(), 8192u);

    // The next block starts with the continuation byte alone: also ANSI.
    const std::vector<uint8_t> next = {0xA9, 'b'};
    EXPECT_EQ(Decode(next), Ansi(next));
}

TEST(DecodeReceivedText, NulBytesStayInTheText)
{
    const std::wstring text = Decode({'a', 0x00, 'b'});
    ASSERT_EQ(text.size(), 3u);
    EXPECT_EQ(text[1], L'\0');
    EXPECT_EQ(text[2], L'b');
}

TEST(DecodeReceivedText, EmptyBlockGivesEmptyText)
{
    EXPECT_EQ(DecodeReceivedText(nullptr, 0), L"");
}
