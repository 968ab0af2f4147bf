#include "settings/SendOptions.h"

#include "settings/SettingsStore.h"

namespace {

const wchar_t kSection[] = L"Options";
constexpr int32_t kChecksums = 6;

} // namespace

SendOptions LoadSendOptions()
{
    SettingsLock lock;
    const SendOptions defaults;
    SendOptions options;
    options.escapes = ReadOrWriteOption(L"Escapes", defaults.escapes);
    options.checksum = ReadOrWriteOption(L"Checksum", defaults.checksum);
    if (options.checksum < 0 || options.checksum >= kChecksums)
        options.checksum = defaults.checksum;
    options.cr = ReadOrWriteOption(L"SendCR", defaults.cr);
    options.lf = ReadOrWriteOption(L"SendLF", defaults.lf);
    options.crlf = ReadOrWriteOption(L"SendCRLF", defaults.crlf);
    options.enterSends = ReadOrWriteOption(L"EnterSends", defaults.enterSends);
    options.repeatMs = ReadOrWriteOption(L"RepeatMilliseconds", defaults.repeatMs);
    if (options.repeatMs < 1)
        options.repeatMs = defaults.repeatMs;
    options.clearAfterSend = ReadOrWriteOption(L"ClearAfterSend", defaults.clearAfterSend);
    options.hexFace = ReadOrWriteOption(L"SendHexFace", defaults.hexFace);
    options.toSelected = ReadOrWriteOption(L"SendToSelected", defaults.toSelected);
    return options;
}

void SaveSendOptions(const SendOptions& options)
{
    SettingsLock lock;
    WriteSettingInt(kSection, L"Escapes", options.escapes ? 1 : 0);
    WriteSettingInt(kSection, L"Checksum", options.checksum);
    WriteSettingInt(kSection, L"SendCR", options.cr ? 1 : 0);
    WriteSettingInt(kSection, L"SendLF", options.lf ? 1 : 0);
    WriteSettingInt(kSection, L"SendCRLF", options.crlf ? 1 : 0);
    WriteSettingInt(kSection, L"EnterSends", options.enterSends ? 1 : 0);
    WriteSettingInt(kSection, L"RepeatMilliseconds", options.repeatMs);
    WriteSettingInt(kSection, L"ClearAfterSend", options.clearAfterSend ? 1 : 0);
    WriteSettingInt(kSection, L"SendHexFace", options.hexFace ? 1 : 0);
    WriteSettingInt(kSection, L"SendToSelected", options.toSelected ? 1 : 0);
}
