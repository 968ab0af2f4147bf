#pragma once

#include <cstdint>
#include <string>
#include <vector>

// UTF-8 of the text; a lone surrogate becomes U+FFFD.
std::vector<uint8_t> EncodeUtf8(const std::wstring& text);

// UTF-8 of the text (a lone surrogate becomes U+FFFD), then the line ending:
// CRLF alone decides when ticked, else CR and LF each add their byte.
std::vector<uint8_t> BuildPayload(const std::wstring& text, bool cr, bool lf, bool crlf);

// What the log shows for a sent payload: "41 0A " pairs for the hex face,
// else the bytes read back as text (UTF-8, or the ANSI code page).
std::wstring FormatSentBytes(const std::vector<uint8_t>& payload, bool asHex);

// The repeat period in milliseconds from the interval box; at least 1.
unsigned RepeatInterval(const std::wstring& text);
