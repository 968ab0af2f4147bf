#pragma once

#include <cstdint>
#include <string>
#include <vector>

// UTF-8 of the text (a lone surrogate becomes U+FFFD), then the line ending:
// CRLF alone decides when ticked, else CR and LF each add their byte.
std::vector<uint8_t> BuildPayload(const std::wstring& text, bool cr, bool lf, bool crlf);
// The same line ending after bytes already made.
std::vector<uint8_t> AppendLineEnding(std::vector<uint8_t> bytes, bool cr, bool lf, bool crlf);

// Where a payload's checksum lies in it.
struct ChecksumSpan {
    uint32_t from = 0, count = 0;
};

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

// The text's bytes (UTF-8) with the escapes \r \n \t \0 \\ and \xHH (one
// byte each, \xHH exactly two hex digits) made into their bytes. A
// malformed escape gives no bytes and a `problem` that names it and the
// character it starts at (counted from 1).
struct Unescaped {
    std::vector<uint8_t> bytes;
    std::wstring problem;
};
Unescaped ExpandEscapes(const std::wstring& text);

// What may follow each payload, checked over all its bytes, in its
// customary byte order: Sum-8 and XOR-8 one byte; CRC-16/MODBUS low byte
// first; CRC-16/CCITT-FALSE high byte first; CRC-32 (as zlib's crc32) low
// byte first, as Ethernet, ZIP and gzip carry it.
enum class Checksum { None, Sum8, Xor8, Crc16Modbus, Crc16CcittFalse, Crc32 };
std::vector<uint8_t> ChecksumBytes(Checksum kind, const uint8_t* data, size_t size);
