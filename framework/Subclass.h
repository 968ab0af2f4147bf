#pragma once

#include <windows.h>

#include <functional>

// Sees a control's messages before the control does. The handler returns
// true when it handled one (with the result in `result`).
class Subclass {
public:
    using Handler = std::function<bool(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result)>;

    Subclass() = default;
    ~Subclass() { Detach(); }
    Subclass(const Subclass&) = delete;
    Subclass& operator=(const Subclass&) = delete;

    bool Attach(HWND wnd, Handler handler);
    void Detach();
    HWND Handle() const { return m_wnd; }

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data);

    HWND m_wnd = nullptr;
    Handler m_handler;
};

// Ctrl+A selects the whole text of an edit control.
bool SelectAllOnCtrlA(HWND edit, UINT msg, WPARAM wp);
