#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// UTF-8 of the text; a lone surrogate becomes U+FFFD.
std::vector<uint8_t> EncodeUtf8(const std::wstring& text);

// Strict UTF-8 when the block is valid UTF-8 as a whole, else the ANSI code
// page. No state is carried between blocks; NUL bytes stay in the text.
std::wstring DecodeReceivedText(const uint8_t* bytes, size_t length);

// A byte of a sent text that is no text (a checksum, a byte that is not
// UTF-8) is kept in its text as this plus its value.
constexpr wchar_t kRawByteBase = 0xE000;
inline wchar_t RawByteChar(uint8_t byte) { return wchar_t(kRawByteBase + byte); }
inline bool IsRawByteChar(wchar_t c) { return c >= kRawByteBase && c <= kRawByteBase + 0xFF; }

// A sent payload as its line shows it: UTF-8 text, each byte that is no
// part of a character as a raw byte, and so too the `binaryCount` bytes
// from `binaryFrom` (its checksum), whatever they would read as, ESC, and
// the bytes of a character that would read as a raw byte.
std::wstring DecodeSentText(const uint8_t* bytes, size_t size, size_t binaryFrom = 0, size_t binaryCount = 0);
