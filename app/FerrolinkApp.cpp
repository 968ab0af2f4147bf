#include <winsock2.h>

#include "app/FerrolinkApp.h"

#include "framework/MessageBox.h"
#include "ui/MainDlg.h"

#include <commctrl.h>

namespace {

bool StartWinsock()
{
    WSADATA wsa{};
    return WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
}

void StopWinsock()
{
    WSACleanup();
}

void ShowError(const wchar_t* text)
{
    ShowErrorBox(nullptr, text);
}

void RunMainWindow()
{
    CMainDlg dialog;
    dialog.DoModal();
}

} // namespace

ShellServices DefaultShellServices()
{
    return {&StartWinsock, &StopWinsock, &ShowError, &RunMainWindow};
}

bool CFerrolinkApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    if (!m_services.startNetwork()) {
        m_services.showError(L"Winsock2 initialization failed.");
        return false;
    }
    m_wsaStarted = true;
    m_services.runMainWindow();
    return false;
}

int CFerrolinkApp::ExitInstance()
{
    if (m_wsaStarted) {
        m_services.stopNetwork();
        m_wsaStarted = false;
    }
    return Application::ExitInstance();
}
