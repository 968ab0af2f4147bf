#pragma once

#include "engine/TransportEvent.h"

#include <cstdint>
#include <string>

// "RX  ", "TX  ", "ERR " or "SYS ".
const wchar_t* LogTag(TransportEventKind kind);

// A bridge's side after the tag, by LogRecord::side: 1 is the first link
// ("A> "), 2 the second ("B> "); 0, a line of no side (no bridge, or the
// window's own), has none.
const wchar_t* SideMarker(uint8_t side);
constexpr size_t kSideMarkerWidth = 3;

// Drops each ESC and everything after it up to and including the next ASCII
// letter (terminal colour and cursor sequences). No state carries between
// calls: an escape still open at the end swallows the rest of the text.
std::wstring StripEscapeSequences(std::wstring text);

// What a character that is no text of its own is shown as, in a small box
// of its own: "NUL", "ETX", "TAB", "LF", "CR", "ESC", "DEL" for the control
// characters, "x85" for the C1 ones, the two hex digits for a raw byte
// (where the line holds raw bytes); empty for every other character.
std::wstring MarkLabel(wchar_t c, bool rawBytes);
// The cells it takes in the view: its label's length, or one.
size_t MarkCells(wchar_t c, bool rawBytes);
// The text as saved and copied: each raw byte as \xHH, all else as it is.
std::wstring SpellRawBytes(std::wstring text);

// A line's time after the one before, in a column of its own:
// "     +12.345 ms ", kSincePreviousWidth characters.
constexpr size_t kSincePreviousWidth = 16;
std::wstring FormatSincePrevious(int64_t us);

// "[YYYY-MM-DD hh:mm:ss] ", or with ".mmm" before the bracket.
std::wstring FormatStamp(const SYSTEMTIME& time, bool milliseconds);
