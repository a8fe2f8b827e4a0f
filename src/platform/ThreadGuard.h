#pragma once
// Where a thread of the program starts. An exception that escapes a thread's body would end the
// whole program through std::terminate, taking the window, the agent and the demo's clean-up with
// it; caught here, it is told once on standard error and only that thread's work ends.

#include <functional>
#include <ostream>
#include <string_view>

namespace vantor {

// Runs `body`. False when an exception escaped it: then "vantor: <what> failed: <message>" has
// been written to `log` (standard error by default), once for each distinct text however often
// the same failure comes back.
bool runGuarded(std::string_view what, const std::function<void()>& body) noexcept;
bool runGuarded(std::string_view what, const std::function<void()>& body, std::ostream& log) noexcept;

}  // namespace vantor
