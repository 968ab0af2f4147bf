#pragma once

#include "engine/TransportEvent.h"

#include <cstdint>
#include <string>
#include <vector>

// The window's log without its controls: the bounded log text, the counters,
// the received-bytes capture, and what the edit control is known to show.
class LogState {
public:
    static constexpr int32_t kTrimAbove = 5000;
    static constexpr int32_t kLinesAfterTrim = 4900;

    // Appends one line (stamp null while time stamps are off). True when the
    // bytes belong in the log's hex view.
    bool Append(TransportEventKind kind, const std::wstring& text, const std::vector<uint8_t>& bytes,
                const SYSTEMTIME* stamp);
    void Clear();

    // What a refresh has to do to bring the edit up to date.
    enum class Refresh { Nothing, Reload, AppendTail };
    Refresh PendingRefresh() const;
    // The part of the text the edit does not show yet, made fit for it.
    std::wstring TailForDisplay() const;
    void MarkShown() { m_shownLogLength = m_logText.size(); }
    void MarkEditEmpty() { m_shownLogLength = 0; }

    std::wstring m_logText;
    int32_t m_logLineCount = 0;
    size_t m_shownLogLength = 0;
    bool m_logDirty = false;
    uint64_t m_rxByteCount = 0;
    uint64_t m_txByteCount = 0;
    std::vector<uint8_t> m_rxCapture;

private:
    void Trim();
};

// An edit control ends its text at the first NUL, so each NUL is shown as
// one visible placeholder; lengths stay equal to the log text's.
constexpr wchar_t kNulPlaceholder = 0x2400; // SYMBOL FOR NULL
std::wstring ForDisplay(std::wstring text);

// "RX: n" / "TX: n".
std::wstring CounterText(const wchar_t* label, uint64_t count);
