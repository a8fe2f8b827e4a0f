#include "demo/TcpForwarder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace vantor::samba;
using namespace std::chrono_literals;

namespace {

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// The target sees the client as coming from 127.0.0.2, and bytes pass both ways unchanged,
// however they are split.
TEST(TcpForwarder, RelaysFromTheSecondAddress)
{
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);

    TcpForwarder forwarder("127.0.0.2", ntohs(a.sin_port));
    std::string error;
    ASSERT_TRUE(forwarder.start(error)) << error;

    std::string peer;
    std::string received;
    std::thread target([&] {
        timeval tv{5, 0};
        ::setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        int c = ::accept(listener, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (c < 0)
            return;
        ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        peer = text;
        char buf[65536];
        while (received.size() < 300000) {
            ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            received.append(buf, static_cast<std::size_t>(n));
        }
        ::send(c, "pong", 4, MSG_NOSIGNAL);
        ::close(c);
    });

    int client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in f = loopback(forwarder.port());
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&f), sizeof f), 0);
    std::string payload;
    for (int i = 0; i < 300000; ++i)
        payload += static_cast<char>('a' + i % 26);
    ASSERT_EQ(::send(client, payload.data(), payload.size(), MSG_NOSIGNAL), static_cast<ssize_t>(payload.size()));
    timeval tv{5, 0};
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char reply[8] = {};
    EXPECT_EQ(::recv(client, reply, 4, MSG_WAITALL), 4);
    EXPECT_EQ(std::string(reply, 4), "pong");
    target.join();
    EXPECT_EQ(peer, "127.0.0.2");
    EXPECT_EQ(received, payload);

    // The target closed: the relay closes the client's side too.
    EXPECT_EQ(::recv(client, reply, 1, 0), 0);
    ::close(client);

    const auto start = std::chrono::steady_clock::now();
    forwarder.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    ::close(listener);
}

}  // namespace
