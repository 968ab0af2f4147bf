#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <regex>
#include <string>
#include <vector>

// How a message is recognised. The names are the ones the library file
// and the editors use.
enum class MatchKind { Exact, Contains, Hex, Regex };
const wchar_t* MatchKindName(MatchKind kind);
bool MatchKindFromName(const std::wstring& name, MatchKind& kind);

struct ByteSpan {
    size_t from = 0, count = 0;
};

// A message pattern, made once and matched against every message:
// - exact, contains: a text with the escapes \r \n \t \0 \\ \xHH, which
//   the message equals or holds;
// - hex: pairs, "??" for any byte and "*" for any run, for the whole
//   message; each run of "??" and each "*" is a group;
// - regex: an ECMAScript regular expression searched for in the message's
//   bytes (the pattern's own characters as UTF-8), with its groups.
class Pattern {
public:
    // An empty text when it was taken, else what is wrong with it.
    std::wstring Compile(MatchKind kind, const std::wstring& text);
    // Group 0 is what matched: the whole message, or what a search found.
    bool Matches(const uint8_t* data, size_t size, std::vector<ByteSpan>* groups = nullptr) const;
    size_t GroupCount() const { return m_groups; }
    MatchKind Kind() const { return m_kind; }
    const std::wstring& Text() const { return m_text; }
    // `contains "OK\r\n"`, for the lines that say what was awaited.
    std::wstring Describe() const;

    // The library's regex search recurses for each byte it reads, and may
    // backtrack without end: searches run on a thread with a deep stack, no
    // further into a message than this, and one that runs past its time is
    // given up on, the pattern set aside (GaveUp) until it is made again.
    static constexpr size_t kRegexMaxBytes = 64 * 1024;
    static constexpr unsigned long kRegexTimeLimitMs = 250;
    static constexpr size_t kRegexMaxLength = 1000;
    static constexpr int kRegexMaxNesting = 32;
    bool GaveUp() const { return m_gaveUp; }

private:
    bool MatchHex(const uint8_t* data, size_t size, std::vector<ByteSpan>* groups) const;

    MatchKind m_kind = MatchKind::Exact;
    std::wstring m_text;
    std::vector<uint8_t> m_bytes; // exact, contains
    // hex: a byte (0-255), any byte (kAny) or any run (kStar), and the group
    // a wildcard belongs to.
    static constexpr int kAny = -1, kStar = -2;
    struct Unit {
        int value;
        size_t group;
    };
    std::vector<Unit> m_units;
    std::shared_ptr<const std::regex> m_regex;
    size_t m_groups = 0;
    mutable bool m_gaveUp = false;
};
