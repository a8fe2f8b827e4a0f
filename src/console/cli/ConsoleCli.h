#pragma once
// vantor-console: a command-line console for Vantor's console agent, for administrators and for
// end-to-end tests. runConsole is the whole program, minus main.

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::console {

enum ExitCode : int {
    exitOk = 0,
    exitFailed = 1,  // the host did not answer, refused, or answered outside the protocol
    exitUsage = 2,
};

// `args` are the arguments after the program name.
int runConsole(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

std::string consoleUsage();

// Text from a peer as it may be printed on a terminal: control characters (C0, DEL, C1) and bytes
// that are not UTF-8 become "\x1b"-style escapes, so a peer can neither drive the terminal nor
// hide what it sent.
std::string printableText(std::string_view text);

}  // namespace vantor::console
