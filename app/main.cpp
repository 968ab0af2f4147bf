#include <winsock2.h>
#include <windows.h>

// Stand-in until the main window exists: proves that the program starts,
// brings the network stack up and down, and says what is still to come.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    WSADATA wsa{};
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        MessageBoxW(nullptr, L"Winsock2 initialization failed.", L"Ferrolink", MB_ICONERROR);
        return 1;
    }
    MessageBoxW(nullptr,
                L"Ferrolink's link engine is built and tested.\n"
                L"The main window is not part of this build yet.",
                L"Ferrolink", MB_ICONINFORMATION);
    WSACleanup();
    return 0;
}
