#pragma once

#include "framework/Dialog.h"

#include <functional>

// Runs a dialog's messages the way its modal loop would until `done` holds
// or the time-out passes. Each round is bounded, so a fast timer cannot keep
// it from looking at the clock.
inline bool PumpDialogUntil(Dialog& dialog, const std::function<bool()>& done, int timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeoutMs);
    for (;;) {
        MSG msg;
        for (int n = 0; n < 200 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++n)
            dialog.RouteMessage(msg);
        if (done())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// Runs the dialog's messages until none has come for `quietMs`: what the
// links posted (a payload said sent once written) has been handled.
inline void PumpDialogUntilQuiet(Dialog& dialog, int quietMs = 30, int timeoutMs = 3000)
{
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeoutMs);
    ULONGLONG lastSeen = GetTickCount64();
    while (GetTickCount64() < deadline && GetTickCount64() - lastSeen < ULONGLONG(quietMs)) {
        MSG msg;
        for (int n = 0; n < 200 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
            if (msg.message != WM_TIMER)
                lastSeen = GetTickCount64();
            dialog.RouteMessage(msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}
