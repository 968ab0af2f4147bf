#pragma once

#include "framework/Application.h"

// What the application needs from the system, replaceable so that tests can
// check the start-up and clean-up order without a network stack or window.
struct ShellServices {
    bool (*startNetwork)();
    void (*stopNetwork)();
    void (*showError)(const wchar_t* text);
    void (*runMainWindow)();
};

ShellServices DefaultShellServices();

class CFerrolinkApp : public Application {
public:
    explicit CFerrolinkApp(ShellServices services = DefaultShellServices()) : m_services(services) {}

    // Runs the main window to its end and returns false, so the process
    // ends when the window closes.
    bool InitInstance() override;
    int ExitInstance() override;

    bool NetworkStarted() const { return m_wsaStarted; }

private:
    ShellServices m_services;
    bool m_wsaStarted = false;
};
