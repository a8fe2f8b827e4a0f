// Builds without a TLS library (the Windows cross build): the plain dialogue works, and a relay
// that wants encryption is refused with a reason instead of being spoken to in plain text.
#include "mail/SmtpTls.h"

namespace vantor {

bool tlsAvailable()
{
    return false;
}

TlsStart startTls(std::unique_ptr<SmtpTransport> plain, const TlsPeerCheck&, std::chrono::milliseconds)
{
    if (plain)
        plain->Close();
    TlsStart out;
    out.failure = TlsFailure::Unavailable;
    return out;
}

}  // namespace vantor
