#include "capture/Recorder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string FileText(const std::wstring& path)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    std::string text;
    char buffer[65536];
    DWORD got = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        text.append(buffer, got);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return text;
}

} // namespace

TEST(Recorder, WritesEverythingInOrderAndChoosesTheFormatByName)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"ferrolink-record-" + std::to_wstring(GetTickCount64()) + L".log";
    std::string expected;
    {
        Recorder recorder;
        ASSERT_TRUE(recorder.Start(path));
        EXPECT_TRUE(recorder.Recording());
        for (int i = 0; i < 5000; ++i) {
            const std::string line = "line " + std::to_string(i) + "\r\n";
            recorder.Write(std::vector<uint8_t>(line.begin(), line.end()));
            expected += line;
        }
        recorder.Stop(); // what was queued is written first
        EXPECT_FALSE(recorder.Recording());
        EXPECT_EQ(recorder.Written(), expected.size());
        EXPECT_FALSE(recorder.Failed());
        recorder.Write({'x'}); // after the stop: nothing
    }
    EXPECT_EQ(FileText(path), expected);
    DeleteFileW(path.c_str());

    EXPECT_EQ(Recorder::FormatFor(L"C:\\a\\b.BIN"), Recorder::Format::Received);
    EXPECT_EQ(Recorder::FormatFor(L"trace.pcapng"), Recorder::Format::Pcapng);
    EXPECT_EQ(Recorder::FormatFor(L"C:\\a.bin\\trace"), Recorder::Format::Text);
    Recorder nowhere;
    EXPECT_FALSE(nowhere.Start(L"Z:\\no\\such\\folder\\x.log"));
    EXPECT_FALSE(nowhere.Recording());
}

// A disk that fills up: the recording ends, and says how much it could not
// write. Wine maps Z:\dev\full to the Unix device that is always full.
TEST(Recorder, AFullDiskEndsTheRecordingAndCountsWhatWasNotWritten)
{
    Recorder recorder;
    if (!recorder.Start(L"Z:\\dev\\full"))
        GTEST_SKIP() << "no always-full device here";
    for (int i = 0; i < 10; ++i)
        recorder.Write(std::vector<uint8_t>(1000, uint8_t(i)));
    recorder.Stop();
    EXPECT_TRUE(recorder.Failed());
    EXPECT_EQ(recorder.Written() + recorder.Unrecorded(), 10000u);
    EXPECT_GT(recorder.Unrecorded(), 0u);
    EXPECT_NE(recorder.Error(), 0u);
}

// A disk that cannot keep up (here a pipe nobody reads): past the queue's
// bound the recording ends rather than hold memory, or a Stop, for it.
TEST(Recorder, ADiskThatCannotKeepUpEndsTheRecording)
{
    const std::wstring name = L"\\\\.\\pipe\\ferrolink-slow-" + std::to_wstring(GetTickCount64());
    const HANDLE pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096,
                                         0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    Recorder recorder;
    ASSERT_TRUE(recorder.Start(name));
    const std::vector<uint8_t> block(size_t(1) << 20, 0x42);
    const size_t blocks = Recorder::kMaxQueued / block.size() + 8;
    for (size_t i = 0; i < blocks; ++i)
        recorder.Write(block);
    EXPECT_TRUE(recorder.Failed());
    EXPECT_TRUE(recorder.FellBehind());
    CloseHandle(pipe); // the blocked write fails now, and the writer ends
    recorder.Stop();
    EXPECT_EQ(recorder.Written() + recorder.Unrecorded(), blocks * block.size());

    // Blocks of one byte each: what an entry costs besides its byte counts,
    // or a serial line could queue gigabytes of them.
    const std::wstring captureName = name + L".pcapng";
    const HANDLE slow = CreateNamedPipeW(captureName.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                         4096, 0, nullptr);
    ASSERT_NE(slow, INVALID_HANDLE_VALUE);
    Recorder capture;
    ASSERT_TRUE(capture.Start(captureName));
    JournalSession serial;
    serial.link = JournalSession::Link::Serial;
    JournalRecord record;
    record.size = 1;
    size_t written = 0;
    while (!capture.FellBehind() && written < Recorder::kMaxQueued / 64)
        capture.Write(record, &serial, L"", {uint8_t(written++)});
    EXPECT_TRUE(capture.FellBehind()) << written;
    CloseHandle(slow);
    capture.Stop();
}

// A capture made while the link runs, its packets made on the writer's
// thread, is the same file as the export of the same traffic afterwards.
TEST(Recorder, ACaptureRecordedBlockByBlockEqualsTheExport)
{
    Journal journal(size_t(1) << 20, L"");
    JournalSession server;
    server.link = JournalSession::Link::TcpServer;
    server.localPort = 5000;
    journal.BeginSession(1, server);
    const uint64_t t = 1700000000000000;
    const std::vector<uint8_t> hello{'h', 'i'}, big(70000, 0x5A);
    journal.Mark(JournalEvent::ClientOpened, t, 1, 1, L"127.0.0.1:50001");
    journal.Append(TrafficDirection::Received, t + 1, 1, 1, L"127.0.0.1:50001", hello.data(), hello.size());
    journal.Append(TrafficDirection::Sent, t + 2, 1, 0, L"", big.data(), big.size());
    journal.Mark(JournalEvent::ClientClosed, t + 3, 1, 1, L"127.0.0.1:50001");
    journal.Append(TrafficDirection::Received, t + 4, 7, 0, L"", hello.data(), hello.size()); // no session: no packet

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring stem = std::wstring(temp) + L"ferrolink-capture-" + std::to_wstring(GetTickCount64());
    Recorder recorder;
    ASSERT_TRUE(recorder.Start(stem + L"-live.pcapng"));
    for (size_t i = 0; i < journal.RecordCount(); ++i) {
        const JournalRecord& r = journal.Record(i);
        std::vector<uint8_t> bytes(r.size);
        journal.Read(r.offset, bytes.data(), bytes.size());
        recorder.Write(r, journal.Session(r.session), journal.PeerText(r.peer), std::move(bytes));
    }
    recorder.Stop();
    ASSERT_TRUE(WritePcapng(stem + L"-export.pcapng", journal));
    const std::string live = FileText(stem + L"-live.pcapng");
    EXPECT_GT(live.size(), big.size());
    EXPECT_EQ(recorder.Written(), live.size());
    EXPECT_TRUE(live == FileText(stem + L"-export.pcapng"));
    DeleteFileW((stem + L"-live.pcapng").c_str());
    DeleteFileW((stem + L"-export.pcapng").c_str());
}
