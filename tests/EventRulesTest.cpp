#include "engine/EventRules.h"

#include <gtest/gtest.h>

using Kind = TransportEventKind;

TEST(EventRules, StatusTextsThatEndTheConnectedState)
{
    const struct {
        const wchar_t* text;
        bool ends;
    } cases[] = {
        {L"TCP client connecting...", false}, {L"TCP client connected", false},
        {L"TCP client disconnected", true},   {L"TCP server listening on 5000", false},
        {L"TCP server stopped", true},        {L"UDP listener started", false},
        {L"UDP client ready", false},         {L"UDP stopped", true},
        {L"Serial opened COM3 @ 115200", false}, {L"Serial closed", false},
        {L"Disconnected", false}, // capital D: the test is case-sensitive
        {L"STOPPED", false},
    };
    for (const auto& c : cases) {
        const EventReaction r = ReactionTo(Kind::Status, c.text, false);
        EXPECT_EQ(r.endConnected, c.ends) << "status \"" << c.text << '"';
        EXPECT_TRUE(r.showStatus);
        EXPECT_TRUE(r.log);
    }
}

TEST(EventRules, ErrorsEndTheConnectedStateWithoutTouchingTheStatusLine)
{
    const EventReaction r = ReactionTo(Kind::Error, L"TCP connect failed (WSA 10061)", false);
    EXPECT_TRUE(r.endConnected);
    EXPECT_FALSE(r.showStatus);
    EXPECT_TRUE(r.log);
}

TEST(EventRules, ClientEventsChangeTheListAndNeverTheState)
{
    const EventReaction added = ReactionTo(Kind::ClientAdded, L"Client connected", false);
    EXPECT_EQ(added.clientList, ClientListChange::Add);
    EXPECT_FALSE(added.endConnected);
    const EventReaction removed = ReactionTo(Kind::ClientRemoved, L"Client disconnected", false);
    EXPECT_EQ(removed.clientList, ClientListChange::Remove);
    EXPECT_FALSE(removed.endConnected);
    EXPECT_FALSE(removed.showStatus);
}

TEST(EventRules, PauseRxDropsOnlyReceivedData)
{
    EXPECT_FALSE(ReactionTo(Kind::Received, L"data", true).log);
    EXPECT_TRUE(ReactionTo(Kind::Received, L"data", false).log);
    EXPECT_TRUE(ReactionTo(Kind::Status, L"TCP client connected", true).log);
    EXPECT_TRUE(ReactionTo(Kind::Error, L"Invalid IP address.", true).log);
    EXPECT_TRUE(ReactionTo(Kind::ClientAdded, L"", true).log);
    EXPECT_FALSE(ReactionTo(Kind::Received, L"stopped", false).endConnected);
}
