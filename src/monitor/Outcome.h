#pragma once
// What a command answers: done, or which failure and the text that says so. A window shows an
// outcome as a box; the service turns it into a bus error and a journal line. The texts of the
// commands' decisions are written here once, for every face (engine/Commands.h has the commands).

#include "platform/MessageBoxes.h"
#include "platform/NetManagement.h"

#include <string>

namespace vantor {

enum class ListKind { Black, White };
enum class ListTarget { User, Computer, Both };

struct Outcome {
    enum class Kind {
        Done,
        NoTarget,  // the session or file is not (or no longer) there
        Refused,  // the command cannot be given so: nothing was tried
        Failed,  // it was tried, and the service or the disk said no
    };
    Kind kind = Kind::Done;
    std::string caption;  // of the box that tells it
    std::string text;  // empty: there is nothing to tell
    BoxIcon icon = BoxIcon::None;

    bool ok() const { return kind == Kind::Done; }
    bool tells() const { return !text.empty(); }
    BoxRequest box(void* owner = nullptr) const { return {caption, text, icon, BoxButtons::Ok, owner}; }
    // Shows the box when there is something to tell; returns ok().
    bool showOn(MessageBoxes& boxes, void* owner = nullptr) const;

    static Outcome done(std::string caption = {}, std::string text = {}, BoxIcon icon = BoxIcon::Information);
    static Outcome noTarget(std::string text);
    static Outcome refused(std::string text);
    // A failure of the service, told as the system error box tells it.
    static Outcome failed(const NetStatus& status);
    static Outcome failed(std::string text, std::string caption = "Error", BoxIcon icon = BoxIcon::Error);
};

namespace commandText {
inline constexpr const char* selectUser = "Select a user!";
inline constexpr const char* selectFile = "Select a file!";
inline constexpr const char* serverNotConvertible = "The server name cannot be converted.";
// The text of a service's failure: its own, or its code.
std::string statusText(const NetStatus& status);
const char* listTitle(ListKind list);  // "Black", "White"
std::string addedToList(const std::string& user, const std::string& computer, ListKind list);
std::string listNameHasBlank(const std::string& user, const std::string& computer);
// What the bus answers for names no list file can hold.
std::string listNameRefused(const std::string& user, const std::string& computer);
std::string noUserToClose(const std::string& computer);
std::string notAServerName(const std::string& text);
std::string serverNotListed(const std::string& text);
std::string reportNotWritten(const std::string& where, const std::string& why);
}  // namespace commandText

}  // namespace vantor
