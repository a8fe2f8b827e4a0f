// Fuzz target: everything a peer of the console protocol can send, read by the functions that the
// agent and the console use. Checks that nothing crashes and that what is accepted is sound.
#include "console/ConsoleProtocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

bool hasBlankOrNul(std::string_view s)
{
    return s.find_first_of(std::string_view(" \t\n\v\f\r\0", 7)) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace vantor::console;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const CommandRequest request = parseCommandRequest(bytes);
    if (request.kind == CommandRequest::Kind::CloseSession) {
        check(!request.user.empty() && request.user.size() <= maxNameLength && !hasBlankOrNul(request.user));
        check(!request.computer.empty() && request.computer.size() <= maxNameLength
              && !hasBlankOrNul(request.computer));
        const CommandRequest again = parseCommandRequest(closeSessionMessage(request.user, request.computer));
        check(again.kind == CommandRequest::Kind::CloseSession && again.user == request.user
              && again.computer == request.computer);
    } else {
        check(request.user.empty() && request.computer.empty());
    }
    isDiscoveryRequest(bytes);
    isReportWanted(bytes);

    if (const auto id = parseIdentityReply(bytes))
        check(id->computerName.find('\0') == std::string::npos);
    if (const auto reportSize = parseReportSizeReply(bytes))
        check(parseReportSizeReply(reportSizeMessage(*reportSize)) == reportSize);

    // The same bytes as a sessions reply, whole and in two pieces split where the first byte says.
    SessionsReplyReader whole;
    whole.feed(bytes);
    SessionsReplyReader split;
    const std::size_t cut = size ? data[0] % (size + 1) : 0;
    split.feed(bytes.substr(0, cut));
    split.feed(bytes.substr(cut));
    check(whole.state() == split.state());
    if (whole.state() != SessionsReplyReader::State::Malformed)
        check(whole.rows() == split.rows());
    return 0;
}
