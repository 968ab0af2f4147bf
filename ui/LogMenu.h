#pragma once

#include <windows.h>

#include <vector>

// What the log's context menu offers, decided without a window.
struct LogMenuState {
    bool hasSelection = false;
    bool canFind = false; // the Find box holds something
    bool milliseconds = false;
    bool peers = true;
    bool receivedAsHex = false;
    bool autoScroll = true;
    bool recording = false;
};

struct LogMenuItem {
    UINT id = 0; // 0: a separator
    const wchar_t* text = L"";
    bool checked = false;
    bool enabled = true;
};

std::vector<LogMenuItem> LogMenuItems(const LogMenuState& state);
