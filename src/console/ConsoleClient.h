#pragma once
// The console side of the agent's protocol, on the same socket layer: what vantor-console and the
// end-to-end tests use. Every wait is bounded by the configured time-out; failures come back as a
// text that says what went wrong, never as an exception.

#include "console/ConsoleProtocol.h"

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vantor::console {

template <typename T> struct Outcome {
    std::optional<T> value;
    std::string error;  // set when value is empty
    explicit operator bool() const { return value.has_value(); }
};
struct Done { };

struct DiscoveredAgent {
    std::string address;  // where the reply came from, dotted-decimal
    Identity identity;
};

class ConsoleClient {
public:
    struct Config {
        uint16_t commandPort = console::commandPort;
        uint16_t discoveryPort = console::discoveryPort;
        uint16_t replyPort = console::consoleReplyPort;
        // Each connect and each wait for a reply; for discover, how long replies are collected.
        uint32_t timeoutSeconds = 5;
        // Where discover listens for replies; empty: all local addresses.
        std::string replyBindAddress;
    };

    ConsoleClient() = default;
    explicit ConsoleClient(Config config)
        : m_config(std::move(config))
    {
    }

    // Sends "list" to `target` (a host, or a broadcast address) and collects every identity reply
    // that arrives on the reply port within the time-out; `onReply` sees each as it comes.
    Outcome<std::vector<DiscoveredAgent>> discover(const std::string& target,
                                                   const std::function<void(const DiscoveredAgent&)>& onReply = {});

    Outcome<Identity> identity(const std::string& host);
    Outcome<std::vector<SessionEntry>> sessions(const std::string& host);

    // Asks for the report; `onSize` hears the announced size before any byte is fetched. A size of
    // 0 (no report on the agent) is answered with "no_rep" and is an error. The bytes go to `out`;
    // `onProgress` hears the running count. The result is the count of bytes received, which is
    // checked against the announced size.
    Outcome<uint32_t> report(const std::string& host, std::ostream& out,
                             const std::function<void(uint32_t size)>& onSize = {},
                             const std::function<void(uint64_t received, uint32_t size)>& onProgress = {});

    // Commands without a reply: each waits until the agent has closed the connection, so that the
    // command has been carried out when the call returns.
    Outcome<Done> deleteLogs(const std::string& host);
    Outcome<Done> closeSession(const std::string& host, const std::string& user, const std::string& computer);
    Outcome<Done> closeAll(const std::string& host);

private:
    Config m_config;
};

}  // namespace vantor::console
