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
// characters: false at the first byte that is not part of a whole, shortest,
// in-range sequence that is no surrogate.
bool DecodeStrictUtf8(const uint8_t* bytes, size_t length, std::wstring& text)
{
    text.resize(length); // never more UTF-16 units than bytes
    wchar_t* out = text.data();
    for (size_t i = 0; i < length;) {
        const uint8_t b = bytes[i];
        if (b < 0x80) {
            *out++ = wchar_t(b);
            ++i;
            continue;
        }
        size_t count = 0;
        uint32_t code = 0, least = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            count = 2, code = b & 0x1Fu, least = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            count = 3, code = b & 0x0Fu, least = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            count = 4, code = b & 0x07u, least = 0x10000;
        } else {
            return false;
        }
        if (length - i < count)
            return false;
        for (size_t k = 1; k < count; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (bytes[i + k] & 0x3Fu);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        if (code >= 0x10000) {
            *out++ = wchar_t(0xD800 + ((code - 0x10000) >> 10));
            *out++ = wchar_t(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            *out++ = wchar_t(code);
        }
        i += count;
    }
    text.resize(size_t(out - text.data()));
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
        // No overlong forms, surrogates or code points past U+10FFFF; nor
        // the characters that stand for raw bytes, nor ESC, which the log
        // would take for the start of a terminal sequence and hide with
        // what follows it.
        whole = whole && !(length == 3 && code < 0x800) && !(length == 4 && (code < 0x10000 || code > 0x10FFFF)) &&
                !(code >= 0xD800 && code <= 0xDFFF) && !IsRawByteChar(wchar_t(code)) && code != 0x1B;
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
