// A second process for the settings tests: appends history entries, or
// holds the settings lock until it is killed.
#include "settings/History.h"
#include "settings/SettingsStore.h"

#include <cstdlib>
#include <cstring>
#include <string>

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
    return 2;
}
