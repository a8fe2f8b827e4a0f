#include "monitor/MailRelay.h"

namespace vantor {

const char* smtpSecurityName(SmtpSecurity security)
{
    switch (security) {
    case SmtpSecurity::StartTls:
        return "starttls";
    case SmtpSecurity::Tls:
        return "tls";
    case SmtpSecurity::None:
        break;
    }
    return "none";
}

std::optional<SmtpSecurity> parseSmtpSecurity(std::string_view name)
{
    for (SmtpSecurity s : {SmtpSecurity::None, SmtpSecurity::StartTls, SmtpSecurity::Tls})
        if (name == smtpSecurityName(s))
            return s;
    return std::nullopt;
}

}  // namespace vantor
