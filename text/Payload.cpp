#include "text/Payload.h"

#include "text/Hex.h"
#include "text/Utf8.h"

#include <algorithm>

std::vector<uint8_t> BuildPayload(const std::wstring& text, bool cr, bool lf, bool crlf)
{
    return AppendLineEnding(EncodeUtf8(text), cr, lf, crlf);
}

std::vector<uint8_t> AppendLineEnding(std::vector<uint8_t> out, bool cr, bool lf, bool crlf)
{
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

Unescaped ExpandEscapes(const std::wstring& text)
{
    Unescaped out;
    std::wstring run; // plain text since the last escape, encoded as a whole
    const auto flush = [&] {
        const std::vector<uint8_t> bytes = EncodeUtf8(run);
        out.bytes.insert(out.bytes.end(), bytes.begin(), bytes.end());
        run.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'\\') {
            run += text[i];
            continue;
        }
        flush();
        const wchar_t next = i + 1 < text.size() ? text[i + 1] : L'\0';
        int byte = -1;
        size_t length = 2;
        switch (next) {
        case L'r': byte = 0x0D; break;
        case L'n': byte = 0x0A; break;
        case L't': byte = 0x09; break;
        case L'0': byte = 0x00; break;
        case L'\\': byte = 0x5C; break;
        case L'x': {
            const int high = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
            const int low = i + 3 < text.size() ? HexValue(text[i + 3]) : -1;
            length = high < 0 ? 2 : low < 0 ? 3 : 4;
            if (high >= 0 && low >= 0)
                byte = high * 16 + low;
            break;
        }
        }
        if (byte < 0) {
            const std::wstring escape = text.substr(i, std::min(length, text.size() - i));
            out.bytes.clear();
            out.problem = L"The escape \"" + escape + L"\" at character " + std::to_wstring(i + 1) +
                          L" is not one of \\r \\n \\t \\0 \\\\ \\xHH; nothing was sent.";
            return out;
        }
        out.bytes.push_back(uint8_t(byte));
        i += length - 1;
    }
    flush();
    return out;
}

namespace {

// Reflected CRCs (the input and the result bit-reversed) shift right.
uint32_t ReflectedCrc(const uint8_t* data, size_t size, uint32_t crc, uint32_t polynomial)
{
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? (crc >> 1) ^ polynomial : crc >> 1;
    }
    return crc;
}

} // namespace

std::vector<uint8_t> ChecksumBytes(Checksum kind, const uint8_t* data, size_t size)
{
    switch (kind) {
    case Checksum::None:
        return {};
    case Checksum::Sum8: {
        uint8_t sum = 0;
        for (size_t i = 0; i < size; ++i)
            sum = uint8_t(sum + data[i]);
        return {sum};
    }
    case Checksum::Xor8: {
        uint8_t x = 0;
        for (size_t i = 0; i < size; ++i)
            x ^= data[i];
        return {x};
    }
    case Checksum::Crc16Modbus: {
        const uint32_t crc = ReflectedCrc(data, size, 0xFFFF, 0xA001);
        return {uint8_t(crc), uint8_t(crc >> 8)};
    }
    case Checksum::Crc16CcittFalse: {
        uint16_t crc = 0xFFFF;
        for (size_t i = 0; i < size; ++i) {
            crc ^= uint16_t(data[i] << 8);
            for (int bit = 0; bit < 8; ++bit)
                crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
        }
        return {uint8_t(crc >> 8), uint8_t(crc)};
    }
    case Checksum::Crc32: {
        const uint32_t crc = ~ReflectedCrc(data, size, 0xFFFFFFFF, 0xEDB88320);
        return {uint8_t(crc), uint8_t(crc >> 8), uint8_t(crc >> 16), uint8_t(crc >> 24)};
    }
    }
    return {};
}

LineEnding LineEndingFor(bool cr, bool lf, bool crlf)
{
    if (crlf || (cr && lf))
        return LineEnding::CrLf;
    return cr ? LineEnding::Cr : lf ? LineEnding::Lf : LineEnding::None;
}

const wchar_t* ChecksumName(Checksum kind)
{
    static const wchar_t* const names[kChecksumCount] = {L"No checksum",   L"Sum-8",
                                                         L"XOR-8",         L"CRC-16/MODBUS",
                                                         L"CRC-16/CCITT-FALSE", L"CRC-32"};
    const int index = int(kind);
    return index >= 0 && index < kChecksumCount ? names[index] : names[0];
}

BuiltPayload FinishPayload(const PayloadForm& form, std::vector<uint8_t> body)
{
    BuiltPayload out;
    // A framed text protocol puts its checksum before the line ending; no
    // bytes have none.
    if (!body.empty()) {
        const std::vector<uint8_t> sum = ChecksumBytes(form.checksum, body.data(), body.size());
        out.checksum = {uint32_t(body.size()), uint32_t(sum.size())};
        body.insert(body.end(), sum.begin(), sum.end());
    }
    if (!form.hex) {
        const LineEnding e = form.ending;
        body = AppendLineEnding(std::move(body), e == LineEnding::Cr, e == LineEnding::Lf, e == LineEnding::CrLf);
    }
    out.bytes = std::move(body);
    return out;
}

BuiltPayload MakePayload(const PayloadForm& form)
{
    if (form.hex) {
        std::vector<uint8_t> bytes;
        if (!ParseHexBytes(form.text, bytes)) {
            BuiltPayload out;
            out.problem = L"\"" + form.text + L"\" is not hex pairs such as \"01 03 0A\".";
            return out;
        }
        return FinishPayload(form, std::move(bytes));
    }
    if (!form.escapes)
        return FinishPayload(form, EncodeUtf8(form.text));
    Unescaped expanded = ExpandEscapes(form.text);
    if (!expanded.problem.empty()) {
        BuiltPayload out;
        out.problem = std::move(expanded.problem);
        return out;
    }
    return FinishPayload(form, std::move(expanded.bytes));
}
