#include "logview/LogModel.h"

#include "logview/LogLine.h"

#include <algorithm>

wchar_t VisibleMark(wchar_t c)
{
    if (c < 0x20)
        return wchar_t(0x2400 + c);
    return c == 0x7F ? wchar_t(0x2421) : c;
}

void LogModel::Append(LogRecord record)
{
    m_characters += Weight(record);
    m_records.push_back(std::move(record));
    TrimToLimits();
}

void LogModel::Clear()
{
    m_first = EndLine();
    std::deque<LogRecord>().swap(m_records);
    m_characters = 0;
    m_top = m_first;
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

std::wstring LogModel::LineText(uint64_t line, const LogShowOptions& options) const
{
    if (!Holds(line))
        return {};
    const LogRecord& record = Record(line);
    std::wstring text;
    if (record.stamped)
        text = FormatStamp(record.time, options.milliseconds);
    text += LogTag(record.kind);
    if (options.peers && !record.peer.empty())
        text += record.peer + L"  ";
    text += record.text;
    return text;
}

std::wstring LogModel::ShownText(uint64_t line, const LogShowOptions& options) const
{
    std::wstring text = LineText(line, options);
    std::transform(text.begin(), text.end(), text.begin(), VisibleMark);
    return text;
}

std::wstring LogModel::AllText(const LogShowOptions& options) const
{
    std::wstring all;
    for (uint64_t line = FirstLine(); line < EndLine(); ++line)
        all += LineText(line, options) + L"\r\n";
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
    m_caret = LogPosition{EndLine() - 1, LineText(EndLine() - 1, options).size()};
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
            out.append(text, start, end - start);
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
    // A click lands between the two cells nearest to it.
    const int width = std::max(geometry.charWidth, 1);
    const size_t cell = x <= 0 ? 0 : size_t((x + width / 2) / width);
    const size_t column = std::min(geometry.leftColumn + cell, LineText(line, options).size());
    return LogPosition{line, column};
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
