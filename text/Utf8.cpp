#include "text/Utf8.h"

#include <windows.h>

#include <algorithm>
#include <climits>

namespace {

void AppendUtf8(std::vector<uint8_t>& out, uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(uint8_t(cp));
    } else if (cp < 0x800) {
        out.push_back(uint8_t(0xC0 | (cp >> 6)));
        out.push_back(uint8_t(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(uint8_t(0xE0 | (cp >> 12)));
        out.push_back(uint8_t(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(uint8_t(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(uint8_t(0xF0 | (cp >> 18)));
        out.push_back(uint8_t(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(uint8_t(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(uint8_t(0x80 | (cp & 0x3F)));
    }
}

// The well-formed UTF-8 character at the start of `bytes`, which has
// `available` bytes: its code point and length, or length 0 where none
// starts there (no overlong forms, surrogates or code points past U+10FFFF).
struct Utf8Char {
    uint32_t code = 0;
    size_t length = 0;
};

Utf8Char Utf8CharAt(const uint8_t* bytes, size_t available)
{
    const uint8_t b = bytes[0];
    if (b < 0x80)
        return {b, 1};
    size_t length = 0;
    uint32_t code = 0, least = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2, code = b & 0x1Fu, least = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3, code = b & 0x0Fu, least = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4, code = b & 0x07u, least = 0x10000;
    } else {
        return {};
    }
    if (available < length)
        return {};
    for (size_t k = 1; k < length; ++k) {
        if ((bytes[k] & 0xC0) != 0x80)
            return {};
        code = (code << 6) | (bytes[k] & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return {};
    return {code, length};
}

void AppendUtf16(std::wstring& text, uint32_t code)
{
    if (code >= 0x10000) {
        text += wchar_t(0xD800 + ((code - 0x10000) >> 10));
        text += wchar_t(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
        text += wchar_t(code);
    }
}

} // namespace

std::vector<uint8_t> EncodeUtf8(const std::wstring& text)
{
    std::vector<uint8_t> out;
    out.reserve(text.size() + 2);
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

namespace {

// UTF-8 as the system's decoder takes it when told to refuse invalid
// characters: false at the first byte that is not part of a character.
bool DecodeStrictUtf8(const uint8_t* bytes, size_t length, std::wstring& text)
{
    text.clear();
    text.reserve(length); // never more UTF-16 units than bytes
    for (size_t i = 0; i < length;) {
        const Utf8Char c = Utf8CharAt(bytes + i, length - i);
        if (!c.length)
            return false;
        AppendUtf16(text, c.code);
        i += c.length;
    }
    return true;
}

// The ANSI code page's character for each byte, where every byte is one
// character; null for a code page with lead bytes. The system's decoder is
// slow enough to hold back a flood's log.
const wchar_t* SingleByteAnsiTable()
{
    static const wchar_t* const table = []() -> const wchar_t* {
        static wchar_t chars[256];
        CPINFO info{};
        if (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize != 1)
            return nullptr;
        char all[256];
        for (int i = 0; i < 256; ++i)
            all[i] = char(i);
        return MultiByteToWideChar(CP_ACP, 0, all, 256, chars, 256) == 256 ? chars : nullptr;
    }();
    return table;
}

} // namespace

std::wstring DecodeReceivedText(const uint8_t* bytes, size_t length)
{
    if (length == 0 || length > size_t(INT_MAX))
        return {};
    std::wstring text;
    if (DecodeStrictUtf8(bytes, length, text))
        return text;
    if (const wchar_t* ansi = SingleByteAnsiTable()) {
        text.resize(length);
        for (size_t i = 0; i < length; ++i)
            text[i] = ansi[bytes[i]];
        return text;
    }
    const auto source = reinterpret_cast<const char*>(bytes);
    const int size = int(length);
    const int chars = MultiByteToWideChar(CP_ACP, 0, source, size, nullptr, 0);
    if (chars <= 0)
        return {};
    text.assign(size_t(chars), L'\0');
    const int written = MultiByteToWideChar(CP_ACP, 0, source, size, text.data(), chars);
    text.resize(size_t(std::max(written, 0)));
    return text;
}

std::wstring DecodeSentText(const uint8_t* bytes, size_t size, size_t binaryFrom, size_t binaryCount)
{
    std::wstring text;
    text.reserve(size);
    const size_t binaryTo = binaryFrom + std::min(binaryCount, size - std::min(binaryFrom, size));
    for (size_t i = 0; i < size;) {
        const uint8_t b = bytes[i];
        if (i >= binaryFrom && i < binaryTo) {
            text += RawByteChar(b);
            ++i;
            continue;
        }
        // A character may not run into the raw bytes. Nor may it be one
        // that stands for a raw byte, nor ESC, which the log would take for
        // the start of a terminal sequence and hide with what follows it.
        const size_t end = binaryFrom < binaryTo && i < binaryFrom ? binaryFrom : size;
        const Utf8Char c = Utf8CharAt(bytes + i, end - i);
        if (!c.length || IsRawByteChar(wchar_t(c.code)) || c.code == 0x1B) {
            text += RawByteChar(b);
            ++i;
            continue;
        }
        AppendUtf16(text, c.code);
        i += c.length;
    }
    return text;
}
