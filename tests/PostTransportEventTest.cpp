#include "engine/Transport.h"
#include "tests/EventWindow.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

struct TestTransport : TransportBase {};

std::atomic<int> g_failuresLeft{0};
std::atomic<int> g_postCalls{0};

BOOL WINAPI FlakyPost(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    ++g_postCalls;
    if (g_failuresLeft.fetch_sub(1) > 0)
        return FALSE;
    return PostMessageW(wnd, msg, wp, lp);
}

BOOL WINAPI RefusingPost(HWND, UINT, WPARAM, LPARAM)
{
    ++g_postCalls;
    return FALSE;
}

// Installs a replacement post call for one test and puts the real one back.
struct PostReplacement {
    explicit PostReplacement(PostMessageFunction post, int failures = 0)
    {
        g_failuresLeft = failures;
        g_postCalls = 0;
        SetPostMessageFunction(post);
    }
    ~PostReplacement() { SetPostMessageFunction(nullptr); }
};

} // namespace

TEST(PostTransportEvent, WithoutWindowNothingIsPosted)
{
    PostReplacement counting(&FlakyPost);
    TestTransport transport;
    EXPECT_FALSE(PostTransportEvent(transport, TransportEventKind::Status, L"x"));
    EXPECT_EQ(g_postCalls, 0);
}

TEST(PostTransportEvent, CarriesEveryFieldInPostingOrder)
{
    EventWindow window;
    TestTransport transport;
    transport.m_notifyWnd = window.Handle();
    std::thread worker([&] {
        PostTransportEvent(transport, TransportEventKind::Status, L"first");
        PostTransportEvent(transport, TransportEventKind::Received, L"A\0B", L"127.0.0.1",
                           {0x41, 0x00, 0x42});
        PostTransportEvent(transport, TransportEventKind::ClientRemoved, L"gone", L"[::1]:9");
    });
    worker.join();
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Events().size() == 3; }, 5000));
    const auto& e = window.Events();
    EXPECT_EQ(e[0]->kind, TransportEventKind::Status);
    EXPECT_EQ(e[0]->text, L"first");
    EXPECT_TRUE(e[0]->peer.empty());
    EXPECT_TRUE(e[0]->data.empty());
    EXPECT_EQ(e[1]->kind, TransportEventKind::Received);
    EXPECT_EQ(e[1]->peer, L"127.0.0.1");
    EXPECT_EQ(e[1]->data, (std::vector<uint8_t>{0x41, 0x00, 0x42}));
    EXPECT_EQ(e[2]->kind, TransportEventKind::ClientRemoved);
    EXPECT_EQ(e[2]->peer, L"[::1]:9");
}

TEST(PostTransportEvent, FullQueueIsRetriedUntilTheEventGetsThrough)
{
    PostReplacement flaky(&FlakyPost, 20);
    EventWindow window;
    TestTransport transport;
    transport.m_notifyWnd = window.Handle();
    bool posted = false;
    std::thread worker([&] { posted = PostTransportEvent(transport, TransportEventKind::Status, L"late"); });
    const bool arrived = window.WaitForText(TransportEventKind::Status, L"late", 10000);
    worker.join();
    EXPECT_TRUE(arrived);
    EXPECT_TRUE(posted);
    EXPECT_EQ(window.Events().size(), 1u); // delivered once, not once per try
    EXPECT_EQ(g_postCalls, 21);
}

TEST(PostTransportEvent, GivesUpWhenTheTransportIsStopping)
{
    PostReplacement refusing(&RefusingPost);
    EventWindow window;
    TestTransport transport;
    transport.m_notifyWnd = window.Handle();
    bool posted = true;
    std::thread worker([&] { posted = PostTransportEvent(transport, TransportEventKind::Status, L"x"); });
    window.PumpFor(100);
    transport.m_stopRequested = true; // what Stop does before it joins
    worker.join();
    EXPECT_FALSE(posted);
    EXPECT_GT(g_postCalls, 1);
}

TEST(PostTransportEvent, GivesUpWhenTheWindowIsGone)
{
    PostReplacement refusing(&RefusingPost);
    TestTransport transport;
    {
        EventWindow window;
        transport.m_notifyWnd = window.Handle();
    }
    bool posted = true;
    const uint64_t unposted = UnpostedTrafficBytes();
    std::thread worker([&] {
        posted = PostTransportEvent(transport, TransportEventKind::Status, L"x");
        PostTransportEvent(transport, TransportEventKind::Received, L"", L"", {1, 2, 3});
    });
    worker.join();
    EXPECT_FALSE(posted);
    EXPECT_EQ(UnpostedTrafficBytes() - unposted, 3u); // traffic that never reached a window is counted
}

TEST(PostTransportEvent, DoesNotWaitForItsOwnThreadsQueue)
{
    PostReplacement refusing(&RefusingPost);
    EventWindow window;
    TestTransport transport;
    transport.m_notifyWnd = window.Handle();
    // Posting from the window's thread could never drain: one try only.
    EXPECT_FALSE(PostTransportEvent(transport, TransportEventKind::Error, L"x"));
    EXPECT_EQ(g_postCalls, 1);
}
