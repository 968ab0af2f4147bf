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
constexpr int kChecksumCount = 6;
std::vector<uint8_t> ChecksumBytes(Checksum kind, const uint8_t* data, size_t size);
// "No checksum", "Sum-8", ... as the send area lists them.
const wchar_t* ChecksumName(Checksum kind);

enum class LineEnding { None, Cr, Lf, CrLf };
// The send area's three boxes as one ending: CR and LF ticked are CRLF.
LineEnding LineEndingFor(bool cr, bool lf, bool crlf);

// A payload as the send area describes it: a text (its escapes made into
// bytes when asked) or hex pairs, then the checksum over those bytes, then
// (for a text) the line ending.
struct PayloadForm {
    bool hex = false;
    std::wstring text; // the text, or the hex pairs
    bool escapes = false;
    LineEnding ending = LineEnding::None;
    Checksum checksum = Checksum::None;
    friend bool operator==(const PayloadForm&, const PayloadForm&) = default;
};

struct BuiltPayload {
    std::vector<uint8_t> bytes;
    ChecksumSpan checksum;
    std::wstring problem; // then no bytes
};

// `body`: the bytes the text or the pairs stand for, already made (a reply
// that copies from its request); the form then adds its checksum and ending.
BuiltPayload FinishPayload(const PayloadForm& form, std::vector<uint8_t> body);
BuiltPayload MakePayload(const PayloadForm& form);
