// Fuzz target for the black and white list files: anyone who can write to the data folder writes
// them. Besides "no crash": every entry is two non-empty upper-cased words within the bounds.
#include "base/AccessList.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkName(const std::string& name)
{
    check(!name.empty() && name.size() <= 255);
    for (char c : name)
        check(c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f' && !(c >= 'a' && c <= 'z'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream in(text);
    for (const auto& entry : vantor::readAccessList(in)) {
        checkName(entry.user);
        checkName(entry.computer);
    }
    if (const auto entry = vantor::parseAccessLine(text)) {
        checkName(entry->user);
        checkName(entry->computer);
    }
    return 0;
}
