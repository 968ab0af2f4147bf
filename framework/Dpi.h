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

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
