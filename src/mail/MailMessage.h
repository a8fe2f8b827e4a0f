#pragma once
// What one plain-text mail says: sender, recipients, subject and body, and the header block that
// an SMTP session writes into it just before sending.

#include <cstdint>
#include <string>
#include <vector>

namespace vantor {

struct MailRecipient {
    std::string address;
    std::string name;
};

class MailMessage {
public:
    virtual ~MailMessage() = default;

    bool AddRecipient(const std::string& address, const std::string& name);
    // False, with the outputs untouched, when index is not an entry.
    bool GetRecipient(int index, std::string& address, std::string& name) const;
    int RecipientCount() const { return static_cast<int>(recipients.size()); }

    std::string from;
    std::string subject;
    std::string header;  // written by SmtpSession::BuildHeader
    int64_t date = 0;  // seconds since 1970, written by SmtpSession::BuildHeader
    std::string body;  // lines end in CR LF
    std::vector<MailRecipient> recipients;
};

}  // namespace vantor
