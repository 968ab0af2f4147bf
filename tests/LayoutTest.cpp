#include "res/resource.h"
#include "ui/Layout.h"

#include <gtest/gtest.h>

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

std::vector<Placement> Layout(int cx, int cy, bool serial, TabInsets insets = {})
{
    LayoutInput in;
    in.cx = cx;
    in.cy = cy;
    in.serial = serial;
    in.logTabs = in.sendTabs = insets;
    return LayoutFor(in);
}

} // namespace

TEST(Layout, NetworkSetAtWidth980)
{
    const auto l = Layout(980, 620, false);
    EXPECT_EQ(At(l, IDC_COMM_COMBO), (Box{12, 24, 116, 180}));
    EXPECT_EQ(At(l, IDC_MODE_COMBO), (Box{136, 24, 92, 180}));
    EXPECT_EQ(At(l, IDC_IP_EDIT), (Box{236, 24, 150, 24}));
    EXPECT_EQ(At(l, IDC_PORT_EDIT), (Box{394, 24, 78, 24}));
    EXPECT_EQ(At(l, IDC_CONNECT), (Box{484, 24, 104, 24}));
    EXPECT_EQ(At(l, IDC_STATUS), (Box{602, 29, 366, 16}));
    EXPECT_EQ(At(l, IDC_LOG_TABS), (Box{12, 58, 956, 320}));
    // The log tool row and the send area hang from the bottom edge.
    EXPECT_EQ(At(l, IDC_FIND_EDIT), (Box{538, 386, 232, 24}));
    EXPECT_EQ(At(l, IDC_FIND_NEXT), (Box{782, 386, 54, 24}));
    EXPECT_EQ(At(l, IDC_RX_COUNT), (Box{844, 393, 60, 16}));
    EXPECT_EQ(At(l, IDC_TX_COUNT), (Box{908, 393, 60, 16}));
    EXPECT_EQ(At(l, IDC_SEND_TABS), (Box{12, 426, 644, 82}));
    EXPECT_EQ(At(l, IDC_SEND), (Box{664, 426, 82, 24}));
    EXPECT_EQ(At(l, IDC_HISTORY), (Box{758, 426, 210, 150}));
    EXPECT_EQ(At(l, IDC_REPEAT_MS), (Box{336, 518, 68, 24}));
    EXPECT_EQ(At(l, IDC_CLIENT_LIST), (Box{12, 552, 956, 56}));
    for (int id : kNetworkSet)
        EXPECT_EQ(ShownAs(l, id), Visibility::Show) << id;
    for (int id : kSerialSet) {
        EXPECT_EQ(ShownAs(l, id), Visibility::Hide) << id;
        EXPECT_EQ(At(l, id), (Box{-1000, -1000, 10, 10})) << id;
    }
    EXPECT_EQ(FindPlacement(l, IDC_HEX_CHECK), nullptr);
}

TEST(Layout, SerialSetAtWidth980)
{
    const auto l = Layout(980, 620, true);
    EXPECT_EQ(At(l, IDC_SERIAL_PORT), (Box{136, 24, 92, 180}));
    EXPECT_EQ(At(l, IDC_REFRESH_PORTS), (Box{236, 24, 72, 24}));
    EXPECT_EQ(At(l, IDC_BAUD), (Box{316, 24, 80, 180}));
    EXPECT_EQ(At(l, IDC_DATA_BITS), (Box{404, 24, 54, 180}));
    EXPECT_EQ(At(l, IDC_STOP_BITS), (Box{466, 24, 54, 180}));
    EXPECT_EQ(At(l, IDC_PARITY), (Box{528, 24, 76, 180}));
    EXPECT_EQ(At(l, IDC_CONNECT), (Box{612, 24, 66, 24}));
    EXPECT_EQ(At(l, IDC_FLOW_LABEL), (Box{690, 8, 88, 14}));
    EXPECT_EQ(At(l, IDC_FLOW), (Box{690, 24, 88, 180}));
    EXPECT_EQ(At(l, IDC_STATUS), (Box{786, 29, 182, 16}));
    for (int id : kSerialSet)
        EXPECT_EQ(ShownAs(l, id), Visibility::Show) << id;
    for (int id : kNetworkSet)
        EXPECT_EQ(ShownAs(l, id), Visibility::Hide) << id;
}

TEST(Layout, NarrowWindowFallsBackToFloorSizes)
{
    const auto l = Layout(500, 400, false);
    EXPECT_EQ(At(l, IDC_SEND_TABS).w, 260);
    EXPECT_EQ(At(l, IDC_SEND).x, 280);
    EXPECT_EQ(At(l, IDC_HISTORY), (Box{374, 206, 130, 150}));
    EXPECT_EQ(At(l, IDC_FIND_EDIT).w, 90);
    EXPECT_EQ(At(l, IDC_LOG_TABS).h, 100);
    EXPECT_EQ(At(Layout(120, 200, false), IDC_LOG_TABS), (Box{12, 58, 100, 90}));
    EXPECT_EQ(At(Layout(500, 400, true), IDC_STATUS).w, 70);
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
    EXPECT_EQ(At(l, IDC_LOG_EDIT), (Box{14, 83, 951, 291}));
    EXPECT_EQ(At(l, IDC_LOG_HEX), At(l, IDC_LOG_EDIT));
    EXPECT_EQ(At(l, IDC_SEND_EDIT), (Box{14, 451, 639, 53}));
    EXPECT_EQ(At(l, IDC_SEND_HEX), At(l, IDC_SEND_EDIT));
    EXPECT_EQ(ShownAs(l, IDC_LOG_EDIT), Visibility::Keep); // the tabs decide
}
