#pragma once

#include "engine/TransportEvent.h"

#include <string>

// "RX  ", "TX  ", "ERR " or "SYS ".
const wchar_t* LogTag(TransportEventKind kind);

// One log line with its CR LF: "[YYYY-MM-DD hh:mm:ss] " while time stamps
// are on, the tag, the text.
std::wstring FormatLogLine(TransportEventKind kind, const std::wstring& text, const SYSTEMTIME* stamp);
