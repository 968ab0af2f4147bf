#pragma once

#include <windows.h>

#include <string>

// The program's own error message, with the error icon.
inline int ShowErrorBox(HWND owner, const std::wstring& text)
{
    return MessageBoxW(owner, text.c_str(), L"Ferrolink", MB_OK | MB_ICONERROR);
}

// A question the user answers Yes or No; true for Yes.
inline bool AskYesNo(HWND owner, const std::wstring& text)
{
    return MessageBoxW(owner, text.c_str(), L"Ferrolink", MB_YESNO | MB_ICONQUESTION) == IDYES;
}
