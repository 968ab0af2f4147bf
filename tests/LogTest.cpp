#include "capture/PcapngExport.h"
#include "logview/LogLine.h"
#include "logview/LogModel.h"
#include "session/LogState.h"
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
    const LogShowOptions show;
    LogModel log;
    for (const auto& k : kinds) {
        log.Append(LogRecord{k.kind, false, t, L"", L"x", {}});
        EXPECT_EQ(log.LineText(log.EndLine() - 1, show), std::wstring(k.tag) + L"x");
        log.Append(LogRecord{k.kind, true, t, L"", L"x", {}});
        EXPECT_EQ(log.LineText(log.EndLine() - 1, show), std::wstring(L"[2026-12-31 23:59:58] ") + k.tag + L"x");
    }
    log.Clear();
    log.Append(LogRecord{Kind::Status, false, t, L"", L"", {}});
    log.Append(LogRecord{Kind::Sent, false, t, L"", L"a\r\n", {}});
    EXPECT_EQ(log.AllText(show), L"SYS \r\nTX  a\r\n\r\n"); // text is written unchanged
}

TEST(LogLines, EscapeSequencesAreStripped)
{
    EXPECT_EQ(StripEscapeSequences(L"a\x1b[0mb"), L"ab");
    EXPECT_EQ(StripEscapeSequences(L"ok\x1b[12"), L"ok");
    EXPECT_EQ(StripEscapeSequences(L"\x1b[1;31mred\x1b[0m plain"), L"red plain");
    EXPECT_EQ(StripEscapeSequences(std::wstring(L"t\tn\0z\r\n", 7)), std::wstring(L"t\tn\0z\r\n", 7));
    // No state carries over: the rest of a split escape shows in the next line.
    EXPECT_EQ(StripEscapeSequences(L"a\x1b[3"), L"a");
    EXPECT_EQ(StripEscapeSequences(L"1mb"), L"1mb");
}

TEST(LogState, CountersCaptureAndHexViewPerKind)
{
    LogState log;
    EXPECT_TRUE(log.Count(Kind::Received, Bytes("ab")));
    EXPECT_TRUE(log.Count(Kind::Sent, Bytes("xyz")));
    EXPECT_FALSE(log.Count(Kind::Status, Bytes("ignored")));
    EXPECT_FALSE(log.Count(Kind::Error, Bytes("ignored")));
    EXPECT_FALSE(log.Count(Kind::Received, {})); // a line, but nothing for the hex view
    EXPECT_EQ(log.m_rxByteCount, 2u);
    EXPECT_EQ(log.m_txByteCount, 3u);
    // Both directions are journalled, in order.
    ASSERT_EQ(log.m_journal.RecordCount(), 2u);
    EXPECT_EQ(log.m_journal.Record(0).direction, TrafficDirection::Received);
    EXPECT_EQ(log.m_journal.Record(1).direction, TrafficDirection::Sent);
    EXPECT_EQ(log.m_journal.Size(), 5u);
    EXPECT_TRUE(log.m_logDirty);
    // Every count fits the counter; the exact one is in its tooltip.
    EXPECT_EQ(CounterText(L"RX", 99999), L"RX: 99999");
    EXPECT_EQ(CounterText(L"RX", 100000), L"RX: 100 kB");
    EXPECT_EQ(CounterText(L"RX", 52431234), L"RX: 52.4 MB");
    EXPECT_EQ(CounterText(L"TX", 999600), L"TX: 1.00 MB");
    EXPECT_EQ(CounterText(L"RX", 9996000), L"RX: 10.0 MB");
    EXPECT_EQ(CounterText(L"RX", 18446744073709551615ull), L"RX: 18.4 EB");
    EXPECT_EQ(CounterTipText(L"RX", 18446744073709551615ull), L"RX: 18446744073709551615 bytes");

    log.Clear();
    EXPECT_EQ(log.m_rxByteCount + log.m_txByteCount, 0u);
    EXPECT_EQ(log.m_journal.Size(), 0u);
    EXPECT_EQ(log.m_journal.BytesInMemory(), 0u);
    EXPECT_FALSE(log.m_logDirty);
}

TEST(FindInBytes, WalksMatchesAndWraps)
{
    // The bytes as one journalled block.
    const auto FindIn = [](const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& pattern, int64_t from) {
        Journal journal(ChunkedBytes::kChunk, L"");
        journal.Append(TrafficDirection::Received, 0, 1, 0, L"", bytes.data(), bytes.size());
        return FindInBytes(journal, pattern, from);
    };
    const std::vector<uint8_t> data = Bytes("xOKyOKzOK");
    const std::vector<uint8_t> ok = Bytes("OK");
    int64_t at = FindIn(data, ok, 0);
    EXPECT_EQ(at, 1);
    at = FindIn(data, ok, at + 1);
    EXPECT_EQ(at, 4);
    at = FindIn(data, ok, at + 1);
    EXPECT_EQ(at, 7);
    EXPECT_EQ(FindIn(data, ok, at + 1), 1); // wraps back to the first
    EXPECT_EQ(FindIn(Bytes("aOK"), ok, 2), 1); // a single match is found again
    EXPECT_EQ(FindIn(Bytes("ab"), Bytes("abc"), 0), -1); // longer than the buffer
    EXPECT_EQ(FindIn(data, Bytes("ok"), 0), -1);
    EXPECT_EQ(FindIn({}, ok, 0), -1);
}

TEST(SaveLog, BinaryNamesWriteExactlyTheReceivedBytes)
{
    // Received blocks with sent ones between them, which the file leaves out.
    Journal traffic(size_t(1) << 20, L"");
    const std::vector<uint8_t> first = {0x00, 0x0D, 0x0A}, sent = {'A', 'T'}, second = {0xFF, 0x1A, 0x0A};
    traffic.Append(TrafficDirection::Received, 0, 1, 0, L"", first.data(), first.size());
    traffic.Append(TrafficDirection::Sent, 0, 1, 0, L"", sent.data(), sent.size());
    traffic.Append(TrafficDirection::Received, 0, 1, 0, L"", second.data(), second.size());
    for (const wchar_t* name : {L"ferrolink-test.bin", L"ferrolink-test.BIN", L"ferrolink-test.Bin"}) {
        const std::wstring path = TempPath(name);
        ASSERT_TRUE(SaveLogFile(path, L"SYS text\r\n", traffic));
        EXPECT_EQ(ReadFile(path), std::string("\x00\x0D\x0A\xFF\x1A\x0A", 6)) << path.c_str();
        DeleteFileW(path.c_str());
    }
    const std::wstring empty = TempPath(L"ferrolink-empty.bin");
    const Journal nothing(size_t(1) << 20, L"");
    ASSERT_TRUE(SaveLogFile(empty, L"SYS text\r\n", nothing));
    EXPECT_EQ(ReadFile(empty), "");
    DeleteFileW(empty.c_str());
    EXPECT_FALSE(IsBinaryLogName(L"C:\\logs.bin\\file"));
    EXPECT_FALSE(IsBinaryLogName(L"noextension"));
}

// A save that is cancelled leaves no file; bytes the journal no longer
// keeps are left out of a saved one and counted.
TEST(SaveLog, ACancelledSaveLeavesNoFileAndBytesNotKeptAreCounted)
{
    Journal traffic(4 * ChunkedBytes::kChunk, L"Z:\\no\\such\\folder\\spill");
    const std::vector<uint8_t> block(50000, 'b');
    for (int i = 0; i < 40; ++i)
        traffic.Append(TrafficDirection::Received, 0, 1, 0, L"", block.data(), block.size());
    ASSERT_GT(traffic.ForgottenBytes(), 0u);
    for (const wchar_t* name : {L"ferrolink-cut.bin", L"ferrolink-cut.pcapng"}) {
        const std::wstring path = TempPath(name);
        JobProgress progress;
        const bool capture = IsCaptureName(path);
        ASSERT_TRUE(capture ? WritePcapng(path, traffic, &progress) : SaveLogFile(path, L"", traffic, &progress));
        EXPECT_GE(progress.notKept.load(), traffic.ForgottenBytes());
        EXPECT_EQ(progress.done.load() + 1, traffic.RecordCount());
        if (!capture) {
            EXPECT_EQ(ReadFile(path).size() + progress.notKept.load(), 40u * block.size());
        }
        DeleteFileW(path.c_str());

        JobProgress cancelled;
        cancelled.cancel = true;
        EXPECT_FALSE(capture ? WritePcapng(path, traffic, &cancelled) : SaveLogFile(path, L"", traffic, &cancelled));
        EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

TEST(SaveLog, TextIsUtf8WithItsOwnLineEnds)
{
    const std::wstring text = std::wstring(L"SYS Ready.\r\nRX  h\u00e9\u4e2d\0z\r\n", 23);
    for (const wchar_t* name : {L"ferrolink-test.log", L"ferrolink-test.txt", L"ferrolink-test"}) {
        const std::wstring path = TempPath(name);
        const uint8_t byte = 0x01;
        Journal traffic(size_t(1) << 20, L"");
        traffic.Append(TrafficDirection::Received, 0, 1, 0, L"", &byte, 1);
        ASSERT_TRUE(SaveLogFile(path, text, traffic));
        const std::string expected("SYS Ready.\r\nRX  h\xC3\xA9\xE4\xB8\xAD\0z\r\n", 26);
        EXPECT_EQ(ReadFile(path), expected) << path.c_str();
        DeleteFileW(path.c_str());
    }
}

TEST(SaveLog, UnwritablePathFails)
{
    const Journal nothing(size_t(1) << 20, L"");
    EXPECT_FALSE(SaveLogFile(L"Z:\\no\\such\\folder\\x.log", L"text", nothing));
    EXPECT_FALSE(SaveLogFile(L"", L"text", nothing));
}
