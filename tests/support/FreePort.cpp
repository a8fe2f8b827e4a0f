#include "FreePort.h"

#include "sockets/NetSocket.h"

#include <random>
#include <stdexcept>

namespace vantor::test {

uint16_t freeTcpPort()
{
    NetSocket probe;
    if (!probe.Listen(0, "127.0.0.1"))
        throw std::runtime_error("cannot bind a TCP port on 127.0.0.1");
    return probe.LocalPort();
}

uint16_t freeUdpPort()
{
    // An unbound datagram socket has no port to ask for, so probe the dynamic range instead.
    std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> pick(40000, 60999);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<uint16_t>(pick(random));
        NetDatagramSocket probe;
        if (probe.Create("127.0.0.1", port))
            return port;
    }
    throw std::runtime_error("cannot find a free UDP port on 127.0.0.1");
}

}  // namespace vantor::test
