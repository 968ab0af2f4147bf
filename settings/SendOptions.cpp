#include "settings/SendOptions.h"

#include "settings/SettingsStore.h"

namespace {

const wchar_t kSection[] = L"Options";
constexpr int32_t kMissing = -1;
constexpr int32_t kChecksums = 6;

int32_t ReadOrWrite(const wchar_t* key, int32_t fallback)
{
    const int32_t value = ReadSettingInt(kSection, key, kMissing);
    if (value != kMissing)
        return value;
    WriteSettingInt(kSection, key, fallback);
    return fallback;
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
    return options;
}

void SaveSendOptions(const SendOptions& options)
{
    SettingsLock lock;
    WriteSettingInt(kSection, L"Escapes", options.escapes ? 1 : 0);
    WriteSettingInt(kSection, L"Checksum", options.checksum);
}
