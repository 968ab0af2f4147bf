#pragma once

#include "engine/ConnectionSettings.h"

#include <string>

// The rules that tie the connection controls to a ConnectionSettings,
// without the controls themselves.

struct IpEditState {
    std::wstring text;
    bool enabled = true;
};

// Server mode listens on every address; back in client mode an unusable
// address becomes loopback, and anything the user typed stays.
IpEditState IpEditForMode(int modePosition, const std::wstring& currentText);

// What each control shows for a stored record. The serial port and data bits
// are names to look up in their lists (kept as they are when not found).
struct ControlSelections {
    int communication = 0;
    int mode = 0;
    std::wstring ipText;
    std::wstring portText;
    std::wstring serialPort;
    std::wstring baudText;
    std::wstring dataBitsText;
    int stopBits = 0;
    int parity = 0;
    int flowControl = 0;
};

ControlSelections SelectionsFor(const ConnectionSettings& settings);

// "Ferrolink" without settings, else the link in words.
std::wstring WindowTitle(const ConnectionSettings* settings);

const wchar_t* ConnectCaption(bool serial, bool connected);
