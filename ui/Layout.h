#pragma once

#include <vector>

// Pixel layout of the main window, computed from its client size and DPI
// alone so that it can be checked without a window. The numbers in the code
// are 96-DPI pixels; every edge is scaled to the window's DPI.

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
    int cx = 0, cy = 0; // client size in the window's own pixels
    int dpi = 96;
    bool serial = false;
    bool clientList = false; // a TCP server or a UDP listener: the list of its peers is shown
    bool sideChoice = false; // a bridge: the send target names the side
    bool serialLines = false; // a bridge's second link is a serial port: its control lines' row too
    TabInsets logTabs, sendTabs; // measured, so already in the window's pixels
};

// A 96-DPI length at that DPI, rounded to the nearest pixel.
int ScaleForDpi(int value, int dpi);

// Every placement for that client size; none when either side is 0. Rows
// that do not fit the width wrap onto further lines, and the log gives up
// height, down to a few lines.
std::vector<Placement> LayoutFor(const LayoutInput& input);

// The DPI the layout is made at: the window's own, or lower where the client
// area is too small for it even wrapped (a screen of 1024 x 700 at 200 %),
// so that every control still lies inside the window. The window draws its
// text at that DPI too.
int LayoutDpi(const LayoutInput& input);

// The smallest client area in which the layout fits at that DPI, in every
// mode (a serial link has no client list): the window's minimum size.
struct ClientSize {
    int cx = 0, cy = 0;
};
ClientSize MinimumClientSize(int dpi);

const Placement* FindPlacement(const std::vector<Placement>& layout, int id);

extern const int kNetworkSet[8];
extern const int kSerialSet[13];
// The serial port's control lines, on a row of their own.
extern const int kSerialLineSet[10];

// A window rectangle on the screen, in the window's pixels.
struct ScreenRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

// Brought inside a monitor's work area: no larger than the area, no smaller
// than the minimum size where the area has room for it, and moved (not
// shrunk) as far as it can be.
ScreenRect FitIntoWorkArea(const ScreenRect& window, const ScreenRect& work, int minWidth, int minHeight);

// Where a window of that size opens when nothing was saved: fitted, and in
// the middle of the work area.
ScreenRect FirstStartRect(int width, int height, const ScreenRect& work, int minWidth, int minHeight);

// A new session's window: the current one's rectangle, one caption height
// down and to the right, kept inside the work area.
ScreenRect CascadedRect(const ScreenRect& current, int captionHeight, const ScreenRect& work, int minWidth,
                        int minHeight);
