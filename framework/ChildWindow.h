#pragma once

#include <windows.h>

// A custom child control. Its class is registered once; each window owns
// its object, made at WM_NCCREATE and deleted at WM_NCDESTROY, so no
// message reaches an object that does not exist.
class ChildWindow {
public:
    virtual ~ChildWindow() = default;
    ChildWindow(const ChildWindow&) = delete;
    ChildWindow& operator=(const ChildWindow&) = delete;

    HWND Handle() const { return m_wnd; }

    // The object behind a window of class T, or null.
    template <class T>
    static T* FromHandle(HWND wnd)
    {
        return dynamic_cast<T*>(reinterpret_cast<ChildWindow*>(GetWindowLongPtrW(wnd, GWLP_USERDATA)));
    }

protected:
    explicit ChildWindow(HWND wnd) : m_wnd(wnd) {}
    virtual LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcW(m_wnd, msg, wp, lp); }

    // For a control that paints all of its client area: WM_PAINT and
    // WM_PRINTCLIENT go to Paint and the background is never erased (that
    // would flicker). True when the message was one of those.
    virtual void Paint(HDC) {}
    bool HandlePaint(UINT msg, WPARAM wp)
    {
        switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            const HDC dc = BeginPaint(m_wnd, &ps);
            Paint(dc);
            EndPaint(m_wnd, &ps);
            return true;
        }
        case WM_PRINTCLIENT:
            Paint(reinterpret_cast<HDC>(wp));
            return true;
        case WM_ERASEBKGND:
            return true;
        }
        return false;
    }

    // T is constructed as T(HWND, const CREATESTRUCTW&).
    template <class T>
    static bool Register(const wchar_t* className, UINT style = CS_DBLCLKS, const wchar_t* cursor = IDC_ARROW,
                         HBRUSH background = nullptr)
    {
        WNDCLASSEXW wc{};
        if (GetClassInfoExW(GetModuleHandleW(nullptr), className, &wc))
            return true;
        wc.cbSize = sizeof(wc);
        wc.style = style;
        wc.lpfnWndProc = &Proc<T>;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, cursor);
        wc.hbrBackground = background;
        wc.lpszClassName = className;
        return RegisterClassExW(&wc) != 0;
    }

    HWND m_wnd;

private:
    template <class T>
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
    {
        auto self = reinterpret_cast<ChildWindow*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
        if (msg == WM_NCCREATE && !self) {
            try {
                self = new T(wnd, *reinterpret_cast<const CREATESTRUCTW*>(lp));
            } catch (...) {
                return FALSE; // the window is not created
            }
            SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
        if (!self)
            return DefWindowProcW(wnd, msg, wp, lp);
        LRESULT result = 0;
        try {
            result = self->OnMessage(msg, wp, lp);
        } catch (...) {
            result = DefWindowProcW(wnd, msg, wp, lp);
        }
        if (msg == WM_NCDESTROY) {
            SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
            delete self;
        }
        return result;
    }
};
