#pragma once

#include "text/Payload.h"

#include <cstdint>
#include <string>
#include <vector>

// What the log shows for a sent payload: "41 0A " pairs for the hex face,
// else its text, with the bytes that are no text, and its checksum (the
// `checksumCount` bytes from `checksumFrom`), as raw bytes (DecodeSentText).
std::wstring FormatSentBytes(const std::vector<uint8_t>& payload, bool asHex, size_t checksumFrom = 0,
                             size_t checksumCount = 0);

// The history's entry for a payload sent from the Hex face, and back; a
// text entry gives no bytes.
std::wstring HexHistoryEntry(const std::vector<uint8_t>& bytes);
bool HexHistoryBytes(const std::wstring& entry, std::vector<uint8_t>& bytes);
// What the history box shows for an entry: a hex one as "Hex: 41 42".
std::wstring HistoryDisplayText(const std::wstring& entry);

// The repeat period in milliseconds from the interval box; at least 1.
unsigned RepeatInterval(const std::wstring& text);

