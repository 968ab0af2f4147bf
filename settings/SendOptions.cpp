#include "settings/SendOptions.h"

#include "settings/SettingsStore.h"

namespace {

const wchar_t kSection[] = L"Options";
constexpr int32_t kChecksums = 6;

int32_t ReadOrWrite(const wchar_t* key, int32_t fallback)
{
    return ReadOrWriteSettingInt(kSection, key, fallback);
}

} // namespace

SendOptions LoadSendOptions()
{
    SettingsLock lock;
    const SendOptions defaults;
    SendOptions options;
    options.escapes = ReadOrWrite(L"Escapes", defaults.escapes ? 1 : 0) != 0;
    options.checksum = ReadOrWrite(L"Checksum", defaults.checksum);
    if (options.checksum < 0 || options.checksum >= kChecksums)
        options.checksum = defaults.checksum;
    options.cr = ReadOrWrite(L"SendCR", defaults.cr ? 1 : 0) != 0;
    options.lf = ReadOrWrite(L"SendLF", defaults.lf ? 1 : 0) != 0;
    options.crlf = ReadOrWrite(L"SendCRLF", defaults.crlf ? 1 : 0) != 0;
    options.enterSends = ReadOrWrite(L"EnterSends", defaults.enterSends ? 1 : 0) != 0;
    options.repeatMs = ReadOrWrite(L"RepeatMilliseconds", defaults.repeatMs);
    if (options.repeatMs < 1)
        options.repeatMs = defaults.repeatMs;
    options.clearAfterSend = ReadOrWrite(L"ClearAfterSend", defaults.clearAfterSend ? 1 : 0) != 0;
    options.hexFace = ReadOrWrite(L"SendHexFace", defaults.hexFace ? 1 : 0) != 0;
    options.toSelected = ReadOrWrite(L"SendToSelected", defaults.toSelected ? 1 : 0) != 0;
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
