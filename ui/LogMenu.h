#pragma once

#include "framework/PopupMenu.h"

#include <vector>

// What the log's context menu offers, decided without a window.
struct LogMenuState {
    bool hasSelection = false;
    bool canFind = false; // the Find box holds something
    bool milliseconds = false;
    bool sincePrevious = false;
    bool peers = true;
    bool peersApply = true; // the chosen link's lines can name their peers
    bool receivedAsHex = false;
    bool sentAsHex = false;
    bool autoScroll = true;
    bool recording = false;
    int framing = -1; // the chosen link's FramingMode; -1: it has none (UDP)
};

std::vector<MenuItem> LogMenuItems(const LogMenuState& state);
