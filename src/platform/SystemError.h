#pragma once
#include <string>

namespace vantor {
// The operating system's own text for a system error code (strerror on POSIX, FormatMessage on
// Windows).
std::string systemErrorText(int code);
}  // namespace vantor
