#include "base/MailText.h"

namespace vantor {

std::string cleanMailText(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = '?';
    }
    return out;
}

}  // namespace vantor
