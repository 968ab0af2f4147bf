#include "settings/LogOptions.h"

#include "settings/SettingsStore.h"

namespace {

const wchar_t kSection[] = L"Options";

// Bounds past which a value means nothing a run could use.
const BoundedOption kLines{L"LogLines", 100000, 100, 10000000};
const BoundedOption kCharacters{L"LogCharacters", 64 << 20, 65536, 1 << 30};
const BoundedOption kJournal{L"JournalMegabytes", 64, 1, 4096};
const BoundedOption kJournalDisk{L"JournalDiskMegabytes", 4096, 16, 1 << 24};
const BoundedOption kUdpSenders{L"UdpSenders", 4096, 16, 1 << 20};
const BoundedOption kTcpClients{L"TcpClients", 4096, 1, 1 << 16};

int32_t ReadOrWriteBounded(const BoundedOption& option)
{
    const std::wstring missing = L"\x01missing\x01";
    const std::wstring text = ReadSettingString(kSection, option.key, missing);
    if (text == missing) {
        WriteSettingInt(kSection, option.key, option.fallback);
        return option.fallback;
    }
    return ReadBoundedOption(text, option);
}

} // namespace

int32_t ReadBoundedOption(const std::wstring& text, const BoundedOption& option)
{
    const size_t first = text.find_first_not_of(L" \t");
    const size_t last = text.find_last_not_of(L" \t");
    if (first == std::wstring::npos || last - first >= 10)
        return option.fallback;
    int64_t value = 0;
    for (size_t i = first; i <= last; ++i) {
        if (text[i] < L'0' || text[i] > L'9')
            return option.fallback;
        value = value * 10 + (text[i] - L'0');
    }
    return value < option.least || value > option.most ? option.fallback : int32_t(value);
}

LogOptions LoadLogOptions()
{
    SettingsLock lock;
    const LogOptions defaults;
    LogOptions options;
    options.milliseconds = ReadOrWriteOption(L"Milliseconds", defaults.milliseconds);
    options.sincePrevious = ReadOrWriteOption(L"SincePrevious", defaults.sincePrevious);
    options.peers = ReadOrWriteOption(L"Peers", defaults.peers);
    options.receivedAsHex = ReadOrWriteOption(L"ReceivedAsHex", defaults.receivedAsHex);
    options.sentAsHex = ReadOrWriteOption(L"SentAsHex", defaults.sentAsHex);
    options.lines = ReadOrWriteBounded(kLines);
    options.characters = ReadOrWriteBounded(kCharacters);
    options.journalMegabytes = ReadOrWriteBounded(kJournal);
    options.journalDiskMegabytes = ReadOrWriteBounded(kJournalDisk);
    options.udpSenders = ReadOrWriteBounded(kUdpSenders);
    options.tcpClients = ReadOrWriteBounded(kTcpClients);
    return options;
}

void SaveLogOptions(const LogOptions& options)
{
    SettingsLock lock;
    WriteSettingInt(kSection, L"Milliseconds", options.milliseconds ? 1 : 0);
    WriteSettingInt(kSection, L"SincePrevious", options.sincePrevious ? 1 : 0);
    WriteSettingInt(kSection, L"Peers", options.peers ? 1 : 0);
    WriteSettingInt(kSection, L"ReceivedAsHex", options.receivedAsHex ? 1 : 0);
    WriteSettingInt(kSection, L"SentAsHex", options.sentAsHex ? 1 : 0);
    WriteSettingInt(kSection, L"LogLines", options.lines);
    WriteSettingInt(kSection, L"LogCharacters", options.characters);
    WriteSettingInt(kSection, L"JournalMegabytes", options.journalMegabytes);
}
