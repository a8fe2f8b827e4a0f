#pragma once
// Text inside the program is UTF-8. The list files, the history logs and the console protocol
// carry the system's own single-byte text, which readers and peers of the Windows program have
// always had in the ANSI code page; text is converted where it meets them. On Linux the system's
// text is UTF-8 and nothing changes.

#include <string>

namespace vantor {

#ifdef _WIN32
std::string toSystemText(std::string text);
std::string fromSystemText(std::string text);
#else
inline std::string toSystemText(std::string text)
{
    return text;
}
inline std::string fromSystemText(std::string text)
{
    return text;
}
#endif

}  // namespace vantor
