#include "app/FerrolinkApp.h"

static CFerrolinkApp theApp;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return Application::Current()->Run();
}
