#include "ui/SendComposer.h"

#include "engine/ConnectionSettings.h"
#include "settings/History.h"
#include "text/Hex.h"
#include "text/Utf8.h"

#include <algorithm>

std::wstring FormatSentBytes(const std::vector<uint8_t>& payload, bool asHex, size_t checksumFrom,
                             size_t checksumCount)
{
    if (!asHex)
        return DecodeSentText(payload.data(), payload.size(), checksumFrom, checksumCount);
    return payload.empty() ? std::wstring() : HexBytesText(payload) + L' ';
}

std::wstring HexHistoryEntry(const std::vector<uint8_t>& bytes)
{
    return kHexHistoryMark + HexBytesText(bytes);
}

bool HexHistoryBytes(const std::wstring& entry, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    if (entry.empty() || entry[0] != kHexHistoryMark)
        return false;
    int high = -1;
    for (size_t i = 1; i < entry.size(); ++i) {
        const int value = HexValue(entry[i]);
        if (value < 0)
            continue; // the spaces between pairs
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(uint8_t(high << 4 | value));
            high = -1;
        }
    }
    return true;
}

std::wstring HistoryDisplayText(const std::wstring& entry)
{
    if (!entry.empty() && entry[0] == kHexHistoryMark)
        return L"Hex: " + entry.substr(1);
    return entry;
}

unsigned RepeatInterval(const std::wstring& text)
{
    return unsigned(std::max<int32_t>(1, ParseLeadingInt(text)));
}

