#include "automation/Pattern.h"

#include "text/Hex.h"
#include "text/Payload.h"
#include "text/Utf8.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

namespace {

const wchar_t* const kKindNames[] = {L"exact", L"contains", L"hex", L"regex"};

// Room for the deepest search of kRegexMaxBytes bytes, reserved, not committed.
constexpr SIZE_T kDeepStackBytes = SIZE_T(512) << 20;

// One search, with a copy of its bytes: a search given up on is finished by
// its thread alone, long after the message is gone.
struct SearchJob {
    std::shared_ptr<const std::regex> regex;
    std::string bytes;
    bool matched = false;
    std::vector<ByteSpan> spans; // each group's; count SIZE_MAX: it took no part
};

// The thread searches are run on, one at a time, for the window's thread.
// A search that runs past its time (a pattern that backtracks without end)
// is left to its thread, which ends once it is done; the next gets a new one.
struct Searcher {
    std::mutex lock;
    std::shared_ptr<SearchJob> job;
    HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    bool abandoned = false;
    ~Searcher()
    {
        CloseHandle(ready);
        CloseHandle(done);
    }
};

DWORD WINAPI SearchThread(void* parameter)
{
    // The thread holds its searcher: a window that gave up on it has let it go.
    std::shared_ptr<Searcher>* held = static_cast<std::shared_ptr<Searcher>*>(parameter);
    const std::shared_ptr<Searcher> searcher = *held;
    delete held;
    for (;;) {
        WaitForSingleObject(searcher->ready, INFINITE);
        std::shared_ptr<SearchJob> job;
        {
            std::lock_guard<std::mutex> guard(searcher->lock);
            if (searcher->abandoned && !searcher->job)
                break;
            job = std::move(searcher->job);
        }
        if (job) {
            try {
                std::cmatch found;
                const char* begin = job->bytes.data();
                job->matched = std::regex_search(begin, begin + job->bytes.size(), found, *job->regex);
                for (size_t i = 0; job->matched && i < found.size(); ++i)
                    job->spans.push_back(found[i].matched ? ByteSpan{size_t(found[i].first - begin),
                                                                     size_t(found[i].length())}
                                                          : ByteSpan{0, SIZE_MAX});
            } catch (...) {
                job->matched = false; // too complex for the library, or out of memory: no match
            }
            SetEvent(searcher->done);
        }
        std::lock_guard<std::mutex> guard(searcher->lock);
        if (searcher->abandoned)
            break;
    }
    return 0;
}

std::shared_ptr<Searcher>& CurrentSearcher()
{
    static std::shared_ptr<Searcher> searcher;
    return searcher;
}

// False when the search ran past its time and was given up on.
bool SearchInTime(const std::shared_ptr<SearchJob>& job)
{
    std::shared_ptr<Searcher>& searcher = CurrentSearcher();
    if (!searcher) {
        auto made = std::make_shared<Searcher>();
        auto* held = new std::shared_ptr<Searcher>(made);
        const HANDLE thread = CreateThread(nullptr, kDeepStackBytes, SearchThread, held,
                                           STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (!thread) {
            delete held;
            return true; // no search: no match
        }
        CloseHandle(thread);
        searcher = made;
    }
    {
        std::lock_guard<std::mutex> guard(searcher->lock);
        searcher->job = job;
    }
    SetEvent(searcher->ready);
    if (WaitForSingleObject(searcher->done, Pattern::kRegexTimeLimitMs) == WAIT_OBJECT_0)
        return true;
    {
        std::lock_guard<std::mutex> guard(searcher->lock);
        searcher->abandoned = true;
    }
    SetEvent(searcher->ready); // it ends once its search does
    searcher.reset();
    return false;
}

} // namespace

const wchar_t* MatchKindName(MatchKind kind)
{
    return kKindNames[size_t(kind)];
}

bool MatchKindFromName(const std::wstring& name, MatchKind& kind)
{
    for (size_t i = 0; i < std::size(kKindNames); ++i)
        if (name == kKindNames[i]) {
            kind = MatchKind(i);
            return true;
        }
    return false;
}

std::wstring Pattern::Compile(MatchKind kind, const std::wstring& text)
{
    m_kind = kind;
    m_text = text;
    m_bytes.clear();
    m_units.clear();
    m_regex.reset();
    m_groups = 0;
    m_gaveUp = false;
    switch (kind) {
    case MatchKind::Exact:
    case MatchKind::Contains: {
        Unescaped expanded = ExpandEscapes(text);
        if (!expanded.problem.empty())
            return L"The escape in \"" + text + L"\" is not one of \\r \\n \\t \\0 \\\\ \\xHH.";
        if (expanded.bytes.empty() && kind == MatchKind::Contains)
            return L"A \"contains\" pattern needs at least one byte.";
        m_bytes = std::move(expanded.bytes);
        return L"";
    }
    case MatchKind::Hex: {
        bool inRun = false; // the last unit was a "??" of the group being made
        for (size_t i = 0; i < text.size();) {
            const wchar_t c = text[i];
            if (c == L' ' || c == L',' || c == L'\t') {
                ++i;
                continue;
            }
            if (c == L'*') {
                m_units.push_back({kStar, ++m_groups});
                inRun = false;
                ++i;
                continue;
            }
            if (c == L'?' && i + 1 < text.size() && text[i + 1] == L'?') {
                if (!inRun)
                    ++m_groups;
                m_units.push_back({kAny, m_groups});
                inRun = true;
                i += 2;
                continue;
            }
            const int high = HexValue(c);
            const int low = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
            if (high < 0 || low < 0)
                return L"\"" + text + L"\" is not hex pairs, \"??\" and \"*\" (at character " +
                       std::to_wstring(i + 1) + L").";
            m_units.push_back({high * 16 + low, 0});
            inRun = false;
            i += 2;
        }
        if (m_units.empty())
            return L"A hex pattern needs at least one pair, \"??\" or \"*\".";
        return L"";
    }
    case MatchKind::Regex: {
        // The library makes a pattern by recursion too: its depth is bounded.
        if (text.size() > kRegexMaxLength)
            return L"A regular expression is at most " + std::to_wstring(kRegexMaxLength) + L" characters long.";
        int depth = 0, deepest = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == L'\\')
                ++i;
            else if (text[i] == L'(')
                deepest = std::max(deepest, ++depth);
            else if (text[i] == L')')
                --depth;
        }
        if (deepest > kRegexMaxNesting)
            return L"A regular expression nests its groups at most " + std::to_wstring(kRegexMaxNesting) + L" deep.";
        const std::vector<uint8_t> utf8 = EncodeUtf8(text);
        try {
            m_regex = std::make_shared<const std::regex>(std::string(utf8.begin(), utf8.end()),
                                                         std::regex::ECMAScript);
        } catch (const std::regex_error& error) {
            return L"\"" + text + L"\" is not a regular expression: " +
                   DecodeReceivedText(reinterpret_cast<const uint8_t*>(error.what()), strlen(error.what())) + L".";
        }
        m_groups = m_regex->mark_count();
        return L"";
    }
    }
    return L"";
}

bool Pattern::Matches(const uint8_t* data, size_t size, std::vector<ByteSpan>* groups) const
{
    if (groups)
        groups->assign(m_groups + 1, ByteSpan{});
    switch (m_kind) {
    case MatchKind::Exact:
        if (size != m_bytes.size() || !std::equal(m_bytes.begin(), m_bytes.end(), data))
            return false;
        if (groups)
            (*groups)[0] = {0, size};
        return true;
    case MatchKind::Contains: {
        const uint8_t* found = std::search(data, data + size, m_bytes.begin(), m_bytes.end());
        if (found == data + size)
            return false;
        if (groups)
            (*groups)[0] = {size_t(found - data), m_bytes.size()};
        return true;
    }
    case MatchKind::Hex:
        return MatchHex(data, size, groups);
    case MatchKind::Regex: {
        if (!m_regex)
            return false;
        if (m_gaveUp)
            return false;
        auto job = std::make_shared<SearchJob>();
        job->regex = m_regex;
        job->bytes.assign(reinterpret_cast<const char*>(data), std::min(size, kRegexMaxBytes));
        if (!SearchInTime(job)) {
            m_gaveUp = true;
            return false;
        }
        if (!job->matched)
            return false;
        if (groups)
            for (size_t i = 0; i < job->spans.size() && i < groups->size(); ++i)
                if (job->spans[i].count != SIZE_MAX)
                    (*groups)[i] = job->spans[i];
        return true;
    }
    }
    return false;
}

// A glob over bytes: on a mismatch the last "*" takes one byte more.
bool Pattern::MatchHex(const uint8_t* data, size_t size, std::vector<ByteSpan>* groups) const
{
    const size_t units = m_units.size();
    std::vector<size_t> at(units + 1, 0); // where each unit began matching
    size_t p = 0, s = 0;
    size_t starUnit = SIZE_MAX, starTaken = 0;
    while (s < size) {
        if (p < units && m_units[p].value != kStar && (m_units[p].value == kAny || m_units[p].value == data[s])) {
            at[p++] = s++;
        } else if (p < units && m_units[p].value == kStar) {
            starUnit = p;
            at[p++] = s;
            starTaken = s;
        } else if (starUnit != SIZE_MAX) {
            p = starUnit + 1;
            s = ++starTaken;
        } else {
            return false;
        }
    }
    while (p < units && m_units[p].value == kStar)
        at[p++] = s;
    if (p != units)
        return false;
    at[units] = size;
    if (!groups)
        return true;
    (*groups)[0] = {0, size};
    for (size_t u = 0; u < units; ++u) {
        const Unit& unit = m_units[u];
        if (unit.value >= 0)
            continue;
        ByteSpan& group = (*groups)[unit.group];
        // A run of "??" spans from its first unit to its last.
        if (unit.value == kAny && group.count > 0)
            group.count = at[u] + 1 - group.from;
        else
            group = {at[u], unit.value == kAny ? 1 : at[u + 1] - at[u]};
    }
    return true;
}

std::wstring Pattern::Describe() const
{
    return std::wstring(MatchKindName(m_kind)) + L" \"" + m_text + L"\"";
}
