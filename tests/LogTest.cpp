#include "ui/Log.h"
#include "logview/LogLine.h"
#include "ui/LogTools.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using Kind = TransportEventKind;

namespace {

std::vector<uint8_t> Bytes(const char* text)
{
    return std::vector<uint8_t>(text, text + strlen(text));
}

std::string ReadFile(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::wstring TempPath(const wchar_t* name)
{
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

} // namespace

TEST(LogLines, EveryKindWithAndWithoutTimeStamp)
{
    SYSTEMTIME t{};
    t.wYear = 2026;
    t.wMonth = 12;
    t.wDay = 31;
    t.wHour = 23;
    t.wMinute = 59;
    t.wSecond = 58;
    const struct {
        Kind kind;
        const wchar_t* tag;
    } kinds[] = {{Kind::Status, L"SYS "},      {Kind::Received, L"RX  "},     {Kind::Sent, L"TX  "},
                 {Kind::Error, L"ERR "},       {Kind::ClientAdded, L"SYS "},  {Kind::ClientRemoved, L"SYS "}};
    for (const auto& k : kinds) {
        EXPECT_EQ(FormatLogLine(k.kind, L"x", nullptr), std::wstring(k.tag) + L"x\r\n");
        EXPECT_EQ(FormatLogLine(k.kind, L"x", &t), std::wstring(L"[2026-12-31 23:59:58] ") + k.tag + L"x\r\n");
    }
    EXPECT_EQ(FormatLogLine(Kind::Status, L"", nullptr), L"SYS \r\n");
    EXPECT_EQ(FormatLogLine(Kind::Sent, L"a\r\n", nullptr), L"TX  a\r\n\r\n"); // text is written unchanged
}

TEST(LogLines, EscapeSequencesAreStripped)
{
    EXPECT_EQ(StripEscapeSequences(L"a\x1b[0mb"), L"ab");
    EXPECT_EQ(StripEscapeSequences(L"ok\x1b[12"), L"ok");
    EXPECT_EQ(StripEscapeSequences(L"\x1b[1;31mred\x1b[0m plain"), L"red plain");
    EXPECT_EQ(StripEscapeSequences(std::wstring(L"t\tn\0z\r\n", 7)), std::wstring(L"t\tn\0z\r\n", 7));
    // No state carries over: the rest of a split escape shows in the next line.
    LogState log;
    log.Append(Kind::Received, L"a\x1b[3", Bytes("a"), nullptr);
    log.Append(Kind::Received, L"1mb", Bytes("b"), nullptr);
    EXPECT_EQ(log.m_logText, L"RX  a\r\nRX  1mb\r\n");
}

TEST(LogState, CountersCaptureAndHexViewPerKind)
{
    LogState log;
    EXPECT_TRUE(log.Append(Kind::Received, L"ab", Bytes("ab"), nullptr));
    EXPECT_TRUE(log.Append(Kind::Sent, L"xyz", Bytes("xyz"), nullptr));
    EXPECT_FALSE(log.Append(Kind::Status, L"s", Bytes("ignored"), nullptr));
    EXPECT_FALSE(log.Append(Kind::Error, L"e", Bytes("ignored"), nullptr));
    EXPECT_FALSE(log.Append(Kind::Received, L"", {}, nullptr)); // a line, but nothing for the hex view
    EXPECT_EQ(log.m_rxByteCount, 2u);
    EXPECT_EQ(log.m_txByteCount, 3u);
    EXPECT_EQ(log.m_rxCapture, Bytes("ab"));
    EXPECT_EQ(log.m_logLineCount, 5);
    EXPECT_TRUE(log.m_logDirty);
    EXPECT_EQ(CounterText(L"RX", 18446744073709551615ull), L"RX: 18446744073709551615");

    log.Clear();
    EXPECT_TRUE(log.m_logText.empty());
    EXPECT_EQ(log.m_rxByteCount + log.m_txByteCount, 0u);
    EXPECT_TRUE(log.m_rxCapture.empty());
    EXPECT_FALSE(log.m_logDirty);
    EXPECT_EQ(log.PendingRefresh(), LogState::Refresh::Nothing);
}

TEST(LogState, TrimsAtThe5001stLineThenEvery101)
{
    LogState log;
    for (int i = 1; i <= 5000; ++i)
        log.Append(Kind::Status, L"line " + std::to_wstring(i), {}, nullptr);
    EXPECT_EQ(log.m_logLineCount, 5000);
    const size_t before = log.m_logText.size() + FormatLogLine(Kind::Status, L"line 5001", nullptr).size();
    log.Append(Kind::Status, L"line 5001", {}, nullptr);
    EXPECT_EQ(log.m_logLineCount, 4900);
    // Cut through the first LF at or after a fifth of the text.
    EXPECT_GE(before - log.m_logText.size(), before / 5);
    EXPECT_LT(before - log.m_logText.size(), before / 5 + 20);
    EXPECT_EQ(log.m_logText.rfind(L"SYS line ", 0), 0u); // starts at a whole line
    for (int i = 0; i < 100; ++i)
        log.Append(Kind::Status, L"more", {}, nullptr);
    EXPECT_EQ(log.m_logLineCount, 5000);
    const size_t size = log.m_logText.size();
    log.Append(Kind::Status, L"more", {}, nullptr);
    EXPECT_EQ(log.m_logLineCount, 4900);
    EXPECT_LT(log.m_logText.size(), size);
}

TEST(LogState, LongLinesAndClearGiveTheirMemoryBack)
{
    LogState log;
    const std::wstring block(4096, L'b');
    const std::vector<uint8_t> bytes(4096, 'b');
    for (int i = 0; i < 7000; ++i)
        log.Append(Kind::Received, block, bytes, nullptr);
    // Trims every 101 lines leave a few hundred lines of 4 K.
    EXPECT_LT(log.m_logText.size(), size_t(1000) * 4200);
    EXPECT_LE(log.m_logText.capacity(), 4 * log.m_logText.size());
    EXPECT_EQ(log.m_rxCapture.size(), size_t(7000) * 4096);

    log.Clear();
    EXPECT_LT(log.m_logText.capacity(), 64u);
    EXPECT_EQ(log.m_rxCapture.capacity(), 0u);
    log.Append(Kind::Received, L"again", {'a'}, nullptr);
    EXPECT_EQ(log.m_rxCapture.size(), 1u);
}

TEST(LogState, RefreshKnowsWhatTheEditLacks)
{
    LogState log;
    log.Append(Kind::Status, std::wstring(L"a\0b", 3), {}, nullptr);
    EXPECT_EQ(log.PendingRefresh(), LogState::Refresh::AppendTail);
    EXPECT_EQ(log.TailForDisplay(), std::wstring(L"SYS a") + kNulPlaceholder + L"b\r\n");
    log.MarkShown();
    EXPECT_EQ(log.PendingRefresh(), LogState::Refresh::Nothing);
    log.Append(Kind::Status, L"next", {}, nullptr);
    EXPECT_EQ(log.TailForDisplay(), L"SYS next\r\n");
    log.MarkShown();
    log.m_logText.erase(0, 2); // as a trim does
    EXPECT_EQ(log.PendingRefresh(), LogState::Refresh::Reload);
    EXPECT_NE(log.m_logText.find(L'\0'), std::wstring::npos); // the log itself keeps the NUL
}

TEST(FindInLogText, MatchAtZeroOnlyThroughTheWrap)
{
    const std::wstring text = L"abc abc";
    EXPECT_EQ(FindInLogText(text, L"abc", 0, 0), 4u); // starts one past the selection start
    EXPECT_EQ(FindInLogText(text, L"abc", 4, 7), 0u); // wraps
    EXPECT_EQ(FindInLogText(L"abc", L"abc", 0, 3), 0u);
    EXPECT_EQ(FindInLogText(text, L"ABC", 0, 0), std::wstring::npos); // case-sensitive
    EXPECT_EQ(FindInLogText(text, L"", 0, 0), std::wstring::npos);
}

TEST(FindInBytes, WalksMatchesAndWraps)
{
    const std::vector<uint8_t> data = Bytes("xOKyOKzOK");
    const std::vector<uint8_t> ok = Bytes("OK");
    int64_t at = FindInBytes(data, ok, 0);
    EXPECT_EQ(at, 1);
    at = FindInBytes(data, ok, at + 1);
    EXPECT_EQ(at, 4);
    at = FindInBytes(data, ok, at + 1);
    EXPECT_EQ(at, 7);
    EXPECT_EQ(FindInBytes(data, ok, at + 1), 1); // wraps back to the first
    EXPECT_EQ(FindInBytes(Bytes("aOK"), ok, 2), 1); // a single match is found again
    EXPECT_EQ(FindInBytes(Bytes("ab"), Bytes("abc"), 0), -1); // longer than the buffer
    EXPECT_EQ(FindInBytes(data, Bytes("ok"), 0), -1);
    EXPECT_EQ(FindInBytes({}, ok, 0), -1);
}

TEST(SaveLog, BinaryNamesWriteExactlyTheReceivedBytes)
{
    const std::vector<uint8_t> capture = {0x00, 0x0D, 0x0A, 0xFF, 0x1A, 0x0A};
    for (const wchar_t* name : {L"ferrolink-test.bin", L"ferrolink-test.BIN", L"ferrolink-test.Bin"}) {
        const std::wstring path = TempPath(name);
        ASSERT_TRUE(SaveLogFile(path, L"SYS text\r\n", capture));
        EXPECT_EQ(ReadFile(path), std::string(capture.begin(), capture.end())) << path.c_str();
        DeleteFileW(path.c_str());
    }
    const std::wstring empty = TempPath(L"ferrolink-empty.bin");
    ASSERT_TRUE(SaveLogFile(empty, L"SYS text\r\n", {}));
    EXPECT_EQ(ReadFile(empty), "");
    DeleteFileW(empty.c_str());
    EXPECT_FALSE(IsBinaryLogName(L"C:\\logs.bin\\file"));
    EXPECT_FALSE(IsBinaryLogName(L"noextension"));
}

TEST(SaveLog, TextIsUtf8WithItsOwnLineEnds)
{
    const std::wstring text = std::wstring(L"SYS Ready.\r\nRX  h\u00e9\u4e2d\0z\r\n", 23);
    for (const wchar_t* name : {L"ferrolink-test.log", L"ferrolink-test.txt", L"ferrolink-test"}) {
        const std::wstring path = TempPath(name);
        ASSERT_TRUE(SaveLogFile(path, text, {0x01}));
        const std::string expected("SYS Ready.\r\nRX  h\xC3\xA9\xE4\xB8\xAD\0z\r\n", 26);
        EXPECT_EQ(ReadFile(path), expected) << path.c_str();
        DeleteFileW(path.c_str());
    }
}

TEST(SaveLog, UnwritablePathFails)
{
    EXPECT_FALSE(SaveLogFile(L"Z:\\no\\such\\folder\\x.log", L"text", {}));
    EXPECT_FALSE(SaveLogFile(L"", L"text", {}));
}
