// Fuzz target for what vantor-console reads from an agent and prints: the replies, and the
// escaping of the peer's text for the terminal. Besides "no crash": the printed text holds no
// control character and is UTF-8, and text that needs no escaping comes through unchanged.
#include "console/ConsoleProtocol.h"
#include "console/cli/ConsoleCli.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkPrintable(std::string_view peer)
{
    const std::string shown = vantor::console::printableText(peer);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<unsigned char>(shown[i]);
        check(c >= 0x20 && c != 0x7F);
        // A C1 control would be C2 80..9F.
        if (c == 0xC2 && i + 1 < shown.size())
            check(static_cast<unsigned char>(shown[i + 1]) > 0x9F);
    }
    check(vantor::console::printableText(shown).size() >= shown.size());
    // Printable text is shown as it is, so the escaping is idempotent on its own output.
    check(vantor::console::printableText(shown) == shown);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace vantor::console;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    checkPrintable(bytes);
    if (const auto id = parseIdentityReply(bytes))
        checkPrintable(id->computerName);
    SessionsReplyReader reader;
    reader.feed(bytes);
    check(reader.rows().size() <= maxSessionRows);
    for (const auto& row : reader.rows()) {
        checkPrintable(row.user);
        checkPrintable(row.computer);
    }
    if (const auto reportSize = parseReportSizeReply(bytes))
        check(parseReportSizeReply(reportSizeMessage(*reportSize)) == reportSize);
    return 0;
}
