#pragma once

#include <windows.h>

#include <string>

// The program's own error message, with the error icon.
inline int ShowErrorBox(HWND owner, const std::wstring& text)
{
    return MessageBoxW(owner, text.c_str(), L"Ferrolink", MB_OK | MB_ICONERROR);
}
