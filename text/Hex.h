#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The digits, by value.
inline constexpr wchar_t kHexDigits[] = L"0123456789ABCDEF";

// A hex digit's value; -1 for any other character.
int HexValue(wchar_t c);

// Bytes typed as hex pairs ("0D 0A", "03"); false when the text holds
// anything else or an odd digit.
bool ParseHexBytes(const std::wstring& text, std::vector<uint8_t>& bytes);
// "0D 0A": what ParseHexBytes reads.
std::wstring HexBytesText(const std::vector<uint8_t>& bytes);
