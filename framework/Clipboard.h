#pragma once

#include <windows.h>

#include <cstring>
#include <string>

// The clipboard's block of CF_UNICODETEXT for that text; null when there is
// no memory. Any thread may make it, so that a large one costs the window
// nothing but the handing over.
inline HGLOBAL MakeClipboardText(const std::wstring& text)
{
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!block)
        return nullptr;
    void* target = GlobalLock(block);
    if (!target) {
        GlobalFree(block);
        return nullptr;
    }
    memcpy(target, text.c_str(), bytes);
    GlobalUnlock(block);
    return block;
}

// Hands a block made so to the clipboard, which owns it from then on; it is
// freed here when the clipboard cannot take it.
inline void PutClipboardText(HWND owner, HGLOBAL block)
{
    if (!block)
        return;
    if (!OpenClipboard(owner)) {
        GlobalFree(block);
        return;
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_UNICODETEXT, block))
        GlobalFree(block);
    CloseClipboard();
}

// Puts text on the clipboard as CF_UNICODETEXT; silent when that fails.
inline void CopyTextToClipboard(HWND owner, const std::wstring& text)
{
    PutClipboardText(owner, MakeClipboardText(text));
}

// Text offered to the clipboard at once and handed over only when a program
// asks for it (delayed rendering), so that offering a large one costs the
// window nothing: handing over 96 MB takes a second under Wine.
class PromisedClipboardText {
public:
    PromisedClipboardText() = default;
    PromisedClipboardText(const PromisedClipboardText&) = delete;
    PromisedClipboardText& operator=(const PromisedClipboardText&) = delete;
    ~PromisedClipboardText() { Drop(); }

    // Takes the block, which is handed over or freed here.
    void Offer(HWND owner, HGLOBAL block)
    {
        if (!block || !OpenClipboard(owner)) {
            if (block)
                GlobalFree(block);
            return;
        }
        EmptyClipboard(); // a promise of ours before this one is dropped here
        m_block = block;
        // A promise gives no handle back, success or not: what shows is
        // whether the format is offered now.
        SetClipboardData(CF_UNICODETEXT, nullptr);
        if (!IsClipboardFormatAvailable(CF_UNICODETEXT))
            Drop();
        CloseClipboard();
    }
    // WM_RENDERFORMAT: the clipboard is open for us already.
    void Render()
    {
        if (m_block && SetClipboardData(CF_UNICODETEXT, m_block))
            m_block = nullptr;
    }
    // WM_RENDERALLFORMATS: the owner is going, and the text must stay.
    void RenderAll(HWND owner)
    {
        if (!m_block || !OpenClipboard(owner))
            return;
        if (GetClipboardOwner() == owner)
            Render();
        CloseClipboard();
    }
    // WM_DESTROYCLIPBOARD: the clipboard went to someone else.
    void Drop()
    {
        if (m_block)
            GlobalFree(m_block);
        m_block = nullptr;
    }

private:
    HGLOBAL m_block = nullptr;
};
