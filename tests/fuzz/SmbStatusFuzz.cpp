// Fuzz target for the readers of Samba's tool output. Besides "no crash", it checks what the
// backend relies on: a document that reads is complete and within bounds, one that does not says
// why and yields nothing.

#include "platform/samba/SambaNetManagement.h"
#include "platform/samba/SmbStatusParser.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    auto status = vantor::samba::parseSmbStatusJson(input);
    if (!status.ok()) {
        check(status.value.sessions.empty() && status.value.opens.empty());
    } else {
        for (const auto& s : status.value.sessions)
            check(s.pid > 0 && s.user.size() <= 255 && s.remoteMachine.size() <= 255);
        for (const auto& o : status.value.opens)
            check(o.pid > 0 && o.path.size() <= 255);
        const auto owners = vantor::samba::sessionOfOpens(status.value);
        check(owners.size() == status.value.opens.size());
        for (int owner : owners)
            check(owner >= -1 && owner < static_cast<int>(status.value.sessions.size()));

        vantor::samba::SmbStatusIndex index(status.value);
        std::size_t counted = 0, listed = 0;
        for (const auto& s : index.sessions())
            counted += s.openFiles;
        for (const auto& s : status.value.sessions)
            listed += index.filesOf(s.user).size();
        // Every attributed open is counted once; a user with several sessions lists them all.
        check(counted <= status.value.opens.size());
        check(listed >= counted || status.value.sessions.empty());
    }

    auto users = vantor::samba::parsePdbeditList(input);
    if (users.ok())
        for (const auto& u : users.value)
            check(!u.empty() && u.size() <= 255 && u.find(':') == std::string::npos);
    else
        check(users.value.empty() && !users.error.empty());
    return 0;
}
