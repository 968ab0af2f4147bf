#include "engine/ConnectionSettings.h"

#include <cwctype>
#include <limits>

int32_t ParseLeadingInt(const std::wstring& text)
{
    size_t i = 0;
    while (i < text.size() && std::iswspace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    // Saturate rather than wrap, so a long run of digits cannot turn into a
    // small, plausible-looking number.
    const int64_t limit = negative ? -int64_t(std::numeric_limits<int32_t>::min())
                                   : int64_t(std::numeric_limits<int32_t>::max());
    int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > limit) {
            value = limit;
            break;
        }
    }
    return int32_t(negative ? -value : value);
}

static uint8_t PositionOrZero(int position, int count)
{
    return (position >= 0 && position < count) ? uint8_t(position) : uint8_t(0);
}

namespace {

// Digits only, with blanks around them, and no more than `most`.
bool IsWholeNumberUpTo(const std::wstring& text, uint64_t least, uint64_t most)
{
    const size_t first = text.find_first_not_of(L" \t");
    const size_t last = text.find_last_not_of(L" \t");
    if (first == std::wstring::npos)
        return false;
    uint64_t value = 0;
    for (size_t i = first; i <= last; ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return false;
        value = value * 10 + uint64_t(text[i] - L'0');
        if (value > most)
            return false;
    }
    return value >= least;
}

std::wstring RangeProblem(const wchar_t* field, const std::wstring& text, uint64_t least, uint64_t most)
{
    return std::wstring(field) + L" must be a whole number from " + std::to_wstring(least) + L" to " +
           std::to_wstring(most) + L", not \"" + text + L"\".";
}

} // namespace

std::wstring ControlValuesProblem(const ControlValues& c)
{
    if (c.communication == CommSerial) {
        if (!c.baudText.empty() && !IsWholeNumberUpTo(c.baudText, 1, 16000000))
            return RangeProblem(L"Baud", c.baudText, 1, 16000000);
    } else if (!c.portText.empty() && !IsWholeNumberUpTo(c.portText, 0, 65535)) {
        return RangeProblem(L"Port", c.portText, 0, 65535);
    }
    return {};
}

ConnectionSettings SettingsFromControls(const ControlValues& c)
{
    ConnectionSettings s;
    s.useSerial = c.communication == CommSerial ? 1 : 0;
    s.isUdp = c.communication == CommUdp ? 1 : 0;
    s.isServer = c.mode == ModeServer ? 1 : 0;

    // Both kinds of link are read whichever is chosen: what is saved holds
    // every box, and one kind's link must not reset the other's choices.
    s.serialPort = c.serialPortText;
    const int32_t baud = ParseLeadingInt(c.baudText);
    s.baud = baud == 0 ? 115200u : uint32_t(baud);
    const int32_t dataBits = ParseLeadingInt(c.dataBitsText);
    s.dataBits = uint8_t(dataBits == 0 ? 8 : dataBits);
    s.stopBits = PositionOrZero(c.stopBits, 3);
    s.parity = PositionOrZero(c.parity, 5);
    s.flowControl = PositionOrZero(c.flowControl, 3);
    s.dtrAtOpen = c.dtr;
    s.rtsAtOpen = c.rts;
    s.tls = c.tls;
    // An empty box keeps the default; any other text is taken as typed.
    if (s.isServer && !s.useSerial)
        s.ip = L"0.0.0.0";
    else if (!c.ipText.empty())
        s.ip = c.ipText;
    if (!c.portText.empty())
        s.port = uint16_t(uint32_t(ParseLeadingInt(c.portText)));
    return s;
}
