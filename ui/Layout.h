#pragma once

#include <vector>

// Pixel layout of the main window, computed from its client size alone so
// that it can be checked without a window.

enum class Visibility { Keep, Show, Hide };

struct Placement {
    int id;
    int x, y, width, height; // a combo box's height is its dropped list's
    Visibility visibility = Visibility::Keep;
};

// A tab control's display area inside its own rectangle (0, 0, w, h) is
// (left, top, w - right, h - bottom).
struct TabInsets {
    int left = 0, top = 0, right = 0, bottom = 0;
};

struct LayoutInput {
    int cx = 0, cy = 0;
    bool serial = false;
    TabInsets logTabs, sendTabs;
};

// Every placement for that client size; none when either side is 0.
std::vector<Placement> LayoutFor(const LayoutInput& input);

const Placement* FindPlacement(const std::vector<Placement>& layout, int id);

extern const int kNetworkSet[6];
extern const int kSerialSet[13];
