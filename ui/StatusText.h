#pragma once

#include "framework/Window.h"

#include <cstdint>
#include <string>

// What the status text beside Connect shows, decided without a window. The
// link's state is what it shows at rest. Others borrow it: a passing
// message (a search that found nothing, a refusal) for a few seconds or
// until it is given back, the byte under the pointer until the pointer
// leaves, and a file's progress while it runs. The newest borrower shows.
class StatusLine {
public:
    static constexpr uint64_t kPassingMs = 5000;

    void SetLink(std::wstring text) { m_link = std::move(text); }
    // Shown until `untilMs` on the caller's clock, or until given back.
    void Pass(std::wstring text, uint64_t untilMs);
    void EndPass(const std::wstring& text);
    // Empty: the pointer left.
    void Point(std::wstring text);
    // Empty: the file is done.
    void SetProgress(std::wstring text);

    const std::wstring& Shown(uint64_t nowMs) const;

private:
    struct Borrowed {
        std::wstring text;
        uint64_t order = 0; // the newest borrower wins
    };
    std::wstring m_link = L"Idle";
    Borrowed m_passing, m_pointed, m_progress;
    uint64_t m_passingUntil = 0;
    uint64_t m_borrows = 0;
};

// The status text control and its one owner.
class StatusText {
public:
    void Attach(Window control) { m_control = control; }
    void SetLink(std::wstring text);
    // For kPassingMs, or as long as `ms`.
    void Pass(std::wstring text, uint64_t ms = StatusLine::kPassingMs);
    void EndPass(const std::wstring& text);
    void Point(std::wstring text);
    void SetProgress(std::wstring text);
    // Once a tick: a passing message whose time is up gives the text back.
    void Update();

private:
    StatusLine m_line;
    Window m_control;
    std::wstring m_shown;
    bool m_known = false; // the control is known to show `m_shown`
};
