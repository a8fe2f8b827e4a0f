#include "monitor/Outcome.h"

#include "platform/NetManagement.h"

namespace vantor {

bool Outcome::showOn(MessageBoxes& boxes, void* owner) const
{
    if (tells())
        boxes.show(box(owner));
    return ok();
}

Outcome Outcome::done(std::string caption, std::string text, BoxIcon icon)
{
    return {Kind::Done, std::move(caption), std::move(text), icon};
}

Outcome Outcome::noTarget(std::string text)
{
    return {Kind::NoTarget, "Error", std::move(text), BoxIcon::Error};
}

Outcome Outcome::refused(std::string text)
{
    return {Kind::Refused, "Error", std::move(text), BoxIcon::Error};
}

Outcome Outcome::failed(const NetStatus& status)
{
    // The system error box: an information icon, as the program always showed it.
    std::string text = status.text.empty() ? "Error " + std::to_string(status.code) : status.text;
    return {Kind::Failed, "Error", std::move(text), BoxIcon::Information};
}

Outcome Outcome::failed(std::string text, std::string caption, BoxIcon icon)
{
    return {Kind::Failed, std::move(caption), std::move(text), icon};
}

namespace commandText {

std::string statusText(const NetStatus& status)
{
    return status.text.empty() ? "Error " + std::to_string(status.code) : status.text;
}

const char* listTitle(ListKind list)
{
    return list == ListKind::Black ? "Black" : "White";
}

std::string addedToList(const std::string& user, const std::string& computer, ListKind list)
{
    return "User " + user + " and computer " + computer + " has been added to the " + listTitle(list) + " list!";
}

std::string listNameHasBlank(const std::string& user, const std::string& computer)
{
    // Written as it is, "John Smith" would read back as user John on computer Smith.
    return "User " + user + " and computer " + computer
           + " cannot be added to a list: a name in a list cannot hold a blank.";
}

std::string listNameRefused(const std::string& user, const std::string& computer)
{
    return "A list name must be 1 to 255 bytes without blanks: \"" + user + "\" \"" + computer + "\".";
}

std::string noUserToClose(const std::string& computer)
{
    // The service takes an empty user name as "every user": the close would end every session of
    // that computer, those of people on the white list and Vantor's own logon among them.
    return "A session without a user name cannot be closed by itself: closing it would end every session of "
           "computer "
           + computer + ".";
}

std::string notAServerName(const std::string& text)
{
    return "\"" + cutUtf8(text, 64) + (text.size() > 64 ? "..." : "")
           + "\" cannot be a server name: a server name is text of at most 253 bytes.";
}

std::string serverNotListed(const std::string& text)
{
    return "The service watches only the servers its settings file lists (remoteServers in /etc/vantor/vantor.conf); "
           + text + " is not one of them.";
}

std::string reportNotWritten(const std::string& where, const std::string& why)
{
    return "The web-based report could not be written to " + where + ".\n" + why;
}

}  // namespace commandText

}  // namespace vantor
