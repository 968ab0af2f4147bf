#include "settings/Framing.h"

#include "settings/SettingsStore.h"
#include "text/Hex.h"

namespace {

const wchar_t kSection[] = L"Framing";

std::wstring Key(FramedLink link, const wchar_t* name)
{
    return std::wstring(link == FramedLink::Serial ? L"Serial" : L"Tcp") + name;
}

} // namespace

FramingOptions LoadFraming(FramedLink link)
{
    SettingsLock lock;
    FramingOptions defaults;
    defaults.mode = link == FramedLink::Serial ? FramingMode::Lines : FramingMode::AsReceived;
    FramingOptions options = defaults;
    const int32_t mode = ReadOrWriteSettingInt(kSection, Key(link, L"Mode").c_str(), int32_t(defaults.mode));
    if (mode >= 0 && mode <= int32_t(FramingMode::FixedLength))
        options.mode = FramingMode(mode);
    const std::wstring delimiterKey = Key(link, L"Delimiter");
    const std::wstring delimiter = ReadSettingString(kSection, delimiterKey.c_str(), L"");
    if (!ParseHexBytes(delimiter, options.delimiter) || options.delimiter.empty()) {
        options.delimiter = defaults.delimiter;
        if (delimiter.empty())
            WriteSetting(kSection, delimiterKey.c_str(), HexBytesText(defaults.delimiter));
    }
    const int32_t gapMs = ReadOrWriteSettingInt(kSection, Key(link, L"GapMs").c_str(), int32_t(defaults.idleGapUs / 1000));
    if (gapMs >= 1 && gapMs <= 60000)
        options.idleGapUs = uint32_t(gapMs) * 1000;
    const int32_t length = ReadOrWriteSettingInt(kSection, Key(link, L"Length").c_str(), int32_t(defaults.fixedLength));
    if (length >= 1 && length <= 65536)
        options.fixedLength = uint32_t(length);
    const int32_t flushMs = ReadOrWriteSettingInt(kSection, Key(link, L"FlushMs").c_str(), int32_t(defaults.flushUs / 1000));
    if (flushMs >= 1 && flushMs <= 60000)
        options.flushUs = uint32_t(flushMs) * 1000;
    return options;
}

void SaveFraming(FramedLink link, const FramingOptions& options)
{
    SettingsLock lock;
    WriteSettingInt(kSection, Key(link, L"Mode").c_str(), int32_t(options.mode));
    WriteSetting(kSection, Key(link, L"Delimiter").c_str(), HexBytesText(options.delimiter));
    WriteSettingInt(kSection, Key(link, L"GapMs").c_str(), int32_t(options.idleGapUs / 1000));
    WriteSettingInt(kSection, Key(link, L"Length").c_str(), int32_t(options.fixedLength));
    WriteSettingInt(kSection, Key(link, L"FlushMs").c_str(), int32_t(options.flushUs / 1000));
}
