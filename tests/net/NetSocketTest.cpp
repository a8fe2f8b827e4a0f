// The socket classes on 127.0.0.1 only; every wait is bounded.
#include "FreePort.h"
#include "SocketCodes.h"
#include "sockets/NetSocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace vantor;
using namespace std::chrono;

namespace {

double secondsSince(steady_clock::time_point start)
{
    return duration<double>(steady_clock::now() - start).count();
}

// A listener on a free loopback port, with one client connected and its accepted end.
struct Connection {
    Connection()
    {
        EXPECT_TRUE(listener.Listen(0, "127.0.0.1"));
        port = listener.LocalPort();
        EXPECT_NE(port, 0);
        EXPECT_TRUE(client.Create());
        EXPECT_TRUE(client.Connect(port, "127.0.0.1"));
        server = NetSocket(listener.Accept(2));
        EXPECT_TRUE(server.isValid());
    }
    NetSocket listener;
    NetSocket client;
    NetSocket server;
    uint16_t port = 0;
};

}  // namespace

TEST(NetSocket, ExchangesBytesBothWaysAndReportsHowReceivesEnd)
{
    Connection c;
    const char request[] = "id\0";
    EXPECT_EQ(c.client.Send(request, 3), 3);
    char buffer[16] = {};
    ASSERT_EQ(c.server.Receive(buffer, sizeof buffer, 2), 3);
    EXPECT_EQ(std::string(buffer, 3), std::string("id\0", 3));
    EXPECT_EQ(c.server.lastReceive(), NetSocket::ReceiveStatus::Data);

    EXPECT_EQ(c.server.SendAll("pong", 4), 4);
    ASSERT_EQ(c.client.Receive(buffer, sizeof buffer, 2), 4);

    // A peer that sends nothing: 0 after the time-out, and 0 at once when polled.
    auto start = steady_clock::now();
    EXPECT_EQ(c.server.Receive(buffer, sizeof buffer, 1), 0);
    EXPECT_EQ(c.server.lastReceive(), NetSocket::ReceiveStatus::TimedOut);
    EXPECT_GE(secondsSince(start), 0.9);
    EXPECT_LT(secondsSince(start), 2.5);
    start = steady_clock::now();
    EXPECT_EQ(c.server.Receive(buffer, sizeof buffer, 0), 0);
    EXPECT_LT(secondsSince(start), 0.5);

    // A peer that has closed: 0 as well, at once, and told apart from a time-out.
    c.client.Close();
    EXPECT_FALSE(c.client.isValid());
    start = steady_clock::now();
    EXPECT_EQ(c.server.Receive(buffer, sizeof buffer, WAIT_FOREVER), 0);
    EXPECT_EQ(c.server.lastReceive(), NetSocket::ReceiveStatus::Closed);
    EXPECT_LT(secondsSince(start), 1.0);

    // Sending to a closed peer fails instead of killing the process with SIGPIPE.
    std::vector<char> big(1 << 20, 'x');
    int32_t result = 0;
    for (int i = 0; i < 20 && result >= 0; ++i)
        result = c.server.SendAll(big.data(), static_cast<int32_t>(big.size()));
    EXPECT_EQ(result, -1);
    EXPECT_NE(c.server.lastError(), 0);
}

TEST(NetSocket, AcceptWaitsOnlyAsLongAsTheTimeOut)
{
    NetSocket listener;
    ASSERT_TRUE(listener.Listen(0, "127.0.0.1"));
    auto start = steady_clock::now();
    EXPECT_EQ(listener.Accept(1), invalidSocket);
    EXPECT_GE(secondsSince(start), 0.9);
    EXPECT_LT(secondsSince(start), 2.5);

    start = steady_clock::now();
    EXPECT_EQ(listener.Accept(0), invalidSocket);
    EXPECT_LT(secondsSince(start), 0.5);

    // A pending connection is taken at once, even with no limit.
    NetSocket client;
    ASSERT_TRUE(client.Create());
    ASSERT_TRUE(client.Connect(listener.LocalPort(), "localhost"));
    NetSocket accepted(listener.Accept(WAIT_FOREVER));
    EXPECT_TRUE(accepted.isValid());
    EXPECT_EQ(accepted.lastError(), 0);
}

TEST(NetSocket, FailuresLeaveNoHandleAndKeepTheErrorCode)
{
    NetSocket holder;
    ASSERT_TRUE(holder.Listen(0, "127.0.0.1"));

    NetSocket second;
    EXPECT_FALSE(second.Listen(holder.LocalPort(), "127.0.0.1"));
    EXPECT_EQ(second.lastError(), test::addressInUseCode);
    EXPECT_FALSE(second.isValid());
    EXPECT_EQ(second.handle(), invalidSocket);

    NetSocket badAddress;
    EXPECT_FALSE(badAddress.Listen(0, "not-an-address"));
    EXPECT_FALSE(badAddress.isValid());
    EXPECT_EQ(badAddress.lastError(), test::invalidArgumentCode);

    // Nothing listens on a port that was just released: the connect is refused, with its code.
    const uint16_t closedPort = test::freeTcpPort();
    NetSocket client;
    ASSERT_TRUE(client.Create());
    EXPECT_FALSE(client.Connect(closedPort, "127.0.0.1"));
    EXPECT_EQ(client.lastError(), test::connectionRefusedCode);
    EXPECT_TRUE(client.isValid());  // the owner destroys it
    EXPECT_FALSE(socketErrorText(client.lastError()).empty());

    NetSocket bounded;
    ASSERT_TRUE(bounded.Create());
    EXPECT_FALSE(bounded.Connect(closedPort, "127.0.0.1", 2));
    EXPECT_EQ(bounded.lastError(), test::connectionRefusedCode);

    NetSocket unresolvable;
    ASSERT_TRUE(unresolvable.Create());
    EXPECT_FALSE(unresolvable.Connect(closedPort, "no such host name.invalid", 2));

    // Operations on a socket without a handle fail cleanly.
    NetSocket none;
    char buffer[4];
    EXPECT_EQ(none.Send("x", 1), -1);
    EXPECT_EQ(none.SendAll("x", 1), -1);
    EXPECT_EQ(none.Receive(buffer, sizeof buffer, 0), 0);
    EXPECT_EQ(none.Accept(0), invalidSocket);
    EXPECT_FALSE(none.Connect(closedPort, "127.0.0.1"));
    EXPECT_EQ(none.LocalPort(), 0);
}

TEST(NetSocket, MovingHandsTheHandleOverAndClosesItOnce)
{
    Connection c;
    const SocketHandle h = c.server.handle();
    NetSocket moved(std::move(c.server));
    EXPECT_EQ(moved.handle(), h);
    EXPECT_FALSE(c.server.isValid());  // NOLINT(bugprone-use-after-move): the point of the test

    NetSocket target;
    ASSERT_TRUE(target.Create());
    target = std::move(moved);
    EXPECT_EQ(target.handle(), h);
    EXPECT_EQ(target.SendAll("ok", 2), 2);
    char buffer[4];
    EXPECT_EQ(c.client.Receive(buffer, sizeof buffer, 2), 2);
}

TEST(NetSocket, SendAllDeliversALargeBufferWhole)
{
    Connection c;
    std::vector<char> data(8 << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 31 + i / 7);

    std::vector<char> got;
    std::thread reader([&] {
        char buffer[4096];
        while (got.size() < data.size()) {
            const int32_t n = c.client.Receive(buffer, sizeof buffer, 5);
            if (n <= 0)
                break;
            got.insert(got.end(), buffer, buffer + n);
        }
    });
    EXPECT_EQ(c.server.SendAll(data.data(), static_cast<int32_t>(data.size())), static_cast<int32_t>(data.size()));
    reader.join();
    EXPECT_TRUE(got == data);
}

TEST(NetSocket, SendTimeOutFreesASenderWhosePeerStopsReading)
{
    Connection c;
    ASSERT_TRUE(c.server.SetSendTimeout(1));
    std::vector<char> data(64 << 20, 'r');
    const auto start = steady_clock::now();
    EXPECT_EQ(c.server.SendAll(data.data(), static_cast<int32_t>(data.size())), -1);
    EXPECT_LT(secondsSince(start), 10.0);
    EXPECT_NE(c.server.lastError(), 0);
}

TEST(NetDatagramSocket, ReceivesDatagramsWithTheirSender)
{
    NetDatagramSocket unbound;
    EXPECT_TRUE(unbound.Create("", 0));
    EXPECT_TRUE(unbound.isValid());
    EXPECT_EQ(unbound.LocalPort(), 0);

    const uint16_t port = test::freeUdpPort();
    NetDatagramSocket receiver;
    ASSERT_TRUE(receiver.Create("127.0.0.1", port));
    EXPECT_EQ(receiver.LocalPort(), port);

    char buffer[8] = {};
    auto start = steady_clock::now();
    EXPECT_EQ(receiver.ReceiveFrom(buffer, sizeof buffer, 1), 0);
    EXPECT_GE(secondsSince(start), 0.9);
    EXPECT_EQ(receiver.senderText(), "");

    EXPECT_EQ(unbound.SendTo("list", 4, "127.0.0.1", port), 4);
    ASSERT_EQ(receiver.ReceiveFrom(buffer, sizeof buffer, 2), 4);
    EXPECT_EQ(std::string(buffer, 4), "list");
    EXPECT_EQ(receiver.senderText(), "127.0.0.1");
    EXPECT_EQ(receiver.senderAddress().port, unbound.LocalPort());

    // A longer datagram is cut to the buffer; an empty one counts 0 bytes.
    EXPECT_EQ(unbound.SendTo("0123456789abcdef", 16, "127.0.0.1", port), 16);
    EXPECT_EQ(receiver.ReceiveFrom(buffer, sizeof buffer, 2), 8);
    EXPECT_EQ(std::string(buffer, 8), "01234567");
    EXPECT_EQ(unbound.SendTo("", 0, "127.0.0.1", port), 0);
    start = steady_clock::now();
    EXPECT_EQ(receiver.ReceiveFrom(buffer, sizeof buffer, 2), 0);
    EXPECT_LT(secondsSince(start), 1.0);
}

TEST(NetDatagramSocket, FailedBindLeavesNoHandle)
{
    const uint16_t port = test::freeUdpPort();
    NetDatagramSocket first;
    ASSERT_TRUE(first.Create("127.0.0.1", port));
    NetDatagramSocket second;
    EXPECT_FALSE(second.Create("127.0.0.1", port));
    EXPECT_EQ(second.lastError(), test::addressInUseCode);
    EXPECT_FALSE(second.isValid());

    NetDatagramSocket bad;
    EXPECT_FALSE(bad.Create("300.1.2.3", port));
    EXPECT_FALSE(bad.isValid());

    char buffer[4];
    EXPECT_EQ(bad.ReceiveFrom(buffer, sizeof buffer, 0), -1);
    EXPECT_EQ(bad.SendTo("x", 1, "127.0.0.1", port), -1);
}
