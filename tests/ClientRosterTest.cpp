#include "ui/ClientRoster.h"

#include <gtest/gtest.h>

// Entries leave from the middle while counts are pending: ids still find
// their entries, and the changed indexes follow the entries they named.
TEST(ClientRoster, CountsFollowTheirEntriesWhenOthersLeave)
{
    ClientRoster roster;
    EXPECT_EQ(roster.Add(1, L"127.0.0.1:50001"), 0u);
    EXPECT_EQ(roster.Add(2, L"127.0.0.1:50002"), 1u);
    EXPECT_EQ(roster.Add(3, L"127.0.0.1:50003"), 2u);
    roster.CountRx(roster.Find(3, L""), 1200);
    roster.CountRx(roster.Find(1, L""), 5);
    roster.Remove(roster.Find(1, L""));
    EXPECT_EQ(roster.Find(1, L""), ClientRoster::npos);
    EXPECT_EQ(roster.Find(3, L""), 1u);
    EXPECT_EQ(roster.TakeChanged(), (std::vector<size_t>{1}));
    EXPECT_TRUE(roster.TakeChanged().empty());

    roster.CountTxToAll(7);
    roster.CountTx(roster.Find(2, L""), 0); // nothing sent, nothing changed
    EXPECT_EQ(roster.TakeChanged(), (std::vector<size_t>{0, 1}));
    EXPECT_EQ(RosterText(roster[0]), L"127.0.0.1:50002    RX: 0  TX: 7");
    EXPECT_EQ(RosterText(roster[1]), L"127.0.0.1:50003    RX: 1200  TX: 7");
    EXPECT_EQ(RosterText(RosterEntry{9, L"::1:4"}), L"::1:4"); // silent so far: the peer alone

    // Those in view are given at once, the others a few at a time, the
    // longest waiting first, until all are.
    for (uint32_t id = 4; id < 10; ++id)
        roster.Add(id, L"127.0.0.1:" + std::to_wstring(50000 + id));
    for (size_t index : {7u, 0u, 5u, 2u, 6u})
        roster.CountRx(index, 1);
    EXPECT_EQ(roster.TakeChanged(1, 5, 7), (std::vector<size_t>{7, 5, 6}));
    EXPECT_EQ(roster.TakeChanged(1, 5, 7), (std::vector<size_t>{0}));
    roster.CountRx(6, 1);
    EXPECT_EQ(roster.TakeChanged(0, 5, 7), (std::vector<size_t>{6}));
    EXPECT_EQ(roster.TakeChanged(), (std::vector<size_t>{2}));

    // A listener's senders: one entry each, found again by their text, an
    // id apart from any server's.
    ClientRoster senders;
    bool added = false;
    size_t forgotten = 0;
    EXPECT_EQ(senders.Sender(L"127.0.0.1:7000", added, forgotten), 0u);
    EXPECT_TRUE(added);
    EXPECT_EQ(senders.Sender(L"127.0.0.1:7001", added, forgotten), 1u);
    EXPECT_EQ(senders.Sender(L"127.0.0.1:7000", added, forgotten), 0u);
    EXPECT_FALSE(added);
    EXPECT_NE(senders[0].id, 0u);
    EXPECT_NE(senders[0].id, senders[1].id);
    EXPECT_EQ(senders.Find(senders[1].id, L""), 1u);
    senders.Clear();
    EXPECT_EQ(senders.Sender(L"127.0.0.1:7001", added, forgotten), 0u);
    EXPECT_TRUE(added);
}

// Past its cap a listener's roster forgets the sender silent longest, and
// only a sender: a new one takes its place at the end.
TEST(ClientRoster, PastTheCapTheSenderSilentLongestIsForgotten)
{
    ClientRoster senders;
    senders.SetSenderCap(3);
    bool added = false;
    size_t forgotten = 0;
    for (const wchar_t* peer : {L"a:1", L"b:1", L"c:1"})
        senders.Sender(peer, added, forgotten);
    EXPECT_EQ(forgotten, ClientRoster::npos);
    senders.Sender(L"a:1", added, forgotten); // heard again: b is now the silent one
    EXPECT_EQ(senders.Sender(L"d:1", added, forgotten), 2u);
    EXPECT_TRUE(added);
    EXPECT_EQ(forgotten, 1u);
    ASSERT_EQ(senders.Size(), 3u);
    EXPECT_EQ(senders[0].peer, L"a:1");
    EXPECT_EQ(senders[1].peer, L"c:1");
    EXPECT_EQ(senders[2].peer, L"d:1");
    EXPECT_EQ(senders.FindSender(L"b:1"), ClientRoster::npos);
    senders.Sender(L"b:1", added, forgotten); // back: a new entry, c goes
    EXPECT_TRUE(added);
    EXPECT_EQ(forgotten, 1u);
    EXPECT_EQ(senders.FindSender(L"a:1"), 0u);
}
