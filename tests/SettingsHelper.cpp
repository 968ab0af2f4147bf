// A second process for the settings tests: appends history entries, holds
// the settings lock until it is killed, or saves generation after
// generation of a whole window's settings until it is killed.
#include "settings/ConnectionStore.h"
#include "settings/History.h"
#include "settings/SettingsStore.h"

#include <cstdlib>
#include <cstring>
#include <string>

// Every value says which generation wrote it, as a window's close would.
static void SaveGeneration(int generation)
{
    SettingsLock saving;
    ConnectionSettings connection;
    connection.port = uint16_t(generation);
    connection.ip = L"10.0.0." + std::to_wstring(generation % 256);
    SaveConnectionSettings(connection);
    HistoryList history;
    for (int i = 0; i < 20; ++i)
        history.push_back(std::to_wstring(generation) + L"-" + std::to_wstring(i));
    SaveSendHistory(history);
    SaveWindowRect(RECT{generation, 0, generation + 1000, 800});
}

int main(int argc, char** argv)
{
    if (argc >= 4 && strcmp(argv[1], "append") == 0) {
        const std::string tag = argv[2];
        const int count = atoi(argv[3]);
        for (int i = 0; i < count; ++i)
            AppendSendHistory(std::wstring(tag.begin(), tag.end()) + L"-" + std::to_wstring(i));
        return 0;
    }
    if (argc >= 2 && strcmp(argv[1], "hold") == 0) {
        const HANDLE mutex = CreateMutexW(nullptr, FALSE, kSettingsMutexName);
        WaitForSingleObject(mutex, INFINITE);
        const HANDLE held = CreateEventW(nullptr, TRUE, FALSE, L"Local\\FerrolinkTestLockHeld");
        SetEvent(held);
        Sleep(60000); // the test ends this process long before
        return 0;
    }
    if (argc >= 3 && strcmp(argv[1], "save") == 0) {
        const HANDLE saving = CreateEventW(nullptr, TRUE, FALSE, L"Local\\FerrolinkTestSaving");
        SetEvent(saving);
        // Until killed; a test that died first is outlived by a minute at most.
        const ULONGLONG end = GetTickCount64() + 60000;
        for (int generation = atoi(argv[2]); GetTickCount64() < end; ++generation)
            SaveGeneration(generation);
        return 0;
    }
    return 2;
}
