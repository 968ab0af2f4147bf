#pragma once

#include "capture/Journal.h"
#include "hexview/HexModel.h"

#include <cstdint>
#include <string>
#include <vector>

// Next match of `pattern` at or after `from`, wrapping to 0 once when `from`
// is above 0. -1 when there is none, the pattern cannot fit, or it was
// cancelled.
int64_t FindInBytes(const Journal& bytes, const std::vector<uint8_t>& pattern, int64_t from,
                    JobProgress* progress = nullptr);

// The find text as the ANSI code page's bytes.
std::vector<uint8_t> ToAnsiBytes(const std::wstring& text);

// A name whose extension is "bin" in any letter case saves the raw bytes.
bool IsBinaryLogName(const std::wstring& path);
// One ending in ".pcapng" saves the traffic for Wireshark.
bool IsCaptureName(const std::wstring& path);

// Writes the received bytes (for a .bin name) or the log text as UTF-8 with
// its own CR LF line ends. False when the file cannot be written, or the
// save was cancelled (then the file goes).
bool SaveLogFile(const std::wstring& path, const std::wstring& logText, const Journal& traffic,
                 JobProgress* progress = nullptr);

// The text a copy of that range of the journal makes (as the hex view's
// copy does), a piece at a time. False when it was cancelled or a piece
// could not be read back.
bool MakeCopyText(const Journal& traffic, const HexModel::Range& range, JobProgress& progress, std::wstring& text);
// The same text written to a file as UTF-8; false, and no file, when it
// could not be written or was cancelled.
bool SaveCopyText(const std::wstring& path, const Journal& traffic, const HexModel::Range& range,
                  JobProgress& progress);
