#include "framework/Subclass.h"

#include <commctrl.h>

bool Subclass::Attach(HWND wnd, Handler handler)
{
    Detach();
    m_handler = std::move(handler);
    if (!wnd || !SetWindowSubclass(wnd, Proc, 1, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    m_wnd = wnd;
    return true;
}

void Subclass::Detach()
{
    if (m_wnd && IsWindow(m_wnd))
        RemoveWindowSubclass(m_wnd, Proc, 1);
    m_wnd = nullptr;
}

LRESULT CALLBACK Subclass::Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data)
{
    auto self = reinterpret_cast<Subclass*>(data);
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(wnd, Proc, 1);
        self->m_wnd = nullptr;
        return DefSubclassProc(wnd, msg, wp, lp);
    }
    LRESULT result = 0;
    try {
        if (self->m_handler && self->m_handler(msg, wp, lp, result))
            return result;
    } catch (...) {
    }
    return DefSubclassProc(wnd, msg, wp, lp);
}

bool SelectAllOnCtrlA(HWND edit, UINT msg, WPARAM wp)
{
    if (msg != WM_KEYDOWN || wp != 'A' || (GetKeyState(VK_CONTROL) & 0x8000) == 0)
        return false;
    SendMessageW(edit, EM_SETSEL, 0, -1);
    return true;
}
