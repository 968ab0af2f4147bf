#pragma once

#include "engine/TransportEvent.h"

#include <string>

// "RX  ", "TX  ", "ERR " or "SYS ".
const wchar_t* LogTag(TransportEventKind kind);

// Drops each ESC and everything after it up to and including the next ASCII
// letter (terminal colour and cursor sequences). No state carries between
// calls: an escape still open at the end swallows the rest of the text.
std::wstring StripEscapeSequences(std::wstring text);

// "[YYYY-MM-DD hh:mm:ss] ", or with ".mmm" before the bracket.
std::wstring FormatStamp(const SYSTEMTIME& time, bool milliseconds);
