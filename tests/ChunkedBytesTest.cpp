#include "capture/ChunkedBytes.h"

#include <gtest/gtest.h>

#include <random>

// Against a plain vector: appends of every size, drops from the front and
// searches, across chunk boundaries and after chunks are freed.
TEST(ChunkedBytes, HoldsWhatAVectorWouldAcrossChunks)
{
    std::mt19937 random(7);
    ChunkedBytes store;
    std::vector<uint8_t> expected;
    const size_t chunk = ChunkedBytes::kChunk;
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> block(random() % (chunk + chunk / 2));
        for (uint8_t& b : block)
            b = uint8_t(random() % 4); // few values: many partial matches
        store.Append(block);
        expected.insert(expected.end(), block.begin(), block.end());
        if (round % 3 == 0) {
            const size_t drop = std::min<size_t>(random() % (2 * chunk), expected.size());
            store.DropFront(drop);
            expected.erase(expected.begin(), expected.begin() + ptrdiff_t(drop));
        }
        ASSERT_EQ(store.size(), expected.size());
        ASSERT_LE(store.Held(), expected.size() + 2 * chunk); // emptied chunks are freed
        if (expected.empty())
            continue;
        const size_t at = random() % expected.size();
        ASSERT_EQ(store[at], expected[at]);
        const std::vector<uint8_t> pattern(expected.begin() + ptrdiff_t(at),
                                           expected.begin() + ptrdiff_t(std::min(expected.size(), at + 5)));
        const size_t from = random() % expected.size();
        const auto hit = std::search(expected.begin() + ptrdiff_t(from), expected.end(), pattern.begin(), pattern.end());
        ASSERT_EQ(store.Find(pattern, from), hit == expected.end() ? -1 : int64_t(hit - expected.begin()));
    }
    EXPECT_EQ(store.Copy(), expected);
    EXPECT_EQ(store.Copy(chunk - 3, 10), std::vector<uint8_t>(expected.begin() + ptrdiff_t(chunk - 3),
                                                              expected.begin() + ptrdiff_t(chunk + 7)));
    EXPECT_EQ(store.Find({9}, 0), -1);

    // A match that straddles two chunks.
    ChunkedBytes straddle;
    straddle.Append(std::vector<uint8_t>(chunk - 2, 0));
    straddle.Append({'a', 'b', 'c', 'd'});
    EXPECT_EQ(straddle.Find({'b', 'c', 'd'}, 0), int64_t(chunk - 1));
    EXPECT_EQ(straddle.Find({'b', 'c', 'd'}, chunk), -1);

    store.Clear();
    EXPECT_TRUE(store.empty());
    EXPECT_EQ(store.Held(), 0u);
}
