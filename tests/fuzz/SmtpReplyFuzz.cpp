// libFuzzer entry point for what the SMTP client reads from the network: the reply scanner, the
// EHLO keywords, and whole sessions (the basic one and one that logs on) whose server replies are
// the fuzzer's bytes. Also built into a replay test that
// runs the corpus in the ordinary test run.
#include "mail/SmtpProtocol.h"
#include "mail/SmtpSession.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// Hands out the input as the server's bytes, in pieces whose sizes the input's first byte picks.
class ReplayTransport final : public vantor::SmtpTransport {
public:
    ReplayTransport(std::string_view bytes, std::size_t piece)
        : m_bytes(bytes)
        , m_piece(piece)
    {
    }
    bool Create() override { return true; }
    bool Connect(const std::string&, int, std::chrono::milliseconds) override { return true; }
    bool SendAll(std::string_view, std::chrono::milliseconds) override { return true; }
    int Receive(char* buffer, int length, std::chrono::milliseconds) override
    {
        if (m_bytes.empty())
            return 0;
        const std::size_t n = std::min({m_piece, m_bytes.size(), static_cast<std::size_t>(length)});
        std::copy_n(m_bytes.data(), n, buffer);
        m_bytes.remove_prefix(n);
        return static_cast<int>(n);
    }
    void Close() override { }

private:
    std::string_view m_bytes;
    std::size_t m_piece;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    for (bool closed : {false, true}) {
        const auto scan = vantor::scanSmtpReply(bytes, closed);
        require(!scan.complete || (scan.length > 0 && scan.length <= bytes.size()));
        require(!scan.code || (*scan.code >= 0 && *scan.code <= 999));
        require(!closed || bytes.empty() || scan.complete);
    }

    const std::string stuffed = vantor::stuffMailBody(std::string(bytes));
    require(stuffed.find("\r\n.\r\n") == std::string::npos && !stuffed.starts_with(".\r\n"));
    require(stuffed.size() >= bytes.size());

    for (char c : vantor::cleanMailText(bytes))
        require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);

    const vantor::SmtpExtensions ext = vantor::parseEhloReply(bytes);
    require(!(ext.authPlain || ext.authLogin) || bytes.size() >= 9);
    if (const auto pin = vantor::parseCertFingerprint(bytes))
        require(pin->size() == 64);

    for (const char* user : {"", "user"}) {
        if (size == 0)
            break;
        const std::size_t piece = 1 + data[0] % 64;
        vantor::SmtpOptions options;
        options.user = user;
        options.password = "secret";
        options.heloName = "fuzz";
        options.makeTransport = [&] { return std::make_unique<ReplayTransport>(bytes.substr(1), piece); };
        vantor::MailMessage message;
        message.from = "a@b";
        message.body = "x";
        message.AddRecipient("c@d", "c@d");
        message.AddRecipient("e@f", "e@f");
        vantor::SmtpSession session("server", 25, options);
        if (session.Connect())
            session.Send(message);
        session.Disconnect();
    }
    return 0;
}
