#include "settings/LogOptions.h"

#include "settings/SettingsStore.h"

namespace {

const wchar_t kSection[] = L"Options";

int32_t ReadOrWrite(const wchar_t* key, int32_t fallback)
{
    return ReadOrWriteSettingInt(kSection, key, fallback);
}

} // namespace

LogOptions LoadLogOptions()
{
    SettingsLock lock;
    const LogOptions defaults;
    LogOptions options;
    options.milliseconds = ReadOrWrite(L"Milliseconds", defaults.milliseconds ? 1 : 0) != 0;
    options.peers = ReadOrWrite(L"Peers", defaults.peers ? 1 : 0) != 0;
    options.receivedAsHex = ReadOrWrite(L"ReceivedAsHex", defaults.receivedAsHex ? 1 : 0) != 0;
    options.lines = ReadOrWrite(L"LogLines", defaults.lines);
    options.characters = ReadOrWrite(L"LogCharacters", defaults.characters);
    options.journalMegabytes = ReadOrWrite(L"JournalMegabytes", defaults.journalMegabytes);
    if (options.lines < 100)
        options.lines = defaults.lines;
    if (options.characters < 65536)
        options.characters = defaults.characters;
    if (options.journalMegabytes < 1)
        options.journalMegabytes = defaults.journalMegabytes;
    return options;
}

void SaveLogOptions(const LogOptions& options)
{
    SettingsLock lock;
    WriteSettingInt(kSection, L"Milliseconds", options.milliseconds ? 1 : 0);
    WriteSettingInt(kSection, L"Peers", options.peers ? 1 : 0);
    WriteSettingInt(kSection, L"ReceivedAsHex", options.receivedAsHex ? 1 : 0);
    WriteSettingInt(kSection, L"LogLines", options.lines);
    WriteSettingInt(kSection, L"LogCharacters", options.characters);
    WriteSettingInt(kSection, L"JournalMegabytes", options.journalMegabytes);
}
