#pragma once

#include <windows.h>

#include <string>

// A window handle with one-line helpers. It does not own the window.
class Window {
public:
    Window(HWND wnd = nullptr) : m_wnd(wnd) {}

    HWND Handle() const { return m_wnd; }
    explicit operator bool() const { return m_wnd != nullptr; }

    Window Item(int id) const { return Window(GetDlgItem(m_wnd, id)); }
    int Id() const { return GetDlgCtrlID(m_wnd); }
    LRESULT Send(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return SendMessageW(m_wnd, msg, wp, lp); }

    std::wstring Text() const
    {
        std::wstring text(size_t(GetWindowTextLengthW(m_wnd)) + 1, L'\0');
        text.resize(size_t(GetWindowTextW(m_wnd, text.data(), int(text.size()))));
        return text;
    }
    void SetText(const std::wstring& text) const { SetWindowTextW(m_wnd, text.c_str()); }

    void Show(bool show) const { ShowWindow(m_wnd, show ? SW_SHOW : SW_HIDE); }
    bool Visible() const { return (GetWindowLongW(m_wnd, GWL_STYLE) & WS_VISIBLE) != 0; }
    void Enable(bool enable) const { EnableWindow(m_wnd, enable ? TRUE : FALSE); }
    bool Enabled() const { return IsWindowEnabled(m_wnd) != FALSE; }

    void Move(int x, int y, int width, int height) const { MoveWindow(m_wnd, x, y, width, height, TRUE); }
    RECT ClientRect() const
    {
        RECT r{};
        GetClientRect(m_wnd, &r);
        return r;
    }
    // The window's rectangle in its parent's client coordinates.
    RECT RectInParent() const
    {
        RECT r{};
        GetWindowRect(m_wnd, &r);
        MapWindowPoints(HWND_DESKTOP, GetParent(m_wnd), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }

    bool Checked() const { return Send(BM_GETCHECK) == BST_CHECKED; }
    void SetCheck(bool checked) const { Send(BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED); }

    int Selection() const { return int(Send(CB_GETCURSEL)); }
    void Select(int index) const { Send(CB_SETCURSEL, WPARAM(index)); }

    // A combo box's height is its field and its dropped list: the list as
    // tall as its items, `most` at the most, or the system shows the rest
    // empty. `otherwise` when the box cannot say.
    int DroppedHeight(int otherwise, int most = 12) const
    {
        const LRESULT count = Send(CB_GETCOUNT);
        const LRESULT item = Send(CB_GETITEMHEIGHT, 0);
        RECT field{};
        if (count == CB_ERR || item <= 0 || !GetWindowRect(m_wnd, &field))
            return otherwise;
        const int shown = int(count < 1 ? 1 : count > most ? most : count);
        return int(field.bottom - field.top) + shown * int(item) + 2 * GetSystemMetrics(SM_CYEDGE) + 2;
    }
    // After its items changed.
    void FitDroppedList() const
    {
        const RECT r = RectInParent();
        SetWindowPos(m_wnd, nullptr, 0, 0, r.right - r.left, DroppedHeight(r.bottom - r.top),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

private:
    HWND m_wnd;
};
