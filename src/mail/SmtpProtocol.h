#pragma once
// The pieces of the SMTP dialogue that need no connection: reading a server reply, checking its
// code, cleaning texts for header lines, the Date text and dot-stuffing. Free functions, so tests
// and the fuzzer call them directly.

#include "base/MailText.h"
#include "mail/MailMessage.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

struct SmtpReplyCheck {
    int code;  // the reply code the step expects
    const char* errorText;  // what lastError says when another code comes
};

// Indexed by the step's check number (SmtpCheck).
inline constexpr std::array<SmtpReplyCheck, 6> smtpReplyChecks{{
    {250, "SMTP server error"},
    {220, "SMTP server not available"},
    {354, "SMTP server not ready for data"},
    {221, "SMTP server didn't terminate session"},
    {235, "SMTP server refused the logon"},
    {334, "SMTP server did not continue the logon"},
}};

namespace SmtpCheck {
inline constexpr int Ok = 0;  // HELO, MAIL From, each RCPT TO, end of data
inline constexpr int Greeting = 1;  // the connection's greeting
inline constexpr int Data = 2;  // DATA
inline constexpr int Quit = 3;  // QUIT
inline constexpr int LoggedOn = 4;  // the end of AUTH
inline constexpr int GoOn = 5;  // each step of AUTH LOGIN
}  // namespace SmtpCheck

// A reply is read until its last line has come: a server may send a multi-line reply in several
// pieces, and taking a piece for the whole would make the later pieces answer the next commands.
struct SmtpReplyScan {
    bool complete = false;
    std::size_t length = 0;  // bytes of `bytes` that the reply takes (when complete)
    std::optional<int> code;  // from the first three characters, when they are three digits
};

// `peerClosed`: no more bytes will come, so whatever stands in `bytes` is the whole reply.
SmtpReplyScan scanSmtpReply(std::string_view bytes, bool peerClosed = false);

// The reply's code checked against row `check` of smtpReplyChecks: empty when it is the expected
// code, otherwise the "%d:%s" error text. A reply without a code fails the step as code 0.
std::optional<std::string> checkSmtpReply(std::optional<int> code, int check);

// What an EHLO reply offers that this client uses (RFC 3207 STARTTLS, RFC 4954 AUTH; the old
// "AUTH=" form too). Keywords are matched without regard to case.
struct SmtpExtensions {
    bool startTls = false;
    bool authPlain = false;
    bool authLogin = false;
};
SmtpExtensions parseEhloReply(std::string_view reply);

// RFC 4648 base64, with padding, on one line (as AUTH wants it).
std::string base64Encode(std::string_view bytes);

// A user's certificate fingerprint (SHA-256: 64 hex digits, in either case, colons and blanks
// between them allowed) as 64 lower-case hex digits; empty when the text is not one.
std::optional<std::string> parseCertFingerprint(std::string_view text);

// "%a, %d %b %y %H:%M:%S %Z" in local time. Names of days and months are English whatever the
// process's locale, as mail dates must be.
std::string formatMailDate(int64_t time);

// A recipient's name as a header may carry it: as it stands when it is a plain phrase, in encoded
// words when it has text outside ASCII, otherwise in quotes. Callers give the address as the name too, and a bare
// "a@b<a@b>" is refused by servers that check header syntax.
std::string mailDisplayName(const std::string& name);

// A header's text as RFC 2047 wants it: as it stands while it is ASCII, otherwise as encoded words
// ("=?UTF-8?B?...?=", each of whole characters and short enough for a header line of 76, folded
// onto lines of their own). Mail programs show the words as the text again.
std::string encodeHeaderText(std::string_view text);
bool isAsciiText(std::string_view text);

// name1<address1>,name2<address2>, each name through mailDisplayName; no blanks are added.
std::string mailToLine(const std::vector<MailRecipient>& recipients);

// Every line that is a single dot is doubled; other lines, ".x" included, stay as they are.
std::string stuffMailBody(std::string body);

}  // namespace vantor
