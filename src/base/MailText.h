#pragma once
// Mail texts that the monitor writes (the new-user notification) and the SMTP client sends: kept
// here, below both, so the monitor need not reach into the networking room.

#include <string>
#include <string_view>

namespace vantor {

// Replaces CR, LF and every other control character with '?', so that a text from the network
// (a user or computer name) stays on its own line and cannot add header lines or SMTP commands.
std::string cleanMailText(std::string_view text);

}  // namespace vantor
