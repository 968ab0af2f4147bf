#include "res/resource.h"
#include "ui/AutomationLayout.h"
#include "ui/Layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <iterator>

namespace {

struct Box {
    int x, y, w, h;
    bool operator==(const Box& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};

std::ostream& operator<<(std::ostream& out, const Box& b)
{
    return out << '(' << b.x << ", " << b.y << ", " << b.w << ", " << b.h << ')';
}

Box At(const std::vector<Placement>& layout, int id)
{
    const Placement* p = FindPlacement(layout, id);
    return p ? Box{p->x, p->y, p->width, p->height} : Box{-1, -1, -1, -1};
}

Visibility ShownAs(const std::vector<Placement>& layout, int id)
{
    const Placement* p = FindPlacement(layout, id);
    return p ? p->visibility : Visibility::Keep;
}

LayoutInput Input(int cx, int cy, bool serial, TabInsets insets = {}, int dpi = 96, bool clientList = true)
{
    LayoutInput in;
    in.cx = cx;
    in.cy = cy;
    in.dpi = dpi;
    in.serial = serial;
    in.clientList = clientList;
    in.logTabs = in.sendTabs = insets;
    return in;
}

std::vector<Placement> Layout(int cx, int cy, bool serial, TabInsets insets = {}, int dpi = 96, bool clientList = true)
{
    return LayoutFor(Input(cx, cy, serial, insets, dpi, clientList));
}

// Every control inside the client area, and none over another unless the
// two may share their place.
void InsideAndApart(const std::vector<Placement>& shown, int cx, int cy,
                    const std::function<bool(int, int)>& mayOverlap, const std::string& where)
{
    for (const Placement& p : shown) {
        ASSERT_GE(p.x, 0) << p.id << where;
        ASSERT_GE(p.y, 0) << p.id << where;
        ASSERT_LE(p.x + p.width, cx) << p.id << where;
        ASSERT_LE(p.y + p.height, cy) << p.id << where;
    }
    for (size_t i = 0; i < shown.size(); ++i)
        for (size_t j = i + 1; j < shown.size(); ++j) {
            const Placement &a = shown[i], &b = shown[j];
            if (mayOverlap(a.id, b.id))
                continue;
            ASSERT_TRUE(a.x + a.width <= b.x || b.x + b.width <= a.x || a.y + a.height <= b.y || b.y + b.height <= a.y)
                << a.id << " and " << b.id << where;
        }
}

} // namespace

TEST(Layout, NetworkSetAtWidth980)
{
    const auto l = Layout(980, 620, false);
    EXPECT_EQ(At(l, IDC_COMM_COMBO), (Box{12, 24, 116, 180}));
    EXPECT_EQ(At(l, IDC_MODE_COMBO), (Box{136, 24, 92, 180}));
    EXPECT_EQ(At(l, IDC_TLS), (Box{236, 27, 48, 18}));
    EXPECT_EQ(At(l, IDC_IP_EDIT), (Box{292, 24, 150, 24}));
    EXPECT_EQ(At(l, IDC_PORT_EDIT), (Box{450, 24, 78, 24}));
    EXPECT_EQ(At(l, IDC_NET_OPTIONS), (Box{536, 24, 84, 24}));
    EXPECT_EQ(At(l, IDC_CONNECT), (Box{632, 24, 104, 24}));
    EXPECT_EQ(At(l, IDC_BRIDGE), (Box{832, 24, 84, 24}));
    // At this width the status takes a line of its own.
    EXPECT_EQ(At(l, IDC_STATUS), (Box{12, 59, 956, 16}));
    EXPECT_EQ(At(l, IDC_LOG_TABS).y, 88);
    // The log tool row and the send area hang from the bottom edge; the
    // find box takes what the row leaves.
    EXPECT_EQ(At(l, IDC_FIND_EDIT).w, 132);
    EXPECT_EQ(At(l, IDC_TX_COUNT).x + At(l, IDC_TX_COUNT).w, 980 - 12);
    EXPECT_EQ(At(l, IDC_CLIENT_LIST), (Box{12, 552, 956, 56}));
    for (int id : kNetworkSet)
        EXPECT_EQ(ShownAs(l, id), Visibility::Show) << id;
    for (int id : kSerialSet) {
        EXPECT_EQ(ShownAs(l, id), Visibility::Hide) << id;
        EXPECT_EQ(At(l, id), (Box{-1000, -1000, 10, 10})) << id;
    }
    EXPECT_EQ(FindPlacement(l, IDC_HEX_CHECK), nullptr);
}

// Open ends the row of the port's settings, after Flow, where Connect ends
// the address in the network modes.
TEST(Layout, SerialSetEndsWithOpen)
{
    const auto l = Layout(980, 620, true);
    const Box flow = At(l, IDC_FLOW), open = At(l, IDC_CONNECT);
    EXPECT_EQ(open.y, flow.y);
    EXPECT_GT(open.x, flow.x + flow.w);
    const Box status = At(l, IDC_STATUS);
    EXPECT_TRUE(status.y > open.y || status.x > open.x + open.w);
    for (int id : kSerialSet)
        EXPECT_EQ(ShownAs(l, id), Visibility::Show) << id;
    for (int id : kNetworkSet)
        EXPECT_EQ(ShownAs(l, id), Visibility::Hide) << id;
}

TEST(Layout, EmptyClientMovesNothing)
{
    EXPECT_TRUE(Layout(0, 0, false).empty());
    EXPECT_TRUE(Layout(980, 0, true).empty());
    EXPECT_TRUE(Layout(0, 620, false).empty());
}

TEST(Layout, ViewsFillTheTabDisplayArea)
{
    const auto l = Layout(980, 620, false, TabInsets{2, 25, 3, 4});
    const Box tabs = At(l, IDC_LOG_TABS);
    EXPECT_EQ(At(l, IDC_LOG_EDIT), (Box{tabs.x + 2, tabs.y + 25, tabs.w - 5, tabs.h - 29}));
    EXPECT_EQ(At(l, IDC_LOG_HEX), At(l, IDC_LOG_EDIT));
    const Box send = At(l, IDC_SEND_TABS);
    EXPECT_EQ(At(l, IDC_SEND_EDIT), (Box{send.x + 2, send.y + 25, send.w - 5, send.h - 29}));
    EXPECT_EQ(At(l, IDC_SEND_HEX), At(l, IDC_SEND_EDIT));
    EXPECT_EQ(ShownAs(l, IDC_LOG_EDIT), Visibility::Keep); // the tabs decide
}

TEST(Layout, WithoutTheClientListTheLogTakesItsRoom)
{
    const auto with = Layout(980, 620, false);
    const auto without = Layout(980, 620, false, {}, 96, false);
    EXPECT_EQ(ShownAs(with, IDC_CLIENT_LIST), Visibility::Show);
    EXPECT_EQ(ShownAs(without, IDC_CLIENT_LIST), Visibility::Hide);
    EXPECT_EQ(At(without, IDC_LOG_TABS).h, At(with, IDC_LOG_TABS).h + 66);
    EXPECT_EQ(At(without, IDC_REPEAT_MS).y, At(with, IDC_REPEAT_MS).y + 66);
    EXPECT_EQ(At(without, IDC_REPEAT_MS).y + 24, 620 - 12); // the option row keeps the bottom margin
}

// A window narrower than its rows wraps them onto further lines, and the
// log gives up height: nothing is cut off or placed over another.
TEST(Layout, ANarrowWindowWrapsItsRows)
{
    const auto wide = Layout(980, 620, true);
    const auto narrow = Layout(600, 620, true);
    EXPECT_EQ(At(narrow, IDC_COMM_COMBO), At(wide, IDC_COMM_COMBO));
    EXPECT_GT(At(narrow, IDC_CONNECT).y, At(narrow, IDC_COMM_COMBO).y); // on a line of its own
    EXPECT_GT(At(narrow, IDC_LOG_TABS).y, At(wide, IDC_LOG_TABS).y);
    EXPECT_LT(At(narrow, IDC_LOG_TABS).h, At(wide, IDC_LOG_TABS).h);
    EXPECT_GT(At(narrow, IDC_FIND_EDIT).y, At(narrow, IDC_CLEAR).y);
    EXPECT_LE(At(narrow, IDC_TX_COUNT).x + At(narrow, IDC_TX_COUNT).w, 600 - 12);
}

TEST(Layout, ScalesWithTheWindowsDpi)
{
    for (const int dpi : {144, 192}) {
        const auto l = Layout(980 * dpi / 96, 620 * dpi / 96, false, {}, dpi);
        const auto base = Layout(980, 620, false);
        // Edges are scaled, so sizes follow from them.
        const auto scaled = [&](int id) {
            const Box b = At(base, id);
            const auto s = [&](int v) { return ScaleForDpi(v, dpi); };
            return Box{s(b.x), s(b.y), s(b.x + b.w) - s(b.x), s(b.y + b.h) - s(b.y)};
        };
        for (int id : {IDC_COMM_COMBO, IDC_LOG_TABS, IDC_TX_COUNT, IDC_SEND_TABS, IDC_CLIENT_LIST})
            EXPECT_EQ(At(l, id), scaled(id)) << id << " at " << dpi;
    }
    EXPECT_EQ(ScaleForDpi(15, 120), 19); // 18.75, rounded
    EXPECT_EQ(ScaleForDpi(-1000, 144), -1500);
}

// A screen too small for the window at its DPI (1024 x 700 at 200 %): the
// layout is made at a lower DPI, as little lower as fits. A 1280 x 900
// screen at 150 % needs no such step.
TEST(Layout, AScreenTooSmallForItsDpiGetsALayoutThatFits)
{
    EXPECT_EQ(LayoutDpi(Input(1264, 860, false, {}, 144)), 144);
    LayoutInput in = Input(1008, 640, false, {}, 192);
    const int lower = LayoutDpi(in);
    EXPECT_LT(lower, 192);
    EXPECT_GE(lower, 96);
    in.dpi = lower + 12;
    EXPECT_LT(LayoutDpi(in), in.dpi);
    // The smallest client area is one the layout fits whole at that DPI.
    for (const int dpi : {96, 144, 192}) {
        const ClientSize least = MinimumClientSize(dpi);
        for (const bool serial : {false, true})
            EXPECT_EQ(LayoutDpi(Input(least.cx, least.cy, serial, {}, dpi, !serial)), dpi) << dpi;
    }
}

// From the smallest client area (or that of a 1024 x 700 screen, less its
// frame) up to 4K, at 100, 150 and 200 %, in every mode: every shown control
// lies inside the client area, and none overlaps another but the tab
// controls and the views they hold.
TEST(Layout, NoShownControlsOverlapAtAnySize)
{
    const int combos[] = {IDC_COMM_COMBO, IDC_MODE_COMBO, IDC_HISTORY, IDC_CHECKSUM, IDC_SEND_TARGET, IDC_SERIAL_PORT, IDC_BAUD,
                          IDC_DATA_BITS,  IDC_STOP_BITS,  IDC_PARITY,  IDC_FLOW};
    const auto contains = [](int outer, int inner) {
        return (outer == IDC_LOG_TABS && (inner == IDC_LOG_EDIT || inner == IDC_LOG_HEX)) ||
               (outer == IDC_SEND_TABS && (inner == IDC_SEND_EDIT || inner == IDC_SEND_HEX));
    };
    const auto sharePlace = [](int a, int b) { // only one of the two is shown at a time
        return (a == IDC_LOG_EDIT && b == IDC_LOG_HEX) || (a == IDC_SEND_EDIT && b == IDC_SEND_HEX);
    };
    int layouts = 0;
    for (const int dpi : {96, 144, 192}) {
        const ClientSize least = MinimumClientSize(dpi);
        const int fromX = std::min(least.cx, 1008), fromY = std::min(least.cy, 640);
        for (int cx = fromX; cx <= 3840; cx += cx < 1400 ? 23 : 197)
            for (int cy = fromY; cy <= 2160; cy += cy < 1000 ? 29 : 173)
                for (const bool serial : {false, true})
                    for (const bool clientList : {false, true}) {
                        ++layouts;
                        const LayoutInput in = Input(cx, cy, serial, TabInsets{4, 26, 4, 4}, dpi, clientList);
                        const auto l = LayoutFor(in);
                        const int shownDpi = LayoutDpi(in);
                        std::vector<Placement> shown;
                        for (Placement p : l) {
                            if (p.visibility == Visibility::Hide)
                                continue;
                            if (std::find(std::begin(combos), std::end(combos), p.id) != std::end(combos))
                                p.height = ScaleForDpi(24, shownDpi); // the field, not the dropped list
                            shown.push_back(p);
                        }
                        InsideAndApart(shown, cx, cy, [&](int a, int b) {
                            return contains(a, b) || contains(b, a) || sharePlace(a, b) || sharePlace(b, a);
                        }, " at " + std::to_string(cx) + " x " + std::to_string(cy) + ", dpi " + std::to_string(dpi) +
                           (serial ? ", serial" : ""));
                        ASSERT_FALSE(testing::Test::HasFatalFailure());
                    }
    }
    EXPECT_GT(layouts, 1000);
}

TEST(WindowPlacement, FirstStartSavedAndCascadedRectanglesFitTheWorkArea)
{
    const ScreenRect work{0, 0, 1280, 860}; // 1280 x 900 less a task bar
    // The template came out larger than the screen.
    EXPECT_EQ(FirstStartRect(1292, 872, work, 980, 620), (ScreenRect{0, 0, 1280, 860}));
    EXPECT_EQ(FirstStartRect(1000, 700, work, 980, 620), (ScreenRect{140, 80, 1140, 780}));
    // A work area smaller than the minimum size: the area wins.
    EXPECT_EQ(FirstStartRect(1000, 700, ScreenRect{0, 0, 800, 600}, 980, 620), (ScreenRect{0, 0, 800, 600}));

    // Saved on a monitor to the right that is gone, or half off the bottom.
    EXPECT_EQ(FitIntoWorkArea({1500, 100, 2500, 800}, work, 980, 620), (ScreenRect{280, 100, 1280, 800}));
    EXPECT_EQ(FitIntoWorkArea({100, 500, 1100, 1200}, work, 980, 620), (ScreenRect{100, 160, 1100, 860}));
    EXPECT_EQ(FitIntoWorkArea({-300, -50, 2000, 1000}, work, 980, 620), work);
    EXPECT_EQ(FitIntoWorkArea({10, 10, 110, 110}, work, 980, 620), (ScreenRect{10, 10, 990, 630}));
    // What the file can hold at its edges: no overflow, the whole work area.
    EXPECT_EQ(FitIntoWorkArea({-2147483647, -2147483647, 2147483647, 2147483647}, work, 980, 620), work);
    EXPECT_EQ(FitIntoWorkArea({2147483647, 2147483647, -2147483647, -2147483647}, work, 980, 620),
              (ScreenRect{300, 240, 1280, 860}));
    // On a second monitor with its own origin.
    EXPECT_EQ(FitIntoWorkArea({1200, 0, 2200, 700}, ScreenRect{1280, -200, 3200, 880}, 980, 620),
              (ScreenRect{1280, 0, 2280, 700}));

    EXPECT_EQ(CascadedRect({100, 100, 1100, 800}, 23, work, 980, 620), (ScreenRect{123, 123, 1123, 823}));
    EXPECT_EQ(CascadedRect({280, 100, 1280, 800}, 23, work, 980, 620), (ScreenRect{300, 123, 1280, 823}));
    // No room left to step without going below the minimum size.
    EXPECT_EQ(CascadedRect({300, 240, 1280, 860}, 23, work, 980, 620), (ScreenRect{300, 240, 1280, 860}));
}

// The automation window at its least size and beyond, at every scale:
// everything inside it, nothing over anything else (its three lists take
// turns in one place).
TEST(Layout, TheAutomationWindowFitsAtAnySize)
{
    const int lists[] = {IDC_AUTO_COMMANDS, IDC_AUTO_SEQUENCES, IDC_AUTO_RULES};
    const auto isList = [&](int id) { return std::find(std::begin(lists), std::end(lists), id) != std::end(lists); };
    for (const int dpi : {96, 120, 144, 192})
        for (const bool responder : {false, true}) {
            const ClientSize least = AutomationMinimumSize(dpi);
            for (int cx = least.cx; cx < least.cx + 900; cx += 37)
                for (int cy = least.cy; cy < least.cy + 700; cy += 41) {
                    std::vector<Placement> shown;
                    for (const Placement& p : AutomationLayoutFor(cx, cy, dpi, responder))
                        if (p.id != IDC_AUTO_RESPOND || responder)
                            shown.push_back(p);
                    InsideAndApart(shown, cx, cy, [&](int a, int b) { return isList(a) && isList(b); },
                                   " at " + std::to_string(cx) + " x " + std::to_string(cy) + ", dpi " +
                                       std::to_string(dpi));
                    ASSERT_FALSE(testing::Test::HasFatalFailure());
                }
            // It fits a 1280 x 720 screen at 150 %.
            EXPECT_LE(AutomationMinimumSize(144).cy, 700);
        }
}
