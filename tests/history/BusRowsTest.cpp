// The session rows as they travel on the bus: what one side writes, the other reads back whole,
// the channel count and the absent numbers included.

#include "bus/BusRows.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

using namespace vantor;

namespace {

// A message needs a started bus; one end of a socket pair is enough, nothing is sent.
struct Message {
    sd_bus* bus = nullptr;
    sd_bus_message* m = nullptr;
    int fds[2] = {-1, -1};
    Message()
    {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0 || sd_bus_new(&bus) < 0
            || sd_bus_set_fd(bus, fds[0], fds[0]) < 0 || sd_bus_start(bus) < 0
            || sd_bus_message_new_signal(bus, &m, "/test", "test.Rows", "Rows") < 0)
            m = nullptr;
    }
    ~Message()
    {
        sd_bus_message_unref(m);
        // Closed without a flush: the other end never answers, and a flush would wait for it.
        sd_bus_close_unref(bus);
        if (fds[1] >= 0)
            ::close(fds[1]);
    }
    // Seals what was written and reads it from the start.
    bool rewind() { return sd_bus_message_seal(m, 1, 0) >= 0 && sd_bus_message_rewind(m, 1) >= 0; }
};

}  // namespace

TEST(BusRows, SessionRowsComeBackWholeWithTheirChannelsAndAbsentNumbers)
{
    SessionEntry full{"alice", "PC1", 3, {}};
    full.details.connectedAt = 1'760'000'000;
    full.details.idleSeconds = 0;
    full.details.shares = {"docs", "home"};
    full.details.dialect = "SMB3_11";
    full.details.encryption = "AES-128-GCM";
    full.details.signing = "AES-128-GMAC";
    full.details.processId = 4242;
    full.details.uid = 1001;
    full.details.channels = 2;
    // What a 4.17 server tells: no channel count, no idle time, no connect time.
    SessionEntry bare{"bob", "10.0.0.2", 0, {}};
    bare.details.dialect = "NT1";
    const std::vector<SessionEntry> rows{full, bare};

    Message msg;
    ASSERT_NE(msg.m, nullptr);
    ASSERT_GE(bus::writeSessionRows(msg.m, rows), 0);
    ASSERT_TRUE(msg.rewind());
    std::vector<SessionEntry> back;
    ASSERT_GE(bus::readSessionRows(msg.m, back), 0);
    EXPECT_EQ(back, rows);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].details.channels, 2u);
    EXPECT_FALSE(back[1].details.channels.has_value());
}
