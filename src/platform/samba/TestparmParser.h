#pragma once
// The reader of `testparm -s`: Samba's configuration as Samba itself reads it (includes resolved,
// defaults left out), one "[section]" header and "name = value" lines. A free function, so that
// tests and the fuzzer call it directly; it never fails: what it cannot read, it leaves out.

#include "platform/NetManagement.h"

#include <string_view>
#include <vector>

namespace vantor::samba {

// The disk shares and their "path", in the configuration's order: no [global], no print share
// ("printable"/"print ok", or the [printers] section), no share without a path (a [homes] that
// takes each user's home). A share without its own path takes the one [global] sets for all. The
// %-substitutions stand as they are: they depend on who connects.
std::vector<NetShareInfo> parseTestparmShares(std::string_view text);

}  // namespace vantor::samba
