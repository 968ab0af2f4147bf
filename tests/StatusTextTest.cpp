#include "ui/StatusText.h"

#include <gtest/gtest.h>

// The link's state is what the status text shows at rest: a search that
// found nothing once replaced "TCP client connected" for good, through a
// whole file being sent.
TEST(StatusLine, TheLinksStateShowsAtRestAndEveryBorrowerGivesItBack)
{
    StatusLine line;
    EXPECT_EQ(line.Shown(0), L"Idle");
    line.SetLink(L"TCP client connected");
    line.Pass(L"\"nomatch\" not found", 5000);
    EXPECT_EQ(line.Shown(4999), L"\"nomatch\" not found");
    EXPECT_EQ(line.Shown(5000), L"TCP client connected");

    // A file's progress holds it while it runs, and the link's newest word
    // shows after it.
    line.SetProgress(L"Sending x.bin: 10%");
    line.SetLink(L"Reconnecting\u2026");
    EXPECT_EQ(line.Shown(6000), L"Sending x.bin: 10%");
    line.Pass(L"\"again\" not found", 9000);
    line.SetProgress(L"Sending x.bin: 20%");
    EXPECT_EQ(line.Shown(8000), L"\"again\" not found"); // newer than the progress, which only moved on
    EXPECT_EQ(line.Shown(9000), L"Sending x.bin: 20%");

    // The byte under the pointer, until the pointer leaves.
    line.Point(L"RX 10:00:00.000000, byte 1 of 2");
    EXPECT_EQ(line.Shown(9500), L"RX 10:00:00.000000, byte 1 of 2");
    line.Point(L"");
    EXPECT_EQ(line.Shown(9500), L"Sending x.bin: 20%");
    line.SetProgress(L"");
    EXPECT_EQ(line.Shown(9500), L"Reconnecting\u2026");

    // A message held until its cause is over is given back by its own text only.
    line.Pass(L"Starting a new window\u2026", 30000);
    line.EndPass(L"something else");
    EXPECT_EQ(line.Shown(10000), L"Starting a new window\u2026");
    line.EndPass(L"Starting a new window\u2026");
    EXPECT_EQ(line.Shown(10000), L"Reconnecting\u2026");
}
