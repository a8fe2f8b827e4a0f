// The parts of the SMTP client that need no connection.
#include "ScopedTimeZone.h"
#include "mail/MailMessage.h"
#include "mail/SmtpProtocol.h"
#include "mail/SmtpSession.h"

#include <gtest/gtest.h>

using namespace vantor;
using vantor::test::ScopedTimeZone;

TEST(SmtpReply, ReadsTheCodeFromTheFirstThreeCharacters)
{
    auto scan = scanSmtpReply("250 OK\r\n");
    EXPECT_TRUE(scan.complete);
    EXPECT_EQ(scan.length, 8u);
    EXPECT_EQ(scan.code, 250);

    EXPECT_EQ(scanSmtpReply("250\r\n").code, 250);
    EXPECT_EQ(scanSmtpReply("2500 odd\r\n").code, 250);
    // Bare LF ends a line too: some servers send it.
    EXPECT_TRUE(scanSmtpReply("221 bye\n").complete);

    // No number: a complete reply without a code, which fails its step.
    for (const char* text : {"hello\r\n", "25\r\n", " 250 OK\r\n", "-250\r\n", "2x0 no\r\n", "\r\n"}) {
        scan = scanSmtpReply(text);
        EXPECT_TRUE(scan.complete) << text;
        EXPECT_FALSE(scan.code) << text;
    }
}

TEST(SmtpReply, WaitsForTheLastLineOfAMultiLineReply)
{
    EXPECT_FALSE(scanSmtpReply("").complete);
    EXPECT_FALSE(scanSmtpReply("220 no line end yet").complete);
    EXPECT_FALSE(scanSmtpReply("220-first\r\n").complete);
    EXPECT_FALSE(scanSmtpReply("220-first\r\n220 sec").complete);

    const std::string whole = "220-first\r\n220-second\r\n220 last\r\n";
    auto scan = scanSmtpReply(whole + "250 next reply\r\n");
    EXPECT_TRUE(scan.complete);
    EXPECT_EQ(scan.length, whole.size());
    EXPECT_EQ(scan.code, 220);

    // When the server has closed, what stands there is the whole reply.
    scan = scanSmtpReply("554 no line end", true);
    EXPECT_TRUE(scan.complete);
    EXPECT_EQ(scan.length, 15u);
    EXPECT_EQ(scan.code, 554);
    EXPECT_FALSE(scanSmtpReply("", true).complete);
}

TEST(SmtpReply, ChecksAgainstTheRowOfTheStep)
{
    EXPECT_FALSE(checkSmtpReply(250, SmtpCheck::Ok));
    EXPECT_FALSE(checkSmtpReply(220, SmtpCheck::Greeting));
    EXPECT_FALSE(checkSmtpReply(354, SmtpCheck::Data));
    EXPECT_FALSE(checkSmtpReply(221, SmtpCheck::Quit));

    EXPECT_EQ(checkSmtpReply(550, SmtpCheck::Ok), "550:SMTP server error");
    EXPECT_EQ(checkSmtpReply(554, SmtpCheck::Greeting), "554:SMTP server not available");
    EXPECT_EQ(checkSmtpReply(250, SmtpCheck::Data), "250:SMTP server not ready for data");
    EXPECT_EQ(checkSmtpReply(250, SmtpCheck::Quit), "250:SMTP server didn't terminate session");
    EXPECT_EQ(checkSmtpReply(std::nullopt, SmtpCheck::Ok), "0:SMTP server error");
}

TEST(MailText, ControlCharactersCannotStartANewLine)
{
    EXPECT_EQ(cleanMailText("eve\r\nBcc: victim@example.com"), "eve??Bcc: victim@example.com");
    EXPECT_EQ(cleanMailText(std::string("a\0b\tc\x7f", 6)), "a?b?c?");
    // Non-ASCII names pass unchanged.
    EXPECT_EQ(cleanMailText("J\xc3\xa9r\xc3\xb4me"), "J\xc3\xa9r\xc3\xb4me");
}

TEST(MailText, DateIsLocalTimeWithTwoDigitYearAndZoneName)
{
    {
        ScopedTimeZone tz("UTC0");
        EXPECT_EQ(formatMailDate(1700000000), "Tue, 14 Nov 23 22:13:20 " + tz.runtimeName());
        EXPECT_EQ(formatMailDate(1767604023), "Mon, 05 Jan 26 09:07:03 " + tz.runtimeName());
        EXPECT_EQ(tz.runtimeName().substr(0, 2), "UT");
    }
    {
        // Three hours east: the next day, with the zone's own name.
        ScopedTimeZone tz("XST-3");
        EXPECT_EQ(formatMailDate(1700000000), "Wed, 15 Nov 23 01:13:20 " + tz.runtimeName());
        EXPECT_EQ(tz.runtimeName().substr(0, 2), "XS");
    }
}

TEST(MailText, ToLineListsNameAndAddressWithoutBlanks)
{
    EXPECT_EQ(mailToLine({}), "");
    // An address as the name must be quoted, or a server checking header syntax refuses the mail.
    EXPECT_EQ(mailToLine({{"a@x", "a@x"}}), "\"a@x\"<a@x>");
    EXPECT_EQ(mailToLine({{"address1", "name1"}, {"address2", "name2"}}), "name1<address1>,name2<address2>");
}

TEST(MailText, DisplayNamesAreQuotedOnlyWhenThePhraseNeedsIt)
{
    for (const char* plain : {"", "name1", "John Smith", "O'Brien", "a+b=c"})
        EXPECT_EQ(mailDisplayName(plain), plain);
    EXPECT_EQ(mailDisplayName("J\xc3\xa9r\xc3\xb4me"), "=?UTF-8?B?SsOpcsO0bWU=?=");
    EXPECT_EQ(mailDisplayName("admin@example.com"), "\"admin@example.com\"");
    EXPECT_EQ(mailDisplayName("Smith, John"), "\"Smith, John\"");
    EXPECT_EQ(mailDisplayName(" padded"), "\" padded\"");
    EXPECT_EQ(mailDisplayName("say \"hi\" \\o/"), "\"say \\\"hi\\\" \\\\o/\"");
}

namespace {

std::string base64Decode(const std::string& text)
{
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const auto v = alphabet.find(c);
        if (v == std::string::npos)
            break;  // the padding
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if ((count += 6) >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

}  // namespace

TEST(MailText, TextOutsideAsciiGoesInEncodedWordsOfWholeCharacters)
{
    EXPECT_EQ(encodeHeaderText("Vantor: new user - alice"), "Vantor: new user - alice");
    EXPECT_EQ(encodeHeaderText("Vantor: new user - J\xc3\xa9r\xc3\xb4me"),
              "=?UTF-8?B?VmFudG9yOiBuZXcgdXNlciAtIErDqXLDtG1l?=");

    // A long name: words on lines of their own, each line (the first after "Subject: ") within 76
    // characters, no word splitting a letter.
    std::string name = "Vantor: new user - ";
    for (int i = 0; i < 40; ++i)
        name += "\xe2\x82\xac";  // the euro sign, three bytes
    const std::string encoded = encodeHeaderText(name);
    std::string decoded;
    std::size_t pos = 0;
    while (pos < encoded.size()) {
        const std::size_t end = std::min(encoded.find("\r\n ", pos), encoded.size());
        const std::string word = encoded.substr(pos, end - pos);
        EXPECT_LE(std::string("Subject: ").size() + word.size(), 76u) << word;
        ASSERT_TRUE(word.starts_with("=?UTF-8?B?") && word.ends_with("?=")) << word;
        const std::string bytes = base64Decode(word.substr(10, word.size() - 12));
        EXPECT_NE(static_cast<unsigned char>(bytes.front()) & 0xC0, 0x80u) << "a word starts inside a letter";
        decoded += bytes;
        pos = end + 3;
    }
    EXPECT_EQ(decoded, name);
}

TEST(MailText, StuffingDoublesOnlyLoneDotLines)
{
    EXPECT_EQ(stuffMailBody("Hello\r\n"), "Hello\r\n");
    EXPECT_EQ(stuffMailBody(".\r\nnext\r\n"), "..\r\nnext\r\n");
    EXPECT_EQ(stuffMailBody("a\r\n.\r\nb\r\n"), "a\r\n..\r\nb\r\n");
    EXPECT_EQ(stuffMailBody(".x\r\n..\r\na.\r\n"), ".x\r\n..\r\na.\r\n");
    // A run of lone dots, from the very first line on.
    EXPECT_EQ(stuffMailBody(".\r\n.\r\n.\r\n"), "..\r\n..\r\n..\r\n");
    EXPECT_EQ(stuffMailBody("a\r\n.\r\n.\r\n.\r\nb\r\n"), "a\r\n..\r\n..\r\n..\r\nb\r\n");
    // A dot without its line end is not a line yet (the session adds the CR LF first).
    EXPECT_EQ(stuffMailBody("a\r\n."), "a\r\n.");
}

TEST(MailMessage, RecipientsByIndex)
{
    MailMessage m;
    EXPECT_EQ(m.RecipientCount(), 0);
    EXPECT_TRUE(m.AddRecipient("a@x", "A"));
    EXPECT_TRUE(m.AddRecipient("b@x", "B"));
    EXPECT_EQ(m.RecipientCount(), 2);
    std::string address = "untouched", name = "untouched";
    EXPECT_TRUE(m.GetRecipient(1, address, name));
    EXPECT_EQ(address, "b@x");
    EXPECT_EQ(name, "B");
    address = name = "untouched";
    EXPECT_FALSE(m.GetRecipient(2, address, name));
    EXPECT_FALSE(m.GetRecipient(-1, address, name));
    EXPECT_EQ(address, "untouched");
    EXPECT_EQ(name, "untouched");
}

TEST(HeloName, FallsBackToTheComputerName)
{
    EXPECT_EQ(chooseHeloName("host1", "PC1"), "host1");
    EXPECT_EQ(chooseHeloName(std::nullopt, "PC1"), "PC1");
    EXPECT_EQ(chooseHeloName("", "PC1"), "PC1");
    EXPECT_EQ(chooseHeloName(std::nullopt, ""), "localhost");
    EXPECT_EQ(chooseHeloName("evil\r\nMAIL", "PC1"), "evil??MAIL");
    EXPECT_FALSE(localHeloName().empty());
}

TEST(EhloReply, FindsStartTlsAndTheLogonsInEitherForm)
{
    const auto ext = parseEhloReply("250-relay.example Hello\r\n250-SIZE 52428800\r\n250-starttls\r\n"
                                    "250-AUTH=LOGIN\r\n250 Auth cram-md5 plain\r\n");
    EXPECT_TRUE(ext.startTls);
    EXPECT_TRUE(ext.authPlain);
    EXPECT_TRUE(ext.authLogin);

    // The greeting line is the server's name, not a keyword; look-alike words are not keywords.
    const auto none = parseEhloReply("250-STARTTLS\r\n250-XSTARTTLS\r\n250-AUTHX PLAIN\r\n250 AUTH CRAM-MD5 XPLAIN\n");
    EXPECT_FALSE(none.startTls);
    EXPECT_FALSE(none.authPlain);
    EXPECT_FALSE(none.authLogin);
    // A one-line reply offers nothing.
    EXPECT_FALSE(parseEhloReply("250 STARTTLS\r\n").startTls);
}

TEST(Base64, Rfc4648VectorsAndBinaryBytes)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [in, out] : vectors)
        EXPECT_EQ(base64Encode(in), out) << in;
    // AUTH PLAIN's NULs and bytes above 0x7F.
    EXPECT_EQ(base64Encode(std::string("\0u\0p\xff", 5)), "AHUAcP8=");
}

TEST(CertFingerprint, AcceptsTheUsualWritingsAndNothingElse)
{
    const std::string hex = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    // openssl x509 -fingerprint writes upper case with colons.
    EXPECT_EQ(
        parseCertFingerprint(" 01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:"
                             "89:AB:CD:EF"),
        hex);
    EXPECT_EQ(parseCertFingerprint(hex), hex);
    for (const std::string& bad : {std::string(), hex.substr(2), hex + "00", hex.substr(1) + "g", "sha256:" + hex})
        EXPECT_FALSE(parseCertFingerprint(bad)) << bad;
}
