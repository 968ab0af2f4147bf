#include "logview/LogLine.h"

#include "text/Hex.h"
#include "text/Utf8.h"

#include <algorithm>
#include <cwchar>

const wchar_t* LogTag(TransportEventKind kind)
{
    switch (kind) {
    case TransportEventKind::Received:
        return L"RX  ";
    case TransportEventKind::Sent:
        return L"TX  ";
    case TransportEventKind::Error:
        return L"ERR ";
    default:
        return L"SYS ";
    }
}

const wchar_t* SideMarker(uint8_t side)
{
    return side == 1 ? L"A> " : side == 2 ? L"B> " : L"";
}

std::wstring StripEscapeSequences(std::wstring text)
{
    if (text.find(wchar_t(0x1B)) == std::wstring::npos)
        return text;
    std::wstring out;
    out.reserve(text.size());
    bool inEscape = false;
    for (const wchar_t c : text) {
        if (!inEscape) {
            if (c == 0x1B)
                inEscape = true;
            else
                out += c;
        } else if ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z')) {
            inEscape = false;
        }
    }
    return out;
}

std::wstring FormatSincePrevious(int64_t us)
{
    // Beyond the column's reach (two and a half hours) it says so at its edge.
    constexpr int64_t kMostUs = 9999999999;
    const int64_t shown = us > kMostUs ? kMostUs : us < -kMostUs ? -kMostUs : us;
    const uint64_t magnitude = uint64_t(shown < 0 ? -shown : shown);
    wchar_t number[24];
    swprintf(number, 24, L"%c%llu.%03llu", shown < 0 ? L'-' : L'+', static_cast<unsigned long long>(magnitude / 1000),
             static_cast<unsigned long long>(magnitude % 1000));
    wchar_t buffer[32];
    swprintf(buffer, 32, L"%12ls ms ", number);
    return buffer;
}

std::wstring FormatStamp(const SYSTEMTIME& time, bool milliseconds)
{
    wchar_t buffer[40];
    if (milliseconds)
        swprintf(buffer, 40, L"[%04u-%02u-%02u %02u:%02u:%02u.%03u] ", time.wYear, time.wMonth, time.wDay, time.wHour,
                 time.wMinute, time.wSecond, time.wMilliseconds);
    else
        swprintf(buffer, 40, L"[%04u-%02u-%02u %02u:%02u:%02u] ", time.wYear, time.wMonth, time.wDay, time.wHour,
                 time.wMinute, time.wSecond);
    return buffer;
}

namespace {

const wchar_t* const kControlNames[32] = {L"NUL", L"SOH", L"STX", L"ETX", L"EOT", L"ENQ", L"ACK", L"BEL",
                                          L"BS",  L"TAB", L"LF",  L"VT",  L"FF",  L"CR",  L"SO",  L"SI",
                                          L"DLE", L"DC1", L"DC2", L"DC3", L"DC4", L"NAK", L"SYN", L"ETB",
                                          L"CAN", L"EM",  L"SUB", L"ESC", L"FS",  L"GS",  L"RS",  L"US"};

} // namespace

std::wstring MarkLabel(wchar_t c, bool rawBytes)
{
    if (c < 0x20)
        return kControlNames[c];
    if (c == 0x7F)
        return L"DEL";
    if (c >= 0x80 && c < 0xA0)
        return {L'x', kHexDigits[(c >> 4) & 15], kHexDigits[c & 15]};
    if (rawBytes && IsRawByteChar(c))
        return {kHexDigits[(c >> 4) & 15], kHexDigits[c & 15]};
    return {};
}

// Asked for every character painted or hit: no label is made for it.
size_t MarkCells(wchar_t c, bool rawBytes)
{
    if (c < 0x20)
        return wcslen(kControlNames[c]);
    if (c == 0x7F || (c >= 0x80 && c < 0xA0))
        return 3;
    return rawBytes && IsRawByteChar(c) ? 2 : 1;
}

std::wstring SpellRawBytes(std::wstring text)
{
    if (std::find_if(text.begin(), text.end(), IsRawByteChar) == text.end())
        return text;
    std::wstring out;
    out.reserve(text.size() + 16);
    for (const wchar_t c : text) {
        if (IsRawByteChar(c)) {
            out += L"\\x";
            out += kHexDigits[(c >> 4) & 15];
            out += kHexDigits[c & 15];
        } else {
            out += c;
        }
    }
    return out;
}
