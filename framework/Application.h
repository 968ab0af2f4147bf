#pragma once

#include <windows.h>

// The process's one application object, constructed statically. Run calls
// InitInstance; when that returns false the process ends after ExitInstance,
// so a dialog-based program runs its window inside InitInstance.
class Application {
public:
    Application();
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    static Application* Current() { return s_current; }
    HINSTANCE Instance() const { return GetModuleHandleW(nullptr); }

    int Run();

    virtual bool InitInstance() { return true; }
    virtual int ExitInstance() { return 0; }

protected:
    // For an InitInstance that returns true: the usual message loop.
    virtual int MessageLoop();

private:
    static Application* s_current;
};
