#include "settings/LogOptions.h"

#include "settings/SettingsStore.h"

namespace {

const wchar_t kSection[] = L"Options";

} // namespace

LogOptions LoadLogOptions()
{
    SettingsLock lock;
    const LogOptions defaults;
    LogOptions options;
    options.milliseconds = ReadOrWriteOption(L"Milliseconds", defaults.milliseconds);
    options.peers = ReadOrWriteOption(L"Peers", defaults.peers);
    options.receivedAsHex = ReadOrWriteOption(L"ReceivedAsHex", defaults.receivedAsHex);
    options.sentAsHex = ReadOrWriteOption(L"SentAsHex", defaults.sentAsHex);
    options.lines = ReadOrWriteOption(L"LogLines", defaults.lines);
    options.characters = ReadOrWriteOption(L"LogCharacters", defaults.characters);
    options.journalMegabytes = ReadOrWriteOption(L"JournalMegabytes", defaults.journalMegabytes);
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
    WriteSettingInt(kSection, L"SentAsHex", options.sentAsHex ? 1 : 0);
    WriteSettingInt(kSection, L"LogLines", options.lines);
    WriteSettingInt(kSection, L"LogCharacters", options.characters);
    WriteSettingInt(kSection, L"JournalMegabytes", options.journalMegabytes);
}
