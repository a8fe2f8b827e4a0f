#include "platform/SystemError.h"

#include <cstring>
#include <string>

namespace vantor {

#ifndef _WIN32
std::string systemErrorText(int code)
{
    char buf[256] = {};
    // GNU strerror_r may return a static string instead of filling buf.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    const char* text = strerror_r(code, buf, sizeof buf);
    return text ? std::string(text) : std::string("Unknown error ") + std::to_string(code);
#else
    if (strerror_r(code, buf, sizeof buf) != 0)
        return "Unknown error " + std::to_string(code);
    return buf;
#endif
}
#endif

}  // namespace vantor
