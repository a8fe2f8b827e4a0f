#pragma once
// What the files of the Samba backend share: a tool run's outcome as a status a person can act on,
// the checks of a server's name, and where the srvsvc helper and its Python are.

#include "platform/NetManagement.h"
#include "platform/Process.h"

#include <chrono>
#include <optional>
#include <string>

namespace vantor::samba {

// Equal but for the case of ASCII letters.
bool sameName(const std::string& a, const std::string& b);
// The first line of a tool's text that is not blank, cut to 200 bytes.
std::string firstLine(const std::string& text);
// "10 seconds", "1 second", "250 ms".
std::string seconds(std::chrono::milliseconds d);
// The name the user typed, without the backslashes of a UNC name.
std::string bareServer(const std::string& server);
// Whether a server name may go into a DCE/RPC binding and onto the helper's command line.
bool usableServerName(const std::string& name);
NetStatus badServerName(const std::string& server);
// How Vantor logs on to a server's srvsvc service, for the texts of a refused logon.
std::string credentialsHelp(const std::optional<std::string>& file);
// What went wrong with one run of a tool, or success. `what` names the work for the texts
// ("Listing the Samba sessions").
NetStatus toolStatus(const ProcessResult& r, const std::string& tool, const std::string& what,
                     std::chrono::milliseconds limit, const std::optional<std::string>& config);
// vantor-srvsvc.py beside the program (or in its share folder), and Debian's python3.
std::string defaultSrvsvcHelper();
std::string defaultPython();

}  // namespace vantor::samba
