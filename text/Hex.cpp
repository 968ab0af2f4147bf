#include "text/Hex.h"

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - 0x30;
    if (c >= L'a' && c <= L'f')
        return c - 0x57;
    if (c >= L'A' && c <= L'F')
        return c - 0x37;
    return -1;
}

bool ParseHexBytes(const std::wstring& text, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    int high = -1;
    for (const wchar_t c : text) {
        if (c == L' ' || c == L',' || c == L'\t') {
            if (high >= 0)
                return false; // one digit alone
            continue;
        }
        const int value = HexValue(c);
        if (value < 0)
            return false;
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(uint8_t(high << 4 | value));
            high = -1;
        }
    }
    return high < 0;
}

std::wstring HexBytesText(const std::vector<uint8_t>& bytes)
{
    std::wstring text;
    for (const uint8_t b : bytes) {
        if (!text.empty())
            text += L' ';
        text += kHexDigits[b >> 4];
        text += kHexDigits[b & 15];
    }
    return text;
}
