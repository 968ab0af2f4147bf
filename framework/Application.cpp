#include "framework/Application.h"

Application* Application::s_current = nullptr;

Application::Application()
{
    s_current = this;
}

Application::~Application()
{
    if (s_current == this)
        s_current = nullptr;
}

int Application::Run()
{
    if (!InitInstance())
        return ExitInstance();
    MessageLoop();
    return ExitInstance();
}

int Application::MessageLoop()
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return int(msg.wParam);
}
