#include "ui/SendComposer.h"

#include "engine/ConnectionSettings.h"
#include "engine/TransportEvent.h"

#include <algorithm>

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

std::vector<uint8_t> BuildPayload(const std::wstring& text, bool cr, bool lf, bool crlf)
{
    std::vector<uint8_t> out = EncodeUtf8(text);
    if (crlf) {
        out.push_back(0x0D);
        out.push_back(0x0A);
    } else {
        if (cr)
            out.push_back(0x0D);
        if (lf)
            out.push_back(0x0A);
    }
    return out;
}

std::wstring FormatSentBytes(const std::vector<uint8_t>& payload, bool asHex)
{
    if (!asHex)
        return DecodeReceivedText(payload.data(), payload.size());
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(payload.size() * 3);
    for (const uint8_t b : payload) {
        text += digits[b >> 4];
        text += digits[b & 15];
        text += L' ';
    }
    return text;
}

unsigned RepeatInterval(const std::wstring& text)
{
    return unsigned(std::max<int32_t>(1, ParseLeadingInt(text)));
}
