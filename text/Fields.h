#pragma once

#include <cstdint>
#include <string>

// What a user typed into a box or a file's line, read strictly.

// Without its blanks and tabs at both ends.
std::wstring TrimBlanks(const std::wstring& text);
// Digits 0-9 only (the system's idea of a digit takes others too), at most
// `most`; false for anything else.
bool ParseWholeNumber(const std::wstring& text, uint32_t most, uint32_t& value);
