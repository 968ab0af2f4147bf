#pragma once

#include "engine/TransportEvent.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// A place in the log: a line by its number since the log began (numbers
// outlive trims, so a place the reader holds stays on its text) and a
// column in that line's shown text.
struct LogPosition {
    uint64_t line = 0;
    size_t column = 0;
    friend bool operator==(const LogPosition& a, const LogPosition& b) { return a.line == b.line && a.column == b.column; }
    friend bool operator!=(const LogPosition& a, const LogPosition& b) { return !(a == b); }
    friend bool operator<(const LogPosition& a, const LogPosition& b)
    {
        return a.line < b.line || (a.line == b.line && a.column < b.column);
    }
};

// One logged happening, kept as it came; its line is made when shown.
struct LogRecord {
    TransportEventKind kind = TransportEventKind::Status;
    bool stamped = true; // time stamps were on when it was logged
    SYSTEMTIME time{};   // local time, with milliseconds
    std::wstring peer;   // the other end, where a link has several
    std::wstring text;   // escape sequences already stripped; control characters kept
    std::vector<uint8_t> bytes; // what a received line was made of, for showing it as hex
    // A received line may leave its bytes to the traffic store (see
    // LogModel::SetTraffic): then `trafficSize` of them start at
    // `trafficAt` there, `bytes` stays empty, and its text, once appended,
    // is made from them again when it is shown, so it must be what they
    // decode to (TrafficText).
    uint64_t trafficAt = 0;
    uint32_t trafficSize = 0;
    uint32_t textLength = 0; // of such a line's text; set by Append
    // A sent line's text holds the bytes that are no text as raw bytes
    // (RawByteChar), these bytes too (its checksum).
    bool rawBytes = false;
    uint32_t binaryFrom = 0, binaryCount = 0;
    // Sent from the Hex face: its text is its bytes as "41 0A " pairs.
    bool hexPairs = false;
    int64_t sinceUs = 0; // after the line logged before it
    uint8_t side = 0;    // a bridge's link it came from or went to (SideMarker)
};

// The text a traffic line of these bytes shows, by the record's kind and
// flags: the one rule a line's text follows, when it is logged and when it
// is made again from the journal.
std::wstring TrafficText(const LogRecord& record, const uint8_t* bytes, size_t count);

enum class LogMove { Left, Right, Up, Down, PageUp, PageDown, LineStart, LineEnd, First, Last };

struct LogShowOptions {
    bool milliseconds = false;
    bool peers = true;
    bool receivedAsHex = false; // received lines as "41 42 0D 0A"
    bool sentAsHex = false;     // and sent ones
    bool sincePrevious = false; // each line's time after the one before, "   +12.345 ms "
};

// How lines are laid out: fixed-pitch cells, the first shown line and column.
struct LogGeometry {
    int lineHeight = 16;
    int charWidth = 8;
    uint64_t topLine = 0;
    size_t leftColumn = 0;
};

// The log without a window: bounded records, the reader's place, selection,
// hit testing, copy and find.
class LogModel {
public:
    struct Limits {
        size_t lines = 100000;
        size_t characters = size_t(64) << 20;
    };

    // Copies up to `count` bytes of the traffic store from `at`; how many.
    using TrafficReader = std::function<size_t(uint64_t at, uint8_t* out, size_t count)>;

    LogModel() = default;
    explicit LogModel(Limits limits) : m_limits(limits) {}
    // Where lines that leave their bytes to the traffic store read them.
    void SetTraffic(TrafficReader read) { m_readTraffic = std::move(read); }

    void Append(LogRecord record);
    void Clear();
    void SetLimits(Limits limits);

    uint64_t FirstLine() const { return m_first; }
    uint64_t EndLine() const { return m_first + m_records.size(); }
    size_t LineCount() const { return m_records.size(); }
    size_t CharacterCount() const { return m_characters; }
    bool Holds(uint64_t line) const { return line >= FirstLine() && line < EndLine(); }
    const LogRecord& Record(uint64_t line) const { return m_records[size_t(line - m_first)]; }

    // The line as saved and copied: stamp, tag, peer, text.
    std::wstring LineText(uint64_t line, const LogShowOptions& options) const
    {
        return LineText(line, options, 0, SIZE_MAX);
    }
    // Only `count` characters of it from column `from`: what a view needs of
    // a long line costs what it shows.
    std::wstring LineText(uint64_t line, const LogShowOptions& options, size_t from, size_t count) const;
    // The line as saved, copied and recorded: raw bytes spelled \xHH.
    std::wstring SavedText(uint64_t line, const LogShowOptions& options) const;
    // The leftmost column from which the line's columns up to `column` fit
    // `cells` cells of the view: a mark takes as many as its name has letters.
    size_t LeftmostShowing(uint64_t line, const LogShowOptions& options, size_t column, size_t cells) const;
    // The left column that scrolling to the right stops at, for a view
    // `columns` cells wide.
    size_t LastLeftColumn(size_t columns, const LogShowOptions& options) const;
    // Every line held, each with CR LF.
    std::wstring AllText(const LogShowOptions& options) const;

    // The first line in view. New lines never move it; a trim that takes the
    // line itself moves it to the first line left.
    uint64_t TopLine() const { return m_top; }
    void SetTopLine(uint64_t line);

    LogPosition Anchor() const { return m_anchor; }
    LogPosition Caret() const { return m_caret; }
    bool HasSelection() const { return m_anchor != m_caret; }
    void SetCaret(LogPosition position, bool extend);
    void SelectAll(const LogShowOptions& options);
    // CR LF between lines, none after the last.
    std::wstring SelectedText(const LogShowOptions& options) const;

    // Keyboard moves of the caret; `pageRows` is how many lines the view shows.
    void Move(LogMove move, bool extend, int pageRows, const LogShowOptions& options);
    // A double click: the run of letters and digits (or of other non-blank
    // characters) around the position.
    void SelectWord(LogPosition at, const LogShowOptions& options);
    // Moves the view as little as needed to show the caret in `rows` lines and
    // `columns` cells.
    void ShowCaret(int rows, int columns, const LogShowOptions& options);
    size_t LeftColumn() const { return m_left; }
    void SetLeftColumn(size_t column) { m_left = std::min(column, m_longest); }
    // The longest line logged since Clear, in characters, however it is
    // shown; at least each line's length.
    size_t LongestLine() const { return m_longest; }
    size_t LineLength(uint64_t line, const LogShowOptions& options) const;

    // Characters of the texts kept of lines whose bytes the traffic store
    // holds, for the benchmarks.
    size_t KeptTextCharacters() const { return m_textsHeld; }

    // Characters made into line text so far: showing the log must cost what
    // is in view, not what is held.
    uint64_t TextMade() const { return m_textMade; }

    // The position under a point of the view's client area.
    LogPosition HitTest(int x, int y, const LogGeometry& geometry, const LogShowOptions& options) const;

    // Selects the next match after the selection (or the caret), wrapping
    // once to the first line. False when there is none.
    bool FindNext(const std::wstring& what, const LogShowOptions& options);

private:
    void TrimToLimits();
    // A line weighs what it would hold of its own, wherever its bytes are,
    // so that the limits keep the same lines either way.
    static size_t Weight(const LogRecord& record)
    {
        return TextLength(record) + record.peer.size() + ByteCount(record) / sizeof(wchar_t);
    }
    static size_t ByteCount(const LogRecord& record)
    {
        return record.trafficSize ? record.trafficSize : record.bytes.size();
    }
    static size_t TextLength(const LogRecord& record)
    {
        return record.trafficSize ? record.textLength : record.text.size();
    }
    // The line's text: its own, or made from the traffic store. Valid until
    // the next text is made.
    const std::wstring& Text(uint64_t line) const;
    // Adds a made text to those kept; the oldest go past the bound.
    const std::wstring& Keep(uint64_t line, std::wstring text) const;
    // Up to `count` of its bytes from the `from`th.
    std::vector<uint8_t> Bytes(const LogRecord& record, size_t from, size_t count) const;
    // The text part of a line: the received bytes as hex pairs when asked.
    static bool ShowsHex(const LogRecord& record, const LogShowOptions& options)
    {
        return (options.receivedAsHex && record.kind == TransportEventKind::Received) ||
               (options.sentAsHex && record.kind == TransportEventKind::Sent && ByteCount(record) > 0);
    }
    LogPosition Clamped(LogPosition position) const;

    Limits m_limits;
    std::deque<LogRecord> m_records;
    uint64_t m_first = 0;
    size_t m_characters = 0;
    uint64_t m_top = 0;
    size_t m_left = 0;
    size_t m_longest = 0;
    uint64_t m_longestLine = 0;
    LogPosition m_anchor;
    LogPosition m_caret;
    mutable uint64_t m_textMade = 0;
    TrafficReader m_readTraffic;
    // The texts of the lines shown or logged last, newest at the back: a
    // flood's lines in view are made once, not on every paint.
    static constexpr size_t kTextsKept = size_t(4) << 20; // characters
    static constexpr size_t kTextsKeptLines = 1024; // more than a screen shows; a look-up walks them
    mutable std::deque<std::pair<uint64_t, std::wstring>> m_texts;
    mutable size_t m_textsHeld = 0;
    // What LastLeftColumn found, and for what.
    struct LastLeft {
        uint64_t line;
        size_t columns;
        bool milliseconds, peers, receivedAsHex, sentAsHex, sincePrevious;
        friend bool operator==(const LastLeft&, const LastLeft&) = default;
    };
    mutable LastLeft m_lastLeftFor{UINT64_MAX, 0, false, false, false, false, false};
    mutable size_t m_lastLeft = 0;
};

