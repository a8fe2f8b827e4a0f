#include "mail/SmtpTls.h"

#include "mail/SmtpProtocol.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <climits>

namespace vantor {

namespace {

using Steady = std::chrono::steady_clock;

struct SslCtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxFree>;
using SslPtr = std::unique_ptr<SSL, SslFree>;

std::chrono::milliseconds left(Steady::time_point deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
}

bool isAddress(const std::string& host)
{
    ASN1_OCTET_STRING* ip = a2i_IPADDRESS(host.c_str());
    if (!ip)
        return false;
    ASN1_OCTET_STRING_free(ip);
    return true;
}

// OpenSSL speaks to two memory buffers, and this class carries their bytes over the plain
// transport with its bounded waits: no socket is ever handed to OpenSSL, so no OpenSSL call can
// block, and the layer runs over any transport a test gives.
class TlsTransport final : public SmtpTransport {
public:
    TlsTransport(std::unique_ptr<SmtpTransport> plain, SslCtxPtr ctx, SslPtr ssl, BIO* in, BIO* out)
        : m_plain(std::move(plain))
        , m_ctx(std::move(ctx))
        , m_ssl(std::move(ssl))
        , m_in(in)
        , m_out(out)
    {
    }
    ~TlsTransport() override { Close(); }

    TlsFailure handshake(Steady::time_point deadline)
    {
        for (;;) {
            ERR_clear_error();
            const int r = SSL_do_handshake(m_ssl.get());
            // Our next flight, or the alert that tells the server why we give up.
            const bool sent = flush(deadline);
            if (r == 1)
                return sent ? TlsFailure::None : TlsFailure::HandshakeFailed;
            if (SSL_get_error(m_ssl.get(), r) != SSL_ERROR_WANT_READ) {
                if (SSL_get_verify_result(m_ssl.get()) != X509_V_OK)
                    return TlsFailure::Untrusted;
                return TlsFailure::HandshakeFailed;
            }
            if (!sent)
                return TlsFailure::HandshakeFailed;
            const int n = fill(deadline);
            if (n == receiveTimedOut)
                return TlsFailure::TimedOut;
            if (n <= 0)
                return TlsFailure::HandshakeFailed;
        }
    }

    // Lower-case hex of the SHA-256 of the server's DER certificate; empty without one.
    std::string peerFingerprint() const
    {
        X509* cert = SSL_get1_peer_certificate(m_ssl.get());
        if (!cert)
            return {};
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        const bool ok = X509_digest(cert, EVP_sha256(), digest, &size) == 1;
        X509_free(cert);
        if (!ok)
            return {};
        static constexpr char hex[] = "0123456789abcdef";
        std::string out;
        for (unsigned int i = 0; i < size; ++i) {
            out += hex[digest[i] >> 4];
            out += hex[digest[i] & 0xF];
        }
        return out;
    }

    // A layer is made by startTls over a connection that exists; it is never created again.
    bool Create() override { return false; }
    bool Connect(const std::string&, int, std::chrono::milliseconds) override { return false; }

    bool SendAll(std::string_view bytes, std::chrono::milliseconds limit) override
    {
        if (!m_plain)
            return false;
        const auto deadline = Steady::now() + limit;
        while (!bytes.empty()) {
            ERR_clear_error();
            const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
            const int r = SSL_write(m_ssl.get(), bytes.data(), chunk);
            if (r > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(r));
                continue;
            }
            // The memory buffer takes every byte; only a renegotiation can want to read first.
            if (SSL_get_error(m_ssl.get(), r) != SSL_ERROR_WANT_READ || !flush(deadline) || fill(deadline) <= 0)
                return false;
        }
        return flush(deadline);
    }

    int Receive(char* buffer, int length, std::chrono::milliseconds limit) override
    {
        if (!m_plain)
            return -1;
        const auto deadline = Steady::now() + limit;
        for (;;) {
            ERR_clear_error();
            const int r = SSL_read(m_ssl.get(), buffer, length);
            if (r > 0)
                return r;
            switch (SSL_get_error(m_ssl.get(), r)) {
            case SSL_ERROR_ZERO_RETURN:
                return 0;
            case SSL_ERROR_WANT_READ: {
                // A TLS 1.3 server may send session tickets before any data; each wants an answer
                // of nothing but a later read.
                if (!flush(deadline))
                    return -1;
                const int n = fill(deadline);
                if (n <= 0)
                    return n;
                continue;
            }
            default:
                return -1;
            }
        }
    }

    void Close() override
    {
        if (!m_plain)
            return;
        if (SSL_is_init_finished(m_ssl.get())) {
            // close_notify, so that the server does not take the end for a cut connection; its
            // answer is not waited for.
            ERR_clear_error();
            SSL_shutdown(m_ssl.get());
            flush(Steady::now() + std::chrono::seconds(1));
        }
        m_plain->Close();
        m_plain.reset();
    }

private:
    // Sends whatever OpenSSL has written.
    bool flush(Steady::time_point deadline)
    {
        char chunk[16 * 1024];
        while (BIO_ctrl_pending(m_out) > 0) {
            const int n = BIO_read(m_out, chunk, static_cast<int>(sizeof chunk));
            if (n <= 0)
                return false;
            const auto limit = std::max(left(deadline), std::chrono::milliseconds(1));
            if (!m_plain->SendAll(std::string_view(chunk, static_cast<std::size_t>(n)), limit))
                return false;
        }
        return true;
    }

    // One receive for OpenSSL; the plain transport's result (bytes, 0 closed, -1, timed out).
    int fill(Steady::time_point deadline)
    {
        const auto limit = left(deadline);
        if (limit.count() <= 0)
            return receiveTimedOut;
        char chunk[16 * 1024];
        const int n = m_plain->Receive(chunk, static_cast<int>(sizeof chunk), limit);
        if (n > 0 && BIO_write(m_in, chunk, n) != n)
            return -1;
        return n;
    }

    std::unique_ptr<SmtpTransport> m_plain;
    SslCtxPtr m_ctx;
    SslPtr m_ssl;
    BIO* m_in;  // owned by m_ssl
    BIO* m_out;  // owned by m_ssl
};

}  // namespace

bool tlsAvailable()
{
    return true;
}

TlsStart startTls(std::unique_ptr<SmtpTransport> plain, const TlsPeerCheck& check, std::chrono::milliseconds limit)
{
    const auto deadline = Steady::now() + limit;
    TlsStart out;
    auto fail = [&](TlsFailure failure) {
        if (plain)
            plain->Close();
        out.failure = failure;
        return std::move(out);
    };
    if (!plain)
        return fail(TlsFailure::HandshakeFailed);

    std::optional<std::string> pin;
    if (!check.certFingerprint.empty()) {
        pin = parseCertFingerprint(check.certFingerprint);
        if (!pin)
            return fail(TlsFailure::Untrusted);
    }

    SslCtxPtr ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx || SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION) != 1)
        return fail(TlsFailure::HandshakeFailed);
    if (pin) {
        // The pin is checked after the handshake, against the certificate itself.
        SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
    } else {
        // Made for each mail so that the store is read as it stands now (and SSL_CERT_FILE or
        // SSL_CERT_DIR are honoured).
        if (SSL_CTX_set_default_verify_paths(ctx.get()) != 1)
            return fail(TlsFailure::Untrusted);
        SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    }
#ifdef SSL_OP_IGNORE_UNEXPECTED_EOF
    SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
#endif

    SslPtr ssl(SSL_new(ctx.get()));
    if (!ssl)
        return fail(TlsFailure::HandshakeFailed);
    SSL_set_connect_state(ssl.get());
    const bool address = isAddress(check.host);
    // SSL_set_tlsext_host_name, without the macro's cast.
    if (!address && !check.host.empty()
        && SSL_ctrl(ssl.get(), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                    const_cast<char*>(check.host.c_str()))
               != 1)
        return fail(TlsFailure::HandshakeFailed);
    if (!pin) {
        SSL_set_hostflags(ssl.get(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl.get());
        // An empty name would match any certificate: refuse it rather than skip the check.
        const int named = check.host.empty() ? 0
                          : address          ? X509_VERIFY_PARAM_set1_ip_asc(param, check.host.c_str())
                                             : SSL_set1_host(ssl.get(), check.host.c_str());
        if (named != 1)
            return fail(TlsFailure::Untrusted);
    }
    BIO* in = BIO_new(BIO_s_mem());
    BIO* outBio = BIO_new(BIO_s_mem());
    if (!in || !outBio) {
        BIO_free(in);
        BIO_free(outBio);
        return fail(TlsFailure::HandshakeFailed);
    }
    SSL_set_bio(ssl.get(), in, outBio);

    auto tls = std::make_unique<TlsTransport>(std::move(plain), std::move(ctx), std::move(ssl), in, outBio);
    TlsFailure failure = tls->handshake(deadline);
    if (failure == TlsFailure::None && pin && tls->peerFingerprint() != *pin)
        failure = TlsFailure::Untrusted;
    if (failure != TlsFailure::None) {
        tls->Close();
        out.failure = failure;
        return out;
    }
    out.transport = std::move(tls);
    return out;
}

}  // namespace vantor
