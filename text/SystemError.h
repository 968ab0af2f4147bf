#pragma once

#include <windows.h>

#include <string>

// The system's own words for an error code: first line, no full stop;
// empty when it has none.
std::wstring SystemErrorText(DWORD code);
// "text (error n: the system's words)".
std::wstring WithSystemError(const std::wstring& text, DWORD code);
