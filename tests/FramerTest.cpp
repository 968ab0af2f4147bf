#include "framing/Framer.h"
#include "text/Hex.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

constexpr uint64_t kMs = 1000;

struct Step {
    uint64_t atMs;
    std::string bytes; // empty: a Tick at that time
};

struct Out {
    std::string bytes;
    uint64_t firstMs;
    bool operator==(const Out&) const = default;
};

std::ostream& operator<<(std::ostream& s, const Out& o)
{
    return s << testing::PrintToString(o.bytes) << "@" << o.firstMs;
}

std::vector<Out> Frame(const FramingOptions& options, const std::vector<Step>& steps)
{
    Framer framer(options);
    std::vector<FramedMessage> messages;
    for (const Step& step : steps) {
        if (step.bytes.empty())
            framer.Tick(step.atMs * kMs, messages);
        else
            framer.Add(reinterpret_cast<const uint8_t*>(step.bytes.data()), step.bytes.size(), step.atMs * kMs,
                       messages);
    }
    std::vector<Out> out;
    for (const FramedMessage& m : messages)
        out.push_back({std::string(m.bytes.begin(), m.bytes.end()), m.firstByteUs / kMs});
    return out;
}

FramingOptions Mode(FramingMode mode)
{
    FramingOptions options;
    options.mode = mode;
    return options;
}

} // namespace

// Each mode over messages split across reads: where it cuts, and the time
// each message carries, that of its first byte.
TEST(Framer, EachModeCutsWhereItSaysAndStampsTheFirstByte)
{
    EXPECT_EQ(Frame(Mode(FramingMode::AsReceived), {{0, "ab"}, {5, "c\n"}}),
              (std::vector<Out>{{"ab", 0}, {"c\n", 5}}));

    // LF, CR LF and a lone CR each end a line; a CR that ends a read waits
    // 50 ms for its LF.
    EXPECT_EQ(Frame(Mode(FramingMode::Lines), {{0, "ab\r"}, {10, "\ncd\n"}, {20, "e\rf"}, {30, "g\r"}, {79, ""}, {80, ""}}),
              (std::vector<Out>{{"ab\r\n", 0}, {"cd\n", 10}, {"e\r", 20}, {"fg\r", 20}}));

    FramingOptions etx = Mode(FramingMode::Delimiter);
    etx.delimiter = {0x03};
    EXPECT_EQ(Frame(etx, {{0, "\x02" "ab\x03\x02" "c"}, {7, "d\x03"}}),
              (std::vector<Out>{{"\x02" "ab\x03", 0}, {"\x02" "cd\x03", 0}}));
    FramingOptions crlf = Mode(FramingMode::Delimiter); // the default delimiter, split over two reads
    EXPECT_EQ(Frame(crlf, {{0, "A\r"}, {3, "\nB\r"}, {4, "\r\n"}}), (std::vector<Out>{{"A\r\n", 0}, {"B\r\r\n", 3}}));

    FramingOptions slow = Mode(FramingMode::IdleGap); // a gap longer than the flush time holds
    slow.idleGapUs = 2000000;
    EXPECT_EQ(Frame(slow, {{0, "a"}, {1900, "b"}, {3899, ""}, {3900, ""}}), (std::vector<Out>{{"ab", 0}}));

    FramingOptions gap = Mode(FramingMode::IdleGap); // 20 ms
    EXPECT_EQ(Frame(gap, {{0, "\x01\x03"}, {5, "\x02"}, {19, "\x04"}, {40, "\x01"}, {59, ""}, {60, ""}}),
              (std::vector<Out>{{"\x01\x03\x02\x04", 0}, {"\x01", 40}}));

    FramingOptions fixed = Mode(FramingMode::FixedLength);
    fixed.fixedLength = 4;
    EXPECT_EQ(Frame(fixed, {{0, "abcdef"}, {9, "ghijklmn"}}),
              (std::vector<Out>{{"abcd", 0}, {"efgh", 0}, {"ijkl", 9}}));
}

// A message that never completes is shown once no byte has come for the
// flush time, and not before.
TEST(Framer, APartialMessageIsShownAfterTheFlushTime)
{
    for (const FramingMode mode : {FramingMode::Lines, FramingMode::Delimiter, FramingMode::FixedLength}) {
        FramingOptions options = Mode(mode);
        options.fixedLength = 100;
        EXPECT_EQ(Frame(options, {{0, "part"}, {300, "ial"}, {799, ""}}), std::vector<Out>{}) << int(mode);
        EXPECT_EQ(Frame(options, {{0, "part"}, {300, "ial"}, {800, ""}}), (std::vector<Out>{{"partial", 0}}))
            << int(mode);
        Framer framer(options);
        std::vector<FramedMessage> out;
        framer.Add(reinterpret_cast<const uint8_t*>("x"), 1, 7 * kMs, out);
        EXPECT_EQ(framer.DueUs(), 507 * kMs);
    }
}

// Whatever the reads and the times, the messages and the held rest are the
// bytes that came, in order, each once.
TEST(Framer, NoByteIsLostOrShownTwice)
{
    std::mt19937 random(7);
    FramingOptions options[5];
    for (int mode = 0; mode < 5; ++mode)
        options[mode].mode = FramingMode(mode);
    options[2].delimiter = {0x0D, 0x0A};
    options[4].fixedLength = 7;
    for (const FramingOptions& o : options) {
        Framer framer(o);
        std::vector<FramedMessage> out;
        std::vector<uint8_t> sent;
        uint64_t now = 0;
        for (int i = 0; i < 2000; ++i) {
            std::vector<uint8_t> block(random() % 40 + 1);
            for (uint8_t& b : block)
                b = "ab\r\n\x03"[random() % 5];
            now += random() % 30000;
            framer.Add(block.data(), block.size(), now, out);
            if (random() % 4 == 0)
                framer.Tick(now + random() % 600000, out);
            sent.insert(sent.end(), block.begin(), block.end());
        }
        framer.Flush(out);
        std::vector<uint8_t> shown;
        uint64_t lastFirst = 0;
        for (const FramedMessage& m : out) {
            EXPECT_FALSE(m.bytes.empty());
            EXPECT_GE(m.firstByteUs, lastFirst); // in order
            lastFirst = m.firstByteUs;
            shown.insert(shown.end(), m.bytes.begin(), m.bytes.end());
        }
        EXPECT_EQ(shown, sent) << int(o.mode);
    }
}

// A message read back from the store where its blocks were kept: only when
// they lie there one after the other.
TEST(Framer, AMessageIsStoredInOneRunOnlyWhenItsBlocksFollowEachOther)
{
    const auto stored = [](uint64_t secondAt) {
        Framer framer(Mode(FramingMode::Lines));
        std::vector<FramedMessage> out;
        framer.Add(reinterpret_cast<const uint8_t*>("ab\r"), 3, 0, out, 100);
        framer.Add(reinterpret_cast<const uint8_t*>("\ncd\nef"), 7, 0, out, secondAt);
        framer.Add(reinterpret_cast<const uint8_t*>("\n"), 1, 0, out, secondAt + 7);
        std::vector<uint64_t> at;
        for (const FramedMessage& m : out)
            at.push_back(m.storedAt);
        return at;
    };
    EXPECT_EQ(stored(103), (std::vector<uint64_t>{100, 104, 107}));
    // Something else was stored between the blocks (a sent payload).
    EXPECT_EQ(stored(110), (std::vector<uint64_t>{FramedMessage::kNotStored, 111, 114}));
}

// Modbus RTU: 3.5 character times, at least 1750 µs above 19200 baud, or
// the gap asked for when that is longer.
TEST(Framer, SerialGapFollowsTheModbusRule)
{
    EXPECT_EQ(SerialIdleGapUs(0, 9600, 8, false, 0), 3646u);    // 8N1: 10 bits a character
    EXPECT_EQ(SerialIdleGapUs(0, 9600, 8, true, 0), 4011u);     // 8E1: 11 bits
    EXPECT_EQ(SerialIdleGapUs(0, 9600, 8, false, 2), 4011u);    // 8N2: 11 bits
    EXPECT_EQ(SerialIdleGapUs(0, 1200, 8, false, 0), 29167u);
    EXPECT_EQ(SerialIdleGapUs(0, 115200, 8, false, 0), 1750u);
    EXPECT_EQ(SerialIdleGapUs(20000, 9600, 8, false, 0), 20000u);
    EXPECT_EQ(SerialIdleGapUs(20000, 1200, 8, false, 0), 29167u);

    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ParseHexBytes(L"0D 0a", bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x0D, 0x0A}));
    EXPECT_TRUE(ParseHexBytes(L"03", bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x03}));
    EXPECT_FALSE(ParseHexBytes(L"0 3", bytes));
    EXPECT_FALSE(ParseHexBytes(L"0D0", bytes));
    EXPECT_FALSE(ParseHexBytes(L"\\r", bytes));
}
