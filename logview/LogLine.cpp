#include "logview/LogLine.h"

#include <algorithm>
#include <cwchar>

namespace {

const wchar_t kHexDigits[] = L"0123456789ABCDEF";

} // namespace

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

std::wstring MarkLabel(wchar_t c, bool rawBytes)
{
    static const wchar_t* const names[32] = {L"NUL", L"SOH", L"STX", L"ETX", L"EOT", L"ENQ", L"ACK", L"BEL",
                                             L"BS",  L"TAB", L"LF",  L"VT",  L"FF",  L"CR",  L"SO",  L"SI",
                                             L"DLE", L"DC1", L"DC2", L"DC3", L"DC4", L"NAK", L"SYN", L"ETB",
                                             L"CAN", L"EM",  L"SUB", L"ESC", L"FS",  L"GS",  L"RS",  L"US"};
    if (c < 0x20)
        return names[c];
    if (c == 0x7F)
        return L"DEL";
    if (c >= 0x80 && c < 0xA0)
        return {L'x', kHexDigits[(c >> 4) & 15], kHexDigits[c & 15]};
    if (rawBytes && c >= kRawByteBase && c <= kRawByteBase + 0xFF)
        return {kHexDigits[(c >> 4) & 15], kHexDigits[c & 15]};
    return {};
}

size_t MarkCells(wchar_t c, bool rawBytes)
{
    // The common case without building a label.
    if (c >= 0x20 && c < 0x7F)
        return 1;
    const size_t cells = MarkLabel(c, rawBytes).size();
    return cells ? cells : 1;
}

std::wstring SpellRawBytes(std::wstring text)
{
    const auto raw = [](wchar_t c) { return c >= kRawByteBase && c <= kRawByteBase + 0xFF; };
    if (std::find_if(text.begin(), text.end(), raw) == text.end())
        return text;
    std::wstring out;
    out.reserve(text.size() + 16);
    for (const wchar_t c : text) {
        if (raw(c)) {
            out += L"\\x";
            out += kHexDigits[(c >> 4) & 15];
            out += kHexDigits[c & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::wstring DecodeSentText(const uint8_t* bytes, size_t size, size_t binaryFrom, size_t binaryCount)
{
    std::wstring text;
    text.reserve(size);
    const size_t binaryTo = binaryFrom + std::min(binaryCount, size - std::min(binaryFrom, size));
    const auto continuation = [&](size_t at) { return at < size && (bytes[at] & 0xC0) == 0x80; };
    for (size_t i = 0; i < size;) {
        const uint8_t b = bytes[i];
        if (i >= binaryFrom && i < binaryTo) {
            text += RawByteChar(b);
            ++i;
            continue;
        }
        // The length of a well-formed sequence from here, and its first
        // byte's bits; a sequence may not run into the raw bytes.
        size_t length = 0;
        uint32_t code = 0;
        if (b < 0x80) {
            length = 1;
            code = b;
        } else if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
            code = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            code = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            code = b & 0x07;
        }
        bool whole = length > 0 && (i >= binaryTo || i + length <= binaryFrom || binaryFrom >= binaryTo);
        for (size_t k = 1; whole && k < length; ++k) {
            whole = continuation(i + k);
            if (whole)
                code = (code << 6) | (bytes[i + k] & 0x3F);
        }
        // No overlong forms, surrogates or code points past U+10FFFF.
        whole = whole && !(length == 3 && code < 0x800) && !(length == 4 && (code < 0x10000 || code > 0x10FFFF)) &&
                !(code >= 0xD800 && code <= 0xDFFF);
        if (!whole) {
            text += RawByteChar(b);
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            text += wchar_t(0xD800 + (code >> 10));
            text += wchar_t(0xDC00 + (code & 0x3FF));
        } else {
            text += wchar_t(code);
        }
        i += length;
    }
    return text;
}
