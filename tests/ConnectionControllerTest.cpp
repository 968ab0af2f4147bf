#include "engine/ConnectionController.h"
#include "tests/EventWindow.h"
#include "tests/LoopbackPeer.h"

#include <gtest/gtest.h>

using Kind = TransportEventKind;

static const std::vector<uint8_t> kPayload = {'p', 'i', 'n', 'g'};

TEST(ConnectionController, SendBeforeAnyStartHasNowhereToGo)
{
    ConnectionController controller;
    EXPECT_NE(controller.Send(kPayload), SendResult::Queued);
    EXPECT_FALSE(controller.AnyWorker());
}

TEST(ConnectionController, TcpClientStartSendStop)
{
    Listener listener;
    EventWindow window;
    ConnectionController controller;
    controller.SetNotifyWindow(window.Handle());
    ConnectionSettings settings;
    settings.port = listener.Port();
    controller.Start(settings);
    PeerSocket peer = listener.Accept(5000);
    ASSERT_TRUE(peer.Valid());
    ASSERT_TRUE(window.WaitForText(Kind::Status, L"TCP client connected", 5000));

    ASSERT_EQ(controller.Send(kPayload), SendResult::Queued);
    EXPECT_EQ(peer.Receive(kPayload.size(), 5000), kPayload);

    controller.StopAll();
    EXPECT_FALSE(controller.AnyWorker());
    EXPECT_TRUE(peer.WaitClosed(2000));
    EXPECT_NE(controller.Send(kPayload), SendResult::Queued);
    ASSERT_TRUE(window.WaitForText(Kind::Status, L"TCP client disconnected", 2000));
}

TEST(ConnectionController, SendFollowsTheFlagsOfTheLastStart)
{
    Listener listener;
    EventWindow window;
    ConnectionController controller;
    controller.SetNotifyWindow(window.Handle());
    ConnectionSettings client;
    client.port = listener.Port();
    controller.Start(client);
    PeerSocket peer = listener.Accept(5000);
    ASSERT_TRUE(window.WaitForText(Kind::Status, L"TCP client connected", 5000));

    // A new start stops the running client first, whichever link it chooses.
    ConnectionSettings server = client;
    server.isServer = 1;
    controller.Start(server);
    EXPECT_TRUE(peer.WaitClosed(2000));
    EXPECT_EQ(controller.ActiveKind(), LinkKind::TcpServer);
    EXPECT_NE(controller.Send(kPayload), SendResult::Queued); // the server has no client

    ConnectionSettings serial;
    serial.useSerial = 1;
    serial.isServer = 1;
    controller.Start(serial);
    EXPECT_NE(controller.Send(kPayload), SendResult::Queued);
    EXPECT_NE(controller.Send({}), SendResult::Queued);
    controller.StopAll();
    EXPECT_FALSE(controller.AnyWorker());
}

TEST(ConnectionController, RefusedConnectEndsWithErrorOnly)
{
    EventWindow window;
    ConnectionController controller;
    controller.SetNotifyWindow(window.Handle());
    ConnectionSettings settings;
    settings.port = ClosedLoopbackPort();
    controller.Start(settings);
    ASSERT_TRUE(window.WaitUntil([](const EventWindow& w) { return w.Count(Kind::Error) > 0; }, 10000));
    EXPECT_NE(controller.Send(kPayload), SendResult::Queued);
    controller.StopAll();
    EXPECT_FALSE(window.Has(Kind::Status, L"TCP client disconnected"));
}
