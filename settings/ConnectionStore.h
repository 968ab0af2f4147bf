#pragma once

#include "bridge/Bridge.h"
#include "engine/ConnectionSettings.h"
#include "engine/SerialLines.h"

#include <windows.h>

// The last link choices and the window position, each load or save under
// one settings lock. Rectangles smaller than 900 x 620 are neither stored
// nor restored.
ConnectionSettings LoadConnectionSettings();
void SaveConnectionSettings(const ConnectionSettings& settings);
// A second link joined to the first ([Bridge]): whether it is, which link
// it is (side B; its network options are the defaults), and what happens
// when one of the two ends.
struct BridgeSettings {
    bool on = false;
    ConnectionSettings second;
    BridgeEnd whenOneEnds = BridgeEnd::StopBoth;
};
BridgeSettings LoadBridgeSettings();
void SaveBridgeSettings(const BridgeSettings& settings);
// [Network], as the options dialog sets them. No password is ever saved.
void SaveNetworkOptions(const NetworkOptions& options);
// [Serial] DtrAtOpen and RtsAtOpen alone, as they are chosen.
void SaveLinesAtOpen(bool dtr, bool rts);
// [Serial] PulseMs and BreakMs; out of 1-10000 ms, the defaults.
struct SerialControlLengths {
    uint32_t pulseMs = kDefaultPulseMs;
    uint32_t breakMs = kDefaultBreakMs;
};
SerialControlLengths LoadSerialControlLengths();
void SaveSerialControlLengths(const SerialControlLengths& lengths);
bool LoadWindowRect(RECT& rect);
// Whether a lost TCP client or serial port is tried again ([Options] Reconnect).
bool LoadReconnect();
void SaveReconnect(bool reconnect);
void SaveWindowRect(const RECT& rect);

constexpr LONG kMinStoredWidth = 900;
constexpr LONG kMinStoredHeight = 620;
