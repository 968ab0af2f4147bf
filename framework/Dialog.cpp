#include "framework/Dialog.h"

Dialog::~Dialog()
{
    Destroy();
}

bool Dialog::Create(HWND owner)
{
    m_ended = false;
    m_result = 0;
    return CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), owner, Proc,
                              reinterpret_cast<LPARAM>(this)) != nullptr;
}

void Dialog::Destroy()
{
    if (m_wnd)
        DestroyWindow(m_wnd);
}

INT_PTR Dialog::DoModal(HWND owner)
{
    if (!Create(owner))
        return -1;
    if (owner)
        EnableWindow(owner, FALSE);
    if (!m_ended) // one that ended in its own start is not flashed
        ShowAndFocus();

    MSG msg{};
    bool quit = false;
    while (!m_ended && m_wnd) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            quit = got == 0;
            break;
        }
        RouteMessage(msg);
    }

    if (owner)
        EnableWindow(owner, TRUE);
    Destroy();
    // The loop swallowed a WM_QUIT that belongs to the caller's loop.
    if (quit)
        PostQuitMessage(int(msg.wParam));
    return m_result;
}

// A template without WS_VISIBLE leaves the dialog hidden, and a hidden
// modal dialog looks like a window that froze: it is shown whatever its
// template says, with the focus where its initialisation put it, or on its
// first control.
void Dialog::ShowAndFocus()
{
    HWND focus = GetFocus();
    if (!IsWindowVisible(m_wnd))
        ShowWindow(m_wnd, SW_SHOW);
    SetForegroundWindow(m_wnd);
    if (!focus || (focus != m_wnd && !IsChild(m_wnd, focus)))
        focus = GetNextDlgTabItem(m_wnd, nullptr, FALSE);
    if (focus)
        SetFocus(focus);
}

void Dialog::RouteMessage(MSG& msg)
{
    if (PreTranslateMessage(msg))
        return;
    if (m_wnd && IsDialogMessageW(m_wnd, &msg))
        return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

void Dialog::EndDialog(int result)
{
    m_result = result;
    m_ended = true;
    // A message sent from another thread is handled inside GetMessage, which
    // then goes on waiting: wake the loop so that it sees the end.
    if (m_wnd)
        PostMessageW(m_wnd, WM_NULL, 0, 0);
}

INT_PTR Dialog::OnMessage(UINT msg, WPARAM wp, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wp) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
        break;
    }
    return FALSE;
}

Window Dialog::Item(int id) const
{
    const auto found = m_items.find(id);
    // A control destroyed (and perhaps made again) since is looked up anew.
    if (found != m_items.end() && IsWindow(found->second) && GetParent(found->second) == m_wnd &&
        GetDlgCtrlID(found->second) == id)
        return Window(found->second);
    const HWND item = GetDlgItem(m_wnd, id);
    if (item)
        m_items[id] = item;
    else
        m_items.erase(id);
    return Window(item);
}

INT_PTR CALLBACK Dialog::Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrW(wnd, DWLP_USER, lp);
        reinterpret_cast<Dialog*>(lp)->m_wnd = wnd;
    }
    auto self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(wnd, DWLP_USER));
    if (!self)
        return FALSE; // messages before WM_INITDIALOG

    INT_PTR result = FALSE;
    try {
        result = self->OnMessage(msg, wp, lp);
    } catch (...) {
        result = FALSE; // nothing may cross into the system's dispatcher
    }
    if (msg == WM_NCDESTROY) {
        // No later message may reach an object that is going away.
        SetWindowLongPtrW(wnd, DWLP_USER, 0);
        self->m_wnd = nullptr;
        self->m_items.clear();
        self->m_ended = true;
    }
    return result;
}
