#pragma once
// How the program reaches its mail server: the host and port, whether and how the connection is
// encrypted, and the account it logs on with. The plain default is the classic dialogue to port 25
// (HELO, no encryption, no logon); today's relays want submission on 587 with STARTTLS and AUTH,
// or 465 with TLS from the first byte.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantor {

enum class SmtpSecurity : int32_t {
    None,  // plain text throughout
    StartTls,  // plain greeting and EHLO, then STARTTLS before anything else
    Tls,  // TLS from the first byte (the port 465 way)
};

// The names the settings file uses: "none", "starttls", "tls".
const char* smtpSecurityName(SmtpSecurity security);
std::optional<SmtpSecurity> parseSmtpSecurity(std::string_view name);

struct MailRelay {
    std::string server;
    int32_t port = 25;
    SmtpSecurity security = SmtpSecurity::None;
    std::string user;  // empty: no logon
    std::string passwordFile;  // holds the password; readable only by its owner
    // SHA-256 of the server's DER certificate (hex, colons allowed). When set, that certificate is
    // accepted in place of one the system's CA store vouches for: the way to trust a self-signed one.
    std::string certFingerprint;

    // The classic dialogue, byte for byte: HELO, no encryption, no logon.
    bool plain() const { return security == SmtpSecurity::None && user.empty(); }
};

}  // namespace vantor
