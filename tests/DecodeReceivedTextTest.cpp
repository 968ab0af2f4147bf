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
