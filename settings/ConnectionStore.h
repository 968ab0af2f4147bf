#pragma once

#include "engine/ConnectionSettings.h"

#include <windows.h>

// The last link choices and the window position, each load or save under
// one settings lock. Rectangles smaller than 900 x 620 are neither stored
// nor restored.
ConnectionSettings LoadConnectionSettings();
void SaveConnectionSettings(const ConnectionSettings& settings);
bool LoadWindowRect(RECT& rect);
// Whether a lost TCP client or serial port is tried again ([Options] Reconnect).
bool LoadReconnect();
void SaveReconnect(bool reconnect);
void SaveWindowRect(const RECT& rect);

constexpr LONG kMinStoredWidth = 900;
constexpr LONG kMinStoredHeight = 620;
