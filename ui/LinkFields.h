#pragma once

#include "engine/ConnectionSettings.h"
#include "framework/Window.h"

#include <string>

// The boxes that choose a link, wherever they are: the main window's
// connection row and the bridge's second link. Each is a control id of
// `parent`.
struct LinkFieldIds {
    int communication, mode, ip, port, serialPort, baud, dataBits, stopBits, parity, flow;
};

// Fills the fixed lists, with their defaults chosen, and the serial ports.
void FillLinkFields(HWND parent, const LinkFieldIds& ids);
// The serial ports as they are now, the chosen one kept where it still is.
void RefreshSerialPortList(Window list);
void ShowLinkSettings(HWND parent, const LinkFieldIds& ids, const ConnectionSettings& settings);
// What the boxes say; the serial port's lines at open and TLS are not theirs.
ControlValues ReadLinkFields(HWND parent, const LinkFieldIds& ids);
