#pragma once

#include <windows.h>

// The DPI a window is drawn at. Asked of the system where it knows per
// monitor DPI (Windows 10 and Wine); elsewhere the screen's.
inline int WindowDpi(HWND wnd)
{
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow && wnd) {
        const UINT dpi = getDpiForWindow(wnd);
        if (dpi)
            return int(dpi);
    }
    const HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

// Where Windows would move and size a dialog's controls itself when the DPI
// changes (per-monitor v2), it is told not to: the window lays them out. It
// still scales the dialog's font.
inline void KeepDialogLayoutOnDpiChange(HWND dialog)
{
    using SetBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
    static const auto setBehavior = reinterpret_cast<SetBehaviorFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetDialogDpiChangeBehavior")));
    constexpr int kDisableResize = 0x0002; // DDC_DISABLE_RESIZE
    if (setBehavior)
        setBehavior(dialog, kDisableResize, kDisableResize);
}

// The window's rectangle for that client rectangle, with the frame measured
// at that DPI where the system can (Windows 10 and Wine), else at its own.
inline RECT WindowRectForClient(HWND wnd, RECT client, int dpi)
{
    using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = reinterpret_cast<AdjustForDpiFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    const DWORD style = DWORD(GetWindowLongW(wnd, GWL_STYLE)), exStyle = DWORD(GetWindowLongW(wnd, GWL_EXSTYLE));
    if (!adjustForDpi || !adjustForDpi(&client, style, FALSE, exStyle, UINT(dpi)))
        AdjustWindowRectEx(&client, style, FALSE, exStyle);
    return client;
}

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
