#pragma once

#include "framework/Window.h"

#include <windows.h>

#include <unordered_map>

// A dialog built from a template. DoModal runs its own loop so that
// PreTranslateMessage sees every message before the dialog manager does.
class Dialog {
public:
    explicit Dialog(UINT templateId) : m_templateId(templateId) {}
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    INT_PTR DoModal(HWND owner = nullptr);
    // Modeless, for driving the window with messages (tests).
    bool Create(HWND owner = nullptr);
    void Destroy();

    HWND Handle() const { return m_wnd; }
    // Controls are looked up once: under Wine every GetDlgItem is a round trip
    // to the window server, and the event handlers ask for controls per event.
    Window Item(int id) const;
    bool Ended() const { return m_ended; }
    int Result() const { return m_result; }

    // One message along the dialog's path: PreTranslateMessage, the dialog
    // manager (Tab, Enter, Escape), then the window procedure.
    void RouteMessage(MSG& msg);
    // True when the message was handled and must go no further.
    virtual bool PreTranslateMessage(MSG&) { return false; }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // The dialog procedure's body; derived classes handle their messages and
    // pass the rest to this one. Returns the dialog procedure's result.
    virtual INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp);

    // Only marks the end: the modal loop then destroys the window.
    void EndDialog(int result);

private:
    void ShowAndFocus();
    static INT_PTR CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);

    UINT m_templateId;
    HWND m_wnd = nullptr;
    bool m_ended = false;
    int m_result = 0;
    mutable std::unordered_map<int, HWND> m_items;
};
