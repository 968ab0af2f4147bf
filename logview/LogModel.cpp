#include "logview/LogModel.h"

#include "logview/LogLine.h"
#include "text/Hex.h"
#include "text/Utf8.h"

#include <algorithm>
#include <cwctype>

void LogModel::Append(LogRecord record)
{
    std::wstring text;
    if (record.trafficSize) {
        record.textLength = uint32_t(record.text.size());
        record.bytes.clear();
        text = std::move(record.text);
        record.text = std::wstring();
    }
    m_characters += Weight(record);
    // Stamp with milliseconds, tag, peer and its two blanks: the longest the
    // line can be shown.
    const size_t longest = 26 + kSincePreviousWidth + 4 + (record.side ? kSideMarkerWidth : 0) + record.peer.size() + 2 + std::max(TextLength(record), 3 * ByteCount(record));
    if (longest > m_longest) {
        m_longest = longest;
        m_longestLine = EndLine();
    }
    const bool refers = record.trafficSize != 0;
    m_records.push_back(std::move(record));
    if (refers) // the newest lines are the likeliest to be shown
        Keep(EndLine() - 1, std::move(text));
    TrimToLimits();
}

const std::wstring& LogModel::Keep(uint64_t line, std::wstring text) const
{
    m_textsHeld += text.size();
    m_texts.emplace_back(line, std::move(text));
    while (m_texts.size() > 1 && (m_textsHeld > kTextsKept || m_texts.size() > kTextsKeptLines)) {
        m_textsHeld -= m_texts.front().second.size();
        m_texts.pop_front();
    }
    return m_texts.back().second;
}

const std::wstring& LogModel::Text(uint64_t line) const
{
    const LogRecord& record = Record(line);
    if (!record.trafficSize)
        return record.text;
    for (auto kept = m_texts.rbegin(); kept != m_texts.rend(); ++kept)
        if (kept->first == line)
            return kept->second;
    const std::vector<uint8_t> bytes = Bytes(record, 0, record.trafficSize);
    std::wstring text = TrafficText(record, bytes.data(), bytes.size());
    // The journal no longer keeps them all: the line says so rather than
    // look empty.
    if (bytes.size() < record.trafficSize)
        text += L"[" + std::to_wstring(record.trafficSize - bytes.size()) + L" bytes no longer kept]";
    return Keep(line, std::move(text));
}

std::wstring TrafficText(const LogRecord& record, const uint8_t* bytes, size_t count)
{
    if (record.hexPairs)
        return count ? HexBytesText(std::vector<uint8_t>(bytes, bytes + count)) + L' ' : std::wstring();
    if (record.rawBytes)
        return StripEscapeSequences(DecodeSentText(bytes, count, record.binaryFrom, record.binaryCount));
    return StripEscapeSequences(DecodeReceivedText(bytes, count));
}

std::vector<uint8_t> LogModel::Bytes(const LogRecord& record, size_t from, size_t count) const
{
    if (!record.trafficSize) {
        from = std::min(from, record.bytes.size());
        count = std::min(count, record.bytes.size() - from);
        return std::vector<uint8_t>(record.bytes.begin() + ptrdiff_t(from), record.bytes.begin() + ptrdiff_t(from + count));
    }
    from = std::min<size_t>(from, record.trafficSize);
    std::vector<uint8_t> bytes(std::min<size_t>(count, record.trafficSize - from));
    const size_t got = m_readTraffic ? m_readTraffic(record.trafficAt + from, bytes.data(), bytes.size()) : 0;
    bytes.resize(got);
    return bytes;
}

void LogModel::Clear()
{
    m_first = EndLine();
    std::deque<LogRecord>().swap(m_records);
    std::deque<std::pair<uint64_t, std::wstring>>().swap(m_texts);
    m_textsHeld = 0;
    m_characters = 0;
    m_top = m_first;
    m_left = m_longest = 0;
    m_longestLine = m_first;
    m_lastLeftFor.line = UINT64_MAX;
    m_anchor = m_caret = LogPosition{m_first, 0};
}

void LogModel::SetLimits(Limits limits)
{
    m_limits = limits;
    TrimToLimits();
}

// The newest lines that fit both limits stay (at least the newest one), and
// every place the reader holds stays on its text or, when its line went,
// moves to the first line left.
void LogModel::TrimToLimits()
{
    const size_t before = m_records.size();
    while (m_records.size() > 1 && (m_records.size() > m_limits.lines || m_characters > m_limits.characters)) {
        m_characters -= Weight(m_records.front());
        m_records.pop_front();
    }
    if (m_records.size() == before)
        return;
    m_first += before - m_records.size();
    m_top = std::max(m_top, m_first);
    m_anchor = Clamped(m_anchor);
    m_caret = Clamped(m_caret);
}

LogPosition LogModel::Clamped(LogPosition position) const
{
    if (position.line < m_first)
        return LogPosition{m_first, 0};
    return position;
}

std::wstring LogModel::LineText(uint64_t line, const LogShowOptions& options, size_t from, size_t count) const
{
    if (!Holds(line) || count == 0)
        return {};
    const LogRecord& record = Record(line);
    std::wstring head;
    if (record.stamped)
        head = FormatStamp(record.time, options.milliseconds);
    if (options.sincePrevious)
        head += FormatSincePrevious(record.sinceUs);
    head += LogTag(record.kind);
    head += SideMarker(record.side);
    if (options.peers && !record.peer.empty())
        head += record.peer + L"  ";
    std::wstring text = from < head.size() ? head.substr(from, count) : std::wstring();
    const size_t bodyFrom = from > head.size() ? from - head.size() : 0;
    if (!ShowsHex(record, options)) {
        const std::wstring& body = Text(line);
        if (bodyFrom < body.size())
            text.append(body, bodyFrom, count - text.size());
    } else {
        // Byte k/3 makes cells k..k+2: two digits and the blank before the next.
        const size_t byteCount = ByteCount(record);
        const size_t bodyLength = byteCount ? 3 * byteCount - 1 : 0;
        if (bodyFrom < bodyLength) {
            const size_t cells = std::min(count - text.size(), bodyLength - bodyFrom);
            text.reserve(text.size() + cells);
            const size_t first = bodyFrom / 3;
            const std::vector<uint8_t> bytes = Bytes(record, first, (bodyFrom + cells + 2) / 3 - first);
            for (size_t k = bodyFrom; k < bodyLength && text.size() < count && k / 3 - first < bytes.size(); ++k) {
                const uint8_t byte = bytes[k / 3 - first];
                text += k % 3 == 0 ? kHexDigits[byte >> 4] : k % 3 == 1 ? kHexDigits[byte & 0x0F] : L' ';
            }
        }
    }
    m_textMade += text.size();
    return text;
}

std::wstring LogModel::SavedText(uint64_t line, const LogShowOptions& options) const
{
    std::wstring text = LineText(line, options);
    return Holds(line) && Record(line).rawBytes ? SpellRawBytes(std::move(text)) : text;
}

size_t LogModel::LeftmostShowing(uint64_t line, const LogShowOptions& options, size_t column, size_t cells) const
{
    if (!Holds(line))
        return column;
    // Each character takes a cell at least: no more than `cells` of them.
    const size_t from = column > cells ? column - cells : 0;
    const std::wstring text = LineText(line, options, from, column - from);
    const bool raw = Record(line).rawBytes;
    size_t left = from + text.size(), used = 0;
    while (left > from && used + MarkCells(text[left - 1 - from], raw) <= cells)
        used += MarkCells(text[--left - from], raw);
    return left;
}

size_t LogModel::LastLeftColumn(size_t columns, const LogShowOptions& options) const
{
    // The longest line's end, and a cell for the caret after it, at the
    // right edge: its marks may make that further right than its length says.
    if (!Holds(m_longestLine))
        return m_longest > columns ? m_longest - columns + 1 : 0;
    // Asked at every refresh: the line, old by then, would be made again
    // from the journal each time.
    const LastLeft key{m_longestLine, columns, options.milliseconds, options.peers, options.receivedAsHex,
                       options.sentAsHex, options.sincePrevious};
    if (!(m_lastLeftFor == key)) {
        m_lastLeftFor = key;
        m_lastLeft = LeftmostShowing(m_longestLine, options, LineLength(m_longestLine, options),
                                     columns > 1 ? columns - 1 : 0);
    }
    return m_lastLeft;
}

std::wstring LogModel::AllText(const LogShowOptions& options) const
{
    std::wstring all;
    for (uint64_t line = FirstLine(); line < EndLine(); ++line)
        all += SavedText(line, options) + L"\r\n";
    return all;
}

void LogModel::SetTopLine(uint64_t line)
{
    const uint64_t last = LineCount() ? EndLine() - 1 : m_first;
    m_top = std::clamp(line, m_first, last);
}

void LogModel::SetCaret(LogPosition position, bool extend)
{
    m_caret = Clamped(position);
    if (LineCount() && m_caret.line >= EndLine())
        m_caret = LogPosition{EndLine() - 1, m_caret.column};
    if (!extend)
        m_anchor = m_caret;
}

void LogModel::SelectAll(const LogShowOptions& options)
{
    if (!LineCount())
        return;
    m_anchor = LogPosition{FirstLine(), 0};
    m_caret = LogPosition{EndLine() - 1, LineLength(EndLine() - 1, options)};
}

std::wstring LogModel::SelectedText(const LogShowOptions& options) const
{
    const LogPosition from = std::min(m_anchor, m_caret);
    const LogPosition to = std::max(m_anchor, m_caret);
    std::wstring out;
    for (uint64_t line = from.line; line <= to.line && Holds(line); ++line) {
        const std::wstring text = LineText(line, options);
        const size_t start = line == from.line ? std::min(from.column, text.size()) : 0;
        const size_t end = line == to.line ? std::min(to.column, text.size()) : text.size();
        if (line != from.line)
            out += L"\r\n";
        if (end > start)
            out += Record(line).rawBytes ? SpellRawBytes(text.substr(start, end - start))
                                         : text.substr(start, end - start);
    }
    return out;
}

LogPosition LogModel::HitTest(int x, int y, const LogGeometry& geometry, const LogShowOptions& options) const
{
    if (!LineCount())
        return LogPosition{m_first, 0};
    const int row = y < 0 ? -1 : y / std::max(geometry.lineHeight, 1);
    const int64_t wanted = int64_t(geometry.topLine) + row;
    const uint64_t line = uint64_t(std::clamp<int64_t>(wanted, int64_t(FirstLine()), int64_t(EndLine() - 1)));
    // A click lands between the two characters nearest to it; a mark is as
    // wide as its cells.
    const int64_t width = std::max(geometry.charWidth, 1);
    const size_t length = LineLength(line, options);
    if (x <= 0 || geometry.leftColumn >= length)
        return LogPosition{line, std::min(geometry.leftColumn, length)};
    const bool raw = Record(line).rawBytes;
    const size_t most = size_t(x / width) + 1; // each character takes a cell at least
    const std::wstring text = LineText(line, options, geometry.leftColumn, most);
    int64_t left = 0;
    size_t column = geometry.leftColumn;
    for (const wchar_t c : text) {
        const int64_t right = left + int64_t(MarkCells(c, raw)) * width;
        if (2 * int64_t(x) < left + right)
            break;
        left = right;
        ++column;
    }
    return LogPosition{line, std::min(column, length)};
}

bool LogModel::FindNext(const std::wstring& what, const LogShowOptions& options)
{
    if (what.empty() || !LineCount())
        return false;
    // After the selection, or one past the caret, as an edit control finds.
    const LogPosition after = HasSelection() ? std::max(m_anchor, m_caret) : LogPosition{m_caret.line, m_caret.column + 1};
    const uint64_t start = std::max(after.line, FirstLine());
    const auto search = [&](uint64_t line, size_t from) {
        const size_t found = LineText(line, options).find(what, from);
        if (found == std::wstring::npos)
            return false;
        m_anchor = LogPosition{line, found};
        m_caret = LogPosition{line, found + what.size()};
        return true;
    };
    for (uint64_t line = start; line < EndLine(); ++line)
        if (search(line, line == after.line ? after.column : 0))
            return true;
    for (uint64_t line = FirstLine(); line <= start && line < EndLine(); ++line)
        if (search(line, 0))
            return true;
    return false;
}

size_t LogModel::LineLength(uint64_t line, const LogShowOptions& options) const
{
    if (!Holds(line))
        return 0;
    const LogRecord& record = Record(line);
    size_t length = record.stamped ? (options.milliseconds ? 26 : 22) : 0;
    if (options.sincePrevious)
        length += kSincePreviousWidth;
    const size_t byteCount = ByteCount(record);
    length += 4 + (ShowsHex(record, options) ? (byteCount ? 3 * byteCount - 1 : 0) : TextLength(record));
    if (options.peers && !record.peer.empty())
        length += record.peer.size() + 2;
    if (record.side)
        length += kSideMarkerWidth;
    return length;
}

void LogModel::Move(LogMove move, bool extend, int pageRows, const LogShowOptions& options)
{
    if (!LineCount())
        return;
    // Without extending, a horizontal move first drops the selection to its
    // side, as an edit control does.
    if (!extend && HasSelection() && (move == LogMove::Left || move == LogMove::Right)) {
        SetCaret(move == LogMove::Left ? std::min(m_anchor, m_caret) : std::max(m_anchor, m_caret), false);
        return;
    }
    LogPosition p = m_caret;
    const uint64_t last = EndLine() - 1;
    const uint64_t page = uint64_t(std::max(pageRows - 1, 1));
    switch (move) {
    case LogMove::Left:
        if (p.column > 0)
            p.column = std::min(p.column, LineLength(p.line, options)) - 1;
        else if (p.line > FirstLine())
            p = LogPosition{p.line - 1, LineLength(p.line - 1, options)};
        break;
    case LogMove::Right:
        if (p.column < LineLength(p.line, options))
            ++p.column;
        else if (p.line < last)
            p = LogPosition{p.line + 1, 0};
        break;
    case LogMove::Up:
        p.line = p.line > FirstLine() ? p.line - 1 : p.line;
        break;
    case LogMove::Down:
        p.line = std::min(p.line + 1, last);
        break;
    case LogMove::PageUp:
        p.line = p.line > FirstLine() + page ? p.line - page : FirstLine();
        break;
    case LogMove::PageDown:
        p.line = std::min(p.line + page, last);
        break;
    case LogMove::LineStart:
        p.column = 0;
        break;
    case LogMove::LineEnd:
        p.column = LineLength(p.line, options);
        break;
    case LogMove::First:
        p = LogPosition{FirstLine(), 0};
        break;
    case LogMove::Last:
        p = LogPosition{last, LineLength(last, options)};
        break;
    }
    p.column = std::min(p.column, LineLength(p.line, options));
    SetCaret(p, extend);
}

void LogModel::SelectWord(LogPosition at, const LogShowOptions& options)
{
    at = Clamped(at);
    if (!Holds(at.line))
        return;
    const std::wstring text = LineText(at.line, options);
    if (text.empty())
        return;
    const size_t index = std::min(at.column, text.size() - 1);
    const auto kind = [](wchar_t c) { return iswalnum(c) || c == L'_' ? 0 : iswspace(c) ? 1 : 2; };
    const int wanted = kind(text[index]);
    size_t start = index, end = index + 1;
    while (start > 0 && kind(text[start - 1]) == wanted)
        --start;
    while (end < text.size() && kind(text[end]) == wanted)
        ++end;
    m_anchor = LogPosition{at.line, start};
    m_caret = LogPosition{at.line, end};
}

void LogModel::ShowCaret(int rows, int columns, const LogShowOptions& options)
{
    const uint64_t visible = uint64_t(std::max(rows, 1));
    if (m_caret.line < m_top)
        m_top = m_caret.line;
    else if (m_caret.line >= m_top + visible)
        m_top = m_caret.line - visible + 1;
    SetTopLine(m_top);
    // In cells: a mark is as wide as its name.
    const size_t width = size_t(std::max(columns, 1));
    if (m_caret.column < m_left)
        m_left = m_caret.column;
    else
        m_left = std::max(m_left, LeftmostShowing(m_caret.line, options, m_caret.column, width));
}
