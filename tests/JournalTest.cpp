#include "capture/Journal.h"
#include "ui/JournalRows.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::wstring TempFolder(const wchar_t* name)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + name + std::to_wstring(GetTickCount64());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

// With a budget of four chunks, most of 3 MB goes to the spill file; every
// range reads back as it was given, in memory, on disk and across the two.
TEST(Journal, SpillsOverItsBudgetAndReadsBackEverything)
{
    const std::wstring folder = TempFolder(L"ferrolink-journal-");
    const std::wstring spill = folder + L"\\spill";
    std::vector<uint8_t> expected;
    {
        Journal journal(4 * ChunkedBytes::kChunk, spill);
        std::mt19937 random(3);
        for (uint32_t i = 0; expected.size() < (3u << 20); ++i) {
            std::vector<uint8_t> block(1 + random() % 20000);
            for (uint8_t& b : block)
                b = uint8_t(random());
            const auto direction = i % 3 ? TrafficDirection::Received : TrafficDirection::Sent;
            const wchar_t* peer = i % 2 ? L"127.0.0.1:1" : L"::1:2";
            journal.Append(direction, 1000 + i, 1, i % 2, peer, block.data(), block.size());
            expected.insert(expected.end(), block.begin(), block.end());
        }
        EXPECT_EQ(journal.Size(), expected.size());
        EXPECT_LE(journal.BytesInMemory(), 4 * ChunkedBytes::kChunk);
        EXPECT_GT(journal.SpilledBytes(), 2u << 20);
        EXPECT_TRUE(Exists(spill));

        const uint64_t boundary = journal.SpilledBytes();
        const uint64_t end = expected.size();
        for (const uint64_t from : {uint64_t(0), boundary - 5000, boundary, end - 10, uint64_t(12345)}) {
            std::vector<uint8_t> got(70000);
            const size_t n = journal.Read(from, got.data(), got.size());
            ASSERT_EQ(n, std::min<size_t>(got.size(), expected.size() - size_t(from))) << from;
            got.resize(n);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin() + ptrdiff_t(from))) << from;
        }
        // Each byte belongs to the record that holds it.
        const size_t last = journal.RecordCount() - 1;
        EXPECT_EQ(journal.RecordAt(0), 0u);
        EXPECT_EQ(journal.RecordAt(expected.size() - 1), last);
        const JournalRecord& middle = journal.Record(journal.RecordAt(boundary));
        EXPECT_LE(middle.offset, boundary);
        EXPECT_GT(middle.offset + middle.size, boundary);
        EXPECT_EQ(journal.PeerText(journal.Record(1).peer), L"127.0.0.1:1");
        EXPECT_EQ(journal.Record(3).direction, TrafficDirection::Sent);

        // Find reads the spill file in windows: matches on either side of
        // the spill boundary and across a window's end are found where they
        // are (six random bytes occur once in 3 MB).
        for (const uint64_t at : {uint64_t(100), (uint64_t(1) << 20) - 2, boundary - 3, boundary + 1000, end - 6}) {
            const std::vector<uint8_t> pattern(expected.begin() + ptrdiff_t(at), expected.begin() + ptrdiff_t(at + 6));
            EXPECT_EQ(journal.Find(pattern, 0), int64_t(at)) << at;
            EXPECT_EQ(journal.Find(pattern, at + 1), -1) << at;
        }
        EXPECT_EQ(journal.Find(std::vector<uint8_t>(7, 0xEE), 0), -1);

        journal.Clear();
        EXPECT_EQ(journal.Size(), 0u);
        EXPECT_EQ(journal.RecordCount(), 0u);
        uint8_t byte = 0x5A;
        journal.Append(TrafficDirection::Received, 1, 2, 0, L"", &byte, 1);
        uint8_t back = 0;
        EXPECT_EQ(journal.Read(0, &back, 1), 1u);
        EXPECT_EQ(back, 0x5A);
    }
    EXPECT_FALSE(Exists(spill)); // deleted with the journal
    RemoveDirectoryW(folder.c_str());
}

// Tiny blocks: the records outgrow the budget long before the bytes do, so
// they spill too, and everything built on them (the record of a byte, the
// hex view's rows) reads the same across the spill.
TEST(Journal, SpillsItsRecordsWhenTheBlocksAreSmall)
{
    const std::wstring folder = TempFolder(L"ferrolink-records-");
    const std::wstring spill = folder + L"\\spill";
    struct Expected {
        uint64_t offset;
        uint32_t size;
        bool sent;
    };
    std::vector<Expected> expected;
    {
        Journal journal(4 * ChunkedBytes::kChunk, spill);
        JournalRows rows(journal, 2);
        std::mt19937 random(5);
        uint64_t size = 0;
        for (uint32_t i = 0; i < 5 * Journal::kPageRecords + 77; ++i) {
            if (i % 7 == 3) { // a client comes or goes: no bytes of its own
                journal.Mark(JournalEvent::ClientOpened, i, 1, i, L"::1:9");
                expected.push_back({size, 0, false});
                continue;
            }
            const std::vector<uint8_t> block(1 + random() % 5, uint8_t(i));
            const bool sent = i % 2 == 0;
            journal.Append(sent ? TrafficDirection::Sent : TrafficDirection::Received, i, 1, 0, L"", block.data(),
                           block.size());
            expected.push_back({size, uint32_t(block.size()), sent});
            size += block.size();
            if (i % 1000 == 0)
                rows.Update(); // as the window's ticks do
        }
        rows.Update();
        ASSERT_EQ(journal.RecordCount(), expected.size());
        EXPECT_LE(journal.RecordsInMemory(), 2 * Journal::kPageRecords);
        EXPECT_TRUE(Exists(spill + L".records"));

        uint64_t rowCount = 0;
        for (size_t i = 0; i < expected.size(); i += 1 + i % 5) {
            const JournalRecord r = journal.Record(i);
            ASSERT_EQ(r.offset, expected[i].offset) << i;
            ASSERT_EQ(r.size, expected[i].size) << i;
            ASSERT_EQ(r.timeUs, i) << i;
        }
        // Every byte: its record, its row, and the row's place and colour.
        for (size_t i = 0; i < expected.size(); ++i) {
            const Expected& e = expected[i];
            for (uint32_t k = 0; k < e.size; ++k) {
                ASSERT_EQ(journal.RecordAt(e.offset + k), i) << i;
                const uint64_t row = rows.RowOf(e.offset + k);
                ASSERT_EQ(row, rowCount + k / 2) << i;
                const HexRows::Row shown = rows.At(row);
                ASSERT_EQ(shown.start, e.offset + k / 2 * 2) << i;
                ASSERT_EQ(shown.sent, e.sent) << i;
            }
            rowCount += (e.size + 1) / 2;
        }
        EXPECT_EQ(rows.RowCount(), rowCount);
        EXPECT_EQ(rows.ByteCount(), size);

        journal.Clear();
        rows.Update();
        EXPECT_EQ(journal.RecordCount(), 0u);
        EXPECT_EQ(rows.RowCount(), 0u);
        const uint8_t byte = 1;
        journal.Append(TrafficDirection::Sent, 1, 1, 0, L"", &byte, 1);
        rows.Update();
        EXPECT_EQ(journal.Record(0).offset, 0u);
        EXPECT_TRUE(rows.At(0).sent);
    }
    EXPECT_FALSE(Exists(spill + L".records")); // deleted with the journal
    RemoveDirectoryW(folder.c_str());

    // Before the window gives it a folder, a journal keeps its records.
    Journal nowhere(ChunkedBytes::kChunk, L"");
    for (size_t i = 0; i < 3 * Journal::kPageRecords; ++i)
        nowhere.Mark(JournalEvent::ClientOpened, i, 1, 1, L"");
    EXPECT_EQ(nowhere.RecordsInMemory(), nowhere.RecordCount());
    EXPECT_FALSE(Exists(L".records"));
}

// A spill file that cannot be made (a full disk, a folder gone) must not
// lose a byte: the journal keeps them in memory and says so.
// A spill that cannot be written, or a file at its cap, leaves memory
// within its budget: every record stays, the newest bytes read back, the
// oldest are gone (they read as nothing, and a search passes over them).
TEST(Journal, ASpillThatFailsOrIsFullForgetsTheOldestBytesAndKeepsTheRecords)
{
    std::vector<uint8_t> block(50000);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = uint8_t(i * 7);
    const std::vector<uint8_t> mark = {'F', 'I', 'N', 'D', '!'};
    const std::wstring folder = TempFolder(L"ferrolink-journal-cap-");
    struct Case {
        std::wstring spill;
        uint64_t diskCap;
        Journal::Forgetting why;
    } cases[] = {{L"Z:\\no\\such\\folder\\spill", UINT64_MAX, Journal::Forgetting::SpillFailed},
                 {folder + L"\\capped", 4 * ChunkedBytes::kChunk, Journal::Forgetting::DiskCap}};
    for (const Case& c : cases) {
        Journal journal(4 * ChunkedBytes::kChunk, c.spill);
        journal.SetDiskCap(c.diskCap);
        journal.Append(TrafficDirection::Received, 0, 1, 0, L"", mark.data(), mark.size()); // soon gone, or on disk
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(journal.Append(TrafficDirection::Received, 0, 1, 0, L"", block.data(), block.size()));
        journal.Append(TrafficDirection::Sent, 0, 1, 0, L"", mark.data(), mark.size());
        EXPECT_EQ(journal.Forgets(), c.why);
        EXPECT_EQ(journal.RecordCount(), 102u);
        EXPECT_LE(journal.BytesInMemory(), 4 * ChunkedBytes::kChunk);
        EXPECT_LE(journal.DiskEnd(), std::min<uint64_t>(c.diskCap, journal.Size()));
        EXPECT_EQ(journal.ForgottenBytes(), journal.SpilledBytes() - journal.DiskEnd());
        EXPECT_GT(journal.ForgottenBytes(), 4'000'000u);

        const JournalRecord last = journal.Record(100);
        std::vector<uint8_t> got(block.size());
        ASSERT_EQ(journal.Read(last.offset, got.data(), got.size()), got.size());
        EXPECT_EQ(got, block);
        const JournalRecord gone = journal.Record(50);
        EXPECT_FALSE(journal.IsKept(gone.offset));
        EXPECT_EQ(journal.Read(gone.offset, got.data(), got.size()), 0u);
        // The first mark is on disk when the file took anything, else gone;
        // the second is found either way, past the bytes in between.
        const int64_t first = journal.Find(mark, 0);
        EXPECT_EQ(first, c.why == Journal::Forgetting::DiskCap ? 0 : int64_t(journal.Size() - mark.size()));
        EXPECT_EQ(journal.Find(mark, 1), int64_t(journal.Size() - mark.size()));
        journal.Clear();
        EXPECT_EQ(journal.Forgets(), Journal::Forgetting::No);
        EXPECT_EQ(journal.ForgottenBytes(), 0u);
    }
}

// A crashed run's folder goes at the next start; a running copy's stays.
TEST(Journal, StaleFoldersAreRemovedAndLiveOnesKept)
{
    const std::wstring parent = TempFolder(L"ferrolink-settings-");
    const std::wstring stale = parent + L"\\journal-999999";
    CreateDirectoryW(stale.c_str(), nullptr);
    const HANDLE leftover =
        CreateFileW((stale + L"\\spill").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(leftover);
    {
        JournalFolder live(parent);
        ASSERT_TRUE(Exists(live.Path()));
        RemoveStaleJournalFolders(parent);
        EXPECT_FALSE(Exists(stale));
        EXPECT_TRUE(Exists(live.Path()));
        Journal journal(ChunkedBytes::kChunk, live.Path() + L"\\spill");
        const std::vector<uint8_t> block(3 * ChunkedBytes::kChunk, 1);
        journal.Append(TrafficDirection::Sent, 0, 1, 0, L"", block.data(), block.size());
        EXPECT_GT(journal.SpilledBytes(), 0u);
    }
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((parent + L"\\journal-*").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE); // this run's went with it
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    RemoveDirectoryW(parent.c_str());
}
