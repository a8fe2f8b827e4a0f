#include "mail/MailMessage.h"

namespace vantor {

bool MailMessage::AddRecipient(const std::string& address, const std::string& name)
{
    recipients.push_back({address, name});
    return true;
}

bool MailMessage::GetRecipient(int index, std::string& address, std::string& name) const
{
    if (index < 0 || index >= RecipientCount())
        return false;
    const auto& r = recipients[static_cast<std::size_t>(index)];
    address = r.address;
    name = r.name;
    return true;
}

}  // namespace vantor
