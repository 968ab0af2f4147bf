#include "ui/StatusText.h"

#include <windows.h>

void StatusLine::Pass(std::wstring text, uint64_t untilMs)
{
    m_passing = {std::move(text), ++m_borrows};
    m_passingUntil = untilMs;
}

void StatusLine::EndPass(const std::wstring& text)
{
    if (m_passing.text == text)
        m_passing = {};
}

void StatusLine::Point(std::wstring text)
{
    // A pointer that stays on bytes keeps its place among the borrowers.
    const uint64_t order = !m_pointed.text.empty() && !text.empty() ? m_pointed.order : ++m_borrows;
    m_pointed = {std::move(text), order};
}

void StatusLine::SetProgress(std::wstring text)
{
    const uint64_t order = !m_progress.text.empty() && !text.empty() ? m_progress.order : ++m_borrows;
    m_progress = {std::move(text), order};
}

const std::wstring& StatusLine::Shown(uint64_t nowMs) const
{
    const Borrowed* shown = nullptr;
    const auto consider = [&](const Borrowed& b) {
        if (!b.text.empty() && (!shown || b.order > shown->order))
            shown = &b;
    };
    if (nowMs < m_passingUntil)
        consider(m_passing);
    consider(m_pointed);
    consider(m_progress);
    return shown ? shown->text : m_link;
}

void StatusText::SetLink(std::wstring text)
{
    m_line.SetLink(std::move(text));
    Update();
}

void StatusText::Pass(std::wstring text, uint64_t ms)
{
    m_line.Pass(std::move(text), GetTickCount64() + ms);
    Update();
}

void StatusText::EndPass(const std::wstring& text)
{
    m_line.EndPass(text);
    Update();
}

void StatusText::Point(std::wstring text)
{
    m_line.Point(std::move(text));
    Update();
}

void StatusText::SetProgress(std::wstring text)
{
    m_line.SetProgress(std::move(text));
    Update();
}

void StatusText::Update()
{
    const std::wstring& shown = m_line.Shown(GetTickCount64());
    if (m_known && shown == m_shown)
        return;
    m_shown = shown;
    m_known = true;
    if (m_control)
        m_control.SetText(m_shown);
}
