#pragma once
// TLS for the SMTP connection: a layer over a transport that already carries the connection (just
// connected, for a TLS port; or after the server's go-ahead to STARTTLS). The layer is itself an
// SmtpTransport, so the dialogue above it does not change. Every wait, the handshake's included,
// is bounded.

#include "mail/SmtpTransport.h"

#include <chrono>
#include <memory>
#include <string>

namespace vantor {

struct TlsPeerCheck {
    // The name (or address) the server's certificate must carry; sent as SNI when it is a name.
    std::string host;
    // When set, the certificate whose DER bytes have this SHA-256 (64 hex digits, colons and
    // blanks allowed) is accepted, and no other: the CA store and the name are not consulted.
    std::string certFingerprint;
};

enum class TlsFailure {
    None,
    Untrusted,  // the certificate did not pass the CA store and name check, or the pin
    HandshakeFailed,  // no common protocol, a broken peer, or the connection ended
    TimedOut,  // the peer went quiet in the middle of the handshake
    Unavailable,  // this build has no TLS library
};

struct TlsStart {
    std::unique_ptr<SmtpTransport> transport;  // owns the plain transport; null on failure
    TlsFailure failure = TlsFailure::None;
};

// False in a build without a TLS library: every startTls then fails with Unavailable.
bool tlsAvailable();

// Runs the client's handshake over `plain` within `limit`. On failure the plain transport is
// closed and dropped.
TlsStart startTls(std::unique_ptr<SmtpTransport> plain, const TlsPeerCheck& check, std::chrono::milliseconds limit);

}  // namespace vantor
