#include "ui/EventRules.h"

#include <gtest/gtest.h>

using Kind = TransportEventKind;

namespace {

TransportEvent Event(Kind kind, const wchar_t* text, bool linkEnded = false)
{
    TransportEvent e;
    e.kind = kind;
    e.text = text;
    e.linkEnded = linkEnded;
    return e;
}

} // namespace

TEST(EventRules, TheWorkersFlagNotTheTextEndsTheConnectedState)
{
    // The words no longer decide: a status ends the state only when its
    // worker says the link has ended.
    EXPECT_FALSE(ReactionTo(Event(Kind::Status, L"TCP client disconnected"), false, false).endConnected);
    EXPECT_TRUE(ReactionTo(Event(Kind::Status, L"TCP client disconnected", true), false, false).endConnected);
    EXPECT_TRUE(ReactionTo(Event(Kind::Status, L"Serial closed", true), false, false).endConnected);
    const EventReaction opened = ReactionTo(Event(Kind::Status, L"Serial opened COM3 @ 115200"), false, false);
    EXPECT_FALSE(opened.endConnected);
    EXPECT_TRUE(opened.showStatus);
    EXPECT_TRUE(opened.log);
}

TEST(EventRules, AnErrorThatLeavesTheLinkOpenIsOnlyLogged)
{
    const EventReaction r = ReactionTo(Event(Kind::Error, L"Serial write failed."), false, false);
    EXPECT_FALSE(r.endConnected);
    EXPECT_FALSE(r.showStatus);
    EXPECT_TRUE(r.log);
}

TEST(EventRules, TheErrorThatEndedTheLinkStaysInTheStatusLine)
{
    const EventReaction failed = ReactionTo(Event(Kind::Error, L"TCP connect failed (WSA 10061)", true), false, false);
    EXPECT_TRUE(failed.endConnected);
    EXPECT_TRUE(failed.showStatus);
    // The closing status that follows is logged but does not hide the reason.
    const EventReaction closed = ReactionTo(Event(Kind::Status, L"Serial closed", true), false, true);
    EXPECT_TRUE(closed.endConnected);
    EXPECT_FALSE(closed.showStatus);
    EXPECT_TRUE(closed.log);
    // A new run's statuses show again.
    EXPECT_TRUE(ReactionTo(Event(Kind::Status, L"TCP client connecting..."), false, true).showStatus);
}

TEST(EventRules, ClientEventsChangeTheListAndNeverTheState)
{
    const EventReaction added = ReactionTo(Event(Kind::ClientAdded, L"Client connected"), false, false);
    EXPECT_EQ(added.clientList, ClientListChange::Add);
    EXPECT_FALSE(added.endConnected);
    const EventReaction removed = ReactionTo(Event(Kind::ClientRemoved, L"Client disconnected"), false, false);
    EXPECT_EQ(removed.clientList, ClientListChange::Remove);
    EXPECT_FALSE(removed.endConnected);
    EXPECT_FALSE(removed.showStatus);
}

TEST(EventRules, PauseRxDropsOnlyReceivedData)
{
    EXPECT_FALSE(ReactionTo(Event(Kind::Received, L"data"), true, false).log);
    EXPECT_TRUE(ReactionTo(Event(Kind::Received, L"data"), false, false).log);
    EXPECT_TRUE(ReactionTo(Event(Kind::Status, L"TCP client connected"), true, false).log);
    EXPECT_TRUE(ReactionTo(Event(Kind::Error, L"Invalid IP address.", true), true, false).log);
    EXPECT_TRUE(ReactionTo(Event(Kind::ClientAdded, L""), true, false).log);
}

// A serial port's lines and a TLS session's details are lines of the log;
// the status keeps saying how the link is.
TEST(EventRules, LinesAndNotesLeaveTheStatusLineAlone)
{
    TransportEvent event;
    event.kind = TransportEventKind::Status;
    event.text = L"CTS on";
    event.serial = SerialSignal::Lines;
    EventReaction reaction = ReactionTo(event, false, false);
    EXPECT_FALSE(reaction.showStatus);
    EXPECT_TRUE(reaction.log);
    event.serial = SerialSignal::None;
    event.text = L"TLS: TLS 1.2, AES 256, SHA-384";
    event.logOnly = true;
    reaction = ReactionTo(event, false, false);
    EXPECT_FALSE(reaction.showStatus);
    EXPECT_TRUE(reaction.log);
}
