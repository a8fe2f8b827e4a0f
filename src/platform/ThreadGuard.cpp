#include "platform/ThreadGuard.h"

#include <exception>
#include <iostream>
#include <mutex>
#include <set>
#include <string>

namespace vantor {

namespace {

// A thread that fails the same way on every pass must not fill the journal.
bool firstTime(const std::string& text)
{
    static std::mutex mutex;
    static std::set<std::string> seen;
    std::lock_guard lock(mutex);
    return seen.insert(text).second;
}

}  // namespace

bool runGuarded(std::string_view what, const std::function<void()>& body) noexcept
{
    return runGuarded(what, body, std::cerr);
}

bool runGuarded(std::string_view what, const std::function<void()>& body, std::ostream& log) noexcept
{
    std::string message;
    try {
        body();
        return true;
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
        message = "an unknown exception";
    }
    try {
        const std::string text = "vantor: " + std::string(what) + " failed: " + message + "\n";
        if (firstTime(text))
            log << text << std::flush;
    } catch (...) {
        // Out of memory while telling of it: the thread still ends quietly.
    }
    return false;
}

}  // namespace vantor
