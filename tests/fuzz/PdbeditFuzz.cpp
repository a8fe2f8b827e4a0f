// Fuzz target for the reader of `pdbedit -L` (the Samba account listing of the Add-user dialog).
// Besides "no crash": an account name is one non-empty line field without the separator.
#include "platform/samba/SmbStatusParser.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto r = vantor::samba::parsePdbeditList(text);
    if (!r.ok()) {
        if (!r.value.empty())
            std::abort();
        return 0;
    }
    for (const auto& name : r.value)
        if (name.empty() || name.size() > 255 || name.find_first_of(":\n") != std::string::npos)
            std::abort();
    return 0;
}
