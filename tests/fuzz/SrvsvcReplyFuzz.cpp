// Fuzz target for the reader of the srvsvc helper's answers. Besides "no crash": an answer that
// reads is within bounds, one that does not says why and yields nothing.

#include "platform/samba/SrvsvcReply.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    auto r = vantor::samba::parseSrvsvcReply(input);
    if (!r.ok()) {
        if (r.error.empty() || !r.value.sessions.empty() || !r.value.files.empty())
            std::abort();
        return 0;
    }
    if (!r.value.ok && r.value.error.kind.empty())
        std::abort();
    for (const auto& s : r.value.sessions)
        if (s.user.size() > 255 || s.computer.size() > 255)
            std::abort();
    for (const auto& f : r.value.files)
        if (f.path.size() > 255)
            std::abort();
    return 0;
}
