// Fuzz target for the reader of `testparm -s` (the folders of the shares view). Besides "no
// crash": every share it gives has a name (no [global]) and a folder, each one line.
#include "platform/samba/TestparmParser.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& share : vantor::samba::parseTestparmShares(text)) {
        if (share.name.empty() || share.name.size() > 255 || share.path.empty()
            || share.name.find_first_of("\n]") != std::string::npos || share.path.find('\n') != std::string::npos
            || share.name == "global")
            std::abort();
    }
    return 0;
}
