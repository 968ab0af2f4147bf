#include <winsock2.h>
#include <windows.h>

#include "logview/LogView.h"

#include <gtest/gtest.h>

#include <string>

// A crash under Wine may otherwise end with exit status 0 or a debugger.
static LONG WINAPI EndOnCrash(EXCEPTION_POINTERS*)
{
    TerminateProcess(GetCurrentProcess(), 99);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Every test process gets a settings folder of its own, so that tests never
// see each other's saved choices (nor a user's).
static std::wstring IsolateSettings()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"ferrolink-tests";
    CreateDirectoryW(folder.c_str(), nullptr);
    folder += L"\\" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    SetEnvironmentVariableW(L"LOCALAPPDATA", folder.c_str());
    return folder;
}

static void RemoveSettings(const std::wstring& folder)
{
    DeleteFileW((folder + L"\\Ferrolink\\Ferrolink.ini").c_str());
    RemoveDirectoryW((folder + L"\\Ferrolink").c_str());
    RemoveDirectoryW(folder.c_str());
}

int main(int argc, char** argv)
{
    SetUnhandledExceptionFilter(EndOnCrash);
    const std::wstring settingsFolder = IsolateSettings();
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    testing::InitGoogleTest(&argc, argv);
    WSADATA wsa{};
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 2;
    // Every dialog made from the program's template needs the class of its log.
    CLogView::RegisterWindowClass();
    const int result = RUN_ALL_TESTS();
    WSACleanup();
    RemoveSettings(settingsFolder);
    return result;
}
